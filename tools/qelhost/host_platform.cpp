#include "host_platform.h"

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <system_error>

#if defined(_WIN32)
#define WIN32_LEAN_AND_MEAN
#include <fcntl.h>
#include <io.h>
#include <windows.h>
#else
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace fs = std::filesystem;

namespace qelhost {
namespace {

#if defined(_WIN32)
constexpr const char* kTempVariable = "TMP";

std::string SystemMessage(DWORD code) {
    char text[512];
    DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                                  code, 0, text, sizeof text, nullptr);
    while (length > 0 && (text[length - 1] == '\r' || text[length - 1] == '\n' || text[length - 1] == '.')) {
        --length;
    }
    if (length == 0) return "error " + std::to_string(code);
    return std::string(text, length) + " (error " + std::to_string(code) + ")";
}

// A path for LoadLibraryA that names exactly the file given, never one found on the search path.
std::string FullPath(const std::string& path) {
    char full[MAX_PATH];
    DWORD length = GetFullPathNameA(path.c_str(), MAX_PATH, full, nullptr);
    if (length == 0 || length >= MAX_PATH) return path;
    return std::string(full, length);
}

void SetTempVariable(const std::string& value, bool unset) {
    SetEnvironmentVariableA(kTempVariable, unset ? nullptr : value.c_str());
}

bool GetTempVariable(std::string* value) {
    char buffer[32768];
    DWORD length = GetEnvironmentVariableA(kTempVariable, buffer, sizeof buffer);
    if (length == 0 || length >= sizeof buffer) return false;
    *value = std::string(buffer, length);
    return true;
}

int ProcessId() { return static_cast<int>(GetCurrentProcessId()); }
#else
constexpr const char* kTempVariable = "TMPDIR";

std::string SystemMessage(int code) { return std::strerror(code); }

void SetTempVariable(const std::string& value, bool unset) {
    if (unset) {
        unsetenv(kTempVariable);
    } else {
        setenv(kTempVariable, value.c_str(), 1);
    }
}

bool GetTempVariable(std::string* value) {
    const char* current = std::getenv(kTempVariable);
    if (current == nullptr) return false;
    *value = current;
    return true;
}

int ProcessId() { return static_cast<int>(getpid()); }
#endif

}  // namespace

#if defined(_WIN32)
const char* const kAddinFileName = "QELALTF.dll";

std::string ProgramDirectory() {
    char path[MAX_PATH];
    DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string program(path, length < MAX_PATH ? length : 0);
    return program.substr(0, program.find_last_of("\\/") + 1);
}
#else
const char* const kAddinFileName = "libQELALTF.so";

std::string ProgramDirectory() {
    char path[4096];
    ssize_t length = readlink("/proc/self/exe", path, sizeof path);
    std::string program(path, length > 0 ? static_cast<size_t>(length) : 0);
    return program.substr(0, program.find_last_of('/') + 1);
}
#endif

// ---- the add-in module ----

AddinModule::~AddinModule() {
    if (handle_ == nullptr) return;
#if defined(_WIN32)
    FreeLibrary(static_cast<HMODULE>(handle_));
#else
    dlclose(handle_);
#endif
}

bool AddinModule::Load(const std::string& path, std::string* error) {
    std::error_code ignored;
    const fs::file_status status = fs::status(path, ignored);
    if (!fs::exists(status)) {
        *error = "there is no add-in at " + path +
                 ": build it with 'make dll' (or 'make test'), or name one with --addin PATH";
        return false;
    }
    if (fs::is_directory(status)) {
        *error = path + " is a directory; --addin names the add-in module itself (" + kAddinFileName + ")";
        return false;
    }

    void* entry = nullptr;
#if defined(_WIN32)
    // A module that cannot be loaded is reported here, not in a dialog box.
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
    HMODULE module = LoadLibraryA(FullPath(path).c_str());
    if (module == nullptr) {
        const DWORD code = GetLastError();
        *error = "cannot load the add-in " + path + ": ";
        if (code == ERROR_MOD_NOT_FOUND) {
            *error += "a DLL it imports was not found; QELTEXT.dll must be beside qelhost.exe or on PATH";
        } else if (code == ERROR_BAD_EXE_FORMAT) {
            *error += "it is not a 32-bit Windows DLL";
        } else {
            *error += SystemMessage(code);
        }
        return false;
    }
    handle_ = module;
    entry = reinterpret_cast<void*>(GetProcAddress(module, ADDIN_EXPORT_NAME));
#else
    // dlopen searches the library path for a bare name; a host names the file itself.
    const std::string file = path.find('/') == std::string::npos ? "./" + path : path;
    handle_ = dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle_ == nullptr) {
        const char* why = dlerror();
        *error = "cannot load the add-in " + path + ": " + (why != nullptr ? why : "unknown error");
        return false;
    }
    entry = dlsym(handle_, ADDIN_EXPORT_NAME);
#endif
    if (entry == nullptr) {
        *error = path + " is not a QEL add-in: it does not export " ADDIN_EXPORT_NAME;
        return false;
    }
    const auto getInterface = reinterpret_cast<GetAddinInterfaceFunction>(entry);
    AddinInterface* filled = getInterface(&table_);
    const bool complete = table_.CreateInstance != nullptr && table_.Recognize != nullptr &&
                          table_.OpenDocument != nullptr && table_.CloseDocument != nullptr &&
                          table_.ReadText != nullptr && table_.DestroyInstance != nullptr &&
                          table_.Noop != nullptr;
    if (filled != &table_ || !complete) {
        *error = path + " is not a working QEL add-in: " ADDIN_EXPORT_NAME
                        " did not fill and return the table of seven entries";
        return false;
    }
    return true;
}

// ---- the document file ----

#if defined(_WIN32)
InputFile::~InputFile() {
    if (handle_ != INVALID_HANDLE_VALUE) CloseHandle(handle_);
}

bool InputFile::Open(const std::string& path, std::string* error) {
    const DWORD attributes = GetFileAttributesA(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        const DWORD code = GetLastError();
        if (code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND) {
            *error = "no such file: " + path;
        } else {
            *error = "cannot open " + path + ": " + SystemMessage(code);
        }
        return false;
    }
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
        *error = path + " is a directory; name a document file";
        return false;
    }
    handle_ = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                          FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (handle_ == INVALID_HANDLE_VALUE) {
        *error = "cannot open " + path + ": " + SystemMessage(GetLastError());
        return false;
    }
    LARGE_INTEGER size;
    size_ = GetFileSizeEx(handle_, &size) ? size.QuadPart : 0;
    return true;
}

bool InputFile::Read(void* buffer, size_t capacity, size_t* count, std::string* error) {
    DWORD got = 0;
    if (!ReadFile(handle_, buffer, static_cast<DWORD>(capacity), &got, nullptr)) {
        *error = SystemMessage(GetLastError());
        *count = 0;
        return false;
    }
    *count = got;
    return true;
}
#else
InputFile::~InputFile() {
    if (fd_ >= 0) close(fd_);
}

bool InputFile::Open(const std::string& path, std::string* error) {
    fd_ = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd_ < 0) {
        *error = errno == ENOENT ? "no such file: " + path : "cannot open " + path + ": " + SystemMessage(errno);
        return false;
    }
    struct stat status = {};
    if (fstat(fd_, &status) != 0) {
        *error = "cannot open " + path + ": " + SystemMessage(errno);
        return false;
    }
    if (S_ISDIR(status.st_mode)) {
        *error = path + " is a directory; name a document file";
        return false;
    }
    size_ = static_cast<int64_t>(status.st_size);
    return true;
}

bool InputFile::Read(void* buffer, size_t capacity, size_t* count, std::string* error) {
    for (;;) {
        const ssize_t got = read(fd_, buffer, capacity);
        if (got >= 0) {
            *count = static_cast<size_t>(got);
            return true;
        }
        if (errno == EINTR) continue;
        *error = SystemMessage(errno);
        *count = 0;
        return false;
    }
}
#endif

// ---- the text output ----

TextOutput::~TextOutput() { Discard(); }

void TextOutput::Discard() {
    if (!toFile_) return;
    if (stream_ != nullptr) std::fclose(stream_);
    stream_ = nullptr;
    std::remove(partPath_.c_str());
    toFile_ = false;
}

bool TextOutput::OpenStandardOutput(std::string* /*error*/) {
#if defined(_WIN32)
    // Text goes out byte for byte: no line ends added.
    _setmode(_fileno(stdout), _O_BINARY);
#endif
    stream_ = stdout;
    return true;
}

bool TextOutput::OpenFile(const std::string& path, std::string* error) {
    std::error_code ignored;
    if (fs::is_directory(path, ignored)) {
        *error = "cannot write to " + path + ": it is a directory; -o names the text file";
        return false;
    }
    path_ = path;
    partPath_ = path + ".part-" + std::to_string(ProcessId());
    stream_ = std::fopen(partPath_.c_str(), "wb");
    if (stream_ == nullptr) {
        *error = "cannot write to " + path + ": " + std::strerror(errno);
        return false;
    }
    toFile_ = true;
    return true;
}

bool TextOutput::Write(const void* bytes, size_t count, std::string* error) {
    if (std::fwrite(bytes, 1, count, stream_) == count) return true;
    *error = std::string("cannot write the text to ") + (toFile_ ? path_ : "standard output") + ": " +
             std::strerror(errno);
    return false;
}

bool TextOutput::Commit(std::string* error) {
    const std::string target = toFile_ ? path_ : "standard output";
    if (!toFile_) {
        if (std::fflush(stream_) == 0) return true;
        *error = "cannot write the text to standard output: " + std::string(std::strerror(errno));
        return false;
    }
    const bool closed = std::fclose(stream_) == 0;
    stream_ = nullptr;
    if (!closed) {
        *error = "cannot write the text to " + path_ + ": " + std::strerror(errno);
        Discard();
        return false;
    }
    std::error_code renameError;
    fs::rename(partPath_, path_, renameError);
    if (renameError) {
        *error = "cannot write the text to " + path_ + ": " + renameError.message();
        Discard();
        return false;
    }
    toFile_ = false;
    return true;
}

// ---- the private temporary folder ----

PrivateTempFolder::~PrivateTempFolder() {
    if (path_.empty()) return;
    SetTempVariable(previous_, !hadPrevious_);
    std::error_code ignored;
    fs::remove_all(path_, ignored);
}

bool PrivateTempFolder::Create(std::string* error) {
    std::error_code failure;
    const fs::path root = fs::temp_directory_path(failure);
    if (failure) {
        *error = "no temporary directory to make a private folder in: " + failure.message();
        return false;
    }
    for (int attempt = 1; attempt < 1000; ++attempt) {
        fs::path candidate = root / ("qelhost-check-" + std::to_string(ProcessId()) + "-" + std::to_string(attempt));
        if (fs::create_directory(candidate, failure)) {
            path_ = candidate.string();
            hadPrevious_ = GetTempVariable(&previous_);
            SetTempVariable(path_, false);
            return true;
        }
        if (failure) break;
    }
    *error = "cannot make a private temporary folder in " + root.string() +
             (failure ? ": " + failure.message() : std::string());
    return false;
}

std::vector<std::string> PrivateTempFolder::Files() const {
    std::vector<std::string> names;
    std::error_code ignored;
    for (const auto& entry : fs::directory_iterator(path_, ignored)) {
        names.push_back(entry.path().filename().string());
    }
    return names;
}

// ---- the ANSI code page ----

#if defined(_WIN32)
CodePage AnsiCodePage() {
    CodePage page;
    page.known = true;
    page.number = GetACP();
    CPINFO info = {};
    page.doubleByte = GetCPInfo(CP_ACP, &info) && info.MaxCharSize == 2;
    return page;
}

bool IsLeadByte(unsigned char byte) { return IsDBCSLeadByte(byte) != 0; }
#else
CodePage AnsiCodePage() { return CodePage{}; }

bool IsLeadByte(unsigned char /*byte*/) { return false; }
#endif

double NowMilliseconds() {
    using namespace std::chrono;
    return duration<double, std::milli>(steady_clock::now().time_since_epoch()).count();
}

}  // namespace qelhost
