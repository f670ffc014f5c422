#include "addin_module.h"

#include "extract/qeltext.h"

#include <cstdlib>

#if defined(_WIN32)
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#else
#include <dlfcn.h>
#include <unistd.h>
#endif

namespace addin_module {
namespace {

#if defined(_WIN32)
constexpr const char* kAddinFile = "QELALTF.dll";
#else
constexpr const char* kAddinFile = "libQELALTF.so";
#endif

std::string ProgramDirectory() {
#if defined(_WIN32)
    char path[MAX_PATH];
    DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string program(path, length);
    return program.substr(0, program.find_last_of("\\/") + 1);
#else
    char path[4096];
    ssize_t length = readlink("/proc/self/exe", path, sizeof path);
    std::string program(path, length > 0 ? static_cast<size_t>(length) : 0);
    return program.substr(0, program.find_last_of('/') + 1);
#endif
}

typedef void(QELTEXT_CALL* ReadJournalFunction)(QelStandInJournal*);
typedef void(QELTEXT_CALL* ResetJournalFunction)(void);

void* ConversionLibrarySymbol(const char* name) {
#if defined(_WIN32)
    HMODULE library = GetModuleHandleA("QELTEXT.dll");
    return library != nullptr ? reinterpret_cast<void*>(GetProcAddress(library, name)) : nullptr;
#else
    void* library = dlopen("libQELTEXT.so", RTLD_NOW | RTLD_NOLOAD);
    if (library == nullptr) return nullptr;
    void* symbol = dlsym(library, name);
    dlclose(library);
    return symbol;
#endif
}

}  // namespace

std::string DefaultPath() {
    const char* chosen = std::getenv("QELALTF_ADDIN");
    if (chosen != nullptr && *chosen != '\0') return chosen;
    return ProgramDirectory() + kAddinFile;
}

Module::Module(const std::string& path) : path_(path) {
#if defined(_WIN32)
    HMODULE module = LoadLibraryA(path.c_str());
    if (module == nullptr) {
        error_ = "LoadLibraryA(" + path + ") failed with error " + std::to_string(GetLastError());
        return;
    }
    handle_ = module;
    entry_ = reinterpret_cast<GetAddinInterfaceFunction>(
        reinterpret_cast<void*>(GetProcAddress(module, ADDIN_EXPORT_NAME)));
#else
    handle_ = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle_ == nullptr) {
        const char* why = dlerror();
        error_ = "dlopen(" + path + ") failed: " + (why != nullptr ? why : "unknown error");
        return;
    }
    entry_ = reinterpret_cast<GetAddinInterfaceFunction>(dlsym(handle_, ADDIN_EXPORT_NAME));
#endif
    if (entry_ == nullptr) {
        error_ = path + " does not export " ADDIN_EXPORT_NAME;
        return;
    }
    table_ = entry_(&storage_);
    if (table_ != &storage_) {
        error_ = ADDIN_EXPORT_NAME " did not return the table it was given";
        table_ = nullptr;
    }
}

Module::~Module() {
    if (handle_ == nullptr) return;
#if defined(_WIN32)
    FreeLibrary(static_cast<HMODULE>(handle_));
#else
    dlclose(handle_);
#endif
}

bool ReadJournal(QelStandInJournal* journal) {
    auto read = reinterpret_cast<ReadJournalFunction>(ConversionLibrarySymbol("QelStandInReadJournal"));
    if (read == nullptr) return false;
    read(journal);
    return true;
}

void ResetJournal() {
    auto reset = reinterpret_cast<ResetJournalFunction>(ConversionLibrarySymbol("QelStandInResetJournal"));
    if (reset != nullptr) reset();
}

}  // namespace addin_module
