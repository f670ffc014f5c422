// The table entries that work on documents, as the entry table takes them.
#ifndef QELALTF_EXTRACT_ENTRIES_H
#define QELALTF_EXTRACT_ENTRIES_H

#include "addin_interface.h"

int32_t ADDIN_CALL Recognize(void* unused, HostSource* source, void* unused2);
DocumentState* ADDIN_CALL OpenDocument(HostServices* services, HostSource* source, void* unused,
                                       void* unused2);
int32_t ADDIN_CALL CloseDocument(HostServices* services, DocumentState* state);
int32_t ADDIN_CALL ReadText(HostServices* services, DocumentState* state, TextChunk* chunk);

#endif
