// The text chunk reader under the seam: failed and short reads of the text file, and the
// double-byte boundary cases with the lead bytes of real code pages.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "../module/document_road.h"
#include "platform_seam.h"

using platform_seam::Failure;
using platform_seam::Service;
using ::testing::ElementsAre;
using ::testing::ElementsAreArray;

namespace {

void* Sentinel() {
    return reinterpret_cast<void*>(uintptr_t(0x5EED));
}

std::string Letters(size_t size) {
    std::string text(size, ' ');
    for (size_t i = 0; i < size; ++i) text[i] = static_cast<char>('a' + i % 26);
    return text;
}

}  // namespace

class ReadTextSeamTest : public platform_seam::WithPlatformSeam<DocumentTest> {
protected:
    DocumentState* OpenText(const std::string& text) {
        source_ = std::make_unique<fake_host::ScriptedSource>(documents::Make(text));
        DocumentState* state = Open(*source_);
        EXPECT_NE(state, nullptr);
        EXPECT_NE(state->textFile, INVALID_HANDLE_VALUE);
        return state;
    }

    std::unique_ptr<fake_host::ScriptedSource> source_;
};

TEST_F(ReadTextSeamTest, AFailedReadIsZeroThenOneEndThenTheTextGoesOn) {
    const std::string text = Letters(3 * kChunkRead);
    for (int nth : {1, 2, 3}) {
        SCOPED_TRACE("read " + std::to_string(nth) + " fails");
        DocumentState* state = OpenText(text);
        platform_seam::FailNth(Service::ReadFile, nth);
        std::vector<std::string> before;
        for (int i = 1; i < nth; ++i) {
            TextChunk chunk = {};
            ASSERT_EQ(addin().ReadText(instance, state, &chunk), 1);
            before.emplace_back(static_cast<const char*>(chunk.data), static_cast<size_t>(chunk.length));
            host.ReleaseOwned(chunk.data);
        }
        const int allocations = host.allocateCalls();
        TextChunk chunk = {Sentinel(), 77};
        EXPECT_EQ(addin().ReadText(instance, state, &chunk), 0);
        EXPECT_EQ(chunk.data, Sentinel()) << "a failed read touched the chunk";
        EXPECT_EQ(chunk.length, 77) << "a failed read touched the chunk";
        EXPECT_EQ(state->readFailed, 1);
        EXPECT_EQ(host.allocateCalls(), allocations) << "memory taken for a failed read";

        EXPECT_EQ(addin().ReadText(instance, state, &chunk), 1);
        EXPECT_EQ(chunk.length, 0);
        EXPECT_EQ(chunk.data, Sentinel());
        EXPECT_EQ(state->readFailed, 0);

        // The failed read took nothing from the file: the rest of the text follows whole.
        const std::vector<std::string> after = ReadChunks(state);
        EXPECT_EQ(Joined(before) + Joined(after), text);
        EXPECT_EQ(addin().CloseDocument(instance, state), 1);
        platform_seam::Reset();
    }
}

TEST_F(ReadTextSeamTest, AShortReadGivesAShorterChunkAndLosesNothing) {
    const std::string text = Letters(2 * kChunkRead);
    DocumentState* state = OpenText(text);
    platform_seam::FailNth(Service::ReadFile, 1, Failure::kShort);
    const std::vector<std::string> chunks = ReadChunks(state);
    EXPECT_THAT(LengthsOf(chunks), ElementsAre(kChunkRead - 1, kChunkRead, 1));
    EXPECT_EQ(Joined(chunks), text);
    EXPECT_EQ(addin().CloseDocument(instance, state), 1);
}

TEST_F(ReadTextSeamTest, AFailedCompletingReadKeepsTheChunkAsItWas) {
    platform_seam::SetLeadBytes(platform_seam::LeadBytesOf(932));
    const std::string text = std::string(kChunkRead - 1, 'a') + "\x82\xA0" + "tail";
    DocumentState* state = OpenText(text);
    platform_seam::FailNth(Service::ReadFile, 2);
    const std::vector<std::string> chunks = ReadChunks(state);
    EXPECT_THAT(LengthsOf(chunks), ElementsAre(kChunkRead, 5)) << "the chunk keeps its 10239 bytes";
    EXPECT_EQ(Joined(chunks), text);
    EXPECT_EQ(addin().CloseDocument(instance, state), 1);
}

TEST_F(ReadTextSeamTest, ASingleBytePageAsksOncePerFullReadAndNeverExtends) {
    platform_seam::SetLeadBytes(dbcs::LeadBytes{});
    const std::string text(2 * kChunkRead + 5, '\x82');  // a lead value in every double-byte page
    DocumentState* state = OpenText(text);
    platform_seam::Reset();  // counts from here; the table stays empty
    platform_seam::SetLeadBytes(dbcs::LeadBytes{});
    const std::vector<std::string> chunks = ReadChunks(state);
    EXPECT_THAT(LengthsOf(chunks), ElementsAre(kChunkRead, kChunkRead, 5));
    EXPECT_EQ(Joined(chunks), text);
    EXPECT_EQ(platform_seam::Calls(Service::IsDBCSLeadByte), 2)
        << "one question per full read, none for a short one";
    EXPECT_EQ(addin().CloseDocument(instance, state), 1);
}

class ReadTextCodePageSeamTest : public ReadTextSeamTest, public ::testing::WithParamInterface<unsigned> {
protected:
    const dbcs::CodePage& Page() const {
        return GetParam() == 932 ? dbcs::CodePage932() : dbcs::CodePage936();
    }
};

TEST_P(ReadTextCodePageSeamTest, ChunksEndOnWholeCharactersAtEveryBoundary) {
    const dbcs::LeadBytes lead = platform_seam::LeadBytesOf(GetParam());
    platform_seam::SetLeadBytes(lead);
    for (const dbcs::BoundaryCase& c : dbcs::BoundaryCases(Page())) {
        SCOPED_TRACE(c.name);
        const std::vector<std::string> chunks = TextOf(c.text);
        EXPECT_THAT(LengthsOf(chunks), ElementsAreArray(c.chunks));
        EXPECT_TRUE(Joined(chunks) == c.text) << "the chunks put together differ from the text";
        if (!c.valid) continue;
        for (size_t i = 0; i < chunks.size(); ++i) {
            EXPECT_EQ(dbcs::CutCharacterAt(chunks[i], lead), -1) << "chunk " << i << " cuts a character";
        }
    }
}

TEST_P(ReadTextCodePageSeamTest, GeneratedTextComesThroughInWholeCharacters) {
    const dbcs::LeadBytes lead = platform_seam::LeadBytesOf(GetParam());
    platform_seam::SetLeadBytes(lead);
    const std::vector<dbcs::Pair> doubles = dbcs::DoubleByteCandidates(lead, GetParam());
    std::vector<unsigned char> singles;
    if (Page().single >= 0) {
        for (unsigned b = 0xA1; b <= 0xDF; ++b) singles.push_back(static_cast<unsigned char>(b));
    }
    for (uint32_t seed : {11u, 12u, 13u}) {
        SCOPED_TRACE("seed " + std::to_string(seed));
        const std::string text = dbcs::Generate(seed, 200000 + seed * 977, lead, doubles, singles);
        ASSERT_EQ(dbcs::CutCharacterAt(text, lead), -1);
        const std::vector<std::string> chunks = TextOf(text);
        EXPECT_TRUE(Joined(chunks) == text) << "the chunks put together differ from the text";
        for (size_t i = 0; i < chunks.size(); ++i) {
            EXPECT_EQ(dbcs::CutCharacterAt(chunks[i], lead), -1) << "chunk " << i << " cuts a character";
        }
    }
}

INSTANTIATE_TEST_SUITE_P(CodePages, ReadTextCodePageSeamTest, ::testing::Values(932u, 936u),
                         [](const ::testing::TestParamInfo<unsigned>& info) {
                             return "CP" + std::to_string(info.param);
                         });
