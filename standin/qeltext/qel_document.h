// The stand-in conversion library's document format, for the tests and tools that make documents.
//
// A document is one header line and a payload:
//
//     QEL1[;answer=N][;status=N][;text=none]\n<payload bytes>
//
// Recognition answers 1 for a document (or N with answer=N) and 0 for anything else. Conversion
// writes the payload, byte for byte, to the text file and answers 0 (or N with status=N); a
// negative status writes nothing, and text=none answers the status without making a text file.
#ifndef QELTEXT_STANDIN_QEL_DOCUMENT_H
#define QELTEXT_STANDIN_QEL_DOCUMENT_H

#include <stddef.h>
#include <stdint.h>

#define QEL_MAGIC "QEL1"
#define QEL_MAGIC_LENGTH 4
#define QEL_MAX_HEADER 256

// Conversion failures of the stand-in's own, distinct from any status a document asks for.
#define QEL_STATUS_TEXT_PATH_EXISTS (-1001)  // a file was already at the text path
#define QEL_STATUS_UNREADABLE_DOCUMENT (-1002)
#define QEL_STATUS_NOT_A_DOCUMENT (-1003)
#define QEL_STATUS_UNWRITABLE_TEXT (-1004)

// What the library saw of its calls, for tests to compare with what the add-in was given.
typedef struct QelStandInJournal {
    int32_t recognizeCalls;
    int32_t lastRecognizeCount;
    int32_t convertCalls;
    int32_t textPathExistedCalls;  // conversions called with a file already at the text path
    int64_t lastDocumentSize;      // bytes of the last document converted
    uint64_t lastDocumentChecksum; // QelChecksum of those bytes
} QelStandInJournal;

// A checksum that the library keeps of each document it converts, cheap enough not to show.
static inline uint64_t QelChecksumUpdate(uint64_t sum, const unsigned char* bytes, size_t count) {
    for (size_t i = 0; i < count; ++i) sum = (sum ^ bytes[i]) * 0x100000001B3ull;
    return sum;
}
#define QEL_CHECKSUM_SEED 0xCBF29CE484222325ull

#endif
