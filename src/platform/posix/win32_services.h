// The nine Win32 services the add-in uses, for POSIX systems: the types, constants and calls as
// Windows declares them, limited to what the add-in asks of them.
#ifndef QELALTF_PLATFORM_POSIX_WIN32_SERVICES_H
#define QELALTF_PLATFORM_POSIX_WIN32_SERVICES_H

#include <stdint.h>

typedef int BOOL;
typedef unsigned char BYTE;
typedef uint32_t DWORD;
typedef unsigned int UINT;
typedef void* HANDLE;
typedef void* LPVOID;
typedef const void* LPCVOID;
typedef char* LPSTR;
typedef const char* LPCSTR;
typedef DWORD* LPDWORD;
typedef struct _SECURITY_ATTRIBUTES SECURITY_ATTRIBUTES, *LPSECURITY_ATTRIBUTES;
typedef struct _OVERLAPPED OVERLAPPED, *LPOVERLAPPED;

#define TRUE 1
#define FALSE 0
#define MAX_PATH 260
#define INVALID_HANDLE_VALUE ((HANDLE)(intptr_t)-1)
#define INVALID_FILE_ATTRIBUTES ((DWORD)-1)
#define FILE_ATTRIBUTE_READONLY 0x00000001u
#define FILE_ATTRIBUTE_DIRECTORY 0x00000010u
#define FILE_ATTRIBUTE_NORMAL 0x00000080u
#define GENERIC_READ 0x80000000u
#define GENERIC_WRITE 0x40000000u
#define CREATE_NEW 1u
#define CREATE_ALWAYS 2u
#define OPEN_EXISTING 3u
#define OPEN_ALWAYS 4u
#define TRUNCATE_EXISTING 5u

#ifdef __cplusplus
extern "C" {
#endif

// The temporary directory (TMPDIR, else /tmp), ending in '/'. Returns its length when it fits in
// `size` bytes with the terminating zero, the size it needs when it does not, 0 on failure.
DWORD GetTempPathA(DWORD size, LPSTR buffer);

// With `unique` 0: creates a new empty file "<dir>/<pfx><XXXX>.tmp" (three characters of the
// prefix, four hex digits, never 0000), writes its path to `path` (MAX_PATH bytes) and returns the
// number; 0 on failure. A nonzero `unique` only builds the name.
UINT GetTempFileNameA(LPCSTR directory, LPCSTR prefix, UINT unique, LPSTR path);

// Opens an existing file for reading only or writing only, without sharing (OPEN_EXISTING, share
// mode 0). Anything else fails. Returns INVALID_HANDLE_VALUE on failure; a handle is never 0.
HANDLE CreateFileA(LPCSTR path, DWORD access, DWORD shareMode, LPSECURITY_ATTRIBUTES security,
                   DWORD disposition, DWORD flags, HANDLE templateFile);

BOOL WriteFile(HANDLE file, LPCVOID buffer, DWORD count, LPDWORD written, LPOVERLAPPED overlapped);
BOOL ReadFile(HANDLE file, LPVOID buffer, DWORD count, LPDWORD read, LPOVERLAPPED overlapped);
BOOL CloseHandle(HANDLE handle);
BOOL DeleteFileA(LPCSTR path);

// INVALID_FILE_ATTRIBUTES when nothing exists at `path`.
DWORD GetFileAttributesA(LPCSTR path);

// Whether `byte` begins a double-byte character in the ANSI code page, which is taken from the
// character set of the locale in LC_ALL, LC_CTYPE or LANG when the process first asks: Shift_JIS
// gives 932, GBK 936, EUC-KR 949, Big5 950; anything else a single-byte page with no lead bytes.
BOOL IsDBCSLeadByte(BYTE byte);

#ifdef __cplusplus
}
#endif

#endif
