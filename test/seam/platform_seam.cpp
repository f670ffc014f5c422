#include "platform_seam.h"

#include <mutex>
#include <unistd.h>

#include "platform/posix/code_page.h"
#include "platform/posix/win32_services.h"

extern "C" {
DWORD __real_GetTempPathA(DWORD, LPSTR);
UINT __real_GetTempFileNameA(LPCSTR, LPCSTR, UINT, LPSTR);
HANDLE __real_CreateFileA(LPCSTR, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD, DWORD, HANDLE);
BOOL __real_WriteFile(HANDLE, LPCVOID, DWORD, LPDWORD, LPOVERLAPPED);
BOOL __real_ReadFile(HANDLE, LPVOID, DWORD, LPDWORD, LPOVERLAPPED);
BOOL __real_CloseHandle(HANDLE);
BOOL __real_DeleteFileA(LPCSTR);
DWORD __real_GetFileAttributesA(LPCSTR);
BOOL __real_IsDBCSLeadByte(BYTE);
}

namespace platform_seam {
namespace {

struct Pending {
    int countdown = 0;  // fails when it reaches 0 from 1
    bool always = false;
    Failure how = Failure::kFail;
};

struct State {
    std::mutex mutex;
    std::array<int, kServiceCount> calls{};
    int total = 0;
    int failed = 0;
    Pending any;
    std::array<Pending, kServiceCount> perService{};
    std::vector<Call> log;
    bool haveLeadBytes = false;
    std::array<bool, 256> leadBytes{};
};

State& TheState() {
    static State state;
    return state;
}

bool Expires(Pending& pending) {
    if (pending.always) return true;
    return pending.countdown > 0 && --pending.countdown == 0;
}

// Counts a call and tells whether it is to fail, and how.
bool Enter(Service service, const char* path, Failure* how) {
    State& s = TheState();
    std::lock_guard<std::mutex> lock(s.mutex);
    const int index = static_cast<int>(service);
    ++s.calls[index];
    ++s.total;
    bool fail = false;
    if (Expires(s.any)) {
        fail = true;
        *how = s.any.how;
    }
    if (Expires(s.perService[index])) {
        fail = true;
        *how = s.perService[index].how;
    }
    if (fail) ++s.failed;
    s.log.push_back(Call{service, path != nullptr ? path : "", fail});
    return fail;
}

}  // namespace

const char* NameOf(Service service) {
    static const char* const kNames[kServiceCount] = {
        "GetTempPathA", "GetTempFileNameA", "CreateFileA",        "WriteFile",      "ReadFile",
        "CloseHandle",  "DeleteFileA",      "GetFileAttributesA", "IsDBCSLeadByte",
    };
    return kNames[static_cast<int>(service)];
}

void Reset() {
    State& s = TheState();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.calls.fill(0);
    s.total = 0;
    s.failed = 0;
    s.any = Pending{};
    s.perService.fill(Pending{});
    s.log.clear();
    s.haveLeadBytes = false;
}

void FailCall(int n, Failure how) {
    State& s = TheState();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.any = Pending{n, false, how};
}

void FailNth(Service service, int n, Failure how) {
    State& s = TheState();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.perService[static_cast<int>(service)] = Pending{n, false, how};
}

void FailAll(Service service, Failure how) {
    State& s = TheState();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.perService[static_cast<int>(service)] = Pending{0, true, how};
}

int Calls(Service service) {
    State& s = TheState();
    std::lock_guard<std::mutex> lock(s.mutex);
    return s.calls[static_cast<int>(service)];
}

int TotalCalls() {
    State& s = TheState();
    std::lock_guard<std::mutex> lock(s.mutex);
    return s.total;
}

int FailedCalls() {
    State& s = TheState();
    std::lock_guard<std::mutex> lock(s.mutex);
    return s.failed;
}

std::vector<Call> Log() {
    State& s = TheState();
    std::lock_guard<std::mutex> lock(s.mutex);
    return s.log;
}

void SetLeadBytes(const std::array<bool, 256>& leadBytes) {
    State& s = TheState();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.leadBytes = leadBytes;
    s.haveLeadBytes = true;
}

std::array<bool, 256> LeadBytesOf(unsigned codePage) {
    std::array<bool, 256> table{};
    for (int b = 0; b < 256; ++b) table[b] = posix_layer::IsLeadByteOf(codePage, static_cast<unsigned char>(b));
    return table;
}

}  // namespace platform_seam

using platform_seam::Enter;
using platform_seam::Failure;
using platform_seam::Service;

extern "C" {

DWORD __wrap_GetTempPathA(DWORD size, LPSTR buffer) {
    Failure how;
    if (Enter(Service::GetTempPathA, nullptr, &how)) return 0;
    return __real_GetTempPathA(size, buffer);
}

UINT __wrap_GetTempFileNameA(LPCSTR directory, LPCSTR prefix, UINT unique, LPSTR path) {
    Failure how;
    if (Enter(Service::GetTempFileNameA, directory, &how)) return 0;
    return __real_GetTempFileNameA(directory, prefix, unique, path);
}

HANDLE __wrap_CreateFileA(LPCSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                          DWORD disposition, DWORD flags, HANDLE templateFile) {
    Failure how;
    if (Enter(Service::CreateFileA, path, &how)) return INVALID_HANDLE_VALUE;
    return __real_CreateFileA(path, access, share, security, disposition, flags, templateFile);
}

BOOL __wrap_WriteFile(HANDLE file, LPCVOID buffer, DWORD count, LPDWORD written, LPOVERLAPPED overlapped) {
    Failure how;
    if (Enter(Service::WriteFile, nullptr, &how)) {
        if (how == Failure::kShort && count > 0) {
            return __real_WriteFile(file, buffer, count - 1, written, overlapped);
        }
        if (written != nullptr) *written = 0;
        return FALSE;
    }
    return __real_WriteFile(file, buffer, count, written, overlapped);
}

BOOL __wrap_ReadFile(HANDLE file, LPVOID buffer, DWORD count, LPDWORD read, LPOVERLAPPED overlapped) {
    Failure how;
    if (Enter(Service::ReadFile, nullptr, &how)) {
        if (how == Failure::kShort && count > 0) {
            return __real_ReadFile(file, buffer, count - 1, read, overlapped);
        }
        if (read != nullptr) *read = 0;
        return FALSE;
    }
    return __real_ReadFile(file, buffer, count, read, overlapped);
}

BOOL __wrap_CloseHandle(HANDLE handle) {
    Failure how;
    const bool fail = Enter(Service::CloseHandle, nullptr, &how);
    const BOOL closed = __real_CloseHandle(handle);
    return fail ? FALSE : closed;
}

BOOL __wrap_DeleteFileA(LPCSTR path) {
    Failure how;
    if (Enter(Service::DeleteFileA, path, &how)) return FALSE;
    return __real_DeleteFileA(path);
}

DWORD __wrap_GetFileAttributesA(LPCSTR path) {
    Failure how;
    if (Enter(Service::GetFileAttributesA, path, &how)) return INVALID_FILE_ATTRIBUTES;
    return __real_GetFileAttributesA(path);
}

BOOL __wrap_IsDBCSLeadByte(BYTE byte) {
    Failure how;
    const bool fail = Enter(Service::IsDBCSLeadByte, nullptr, &how);
    platform_seam::State& s = platform_seam::TheState();
    bool lead;
    {
        std::lock_guard<std::mutex> lock(s.mutex);
        lead = s.haveLeadBytes ? s.leadBytes[byte] : __real_IsDBCSLeadByte(byte) != FALSE;
    }
    return (lead != fail) ? TRUE : FALSE;
}

}  // extern "C"
