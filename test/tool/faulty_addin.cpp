// An add-in that breaks one rule on purpose, chosen by QELHOST_FAULT, so that the tests can show
// that `qelhost check` catches each kind of imbalance. Without a fault it behaves: its text is
// one chunk of kTextBytes letters.
//   leak      CloseDocument keeps the document's block
//   file      OpenDocument leaves a file in the temporary directory
//   oversize  the text comes as one chunk of ADDIN_MAX_CHUNK + 1 bytes
//   split     the text is one character of code page 932 (0x88 0x9F) cut between two chunks
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>

#include "addin_interface.h"

#if defined(_WIN32)
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#define FAULTY_EXPORT __declspec(dllexport)
#else
#define FAULTY_EXPORT __attribute__((visibility("default")))
#endif

namespace {

constexpr int32_t kTextBytes = 1000;

struct Document {
    int32_t chunksDelivered;
};

bool Fault(const char* name) {
    const char* chosen = getenv("QELHOST_FAULT");
    return chosen != nullptr && strcmp(chosen, name) == 0;
}

std::string TempDirectory() {
#if defined(_WIN32)
    char path[MAX_PATH];
    DWORD length = GetTempPathA(MAX_PATH, path);
    return std::string(path, length < MAX_PATH ? length : 0);
#else
    const char* directory = getenv("TMPDIR");
    return std::string(directory != nullptr ? directory : "/tmp") + "/";
#endif
}

HostServices* ADDIN_CALL CreateInstance(HostServices* services, void*) {
    auto* instance = static_cast<HostServices*>(services->Allocate(services, sizeof(HostServices)));
    if (instance != nullptr) *instance = *services;
    return instance;
}

int32_t ADDIN_CALL Recognize(void*, HostSource* source, void*) {
    unsigned char buffer[100];
    return source->Read(source, buffer, 100) > 0 ? 1 : 0;
}

DocumentState* ADDIN_CALL OpenDocument(HostServices* services, HostSource* source, void*, void*) {
    unsigned char block[1024];
    while (source->Read(source, block, 1024) == 1024) {
    }
    if (Fault("file")) {
        FILE* left = fopen((TempDirectory() + "qelFAULT.tmp").c_str(), "wb");
        if (left != nullptr) fclose(left);
    }
    auto* document = static_cast<Document*>(services->Allocate(services, sizeof(Document)));
    if (document != nullptr) document->chunksDelivered = 0;
    return reinterpret_cast<DocumentState*>(document);
}

int32_t ADDIN_CALL CloseDocument(HostServices* services, DocumentState* state) {
    if (!Fault("leak")) services->Release(services, state);
    return 1;
}

int32_t ADDIN_CALL ReadText(HostServices* services, DocumentState* state, TextChunk* chunk) {
    auto* document = reinterpret_cast<Document*>(state);
    const bool split = Fault("split");
    if (document->chunksDelivered == (split ? 2 : 1)) {
        chunk->length = 0;
        return 1;
    }
    int32_t length = Fault("oversize") ? ADDIN_MAX_CHUNK + 1 : kTextBytes;
    if (split) length = 1;
    auto* block = static_cast<unsigned char*>(services->Allocate(services, static_cast<uint32_t>(length)));
    chunk->data = block;
    if (block == nullptr) return 0;
    memset(block, 'x', static_cast<size_t>(length));
    if (split) block[0] = document->chunksDelivered == 0 ? 0x88 : 0x9F;
    chunk->length = length;
    ++document->chunksDelivered;
    return 1;
}

int32_t ADDIN_CALL DestroyInstance(HostServices* instance) {
    instance->Release(instance, instance);
    return 1;
}

int32_t ADDIN_CALL Noop(void*) { return 1; }

}  // namespace

extern "C" FAULTY_EXPORT AddinInterface* ADDIN_CALL GetAddinInterface(AddinInterface* table) {
    *table = AddinInterface{CreateInstance, Recognize, OpenDocument, CloseDocument, ReadText, DestroyInstance, Noop};
    return table;
}
