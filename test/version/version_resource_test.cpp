// Reads the version resource of the QELALTF.dll beside this program with the calls Explorer uses
// (GetFileVersionInfoA, VerQueryValueA) and holds it to the project's version and names.
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

#define STRINGIZE_(x) #x
#define STRINGIZE(x) STRINGIZE_(x)
const char* const kExpectedVersion = STRINGIZE(EXPECTED_VERSION_MAJOR) "." STRINGIZE(
    EXPECTED_VERSION_MINOR) "." STRINGIZE(EXPECTED_VERSION_PATCH) ".0";

std::string AddinBesideProgram() {
    char path[MAX_PATH];
    DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string program(path, length);
    return program.substr(0, program.find_last_of("\\/") + 1) + "QELALTF.dll";
}

class VersionResource : public ::testing::Test {
protected:
    void SetUp() override {
        path_ = AddinBesideProgram();
        DWORD ignored = 0;
        DWORD size = GetFileVersionInfoSizeA(path_.c_str(), &ignored);
        ASSERT_NE(size, 0u) << path_ << " has no version resource (error " << GetLastError() << ")";
        info_.resize(size);
        ASSERT_TRUE(GetFileVersionInfoA(path_.c_str(), 0, size, info_.data()))
            << "GetFileVersionInfoA(" << path_ << ") failed with error " << GetLastError();
    }

    // The value at `query` in the resource, or null with a test failure.
    void* Query(const std::string& query, UINT* length) {
        void* value = nullptr;
        *length = 0;
        if (!VerQueryValueA(info_.data(), query.c_str(), &value, length) || value == nullptr) {
            ADD_FAILURE() << "VerQueryValueA(" << query << ") found nothing in " << path_;
            return nullptr;
        }
        return value;
    }

    std::string path_;
    std::vector<char> info_;
};

std::string Dotted(DWORD high, DWORD low) {
    return std::to_string(HIWORD(high)) + "." + std::to_string(LOWORD(high)) + "." +
           std::to_string(HIWORD(low)) + "." + std::to_string(LOWORD(low));
}

TEST_F(VersionResource, FixedFileInfoCarriesTheProjectVersionOfADll) {
    UINT length = 0;
    auto* fixed = static_cast<VS_FIXEDFILEINFO*>(Query("\\", &length));
    ASSERT_NE(fixed, nullptr);
    ASSERT_GE(length, sizeof(VS_FIXEDFILEINFO));
    EXPECT_EQ(fixed->dwSignature, 0xFEEF04BDu);
    EXPECT_EQ(Dotted(fixed->dwFileVersionMS, fixed->dwFileVersionLS), kExpectedVersion) << "file version";
    EXPECT_EQ(Dotted(fixed->dwProductVersionMS, fixed->dwProductVersionLS), kExpectedVersion)
        << "product version";
    EXPECT_EQ(fixed->dwFileType, static_cast<DWORD>(VFT_DLL));
    EXPECT_EQ(fixed->dwFileOS, static_cast<DWORD>(VOS_NT_WINDOWS32));
    EXPECT_EQ(fixed->dwFileFlags & fixed->dwFileFlagsMask, 0u) << "no debug, pre-release or patched flag";
    std::printf("%s: version %s\n", path_.c_str(),
                Dotted(fixed->dwFileVersionMS, fixed->dwFileVersionLS).c_str());
}

TEST_F(VersionResource, StringsNameTheAddinAndItsVersion) {
    UINT length = 0;
    auto* translation = static_cast<WORD*>(Query("\\VarFileInfo\\Translation", &length));
    ASSERT_NE(translation, nullptr);
    ASSERT_GE(length, 2 * sizeof(WORD));
    EXPECT_EQ(translation[0], 0x0409) << "language";
    EXPECT_EQ(translation[1], 1252) << "code page";

    const struct {
        const char* name;
        std::string value;
    } cases[] = {
        {"FileDescription", "QEL document add-in filter"},
        {"FileVersion", kExpectedVersion},
        {"ProductVersion", kExpectedVersion},
        {"OriginalFilename", "QELALTF.dll"},
        {"InternalName", "QELALTF"},
        {"ProductName", "QELALTF"},
        {"CompanyName", "the QELALTF developers"},
        {"LegalCopyright", "Copyright (C) 2026 the QELALTF developers"},
    };
    for (const auto& c : cases) {
        auto* text = static_cast<const char*>(Query(std::string("\\StringFileInfo\\040904E4\\") + c.name, &length));
        if (text == nullptr) continue;
        EXPECT_EQ(std::string(text), c.value) << c.name;
    }
}

}  // namespace
