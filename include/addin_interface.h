/*
 * The whole boundary between a host application and the QELALTF add-in.
 *
 * A host loads QELALTF.dll, calls GetAddinInterface with a table of seven entries and reaches the
 * add-in only through that table. Memory, source bytes and every record here belong to the host;
 * the add-in takes memory through HostServices.Allocate and gives it back through Release.
 *
 * Results: entries that create something return a pointer (null on failure), the others 1 for
 * success and 0 for failure. Counts are 32-bit. Every function pointer here, the host's callbacks
 * included, uses ADDIN_CALL.
 */
#ifndef QELALTF_ADDIN_INTERFACE_H
#define QELALTF_ADDIN_INTERFACE_H

#include <stddef.h>
#include <stdint.h>

/* The one place the calling convention is spelled: change it here for a host with another one. */
#if defined(_WIN32)
#define ADDIN_CALL __cdecl
#else
#define ADDIN_CALL
#endif

#ifdef __cplusplus
extern "C" {
#endif

typedef struct HostServices HostServices;
typedef struct HostSource HostSource;
typedef struct TextChunk TextChunk;
typedef struct AddinInterface AddinInterface;

/* One open document. The add-in owns it from OpenDocument to CloseDocument; hosts only pass it on. */
typedef struct DocumentState DocumentState;

/* Returns a block of at least `size` bytes, or null. */
typedef void*(ADDIN_CALL* AllocateFunction)(HostServices* services, uint32_t size);
/* Gives back a block from Allocate. The add-in does not use the result. */
typedef void(ADDIN_CALL* ReleaseFunction)(HostServices* services, void* block);
/* Places up to `capacity` bytes at `buffer` and returns their number; fewer than asked ends the
 * document. A count outside 0..capacity breaks the contract and the add-in treats it as a failure. */
typedef int32_t(ADDIN_CALL* ReadFunction)(HostSource* source, void* buffer, int32_t capacity);

/* Five pointer-sized words. Words 0, 3 and 4 are the host's own: the add-in copies them into an
 * instance and never reads or calls them, so a host may keep its context there. */
struct HostServices {
    void* hostWord0;
    AllocateFunction Allocate;
    ReleaseFunction Release;
    void* hostWord3;
    void* hostWord4;
};

/* One source document. The add-in uses only word 3; the host's record may go on past it. */
struct HostSource {
    void* hostWord0;
    void* hostWord1;
    void* hostWord2;
    ReadFunction Read;
};

/* One piece of text handed to the host. `data` is a block from the host's Allocate and belongs to
 * the host; `length` is at most 10240, and 0 marks the end of the text. */
struct TextChunk {
    void* data;
    int32_t length;
};

typedef HostServices*(ADDIN_CALL* CreateInstanceEntry)(HostServices* services, void* unused);
typedef int32_t(ADDIN_CALL* RecognizeEntry)(void* unused, HostSource* source, void* unused2);
typedef DocumentState*(ADDIN_CALL* OpenDocumentEntry)(HostServices* services, HostSource* source,
                                                      void* unused, void* unused2);
typedef int32_t(ADDIN_CALL* CloseDocumentEntry)(HostServices* services, DocumentState* state);
typedef int32_t(ADDIN_CALL* ReadTextEntry)(HostServices* services, DocumentState* state,
                                           TextChunk* chunk);
typedef int32_t(ADDIN_CALL* DestroyInstanceEntry)(HostServices* instance);
typedef int32_t(ADDIN_CALL* NoopEntry)(void* unused);

/* The table a host passes to GetAddinInterface; entries in this order. */
struct AddinInterface {
    CreateInstanceEntry CreateInstance;
    RecognizeEntry Recognize;
    OpenDocumentEntry OpenDocument;
    CloseDocumentEntry CloseDocument;
    ReadTextEntry ReadText;
    DestroyInstanceEntry DestroyInstance;
    NoopEntry Noop;
};

/* Fills `table` and returns it; the module's only export. */
AddinInterface* ADDIN_CALL GetAddinInterface(AddinInterface* table);
typedef AddinInterface*(ADDIN_CALL* GetAddinInterfaceFunction)(AddinInterface* table);

#define ADDIN_EXPORT_NAME "GetAddinInterface"
#define ADDIN_MAX_CHUNK 10240

#ifdef __cplusplus
} /* extern "C" */
#endif

/* The layout hosts compile against. */
#ifdef __cplusplus
#define ADDIN_STATIC_ASSERT static_assert
#else
#define ADDIN_STATIC_ASSERT _Static_assert
#endif
ADDIN_STATIC_ASSERT(sizeof(HostServices) == 5 * sizeof(void*), "HostServices is five words");
ADDIN_STATIC_ASSERT(offsetof(HostServices, Allocate) == 1 * sizeof(void*), "Allocate is word 1");
ADDIN_STATIC_ASSERT(offsetof(HostServices, Release) == 2 * sizeof(void*), "Release is word 2");
ADDIN_STATIC_ASSERT(offsetof(HostSource, Read) == 3 * sizeof(void*), "Read is word 3");
ADDIN_STATIC_ASSERT(offsetof(TextChunk, data) == 0, "TextChunk starts with its data pointer");
ADDIN_STATIC_ASSERT(offsetof(TextChunk, length) == sizeof(void*), "then its 32-bit length");
ADDIN_STATIC_ASSERT(sizeof(((TextChunk*)0)->length) == 4, "TextChunk length is 32-bit");
ADDIN_STATIC_ASSERT(sizeof(AddinInterface) == 7 * sizeof(void*), "the table has seven entries");
#if defined(_WIN32) && !defined(_WIN64)
ADDIN_STATIC_ASSERT(sizeof(TextChunk) == 8, "TextChunk is two 32-bit words on Win32");
#endif
#undef ADDIN_STATIC_ASSERT

#endif /* QELALTF_ADDIN_INTERFACE_H */
