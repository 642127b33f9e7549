#include "tasks/Utils.h"

#include "classlib/WinApi.h"

#include <shellapi.h>
#include <shlobj.h>

#include <cstdarg>
#include <vector>

#include "classlib/Forms.h"
#include "tasks/MD5.h"
#include "unicode/UniRegistry.h"
#include "unicode/UniSysUtils.h"
#include "unicode/UniWindows.h"

namespace {

// ---- file, path and shell helpers -------------------------------------------------------------

// True when a file or a folder of that name exists.
bool NameExists(const WideString& Name) {
  WIN32_FIND_DATAW fd;
  HANDLE h = WideFindFirstFile(Name, fd);
  if (h == INVALID_HANDLE_VALUE) return false;
  FindClose(h);
  return true;
}

// The 8-bit calls where the system has no wide ones.
bool CreateDirectoryWide(const WideString& Path) {
  if (Win32PlatformIsNT()) return CreateDirectoryW(Path.c_str(), nullptr) != 0;
  return CreateDirectoryA(WideToAnsi(Path).c_str(), nullptr) != 0;
}

WideString TempPathWide() {
  if (Win32PlatformIsNT()) {
    wchar_t buf[MAX_PATH + 1];
    DWORD n = GetTempPathW(MAX_PATH + 1, buf);
    if (n > 0 && n <= MAX_PATH) return WideString(buf, n);
  }
  return AnsiToWide(TUtils::GetTempFolder());
}

WideString ExpandEnvironment(const WideString& S) {
  const DWORD size = 15360;
  if (Win32PlatformIsNT()) {
    std::vector<wchar_t> buf(size + 1, 0);
    DWORD n = ExpandEnvironmentStringsW(S.c_str(), buf.data(), size);
    return n > 0 && n <= size ? WideString(buf.data()) : S;
  }
  std::vector<char> buf(size + 1, 0);
  DWORD n = ExpandEnvironmentStringsA(WideToAnsi(S).c_str(), buf.data(), size);
  return n > 0 && n <= size ? AnsiToWide(buf.data()) : S;
}

void* AppWindow() { return Application ? Application->Handle() : nullptr; }

bool RunShell(const WideString& Operation, const WideString& File, const WideString& Parameters, int ShowCmd) {
  if (!UtilsShellExecute) return false;
  return UtilsShellExecute(AppWindow(), Operation, File, Parameters, WideString(), ShowCmd) > 31;
}

// Seconds since 1970-01-01 00:00 of the local clock.
int64_t LocalUnixSeconds() {
  SYSTEMTIME st;
  GetLocalTime(&st);
  FILETIME ft;
  SystemTimeToFileTime(&st, &ft);
  int64_t t = ((int64_t)ft.dwHighDateTime << 32) | ft.dwLowDateTime;
  return (t - 116444736000000000LL) / 10000000LL;
}

WideString WithBackslash(const WideString& S) {
  if (!S.empty() && S.back() == L'\\') return S;
  return S + L'\\';
}

// The default value (Name empty) or a named value of a key below Root, as text; empty when the
// key does not exist.
WideString RegReadString(HKEY Root, const WideString& Key, const WideString& Name) {
  TUniRegistry reg;
  reg.SetRootKey(Root);
  if (!reg.OpenKeyReadOnly(WideToAnsi(Key))) return WideString();
  return reg.ReadString(Name);
}

int HexDigit(wchar_t C) {
  if (C >= L'0' && C <= L'9') return C - L'0';
  if (C >= L'a' && C <= L'f') return C - L'a' + 10;
  if (C >= L'A' && C <= L'F') return C - L'A' + 10;
  return -1;
}

}  // namespace

TShellExecuteFunc UtilsShellExecute = [](void* Wnd, const WideString& Operation, const WideString& File,
                                         const WideString& Parameters, const WideString& Directory,
                                         int ShowCmd) -> intptr_t {
  return (intptr_t)WideShellExecute(static_cast<HWND>(Wnd), Operation, File, Parameters, Directory, ShowCmd);
};

// ---------------------------------------------------------------------------------------------

AnsiString TUtils::GetVersion() { return "V1.0.0"; }

WideString TUtils::GetAppTitle() { return L"Tonvale"; }

uint8_t TUtils::GetFormatByExtension(const WideString& FileName) {
  static const wchar_t* const exts[] = {L".wav", L".mp3", L".ogg", L".flac", L".wma", L".tta",
                                        L".ape", L".tak", L".ofr", L".wv",   L".mpc"};
  WideString ext = WideExtractFileExt(FileName);
  for (wchar_t& c : ext)
    if (c >= L'A' && c <= L'Z') c = (wchar_t)(c - L'A' + L'a');
  for (int i = 0; i < 11; ++i)
    if (ext == exts[i]) return (uint8_t)(i + 1);
  return 0;
}

uint32_t TUtils::GetFileSize(const WideString& FileName) {
  intptr_t f = WideFileOpen(FileName, fmOpenRead | fmShareDenyNone);
  if (f == -1) return 0;
  HANDLE h = reinterpret_cast<HANDLE>(f);
  DWORD size = ::GetFileSize(h, nullptr);
  CloseHandle(h);
  return size == INVALID_FILE_SIZE ? 0 : size;
}

WideString TUtils::WideFormat(const wchar_t* Format, ...) {
  std::vector<wchar_t> buf(256);
  for (;;) {
    va_list ap;
    va_start(ap, Format);
    int n = _vsnwprintf(buf.data(), buf.size(), Format, ap);
    va_end(ap);
    if (n >= 0 && (size_t)n < buf.size()) return WideString(buf.data(), n);
    buf.resize(buf.size() * 2);
  }
}

WideString TUtils::SelectFolder(void* Owner, const WideString& Title) {
  WideString display, path;
  if (!BrowseForFolder(Owner, Title, display, path)) return WideString();
  return path;
}

bool TUtils::CreateFolder(const WideString& Path) { return CreateDirectoryWide(Path); }

bool TUtils::IsFolderWritable(const WideString& Folder) {
  WideString probe = MakeUniqueFileName(WithBackslash(Folder) +
                                        AnsiToWide(MD5Print(MD5String(IntToStr(LocalUnixSeconds())))));
  intptr_t h = WideFileCreate(probe);
  if (h != -1) CloseHandle(reinterpret_cast<HANDLE>(h));
  if (!WideFileExists(probe)) return false;
  WideDeleteFile(probe);
  return true;
}

WideString TUtils::MakeUniqueFileName(const WideString& Name) {
  WideString ext = WideExtractFileExt(Name);
  WideString base = Name.substr(0, Name.size() - ext.size());
  WideString candidate = Name;
  for (int counter = 0; NameExists(candidate); ++counter)
    candidate = WideFormat(L"%s(%d)%s", base.c_str(), counter, ext.c_str());
  return candidate;
}

bool TUtils::ExploreFolder(const WideString& Folder) { return RunShell(L"explore", Folder, WideString(), SW_SHOW); }

bool TUtils::SelectInExplorer(const WideString& FileName) {
  if (!WideFileExists(FileName)) return false;
  return RunShell(L"open", L"explorer.exe", L"/N,/select," + FileName, SW_SHOW);
}

WideString TUtils::FormatFileSize(uint32_t Bytes) {
  double m = Bytes / 1048576.0;
  if (m >= 1024) return WideFormat(L"%.1f %s", m / 1024, L"GB");
  if (m >= 1) return WideFormat(L"%.1f %s", m, L"MB");
  return WideFormat(L"%.1f %s", Bytes / 1024.0, L"KB");
}

void TUtils::MsToMinSec(uint32_t Ms, int& Minutes, int& Seconds) {
  int s = (int)Round(Ms / 1000.0);
  if (s < 61) {
    Minutes = 0;
    Seconds = s;
  } else {
    Minutes = s / 60;
    Seconds = s % 60;
  }
}

bool TUtils::SplitMilliseconds(uint32_t Ms, uint32_t& Hours, uint32_t& Millis, uint32_t& Seconds,
                               uint32_t& Minutes) {
  Hours = Ms / 3600000;
  Ms %= 3600000;
  Minutes = Ms / 60000;
  Ms %= 60000;
  Seconds = Ms / 1000;
  Millis = Ms % 1000;
  return true;
}

WideString TUtils::FormatTimeMs(uint32_t Ms) {
  uint32_t h, ms, s, m;
  SplitMilliseconds(Ms, h, ms, s, m);
  return WideFormat(L"%.2d:%.2d:%.2d:%.3d", h, m, s, ms);
}

WideString TUtils::FormatTimeSec(uint32_t Seconds) {
  uint32_t h, ms, s, m;
  SplitMilliseconds(Seconds * 1000, h, ms, s, m);
  return WideFormat(L"%.2d:%.2d:%.2d", h, m, s);
}

AnsiString TUtils::GetTempFolder() {
  char buf[256];
  DWORD n = GetTempPathA(255, buf);
  if (n == 0 || n > 255) return AnsiString();
  return AnsiString(buf, n);
}

WideString TUtils::TempFileName() {
  // The wide form of the temporary folder: the 8-bit one loses characters outside the code page.
  return WithBackslash(TempPathWide()) + IntToWStr(LocalUnixSeconds());
}

void TUtils::OpenUrl(const WideString& Url) {
  auto* t = new TOpenUrlThread(Url);
  t->SetFreeOnTerminate(true);
  t->Start();
}

bool TUtils::SendMail(const WideString& Address, const WideString& Subject) {
  return RunShell(L"Open", L"mailto:" + Address + L"?subject=" + Subject, WideString(), SW_SHOWNORMAL);
}

bool TUtils::ForceForegroundWindow(void* Window) {
  HWND wnd = static_cast<HWND>(Window);
  if (IsIconic(wnd)) ShowWindow(wnd, SW_RESTORE);
  if (GetForegroundWindow() == wnd) return true;

  OSVERSIONINFOA v{};
  v.dwOSVersionInfoSize = sizeof v;
  GetVersionExA(&v);
  bool simple = (v.dwPlatformId == VER_PLATFORM_WIN32_NT && v.dwMajorVersion <= 4) ||
                (v.dwPlatformId == VER_PLATFORM_WIN32_WINDOWS &&
                 (v.dwMajorVersion < 4 || (v.dwMajorVersion == 4 && v.dwMinorVersion == 0))) ||
                (v.dwPlatformId != VER_PLATFORM_WIN32_NT && v.dwPlatformId != VER_PLATFORM_WIN32_WINDOWS);
  if (simple) {
    BringWindowToTop(wnd);
    SetForegroundWindow(wnd);
    return GetForegroundWindow() == wnd;
  }

  bool inFront = false;
  DWORD foregroundThread = GetWindowThreadProcessId(GetForegroundWindow(), nullptr);
  DWORD windowThread = GetWindowThreadProcessId(wnd, nullptr);
  if (AttachThreadInput(windowThread, foregroundThread, TRUE)) {
    BringWindowToTop(wnd);
    SetForegroundWindow(wnd);
    AttachThreadInput(windowThread, foregroundThread, FALSE);
    inFront = GetForegroundWindow() == wnd;
  }
  if (!inFront) {
    DWORD timeout = 0;
    SystemParametersInfoA(SPI_GETFOREGROUNDLOCKTIMEOUT, 0, &timeout, 0);
    SystemParametersInfoA(SPI_SETFOREGROUNDLOCKTIMEOUT, 0, (void*)(uintptr_t)0, SPIF_SENDCHANGE);
    BringWindowToTop(wnd);
    SetForegroundWindow(wnd);
    SystemParametersInfoA(SPI_SETFOREGROUNDLOCKTIMEOUT, 0, (void*)(uintptr_t)timeout, SPIF_SENDCHANGE);
  }
  return GetForegroundWindow() == wnd;
}

// ---------------------------------------------------------------------------------------------

bool BrowseForFolder(void* Owner, const WideString& Title, WideString& DisplayName, WideString& Path) {
  DisplayName.clear();
  Path.clear();
  const UINT flags = BIF_RETURNONLYFSDIRS | BIF_EDITBOX | BIF_NEWDIALOGSTYLE;  // 0x51
  // The new dialog style needs OLE on this thread; the calls nest.
  HRESULT ole = OleInitialize(nullptr);
  bool ok = false;
  if (Win32PlatformIsNT()) {
    wchar_t display[MAX_PATH + 1] = {0};
    BROWSEINFOW bi{};
    bi.hwndOwner = static_cast<HWND>(Owner);
    bi.pszDisplayName = display;
    bi.lpszTitle = Title.c_str();
    bi.ulFlags = flags;
    if (LPITEMIDLIST list = SHBrowseForFolderW(&bi)) {
      wchar_t path[MAX_PATH + 1] = {0};
      if (SHGetPathFromIDListW(list, path)) {
        DisplayName = display;
        Path = path;
        ok = true;
      }
      CoTaskMemFree(list);
    }
  } else {
    char display[MAX_PATH + 1] = {0};
    AnsiString title = WideToAnsi(Title);
    BROWSEINFOA bi{};
    bi.hwndOwner = static_cast<HWND>(Owner);
    bi.pszDisplayName = display;
    bi.lpszTitle = title.c_str();
    bi.ulFlags = flags;
    if (LPITEMIDLIST list = SHBrowseForFolderA(&bi)) {
      char path[MAX_PATH + 1] = {0};
      if (SHGetPathFromIDListA(list, path)) {
        DisplayName = AnsiToWide(display);
        Path = AnsiToWide(path);
        ok = true;
      }
      CoTaskMemFree(list);
    }
  }
  if (SUCCEEDED(ole)) OleUninitialize();
  return ok;
}

WideString URLDecode(const WideString& S) {
  WideString r;
  r.reserve(S.size());
  for (size_t i = 0; i < S.size(); ++i) {
    wchar_t c = S[i];
    if (c == L'+') {
      r += L' ';
    } else if (c == L'%') {
      if (i + 2 >= S.size())
        throw Exception(L"Invalid URL-encoded string passed to URLDecode.");
      int hi = HexDigit(S[i + 1]), lo = HexDigit(S[i + 2]);
      if (hi < 0 || lo < 0) throw Exception(L"Invalid HEX digits in string passed to URLDecode.");
      r += (wchar_t)(hi * 16 + lo);
      i += 2;
    } else {
      r += c;
    }
  }
  return r;
}

void TOpenUrlThread::Execute() {
  bool useShell = true;
  UINT oldMode = SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
  HMODULE shell32 = LoadLibraryA("shell32.dll");
  SetErrorMode(oldMode);
  try {
    if (Win32PlatformIsXP() && shell32 && GetProcAddress(shell32, "SHParseDisplayName")) {
      URLDecode(FUrl);  // a malformed escape ends the thread here
      useShell = FUrl.find(L"%00") == WideString::npos;
    }
  } catch (...) {
    if (shell32) FreeLibrary(shell32);
    throw;
  }
  if (shell32) FreeLibrary(shell32);

  if (useShell && RunShell(L"open", FUrl, WideString(), SW_SHOW)) return;

  const WideString clients = L"Software\\Clients\\StartMenuInternet";
  const WideString browsers[] = {RegReadString(HKEY_CURRENT_USER, clients, WideString()),
                                 RegReadString(HKEY_LOCAL_MACHINE, clients, WideString()), L"IEXPLORE.EXE"};
  for (const WideString& browser : browsers) {
    if (browser.empty()) continue;
    WideString command = RegReadString(
        HKEY_LOCAL_MACHINE, TUtils::WideFormat(L"SOFTWARE\\Clients\\StartMenuInternet\\%s\\shell\\open\\command",
                                               browser.c_str()),
        WideString());
    if (command.empty()) continue;
    command = ExpandEnvironment(command);
    if (RunShell(L"open", command, FUrl, SW_SHOW)) return;
  }
}
