// Double-byte text through the real ANSI code page of the system: every chunk decodes on its own
// and the chunks together are the text. Runs when the code page is 932 or 936 (ctest runs this
// suite under LC_ALL=ja_JP.UTF-8 and LC_ALL=zh_CN.GBK); skips for any other.
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "document_road.h"

using ::testing::ElementsAreArray;

namespace {

bool Decodes(unsigned codePage, const std::string& bytes) {
    if (bytes.empty()) return true;
    return MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, bytes.data(), static_cast<int>(bytes.size()),
                               nullptr, 0) > 0;
}

}  // namespace

class CodePageTest : public DocumentTest {
protected:
    void SetUp() override {
        acp_ = GetACP();
        if (acp_ == 932) {
            page_ = &dbcs::CodePage932();
        } else if (acp_ == 936) {
            page_ = &dbcs::CodePage936();
        } else {
            GTEST_SKIP() << "the ANSI code page is " << acp_ << ", not 932 or 936";
        }
        for (int b = 0; b < 256; ++b) lead_[b] = IsDBCSLeadByte(static_cast<BYTE>(b)) != FALSE;
        DocumentTest::SetUp();
    }

    void TearDown() override {
        if (page_ != nullptr) DocumentTest::TearDown();
    }

    // Every chunk whole characters of the page, and together the text.
    void ExpectWholeCharacters(const std::vector<std::string>& chunks, const std::string& text) {
        for (size_t i = 0; i < chunks.size(); ++i) {
            EXPECT_TRUE(Decodes(acp_, chunks[i]))
                << "chunk " << i << " of " << chunks.size() << " does not decode";
        }
        EXPECT_TRUE(Joined(chunks) == text) << "the chunks put together differ from the text";
    }

    unsigned acp_ = 0;
    const dbcs::CodePage* page_ = nullptr;
    dbcs::LeadBytes lead_{};
};

TEST_F(CodePageTest, TheSystemPageIsTheOneTheCasesAreWrittenFor) {
    EXPECT_TRUE(lead_[page_->plain.first]);
    EXPECT_FALSE(lead_[page_->plain.second]);
    EXPECT_TRUE(lead_[page_->leadTrail.first]);
    EXPECT_TRUE(lead_[page_->leadTrail.second]);
    if (page_->single >= 0) {
        EXPECT_FALSE(lead_[page_->single]);
    }
    EXPECT_TRUE(Decodes(acp_, dbcs::Bytes(page_->plain) + dbcs::Bytes(page_->leadTrail)));
    // The decoding check has teeth: a lead byte without its trail does not decode.
    EXPECT_FALSE(Decodes(acp_, std::string("ab") + static_cast<char>(page_->plain.first)));
}

TEST_F(CodePageTest, ChunksEndOnWholeCharactersAtEveryBoundary) {
    for (const dbcs::BoundaryCase& c : dbcs::BoundaryCases(*page_)) {
        SCOPED_TRACE(c.name);
        const std::vector<std::string> chunks = TextOf(c.text);
        EXPECT_THAT(LengthsOf(chunks), ElementsAreArray(c.chunks));
        if (c.valid) {
            ExpectWholeCharacters(chunks, c.text);
        } else {
            EXPECT_TRUE(Joined(chunks) == c.text);
        }
    }
}

TEST_F(CodePageTest, GeneratedTextComesThroughInWholeCharacters) {
    std::vector<dbcs::Pair> doubles;
    for (const dbcs::Pair& p : dbcs::DoubleByteCandidates(lead_, acp_)) {
        if (Decodes(acp_, dbcs::Bytes(p))) doubles.push_back(p);
    }
    std::vector<unsigned char> singles;
    if (page_->single >= 0) {
        for (unsigned b = 0xA1; b <= 0xDF; ++b) singles.push_back(static_cast<unsigned char>(b));
    }
    ASSERT_GT(doubles.size(), 1000u);

    struct Case {
        uint32_t seed;
        size_t size;
    };
    const Case cases[] = {{1, 30000}, {2, 100000}, {3, 250000}, {4, 3u << 20}};
    for (const Case& c : cases) {
        SCOPED_TRACE("seed " + std::to_string(c.seed) + ", " + std::to_string(c.size) + " bytes");
        const std::string text = dbcs::Generate(c.seed, c.size, lead_, doubles, singles);
        ASSERT_TRUE(Decodes(acp_, text)) << "the generated text is not valid text of the page";
        const std::vector<std::string> chunks = TextOf(text);
        ExpectWholeCharacters(chunks, text);
        size_t extended = 0;
        for (size_t i = 0; i < chunks.size(); ++i) {
            if (chunks[i].size() == static_cast<size_t>(kChunkRead) + 1) ++extended;
            if (i + 1 < chunks.size()) {
                EXPECT_GE(chunks[i].size(), static_cast<size_t>(kChunkRead))
                    << "chunk " << i << " ended early";
            }
        }
        std::printf("code page %u, seed %u: %zu bytes in %zu chunks, %zu of them extended by a trail byte\n",
                    acp_, c.seed, text.size(), chunks.size(), extended);
    }
}
