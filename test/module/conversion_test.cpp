// Opening and closing a document: the source spooled into a temporary file, the conversion
// library's every outcome, and the temporary directory left as it was found.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <climits>
#include <filesystem>
#include <string>
#include <vector>

#include "document_road.h"

using ::testing::Each;
using ::testing::ElementsAre;
using ::testing::IsEmpty;
using ::testing::SizeIs;

namespace {

#if defined(_WIN32)
constexpr char kSeparator = '\\';
#else
constexpr char kSeparator = '/';
#endif

uint64_t ChecksumOf(const std::string& bytes) {
    return QelChecksumUpdate(QEL_CHECKSUM_SEED, reinterpret_cast<const unsigned char*>(bytes.data()),
                             bytes.size());
}

}  // namespace

class ConversionTest : public DocumentTest {
protected:
    // A state that OpenDocument returned without a text file: nothing of it on disk.
    void ExpectEmptyState(const DocumentState* state) {
        ASSERT_NE(state, nullptr);
        EXPECT_EQ(state->textFile, INVALID_HANDLE_VALUE);
        EXPECT_EQ(state->readFailed, 0);
        EXPECT_THAT(tmp->Files(), IsEmpty()) << "files of a document that did not open";
    }

    // An open document: its reserved name and the text file beside it, and nothing else in the
    // temporary directory.
    void ExpectOpen(const DocumentState* state) {
        ASSERT_NE(state, nullptr);
        EXPECT_NE(state->textFile, INVALID_HANDLE_VALUE);
        EXPECT_EQ(state->readFailed, 0);
        const std::string reserved = std::filesystem::path(state->textPath).filename().string();
        ASSERT_EQ(reserved.substr(0, 3), "txt") << state->textPath;
        ASSERT_GE(reserved.size(), 4u);
        const std::string text = reserved.substr(0, reserved.size() - 4) + ".txt";
        EXPECT_THAT(tmp->Files(), ElementsAre(reserved, text)) << "the reserved name and the text file";
    }
};

TEST_F(ConversionTest, SpoolsTheWholeSourceInBlocksOf1024) {
    struct Case {
        size_t size;
        int reads;
    };
    const Case cases[] = {{0, 1}, {1023, 1}, {1024, 2}, {2048, 3}, {5000, 5}};
    for (const Case& c : cases) {
        SCOPED_TRACE("document of " + std::to_string(c.size) + " bytes");
        addin_module::ResetJournal();
        const std::string document = documents::OfSize(c.size);
        fake_host::ScriptedSource source(document);
        DocumentState* state = Open(source);
        ASSERT_NE(state, nullptr);

        EXPECT_EQ(source.readCalls(), c.reads);
        EXPECT_THAT(source.capacities(), Each(1024));
        EXPECT_EQ(source.delivered(), c.size);
        const QelStandInJournal journal = Journal();
        EXPECT_EQ(journal.convertCalls, 1) << "an empty spool file goes to the library too";
        EXPECT_EQ(journal.textPathExistedCalls, 0) << "a file was at the text path";
        EXPECT_EQ(journal.lastDocumentSize, static_cast<int64_t>(c.size));
        EXPECT_EQ(journal.lastDocumentChecksum, ChecksumOf(document)) << "the library saw other bytes";
        EXPECT_THAT(tmp->FilesStartingWith("qel"), IsEmpty()) << "the spool file outlived OpenDocument";

        if (c.size == 0) {
            ExpectEmptyState(state);  // no header: the library refuses it
        } else {
            ExpectOpen(state);
            EXPECT_EQ(Joined(ReadChunks(state)), document.substr(document.find('\n') + 1));
        }
        EXPECT_EQ(addin().CloseDocument(instance, state), 1);
        EXPECT_THAT(tmp->Files(), IsEmpty()) << "after CloseDocument";
    }
}

TEST_F(ConversionTest, EveryOutcomeOfTheLibraryLeavesOnlyAnOpenDocumentsTextFile) {
    struct Case {
        const char* name;
        std::string document;
        bool opens;
    };
    const Case cases[] = {
        {"status 0 with text", documents::Make("the text"), true},
        {"status above 0 with text", documents::Make("the text", ";status=7"), true},
        {"status 0 with an empty text", documents::Make(""), true},
        {"status 0 without text", documents::Make("the text", ";text=none"), false},
        {"status above 0 without text", documents::Make("the text", ";status=3;text=none"), false},
        {"status -1", documents::Make("the text", ";status=-1"), false},
        {"status INT32_MIN", documents::Make("the text", ";status=-2147483648"), false},
        {"negative status without text", documents::Make("the text", ";status=-5;text=none"), false},
        {"not a document", "plain bytes, no header", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        addin_module::ResetJournal();
        fake_host::ScriptedSource source(c.document);
        DocumentState* state = Open(source);
        ASSERT_NE(state, nullptr);
        EXPECT_EQ(Journal().convertCalls, 1);
        EXPECT_EQ(Journal().textPathExistedCalls, 0);
        if (c.opens) {
            ExpectOpen(state);
        } else {
            ExpectEmptyState(state);
            TextChunk chunk = {};
            EXPECT_EQ(addin().ReadText(instance, state, &chunk), 0) << "the failure shows at the first read";
        }
        EXPECT_EQ(addin().CloseDocument(instance, state), 1);
        EXPECT_THAT(tmp->Files(), IsEmpty()) << "after CloseDocument";
    }
}

TEST_F(ConversionTest, TakesOneBlockForTheStateAndGivesItBackOnClose) {
    fake_host::ScriptedSource source(documents::Make("text"));
    const int before = host.allocateCalls();
    DocumentState* state = Open(source);
    ASSERT_NE(state, nullptr);
    EXPECT_EQ(host.allocateCalls(), before + 1);
    EXPECT_EQ(host.sizes().back(), sizeof(DocumentState));
    EXPECT_EQ(state->source, source.source());

    EXPECT_EQ(addin().CloseDocument(instance, state), 1);
    EXPECT_EQ(host.lastReleaseServices(), instance);
    EXPECT_EQ(host.lastReleaseBlock(), state);
}

TEST_F(ConversionTest, NullArgumentsAndARefusingAllocatorOpenNothing) {
    fake_host::ScriptedSource source(documents::Make("text"));
    EXPECT_EQ(addin().OpenDocument(nullptr, source.source(), nullptr, nullptr), nullptr) << "null services";
    EXPECT_EQ(addin().OpenDocument(instance, nullptr, nullptr, nullptr), nullptr) << "null source";
    EXPECT_EQ(source.readCalls(), 0);
    EXPECT_EQ(host.allocateCalls(), 1) << "only the fixture's instance";

    host.FailAllocationAt(1);
    EXPECT_EQ(Open(source), nullptr) << "Allocate answered null";
    EXPECT_EQ(host.failedAllocations(), 1);
    EXPECT_EQ(source.readCalls(), 0) << "the source is not read for a document that has no state";
    EXPECT_EQ(Journal().convertCalls, 0);

    EXPECT_EQ(addin().CloseDocument(instance, nullptr), 0) << "null state";
    EXPECT_EQ(addin().CloseDocument(nullptr, nullptr), 0) << "both null";
}

TEST_F(ConversionTest, ClosingAnEmptyStateReleasesItWithoutTouchingFiles) {
    fake_host::ScriptedSource source(documents::Make("text", ";status=-1"));
    DocumentState* state = Open(source);
    ExpectEmptyState(state);
    // A file of the same name made since must survive: an empty state owns no file.
    ASSERT_NE(state->textPath[0], '\0') << "the name was reserved";
    const std::string stranger = state->textPath;
    tmp->WriteFile(stranger.substr(stranger.find_last_of("\\/") + 1), "someone else's");

    const int releases = host.releaseCalls();
    EXPECT_EQ(addin().CloseDocument(instance, state), 1);
    EXPECT_EQ(host.releaseCalls(), releases + 1);
    EXPECT_THAT(tmp->Files(), SizeIs(1)) << "CloseDocument deleted a file its state did not own";
    std::filesystem::remove(stranger);
}

TEST_F(ConversionTest, ClosingWithNullServicesRemovesTheTextFileButKeepsTheState) {
    fake_host::ScriptedSource source(documents::Make("text"));
    DocumentState* state = Open(source);
    ExpectOpen(state);

    const int releases = host.releaseCalls();
    EXPECT_EQ(addin().CloseDocument(nullptr, state), 0);
    EXPECT_THAT(tmp->Files(), IsEmpty()) << "the text file outlived the close";
    EXPECT_EQ(state->textFile, INVALID_HANDLE_VALUE);
    EXPECT_STREQ(state->textPath, "");
    EXPECT_EQ(host.releaseCalls(), releases) << "the state was released without services";
    EXPECT_EQ(host.liveBlocks(), 2u) << "the instance and the state";

    // What is left is an empty state, which a second close releases.
    EXPECT_EQ(addin().CloseDocument(instance, state), 1);
    EXPECT_EQ(host.releaseCalls(), releases + 1);
}

TEST_F(ConversionTest, ABrokenSourceIsNeverConverted) {
    struct Case {
        const char* name;
        std::vector<int32_t> script;
    };
    const Case cases[] = {
        {"1025 first", {1025}},
        {"-1 first", {-1}},
        {"INT32_MIN first", {INT32_MIN}},
        {"INT32_MAX first", {INT32_MAX}},
        {"1025 after a full block", {1024, 1025}},
        {"-1 after two full blocks", {1024, 1024, -1}},
        {"INT32_MIN after a full block", {1024, INT32_MIN}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        addin_module::ResetJournal();
        fake_host::ScriptedSource source(documents::OfSize(5000), c.script);
        DocumentState* state = Open(source);
        ExpectEmptyState(state);
        EXPECT_EQ(source.readCalls(), static_cast<int>(c.script.size()))
            << "reading went on past the broken count";
        EXPECT_EQ(Journal().convertCalls, 0) << "a broken source reached the library";
        EXPECT_EQ(addin().CloseDocument(instance, state), 1);
    }
}

TEST_F(ConversionTest, AShortReadEndsTheDocumentThere) {
    struct Case {
        const char* name;
        std::vector<int32_t> script;
        size_t converted;
    };
    const Case cases[] = {
        {"0 first", {0}, 0},
        {"500 first", {500}, 500},
        {"1024 then 100", {1024, 100}, 1124},
        {"1024, 1024 then 0", {1024, 1024, 0}, 2048},
        {"1024 then 1023", {1024, 1023}, 2047},
    };
    const std::string document = documents::OfSize(5000);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        addin_module::ResetJournal();
        fake_host::ScriptedSource source(document, c.script);
        DocumentState* state = Open(source);
        ASSERT_NE(state, nullptr);
        EXPECT_EQ(source.readCalls(), static_cast<int>(c.script.size()));
        const QelStandInJournal journal = Journal();
        EXPECT_EQ(journal.convertCalls, 1);
        EXPECT_EQ(journal.lastDocumentSize, static_cast<int64_t>(c.converted));
        EXPECT_EQ(journal.lastDocumentChecksum, ChecksumOf(document.substr(0, c.converted)));
        if (c.converted == 0) {
            ExpectEmptyState(state);
        } else {
            ExpectOpen(state);
        }
        EXPECT_EQ(addin().CloseDocument(instance, state), 1);
    }
}

TEST_F(ConversionTest, AnUnusableTemporaryDirectoryFailsTheDocumentCleanly) {
    struct Case {
        const char* name;
        std::string directory;
    };
    const std::string base = tmp->path() + kSeparator;
    const Case cases[] = {
        {"missing directory", base + "missing"},
        {"missing directory with a separator", base + "missing" + kSeparator},
        {"longer than the path limit", base + std::string(300, 'x')},
        {"one byte too long with its separator", base + std::string(MAX_PATH - 1 - base.size(), 'x')},
        {"a file, not a directory", base + "a-file"},
    };
    tmp->WriteFile("a-file", "in the way");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        addin_module::ResetJournal();
        tmp->PointAt(c.directory);
        fake_host::ScriptedSource source(documents::Make("text"));
        DocumentState* state = Open(source);
        ASSERT_NE(state, nullptr);
        EXPECT_EQ(state->textFile, INVALID_HANDLE_VALUE);
        EXPECT_EQ(Journal().convertCalls, 0);
        EXPECT_THAT(tmp->Files(), ElementsAre("a-file"));
        EXPECT_EQ(addin().CloseDocument(instance, state), 1);
    }
    std::filesystem::remove(base + "a-file");
}

// The platform makes no names in a directory too long to hold them within the path limit, and
// the add-in must not lose track of a file either way.
TEST_F(ConversionTest, ADirectoryTooLongForTemporaryNamesLeavesNothingBehind) {
    std::string directory = tmp->path() + kSeparator;
    directory += std::string(MAX_PATH - 13 - directory.size(), 'd');
    ASSERT_TRUE(std::filesystem::create_directory(directory)) << directory;
    tmp->PointAt(directory);
    fake_host::ScriptedSource source(documents::Make("text"));
    DocumentState* state = Open(source);
    ASSERT_NE(state, nullptr);
#if !defined(_WIN32)
    EXPECT_EQ(state->textFile, INVALID_HANDLE_VALUE) << "a name of more than MAX_PATH-14 was made";
#endif
    EXPECT_EQ(addin().CloseDocument(instance, state), 1);
    EXPECT_TRUE(std::filesystem::is_empty(directory)) << "files left in the long directory";
    std::filesystem::remove(directory);
}

TEST_F(ConversionTest, DocumentsOpenSideBySideWithTextFilesOfTheirOwn) {
    fake_host::ScriptedSource first(documents::Make("first text"));
    fake_host::ScriptedSource second(documents::Make("second text"));
    DocumentState* a = Open(first);
    DocumentState* b = Open(second);
    ASSERT_NE(a, nullptr);
    ASSERT_NE(b, nullptr);
    EXPECT_THAT(tmp->FilesStartingWith("txt"), SizeIs(4)) << "each a reserved name and a text file";
    EXPECT_STRNE(a->textPath, b->textPath);
    EXPECT_EQ(Joined(ReadChunks(b)), "second text");
    EXPECT_EQ(Joined(ReadChunks(a)), "first text");
    EXPECT_EQ(addin().CloseDocument(instance, a), 1);
    EXPECT_THAT(tmp->FilesStartingWith("txt"), SizeIs(2));
    EXPECT_EQ(addin().CloseDocument(instance, b), 1);
}
