#include "classlib/SysUtils.h"

#include "classlib/WinApi.h"

#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cwchar>
#include <vector>

WideString AnsiToWide(const AnsiString& S) {
  if (S.empty()) return WideString();
  int n = MultiByteToWideChar(CP_ACP, 0, S.data(), (int)S.size(), nullptr, 0);
  WideString R(n, L'\0');
  MultiByteToWideChar(CP_ACP, 0, S.data(), (int)S.size(), R.data(), n);
  return R;
}

AnsiString WideToAnsi(const WideString& S) {
  if (S.empty()) return AnsiString();
  int n = WideCharToMultiByte(CP_ACP, 0, S.data(), (int)S.size(), nullptr, 0, nullptr, nullptr);
  AnsiString R(n, '\0');
  WideCharToMultiByte(CP_ACP, 0, S.data(), (int)S.size(), R.data(), n, nullptr, nullptr);
  return R;
}

std::string WideToUtf8Basic(const WideString& S) {
  if (S.empty()) return std::string();
  int n = WideCharToMultiByte(CP_UTF8, 0, S.data(), (int)S.size(), nullptr, 0, nullptr, nullptr);
  std::string R(n, '\0');
  WideCharToMultiByte(CP_UTF8, 0, S.data(), (int)S.size(), R.data(), n, nullptr, nullptr);
  return R;
}

const char* Exception::what() const noexcept {
  try {
    if (FWhat.empty()) FWhat = WideToUtf8Basic(FMessage);
    return FWhat.c_str();
  } catch (...) {
    return "Exception";
  }
}

WideString SysErrorMessage(uint32_t ErrorCode) {
  wchar_t* buf = nullptr;
  DWORD n = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                               FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_ARGUMENT_ARRAY,
                           nullptr, ErrorCode, 0, reinterpret_cast<wchar_t*>(&buf), 0, nullptr);
  WideString R;
  if (n && buf) {
    R.assign(buf, n);
    LocalFree(buf);
  }
  while (!R.empty() && (R.back() == L'\r' || R.back() == L'\n' || R.back() == L' ')) R.pop_back();
  return R;
}

void RaiseLastOSError() { RaiseLastOSError(GetLastError()); }

void RaiseLastOSError(uint32_t ErrorCode) {
  if (ErrorCode != 0)
    throw EOSError(WideFormat(L"System Error.  Code: %u.\r\n%s", ErrorCode, SysErrorMessage(ErrorCode).c_str()),
                   ErrorCode);
  throw EOSError(L"A call to an OS function failed", 0);
}

bool Win32Check(bool Value) {
  if (!Value) RaiseLastOSError();
  return Value;
}

void AssertFailed(const char* Message, const char* File, int Line) {
  const char* base = File;
  for (const char* p = File; *p; ++p)
    if (*p == '/' || *p == '\\') base = p + 1;
  throw EAssertionFailed(Format("%s (%s, line %d)", Message, base, Line));
}

int64_t Round(double X) { return llrint(X); }
int64_t Trunc(double X) { return (int64_t)X; }

uint16_t Get8087CW() {
  uint16_t cw;
  __asm__ __volatile__("fnstcw %0" : "=m"(cw));
  return cw;
}

void Set8087CW(uint16_t CW) {
  __asm__ __volatile__("fnclex\n\tfldcw %0" : : "m"(CW));
}

AnsiString Format(const char* Fmt, ...) {
  va_list ap;
  va_start(ap, Fmt);
  char small[256];
  va_list ap2;
  va_copy(ap2, ap);
  int n = _vsnprintf(small, sizeof small, Fmt, ap);
  va_end(ap);
  AnsiString R;
  if (n >= 0 && n < (int)sizeof small) {
    R.assign(small, n);
  } else {
    std::vector<char> big(sizeof small);
    for (;;) {
      big.resize(big.size() * 2);
      va_list ap3;
      va_copy(ap3, ap2);
      n = _vsnprintf(big.data(), big.size(), Fmt, ap3);
      va_end(ap3);
      if (n >= 0 && n < (int)big.size()) break;
    }
    R.assign(big.data(), n);
  }
  va_end(ap2);
  return R;
}

WideString WideFormat(const wchar_t* Fmt, ...) {
  va_list ap;
  va_start(ap, Fmt);
  std::vector<wchar_t> buf(256);
  WideString R;
  for (;;) {
    va_list ap2;
    va_copy(ap2, ap);
    int n = _vsnwprintf(buf.data(), buf.size(), Fmt, ap2);
    va_end(ap2);
    if (n >= 0 && n < (int)buf.size()) {
      R.assign(buf.data(), n);
      break;
    }
    buf.resize(buf.size() * 2);
  }
  va_end(ap);
  return R;
}

AnsiString IntToStr(int64_t Value) { return Format("%lld", (long long)Value); }
WideString IntToWStr(int64_t Value) { return WideFormat(L"%lld", (long long)Value); }
AnsiString IntToHex(uint64_t Value, int Digits) { return Format("%0*llX", Digits, (unsigned long long)Value); }

bool TryStrToInt(const AnsiString& S, int& Value) {
  AnsiString t = Trim(S);
  size_t i = 0;
  bool neg = false;
  if (i < t.size() && (t[i] == '-' || t[i] == '+')) neg = t[i++] == '-';
  int base = 10;
  if (i < t.size() && t[i] == '$') {
    base = 16;
    ++i;
  } else if (i + 1 < t.size() && t[i] == '0' && (t[i + 1] == 'x' || t[i + 1] == 'X')) {
    base = 16;
    i += 2;
  }
  if (i >= t.size()) return false;
  uint64_t v = 0;
  for (; i < t.size(); ++i) {
    int d;
    char c = t[i];
    if (c >= '0' && c <= '9') d = c - '0';
    else if (base == 16 && c >= 'a' && c <= 'f') d = c - 'a' + 10;
    else if (base == 16 && c >= 'A' && c <= 'F') d = c - 'A' + 10;
    else return false;
    v = v * base + d;
    if (v > (base == 16 ? 0xFFFFFFFFull : 0x80000000ull)) return false;
  }
  if (base == 10 && !neg && v > 0x7FFFFFFF) return false;
  Value = neg ? (int)(0 - (uint32_t)v) : (int)(uint32_t)v;
  return true;
}

int StrToInt(const AnsiString& S) {
  int v;
  if (!TryStrToInt(S, v)) throw EConvertError(Format("'%s' is not a valid integer value", S.c_str()));
  return v;
}

int StrToIntDef(const AnsiString& S, int Default) {
  int v;
  return TryStrToInt(S, v) ? v : Default;
}

AnsiString UpperCase(const AnsiString& S) {
  AnsiString R = S;
  for (char& c : R)
    if (c >= 'a' && c <= 'z') c -= 32;
  return R;
}

AnsiString LowerCase(const AnsiString& S) {
  AnsiString R = S;
  for (char& c : R)
    if (c >= 'A' && c <= 'Z') c += 32;
  return R;
}

int CompareText(const AnsiString& A, const AnsiString& B) {
  size_t n = A.size() < B.size() ? A.size() : B.size();
  for (size_t i = 0; i < n; ++i) {
    unsigned char a = A[i], b = B[i];
    if (a >= 'a' && a <= 'z') a -= 32;
    if (b >= 'a' && b <= 'z') b -= 32;
    if (a != b) return (int)a - (int)b;
  }
  return (int)A.size() - (int)B.size();
}

bool SameText(const AnsiString& A, const AnsiString& B) { return CompareText(A, B) == 0; }

AnsiString Trim(const AnsiString& S) {
  size_t b = 0, e = S.size();
  while (b < e && (unsigned char)S[b] <= ' ') ++b;
  while (e > b && (unsigned char)S[e - 1] <= ' ') --e;
  return S.substr(b, e - b);
}

const TSysLocale& SysLocale() {
  static const TSysLocale locale{GetSystemMetrics(SM_DBCSENABLED) != 0, GetSystemMetrics(SM_MIDEASTENABLED) != 0};
  return locale;
}
