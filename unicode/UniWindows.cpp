#include "unicode/UniWindows.h"

#include <shellapi.h>

#include <cstring>
#include <vector>

#include "unicode/UniSysUtils.h"

namespace {
// The first Count characters of Text, or all of it up to its NUL when Count is negative.
WideString TextPart(const wchar_t* Text, int Count) {
  if (!Text) return WideString();
  if (Count < 0) return WideString(Text);
  return WideString(Text, (size_t)Count);
}

const char* AnsiOrNull(const AnsiString& S) { return S.empty() ? nullptr : S.c_str(); }

// A refused name: the call's failure result with the error that says why.
template <typename T>
T Refuse(T Result, DWORD Error) {
  SetLastError(Error);
  return Result;
}
}  // namespace

bool WideToAnsiFileName(const WideString& Name, AnsiString& Ansi) {
  Ansi.clear();
  if (Name.empty()) return true;
  BOOL usedDefault = FALSE;
  int n = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, Name.data(), (int)Name.size(), nullptr, 0, nullptr,
                              &usedDefault);
  if (n <= 0 || usedDefault) return false;
  Ansi.assign((size_t)n, '\0');
  usedDefault = FALSE;
  n = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, Name.data(), (int)Name.size(), Ansi.data(), n, nullptr,
                          &usedDefault);
  if (n <= 0 || usedDefault || AnsiToWide(Ansi.substr(0, (size_t)n)) != Name) {
    Ansi.clear();
    return false;
  }
  Ansi.resize((size_t)n);
  return true;
}

BOOL WideSetWindowText(HWND Wnd, const WideString& Text) {
  if (Win32PlatformIsNT()) return SetWindowTextW(Wnd, Text.c_str());
  return SetWindowTextA(Wnd, WideToAnsi(Text).c_str());
}

DWORD WideGetFullPathName(const WideString& FileName, DWORD BufferLength, wchar_t* Buffer, wchar_t*& FilePart) {
  if (Win32PlatformIsNT()) return GetFullPathNameW(FileName.c_str(), BufferLength, Buffer, &FilePart);
  AnsiString name;
  if (!WideToAnsiFileName(FileName, name)) {
    FilePart = nullptr;
    if (BufferLength != 0) Buffer[0] = L'\0';
    return Refuse<DWORD>(0, ERROR_INVALID_NAME);
  }
  std::vector<char> abuf(520);
  char* apart = nullptr;
  DWORD n = GetFullPathNameA(name.c_str(), (DWORD)abuf.size(), abuf.data(), &apart);
  if (n >= abuf.size()) {
    // Longer than the usual buffer: the call told the size it needs and filled nothing.
    abuf.assign(n + 1, '\0');
    apart = nullptr;
    n = GetFullPathNameA(name.c_str(), (DWORD)abuf.size(), abuf.data(), &apart);
    if (n >= abuf.size()) n = 0;
  }
  WideString full = AnsiToWide(AnsiString(abuf.data(), n));
  DWORD result;
  bool fits = BufferLength > full.size();
  if (fits) {
    std::memcpy(Buffer, full.c_str(), (full.size() + 1) * sizeof(wchar_t));
    result = (DWORD)full.size();
  } else {
    result = (DWORD)full.size() + 1;
    if (BufferLength != 0) Buffer[0] = L'\0';
  }
  FilePart = nullptr;
  if (fits && n && apart && apart >= abuf.data() && apart <= abuf.data() + n)
    FilePart = Buffer + AnsiToWide(AnsiString(abuf.data(), apart - abuf.data())).size();
  return result;
}

HANDLE WideCreateFile(const WideString& FileName, DWORD Access, DWORD ShareMode,
                      SECURITY_ATTRIBUTES* SecurityAttributes, DWORD CreationDisposition,
                      DWORD FlagsAndAttributes, HANDLE TemplateFile) {
  if (Win32PlatformIsNT())
    return CreateFileW(FileName.c_str(), Access, ShareMode, SecurityAttributes, CreationDisposition,
                       FlagsAndAttributes, TemplateFile);
  AnsiString name;
  if (!WideToAnsiFileName(FileName, name)) {
    bool existing = CreationDisposition == OPEN_EXISTING || CreationDisposition == TRUNCATE_EXISTING;
    return Refuse(INVALID_HANDLE_VALUE, existing ? ERROR_FILE_NOT_FOUND : ERROR_INVALID_NAME);
  }
  return CreateFileA(name.c_str(), Access, ShareMode, SecurityAttributes, CreationDisposition, FlagsAndAttributes,
                     TemplateFile);
}

HANDLE WideFindFirstFile(const WideString& FileName, WIN32_FIND_DATAW& FindData) {
  if (Win32PlatformIsNT()) return FindFirstFileW(FileName.c_str(), &FindData);
  AnsiString name;
  if (!WideToAnsiFileName(FileName, name)) return Refuse(INVALID_HANDLE_VALUE, ERROR_FILE_NOT_FOUND);
  WIN32_FIND_DATAA a{};
  HANDLE h = FindFirstFileA(name.c_str(), &a);
  if (h == INVALID_HANDLE_VALUE) return h;
  FindData.dwFileAttributes = a.dwFileAttributes;
  FindData.ftCreationTime = a.ftCreationTime;
  FindData.ftLastAccessTime = a.ftLastAccessTime;
  FindData.ftLastWriteTime = a.ftLastWriteTime;
  FindData.nFileSizeHigh = a.nFileSizeHigh;
  FindData.nFileSizeLow = a.nFileSizeLow;
  FindData.dwReserved0 = a.dwReserved0;
  FindData.dwReserved1 = a.dwReserved1;
  auto copy = [](const char* src, size_t srcSize, wchar_t* dst, size_t dstSize) {
    WideString w = AnsiToWide(AnsiString(src, strnlen(src, srcSize)));
    if (w.size() >= dstSize) w.resize(dstSize - 1);
    std::memcpy(dst, w.c_str(), (w.size() + 1) * sizeof(wchar_t));
  };
  copy(a.cFileName, sizeof a.cFileName, FindData.cFileName, MAX_PATH);
  copy(a.cAlternateFileName, sizeof a.cAlternateFileName, FindData.cAlternateFileName, 14);
  return h;
}

BOOL WideMoveFile(const WideString& ExistingName, const WideString& NewName) {
  if (Win32PlatformIsNT()) return MoveFileW(ExistingName.c_str(), NewName.c_str());
  AnsiString from, to;
  if (!WideToAnsiFileName(ExistingName, from)) return Refuse<BOOL>(FALSE, ERROR_FILE_NOT_FOUND);
  if (!WideToAnsiFileName(NewName, to)) return Refuse<BOOL>(FALSE, ERROR_INVALID_NAME);
  return MoveFileA(from.c_str(), to.c_str());
}

BOOL WideApiDeleteFile(const WideString& FileName) {
  if (Win32PlatformIsNT()) return DeleteFileW(FileName.c_str());
  AnsiString name;
  if (!WideToAnsiFileName(FileName, name)) return Refuse<BOOL>(FALSE, ERROR_FILE_NOT_FOUND);
  return DeleteFileA(name.c_str());
}

int WideDrawText(HDC DC, const wchar_t* Text, int Count, RECT& Rect, UINT Format) {
  if (Win32PlatformIsNT()) return DrawTextW(DC, Text, Count, &Rect, Format);
  return DrawTextA(DC, WideToAnsi(TextPart(Text, Count)).c_str(), -1, &Rect, Format);
}

HINSTANCE WideShellExecute(HWND Wnd, const WideString& Operation, const WideString& FileName,
                           const WideString& Parameters, const WideString& Directory, int ShowCmd) {
  if (Win32PlatformIsNT())
    return ShellExecuteW(Wnd, Operation.empty() ? nullptr : Operation.c_str(), FileName.c_str(),
                         Parameters.c_str(), Directory.c_str(), ShowCmd);
  AnsiString op = WideToAnsi(Operation), file, params = WideToAnsi(Parameters), dir;
  auto failed = [](INT_PTR Code, DWORD Error) { return Refuse(reinterpret_cast<HINSTANCE>(Code), Error); };
  if (!WideToAnsiFileName(FileName, file)) return failed(SE_ERR_FNF, ERROR_FILE_NOT_FOUND);
  if (!WideToAnsiFileName(Directory, dir)) return failed(SE_ERR_PNF, ERROR_PATH_NOT_FOUND);
  return ShellExecuteA(Wnd, AnsiOrNull(op), AnsiOrNull(file), AnsiOrNull(params), AnsiOrNull(dir), ShowCmd);
}

BOOL WideGetStringTypeEx(LCID Locale, DWORD InfoType, const wchar_t* Text, int Count, WORD* CharTypes) {
  if (Win32PlatformIsNT()) return GetStringTypeExW(Locale, InfoType, Text, Count, CharTypes);
  WideString part = TextPart(Text, Count);
  AnsiString ansi = WideToAnsi(part);
  // The 8-bit call counts the terminating NUL too; it writes into a buffer of our own so that
  // the caller's array (sized for its characters) is never overrun.
  std::vector<WORD> types(ansi.size() + 2, 0);
  BOOL ok = GetStringTypeExA(Locale, InfoType, ansi.c_str(), -1, types.data());
  size_t wanted = Count < 0 ? part.size() + 1 : (size_t)Count;
  size_t n = wanted < ansi.size() + 1 ? wanted : ansi.size() + 1;
  if (ok && CharTypes) std::memcpy(CharTypes, types.data(), n * sizeof(WORD));
  return ok;
}
