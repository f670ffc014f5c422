// What qelhost needs of the platform, in one place: loading a module, reading a document with the
// platform's own file API, writing the text out, a private temporary folder, and the ANSI code
// page's lead bytes. Everything else in the tool is the same on every platform.
#ifndef QELHOST_HOST_PLATFORM_H
#define QELHOST_HOST_PLATFORM_H

#include <stddef.h>
#include <stdint.h>

#include <cstdio>
#include <string>
#include <vector>

#include "addin_interface.h"

namespace qelhost {

// The add-in module's file name on this platform, and where qelhost looks for it by default.
extern const char* const kAddinFileName;
std::string ProgramDirectory();

// An add-in module loaded as a host loads one (LoadLibraryA or dlopen), with its table filled by
// GetAddinInterface.
class AddinModule {
public:
    AddinModule() = default;
    AddinModule(const AddinModule&) = delete;
    AddinModule& operator=(const AddinModule&) = delete;
    ~AddinModule();

    // False with a one-line reason, saying what to do where that helps.
    bool Load(const std::string& path, std::string* error);
    const AddinInterface& table() const { return table_; }

private:
    void* handle_ = nullptr;
    AddinInterface table_ = {};
};

// A document file opened for reading; the file is closed with the object.
class InputFile {
public:
    InputFile() = default;
    InputFile(const InputFile&) = delete;
    InputFile& operator=(const InputFile&) = delete;
    ~InputFile();

    // False with a one-line reason: no such file, a directory, no permission, ...
    bool Open(const std::string& path, std::string* error);
    // Reads up to `capacity` bytes; `*count` is 0 at the end of the file.
    bool Read(void* buffer, size_t capacity, size_t* count, std::string* error);
    int64_t size() const { return size_; }

private:
#if defined(_WIN32)
    void* handle_ = reinterpret_cast<void*>(static_cast<intptr_t>(-1));
#else
    int fd_ = -1;
#endif
    int64_t size_ = 0;
};

// Where the text goes: standard output (binary on Windows), or a file that appears under its own
// name only when Commit succeeds, so that a failed extraction never leaves a partial file.
class TextOutput {
public:
    TextOutput() = default;
    TextOutput(const TextOutput&) = delete;
    TextOutput& operator=(const TextOutput&) = delete;
    ~TextOutput();

    bool OpenStandardOutput(std::string* error);
    bool OpenFile(const std::string& path, std::string* error);
    bool Write(const void* bytes, size_t count, std::string* error);
    bool Commit(std::string* error);

private:
    void Discard();

    std::FILE* stream_ = nullptr;
    bool toFile_ = false;
    std::string path_;
    std::string partPath_;
};

// A fresh folder made the process's temporary directory (TMP on Windows, TMPDIR elsewhere) for as
// long as it lives; removed with everything in it, and the previous setting put back.
class PrivateTempFolder {
public:
    PrivateTempFolder() = default;
    PrivateTempFolder(const PrivateTempFolder&) = delete;
    PrivateTempFolder& operator=(const PrivateTempFolder&) = delete;
    ~PrivateTempFolder();

    bool Create(std::string* error);
    const std::string& path() const { return path_; }
    std::vector<std::string> Files() const;

private:
    std::string path_;
    bool hadPrevious_ = false;
    std::string previous_;
};

// The ANSI code page as the add-in sees it, when that can be known here.
struct CodePage {
    bool known = false;       // false natively: the POSIX layer's choice is the add-in's own
    unsigned number = 0;
    bool doubleByte = false;  // whether the code page has lead bytes at all
};
CodePage AnsiCodePage();
bool IsLeadByte(unsigned char byte);

// Milliseconds from a steady clock.
double NowMilliseconds();

}  // namespace qelhost

#endif
