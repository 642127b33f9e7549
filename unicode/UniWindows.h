// Wide forms of the Windows calls that take text. On the NT family each calls the W function
// with the caller's arguments; elsewhere it converts the texts through the system code page,
// calls the A function and widens what comes back. Failures are reported as the wrapped call
// reports them (the caller reads the last error); nothing is raised.
// A file or path name goes to an A function only when the code page holds it exactly: a name
// with a character it lacks would reach another file (through a look-alike, a letter without
// its accent, or through "?", which the system reads as a wildcard), so the call is refused with
// the error the W function gives for a missing file (ERROR_FILE_NOT_FOUND) or, for a name to be
// made, an invalid name (ERROR_INVALID_NAME).
#pragma once
#include "classlib/SysUtils.h"
#include "classlib/WinApi.h"

// Name in the system code page when the code page holds every character of it (converted
// without best-fit look-alikes, no default character used, and widening it gives Name again);
// false otherwise. Threads: any.
bool WideToAnsiFileName(const WideString& Name, AnsiString& Ansi);

BOOL WideSetWindowText(HWND Wnd, const WideString& Text);
// FilePart points into Buffer at the file part, or is null. A name the code page cannot hold
// gives 0 and ERROR_INVALID_NAME on the 8-bit path.
DWORD WideGetFullPathName(const WideString& FileName, DWORD BufferLength, wchar_t* Buffer, wchar_t*& FilePart);
HANDLE WideCreateFile(const WideString& FileName, DWORD Access, DWORD ShareMode,
                      SECURITY_ATTRIBUTES* SecurityAttributes, DWORD CreationDisposition,
                      DWORD FlagsAndAttributes, HANDLE TemplateFile);
HANDLE WideFindFirstFile(const WideString& FileName, WIN32_FIND_DATAW& FindData);
BOOL WideMoveFile(const WideString& ExistingName, const WideString& NewName);
BOOL WideApiDeleteFile(const WideString& FileName);
// Count -1: the text up to its terminating NUL.
int WideDrawText(HDC DC, const wchar_t* Text, int Count, RECT& Rect, UINT Format);
// On the 8-bit path a file name or folder the code page cannot hold gives SE_ERR_FNF or
// SE_ERR_PNF (and that last error) without starting anything.
HINSTANCE WideShellExecute(HWND Wnd, const WideString& Operation, const WideString& FileName,
                           const WideString& Parameters, const WideString& Directory, int ShowCmd);
// CharTypes receives one entry per character of the first Count characters of Text.
BOOL WideGetStringTypeEx(LCID Locale, DWORD InfoType, const wchar_t* Text, int Count, WORD* CharTypes);

// True when Name is a 16-bit resource or atom id rather than a pointer to a text.
inline bool IsIntResourceId(const void* Name) { return reinterpret_cast<uintptr_t>(Name) <= 0xFFFF; }
