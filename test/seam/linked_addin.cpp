// The seam suites test the add-in's own objects, linked into the program with the platform seam.
#include "addin_test.h"

GetAddinInterfaceFunction FindTestedAddin(std::string* /*error*/) { return &GetAddinInterface; }
