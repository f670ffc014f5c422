// The road of one document through the add-in, for the conversion and text suites: open it from a
// source, read its text in chunks as a host does, and the double-byte texts whose chunk ends
// matter. Shared by the module suites and the seam suites.
#ifndef QELALTF_TEST_DOCUMENT_ROAD_H
#define QELALTF_TEST_DOCUMENT_ROAD_H

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "addin_test.h"
#include "documents.h"
#include "extract/document_state.h"

// The largest read of one chunk; a chunk grows past it by one completing byte.
constexpr int32_t kChunkRead = ADDIN_MAX_CHUNK - 1;

class DocumentTest : public AddinTest {
protected:
    DocumentState* Open(fake_host::ScriptedSource& source) {
        return addin().OpenDocument(instance, source.source(), nullptr, nullptr);
    }

    // Reads chunks until the end of the text, as a host does, giving each block back to the
    // host's allocator. A failed call ends the reading with a test failure.
    std::vector<std::string> ReadChunks(DocumentState* state) {
        std::vector<std::string> chunks;
        for (;;) {
            TextChunk chunk = {};
            const int32_t result = addin().ReadText(instance, state, &chunk);
            if (result != 1) {
                ADD_FAILURE() << "ReadText answered " << result << " after " << chunks.size() << " chunks";
                break;
            }
            if (chunk.length == 0) break;
            if (chunk.length < 0 || chunk.length > ADDIN_MAX_CHUNK || chunk.data == nullptr) {
                ADD_FAILURE() << "chunk " << chunks.size() << " has length " << chunk.length << " and data "
                              << chunk.data;
                break;
            }
            chunks.emplace_back(static_cast<const char*>(chunk.data), static_cast<size_t>(chunk.length));
            host.ReleaseOwned(chunk.data);
        }
        return chunks;
    }

    // Opens a document whose text is `payload`, reads all its text and closes it.
    std::vector<std::string> TextOf(const std::string& payload) {
        fake_host::ScriptedSource source(documents::Make(payload));
        DocumentState* state = Open(source);
        if (state == nullptr || state->textFile == INVALID_HANDLE_VALUE) {
            ADD_FAILURE() << "the document did not open";
            if (state != nullptr) addin().CloseDocument(instance, state);
            return {};
        }
        std::vector<std::string> chunks = ReadChunks(state);
        EXPECT_EQ(addin().CloseDocument(instance, state), 1);
        return chunks;
    }
};

inline std::string Joined(const std::vector<std::string>& chunks) {
    std::string text;
    for (const std::string& chunk : chunks) text += chunk;
    return text;
}

inline std::vector<int32_t> LengthsOf(const std::vector<std::string>& chunks) {
    std::vector<int32_t> lengths;
    for (const std::string& chunk : chunks) lengths.push_back(static_cast<int32_t>(chunk.size()));
    return lengths;
}

// Double-byte texts: the cases at a chunk's end, and generated valid text, for one code page.
namespace dbcs {

using LeadBytes = std::array<bool, 256>;
using Pair = std::pair<unsigned char, unsigned char>;

// What the cases need of a double-byte code page.
struct CodePage {
    unsigned number;
    Pair plain;      // a double-byte character whose trail byte is no lead value
    Pair leadTrail;  // one whose trail byte has a lead value too
    int single;      // a single byte above 0x7F that is no lead value (half-width katakana), or -1
};

inline const CodePage& CodePage932() {
    static const CodePage page = {932, {0x82, 0xA0}, {0x82, 0x9F}, 0xB1};  // あ, ぁ, ｱ
    return page;
}

inline const CodePage& CodePage936() {
    static const CodePage page = {936, {0x81, 0x40}, {0xB0, 0xA1}, -1};  // 丂, 啊
    return page;
}

inline std::string Bytes(Pair pair) {
    return {static_cast<char>(pair.first), static_cast<char>(pair.second)};
}

inline std::string Repeat(const std::string& piece, size_t times) {
    std::string out;
    for (size_t i = 0; i < times; ++i) out += piece;
    return out;
}

struct BoundaryCase {
    std::string name;
    std::string text;
    std::vector<int32_t> chunks;  // the lengths the text comes in
    bool valid;                   // whole characters of the code page only
};

// Texts whose first read (or a later one) ends at or inside a run of lead-valued bytes.
inline std::vector<BoundaryCase> BoundaryCases(const CodePage& page) {
    const std::string plain = Bytes(page.plain);
    const std::string leadTrail = Bytes(page.leadTrail);
    const std::string lead(1, static_cast<char>(page.plain.first));
    auto filler = [](size_t n) { return std::string(n, 'a'); };
    std::vector<BoundaryCase> cases = {
        {"lead byte truly last in the read",
         filler(kChunkRead - 1) + plain + "tail",
         {kChunkRead + 1, 4},
         true},
        {"trail byte with a lead value last in the read",
         filler(kChunkRead - 2) + leadTrail + "tail",
         {kChunkRead, 4},
         true},
        {"text of one read ending in a lead byte", filler(kChunkRead - 1) + lead, {kChunkRead}, false},
        {"lead byte last in the second read, after an extended chunk",
         filler(kChunkRead - 1) + plain + filler(kChunkRead - 1) + plain + "tail",
         {kChunkRead + 1, kChunkRead + 1, 4},
         true},
        {"lead byte last in the second read, after a plain chunk",
         filler(kChunkRead) + filler(kChunkRead - 1) + plain + "tail",
         {kChunkRead, kChunkRead + 1, 4},
         true},
        {"the whole read one run of lead values, odd",
         Repeat(leadTrail, kChunkRead / 2 + 1) + "tail",
         {kChunkRead + 1, 4},
         true},
        {"the whole read but one byte a run of lead values, even",
         filler(1) + Repeat(leadTrail, kChunkRead / 2 + 1) + "tail",
         {kChunkRead, 2 + 4},
         true},
    };
    // A run of k lead-valued bytes ends the read: pairs of a lead byte and a lead-valued trail,
    // cut after k bytes. Odd k leaves a lead byte last; even k a whole character.
    for (size_t k : {1, 2, 3, 4, 9, 10, 101, 200}) {
        const size_t pairs = k / 2 + 1;
        const std::string text = filler(kChunkRead - k) + Repeat(leadTrail, pairs) + "tail";
        const int32_t first = (k % 2 == 1) ? kChunkRead + 1 : kChunkRead;
        cases.push_back({"run of " + std::to_string(k) + " lead values at the end of the read",
                         text,
                         {first, static_cast<int32_t>(text.size()) - first},
                         true});
    }
    if (page.single >= 0) {
        const std::string single(1, static_cast<char>(page.single));
        cases.push_back({"half-width katakana before a lead byte last in the read",
                         filler(kChunkRead - 2) + single + plain + "tail",
                         {kChunkRead + 1, 4},
                         true});
        cases.push_back({"half-width katakana last in the read",
                         filler(kChunkRead - 1) + single + plain,
                         {kChunkRead, 2},
                         true});
    }
    return cases;
}

// The lead bytes of the page, and the double-byte characters the generator may use, by the
// code page's byte ranges.
inline std::vector<Pair> DoubleByteCandidates(const LeadBytes& lead, unsigned codePage) {
    const unsigned lastTrail = codePage == 932 ? 0xFC : 0xFE;
    std::vector<Pair> pairs;
    for (unsigned l = 0x81; l <= 0xFE; ++l) {
        if (!lead[l]) continue;
        for (unsigned t = 0x40; t <= lastTrail; ++t) {
            if (t != 0x7F) pairs.emplace_back(static_cast<unsigned char>(l), static_cast<unsigned char>(t));
        }
    }
    return pairs;
}

// Valid text of about `size` bytes: ASCII, the page's single bytes above 0x7F, and double-byte
// characters, half of them with a lead-valued trail, so that long runs of lead values are common.
inline std::string Generate(uint32_t seed, size_t size, const LeadBytes& lead,
                            const std::vector<Pair>& doubles, const std::vector<unsigned char>& singles) {
    std::vector<Pair> leadTrail, plainTrail;
    for (const Pair& p : doubles) (lead[p.second] ? leadTrail : plainTrail).push_back(p);
    std::mt19937 random(seed);
    auto pick = [&random](size_t n) { return std::uniform_int_distribution<size_t>(0, n - 1)(random); };
    std::string text;
    text.reserve(size + 1);
    while (text.size() < size) {
        const size_t kind = pick(20);
        if (kind < 5) {
            text.push_back(static_cast<char>(0x20 + pick(0x5F)));
        } else if (kind < 8 && !singles.empty()) {
            text.push_back(static_cast<char>(singles[pick(singles.size())]));
        } else {
            const std::vector<Pair>& from = (kind % 2 == 0 || plainTrail.empty()) ? leadTrail : plainTrail;
            const Pair& p = from[pick(from.size())];
            text.push_back(static_cast<char>(p.first));
            text.push_back(static_cast<char>(p.second));
        }
    }
    return text;
}

// Where a walk of whole characters from the start of `bytes` fails to end at its end: the offset
// of a lead byte cut off by the end, or -1 when the bytes are whole characters.
inline long CutCharacterAt(const std::string& bytes, const LeadBytes& lead) {
    size_t i = 0;
    while (i < bytes.size()) {
        if (!lead[static_cast<unsigned char>(bytes[i])]) {
            ++i;
        } else if (i + 1 < bytes.size()) {
            i += 2;
        } else {
            return static_cast<long>(i);
        }
    }
    return -1;
}

}  // namespace dbcs

#endif
