// Recognition: the source's first 100 bytes, judged by the conversion library.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "addin_test.h"
#include "documents.h"

using ::testing::ElementsAre;

using RecognizeTest = AddinTest;

TEST_F(RecognizeTest, ReadsOnceForExactlyOneHundredBytesWhateverTheSize) {
    struct Case {
        const char* name;
        std::string bytes;
        int32_t expectedCount;
        int32_t expectedAnswer;
    };
    const Case cases[] = {
        {"empty source", "", 0, 0},
        {"one byte", "Q", 1, 0},
        {"bare magic", QEL_MAGIC, 4, 1},
        {"document of 100 bytes", documents::OfSize(100), 100, 1},
        {"document of 100000 bytes", documents::OfSize(100000), 100, 1},
        {"not a document", std::string(500, 'x'), 100, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        addin_module::ResetJournal();
        fake_host::ScriptedSource source(c.bytes);
        EXPECT_EQ(addin().Recognize(nullptr, source.source(), nullptr), c.expectedAnswer);
        EXPECT_THAT(source.capacities(), ElementsAre(100));
        const QelStandInJournal journal = Journal();
        EXPECT_EQ(journal.recognizeCalls, 1) << "the library is asked once, 0 bytes included";
        EXPECT_EQ(journal.lastRecognizeCount, c.expectedCount) << "the count passed on";
    }
}

TEST_F(RecognizeTest, FoldsAnyNonzeroAnswerToOne) {
    struct Case {
        const char* options;
        int32_t expected;
    };
    const Case cases[] = {
        {"", 1}, {";answer=1", 1}, {";answer=2", 1}, {";answer=-1", 1},
        {";answer=-2147483648", 1}, {";answer=2147483647", 1}, {";answer=0", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.options);
        fake_host::ScriptedSource source(documents::Make("text", c.options));
        EXPECT_EQ(addin().Recognize(nullptr, source.source(), nullptr), c.expected);
    }
}

TEST_F(RecognizeTest, IgnoresItsFirstAndThirdArguments) {
    fake_host::ScriptedSource source(documents::Make("text"));
    int unused = 0;
    EXPECT_EQ(addin().Recognize(&unused, source.source(), &unused), 1);
}

TEST_F(RecognizeTest, NullSourceAnswersZeroWithoutReadingOrAsking) {
    EXPECT_EQ(addin().Recognize(instance, nullptr, nullptr), 0);
    EXPECT_EQ(Journal().recognizeCalls, 0);
}

TEST_F(RecognizeTest, ACountOutsideTheBufferNeverReachesTheLibrary) {
    for (int32_t count : {-1, -100, INT32_MIN, 101, 1024, INT32_MAX}) {
        SCOPED_TRACE(count);
        addin_module::ResetJournal();
        fake_host::ScriptedSource source(documents::OfSize(2000), {count});
        EXPECT_EQ(addin().Recognize(nullptr, source.source(), nullptr), 0);
        EXPECT_EQ(source.readCalls(), 1);
        EXPECT_EQ(Journal().recognizeCalls, 0);
    }
}

TEST_F(RecognizeTest, AShortFirstReadIsAllTheLibrarySees) {
    // The add-in reads once: a source that gives the magic in two pieces is not recognised.
    fake_host::ScriptedSource source(documents::Make("text"), {2});
    EXPECT_EQ(addin().Recognize(nullptr, source.source(), nullptr), 0);
    EXPECT_EQ(Journal().lastRecognizeCount, 2);
}
