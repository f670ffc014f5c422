// Opening a document: spool the source into a temporary file, have the conversion library turn it
// into a text file, and hold that open for ReadText. Closing removes the text file.
//
// Every path out of OpenDocument removes the files it made: the spool file never outlives the
// call, and the text file survives only when the document opens.
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

    char directory[MAX_PATH];
    const DWORD directoryLength = GetTempPathA(MAX_PATH, directory);
    if (directoryLength == 0 || directoryLength >= MAX_PATH) return state;

    char spoolPath[MAX_PATH];
    if (GetTempFileNameA(directory, "qel", 0, spoolPath) == 0) return state;
    if (GetTempFileNameA(directory, "txt", 0, state->textPath) == 0) {
        state->textPath[0] = '\0';
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

    // The library is promised that no file exists at the text path: while the reserved file is
    // still there, the document is not converted, and the file is tried once more on the way out.
    const bool textPathFree = DeleteFileA(state->textPath) != FALSE;
    if (!spooled || !textPathFree) {
        DeleteFileA(spoolPath);
        if (!textPathFree) DeleteFileA(state->textPath);
        return state;
    }

    const int32_t status = QelConvertDocument(spoolPath, state->textPath);
    DeleteFileA(spoolPath);
    if (status < 0) {
        DeleteFileA(state->textPath);
        return state;
    }
    // A file that cannot be seen is not opened, and must not stay behind if it is there after all.
    if (GetFileAttributesA(state->textPath) == INVALID_FILE_ATTRIBUTES) {
        DeleteFileA(state->textPath);
        return state;
    }

    const HANDLE text = OpenExisting(state->textPath, GENERIC_READ);
    if (text == INVALID_HANDLE_VALUE) {
        DeleteFileA(state->textPath);
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
        DeleteFileA(state->textPath);
        state->textPath[0] = '\0';
        state->textFile = INVALID_HANDLE_VALUE;
    }
    if (services == nullptr || services->Release == nullptr) return 0;
    services->Release(services, state);
    return 1;
}
