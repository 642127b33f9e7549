// Code pages, UTF-8 and UTF-7.
#include <gtest/gtest.h>

#include <random>

#include "classlib/WinApi.h"
#include "unicode/TestConfig.h"
#include "unicode/UniSysUtils.h"
#include "unicode/UniSystem.h"

TEST(Utf7, EncoderCases) {
  struct { const wchar_t* in; const char* out; } cases[] = {
      {L"", ""},
      {L"\u4e2d", "+Ti0"},
      {L"\u4e2da", "+Ti0-a"},
      {L"\u4e2d.", "+Ti0."},
      {L"\u4e2d ", "+Ti0 "},
      {L"\u4e2d-", "+Ti0--"},
      {L"\u4e2da\u4e2d", "+Ti0-a+Ti0"},
      {L"A+B", "A+-B"},
      {L"+", "+-"},
      {L"~", "+AH4"},
      {L"\\", "+AFw"},
      {L"Hi Mom -\u263a-!", "Hi Mom -+Jjo--!"},
      {L"\u65e5\u672c\u8a9e", "+ZeVnLIqe"},
      {L"!\"#$%&*;<=>@[]^_`{|}", "!\"#$%&*;<=>@[]^_`{|}"},
      {L"a\tb\r\nc d'(),-./:?", "a\tb\r\nc d'(),-./:?"},
  };
  for (auto& c : cases) EXPECT_EQ(WideToUtf7(c.in), c.out) << c.out;
  EXPECT_EQ(WideToUtf7(WideString(1, L'\0')), "+AAA");
}

TEST(Utf7, DecoderAcceptsWellFormedAndRejectsMalformedText) {
  struct { const char* in; const wchar_t* out; } good[] = {
      {"+-", L"+"}, {"+Ti0", L"\u4e2d"}, {"+Ti0-a", L"\u4e2da"}, {"a+-b", L"a+b"},
      {"Hi Mom -+Jjo--!", L"Hi Mom -\u263a-!"}, {"+ZeVnLIqe", L"\u65e5\u672c\u8a9e"}, {"", L""},
      {"+Ti0.x", L"\u4e2d.x"},
  };
  for (auto& c : good) EXPECT_EQ(Utf7ToWide(c.in), c.out) << c.in;
  for (const char* bad : {"+", "a+", "++", "+Ti1", "+A-", "+.", "\x80", "+Ti0\xC3", "ok\xFF"}) {
    try {
      Utf7ToWide(bad);
      ADD_FAILURE() << "accepted " << bad;
    } catch (const EUniGeneralError& e) {
      EXPECT_EQ(e.Message(), L"Invalid UTF7") << bad;
    }
  }
}

namespace {
// Random UTF-16 text: ASCII (with "+", "-" and controls), BMP letters, and surrogates both in
// pairs and alone.
std::vector<WideString> RandomTexts(int Count) {
  std::mt19937 rng(20261210);
  std::vector<WideString> out;
  for (int n = 0; n < Count; ++n) {
    WideString s;
    int len = rng() % 40;
    for (int i = 0; i < len; ++i) {
      switch (rng() % 7) {
        case 0: s += (wchar_t)(rng() % 32); break;                       // controls, NUL included
        case 1: s += (wchar_t)(32 + rng() % 96); break;                  // printable ASCII and DEL
        case 2: s += (rng() % 2) ? L'+' : L'-'; break;
        case 3: s += (wchar_t)(0x80 + rng() % (0xD800 - 0x80)); break;   // below the surrogates
        case 4: s += (wchar_t)(0xE000 + rng() % 0x2000); break;          // above them
        case 5: s += (wchar_t)(0xD800 + rng() % 0x400); s += (wchar_t)(0xDC00 + rng() % 0x400); break;
        case 6: s += (wchar_t)(0xD800 + rng() % 0x800); break;           // a lone surrogate
      }
    }
    out.push_back(s);
  }
  return out;
}

bool HasLoneSurrogate(const WideString& S) {
  for (size_t i = 0; i < S.size(); ++i) {
    uint16_t c = S[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < S.size() && (uint16_t)S[i + 1] >= 0xDC00 && (uint16_t)S[i + 1] <= 0xDFFF) {
      ++i;
      continue;
    }
    if (c >= 0xD800 && c <= 0xDFFF) return true;
  }
  return false;
}
}  // namespace

TEST(RoundTrips, RandomTextsSurviveUtf7AndUtf8) {
  int compared = 0;
  for (const WideString& s : RandomTexts(400)) {
    AnsiString u7 = WideToUtf7(s);
    for (char c : u7) ASSERT_LT((unsigned char)c, 128u);
    ASSERT_EQ(Utf7ToWide(u7), s) << u7;
    AnsiString u8 = WideToUtf8(s);
    ASSERT_EQ(Utf8ToWide(u8), s);
    if (!HasLoneSurrogate(s)) {
      // Well-formed text is plain UTF-8, byte for byte as the system writes it.
      ASSERT_EQ(u8, WideToCodePage(s, CP_UTF8_NUMBER));
      int n = WideCharToMultiByte(CP_UTF8, 0, s.data(), (int)s.size(), nullptr, 0, nullptr, nullptr);
      AnsiString sys(n, '\0');
      WideCharToMultiByte(CP_UTF8, 0, s.data(), (int)s.size(), sys.data(), n, nullptr, nullptr);
      ASSERT_EQ(u8, sys);
      ++compared;
    }
  }
  EXPECT_GT(compared, 50);
}

TEST(Utf8, MalformedBytesReadAsReplacementCharacters) {
  struct { const char* in; const wchar_t* out; } cases[] = {
      {"a\xFF" "b", L"a\uFFFDb"},
      {"\xC0\x80", L"\uFFFD\uFFFD"},           // overlong
      {"\xE4\xB8", L"\uFFFD\uFFFD"},           // cut short at the end
      {"\xE4\xB8" "a", L"\uFFFD\uFFFDa"},
      {"\xF5\x80\x80\x80", L"\uFFFD\uFFFD\uFFFD\uFFFD"},
      {"\xF0\x9F\x98\x80", L"\U0001F600"},
      {"\xED\xA0\x80", L"\xD800"},             // a lone surrogate as written by WideToUtf8
      {"\xE4\xB8\xAD", L"\u4e2d"},
  };
  for (auto& c : cases) EXPECT_EQ(Utf8ToWide(c.in), c.out) << c.in;
  EXPECT_EQ(WideToUtf8(L"\U0001F600"), "\xF0\x9F\x98\x80");
  EXPECT_EQ(WideToUtf8(WideString(1, (wchar_t)0xDC00)), "\xED\xB0\x80");
}

TEST(CodePages, ConversionsByNumber) {
  for (const char* s : {"+Ti0-a", "abc", ""}) EXPECT_EQ(CodePageToWide(s, 65000), Utf7ToWide(s));
  for (const char* s : {"\xE4\xB8\xAD", "a\xFF", ""}) EXPECT_EQ(CodePageToWide(s, 65001), Utf8ToWide(s));
  EXPECT_EQ(WideToCodePage(L"\u4e2da", 65000), "+Ti0-a");
  EXPECT_EQ(WideToCodePage(L"caf\u00e9", 1252), "caf\xE9");
  EXPECT_EQ(CodePageToWide("caf\xE9", 1252), L"caf\u00e9");
  EXPECT_EQ(WideToCodePage(L"\u4e2d", 936), "\xD6\xD0");
  EXPECT_EQ(CodePageToWide("\xD6\xD0", 936), L"\u4e2d");
  EXPECT_EQ(WideToCodePage(L"\u4e2d", 1252), "?") << "replaced as the system does";
  EXPECT_EQ(WideToCodePage(L"", 1252), "");
  EXPECT_EQ(CodePageToWide(WideToCodePage(NameInCodePage(), DefaultCodePage()), 0), NameInCodePage());
}

TEST(CodePages, LocalesKeyboardAndKeyCodes) {
  EXPECT_EQ(LocaleCodePage(0x0804), 936u);
  EXPECT_EQ(LocaleCodePage(0x0409), 1252u);
  EXPECT_EQ(LocaleCodePage(0x0419), 1251u);
  EXPECT_EQ(LocaleCodePage(0x7FFFFFFF), GetACP()) << "a locale without a code page";
  EXPECT_EQ(KeyboardCodePage(), TestConfig().CodePage);
  EXPECT_EQ(CharCodeToWideChar(0x4E2D), L'\u4e2d');
  EXPECT_EQ(CharCodeToWideChar(0x100), (wchar_t)0x100) << "codes above 255 pass as they are";
  EXPECT_EQ(CharCodeToWideChar('A'), L'A');
  if (TestConfig().CodePage == 936) {
    // A lead byte alone is no character of the code page: the system's default character.
    EXPECT_EQ(CharCodeToWideChar(0xD6), L'?');
  }
  if (TestConfig().CodePage == 1252) {
    EXPECT_EQ(CharCodeToWideChar(0xE9), L'\u00e9');
    EXPECT_EQ(CharCodeToWideChar(0x80), L'\u20ac');
  }
}

TEST(CodePages, SwapByteOrderStopsAtTheFirstZeroUnit) {
  wchar_t s[] = {(wchar_t)0x4100, (wchar_t)0x2D4E, 0, (wchar_t)0x4300};
  SwapWideByteOrder(s);
  EXPECT_EQ(s[0], L'A');
  EXPECT_EQ(s[1], L'\u4e2d');
  EXPECT_EQ(s[3], (wchar_t)0x4300);
  SwapWideByteOrder(nullptr);
}
