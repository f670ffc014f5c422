// The maker's conversion library, QELTEXT.dll, as the add-in uses it. The module imports both
// functions by ordinal when it is loaded; the names are ours and do not reach the binary.
#ifndef QELALTF_QELTEXT_H
#define QELALTF_QELTEXT_H

#include <stdint.h>

// The one place the library's calling convention is spelled.
#if defined(_WIN32)
#define QELTEXT_CALL __cdecl
#else
#define QELTEXT_CALL
#endif

#ifdef __cplusplus
extern "C" {
#endif

// Ordinal 1: converts the document file into a text file at textPath, where no file may exist when
// it is called. A status of 0 or more is success (the text file may still be missing); below 0,
// failure.
int32_t QELTEXT_CALL QelConvertDocument(const char* documentPath, const char* textPath);

// Ordinal 2: nonzero when the `count` bytes begin a document the library can convert.
int32_t QELTEXT_CALL QelRecognizeDocument(const void* bytes, int32_t count);

#ifdef __cplusplus
}
#endif

#endif
