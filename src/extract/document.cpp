// Opening a document: spool the source into a temporary file, have the conversion library turn it
// into a text file, and hold that open for ReadText. Closing removes the text file.
//
// The text file's name is reserved with GetTempFileNameA, and the reserved (empty) file stays
// until the document closes; the library writes the text beside it, under the reserved name with
// ".txt" for ".tmp". GetTempFileNameA hands out no name whose file exists, so while the document
// holds its reservation no other document, in this process or another, can come to the same text
// file. Deleting the reserved file to free its name for the library would open exactly that gap.
//
// Every path out of OpenDocument removes the files it made: the spool file never outlives the
// call, and the reserved and the text file survive only when the document opens.
#include <string.h>

#include "extract/document_state.h"
#include "extract/entries.h"
#include "extract/qeltext.h"

namespace {

constexpr int32_t kSpoolBlock = 1024;

void ResetState(DocumentState* state, HostSource* source) {
    state->source = source;
    state->textFile = INVALID_HANDLE_VALUE;
    state->textPath[0] = '\0';
    state->readFailed = 0;
}

// The name of the text file that belongs to a reserved name: its extension made ".txt".
bool TextFileNameOf(const char* reservedPath, char* textFilePath) {
    size_t length = 0;
    size_t extension = 0;
    for (; reservedPath[length] != '\0'; ++length) {
        if (reservedPath[length] == '.') extension = length;
        if (reservedPath[length] == '\\' || reservedPath[length] == '/') extension = 0;
    }
    if (extension == 0) extension = length;
    if (extension + 5 > MAX_PATH) return false;
    memcpy(textFilePath, reservedPath, extension);
    memcpy(textFilePath + extension, ".txt", 5);
    return true;
}

// Removes the document's text file and its reservation.
void DeleteTextFiles(const char* textFilePath, const char* reservedPath) {
    DeleteFileA(textFilePath);
    DeleteFileA(reservedPath);
}

HANDLE OpenExisting(const char* path, DWORD access) {
    return CreateFileA(path, access, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
}

// Copies the whole source into the spool file. A short count from Read ends the document; false
// when the source breaks its contract or the spool file does not take every byte, so that a
// truncated copy is never converted as if it were the document.
bool SpoolSource(HostSource* source, HANDLE spool) {
    unsigned char block[kSpoolBlock];
    for (;;) {
        const int32_t count = source->Read(source, block, kSpoolBlock);
        if (count == 0) return true;
        if (count < 0 || count > kSpoolBlock) return false;
        DWORD written = 0;
        if (!WriteFile(spool, block, static_cast<DWORD>(count), &written, nullptr) ||
            written != static_cast<DWORD>(count)) {
            return false;
        }
        if (count != kSpoolBlock) return true;
    }
}

}  // namespace

DocumentState* ADDIN_CALL OpenDocument(HostServices* services, HostSource* source,
                                       void* /*unused*/, void* /*unused2*/) {
    if (services == nullptr || source == nullptr) return nullptr;
    if (services->Allocate == nullptr || source->Read == nullptr) return nullptr;
    auto* state = static_cast<DocumentState*>(services->Allocate(services, sizeof(DocumentState)));
    if (state == nullptr) return nullptr;
    ResetState(state, source);

    char spoolPath[MAX_PATH];
    {
        char directory[MAX_PATH];
        const DWORD directoryLength = GetTempPathA(MAX_PATH, directory);
        if (directoryLength == 0 || directoryLength >= MAX_PATH) return state;
        if (GetTempFileNameA(directory, "qel", 0, spoolPath) == 0) return state;
        if (GetTempFileNameA(directory, "txt", 0, state->textPath) == 0) {
            state->textPath[0] = '\0';
            DeleteFileA(spoolPath);
            return state;
        }
    }
    char textFilePath[MAX_PATH];
    if (!TextFileNameOf(state->textPath, textFilePath)) {
        DeleteFileA(state->textPath);
        DeleteFileA(spoolPath);
        return state;
    }

    const HANDLE spool = OpenExisting(spoolPath, GENERIC_WRITE);
    if (spool == INVALID_HANDLE_VALUE) {
        DeleteFileA(state->textPath);
        DeleteFileA(spoolPath);
        return state;
    }
    bool spooled = SpoolSource(source, spool);
    // A close that fails may have lost written bytes: the spool is not the document then.
    if (!CloseHandle(spool)) spooled = false;

    // The library is promised that no file exists at the text path. One that does is no file of
    // this document's, and is left alone.
    if (!spooled || GetFileAttributesA(textFilePath) != INVALID_FILE_ATTRIBUTES) {
        DeleteFileA(spoolPath);
        DeleteFileA(state->textPath);
        return state;
    }

    const int32_t status = QelConvertDocument(spoolPath, textFilePath);
    DeleteFileA(spoolPath);
    // A file that cannot be seen is not opened, and must not stay behind if it is there after all.
    if (status < 0 || GetFileAttributesA(textFilePath) == INVALID_FILE_ATTRIBUTES) {
        DeleteTextFiles(textFilePath, state->textPath);
        return state;
    }

    const HANDLE text = OpenExisting(textFilePath, GENERIC_READ);
    if (text == INVALID_HANDLE_VALUE) {
        DeleteTextFiles(textFilePath, state->textPath);
        return state;
    }
    state->textFile = text;
    return state;
}

// The text file goes before anything else is checked, so that it never outlives a close.
int32_t ADDIN_CALL CloseDocument(HostServices* services, DocumentState* state) {
    if (state == nullptr) return 0;
    if (state->textFile != INVALID_HANDLE_VALUE) {
        CloseHandle(state->textFile);
        char textFilePath[MAX_PATH];
        if (TextFileNameOf(state->textPath, textFilePath)) DeleteFileA(textFilePath);
        DeleteFileA(state->textPath);
        state->textPath[0] = '\0';
        state->textFile = INVALID_HANDLE_VALUE;
    }
    if (services == nullptr || services->Release == nullptr) return 0;
    services->Release(services, state);
    return 1;
}
