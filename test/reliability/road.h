// The whole road of one document, driven as a host drives it (create an instance, recognize, open,
// read to the end, close, destroy), and the checks that the reliability suites and the fuzz target
// share. Nothing here depends on a test framework: a check returns what it found wrong, one line
// each, so that a suite can report it and the fuzzer can stop on it.
#ifndef QELALTF_TEST_RELIABILITY_ROAD_H
#define QELALTF_TEST_RELIABILITY_ROAD_H

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "addin_interface.h"
#include "fake_host.h"

namespace road {

// A document for the stand-in conversion library, with the answers it asks of the library.
struct Document {
    std::string payload;               // the text the library writes
    std::optional<int32_t> answer;     // recognition's answer, when not the library's default
    std::optional<int32_t> status;     // conversion's status, when not the library's default
    bool makeText = true;              // false: the library answers without making a text file
    std::optional<std::string> raw;    // bytes that are no document at all, instead of the above

    std::string Bytes() const;
    // The text the library makes of the first `delivered` bytes, or nothing when it makes none.
    std::optional<std::string> TextOf(size_t delivered) const;
};

// What the host sees of one ReadText call. The chunk is filled with a sentinel before each call,
// so that an untouched chunk can be told from a written one.
struct TextCall {
    int32_t result = 0;
    int32_t length = 0;
    bool dataNull = false;
    bool dataUntouched = false;    // as the host left them
    bool lengthUntouched = false;
    int platformBegin = 0;   // platform calls made before this call, and after it
    int platformEnd = 0;
    int allocationsBegin = 0;  // host Allocate calls made before this call, and after it
    int allocationsEnd = 0;
};

struct Outcome {
    bool created = false;
    int32_t recognized = -1;  // Recognize's answer
    bool opened = false;      // OpenDocument gave a state
    std::vector<TextCall> reads;
    std::string text;         // the chunks put together
    std::vector<int32_t> chunkLengths;
    int32_t closed = -1;
    int32_t destroyed = -1;
    int openBegin = 0, openEnd = 0;    // platform calls around OpenDocument
    int openAllocationsBegin = 0, openAllocationsEnd = 0;  // and Allocate calls
    int closeBegin = 0, closeEnd = 0;  // and around CloseDocument
};

// The host of one road: its allocator, a source for Recognize and a fresh one for OpenDocument
// (the add-in does not rewind a source), and, where a seam counts them, the platform calls made.
struct Host {
    fake_host::CountingAllocator* allocator;
    fake_host::ScriptedSource* recognizeSource;
    fake_host::ScriptedSource* openSource;
    std::function<int()> platformCalls;  // may be empty
};

// Runs the road once. ReadText is called until it reports the end, or answers 0 twice in a row
// (a state without text), or `maxReads` calls were made; every chunk is given back as the host's.
Outcome Run(const AddinInterface& addin, Host& host, size_t maxReads);

// A bound for ReadText calls on a text of `size` bytes that no correct add-in reaches.
size_t MaxReadsFor(size_t size);

using Violations = std::vector<std::string>;

// The state had no text: the first two ReadText calls answer 0 and leave the chunk untouched.
void CheckNoText(const Outcome& outcome, Violations* out);
// The whole of `text` came in order, each call answering 1, the last one the end. With
// `leadBytes`, also the chunks' sizes: every chunk but the last is a full read (10239 bytes, 10240
// when completed) and none ends inside a double-byte character, judged by scanning the text with
// that table.
void CheckText(const Outcome& outcome, const std::string& text, const std::array<bool, 256>* leadBytes,
               Violations* out);
// ReadText call `failedCall` (1 for the first) answered 0 after the chunks before it came as in
// `baseline`; with `allocation`, because its Allocate failed (data null), else because its read
// failed (chunk untouched). The next call reports the end.
void CheckCutAt(const Outcome& outcome, const Outcome& baseline, size_t failedCall, bool allocation,
                Violations* out);
// The text came as a run of chunks, possibly cut by one failure that is followed by the end, and
// is a prefix of `text` (or there was no text when `text` is empty of value).
void CheckPrefixOf(const Outcome& outcome, const std::optional<std::string>& text, Violations* out);

// The files and handles the process holds open: descriptors natively, handles on Windows.
int OpenHandles();

// Whether a double-byte character is split between `text[0..at)` and `text[at..)`.
bool SplitsCharacter(const std::string& text, size_t at, const std::array<bool, 256>& leadBytes);

}  // namespace road

#endif
