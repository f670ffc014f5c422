// The ANSI code page the POSIX layer reports, derived from the locale's character set.
#ifndef QELALTF_PLATFORM_POSIX_CODE_PAGE_H
#define QELALTF_PLATFORM_POSIX_CODE_PAGE_H

namespace posix_layer {

constexpr unsigned kSingleByteCodePage = 1252;

// The code page of a locale name such as "ja_JP.SJIS" or "zh_CN.GBK@modifier": 932, 936, 949 or
// 950 for the double-byte character sets, kSingleByteCodePage for anything else or null.
unsigned CodePageOfLocale(const char* locale);

// Whether `byte` is a lead byte of `codePage`; never for a single-byte page.
bool IsLeadByteOf(unsigned codePage, unsigned char byte);

}  // namespace posix_layer

#endif
