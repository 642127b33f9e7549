// Wide forms of the Windows calls that take text. On the NT family each calls the W function
// with the caller's arguments; elsewhere it converts the texts through the system code page,
// calls the A function and widens what comes back. Failures are reported as the wrapped call
// reports them (the caller reads the last error); nothing is raised.
#pragma once
#include "classlib/SysUtils.h"
#include "classlib/WinApi.h"

BOOL WideSetWindowText(HWND Wnd, const WideString& Text);
// FilePart points into Buffer at the file part, or is null.
DWORD WideGetFullPathName(const WideString& FileName, DWORD BufferLength, wchar_t* Buffer, wchar_t*& FilePart);
HANDLE WideCreateFile(const WideString& FileName, DWORD Access, DWORD ShareMode,
                      SECURITY_ATTRIBUTES* SecurityAttributes, DWORD CreationDisposition,
                      DWORD FlagsAndAttributes, HANDLE TemplateFile);
HANDLE WideFindFirstFile(const WideString& FileName, WIN32_FIND_DATAW& FindData);
BOOL WideMoveFile(const WideString& ExistingName, const WideString& NewName);
BOOL WideApiDeleteFile(const WideString& FileName);
// Count -1: the text up to its terminating NUL.
int WideDrawText(HDC DC, const wchar_t* Text, int Count, RECT& Rect, UINT Format);
HINSTANCE WideShellExecute(HWND Wnd, const WideString& Operation, const WideString& FileName,
                           const WideString& Parameters, const WideString& Directory, int ShowCmd);
// CharTypes receives one entry per character of the first Count characters of Text.
BOOL WideGetStringTypeEx(LCID Locale, DWORD InfoType, const wchar_t* Text, int Count, WORD* CharTypes);

// True when Name is a 16-bit resource or atom id rather than a pointer to a text.
inline bool IsIntResourceId(const void* Name) { return reinterpret_cast<uintptr_t>(Name) <= 0xFFFF; }
