// Conversions between UTF-16 and byte strings: code pages, UTF-8 and UTF-7.
#pragma once
#include <cstdint>

#include "classlib/SysUtils.h"

constexpr uint32_t CP_UTF7_NUMBER = 65000;
constexpr uint32_t CP_UTF8_NUMBER = 65001;

// The unit's start-up: fixes the default code page (the system ANSI code page).
void UniSystemInitialize();
void UniSystemFinalize();

uint32_t DefaultCodePage();

// UTF-8. A lone surrogate is written as its own three-byte sequence, so that every UTF-16
// string survives the round trip; bytes that are not UTF-8 read as U+FFFD, one per byte.
AnsiString WideToUtf8(const WideString& W);
WideString Utf8ToWide(const AnsiString& S);
// UTF-7 (RFC 2152, optional characters written directly). Utf7ToWide raises EUniGeneralError
// "Invalid UTF7" for a malformed text.
AnsiString WideToUtf7(const WideString& W);
WideString Utf7ToWide(const AnsiString& S);
// 65000 is UTF-7, 65001 UTF-8; any other number goes through the system's conversion.
AnsiString WideToCodePage(const WideString& W, uint32_t CodePage);
WideString CodePageToWide(const AnsiString& S, uint32_t CodePage);

// The default ANSI code page of a locale; the system's when the locale gives no number.
uint32_t LocaleCodePage(uint32_t Locale);
// The code page of the calling thread's keyboard layout.
uint32_t KeyboardCodePage();
// A key code below 256 as the character it means in the keyboard's code page; others unchanged.
wchar_t CharCodeToWideChar(uint32_t Code);
// Swaps the bytes of every UTF-16 unit from P up to the first unit that is 0.
void SwapWideByteOrder(wchar_t* P);
