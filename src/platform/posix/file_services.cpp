// The Win32 file services the add-in uses, on POSIX. Handles are file descriptors plus one, so a
// handle is never 0 and never INVALID_HANDLE_VALUE.
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include "platform/posix/win32_services.h"

namespace {

constexpr UINT kUniqueNumbers = 0xFFFF;

HANDLE HandleOf(int fd) { return reinterpret_cast<HANDLE>(static_cast<intptr_t>(fd) + 1); }

int DescriptorOf(HANDLE handle) {
    if (handle == nullptr || handle == INVALID_HANDLE_VALUE) return -1;
    return static_cast<int>(reinterpret_cast<intptr_t>(handle) - 1);
}

// Builds "<directory>/<up to three characters of prefix><XXXX>.tmp" into `path`; false when it
// would not fit in MAX_PATH.
bool BuildTempFileName(LPCSTR directory, LPCSTR prefix, UINT number, LPSTR path) {
    const size_t directoryLength = strlen(directory);
    if (directoryLength > MAX_PATH - 14) return false;
    const bool hasSeparator = directoryLength > 0 && directory[directoryLength - 1] == '/';
    char shortPrefix[4] = {};
    strncpy(shortPrefix, prefix, 3);
    const int written = snprintf(path, MAX_PATH, "%s%s%s%04X.tmp", directory,
                                 hasSeparator ? "" : "/", shortPrefix, number & 0xFFFFu);
    return written > 0 && static_cast<size_t>(written) < MAX_PATH;
}

UINT StartingNumber() {
    timespec now = {};
    clock_gettime(CLOCK_REALTIME, &now);
    const unsigned long mixed = static_cast<unsigned long>(now.tv_nsec) ^
                                (static_cast<unsigned long>(now.tv_sec) << 7) ^
                                static_cast<unsigned long>(getpid());
    return static_cast<UINT>(mixed % kUniqueNumbers) + 1;  // 1 to 0xFFFF
}

}  // namespace

DWORD GetTempPathA(DWORD size, LPSTR buffer) {
    const char* directory = getenv("TMPDIR");
    if (directory == nullptr || *directory == '\0') directory = "/tmp";
    const size_t length = strlen(directory);
    const bool hasSeparator = directory[length - 1] == '/';
    const size_t pathLength = length + (hasSeparator ? 0 : 1);
    if (pathLength + 1 > size || buffer == nullptr) return static_cast<DWORD>(pathLength + 1);
    memcpy(buffer, directory, length);
    if (!hasSeparator) buffer[length] = '/';
    buffer[pathLength] = '\0';
    return static_cast<DWORD>(pathLength);
}

UINT GetTempFileNameA(LPCSTR directory, LPCSTR prefix, UINT unique, LPSTR path) {
    if (directory == nullptr || prefix == nullptr || path == nullptr) return 0;
    if (unique != 0) return BuildTempFileName(directory, prefix, unique, path) ? unique : 0;

    UINT number = StartingNumber();
    for (UINT tries = 0; tries < kUniqueNumbers; ++tries) {
        if (!BuildTempFileName(directory, prefix, number, path)) return 0;
        const int fd = open(path, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd >= 0) {
            close(fd);
            return number;
        }
        if (errno != EEXIST) break;
        number = number % kUniqueNumbers + 1;
    }
    path[0] = '\0';
    return 0;
}

HANDLE CreateFileA(LPCSTR path, DWORD access, DWORD shareMode, LPSECURITY_ATTRIBUTES security,
                   DWORD disposition, DWORD flags, HANDLE templateFile) {
    const bool supported = path != nullptr && (access == GENERIC_READ || access == GENERIC_WRITE) &&
                           shareMode == 0 && security == nullptr && disposition == OPEN_EXISTING &&
                           (flags == 0 || flags == FILE_ATTRIBUTE_NORMAL) && templateFile == nullptr;
    if (!supported) {
        errno = EINVAL;
        return INVALID_HANDLE_VALUE;
    }
    const int fd = open(path, (access == GENERIC_READ ? O_RDONLY : O_WRONLY) | O_CLOEXEC);
    if (fd < 0) return INVALID_HANDLE_VALUE;
    struct stat status = {};
    // No sharing: a second open of the file through this layer fails while the first holds it.
    if (fstat(fd, &status) != 0 || !S_ISREG(status.st_mode) || flock(fd, LOCK_EX | LOCK_NB) != 0) {
        close(fd);
        return INVALID_HANDLE_VALUE;
    }
    return HandleOf(fd);
}

BOOL WriteFile(HANDLE file, LPCVOID buffer, DWORD count, LPDWORD written, LPOVERLAPPED overlapped) {
    if (written != nullptr) *written = 0;
    const int fd = DescriptorOf(file);
    if (fd < 0 || overlapped != nullptr || (buffer == nullptr && count > 0)) return FALSE;
    const char* bytes = static_cast<const char*>(buffer);
    DWORD done = 0;
    while (done < count) {
        const ssize_t n = write(fd, bytes + done, count - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        done += static_cast<DWORD>(n);
    }
    if (written != nullptr) *written = done;
    return done == count ? TRUE : FALSE;
}

// Like a synchronous read of a Windows file: fewer bytes than asked only at the end of the file.
BOOL ReadFile(HANDLE file, LPVOID buffer, DWORD count, LPDWORD read, LPOVERLAPPED overlapped) {
    if (read != nullptr) *read = 0;
    const int fd = DescriptorOf(file);
    if (fd < 0 || overlapped != nullptr || (buffer == nullptr && count > 0)) return FALSE;
    char* bytes = static_cast<char*>(buffer);
    DWORD done = 0;
    while (done < count) {
        const ssize_t n = ::read(fd, bytes + done, count - done);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return FALSE;
        if (n == 0) break;
        done += static_cast<DWORD>(n);
    }
    if (read != nullptr) *read = done;
    return TRUE;
}

BOOL CloseHandle(HANDLE handle) {
    const int fd = DescriptorOf(handle);
    if (fd < 0) return FALSE;
    // The descriptor is gone even when close reports an error, so it is never retried.
    return close(fd) == 0 ? TRUE : FALSE;
}

BOOL DeleteFileA(LPCSTR path) {
    if (path == nullptr) return FALSE;
    return unlink(path) == 0 ? TRUE : FALSE;
}

DWORD GetFileAttributesA(LPCSTR path) {
    struct stat status = {};
    if (path == nullptr || stat(path, &status) != 0) return INVALID_FILE_ATTRIBUTES;
    if (S_ISDIR(status.st_mode)) return FILE_ATTRIBUTE_DIRECTORY;
    return (status.st_mode & S_IWUSR) ? FILE_ATTRIBUTE_NORMAL : FILE_ATTRIBUTE_READONLY;
}
