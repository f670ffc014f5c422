// A stand-in for the maker's QELTEXT.dll, doing only what the add-in may rely on, with a tiny
// document format of its own (qel_document.h) so that each outcome the add-in must handle can be
// asked for by the document itself.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <atomic>

#include "extract/qeltext.h"
#include "qel_document.h"

extern "C" {
void QELTEXT_CALL QelStandInReadJournal(QelStandInJournal* out);
void QELTEXT_CALL QelStandInResetJournal(void);
}

namespace {

struct HeaderOptions {
    int32_t answer = 1;
    int32_t status = 0;
    bool makeText = true;
};

std::atomic_flag journalLock = ATOMIC_FLAG_INIT;
QelStandInJournal journal = {};

template <typename Update>
void UpdateJournal(Update update) {
    while (journalLock.test_and_set(std::memory_order_acquire)) {
    }
    update(journal);
    journalLock.clear(std::memory_order_release);
}

// Reads the options of a header line; false when the bytes do not begin with the magic.
bool ParseHeader(const unsigned char* bytes, size_t count, HeaderOptions* options) {
    if (count < QEL_MAGIC_LENGTH || memcmp(bytes, QEL_MAGIC, QEL_MAGIC_LENGTH) != 0) return false;
    // Options run from after the magic to the end of the line, each ended by ';' or the line's end.
    size_t end = QEL_MAGIC_LENGTH;
    while (end < count && end < QEL_MAX_HEADER && bytes[end] != '\n') ++end;
    char option[QEL_MAX_HEADER + 1];
    size_t length = 0;
    for (size_t i = QEL_MAGIC_LENGTH; i <= end; ++i) {
        if (i < end && bytes[i] != ';') {
            option[length++] = static_cast<char>(bytes[i]);
            continue;
        }
        option[length] = '\0';
        length = 0;
        if (strncmp(option, "answer=", 7) == 0) options->answer = static_cast<int32_t>(strtol(option + 7, nullptr, 10));
        if (strncmp(option, "status=", 7) == 0) options->status = static_cast<int32_t>(strtol(option + 7, nullptr, 10));
        if (strcmp(option, "text=none") == 0) options->makeText = false;
    }
    return true;
}

bool FileExists(const char* path) {
    FILE* file = fopen(path, "rb");
    if (file == nullptr) return false;
    fclose(file);
    return true;
}

}  // namespace

extern "C" int32_t QELTEXT_CALL QelRecognizeDocument(const void* bytes, int32_t count) {
    UpdateJournal([count](QelStandInJournal& j) {
        ++j.recognizeCalls;
        j.lastRecognizeCount = count;
    });
    if (bytes == nullptr || count <= 0) return 0;
    HeaderOptions options;
    if (!ParseHeader(static_cast<const unsigned char*>(bytes), static_cast<size_t>(count), &options)) return 0;
    return options.answer;
}

extern "C" int32_t QELTEXT_CALL QelConvertDocument(const char* documentPath, const char* textPath) {
    const bool textPathExisted = textPath != nullptr && FileExists(textPath);
    UpdateJournal([textPathExisted](QelStandInJournal& j) {
        ++j.convertCalls;
        if (textPathExisted) ++j.textPathExistedCalls;
        j.lastDocumentSize = -1;
    });
    if (documentPath == nullptr || textPath == nullptr) return QEL_STATUS_UNREADABLE_DOCUMENT;
    if (textPathExisted) return QEL_STATUS_TEXT_PATH_EXISTS;

    FILE* document = fopen(documentPath, "rb");
    if (document == nullptr) return QEL_STATUS_UNREADABLE_DOCUMENT;

    unsigned char buffer[1 << 16];
    size_t filled = fread(buffer, 1, sizeof buffer, document);
    int64_t size = static_cast<int64_t>(filled);
    uint64_t checksum = QelChecksumUpdate(QEL_CHECKSUM_SEED, buffer, filled);

    HeaderOptions options;
    const bool isDocument = ParseHeader(buffer, filled, &options);
    const unsigned char* newline = isDocument ? static_cast<const unsigned char*>(memchr(buffer, '\n', filled)) : nullptr;
    int32_t status = options.status;
    if (!isDocument || newline == nullptr) status = QEL_STATUS_NOT_A_DOCUMENT;

    FILE* text = nullptr;
    if (status >= 0 && options.makeText) {
        text = fopen(textPath, "wb");
        if (text == nullptr) status = QEL_STATUS_UNWRITABLE_TEXT;
    }
    size_t payloadStart = newline != nullptr ? static_cast<size_t>(newline - buffer) + 1 : filled;
    bool writeFailed = false;
    for (;;) {
        if (text != nullptr && filled > payloadStart) {
            writeFailed |= fwrite(buffer + payloadStart, 1, filled - payloadStart, text) != filled - payloadStart;
        }
        payloadStart = 0;
        filled = fread(buffer, 1, sizeof buffer, document);
        if (filled == 0) break;
        size += static_cast<int64_t>(filled);
        checksum = QelChecksumUpdate(checksum, buffer, filled);
    }
    const bool readFailed = ferror(document) != 0;
    fclose(document);
    if (text != nullptr && fclose(text) != 0) writeFailed = true;
    if (text != nullptr && (writeFailed || readFailed)) {
        remove(textPath);
        status = readFailed ? QEL_STATUS_UNREADABLE_DOCUMENT : QEL_STATUS_UNWRITABLE_TEXT;
    }

    UpdateJournal([size, checksum](QelStandInJournal& j) {
        j.lastDocumentSize = size;
        j.lastDocumentChecksum = checksum;
    });
    return status;
}

extern "C" void QELTEXT_CALL QelStandInReadJournal(QelStandInJournal* out) {
    UpdateJournal([out](QelStandInJournal& j) { *out = j; });
}

extern "C" void QELTEXT_CALL QelStandInResetJournal(void) {
    UpdateJournal([](QelStandInJournal& j) { j = QelStandInJournal{}; });
}
