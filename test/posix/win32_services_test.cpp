// The POSIX layer of the Win32 services, held to what the add-in relies on of each, as Windows
// behaves: return conventions, the shape and uniqueness of temporary names, the subset of
// CreateFileA, no sharing, and the code page taken from the locale.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include "platform/posix/code_page.h"
#include "platform/posix/win32_services.h"

namespace fs = std::filesystem;
using ::testing::MatchesRegex;

namespace {

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteAll(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary);
    out << bytes;
}

}  // namespace

class Win32Services : public ::testing::Test {
protected:
    void SetUp() override {
        // In memory where there is a tmpfs: filling all 65535 names costs seconds on a disk.
        std::string pattern =
            (fs::is_directory("/dev/shm") ? "/dev/shm" : "/tmp") + std::string("/qelaltf-posix-XXXXXX");
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        dir_ = pattern;
        const char* previous = std::getenv("TMPDIR");
        hadTmpdir_ = previous != nullptr;
        if (hadTmpdir_) previousTmpdir_ = previous;
    }
    void TearDown() override {
        if (hadTmpdir_) {
            setenv("TMPDIR", previousTmpdir_.c_str(), 1);
        } else {
            unsetenv("TMPDIR");
        }
        chmod(dir_.c_str(), 0700);
        fs::remove_all(dir_);
    }

    std::string dir_;
    bool hadTmpdir_ = false;
    std::string previousTmpdir_;
};

TEST_F(Win32Services, GetTempPathAEndsInASeparatorAndAnswersLikeWindows) {
    struct Case {
        const char* tmpdir;  // null: unset
        const char* expected;
    };
    const Case cases[] = {
        {"/var/some/where", "/var/some/where/"},
        {"/var/some/where/", "/var/some/where/"},
        {"/", "/"},
        {nullptr, "/tmp/"},
        {"", "/tmp/"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.tmpdir == nullptr ? "TMPDIR unset" : std::string("TMPDIR=") + c.tmpdir);
        if (c.tmpdir == nullptr) {
            unsetenv("TMPDIR");
        } else {
            setenv("TMPDIR", c.tmpdir, 1);
        }
        const DWORD length = static_cast<DWORD>(std::strlen(c.expected));
        char buffer[MAX_PATH];
        std::memset(buffer, '#', sizeof buffer);
        EXPECT_EQ(GetTempPathA(MAX_PATH, buffer), length) << "fits: the length without the zero";
        EXPECT_STREQ(buffer, c.expected);

        std::memset(buffer, '#', sizeof buffer);
        EXPECT_EQ(GetTempPathA(length + 1, buffer), length) << "fits exactly with its zero";
        EXPECT_STREQ(buffer, c.expected);

        std::memset(buffer, '#', sizeof buffer);
        EXPECT_EQ(GetTempPathA(length, buffer), length + 1) << "one short: the size needed";
        EXPECT_EQ(buffer[0], '#') << "a buffer too small was written";
        EXPECT_EQ(GetTempPathA(0, nullptr), length + 1) << "no buffer: the size needed";
    }
}

TEST_F(Win32Services, GetTempFileNameAMakesAnEmptyPrivateFileOfThreeLettersFourDigits) {
    struct Case {
        std::string directory;
        const char* prefix;
        const char* shape;
    };
    const Case cases[] = {
        {dir_, "qel", "/qel[0-9A-F]{4}\\.tmp$"},
        {dir_ + "/", "txt", "/txt[0-9A-F]{4}\\.tmp$"},
        {dir_, "longer", "/lon[0-9A-F]{4}\\.tmp$"},
        {dir_, "q", "/q[0-9A-F]{4}\\.tmp$"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.directory + " with prefix " + c.prefix);
        char path[MAX_PATH];
        const UINT number = GetTempFileNameA(c.directory.c_str(), c.prefix, 0, path);
        ASSERT_NE(number, 0u);
        EXPECT_LE(number, 0xFFFFu);
        EXPECT_EQ(std::string(path).rfind(dir_ + "/", 0), 0u) << path << " is not in " << dir_;
        EXPECT_EQ(std::string(path).find("//"), std::string::npos) << path;
        EXPECT_THAT(path, MatchesRegex(".*" + std::string(c.shape)));
        char digits[5];
        std::snprintf(digits, sizeof digits, "%04X", number);
        EXPECT_NE(std::string(path).find(digits), std::string::npos)
            << "the number " << digits << " is not in " << path;

        struct stat status = {};
        ASSERT_EQ(stat(path, &status), 0) << "the file was not created";
        EXPECT_TRUE(S_ISREG(status.st_mode));
        EXPECT_EQ(status.st_size, 0);
        EXPECT_EQ(status.st_mode & 0777, 0600u) << "the file is not private to its owner";
    }
}

TEST_F(Win32Services, GetTempFileNameANeverReusesANameAndNeverMakesNumberZero) {
    // Every one of the 65535 names taken: it fails rather than use 0000 or an existing file.
    for (unsigned n = 1; n <= 0xFFFF; ++n) {
        char name[32];
        std::snprintf(name, sizeof name, "/qel%04X.tmp", n);
        const int fd = open((dir_ + name).c_str(), O_WRONLY | O_CREAT | O_EXCL, 0600);
        ASSERT_GE(fd, 0) << name;
        close(fd);
    }
    WriteAll(dir_ + "/qel8000.tmp", "kept");
    char path[MAX_PATH];
    EXPECT_EQ(GetTempFileNameA(dir_.c_str(), "qel", 0, path), 0u)
        << "all names taken, yet it answered " << path;
    EXPECT_FALSE(fs::exists(dir_ + "/qel0000.tmp")) << "number 0 was used";
    EXPECT_EQ(ReadAll(dir_ + "/qel8000.tmp"), "kept") << "an existing file was truncated";

    // One name free: it is found, wherever the search starts.
    fs::remove(dir_ + "/qel1234.tmp");
    EXPECT_EQ(GetTempFileNameA(dir_.c_str(), "qel", 0, path), 0x1234u);
    EXPECT_EQ(std::string(path), dir_ + "/qel1234.tmp");
}

TEST_F(Win32Services, GetTempFileNameAFailsForADirectoryItCannotUse) {
    // MAX_PATH-14 characters leave room for the name; one more does not.
    std::string fits = dir_ + "/";
    fits += std::string(MAX_PATH - 14 - fits.size(), 'f');
    std::string tooLong = dir_ + "/";
    tooLong += std::string(MAX_PATH - 13 - tooLong.size(), 'l');
    ASSERT_TRUE(fs::create_directory(fits));
    ASSERT_TRUE(fs::create_directory(tooLong));

    char path[MAX_PATH];
    EXPECT_NE(GetTempFileNameA(fits.c_str(), "qel", 0, path), 0u) << "a directory of MAX_PATH-14 characters";
    EXPECT_LT(std::strlen(path), static_cast<size_t>(MAX_PATH));
    EXPECT_EQ(GetTempFileNameA(tooLong.c_str(), "qel", 0, path), 0u)
        << "a directory of MAX_PATH-13 characters";
    EXPECT_TRUE(fs::is_empty(tooLong));

    WriteAll(dir_ + "/a-file", "");
    const std::string unusable[] = {dir_ + "/missing", dir_ + "/a-file", "/proc"};
    for (const std::string& directory : unusable) {
        SCOPED_TRACE(directory);
        EXPECT_EQ(GetTempFileNameA(directory.c_str(), "qel", 0, path), 0u);
    }
    if (geteuid() != 0) {  // root writes anywhere
        const std::string locked = dir_ + "/locked";
        ASSERT_TRUE(fs::create_directory(locked));
        chmod(locked.c_str(), 0500);
        EXPECT_EQ(GetTempFileNameA(locked.c_str(), "qel", 0, path), 0u) << "an unwritable directory";
    }
}

TEST_F(Win32Services, CreateFileAOpensAnExistingFileForReadingOrWritingAlone) {
    const std::string file = dir_ + "/file";
    WriteAll(file, "0123456789");
    const HANDLE reader =
        CreateFileA(file.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(reader, INVALID_HANDLE_VALUE);
    EXPECT_NE(reader, nullptr);
    char buffer[64];
    DWORD count = 99;
    ASSERT_TRUE(ReadFile(reader, buffer, 4, &count, nullptr));
    EXPECT_EQ(count, 4u);
    ASSERT_TRUE(ReadFile(reader, buffer, sizeof buffer, &count, nullptr));
    EXPECT_EQ(count, 6u) << "the rest of the file";
    EXPECT_EQ(std::string(buffer, 6), "456789");
    ASSERT_TRUE(ReadFile(reader, buffer, sizeof buffer, &count, nullptr));
    EXPECT_EQ(count, 0u) << "at the end of the file";
    EXPECT_FALSE(WriteFile(reader, "x", 1, &count, nullptr)) << "a reader wrote";
    EXPECT_EQ(count, 0u);
    EXPECT_TRUE(CloseHandle(reader));

    const HANDLE writer =
        CreateFileA(file.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(writer, INVALID_HANDLE_VALUE);
    ASSERT_TRUE(WriteFile(writer, "abc", 3, &count, nullptr));
    EXPECT_EQ(count, 3u);
    ASSERT_TRUE(WriteFile(writer, "", 0, &count, nullptr));
    EXPECT_EQ(count, 0u);
    EXPECT_FALSE(ReadFile(writer, buffer, 1, &count, nullptr)) << "a writer read";
    EXPECT_TRUE(CloseHandle(writer));
    EXPECT_EQ(ReadAll(file), "abc3456789") << "writing starts at the beginning and truncates nothing";
}

TEST_F(Win32Services, CreateFileARefusesAllElseAndCreatesNothing) {
    const std::string file = dir_ + "/file";
    const std::string missing = dir_ + "/missing";
    WriteAll(file, "x");
    struct Case {
        const char* name;
        std::string path;
        DWORD access, share;
        DWORD disposition, flags;
    };
    const Case cases[] = {
        {"missing file", missing, GENERIC_READ, 0, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL},
        {"a directory", dir_, GENERIC_READ, 0, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL},
        {"read and write", file, GENERIC_READ | GENERIC_WRITE, 0, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL},
        {"no access", file, 0, 0, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL},
        {"shared for reading", file, GENERIC_READ, 1, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL},
        {"CREATE_NEW", missing, GENERIC_WRITE, 0, CREATE_NEW, FILE_ATTRIBUTE_NORMAL},
        {"CREATE_ALWAYS", missing, GENERIC_WRITE, 0, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL},
        {"OPEN_ALWAYS", missing, GENERIC_WRITE, 0, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL},
        {"TRUNCATE_EXISTING", file, GENERIC_WRITE, 0, TRUNCATE_EXISTING, FILE_ATTRIBUTE_NORMAL},
        {"other flags", file, GENERIC_READ, 0, OPEN_EXISTING, FILE_ATTRIBUTE_READONLY},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const HANDLE h =
            CreateFileA(c.path.c_str(), c.access, c.share, nullptr, c.disposition, c.flags, nullptr);
        EXPECT_EQ(h, INVALID_HANDLE_VALUE);
        if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
        EXPECT_FALSE(fs::exists(missing)) << "a file was created";
        EXPECT_EQ(ReadAll(file), "x") << "the file was changed";
    }
    EXPECT_EQ(CreateFileA(nullptr, GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr),
              INVALID_HANDLE_VALUE);
}

TEST_F(Win32Services, AnOpenFileIsSharedWithNoOne) {
    const std::string file = dir_ + "/file";
    WriteAll(file, "x");
    const DWORD accesses[] = {GENERIC_READ, GENERIC_WRITE};
    for (DWORD first : accesses) {
        for (DWORD second : accesses) {
            SCOPED_TRACE(std::string(first == GENERIC_READ ? "reader" : "writer") + " then " +
                         (second == GENERIC_READ ? "reader" : "writer"));
            const HANDLE held = CreateFileA(file.c_str(), first, 0, nullptr, OPEN_EXISTING, 0, nullptr);
            ASSERT_NE(held, INVALID_HANDLE_VALUE);
            EXPECT_EQ(CreateFileA(file.c_str(), second, 0, nullptr, OPEN_EXISTING, 0, nullptr),
                      INVALID_HANDLE_VALUE);
            EXPECT_TRUE(CloseHandle(held));
            const HANDLE again = CreateFileA(file.c_str(), second, 0, nullptr, OPEN_EXISTING, 0, nullptr);
            EXPECT_NE(again, INVALID_HANDLE_VALUE) << "the file stays locked after its handle is closed";
            CloseHandle(again);
        }
    }
}

TEST_F(Win32Services, HandlesAreNeverZeroAndBadOnesFailCleanly) {
    const std::string file = dir_ + "/file";
    WriteAll(file, "x");
    // With descriptor 0 free the layer gets descriptor 0, and still no handle 0.
    const int savedStdin = dup(0);
    ASSERT_GE(savedStdin, 0);
    close(0);
    const HANDLE h = CreateFileA(file.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_NE(h, nullptr);
    EXPECT_NE(h, INVALID_HANDLE_VALUE);
    EXPECT_TRUE(CloseHandle(h));
    dup2(savedStdin, 0);
    close(savedStdin);

    char buffer[4];
    DWORD count = 99;
    EXPECT_FALSE(ReadFile(INVALID_HANDLE_VALUE, buffer, 4, &count, nullptr));
    EXPECT_EQ(count, 0u);
    count = 99;
    EXPECT_FALSE(WriteFile(INVALID_HANDLE_VALUE, buffer, 4, &count, nullptr));
    EXPECT_EQ(count, 0u);
    EXPECT_FALSE(ReadFile(nullptr, buffer, 4, &count, nullptr));
    EXPECT_FALSE(CloseHandle(INVALID_HANDLE_VALUE));
    EXPECT_FALSE(CloseHandle(nullptr));
}

TEST_F(Win32Services, DeleteFileAAndGetFileAttributesA) {
    const std::string file = dir_ + "/file";
    WriteAll(file, "x");
    EXPECT_NE(GetFileAttributesA(file.c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(GetFileAttributesA(file.c_str()) & FILE_ATTRIBUTE_DIRECTORY, 0u);
    EXPECT_NE(GetFileAttributesA(dir_.c_str()) & FILE_ATTRIBUTE_DIRECTORY, 0u);
    EXPECT_TRUE(DeleteFileA(file.c_str()));
    EXPECT_FALSE(fs::exists(file));
    EXPECT_EQ(GetFileAttributesA(file.c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_FALSE(DeleteFileA(file.c_str())) << "a missing file";
    EXPECT_FALSE(DeleteFileA(nullptr));
    EXPECT_EQ(GetFileAttributesA(nullptr), INVALID_FILE_ATTRIBUTES);
    EXPECT_TRUE(fs::exists(dir_)) << "DeleteFileA removed a directory";
    EXPECT_FALSE(DeleteFileA(dir_.c_str()));
}

TEST(CodePage, OfLocaleNames) {
    struct Case {
        const char* locale;
        unsigned codePage;
    };
    const Case cases[] = {
        {"ja_JP.SJIS", 932},
        {"ja_JP.sjis", 932},
        {"ja_JP.Shift_JIS", 932},
        {"ja_JP.CP932", 932},
        {"ja_JP.WINDOWS-31J", 932},
        {"zh_CN.GBK", 936},
        {"zh_CN.gbk", 936},
        {"zh_CN.GB2312", 936},
        {"zh_CN.EUC-CN", 936},
        {"ko_KR.EUC-KR", 949},
        {"ko_KR.euckr", 949},
        {"ko_KR.CP949", 949},
        {"zh_TW.Big5", 950},
        {"zh_HK.BIG5-HKSCS", 950},
        {"zh_TW.big5@modifier", 950},
        {"ja_JP.UTF-8", 1252},
        {"ja_JP.eucJP", 1252},
        {"zh_CN.GB18030", 1252},
        {"en_US.ISO-8859-1", 1252},
        {"ja_JP", 1252},
        {"SJIS", 1252},
        {"C", 1252},
        {"POSIX", 1252},
        {"", 1252},
        {"zh_CN.GBKX", 1252},
        {"zh_CN.GB", 1252},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(posix_layer::CodePageOfLocale(c.locale), c.codePage) << "locale \"" << c.locale << "\"";
    }
    EXPECT_EQ(posix_layer::CodePageOfLocale(nullptr), 1252u);
    EXPECT_EQ(posix_layer::CodePageOfLocale(("ja_JP." + std::string(100, 'S')).c_str()), 1252u)
        << "a long charset";
}

TEST(CodePage, LeadBytesAtTheEdgesOfTheRanges) {
    struct Case {
        unsigned codePage;
        unsigned char byte;
        bool lead;
    };
    const Case cases[] = {
        {932, 0x7F, false},  {932, 0x80, false},  {932, 0x81, true},  {932, 0x9F, true},  {932, 0xA0, false},
        {932, 0xA1, false},  {932, 0xDF, false},  {932, 0xE0, true},  {932, 0xFC, true},  {932, 0xFD, false},
        {936, 0x80, false},  {936, 0x81, true},   {936, 0xA1, true},  {936, 0xFE, true},  {936, 0xFF, false},
        {949, 0x81, true},   {949, 0xFE, true},   {949, 0xFF, false}, {950, 0x80, false}, {950, 0xFE, true},
        {1252, 0x81, false}, {1252, 0xE0, false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(posix_layer::IsLeadByteOf(c.codePage, c.byte), c.lead)
            << "code page " << c.codePage << ", byte 0x" << std::hex << unsigned(c.byte);
    }
}

// ctest runs this again under LC_ALL=ja_JP.SJIS, zh_CN.GBK and ko_KR.EUC-KR; LC_ALL decides.
TEST(CodePage, IsDBCSLeadByteFollowsTheLocaleTheProcessStartedIn) {
    const char* locale = std::getenv("LC_ALL");
    if (locale == nullptr || *locale == '\0') GTEST_SKIP() << "LC_ALL is not set";
    const unsigned codePage = posix_layer::CodePageOfLocale(locale);
    for (int b = 0; b < 256; ++b) {
        EXPECT_EQ(IsDBCSLeadByte(static_cast<BYTE>(b)) != FALSE,
                  posix_layer::IsLeadByteOf(codePage, static_cast<BYTE>(b)))
            << "LC_ALL=" << locale << " (code page " << codePage << "), byte " << b;
    }
}
