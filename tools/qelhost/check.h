// The conformance check of an add-in build: one document down the whole road, with every block of
// host memory and every temporary file accounted for.
#ifndef QELHOST_CHECK_H
#define QELHOST_CHECK_H

#include <string>

namespace qelhost {

// Prints the report on standard output; returns the exit status: 0 for a balanced run in which the
// add-in kept its contract, 1 for any imbalance or broken rule, 2 when the check could not run.
int RunCheck(const std::string& documentPath, const std::string& addinPath);

}  // namespace qelhost

#endif
