#include "unicode/UniSystem.h"

#include <vector>

#include "classlib/WinApi.h"
#include "unicode/UniSysUtils.h"

namespace {
uint32_t gDefaultCodePage = 0;

// ---- UTF-7 character classes (7-bit ASCII)
constexpr char kBase64[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr char kDirect[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789'(),-./:?";
constexpr unsigned char kOptional[] = {0x21, 0x22, 0x23, 0x24, 0x25, 0x26, 0x2A, 0x3B, 0x3C, 0x3D,
                                       0x3E, 0x40, 0x5B, 0x5D, 0x5E, 0x5F, 0x60, 0x7B, 0x7C, 0x7D};
constexpr char kSpaces[] = "\t\r\n ";

struct Utf7Tables {
  signed char Base64Value[128];
  bool MustShift[128];
  constexpr Utf7Tables() : Base64Value(), MustShift() {
    for (int i = 0; i < 128; ++i) {
      Base64Value[i] = -1;
      MustShift[i] = true;
    }
    for (int i = 0; kBase64[i]; ++i) Base64Value[(int)kBase64[i]] = (signed char)i;
    for (int i = 0; kDirect[i]; ++i) MustShift[(int)kDirect[i]] = false;
    for (unsigned char c : kOptional) MustShift[c] = false;
    for (int i = 0; kSpaces[i]; ++i) MustShift[(int)kSpaces[i]] = false;
  }
};
constexpr Utf7Tables kUtf7{};

inline bool IsBase64(unsigned c) { return c < 128 && kUtf7.Base64Value[c] >= 0; }
inline bool NeedsShift(unsigned c) { return c > 127 || kUtf7.MustShift[c]; }

[[noreturn]] void InvalidUtf7() { throw EUniGeneralError(L"Invalid UTF7"); }
[[noreturn]] void BufferOverflow() { throw EUniInternalError(L"Buffer overflow"); }
}  // namespace

void UniSystemInitialize() { gDefaultCodePage = GetACP(); }
void UniSystemFinalize() {}

uint32_t DefaultCodePage() {
  if (gDefaultCodePage == 0) gDefaultCodePage = GetACP();
  return gDefaultCodePage;
}

AnsiString WideToUtf8(const WideString& W) {
  AnsiString R;
  R.reserve(W.size() * 3);
  const size_t n = W.size();
  for (size_t i = 0; i < n; ++i) {
    uint32_t c = (uint16_t)W[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < n && (uint16_t)W[i + 1] >= 0xDC00 && (uint16_t)W[i + 1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + ((uint16_t)W[++i] - 0xDC00);
    }
    if (c < 0x80) {
      R += (char)c;
    } else if (c < 0x800) {
      R += (char)(0xC0 | (c >> 6));
      R += (char)(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      R += (char)(0xE0 | (c >> 12));
      R += (char)(0x80 | ((c >> 6) & 0x3F));
      R += (char)(0x80 | (c & 0x3F));
    } else {
      R += (char)(0xF0 | (c >> 18));
      R += (char)(0x80 | ((c >> 12) & 0x3F));
      R += (char)(0x80 | ((c >> 6) & 0x3F));
      R += (char)(0x80 | (c & 0x3F));
    }
  }
  return R;
}

WideString Utf8ToWide(const AnsiString& S) {
  WideString R;
  R.reserve(S.size());
  const size_t n = S.size();
  size_t i = 0;
  while (i < n) {
    unsigned char b = (unsigned char)S[i];
    if (b < 0x80) {
      R += (wchar_t)b;
      ++i;
      continue;
    }
    int extra;
    uint32_t c, min;
    if (b >= 0xC2 && b <= 0xDF) extra = 1, c = b & 0x1F, min = 0x80;
    else if (b >= 0xE0 && b <= 0xEF) extra = 2, c = b & 0x0F, min = 0x800;
    else if (b >= 0xF0 && b <= 0xF4) extra = 3, c = b & 0x07, min = 0x10000;
    else {
      R += (wchar_t)0xFFFD;
      ++i;
      continue;
    }
    bool ok = i + extra < n;
    for (int k = 1; ok && k <= extra; ++k) {
      unsigned char t = (unsigned char)S[i + k];
      if ((t & 0xC0) != 0x80) ok = false;
      else c = (c << 6) | (t & 0x3F);
    }
    if (!ok || c < min || c > 0x10FFFF) {
      R += (wchar_t)0xFFFD;
      ++i;
      continue;
    }
    i += extra + 1;
    if (c >= 0x10000) {
      c -= 0x10000;
      R += (wchar_t)(0xD800 + (c >> 10));
      R += (wchar_t)(0xDC00 + (c & 0x3FF));
    } else {
      R += (wchar_t)c;  // including a lone surrogate written by WideToUtf8
    }
  }
  return R;
}

AnsiString WideToUtf7(const WideString& W) {
  if (W.empty()) return AnsiString();
  const size_t capacity = W.size() * 7;
  AnsiString out(capacity, '\0');
  size_t o = 0;
  auto put = [&](char c) {
    if (o >= capacity) BufferOverflow();
    out[o++] = c;
  };
  uint32_t bits = 0;
  int nbits = 0;
  bool shifted = false;
  auto closeRun = [&](bool nextExists, unsigned next) {
    if (nbits > 0) put(kBase64[(bits << (6 - nbits)) & 0x3F]);
    bits = 0;
    nbits = 0;
    if (nextExists && (IsBase64(next) || next == '-')) put('-');
    shifted = false;
  };
  for (size_t i = 0; i < W.size(); ++i) {
    unsigned c = (uint16_t)W[i];
    if (NeedsShift(c)) {
      if (!shifted) {
        put('+');
        if (c == '+') {
          put('-');
          continue;
        }
        shifted = true;
      }
      bits = ((bits << 16) | c) & 0x3FFFFF;
      nbits += 16;
      while (nbits >= 6) {
        nbits -= 6;
        put(kBase64[(bits >> nbits) & 0x3F]);
      }
    } else {
      if (shifted) closeRun(true, c);
      put((char)c);
    }
  }
  if (shifted) closeRun(false, 0);
  out.resize(o);
  return out;
}

WideString Utf7ToWide(const AnsiString& S) {
  if (S.empty()) return WideString();
  const size_t n = S.size();
  WideString out(n, L'\0');
  size_t o = 0;
  auto put = [&](wchar_t c) {
    if (o >= n) BufferOverflow();
    out[o++] = c;
  };
  uint32_t bits = 0;
  int nbits = 0;
  bool shifted = false, first = false, wroteOne = false;
  size_t i = 0;
  for (;;) {
    if (shifted) {
      if (i < n && IsBase64((unsigned char)S[i])) {
        bits = ((bits << 6) | (uint32_t)kUtf7.Base64Value[(unsigned char)S[i]]) & 0x3FFFFF;
        nbits += 6;
        first = false;
        ++i;
        if (nbits >= 16) {
          nbits -= 16;
          put((wchar_t)((bits >> nbits) & 0xFFFF));
          wroteOne = true;
        }
        continue;
      }
      // The run ends here: at a byte that is not base 64, or at the end of the text.
      if (i < n && S[i] == '-') {
        ++i;
        if (first) put(L'+');
        else if (!wroteOne) InvalidUtf7();
      } else if (!wroteOne) {
        InvalidUtf7();
      }
      if (nbits > 0 && (bits & ((1u << nbits) - 1)) != 0) InvalidUtf7();
      bits = 0;
      nbits = 0;
      shifted = false;
      continue;
    }
    if (i >= n) break;
    unsigned char b = (unsigned char)S[i++];
    if (b > 127) InvalidUtf7();
    if (b == '+') {
      shifted = true;
      first = true;
      wroteOne = false;
      continue;
    }
    put((wchar_t)b);
  }
  out.resize(o);
  return out;
}

AnsiString WideToCodePage(const WideString& W, uint32_t CodePage) {
  if (CodePage == CP_UTF7_NUMBER) return WideToUtf7(W);
  if (CodePage == CP_UTF8_NUMBER) return WideToUtf8(W);
  if (W.empty()) return AnsiString();
  int n = WideCharToMultiByte(CodePage, 0, W.data(), (int)W.size(), nullptr, 0, nullptr, nullptr);
  if (n <= 0) return AnsiString();
  AnsiString R((size_t)n, '\0');
  n = WideCharToMultiByte(CodePage, 0, W.data(), (int)W.size(), R.data(), n, nullptr, nullptr);
  R.resize(n > 0 ? (size_t)n : 0);
  return R;
}

WideString CodePageToWide(const AnsiString& S, uint32_t CodePage) {
  if (CodePage == CP_UTF7_NUMBER) return Utf7ToWide(S);
  if (CodePage == CP_UTF8_NUMBER) return Utf8ToWide(S);
  if (S.empty()) return WideString();
  int n = MultiByteToWideChar(CodePage, 0, S.data(), (int)S.size(), nullptr, 0);
  if (n <= 0) return WideString();
  WideString R((size_t)n, L'\0');
  n = MultiByteToWideChar(CodePage, 0, S.data(), (int)S.size(), R.data(), n);
  R.resize(n > 0 ? (size_t)n : 0);
  return R;
}

uint32_t LocaleCodePage(uint32_t Locale) {
  WideString text;
  if (Win32PlatformIsNT()) {
    wchar_t buf[6] = {0};
    if (GetLocaleInfoW(Locale, LOCALE_IDEFAULTANSICODEPAGE, buf, 6)) text = buf;
  } else {
    char buf[6] = {0};
    if (GetLocaleInfoA(Locale, LOCALE_IDEFAULTANSICODEPAGE, buf, 6)) text = AnsiToWide(AnsiString(buf));
  }
  if (text.empty()) return GetACP();
  uint32_t v = 0;
  for (wchar_t c : text) {
    if (c < L'0' || c > L'9') return GetACP();
    v = v * 10 + (c - L'0');
  }
  return v;
}

uint32_t KeyboardCodePage() {
  return LocaleCodePage((uint32_t)(reinterpret_cast<uintptr_t>(GetKeyboardLayout(0)) & 0xFFFF));
}

wchar_t CharCodeToWideChar(uint32_t Code) {
  if (Code >= 256) return (wchar_t)Code;
  char b = (char)Code;
  wchar_t w = 0;
  if (MultiByteToWideChar(KeyboardCodePage(), MB_USEGLYPHCHARS, &b, 1, &w, 1) != 1) return (wchar_t)Code;
  return w;
}

void SwapWideByteOrder(wchar_t* P) {
  if (!P) return;
  for (; *P; ++P) *P = (wchar_t)(((uint16_t)*P >> 8) | (((uint16_t)*P & 0xFF) << 8));
}
