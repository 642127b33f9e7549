#include "unicode/UniSysUtils.h"

#include <mutex>
#include <vector>

#include "unicode/UniWindows.h"

namespace {
bool gIsNT = false;
bool gIsXP = false;
std::once_flag gFlagsOnce;

void FixPlatformFlags() {
  OSVERSIONINFOW v{};
  v.dwOSVersionInfoSize = sizeof v;
  if (!GetVersionExW(&v)) return;
  gIsNT = v.dwPlatformId == VER_PLATFORM_WIN32_NT;
  gIsXP = (v.dwMajorVersion == 5 && v.dwMinorVersion >= 1) || v.dwMajorVersion >= 6;
}

inline void EnsureFlags() { std::call_once(gFlagsOnce, FixPlatformFlags); }

bool IsWordDelimiter(wchar_t Ch) { return Ch == 0 || IsWideCharSpace(Ch) || IsWideCharPunct(Ch); }

WORD CharType1(wchar_t Ch) {
  WORD t[2] = {0, 0};
  if (!WideGetStringTypeEx(GetThreadLocale(), CT_CTYPE1, &Ch, 1, t)) return 0;
  return t[0];
}

WideString WideUpperCase(const WideString& S) {
  WideString R = S;
  if (!R.empty()) CharUpperBuffW(R.data(), (DWORD)R.size());
  return R;
}
}  // namespace

void UniSysUtilsInitialize() { EnsureFlags(); }
void UniSysUtilsFinalize() {}

bool Win32PlatformIsNT() {
  EnsureFlags();
  return gIsNT;
}

bool Win32PlatformIsXP() {
  EnsureFlags();
  return gIsXP;
}

int WideLastDelimiter(const WideString& Delimiters, const WideString& S) {
  for (size_t i = S.size(); i > 0; --i) {
    wchar_t c = S[i - 1];
    if (c != 0 && Delimiters.find(c) != WideString::npos) return (int)i;
  }
  return 0;
}

WideString WideExtractFilePath(const WideString& FileName) {
  return FileName.substr(0, WideLastDelimiter(L"\\:", FileName));
}

WideString WideExtractFileName(const WideString& FileName) {
  return FileName.substr(WideLastDelimiter(L"\\:", FileName));
}

WideString WideExtractFileExt(const WideString& FileName) {
  int i = WideLastDelimiter(L".\\:", FileName);
  if (i > 0 && FileName[i - 1] == L'.') return FileName.substr(i - 1);
  return WideString();
}

WideString WideExpandFileName(const WideString& FileName) {
  std::vector<wchar_t> buf(MAX_PATH);
  for (int attempt = 0; attempt < 4; ++attempt) {
    wchar_t* part = nullptr;
    DWORD n = WideGetFullPathName(FileName, (DWORD)buf.size(), buf.data(), part);
    if (n == 0) return WideString();
    if (n < buf.size()) return WideString(buf.data(), n);
    // The full path is longer than the buffer: the call asked for n characters.
    buf.assign(n + 1, L'\0');
  }
  return WideString();
}

intptr_t WideFileCreate(const WideString& FileName) {
  HANDLE h = WideCreateFile(FileName, GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  return h == INVALID_HANDLE_VALUE ? -1 : reinterpret_cast<intptr_t>(h);
}

intptr_t WideFileOpen(const WideString& FileName, uint32_t Mode) {
  static const DWORD kAccess[3] = {GENERIC_READ, GENERIC_WRITE, GENERIC_READ | GENERIC_WRITE};
  static const DWORD kShare[5] = {0, 0, FILE_SHARE_READ, FILE_SHARE_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE};
  uint32_t access = Mode & 3, share = (Mode & 0xF0) >> 4;
  if (access >= 3 || share >= 5) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return -1;
  }
  HANDLE h = WideCreateFile(FileName, kAccess[access], kShare[share], nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  return h == INVALID_HANDLE_VALUE ? -1 : reinterpret_cast<intptr_t>(h);
}

bool WideFileExists(const WideString& FileName) {
  WIN32_FIND_DATAW fd;
  HANDLE h = WideFindFirstFile(FileName, fd);
  if (h == INVALID_HANDLE_VALUE) return false;
  FindClose(h);
  return (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

bool WideRenameFile(const WideString& OldName, const WideString& NewName) {
  return WideMoveFile(OldName, NewName) != 0;
}

bool WideDeleteFile(const WideString& FileName) { return WideApiDeleteFile(FileName) != 0; }

WideString WideSysErrorMessage(uint32_t ErrorCode) {
  const wchar_t* source = L"system";
  const DWORD flags = FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_ARGUMENT_ARRAY | FORMAT_MESSAGE_IGNORE_INSERTS;
  WideString text;
  if (Win32PlatformIsNT()) {
    wchar_t buf[256];
    DWORD n = FormatMessageW(flags, nullptr, ErrorCode, 0, buf, 256, nullptr);
    if (n > 0 && n < 256) text.assign(buf, n);
  } else {
    char buf[256];
    DWORD n = FormatMessageA(flags, nullptr, ErrorCode, 0, buf, 256, nullptr);
    if (n > 0 && n < 256) text = AnsiToWide(AnsiString(buf, n));
  }
  text = WideTrim(text);
  if (text.empty()) text = WideFormat(L"Unspecified error (%d) from %s.", (int)ErrorCode, source);
  return text;
}

WideString WideTrim(const WideString& S) {
  size_t b = 0, e = S.size();
  while (b < e && S[b] <= L' ') ++b;
  while (e > b && S[e - 1] <= L' ') --e;
  return S.substr(b, e - b);
}

bool WideDirectoryExists(const WideString& Name) {
  DWORD a = Win32PlatformIsNT() ? GetFileAttributesW(Name.c_str()) : GetFileAttributesA(WideToAnsi(Name).c_str());
  return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
}

uint32_t CheckWin32Result(uint32_t Value) {
  if (Value == 0) RaiseLastOSError();
  return Value;
}

WideString WideStringReplace(const WideString& S, const WideString& OldPattern, const WideString& NewPattern,
                             uint32_t Flags, bool WholeWord) {
  if (OldPattern.empty() || S.empty()) return S;
  const bool ignoreCase = (Flags & rfIgnoreCase) != 0;
  const WideString search = ignoreCase ? WideUpperCase(S) : S;
  const WideString pattern = ignoreCase ? WideUpperCase(OldPattern) : OldPattern;
  WideString result;
  size_t pos = 0;
  while (pos < S.size()) {
    size_t hit = search.find(pattern, pos);
    if (hit == WideString::npos) break;
    result.append(S, pos, hit - pos);
    size_t end = hit + pattern.size();
    bool accept = true;
    if (WholeWord) {
      wchar_t before = result.empty() ? 0 : result.back();
      wchar_t after = end < S.size() ? S[end] : 0;
      accept = IsWordDelimiter(before) && IsWordDelimiter(after);
    }
    if (accept) result += NewPattern;
    else result.append(S, hit, pattern.size());
    pos = end;
    if (accept && !(Flags & rfReplaceAll)) break;
  }
  if (pos < S.size()) result.append(S, pos, WideString::npos);
  return result;
}

WideString WideAdjustLineBreaks(const WideString& S, TTextLineBreakStyle Style) {
  const size_t breakLen = Style == tlbsCRLF ? 2 : 1;
  const size_t n = S.size();
  // First pass: the length of the result.
  size_t len = 0;
  for (size_t i = 0; i < n; ++i) {
    wchar_t c = S[i];
    if (c == L'\r') {
      if (i + 1 < n && S[i + 1] == L'\n') ++i;
      len += breakLen;
    } else if (c == L'\n' || c == 0x2028) {
      len += breakLen;
    } else {
      ++len;
    }
  }
  WideString R;
  R.reserve(len);
  for (size_t i = 0; i < n; ++i) {
    wchar_t c = S[i];
    bool isBreak = c == L'\n' || c == 0x2028 || c == L'\r';
    if (c == L'\r' && i + 1 < n && S[i + 1] == L'\n') ++i;
    if (!isBreak) {
      R += c;
      continue;
    }
    switch (Style) {
      case tlbsLF: R += L'\n'; break;
      case tlbsCRLF: R += L"\r\n"; break;
      case tlbsCR: R += L'\r'; break;
    }
  }
  return R;
}

bool IsWideCharSpace(wchar_t Ch) { return (CharType1(Ch) & C1_SPACE) != 0; }
bool IsWideCharPunct(wchar_t Ch) { return (CharType1(Ch) & C1_PUNCT) != 0; }
