// Platform flags, the runtime's error classes, and wide file, path and string helpers.
#pragma once
#include <cstdint>

#include "classlib/SysUtils.h"

// Bad input data, e.g. an invalid UTF-7 text.
CLASSLIB_EXCEPTION(EUniGeneralError, Exception);
// A defect of the runtime itself (a conversion buffer too small, a helper used the wrong way).
CLASSLIB_EXCEPTION(EUniInternalError, Exception);

// The unit's start-up: fixes the NT and XP flags from the version the system reports.
void UniSysUtilsInitialize();
void UniSysUtilsFinalize();

// True on the NT family (platform id 2): wide routines call the W functions directly.
// Otherwise they convert through the default code page and call the 8-bit functions.
bool Win32PlatformIsNT();
// True on version 5.1 and later (XP, and every version 6 or above).
bool Win32PlatformIsXP();

// 1-based index of the last character of S that occurs in Delimiters; 0 when none does.
int WideLastDelimiter(const WideString& Delimiters, const WideString& S);
WideString WideExtractFilePath(const WideString& FileName);
WideString WideExtractFileName(const WideString& FileName);
WideString WideExtractFileExt(const WideString& FileName);
WideString WideExpandFileName(const WideString& FileName);

// File handles as the class library keeps them: -1 means failure (the last error says why).
intptr_t WideFileCreate(const WideString& FileName);
// Mode: access in bits 0-1 (fmOpenRead/Write/ReadWrite), sharing in bits 4-7 (fmShare...).
intptr_t WideFileOpen(const WideString& FileName, uint32_t Mode);
bool WideFileExists(const WideString& FileName);
// True when the name is an existing folder.
bool WideDirectoryExists(const WideString& Name);
// The text without the blanks and control characters at either end.
WideString WideTrim(const WideString& S);
bool WideRenameFile(const WideString& OldName, const WideString& NewName);
bool WideDeleteFile(const WideString& FileName);

// The system's text for an error code, trimmed; "Unspecified error (%d) from system." when
// the system has none.
WideString WideSysErrorMessage(uint32_t ErrorCode);
// Value; raises the last operating-system error when Value is 0.
uint32_t CheckWin32Result(uint32_t Value);

// Flags of WideStringReplace.
constexpr uint32_t rfReplaceAll = 1;
constexpr uint32_t rfIgnoreCase = 2;
WideString WideStringReplace(const WideString& S, const WideString& OldPattern, const WideString& NewPattern,
                             uint32_t Flags, bool WholeWord = false);

enum TTextLineBreakStyle { tlbsLF = 0, tlbsCRLF = 1, tlbsCR = 2 };
// S with every CR LF, lone CR, lone LF and U+2028 written as one break of Style.
WideString WideAdjustLineBreaks(const WideString& S, TTextLineBreakStyle Style = tlbsCRLF);

bool IsWideCharSpace(wchar_t Ch);
bool IsWideCharPunct(wchar_t Ch);
