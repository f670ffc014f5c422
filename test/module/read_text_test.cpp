// Reading the text: chunks of at most 10239 bytes in fresh host blocks, an empty chunk at the end,
// and one failure turned into one end.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "document_road.h"

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::IsEmpty;

namespace {

// Printable ASCII, which no code page takes for a lead byte.
std::string TextOfSize(size_t size) {
    std::string text(size, ' ');
    for (size_t i = 0; i < size; ++i) text[i] = static_cast<char>('A' + (i * 7 + i / 26) % 26);
    return text;
}

void* Sentinel() {
    return reinterpret_cast<void*>(uintptr_t(0x5EED));
}

}  // namespace

using ReadTextTest = DocumentTest;

TEST_F(ReadTextTest, HandsTheTextOverInChunksOfAtMost10239) {
    struct Case {
        size_t size;
        std::vector<int32_t> chunks;
    };
    const Case cases[] = {
        {0, {}},
        {1, {1}},
        {10238, {10238}},
        {10239, {10239}},
        {10240, {10239, 1}},
        {20478, {10239, 10239}},
        {20479, {10239, 10239, 1}},
        {5 * 10239 + 17, {10239, 10239, 10239, 10239, 10239, 17}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("text of " + std::to_string(c.size) + " bytes");
        const std::string text = TextOfSize(c.size);
        const size_t allocationsBefore = host.sizes().size() + 1;  // and the document's state
        const std::vector<std::string> chunks = TextOf(text);
        EXPECT_THAT(LengthsOf(chunks), ElementsAreArray(c.chunks));
        EXPECT_EQ(Joined(chunks), text) << "the text changed on its way";

        // One Allocate per non-empty chunk, of exactly its length; none for the end.
        const std::vector<uint32_t> sizes = host.sizes();
        const std::vector<uint32_t> chunkSizes(sizes.begin() + static_cast<long>(allocationsBefore),
                                               sizes.end());
        EXPECT_THAT(chunkSizes, ElementsAreArray(std::vector<uint32_t>(c.chunks.begin(), c.chunks.end())));
    }
}

TEST_F(ReadTextTest, TheEndOfTheTextLeavesDataAsItWasAndRepeats) {
    fake_host::ScriptedSource source(documents::Make("short"));
    DocumentState* state = Open(source);
    ASSERT_NE(state, nullptr);
    EXPECT_EQ(Joined(ReadChunks(state)), "short");
    for (int i = 0; i < 2; ++i) {
        SCOPED_TRACE(i == 0 ? "first read past the end" : "second read past the end");
        TextChunk chunk = {Sentinel(), 77};
        EXPECT_EQ(addin().ReadText(instance, state, &chunk), 1);
        EXPECT_EQ(chunk.length, 0);
        EXPECT_EQ(chunk.data, Sentinel()) << "the end wrote chunk.data";
    }
    EXPECT_EQ(addin().CloseDocument(instance, state), 1);
}

TEST_F(ReadTextTest, ANullFromAllocateLosesThatChunkAndEndsTheText) {
    const std::string text = TextOfSize(3 * 10239 + 5);
    fake_host::ScriptedSource source(documents::Make(text));
    DocumentState* state = Open(source);
    ASSERT_NE(state, nullptr);

    TextChunk chunk = {};
    ASSERT_EQ(addin().ReadText(instance, state, &chunk), 1);
    ASSERT_EQ(chunk.length, 10239);
    EXPECT_EQ(std::string(static_cast<const char*>(chunk.data), 10239), text.substr(0, 10239));
    host.ReleaseOwned(chunk.data);

    host.FailAllocationAt(1);
    chunk = {Sentinel(), 77};
    EXPECT_EQ(addin().ReadText(instance, state, &chunk), 0);
    EXPECT_EQ(chunk.data, nullptr) << "chunk.data after a refused Allocate";
    EXPECT_EQ(chunk.length, 77) << "chunk.length after a refused Allocate";
    EXPECT_EQ(host.sizes().back(), 10239u);
    EXPECT_EQ(state->readFailed, 1);

    chunk = {Sentinel(), 77};
    const int allocations = host.allocateCalls();
    EXPECT_EQ(addin().ReadText(instance, state, &chunk), 1) << "the failure is followed by an end";
    EXPECT_EQ(chunk.length, 0);
    EXPECT_EQ(chunk.data, Sentinel());
    EXPECT_EQ(host.allocateCalls(), allocations);
    EXPECT_EQ(state->readFailed, 0) << "the end clears the latch";

    // Past the end the text goes on after the lost bytes.
    const std::vector<std::string> rest = ReadChunks(state);
    EXPECT_THAT(LengthsOf(rest), ElementsAre(10239, 5));
    EXPECT_EQ(Joined(rest), text.substr(2 * 10239));
    EXPECT_EQ(addin().CloseDocument(instance, state), 1);
}

TEST_F(ReadTextTest, ANullFromAllocateForTheLastChunkStillEnds) {
    fake_host::ScriptedSource source(documents::Make("only chunk"));
    DocumentState* state = Open(source);
    ASSERT_NE(state, nullptr);
    host.FailAllocationAt(1);
    TextChunk chunk = {};
    EXPECT_EQ(addin().ReadText(instance, state, &chunk), 0);
    EXPECT_THAT(ReadChunks(state), IsEmpty()) << "the lost chunk came back";
    EXPECT_EQ(addin().CloseDocument(instance, state), 1);
}

TEST_F(ReadTextTest, NullArgumentsAndAnEmptyStateLeaveTheChunkUntouched) {
    fake_host::ScriptedSource opened(documents::Make("text"));
    DocumentState* open = Open(opened);
    fake_host::ScriptedSource failed(documents::Make("text", ";status=-1"));
    DocumentState* empty = Open(failed);
    ASSERT_NE(open, nullptr);
    ASSERT_NE(empty, nullptr);
    ASSERT_EQ(empty->textFile, INVALID_HANDLE_VALUE);

    struct Case {
        const char* name;
        HostServices* services;
        DocumentState* state;
        bool withChunk;
    };
    const Case cases[] = {
        {"null services", nullptr, open, true},        {"null state", instance, nullptr, true},
        {"null chunk", instance, open, false},         {"empty state", instance, empty, true},
        {"empty state, twice", instance, empty, true},
    };
    const int allocations = host.allocateCalls();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TextChunk chunk = {Sentinel(), 77};
        EXPECT_EQ(addin().ReadText(c.services, c.state, c.withChunk ? &chunk : nullptr), 0);
        EXPECT_EQ(chunk.data, Sentinel());
        EXPECT_EQ(chunk.length, 77);
    }
    EXPECT_EQ(host.allocateCalls(), allocations);
    EXPECT_EQ(open->readFailed, 0) << "a refused call set the latch";
    EXPECT_EQ(Joined(ReadChunks(open)), "text") << "a refused call took text";

    EXPECT_EQ(addin().CloseDocument(instance, open), 1);
    EXPECT_EQ(addin().CloseDocument(instance, empty), 1);
}

TEST_F(ReadTextTest, ReadsThroughAnyServicesRecordOfTheHost) {
    // The chunks come from the record given to ReadText, not from the instance.
    fake_host::CountingAllocator other;
    fake_host::ScriptedSource source(documents::Make("text for another allocator"));
    DocumentState* state = Open(source);
    ASSERT_NE(state, nullptr);
    TextChunk chunk = {};
    ASSERT_EQ(addin().ReadText(other.services(), state, &chunk), 1);
    EXPECT_EQ(other.allocateCalls(), 1);
    EXPECT_EQ(other.liveBlocks(), 1u);
    other.ReleaseOwned(chunk.data);
    EXPECT_EQ(addin().CloseDocument(instance, state), 1);
}
