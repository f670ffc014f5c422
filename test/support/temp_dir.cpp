#include "temp_dir.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <system_error>

#if defined(_WIN32)
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace fs = std::filesystem;

namespace temp_dir {
namespace {

#if defined(_WIN32)
constexpr const char* kTempVariable = "TMP";
int ProcessId() { return static_cast<int>(GetCurrentProcessId()); }
#else
constexpr const char* kTempVariable = "TMPDIR";
int ProcessId() { return static_cast<int>(getpid()); }
#endif

// Where test directories are made: the platform's temporary directory as the process found it.
const fs::path& Root() {
    static const fs::path root = fs::temp_directory_path();
    return root;
}

}  // namespace

void SetTempVariable(const std::string& value, bool unset) {
#if defined(_WIN32)
    SetEnvironmentVariableA(kTempVariable, unset ? nullptr : value.c_str());
#else
    if (unset) {
        unsetenv(kTempVariable);
    } else {
        setenv(kTempVariable, value.c_str(), 1);
    }
#endif
}

bool GetTempVariable(std::string* value) {
#if defined(_WIN32)
    char buffer[32768];
    DWORD length = GetEnvironmentVariableA(kTempVariable, buffer, sizeof buffer);
    if (length == 0 || length >= sizeof buffer) return false;
    *value = std::string(buffer, length);
    return true;
#else
    const char* current = std::getenv(kTempVariable);
    if (current == nullptr) return false;
    *value = current;
    return true;
#endif
}

ScopedTempDir::ScopedTempDir() {
    static std::atomic<int> counter{0};
    const fs::path root = Root();
    for (;;) {
        fs::path candidate = root / ("qelaltf-test-" + std::to_string(ProcessId()) + "-" + std::to_string(++counter));
        std::error_code error;
        if (fs::create_directory(candidate, error)) {
            path_ = candidate.string();
            break;
        }
        if (error) std::abort();  // no place for test files: nothing below can be trusted
    }
    hadPrevious_ = GetTempVariable(&previous_);
    SetTempVariable(path_);
}

ScopedTempDir::~ScopedTempDir() {
    SetTempVariable(previous_, !hadPrevious_);
    std::error_code ignored;
    fs::remove_all(path_, ignored);
}

void ScopedTempDir::PointAt(const std::string& path) { SetTempVariable(path); }

std::vector<std::string> ScopedTempDir::Files() const { return FilesStartingWith(""); }

std::vector<std::string> ScopedTempDir::FilesStartingWith(const std::string& prefix) const {
    std::vector<std::string> names;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(path_, error)) {
        std::string name = entry.path().filename().string();
        if (name.compare(0, prefix.size(), prefix) == 0) names.push_back(name);
    }
    std::sort(names.begin(), names.end());
    return names;
}

std::string ScopedTempDir::WriteFile(const std::string& name, const std::string& bytes) const {
    const std::string path = (fs::path(path_) / name).string();
    std::ofstream out(path, std::ios::binary);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return path;
}

}  // namespace temp_dir
