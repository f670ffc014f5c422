// Loads an add-in module the way a host does (LoadLibraryA or dlopen, then GetAddinInterface),
// and reaches the stand-in conversion library's journal when that library is the one loaded.
#ifndef QELALTF_TEST_ADDIN_MODULE_H
#define QELALTF_TEST_ADDIN_MODULE_H

#include <string>

#include "addin_interface.h"
#include "qel_document.h"

namespace addin_module {

// The module to load: $QELALTF_ADDIN when set, else the add-in built beside this program.
std::string DefaultPath();

class Module {
public:
    // Loads `path`; ok() tells whether the module loaded and filled the table.
    explicit Module(const std::string& path);
    Module(const Module&) = delete;
    Module& operator=(const Module&) = delete;
    ~Module();

    bool ok() const { return table_ != nullptr; }
    const std::string& error() const { return error_; }
    const std::string& path() const { return path_; }
    const AddinInterface& table() const { return *table_; }
    GetAddinInterfaceFunction entry() const { return entry_; }

private:
    std::string path_;
    std::string error_;
    void* handle_ = nullptr;
    GetAddinInterfaceFunction entry_ = nullptr;
    AddinInterface storage_ = {};
    AddinInterface* table_ = nullptr;
};

// What the loaded conversion library saw, when it is the stand-in; false otherwise (the maker's
// library keeps no journal).
bool ReadJournal(QelStandInJournal* journal);
void ResetJournal();

}  // namespace addin_module

#endif
