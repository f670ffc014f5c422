// The module suites test the add-in module a host would load: $QELALTF_ADDIN, else the build's.
#include "addin_module.h"
#include "addin_test.h"

GetAddinInterfaceFunction FindTestedAddin(std::string* error) {
    // Kept loaded for the life of the program, as a host keeps its add-ins.
    static addin_module::Module* module = new addin_module::Module(addin_module::DefaultPath());
    if (!module->ok()) {
        *error = module->error();
        return nullptr;
    }
    return module->entry();
}
