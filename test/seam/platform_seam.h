// The test seam at the platform layer of the native build. The seam suites link the add-in's
// objects with -Wl,--wrap for each of the nine Win32 services, so every call the add-in makes
// passes through here: counted, logged, and failed on demand with the service's own failure
// result. Nothing of this is in the product.
#ifndef QELALTF_TEST_PLATFORM_SEAM_H
#define QELALTF_TEST_PLATFORM_SEAM_H

#include <array>
#include <string>
#include <vector>

namespace platform_seam {

enum class Service {
    GetTempPathA,
    GetTempFileNameA,
    CreateFileA,
    WriteFile,
    ReadFile,
    CloseHandle,
    DeleteFileA,
    GetFileAttributesA,
    IsDBCSLeadByte,
};
constexpr int kServiceCount = 9;
const char* NameOf(Service service);

// How a failed call fails. Each service has its Win32 failure result (0, FALSE,
// INVALID_HANDLE_VALUE or INVALID_FILE_ATTRIBUTES) with nothing done, except:
//  - CloseHandle closes the descriptor and then reports failure, as close(2) does on Linux;
//  - WriteFile with kShort writes all but the last byte and reports success with that count;
//  - ReadFile with kShort reads all but the last asked byte and reports success;
//  - IsDBCSLeadByte has no failure: a failed call answers the opposite of the truth.
enum class Failure { kFail, kShort };

struct Call {
    Service service;
    std::string path;  // the path a path-taking call was given, else empty
    bool failed;
};

// Forgets all counts, the log, pending failures and the lead-byte table.
void Reset();

// Fails call number `n` (1 for the next) counted over all services; 0 cancels.
void FailCall(int n, Failure how = Failure::kFail);
// Fails the `n`-th call (1 for the next) of one service; 0 cancels.
void FailNth(Service service, int n, Failure how = Failure::kFail);
// Fails every call of one service from now on, until Reset.
void FailAll(Service service, Failure how = Failure::kFail);

int Calls(Service service);
int TotalCalls();
int FailedCalls();
std::vector<Call> Log();

// Makes IsDBCSLeadByte answer from `leadBytes` instead of the code page.
void SetLeadBytes(const std::array<bool, 256>& leadBytes);
// The lead bytes of a real double-byte code page, for SetLeadBytes: 932, 936, 949 or 950.
std::array<bool, 256> LeadBytesOf(unsigned codePage);

// A test fixture whose every test starts and ends with the seam forgotten (Reset), so that no
// count, pending failure or lead-byte table passes from one test to the next.
template <typename Fixture>
class WithPlatformSeam : public Fixture {
protected:
    void SetUp() override {
        Reset();
        Fixture::SetUp();
    }
    void TearDown() override {
        Fixture::TearDown();
        Reset();
    }
};

}  // namespace platform_seam

#endif
