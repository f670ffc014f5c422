#include "platform/posix/code_page.h"

#include <stdlib.h>
#include <string.h>
#include <strings.h>

#include "platform/posix/win32_services.h"

namespace posix_layer {
namespace {

struct CharsetCodePage {
    const char* charset;
    unsigned codePage;
};

// Spellings of the double-byte character sets as glibc and the usual locale names write them,
// compared without case and without '-' or '_'.
constexpr CharsetCodePage kDoubleByteCharsets[] = {
    {"sjis", 932},  {"shiftjis", 932}, {"cp932", 932},  {"windows31j", 932},
    {"gbk", 936},   {"gb2312", 936},   {"cp936", 936},  {"euccn", 936},
    {"euckr", 949}, {"cp949", 949},    {"uhc", 949},    {"big5", 950},
    {"cp950", 950}, {"big5hkscs", 950},
};

// The character set of a locale name, lowered and stripped of '-' and '_', into `out`.
void NormalisedCharset(const char* locale, char* out, size_t size) {
    size_t length = 0;
    const char* dot = strchr(locale, '.');
    if (dot != nullptr) {
        for (const char* p = dot + 1; *p != '\0' && *p != '@' && length + 1 < size; ++p) {
            if (*p == '-' || *p == '_') continue;
            out[length++] = (*p >= 'A' && *p <= 'Z') ? static_cast<char>(*p - 'A' + 'a') : *p;
        }
    }
    out[length] = '\0';
}

// The locale that decides LC_CTYPE, as setlocale(LC_CTYPE, "") would choose it.
const char* CharacterTypeLocale() {
    static const char* const kVariables[] = {"LC_ALL", "LC_CTYPE", "LANG"};
    for (const char* name : kVariables) {
        const char* value = getenv(name);
        if (value != nullptr && *value != '\0') return value;
    }
    return nullptr;
}

}  // namespace

unsigned CodePageOfLocale(const char* locale) {
    if (locale == nullptr) return kSingleByteCodePage;
    char charset[32];
    NormalisedCharset(locale, charset, sizeof charset);
    for (const CharsetCodePage& entry : kDoubleByteCharsets) {
        if (strcmp(charset, entry.charset) == 0) return entry.codePage;
    }
    return kSingleByteCodePage;
}

bool IsLeadByteOf(unsigned codePage, unsigned char byte) {
    switch (codePage) {
        case 932: return (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC);
        case 936:
        case 949:
        case 950: return byte >= 0x81 && byte <= 0xFE;
        default: return false;
    }
}

}  // namespace posix_layer

// Like Windows' ANSI code page, fixed for the life of the process.
BOOL IsDBCSLeadByte(BYTE byte) {
    static const unsigned codePage = posix_layer::CodePageOfLocale(posix_layer::CharacterTypeLocale());
    return posix_layer::IsLeadByteOf(codePage, byte) ? TRUE : FALSE;
}
