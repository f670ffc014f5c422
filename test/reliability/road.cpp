#include "road.h"

#include <algorithm>
#include <sstream>

#include "documents.h"

#if defined(_WIN32)
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#else
#include <dirent.h>
#endif

namespace road {
namespace {

void* const kSentinelData = reinterpret_cast<void*>(uintptr_t(0x5EED0001));
constexpr int32_t kSentinelLength = -7777;
constexpr size_t kChunkRead = ADDIN_MAX_CHUNK - 1;

template <typename... Parts>
void Report(Violations* out, const Parts&... parts) {
    std::ostringstream line;
    (line << ... << parts);
    out->push_back(line.str());
}

std::string Describe(const TextCall& call) {
    std::ostringstream line;
    line << "answered " << call.result << " with length "
         << (call.lengthUntouched ? std::string("untouched") : std::to_string(call.length)) << ", data "
         << (call.dataUntouched ? "untouched" : call.dataNull ? "null" : "set");
    return line.str();
}

// The first offset where two texts differ, for a message that says where the text went wrong.
size_t FirstDifference(const std::string& a, const std::string& b) {
    const size_t common = std::min(a.size(), b.size());
    return static_cast<size_t>(std::mismatch(a.begin(), a.begin() + common, b.begin()).first - a.begin());
}

void CheckTextEquals(const std::string& got, const std::string& expected, Violations* out) {
    if (got == expected) return;
    Report(out, "text of ", got.size(), " bytes differs from the expected ", expected.size(),
           " bytes at offset ", FirstDifference(got, expected));
}

void CheckEnd(const Outcome& outcome, size_t index, Violations* out) {
    if (index >= outcome.reads.size()) {
        Report(out, "ReadText call ", index + 1, " was never made: the text did not end");
        return;
    }
    const TextCall& call = outcome.reads[index];
    if (call.result != 1 || call.length != 0 || !call.dataUntouched) {
        Report(out, "ReadText call ", index + 1, " ", Describe(call), "; expected the end (1, length 0, data untouched)");
    }
}

// How the add-in must cut `text` into chunks: full reads, each completed by one byte when it
// would otherwise end inside a double-byte character and more text follows.
std::vector<int32_t> ExpectedChunks(const std::string& text, const std::array<bool, 256>& leadBytes) {
    std::vector<int32_t> lengths;
    size_t start = 0;
    while (start < text.size()) {
        size_t n = std::min(kChunkRead, text.size() - start);
        if (n == kChunkRead && start + n < text.size() && SplitsCharacter(text, start + n, leadBytes)) ++n;
        lengths.push_back(static_cast<int32_t>(n));
        start += n;
    }
    return lengths;
}

std::string Join(const std::vector<int32_t>& lengths) {
    std::ostringstream line;
    for (size_t i = 0; i < lengths.size(); ++i) line << (i ? "," : "") << lengths[i];
    return line.str();
}

}  // namespace

std::string Document::Bytes() const {
    if (raw) return *raw;
    std::string options;
    if (answer) options += ";answer=" + std::to_string(*answer);
    if (status) options += ";status=" + std::to_string(*status);
    if (!makeText) options += ";text=none";
    return documents::Make(payload, options);
}

std::optional<std::string> Document::TextOf(size_t delivered) const {
    if (raw) return std::nullopt;
    const std::string bytes = Bytes();
    const size_t header = bytes.find('\n') + 1;
    // Cut inside the header line, it is no document to the library.
    if (delivered < header || status.value_or(0) < 0 || !makeText) return std::nullopt;
    return bytes.substr(header, std::min(delivered, bytes.size()) - header);
}

Outcome Run(const AddinInterface& addin, Host& host, size_t maxReads) {
    const auto platformCalls = [&host] { return host.platformCalls ? host.platformCalls() : 0; };
    Outcome outcome;
    HostServices* instance = addin.CreateInstance(host.allocator->services(), nullptr);
    outcome.created = instance != nullptr;
    if (instance == nullptr) return outcome;
    outcome.recognized = addin.Recognize(nullptr, host.recognizeSource->source(), nullptr);

    outcome.openBegin = platformCalls();
    outcome.openAllocationsBegin = host.allocator->allocateCalls();
    DocumentState* state = addin.OpenDocument(instance, host.openSource->source(), nullptr, nullptr);
    outcome.openEnd = platformCalls();
    outcome.openAllocationsEnd = host.allocator->allocateCalls();
    outcome.opened = state != nullptr;
    if (state != nullptr) {
        int zeros = 0;
        while (outcome.reads.size() < maxReads) {
            TextChunk chunk;
            chunk.data = kSentinelData;
            chunk.length = kSentinelLength;
            TextCall call;
            call.platformBegin = platformCalls();
            call.allocationsBegin = host.allocator->allocateCalls();
            call.result = addin.ReadText(instance, state, &chunk);
            call.platformEnd = platformCalls();
            call.allocationsEnd = host.allocator->allocateCalls();
            call.length = chunk.length;
            call.dataNull = chunk.data == nullptr;
            call.dataUntouched = chunk.data == kSentinelData;
            call.lengthUntouched = chunk.length == kSentinelLength;
            outcome.reads.push_back(call);
            if (call.result == 0) {
                if (++zeros == 2) break;
                continue;
            }
            zeros = 0;
            if (chunk.length == 0) break;
            outcome.chunkLengths.push_back(chunk.length);
            if (chunk.length > 0 && chunk.length <= ADDIN_MAX_CHUNK && chunk.data != nullptr &&
                chunk.data != kSentinelData) {
                outcome.text.append(static_cast<const char*>(chunk.data), static_cast<size_t>(chunk.length));
            }
            // The chunk is the host's now; a pointer that is no block of its own counts as a bad release.
            if (chunk.data != nullptr && chunk.data != kSentinelData) host.allocator->ReleaseOwned(chunk.data);
        }
        outcome.closeBegin = platformCalls();
        outcome.closed = addin.CloseDocument(instance, state);
        outcome.closeEnd = platformCalls();
    }
    outcome.destroyed = addin.DestroyInstance(instance);
    return outcome;
}

size_t MaxReadsFor(size_t size) { return size / (kChunkRead - 1) + 8; }

void CheckNoText(const Outcome& outcome, Violations* out) {
    if (!outcome.opened) {
        Report(out, "OpenDocument gave no state");
        return;
    }
    if (outcome.reads.size() != 2) {
        Report(out, "expected two ReadText calls answering 0, the host made ", outcome.reads.size());
    }
    for (size_t i = 0; i < outcome.reads.size() && i < 2; ++i) {
        const TextCall& call = outcome.reads[i];
        if (call.result != 0 || !call.dataUntouched || !call.lengthUntouched) {
            Report(out, "ReadText call ", i + 1, " on a state without text ", Describe(call),
                   "; expected 0 with the chunk untouched");
        }
    }
    if (!outcome.text.empty()) Report(out, "a state without text delivered ", outcome.text.size(), " bytes");
}

void CheckText(const Outcome& outcome, const std::string& text, const std::array<bool, 256>* leadBytes,
               Violations* out) {
    if (!outcome.opened) {
        Report(out, "OpenDocument gave no state");
        return;
    }
    for (size_t i = 0; i + 1 < outcome.reads.size(); ++i) {
        const TextCall& call = outcome.reads[i];
        if (call.result != 1 || call.length <= 0 || call.length > ADDIN_MAX_CHUNK || call.dataNull ||
            call.dataUntouched) {
            Report(out, "ReadText call ", i + 1, " ", Describe(call), "; expected a chunk of 1 to 10240 bytes");
        }
    }
    CheckEnd(outcome, outcome.reads.empty() ? 0 : outcome.reads.size() - 1, out);
    CheckTextEquals(outcome.text, text, out);
    if (leadBytes != nullptr && outcome.text == text) {
        const std::vector<int32_t> expected = ExpectedChunks(text, *leadBytes);
        if (outcome.chunkLengths != expected) {
            Report(out, "chunks of [", Join(outcome.chunkLengths), "] bytes; expected [", Join(expected), "]");
        }
    }
}

void CheckCutAt(const Outcome& outcome, const Outcome& baseline, size_t failedCall, bool allocation,
                Violations* out) {
    if (!outcome.opened) {
        Report(out, "OpenDocument gave no state");
        return;
    }
    if (outcome.reads.size() != failedCall + 1) {
        Report(out, "the host made ", outcome.reads.size(), " ReadText calls; expected ", failedCall + 1,
               " (a failure at call ", failedCall, ", then the end)");
    }
    size_t delivered = 0;
    for (size_t i = 0; i + 1 < failedCall && i < outcome.reads.size(); ++i) {
        const TextCall& call = outcome.reads[i];
        const int32_t expected = i < baseline.chunkLengths.size() ? baseline.chunkLengths[i] : -1;
        if (call.result != 1 || call.length != expected) {
            Report(out, "ReadText call ", i + 1, " ", Describe(call), "; expected a chunk of ", expected, " bytes");
        }
        if (expected > 0) delivered += static_cast<size_t>(expected);
    }
    if (failedCall - 1 < outcome.reads.size()) {
        const TextCall& call = outcome.reads[failedCall - 1];
        const bool asExpected = call.result == 0 &&
                                (allocation ? call.dataNull : call.dataUntouched && call.lengthUntouched);
        if (!asExpected) {
            Report(out, "ReadText call ", failedCall, " ", Describe(call), "; expected 0 with ",
                   allocation ? "data null" : "the chunk untouched");
        }
    }
    CheckEnd(outcome, failedCall, out);
    CheckTextEquals(outcome.text, baseline.text.substr(0, delivered), out);
}

void CheckPrefixOf(const Outcome& outcome, const std::optional<std::string>& text, Violations* out) {
    if (!outcome.opened) return;
    if (!text) {
        CheckNoText(outcome, out);
        return;
    }
    const auto& reads = outcome.reads;
    const bool noText = reads.size() == 2 && reads[0].result == 0 && reads[1].result == 0;
    for (size_t i = 0; i < reads.size() && !noText; ++i) {
        const TextCall& call = reads[i];
        const bool last = i + 1 == reads.size();
        if (call.result == 0) {
            if (!call.lengthUntouched || (!call.dataUntouched && !call.dataNull)) {
                Report(out, "ReadText call ", i + 1, " ", Describe(call), "; a failure leaves the chunk untouched or data null");
            }
            if (last) Report(out, "ReadText call ", i + 1, " failed and the host got no end after it");
            else CheckEnd(outcome, i + 1, out);
            break;
        }
        if (call.length == 0) {
            if (!last) Report(out, "ReadText call ", i + 1, " ended the text and the host read on");
            if (!call.dataUntouched) Report(out, "ReadText call ", i + 1, " ended the text and touched data");
            break;
        }
        if (call.length < 0 || call.length > ADDIN_MAX_CHUNK || call.dataNull || call.dataUntouched) {
            Report(out, "ReadText call ", i + 1, " ", Describe(call), "; expected a chunk of 1 to 10240 bytes");
        }
        if (last) Report(out, "the text did not end within ", reads.size(), " ReadText calls");
    }
    if (noText) {
        for (size_t i = 0; i < 2; ++i) {
            if (!reads[i].dataUntouched || !reads[i].lengthUntouched) {
                Report(out, "ReadText call ", i + 1, " on a state without text ", Describe(reads[i]));
            }
        }
    }
    if (text->compare(0, outcome.text.size(), outcome.text) != 0 || outcome.text.size() > text->size()) {
        Report(out, "text of ", outcome.text.size(), " bytes is no prefix of the expected ", text->size(),
               " bytes; it differs at offset ", FirstDifference(outcome.text, *text));
    }
}

int OpenHandles() {
#if defined(_WIN32)
    DWORD count = 0;
    return GetProcessHandleCount(GetCurrentProcess(), &count) ? static_cast<int>(count) : -1;
#else
    DIR* directory = opendir("/proc/self/fd");
    if (directory == nullptr) return -1;
    int count = 0;
    while (readdir(directory) != nullptr) ++count;
    closedir(directory);
    return count;
#endif
}

bool SplitsCharacter(const std::string& text, size_t at, const std::array<bool, 256>& leadBytes) {
    size_t i = 0;
    while (i < at) i += leadBytes[static_cast<unsigned char>(text[i])] ? 2 : 1;
    return i > at;
}

}  // namespace road
