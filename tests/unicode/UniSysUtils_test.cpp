// Platform flags, the wide wrappers with their 8-bit paths, and the file, path and string helpers.
#include <gtest/gtest.h>

#include "classlib/Classes.h"
#include "classlib/WinApi.h"
#include "unicode/TestConfig.h"
#include "unicode/UniSysUtils.h"
#include "unicode/UniSystem.h"
#include "unicode/UniWindows.h"

#include <shellapi.h>

TEST(Platform, FlagsAndCodePageAreThoseOfTheConfiguredSystem) {
  EXPECT_EQ(Win32PlatformIsNT(), TestConfig().NT()) << "reported version: " << TestConfig().Version;
  EXPECT_EQ(Win32PlatformIsXP(), TestConfig().XP()) << "reported version: " << TestConfig().Version;
  EXPECT_EQ(GetACP(), TestConfig().CodePage) << "run with LC_ALL=" << (TestConfig().CodePage == 936 ? "zh_CN" : "en_US")
                                            << ".UTF-8";
  EXPECT_EQ(DefaultCodePage(), TestConfig().CodePage);
}

TEST(PathFunctions, SplitNamesAtTheLastDelimiter) {
  struct { const wchar_t *name, *path, *file, *ext; } cases[] = {
      {L"C:\\a.b\\c", L"C:\\a.b\\", L"c", L""},
      {L"C:\\d\\name.", L"C:\\d\\", L"name.", L"."},
      {L".cfg", L"", L".cfg", L".cfg"},
      {L"C:", L"C:", L"", L""},
      {L"C:x.wav", L"C:", L"x.wav", L".wav"},
      {L"\\\\srv\\sh\\f.tar.gz", L"\\\\srv\\sh\\", L"f.tar.gz", L".gz"},
      {L"", L"", L"", L""},
      {L"\u4e2d\\\u6587.txt", L"\u4e2d\\", L"\u6587.txt", L".txt"},
  };
  for (auto& c : cases) {
    EXPECT_EQ(WideExtractFilePath(c.name), c.path) << c.name;
    EXPECT_EQ(WideExtractFileName(c.name), c.file) << c.name;
    EXPECT_EQ(WideExtractFileExt(c.name), c.ext) << c.name;
  }
  // A NUL in the text never counts as a delimiter, even when the set holds one.
  EXPECT_EQ(WideLastDelimiter(WideString(L"a\0", 2), WideString(L"xa\0b", 4)), 2);
  EXPECT_EQ(WideLastDelimiter(L"/", L"abc"), 0);
}

TEST(LineBreaks, EveryBreakBecomesOneOfTheChosenStyle) {
  struct { const wchar_t* in; TTextLineBreakStyle style; const wchar_t* out; } cases[] = {
      {L"\r\r\n\n", tlbsCRLF, L"\r\n\r\n\r\n"},
      {L"a\u2028b", tlbsLF, L"a\nb"},
      {L"a\r\nb\rc\nd", tlbsCR, L"a\rb\rc\rd"},
      {L"a\r\nb\rc\nd\r", tlbsLF, L"a\nb\nc\nd\n"},
      {L"", tlbsCRLF, L""},
      {L"plain", tlbsCRLF, L"plain"},
  };
  for (auto& c : cases) EXPECT_EQ(WideAdjustLineBreaks(c.in, c.style), c.out) << c.style;
}

TEST(StringReplace, FlagsAndWholeWords) {
  struct { const wchar_t *s, *old, *with; uint32_t flags; bool whole; const wchar_t* out; } cases[] = {
      {L"cat concat cat", L"cat", L"dog", rfReplaceAll, true, L"dog concat dog"},
      {L"cat catalog cat", L"cat", L"dog", rfReplaceAll, true, L"dog catalog dog"},
      {L"concat cat", L"cat", L"dog", 0, true, L"concat dog"},  // a rejected match does not count
      {L"cat. cat", L"cat", L"dog", 0, true, L"dog. cat"},
      {L"Cat cAT", L"cat", L"x", rfReplaceAll | rfIgnoreCase, false, L"x x"},
      {L"aXbXc", L"x", L"-", rfIgnoreCase, false, L"a-bXc"},
      {L"aXbxc", L"x", L"-", rfReplaceAll, false, L"aXb-c"},
      {L"aaa", L"a", L"aa", rfReplaceAll, false, L"aaaaaa"},
      {L"abc", L"", L"z", rfReplaceAll, false, L"abc"},  // an empty pattern leaves the text alone
      {L"", L"a", L"b", rfReplaceAll, false, L""},
  };
  for (auto& c : cases) EXPECT_EQ(WideStringReplace(c.s, c.old, c.with, c.flags, c.whole), c.out) << c.s;
  EXPECT_TRUE(IsWideCharSpace(L' '));
  EXPECT_TRUE(IsWideCharPunct(L'.'));
  EXPECT_FALSE(IsWideCharSpace(L'a') || IsWideCharPunct(L'a'));
}

TEST(SystemMessages, TrimmedTextOrTheUnspecifiedErrorText) {
  EXPECT_EQ(WideSysErrorMessage(0x20000000), L"Unspecified error (536870912) from system.");
  WideString m = WideSysErrorMessage(ERROR_FILE_NOT_FOUND);
  ASSERT_FALSE(m.empty());
  EXPECT_GT(m.front(), L' ');
  EXPECT_GT(m.back(), L' ');
  EXPECT_EQ(CheckWin32Result(5), 5u);
  SetLastError(ERROR_ACCESS_DENIED);
  EXPECT_THROW(CheckWin32Result(0), EOSError);
}

TEST(Files, CreateFindRenameDeleteInTheCodePage) {
  TempDir dir(L"files");
  WideString name = dir / (NameInCodePage() + L".txt");
  intptr_t h = WideFileCreate(name);
  ASSERT_NE(h, -1) << GetLastError();
  DWORD put;
  WriteFile(reinterpret_cast<HANDLE>(h), "abc", 3, &put, nullptr);
  CloseHandle(reinterpret_cast<HANDLE>(h));
  EXPECT_TRUE(WideFileExists(name));
  EXPECT_FALSE(WideFileExists(dir.Path)) << "a folder is not a file";
  EXPECT_FALSE(WideFileExists(dir / L"missing.txt"));

  // The found record matches the one of the wide call, names and sizes alike.
  WIN32_FIND_DATAW mine{}, theirs{};
  HANDLE f1 = WideFindFirstFile(name, mine), f2 = FindFirstFileW(name.c_str(), &theirs);
  ASSERT_NE(f1, INVALID_HANDLE_VALUE);
  FindClose(f1);
  FindClose(f2);
  EXPECT_STREQ(mine.cFileName, (NameInCodePage() + L".txt").c_str());
  EXPECT_EQ(mine.nFileSizeLow, 3u);
  EXPECT_EQ(mine.dwFileAttributes, theirs.dwFileAttributes);
  EXPECT_EQ(mine.ftLastWriteTime.dwLowDateTime, theirs.ftLastWriteTime.dwLowDateTime);

  // Create truncates an existing file.
  h = WideFileCreate(name);
  ASSERT_NE(h, -1);
  CloseHandle(reinterpret_cast<HANDLE>(h));
  EXPECT_EQ(ReadFileBytes(name), "");

  WideString renamed = dir / (NameInCodePage() + L"2.txt");
  EXPECT_TRUE(WideRenameFile(name, renamed));
  EXPECT_FALSE(WideFileExists(name));
  EXPECT_TRUE(WideFileExists(renamed));
  EXPECT_TRUE(WideDeleteFile(renamed));
  EXPECT_FALSE(WideFileExists(renamed));
  EXPECT_FALSE(WideDeleteFile(renamed));
}

TEST(Files, ChineseNamesWhereverTheSystemCanRepresentThem) {
  TempDir dir(L"chinese");
  WideString name = dir / L"\u4e2d\u6587.txt", other = dir / L"\u97f3\u4e50.txt";
  bool representable = TestConfig().NT() || TestConfig().CodePage == 936;
  intptr_t h = WideFileCreate(name);
  if (!representable) {
    // The 8-bit path cannot name the file: the call fails cleanly and nothing is created.
    EXPECT_EQ(h, -1);
    EXPECT_FALSE(WideFileExists(name));
    EXPECT_FALSE(WideRenameFile(name, other));
    return;
  }
  ASSERT_NE(h, -1);
  CloseHandle(reinterpret_cast<HANDLE>(h));
  EXPECT_TRUE(WideFileExists(name));
  WIN32_FIND_DATAW fd{};
  HANDLE f = WideFindFirstFile(dir / L"*.txt", fd);
  ASSERT_NE(f, INVALID_HANDLE_VALUE);
  FindClose(f);
  EXPECT_STREQ(fd.cFileName, L"\u4e2d\u6587.txt");
  EXPECT_TRUE(WideRenameFile(name, other));
  EXPECT_TRUE(WideFileExists(other));
  EXPECT_EQ(WideExpandFileName(other), other);
  EXPECT_TRUE(WideDeleteFile(other));
  EXPECT_FALSE(WideFileExists(other));
}

namespace {
// A name and whether each code page holds it exactly.
struct HeldName {
  const wchar_t* Name;
  bool In1252, In936;
};

// The file the 8-bit call would reach for Name: the name through the code page, with a letter in
// place of each "?" that the system reads as a wildcard.
WideString LookAlike(const WideString& Name) {
  WideString w = AnsiToWide(WideToAnsi(Name));
  for (wchar_t& c : w)
    if (c == L'?') c = L'x';
  return w;
}
}  // namespace

TEST(Files, ANameTheCodePageCannotHoldNeverReachesAnotherFile) {
  const HeldName cases[] = {
      {L"P\u0159\u00edli\u0161.zzq", false, false},              // Czech: "r" for the r with caron
      {L"\u4e2d\u6587.zzq", false, true},                        // Chinese: "??" under 1252
      {L"\u05e9\u05dc\u05d5\u05dd.zzq", false, false},           // Hebrew: "????"
      {L"\u00c5ngstr\u00f6m.zzq", true, false},                  // Latin that 936 lacks
      {L"cafe\u0301.zzq", false, false},                         // a combining accent
      {L"\u4e2d\u6587 caf\u00e9 \U0001d11e.zzq", false, false},  // beyond the basic plane
      {L"plain.zzq", true, true},
  };
  for (const HeldName& c : cases) {
    SCOPED_TRACE(testing::Message() << "name " << WideToUtf8(c.Name).c_str());
    bool held = TestConfig().CodePage == 936 ? c.In936 : c.In1252;
    bool reachable = held || TestConfig().NT();
    TempDir dir(L"held");
    WideString name = dir / c.Name;
    AnsiString ansi;
    EXPECT_EQ(WideToAnsiFileName(c.Name, ansi), held);
    // The file that a look-alike or a wildcard would reach, made with the wide call.
    WideString decoy = dir / LookAlike(c.Name);
    ASSERT_EQ(decoy == name, held) << "the table says the code page holds the name";
    if (!held) WriteFileBytes(decoy, "decoy");
    WriteFileBytes(dir / L"src.zzq", "src");

    // Nothing by that name yet: exists, open, find, delete and rename all say so.
    EXPECT_FALSE(WideFileExists(name));
    SetLastError(0);
    EXPECT_EQ(WideFileOpen(name, fmOpenRead | fmShareDenyNone), -1);
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_FILE_NOT_FOUND);
    WIN32_FIND_DATAW fd{};
    SetLastError(0);
    EXPECT_EQ(WideFindFirstFile(name, fd), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_FILE_NOT_FOUND);
    EXPECT_FALSE(WideDeleteFile(name));
    EXPECT_FALSE(WideRenameFile(name, dir / L"moved.zzq"));
    INT_PTR shell = reinterpret_cast<INT_PTR>(WideShellExecute(nullptr, L"", name, L"", L"", SW_HIDE));
    EXPECT_EQ(shell, SE_ERR_FNF) << "a missing file is not opened";
    if (!held) {
      EXPECT_EQ(ReadFileBytes(decoy), "decoy") << "the other file is left alone";
    }

    // Made, written, found, renamed and deleted where the system can name it; refused elsewhere.
    SetLastError(0);
    intptr_t h = WideFileCreate(name);
    if (!reachable) {
      EXPECT_EQ(h, -1);
      EXPECT_EQ(GetLastError(), (DWORD)ERROR_INVALID_NAME);
      SetLastError(0);
      EXPECT_FALSE(WideRenameFile(dir / L"src.zzq", name));
      EXPECT_EQ(GetLastError(), (DWORD)ERROR_INVALID_NAME);
      EXPECT_EQ(ReadFileBytes(dir / L"src.zzq"), "src");
      EXPECT_EQ(WideExpandFileName(name), L"");
      EXPECT_EQ(ReadFileBytes(decoy), "decoy");
      continue;
    }
    ASSERT_NE(h, -1) << GetLastError();
    DWORD put = 0;
    WriteFile(reinterpret_cast<HANDLE>(h), "mine", 4, &put, nullptr);
    CloseHandle(reinterpret_cast<HANDLE>(h));
    EXPECT_EQ(ReadFileBytes(name), "mine");
    if (!held) {
      EXPECT_EQ(ReadFileBytes(decoy), "decoy");
    }
    EXPECT_TRUE(WideFileExists(name));
    EXPECT_EQ(WideExpandFileName(name), name);
    h = WideFileOpen(name, fmOpenRead | fmShareDenyNone);
    EXPECT_NE(h, -1);
    if (h != -1) CloseHandle(reinterpret_cast<HANDLE>(h));
    HANDLE f = WideFindFirstFile(name, fd);
    ASSERT_NE(f, INVALID_HANDLE_VALUE);
    FindClose(f);
    EXPECT_EQ(WideString(fd.cFileName), c.Name);
    EXPECT_TRUE(WideRenameFile(name, dir / L"moved.zzq"));
    EXPECT_TRUE(WideRenameFile(dir / L"moved.zzq", name));
    EXPECT_TRUE(WideDeleteFile(name));
    EXPECT_FALSE(WideFileExists(name));
    if (!held) {
      EXPECT_EQ(ReadFileBytes(decoy), "decoy");
    }
  }
}

TEST(Files, OpenModesShareAndRejectValuesOutsideTheTables) {
  TempDir dir(L"modes");
  WideString name = dir / L"f.bin";
  WriteFileBytes(name, "data");
  intptr_t reader = WideFileOpen(name, fmOpenRead | fmShareDenyWrite);
  ASSERT_NE(reader, -1);
  EXPECT_EQ(WideFileOpen(name, fmOpenWrite | fmShareDenyNone), -1) << "the reader denies writing";
  CloseHandle(reinterpret_cast<HANDLE>(reader));
  reader = WideFileOpen(name, fmOpenRead | fmShareDenyNone);
  intptr_t writer = WideFileOpen(name, fmOpenWrite | fmShareDenyNone);
  EXPECT_NE(reader, -1);
  EXPECT_NE(writer, -1);
  CloseHandle(reinterpret_cast<HANDLE>(reader));
  CloseHandle(reinterpret_cast<HANDLE>(writer));
  for (uint32_t mode : {3u, 0x50u, 0xF2u}) {
    SetLastError(0);
    EXPECT_EQ(WideFileOpen(name, mode), -1) << mode;
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_INVALID_PARAMETER) << mode;
  }
  EXPECT_EQ(WideFileOpen(dir / L"missing", fmOpenRead), -1);
  EXPECT_EQ(WideFileCreate(dir / L"no\\such\\folder.txt"), -1);
}

TEST(FullPaths, ShortBuffersLongPathsAndTheFilePart) {
  wchar_t cwd[MAX_PATH];
  GetCurrentDirectoryW(MAX_PATH, cwd);
  WideString full = WideString(cwd) + L"\\name.txt";
  EXPECT_EQ(WideExpandFileName(L"name.txt"), full);

  wchar_t buf[MAX_PATH];
  wchar_t* part = nullptr;
  DWORD n = WideGetFullPathName(L"name.txt", MAX_PATH, buf, part);
  EXPECT_EQ(n, full.size());
  ASSERT_NE(part, nullptr);
  EXPECT_STREQ(part, L"name.txt");
  // Too small: the size needed, NUL included.
  wchar_t small[4] = {L'x', L'x', L'x', 0};
  part = small;
  EXPECT_EQ(WideGetFullPathName(L"name.txt", 4, small, part), full.size() + 1);
  if (!TestConfig().NT()) {
    EXPECT_EQ(small[0], L'\0');
    EXPECT_EQ(part, nullptr);
  }

  // Longer than the first buffer of 260 characters.
  WideString longPath = L"C:\\";
  for (int i = 0; i < 40; ++i) longPath += L"folder" + std::to_wstring(i) + L"\\";
  longPath += L"f.txt";
  ASSERT_GT(longPath.size(), 300u);
  if (!TestConfig().NT()) {
    // The 8-bit calls stop at 260 characters: no path, and nothing read beyond a buffer.
    EXPECT_EQ(WideExpandFileName(longPath), L"");
    return;
  }
  EXPECT_EQ(WideExpandFileName(longPath), longPath);
  EXPECT_EQ(WideExpandFileName(longPath + L"\\..\\g.txt"), longPath.substr(0, longPath.size() - 5) + L"g.txt");
}

TEST(Wrappers, WindowTextDrawTextAndStringTypes) {
  HWND w = CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 100, 20, nullptr, nullptr, nullptr, nullptr);
  ASSERT_NE(w, nullptr);
  EXPECT_TRUE(WideSetWindowText(w, NameInCodePage()));
  wchar_t text[64];
  GetWindowTextW(w, text, 64);
  EXPECT_EQ(WideString(text), NameInCodePage());
  DestroyWindow(w);

  HDC dc = CreateCompatibleDC(nullptr);
  RECT mine{0, 0, 0, 0}, theirs{0, 0, 0, 0};
  WideString s = NameInCodePage() + L" and more";
  WideDrawText(dc, s.c_str(), 4, mine, DT_CALCRECT | DT_SINGLELINE);
  DrawTextW(dc, s.c_str(), 4, &theirs, DT_CALCRECT | DT_SINGLELINE);
  EXPECT_EQ(mine.right, theirs.right);
  EXPECT_GT(mine.right, 0);
  DeleteDC(dc);

  // One character asked for: one entry written, the next one left alone.
  WORD types[3] = {0xAAAA, 0xAAAA, 0xAAAA};
  ASSERT_TRUE(WideGetStringTypeEx(LOCALE_USER_DEFAULT, CT_CTYPE1, L" x.", 1, types));
  EXPECT_TRUE(types[0] & C1_SPACE);
  EXPECT_EQ(types[1], 0xAAAA);
  EXPECT_TRUE(IsIntResourceId(reinterpret_cast<const void*>(0xFFFF)));
  EXPECT_FALSE(IsIntResourceId(L"name"));
}
