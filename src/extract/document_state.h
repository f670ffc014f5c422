// The record of one open document, in host memory from OpenDocument until CloseDocument.
#ifndef QELALTF_EXTRACT_DOCUMENT_STATE_H
#define QELALTF_EXTRACT_DOCUMENT_STATE_H

#include "addin_interface.h"
#include "platform/win32.h"

// Open: a valid textFile, the reserved file on disk at textPath and the text file beside it (the
// same name with ".txt"). Empty: textFile is INVALID_HANDLE_VALUE and no file of the document is
// left.
struct DocumentState {
    HostSource* source;      // the source it was opened from; not used after OpenDocument
    HANDLE textFile;         // open for reading, or INVALID_HANDLE_VALUE
    char textPath[MAX_PATH]; // the name reserved for the text file; empty until made
    int32_t readFailed;      // set by a failed ReadText so that the next call ends the text
};

#endif
