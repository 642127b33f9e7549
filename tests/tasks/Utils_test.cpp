// TUtils: names, folders, texts, shell calls (watched through the replaceable shell call, and
// once for real with a harmless target), the URL thread, the folder picker and the foreground.
#include <gtest/gtest.h>
#include "classlib/WinApi.h"

#include <algorithm>
#include <atomic>
#include <mutex>
#include <string>
#include <vector>

#include "classlib/Forms.h"
#include "classlib/SyncObjs.h"
#include "tasks/MD5.h"
#include "tasks/Utils.h"

namespace {

std::string Utf8(const WideString& S) { return WideToUtf8Basic(S); }

bool Exists(const WideString& Name) { return GetFileAttributesW(Name.c_str()) != INVALID_FILE_ATTRIBUTES; }

void Touch(const WideString& Name, const std::string& Content = "x") {
  HANDLE h = CreateFileW(Name.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(h, INVALID_HANDLE_VALUE) << Utf8(Name);
  DWORD n;
  WriteFile(h, Content.data(), (DWORD)Content.size(), &n, nullptr);
  CloseHandle(h);
}

std::vector<WideString> ListFolder(const WideString& Folder) {
  std::vector<WideString> r;
  WIN32_FIND_DATAW fd;
  HANDLE h = FindFirstFileW((Folder + L"\\*").c_str(), &fd);
  if (h == INVALID_HANDLE_VALUE) return r;
  do {
    WideString n = fd.cFileName;
    if (n != L"." && n != L"..") r.push_back(n);
  } while (FindNextFileW(h, &fd));
  FindClose(h);
  return r;
}

void RemoveTree(const WideString& Path) {
  for (const WideString& n : ListFolder(Path)) {
    WideString p = Path + L"\\" + n;
    if (GetFileAttributesW(p.c_str()) & FILE_ATTRIBUTE_DIRECTORY) RemoveTree(p);
    else DeleteFileW(p.c_str());
  }
  RemoveDirectoryW(Path.c_str());
}

// A fresh folder with a Chinese name in the temporary folder, removed afterwards.
class TempFolder : public ::testing::Test {
 protected:
  void SetUp() override {
    wchar_t tmp[MAX_PATH];
    GetTempPathW(MAX_PATH, tmp);
    Dir = WideString(tmp) + L"工具测试-" + std::to_wstring(GetCurrentProcessId());
    RemoveTree(Dir);
    ASSERT_TRUE(CreateDirectoryW(Dir.c_str(), nullptr));
  }
  void TearDown() override { RemoveTree(Dir); }
  WideString In(const WideString& Name) const { return Dir + L"\\" + Name; }
  WideString Dir;
};

// Watches the shell calls: each one is written down; the answer is Answer.
struct ShellWatch {
  struct Call {
    WideString Wnd, Operation, File, Parameters, Directory;
    int ShowCmd;
  };
  ShellWatch() {
    Saved = UtilsShellExecute;
    UtilsShellExecute = [this](void* Wnd, const WideString& Op, const WideString& File, const WideString& Params,
                               const WideString& Dir, int Show) -> intptr_t {
      std::lock_guard<std::mutex> lock(Mutex);
      Calls.push_back({Wnd == Application->Handle() ? L"app" : L"other", Op, File, Params, Dir, Show});
      intptr_t a = Answers.empty() ? 42 : Answers.front();
      if (!Answers.empty()) Answers.erase(Answers.begin());
      Called.SetEvent();
      return a;
    };
  }
  ~ShellWatch() { UtilsShellExecute = Saved; }
  TShellExecuteFunc Saved;
  std::mutex Mutex;
  std::vector<Call> Calls;
  std::vector<intptr_t> Answers;  // one per call, then 42
  TEvent Called{false, false};
};

std::string Describe(const ShellWatch::Call& C) {
  return Utf8(C.Wnd + L"|" + C.Operation + L"|" + C.File + L"|" + C.Parameters + L"|" + C.Directory + L"|") +
         std::to_string(C.ShowCmd);
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Names

using UniqueName = TempFolder;

TEST_F(UniqueName, SkipsTakenFilesAndFolders) {
  EXPECT_EQ(TUtils::MakeUniqueFileName(In(L"歌曲.mp3")), In(L"歌曲.mp3")) << "a free name stays";
  Touch(In(L"歌曲.mp3"));
  EXPECT_EQ(TUtils::MakeUniqueFileName(In(L"歌曲.mp3")), In(L"歌曲(0).mp3"));
  Touch(In(L"歌曲(0).mp3"));
  Touch(In(L"歌曲(1).mp3"));
  EXPECT_EQ(TUtils::MakeUniqueFileName(In(L"歌曲.mp3")), In(L"歌曲(2).mp3"));

  ASSERT_TRUE(CreateDirectoryW(In(L"a.mp3").c_str(), nullptr));  // a folder counts as taken
  EXPECT_EQ(TUtils::MakeUniqueFileName(In(L"a.mp3")), In(L"a(0).mp3"));

  Touch(In(L"无扩展名"));  // no extension
  EXPECT_EQ(TUtils::MakeUniqueFileName(In(L"无扩展名")), In(L"无扩展名(0)"));

  ASSERT_TRUE(CreateDirectoryW(In(L"专辑.v1").c_str(), nullptr));  // a dot in a folder is no extension
  Touch(In(L"专辑.v1\\track"));
  EXPECT_EQ(TUtils::MakeUniqueFileName(In(L"专辑.v1\\track")), In(L"专辑.v1\\track(0)"));
}

TEST(Utils, FormatByExtension) {
  const std::pair<const wchar_t*, int> cases[] = {
      {L"a.wav", 1},  {L"a.MP3", 2},      {L"C:\\x\\a.Ogg", 3}, {L"a.flac", 4},      {L"a.wma", 5},
      {L"a.tta", 6},  {L"a.ape", 7},      {L"a.tak", 8},        {L"a.ofr", 9},       {L".wv", 10},
      {L"a.mpc", 11}, {L"a.mp3.bak", 0},  {L"a", 0},            {L"C:\\x.mp3\\a", 0}, {L"a.mp", 0},
      {L"", 0},       {L"歌曲.FLAC", 4},  {L"a.wav ", 0},
  };
  for (auto& [name, code] : cases) EXPECT_EQ(TUtils::GetFormatByExtension(name), code) << Utf8(name);
}

TEST(Utils, TempFileNameIsTheWideTemporaryFolderAndTheLocalSeconds) {
  wchar_t saved[MAX_PATH] = {0};
  DWORD had = GetEnvironmentVariableW(L"TMP", saved, MAX_PATH);
  wchar_t tmp[MAX_PATH];
  GetTempPathW(MAX_PATH, tmp);
  WideString dir = WideString(tmp) + L"临时文件夹";  // outside every 8-bit code page but the Chinese ones
  CreateDirectoryW(dir.c_str(), nullptr);
  SetEnvironmentVariableW(L"TMP", dir.c_str());

  FILETIME utc, local;
  GetSystemTimeAsFileTime(&utc);
  FileTimeToLocalFileTime(&utc, &local);
  int64_t expected = ((((int64_t)local.dwHighDateTime << 32) | local.dwLowDateTime) - 116444736000000000LL) / 10000000;
  WideString name = TUtils::TempFileName();

  SetEnvironmentVariableW(L"TMP", had ? saved : nullptr);
  RemoveDirectoryW(dir.c_str());
  ASSERT_EQ(name.compare(0, dir.size() + 1, dir + L"\\"), 0) << Utf8(name);
  WideString digits = name.substr(dir.size() + 1);
  ASSERT_FALSE(digits.empty());
  EXPECT_EQ(digits.find_first_not_of(L"0123456789"), WideString::npos) << Utf8(digits);
  EXPECT_LE(std::llabs(std::stoll(digits) - expected), 2) << Utf8(digits);

  AnsiString folder = TUtils::GetTempFolder();
  ASSERT_FALSE(folder.empty());
  EXPECT_EQ(folder.back(), '\\');
}

// ---------------------------------------------------------------------------------------------
// Files and folders

using Folders = TempFolder;

TEST_F(Folders, CreateFolderMakesOneLevel) {
  EXPECT_TRUE(TUtils::CreateFolder(In(L"输出")));
  EXPECT_TRUE(GetFileAttributesW(In(L"输出").c_str()) & FILE_ATTRIBUTE_DIRECTORY);
  EXPECT_FALSE(TUtils::CreateFolder(In(L"输出")));
  EXPECT_FALSE(TUtils::CreateFolder(In(L"缺少\\子文件夹")));
  EXPECT_FALSE(Exists(In(L"缺少")));
}

TEST_F(Folders, WriteProbeLeavesNothingBehindAndSparesExistingFiles) {
  // Files under the names the probe may pick (the digest of this and the next seconds) are kept.
  FILETIME utc, local;
  GetSystemTimeAsFileTime(&utc);
  FileTimeToLocalFileTime(&utc, &local);
  int64_t now = ((((int64_t)local.dwHighDateTime << 32) | local.dwLowDateTime) - 116444736000000000LL) / 10000000;
  std::vector<WideString> kept;
  for (int64_t s = now - 1; s <= now + 3; ++s) {
    kept.push_back(AnsiToWide(MD5Print(MD5String(std::to_string(s)))));
    Touch(In(kept.back()), "user data");
  }
  EXPECT_TRUE(TUtils::IsFolderWritable(Dir));
  EXPECT_TRUE(TUtils::IsFolderWritable(Dir + L"\\"));
  auto left = ListFolder(Dir);
  EXPECT_EQ(left.size(), kept.size()) << "the probe file was not deleted";
  for (const WideString& k : kept) EXPECT_EQ(TUtils::GetFileSize(In(k)), 9u) << Utf8(k);

  EXPECT_FALSE(TUtils::IsFolderWritable(In(L"不存在")));
  Touch(In(L"文件"));
  EXPECT_FALSE(TUtils::IsFolderWritable(In(L"文件")));  // a file, not a folder
}

TEST_F(Folders, FileSize) {
  Touch(In(L"大小.bin"), std::string(12345, 'z'));
  EXPECT_EQ(TUtils::GetFileSize(In(L"大小.bin")), 12345u);
  EXPECT_EQ(TUtils::GetFileSize(In(L"没有.bin")), 0u);
  // A file another handle is writing (sharing read and write) can still be measured.
  HANDLE h = CreateFileW(In(L"大小.bin").c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                         OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  EXPECT_EQ(TUtils::GetFileSize(In(L"大小.bin")), 12345u);
  CloseHandle(h);
}

// ---------------------------------------------------------------------------------------------
// Texts

TEST(Utils, FileSizeTexts) {
  const std::pair<uint32_t, const wchar_t*> cases[] = {
      {0, L"0.0 KB"},          {1536, L"1.5 KB"},          {1047552, L"1023.0 KB"},
      {1048575, L"1024.0 KB"}, {1048576, L"1.0 MB"},       {1572864, L"1.5 MB"},
      {1073741823, L"1024.0 MB"}, {1073741824, L"1.0 GB"}, {4294967295u, L"4.0 GB"},
  };
  for (auto& [bytes, text] : cases) EXPECT_EQ(TUtils::FormatFileSize(bytes), text) << bytes;
}

TEST(Utils, TimeTexts) {
  const std::pair<uint32_t, const wchar_t*> ms[] = {
      {0, L"00:00:00:000"}, {3723456, L"01:02:03:456"}, {59999, L"00:00:59:999"}, {4294967295u, L"1193:02:47:295"}};
  for (auto& [v, text] : ms) EXPECT_EQ(TUtils::FormatTimeMs(v), text) << v;
  const std::pair<uint32_t, const wchar_t*> sec[] = {
      {0, L"00:00:00"}, {59, L"00:00:59"}, {3600, L"01:00:00"}, {86399, L"23:59:59"}, {360000, L"100:00:00"}};
  for (auto& [v, text] : sec) EXPECT_EQ(TUtils::FormatTimeSec(v), text) << v;

  uint32_t h, millis, s, m;
  EXPECT_TRUE(TUtils::SplitMilliseconds(3723456, h, millis, s, m));
  EXPECT_EQ((std::vector<uint32_t>{h, m, s, millis}), (std::vector<uint32_t>{1, 2, 3, 456}));
}

TEST(Utils, MinutesAndSeconds) {
  struct Case {
    uint32_t Ms;
    int Min, Sec;
  } cases[] = {
      {0, 0, 0},      {499, 0, 0},    {500, 0, 0},    {1500, 0, 2},  // halves go to the even second
      {60400, 0, 60}, {60500, 0, 60}, {61500, 1, 2},  {61000, 1, 1}, {125000, 2, 5}, {3600000, 60, 0},
  };
  for (const Case& c : cases) {
    int m = -1, s = -1;
    TUtils::MsToMinSec(c.Ms, m, s);
    EXPECT_EQ(m, c.Min) << c.Ms;
    EXPECT_EQ(s, c.Sec) << c.Ms;
  }
}

TEST(Utils, FixedTextsAndWideFormat) {
  EXPECT_EQ(TUtils::GetVersion(), "V1.0.0");
  EXPECT_EQ(TUtils::GetAppTitle(), L"Tonvale");
  EXPECT_EQ(TUtils::WideFormat(L"%s(%d)%s", L"歌曲", 12, L".mp3"), L"歌曲(12).mp3");
  WideString longText(1000, L'字');
  EXPECT_EQ(TUtils::WideFormat(L"<%s>", longText.c_str()), L"<" + longText + L">");
}

// ---------------------------------------------------------------------------------------------
// Shell calls

using ShellCalls = TempFolder;

TEST_F(ShellCalls, ComposedAsTheShellExpectsThem) {
  ShellWatch w;
  w.Answers = {42, 31, 32};
  EXPECT_TRUE(TUtils::ExploreFolder(Dir));
  EXPECT_FALSE(TUtils::ExploreFolder(Dir)) << "31 and below is failure";
  EXPECT_TRUE(TUtils::ExploreFolder(Dir)) << "32 and above is success";

  EXPECT_FALSE(TUtils::SelectInExplorer(In(L"缺少.wav")));
  EXPECT_EQ(w.Calls.size(), 3u) << "no shell call for a missing file";
  Touch(In(L"输出.wav"));
  EXPECT_TRUE(TUtils::SelectInExplorer(In(L"输出.wav")));
  EXPECT_TRUE(TUtils::SendMail(L"someone@example.com", L"SampleMorph"));

  ASSERT_EQ(w.Calls.size(), 5u);
  EXPECT_EQ(Describe(w.Calls[0]), "app|explore|" + Utf8(Dir) + "|||5");
  EXPECT_EQ(Describe(w.Calls[3]), "app|open|explorer.exe|/N,/select," + Utf8(In(L"输出.wav")) + "||5");
  EXPECT_EQ(Describe(w.Calls[4]), "app|Open|mailto:someone@example.com?subject=SampleMorph|||1");
}

TEST(Utils, UrlDecoding) {
  const std::pair<const wchar_t*, const wchar_t*> good[] = {
      {L"a%2Bb+c", L"a+b c"}, {L"%41%62%7e", L"Ab~"}, {L"", L""}, {L"http://x/y?q=1", L"http://x/y?q=1"}};
  for (auto& [in, out] : good) EXPECT_EQ(URLDecode(in), out) << Utf8(in);
  EXPECT_EQ(URLDecode(L"a%00b"), WideString(L"a\0b", 3));
  const std::pair<const wchar_t*, const char*> bad[] = {
      {L"%4", "Invalid URL-encoded string passed to URLDecode."},
      {L"abc%", "Invalid URL-encoded string passed to URLDecode."},
      {L"%G1", "Invalid HEX digits in string passed to URLDecode."},
      {L"%1g", "Invalid HEX digits in string passed to URLDecode."},
  };
  for (auto& [in, msg] : bad) {
    try {
      URLDecode(in);
      ADD_FAILURE() << "no exception for " << Utf8(in);
    } catch (const Exception& E) {
      EXPECT_STREQ(E.what(), msg) << Utf8(in);
    }
  }
}

namespace {
// Browser registration for the URL thread's fallback, removed again afterwards.
struct TestBrowser {
  const WideString Name = L"SampleMorphTestBrowser";
  const WideString CommandKey = L"SOFTWARE\\Clients\\StartMenuInternet\\" + Name + L"\\shell\\open\\command";
  WideString SavedDefault;
  bool HadDefault = false;
  TestBrowser() {
    HKEY k;
    RegCreateKeyExW(HKEY_LOCAL_MACHINE, CommandKey.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &k, nullptr);
    const wchar_t cmd[] = L"%SystemRoot%\\testbrowser.exe";
    RegSetValueExW(k, nullptr, 0, REG_EXPAND_SZ, (const BYTE*)cmd, sizeof cmd);
    RegCloseKey(k);
    RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\Clients\\StartMenuInternet", 0, nullptr, 0, KEY_ALL_ACCESS,
                    nullptr, &k, nullptr);
    wchar_t buf[512];
    DWORD size = sizeof buf;
    HadDefault = RegQueryValueExW(k, nullptr, nullptr, nullptr, (BYTE*)buf, &size) == ERROR_SUCCESS;
    if (HadDefault) SavedDefault = buf;
    RegSetValueExW(k, nullptr, 0, REG_SZ, (const BYTE*)Name.c_str(), (DWORD)((Name.size() + 1) * 2));
    RegCloseKey(k);
  }
  ~TestBrowser() {
    HKEY k;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, L"Software\\Clients\\StartMenuInternet", 0, KEY_ALL_ACCESS, &k) == 0) {
      if (HadDefault)
        RegSetValueExW(k, nullptr, 0, REG_SZ, (const BYTE*)SavedDefault.c_str(),
                       (DWORD)((SavedDefault.size() + 1) * 2));
      else RegDeleteValueW(k, nullptr);
      RegCloseKey(k);
    }
    WideString key = CommandKey;
    for (int i = 0; i < 3; ++i) {  // command, open, shell, then the browser's own key
      RegDeleteKeyW(HKEY_LOCAL_MACHINE, key.c_str());
      key.erase(key.rfind(L'\\'));
    }
    RegDeleteKeyW(HKEY_LOCAL_MACHINE, key.c_str());
  }
  WideString ExpandedCommand() const {
    wchar_t buf[MAX_PATH];
    ExpandEnvironmentStringsW(L"%SystemRoot%\\testbrowser.exe", buf, MAX_PATH);
    return buf;
  }
};

// Runs a URL thread to its end; the exception that ended it, if any, as text.
std::string RunUrlThread(const WideString& Url) {
  TOpenUrlThread t(Url);
  t.Start();
  t.WaitFor();
  if (!t.FatalException()) return "";
  try {
    std::rethrow_exception(t.FatalException());
  } catch (const std::exception& E) {
    return E.what();
  }
}
}  // namespace

TEST(UrlThread, OpensThroughTheShellOrTheRegisteredBrowser) {
  TestBrowser browser;
  const std::string cmd = Utf8(browser.ExpandedCommand());
  {
    ShellWatch w;  // the shell opens the address
    EXPECT_EQ(RunUrlThread(L"http://example.com/a%20b"), "");
    ASSERT_EQ(w.Calls.size(), 1u);
    EXPECT_EQ(Describe(w.Calls[0]), "app|open|http://example.com/a%20b|||5");
  }
  {
    ShellWatch w;  // the shell fails: the current user's browser is asked next
    w.Answers = {2, 42};
    EXPECT_EQ(RunUrlThread(L"http://example.com/"), "");
    ASSERT_EQ(w.Calls.size(), 2u);
    EXPECT_EQ(Describe(w.Calls[1]), "app|open|" + cmd + "|http://example.com/||5");
  }
  {
    ShellWatch w;  // an encoded NUL never goes to the shell itself
    EXPECT_EQ(RunUrlThread(L"http://example.com/%00x"), "");
    ASSERT_EQ(w.Calls.size(), 1u);
    EXPECT_EQ(Describe(w.Calls[0]), "app|open|" + cmd + "|http://example.com/%00x||5");
  }
  {
    ShellWatch w;  // a malformed escape ends the thread with its exception, and nothing opens
    EXPECT_EQ(RunUrlThread(L"http://example.com/100%"), "Invalid URL-encoded string passed to URLDecode.");
    EXPECT_TRUE(w.Calls.empty());
  }
}

TEST(UrlThread, OpenUrlRunsOnAThreadOfItsOwn) {
  ShellWatch w;
  DWORD callThread = 0;
  auto inner = UtilsShellExecute;
  UtilsShellExecute = [&](void* Wnd, const WideString& Op, const WideString& File, const WideString& Params,
                          const WideString& Dir, int Show) {
    callThread = GetCurrentThreadId();
    return inner(Wnd, Op, File, Params, Dir, Show);
  };
  TUtils::OpenUrl(L"https://example.org/");
  ASSERT_EQ(w.Called.WaitFor(10000), wrSignaled);
  EXPECT_NE(callThread, GetCurrentThreadId());
  Sleep(100);  // let the thread free itself before the watch goes
  std::lock_guard<std::mutex> lock(w.Mutex);
  ASSERT_EQ(w.Calls.size(), 1u);
  EXPECT_EQ(Describe(w.Calls[0]), "app|open|https://example.org/|||5");
}

// The real shell call, with a harmless target: a command script that leaves a mark.
TEST_F(ShellCalls, RealShellCallRunsTheTarget) {
  WideString script = In(L"标记.cmd"), mark = In(L"mark.txt");
  Touch(script, "@echo off\r\necho done> \"%~dp0mark.txt\"\r\n");
  TOpenUrlThread t(script);
  t.Start();
  t.WaitFor();
  EXPECT_FALSE(t.FatalException());
  for (int i = 0; i < 200 && !Exists(mark); ++i) Sleep(100);
  EXPECT_TRUE(Exists(mark)) << "the shell did not run " << Utf8(script);
  Sleep(300);  // let the script's process let go of the folder
}

// ---------------------------------------------------------------------------------------------
// Windows

namespace {
HWND MakeWindow(const wchar_t* Title) {
  HWND h = CreateWindowExW(0, L"STATIC", Title, WS_OVERLAPPEDWINDOW | WS_VISIBLE, 100, 100, 300, 200, nullptr,
                           nullptr, GetModuleHandleW(nullptr), nullptr);
  MSG m;
  while (PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&m);
  return h;
}
}  // namespace

TEST(Utils, ForceForegroundWindowRestoresAndActivates) {
  HWND a = MakeWindow(L"A"), b = MakeWindow(L"B");
  ASSERT_TRUE(a && b);
  SetForegroundWindow(a);
  EXPECT_TRUE(TUtils::ForceForegroundWindow(b));
  EXPECT_EQ(GetForegroundWindow(), b);
  ShowWindow(b, SW_MINIMIZE);
  EXPECT_TRUE(IsIconic(b));
  EXPECT_TRUE(TUtils::ForceForegroundWindow(b));
  EXPECT_FALSE(IsIconic(b));
  EXPECT_EQ(GetForegroundWindow(), b);
  EXPECT_TRUE(TUtils::ForceForegroundWindow(b)) << "already in front";
  DestroyWindow(a);
  DestroyWindow(b);
}

// The folder picker is wired to the system's browser: a helper thread finds the dialog on this
// thread, checks that it shows the title, and answers it, once by cancelling and once with OK on
// the folder it starts on.
namespace {
BOOL CALLBACK FindDialogProc(HWND h, LPARAM p) {
  wchar_t cls[64];
  GetClassNameW(h, cls, 64);
  if (IsWindowVisible(h) && WideString(cls) == L"#32770") {
    *reinterpret_cast<HWND*>(p) = h;
    return FALSE;
  }
  return TRUE;
}

// Gathers the texts of a dialog's child windows.
BOOL CALLBACK ChildTextsProc(HWND h, LPARAM p) {
  wchar_t text[256] = {0};
  GetWindowTextW(h, text, 256);
  if (*text) reinterpret_cast<std::vector<WideString>*>(p)->push_back(text);
  return TRUE;
}

struct DialogDriver {
  static HWND FindDialog(DWORD Thread) {
    HWND found = nullptr;
    EnumThreadWindows(Thread, FindDialogProc, (LPARAM)&found);
    return found;
  }
  static std::vector<WideString> Texts(HWND Dialog) {
    std::vector<WideString> texts;
    EnumChildWindows(Dialog, ChildTextsProc, (LPARAM)&texts);
    return texts;
  }
};

class TDriverThread : public TThread {
 public:
  explicit TDriverThread(bool Ok) : TThread(true), FOk(Ok) {}
  std::atomic<bool> Found{false};
  std::vector<WideString> Texts;

 protected:
  void Execute() override {
    for (int i = 0; i < 300; ++i) {
      HWND dlg = DialogDriver::FindDialog(MainThreadID);
      if (dlg) {
        Sleep(200);  // let the dialog fill its tree
        Texts = DialogDriver::Texts(dlg);
        Found = true;
        PostMessageW(dlg, WM_COMMAND, FOk ? IDOK : IDCANCEL, 0);
        return;
      }
      Sleep(100);
    }
  }

 private:
  bool FOk;
};
}  // namespace

TEST(FolderPicker, ShowsTheTitleAndGivesTheChosenFolderOrNothing) {
  const WideString title = L"选择输出文件夹";
  {
    TDriverThread driver(false);
    driver.Start();
    EXPECT_EQ(TUtils::SelectFolder(nullptr, title), L"");
    driver.WaitFor();
    ASSERT_TRUE(driver.Found) << "no folder dialog appeared";
    EXPECT_NE(std::find(driver.Texts.begin(), driver.Texts.end(), title), driver.Texts.end());
  }
  {
    TDriverThread driver(true);
    driver.Start();
    WideString display, path;
    bool chosen = BrowseForFolder(nullptr, title, display, path);
    driver.WaitFor();
    ASSERT_TRUE(driver.Found) << "no folder dialog appeared";
    ASSERT_TRUE(chosen);
    DWORD attr = GetFileAttributesW(path.c_str());
    EXPECT_TRUE(attr != INVALID_FILE_ATTRIBUTES && (attr & FILE_ATTRIBUTE_DIRECTORY)) << Utf8(path);
    EXPECT_FALSE(display.empty());
  }
}
