// Handing the text to the host: each call reads the next piece of the text file into a fresh host
// block, never ending a chunk between the two bytes of a double-byte character.
#include <string.h>

#include "extract/document_state.h"
#include "extract/entries.h"

namespace {

constexpr DWORD kChunkRead = ADDIN_MAX_CHUNK - 1;  // one place left for a completing trail byte

// Whether the last of `count` bytes begins a double-byte character. Every chunk starts on a
// character boundary, and a byte that is no lead value always ends a character, so the last byte
// is a lead byte exactly when the run of lead values that ends the read is odd in length. Each
// byte value is put to the code page once at most, so a run as long as the chunk costs no more
// than 256 calls; a single-byte page answers at the first.
bool EndsInLeadByte(const unsigned char* bytes, DWORD count) {
    if (!IsDBCSLeadByte(bytes[count - 1])) return false;
    enum : unsigned char { kUnasked, kLead, kNotLead };
    unsigned char asked[256] = {};
    asked[bytes[count - 1]] = kLead;
    DWORD run = 1;
    while (run < count) {
        const unsigned char byte = bytes[count - 1 - run];
        if (asked[byte] == kUnasked) asked[byte] = IsDBCSLeadByte(byte) ? kLead : kNotLead;
        if (asked[byte] != kLead) break;
        ++run;
    }
    return run % 2 == 1;
}

void EndOfText(DocumentState* state, TextChunk* chunk) {
    chunk->length = 0;
    state->readFailed = 0;
}

}  // namespace

int32_t ADDIN_CALL ReadText(HostServices* services, DocumentState* state, TextChunk* chunk) {
    if (services == nullptr || state == nullptr || chunk == nullptr) return 0;
    if (services->Allocate == nullptr) return 0;
    if (state->textFile == INVALID_HANDLE_VALUE) return 0;
    // One failure is followed by one end of text.
    if (state->readFailed) {
        EndOfText(state, chunk);
        return 1;
    }

    unsigned char buffer[ADDIN_MAX_CHUNK];
    DWORD count = 0;
    if (!ReadFile(state->textFile, buffer, kChunkRead, &count, nullptr)) {
        state->readFailed = 1;
        return 0;
    }
    if (count == 0) {
        EndOfText(state, chunk);
        return 1;
    }
    if (count == kChunkRead && EndsInLeadByte(buffer, count)) {
        DWORD completing = 0;
        // At the end of the file, or when the read fails, the chunk keeps what it has.
        if (ReadFile(state->textFile, buffer + kChunkRead, 1, &completing, nullptr) && completing == 1) {
            count += 1;
        }
    }

    void* block = services->Allocate(services, count);
    chunk->data = block;
    if (block == nullptr) {
        state->readFailed = 1;
        return 0;
    }
    memcpy(block, buffer, count);
    chunk->length = static_cast<int32_t>(count);
    state->readFailed = 0;
    return 1;
}
