// Every platform call of a document's life failed in turn: the result, the files deleted and their
// order, and what is left in the temporary directory afterwards.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "../module/document_road.h"
#include "platform_seam.h"

using platform_seam::Failure;
using platform_seam::Service;
using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::IsEmpty;

namespace {

std::string BaseName(const std::string& path) {
    return path.substr(path.find_last_of('/') + 1);
}

// What a file of a document is, by its name: "qel.tmp" the spool file, "txt.tmp" the reserved name,
// "txt.txt" the text file beside it.
std::string KindOf(const std::string& path) {
    const std::string name = BaseName(path);
    return name.substr(0, 3) + name.substr(name.size() >= 4 ? name.size() - 4 : 0);
}

// The DeleteFileA calls of the log, by the kind of file and whether it failed.
std::vector<std::string> Deletions(const std::vector<platform_seam::Call>& log) {
    std::vector<std::string> deletions;
    for (const platform_seam::Call& call : log) {
        if (call.service != Service::DeleteFileA) continue;
        deletions.push_back(KindOf(call.path) + (call.failed ? " (failed)" : ""));
    }
    return deletions;
}

// How many calls of the same service came before call `n` (0-based) of the log.
int OccurrenceOf(const std::vector<platform_seam::Call>& log, size_t n) {
    int occurrence = 0;
    for (size_t i = 0; i < n; ++i) occurrence += log[i].service == log[n].service ? 1 : 0;
    return occurrence;
}

}  // namespace

class ConversionSeamTest : public platform_seam::WithPlatformSeam<DocumentTest> {
protected:
    // What became of one document: whether it opened, its text, the results of four reads as 'c'
    // (a chunk), 'e' (the end) or 'f' (0), and what CloseDocument answered.
    struct Outcome {
        bool opened = false;
        std::string text;
        std::string reads;
        int32_t closed = -1;
    };

    Outcome Run(const std::string& document) {
        Outcome outcome;
        fake_host::ScriptedSource source(document);
        DocumentState* state = Open(source);
        if (state == nullptr) {
            ADD_FAILURE() << "OpenDocument answered null";
            return outcome;
        }
        outcome.opened = state->textFile != INVALID_HANDLE_VALUE;
        for (int i = 0; i < 4; ++i) {
            TextChunk chunk = {};
            if (addin().ReadText(instance, state, &chunk) != 1) {
                outcome.reads += 'f';
            } else if (chunk.length == 0) {
                outcome.reads += 'e';
            } else {
                outcome.reads += 'c';
                outcome.text.append(static_cast<const char*>(chunk.data), static_cast<size_t>(chunk.length));
                host.ReleaseOwned(chunk.data);
            }
        }
        outcome.closed = addin().CloseDocument(instance, state);
        return outcome;
    }
};

TEST_F(ConversionSeamTest, ACleanRunMakesTheseCallsInThisOrder) {
    const std::string payload(1500, 'p');
    const Outcome outcome = Run(documents::Make(payload));
    EXPECT_TRUE(outcome.opened);
    EXPECT_EQ(outcome.reads, "ceee");
    EXPECT_EQ(outcome.text, payload);
    std::vector<Service> services;
    for (const platform_seam::Call& call : platform_seam::Log()) services.push_back(call.service);
    EXPECT_THAT(services, ElementsAre(Service::GetTempPathA, Service::GetTempFileNameA,
                                      Service::GetTempFileNameA, Service::CreateFileA, Service::WriteFile,
                                      Service::WriteFile, Service::CloseHandle, Service::GetFileAttributesA,
                                      Service::DeleteFileA, Service::GetFileAttributesA, Service::CreateFileA,
                                      Service::ReadFile, Service::ReadFile, Service::ReadFile,
                                      Service::ReadFile, Service::CloseHandle, Service::DeleteFileA,
                                      Service::DeleteFileA));
    EXPECT_THAT(Deletions(platform_seam::Log()), ElementsAre("qel.tmp", "txt.txt", "txt.tmp"));
}

TEST_F(ConversionSeamTest, EachFailedCallFailsCleanly) {
    const std::string payload(1500, 'p');
    const std::string document = documents::Make(payload);
    Run(document);
    const std::vector<platform_seam::Call> clean = platform_seam::Log();
    ASSERT_FALSE(clean.empty());

    // What a failure of each call leads to.
    struct Expected {
        bool opened;
        const char* reads;
        bool converted;        // the library was called
        bool textPathExisted;  // ... with a file at the text path
        std::vector<std::string> deletions;
        const char* left;  // the prefix of the one file a failed deletion leaves, or null
    };
    const std::vector<std::string> all = {"qel.tmp", "txt.txt", "txt.tmp"};
    auto expectedFor = [&all](Service service, int occurrence) -> Expected {
        switch (service) {
            case Service::GetTempPathA: return {false, "ffff", false, false, {}, nullptr};
            case Service::GetTempFileNameA:
                if (occurrence == 0) return {false, "ffff", false, false, {}, nullptr};
                return {false, "ffff", false, false, {"qel.tmp"}, nullptr};
            case Service::CreateFileA:
                if (occurrence == 0) return {false, "ffff", false, false, {"txt.tmp", "qel.tmp"}, nullptr};
                return {false, "ffff", true, false, all, nullptr};
            case Service::WriteFile: return {false, "ffff", false, false, {"qel.tmp", "txt.tmp"}, nullptr};
            case Service::CloseHandle:
                if (occurrence == 0) return {false, "ffff", false, false, {"qel.tmp", "txt.tmp"}, nullptr};
                return {true, "ceee", true, false, all, nullptr};
            case Service::DeleteFileA:
                if (occurrence == 0)
                    return {true, "ceee", true, false, {"qel.tmp (failed)", "txt.txt", "txt.tmp"}, "qel.tmp"};
                if (occurrence == 1)
                    return {true, "ceee", true, false, {"qel.tmp", "txt.txt (failed)", "txt.tmp"}, "txt.txt"};
                return {true, "ceee", true, false, {"qel.tmp", "txt.txt", "txt.tmp (failed)"}, "txt.tmp"};
            case Service::GetFileAttributesA:
                // Before the library: a text path that cannot be seen is as good as free.
                if (occurrence == 0) return {true, "ceee", true, false, all, nullptr};
                return {false, "ffff", true, false, all, nullptr};
            case Service::ReadFile:
                // One failed read, then one end; reading again goes on where the text was.
                if (occurrence == 0) return {true, "fece", true, false, all, nullptr};
                if (occurrence == 1) return {true, "cfee", true, false, all, nullptr};
                if (occurrence == 2) return {true, "cefe", true, false, all, nullptr};
                return {true, "ceef", true, false, all, nullptr};
            default: return {true, "ceee", true, false, all, nullptr};
        }
    };

    for (size_t n = 0; n < clean.size(); ++n) {
        const Service service = clean[n].service;
        const int occurrence = OccurrenceOf(clean, n);
        SCOPED_TRACE("call " + std::to_string(n + 1) + " failed: " + platform_seam::NameOf(service) + " #" +
                     std::to_string(occurrence + 1));
        const Expected expected = expectedFor(service, occurrence);
        platform_seam::Reset();
        addin_module::ResetJournal();
        platform_seam::FailCall(static_cast<int>(n + 1));

        const Outcome outcome = Run(document);
        const std::vector<platform_seam::Call> log = platform_seam::Log();
        EXPECT_EQ(platform_seam::FailedCalls(), 1);
        EXPECT_EQ(outcome.opened, expected.opened);
        EXPECT_EQ(outcome.reads, expected.reads);
        if (expected.opened) {
            EXPECT_EQ(outcome.text, payload);
        }
        EXPECT_EQ(outcome.closed, 1);
        const QelStandInJournal journal = Journal();
        EXPECT_EQ(journal.convertCalls, expected.converted ? 1 : 0);
        EXPECT_EQ(journal.textPathExistedCalls, expected.textPathExisted ? 1 : 0);
        EXPECT_THAT(Deletions(log), ElementsAreArray(expected.deletions));

        // Each file of the document is deleted under the one name it was given.
        std::vector<std::string> deleted;
        for (const platform_seam::Call& call : log) {
            if (call.service == Service::DeleteFileA) deleted.push_back(call.path);
        }
        std::sort(deleted.begin(), deleted.end());
        EXPECT_EQ(std::adjacent_find(deleted.begin(), deleted.end()), deleted.end()) << "a file deleted twice";

        const std::vector<std::string> files = tmp->Files();
        if (expected.left == nullptr) {
            EXPECT_THAT(files, IsEmpty()) << "files left";
        } else {
            // A failed deletion leaves exactly the file it failed to delete.
            std::string failedPath;
            for (const platform_seam::Call& call : log) {
                if (call.service == Service::DeleteFileA && call.failed) failedPath = call.path;
            }
            EXPECT_THAT(files, ElementsAre(BaseName(failedPath)));
            EXPECT_EQ(KindOf(failedPath), expected.left);
            std::filesystem::remove(failedPath);
        }
        EXPECT_EQ(host.liveBlocks(), 1u) << "blocks left besides the instance";
    }
}

TEST_F(ConversionSeamTest, EachServiceFailingForGoodFailsCleanly) {
    // FailAll: every call of one service fails, as a full disk or a broken directory would.
    const Service services[] = {Service::GetTempPathA, Service::GetTempFileNameA, Service::CreateFileA,
                                Service::WriteFile,    Service::CloseHandle,      Service::GetFileAttributesA,
                                Service::ReadFile};
    const std::string document = documents::Make(std::string(3000, 'q'));
    for (Service service : services) {
        SCOPED_TRACE(platform_seam::NameOf(service));
        platform_seam::Reset();
        platform_seam::FailAll(service);
        const Outcome outcome = Run(document);
        EXPECT_EQ(outcome.closed, 1);
        EXPECT_NE(outcome.reads.find('f'), std::string::npos) << "no read failed: " << outcome.reads;
        EXPECT_EQ(outcome.text, "") << "text came through a failing " << platform_seam::NameOf(service);
        EXPECT_THAT(tmp->Files(), IsEmpty()) << "files left";
        EXPECT_EQ(host.liveBlocks(), 1u);
    }
}

TEST_F(ConversionSeamTest, AShortWriteFailsTheDocument) {
    const std::string document = documents::OfSize(3000);  // three writes
    for (int nth = 1; nth <= 3; ++nth) {
        SCOPED_TRACE("write " + std::to_string(nth) + " short");
        platform_seam::Reset();
        addin_module::ResetJournal();
        platform_seam::FailNth(Service::WriteFile, nth, Failure::kShort);
        fake_host::ScriptedSource source(document);
        DocumentState* state = Open(source);
        ASSERT_NE(state, nullptr);
        EXPECT_EQ(state->textFile, INVALID_HANDLE_VALUE) << "a truncated spool file was converted";
        EXPECT_EQ(source.readCalls(), nth) << "reading went on after the short write";
        EXPECT_EQ(Journal().convertCalls, 0);
        EXPECT_THAT(Deletions(platform_seam::Log()), ElementsAre("qel.tmp", "txt.tmp"));
        EXPECT_THAT(tmp->Files(), IsEmpty());
        TextChunk chunk = {};
        EXPECT_EQ(addin().ReadText(instance, state, &chunk), 0);
        EXPECT_EQ(addin().CloseDocument(instance, state), 1);
    }
}

TEST_F(ConversionSeamTest, ClosingAnEmptyStateMakesNoPlatformCall) {
    fake_host::ScriptedSource source(documents::Make("text", ";status=-3"));
    DocumentState* state = Open(source);
    ASSERT_NE(state, nullptr);
    ASSERT_EQ(state->textFile, INVALID_HANDLE_VALUE);
    const int before = platform_seam::TotalCalls();
    EXPECT_EQ(addin().CloseDocument(instance, state), 1);
    EXPECT_EQ(platform_seam::TotalCalls(), before);
}

TEST_F(ConversionSeamTest, ClosingWithNullServicesStillClosesAndDeletesTheTextFile) {
    fake_host::ScriptedSource source(documents::Make("text"));
    DocumentState* state = Open(source);
    ASSERT_NE(state, nullptr);
    const std::string reservedPath = state->textPath;
    platform_seam::Reset();
    EXPECT_EQ(addin().CloseDocument(nullptr, state), 0);
    EXPECT_EQ(platform_seam::Calls(Service::CloseHandle), 1);
    ASSERT_EQ(platform_seam::Log().size(), 3u);
    EXPECT_THAT(Deletions(platform_seam::Log()), ElementsAre("txt.txt", "txt.tmp"));
    EXPECT_EQ(platform_seam::Log()[2].path, reservedPath);
    EXPECT_EQ(addin().CloseDocument(instance, state), 1) << "releasing what is left";
    EXPECT_EQ(platform_seam::TotalCalls(), 3) << "the second close touched files";
}
