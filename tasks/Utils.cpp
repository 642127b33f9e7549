#include "tasks/Utils.h"

#include "classlib/WinApi.h"

#include <shellapi.h>
#include <shlobj.h>

#include <cstdarg>
#include <vector>

#include "classlib/Forms.h"
#include "tasks/MD5.h"

namespace {

// ---- file, path and shell helpers -------------------------------------------------------------

// True when a file or a folder of that name exists.
bool NameExists(const WideString& Name) {
  WIN32_FIND_DATAW fd;
  HANDLE h = FindFirstFileW(Name.c_str(), &fd);
  if (h == INVALID_HANDLE_VALUE) return false;
  FindClose(h);
  return true;
}

bool FileExists(const WideString& Name) {
  WIN32_FIND_DATAW fd;
  HANDLE h = FindFirstFileW(Name.c_str(), &fd);
  if (h == INVALID_HANDLE_VALUE) return false;
  FindClose(h);
  return (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

// From the last "." after the last "\" or ":", dot included; empty when there is none.
WideString ExtractFileExt(const WideString& Name) {
  size_t p = Name.find_last_of(L".\\:");
  if (p == WideString::npos || Name[p] != L'.') return WideString();
  return Name.substr(p);
}

bool IsXPOrLater() {
  OSVERSIONINFOW v{};
  v.dwOSVersionInfoSize = sizeof v;
  GetVersionExW(&v);
  return v.dwMajorVersion > 5 || (v.dwMajorVersion == 5 && v.dwMinorVersion >= 1);
}

const wchar_t* OrNull(const WideString& S) { return S.empty() ? nullptr : S.c_str(); }

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

// The default value (Name empty) or a named value of a key, as text; empty when there is none.
WideString RegReadString(HKEY Root, const WideString& Key, const WideString& Name) {
  HKEY k;
  if (RegOpenKeyExW(Root, Key.c_str(), 0, KEY_READ, &k) != ERROR_SUCCESS) return WideString();
  WideString r;
  DWORD type = 0, size = 0;
  if (RegQueryValueExW(k, OrNull(Name), nullptr, &type, nullptr, &size) == ERROR_SUCCESS &&
      (type == REG_SZ || type == REG_EXPAND_SZ) && size > 0) {
    std::vector<wchar_t> buf(size / sizeof(wchar_t) + 1, 0);
    if (RegQueryValueExW(k, OrNull(Name), nullptr, &type, reinterpret_cast<BYTE*>(buf.data()), &size) ==
        ERROR_SUCCESS)
      r = buf.data();
  }
  RegCloseKey(k);
  return r;
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
  return (intptr_t)ShellExecuteW(static_cast<HWND>(Wnd), OrNull(Operation), File.c_str(), OrNull(Parameters),
                                 OrNull(Directory), ShowCmd);
};

// ---------------------------------------------------------------------------------------------

AnsiString TUtils::GetVersion() { return "V1.0.0"; }

WideString TUtils::GetAppTitle() { return L"Tonvale"; }

uint8_t TUtils::GetFormatByExtension(const WideString& FileName) {
  static const wchar_t* const exts[] = {L".wav", L".mp3", L".ogg", L".flac", L".wma", L".tta",
                                        L".ape", L".tak", L".ofr", L".wv",   L".mpc"};
  WideString ext = ExtractFileExt(FileName);
  for (wchar_t& c : ext)
    if (c >= L'A' && c <= L'Z') c = (wchar_t)(c - L'A' + L'a');
  for (int i = 0; i < 11; ++i)
    if (ext == exts[i]) return (uint8_t)(i + 1);
  return 0;
}

uint32_t TUtils::GetFileSize(const WideString& FileName) {
  HANDLE h = CreateFileW(FileName.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return 0;
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

bool TUtils::CreateFolder(const WideString& Path) { return CreateDirectoryW(Path.c_str(), nullptr) != 0; }

bool TUtils::IsFolderWritable(const WideString& Folder) {
  WideString probe = MakeUniqueFileName(WithBackslash(Folder) +
                                        AnsiToWide(MD5Print(MD5String(IntToStr(LocalUnixSeconds())))));
  HANDLE h = CreateFileW(probe.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
  if (!FileExists(probe)) return false;
  DeleteFileW(probe.c_str());
  return true;
}

WideString TUtils::MakeUniqueFileName(const WideString& Name) {
  WideString ext = ExtractFileExt(Name);
  WideString base = Name.substr(0, Name.size() - ext.size());
  WideString candidate = Name;
  for (int counter = 0; NameExists(candidate); ++counter)
    candidate = WideFormat(L"%s(%d)%s", base.c_str(), counter, ext.c_str());
  return candidate;
}

bool TUtils::ExploreFolder(const WideString& Folder) { return RunShell(L"explore", Folder, WideString(), SW_SHOW); }

bool TUtils::SelectInExplorer(const WideString& FileName) {
  if (!FileExists(FileName)) return false;
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
  wchar_t buf[MAX_PATH + 1];
  DWORD n = GetTempPathW(MAX_PATH + 1, buf);
  WideString folder = (n == 0 || n > MAX_PATH) ? AnsiToWide(GetTempFolder()) : WideString(buf, n);
  return WithBackslash(folder) + IntToWStr(LocalUnixSeconds());
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

  OSVERSIONINFOW v{};
  v.dwOSVersionInfoSize = sizeof v;
  GetVersionExW(&v);
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
    SystemParametersInfoW(SPI_GETFOREGROUNDLOCKTIMEOUT, 0, &timeout, 0);
    SystemParametersInfoW(SPI_SETFOREGROUNDLOCKTIMEOUT, 0, (void*)(uintptr_t)0, SPIF_SENDCHANGE);
    BringWindowToTop(wnd);
    SetForegroundWindow(wnd);
    SystemParametersInfoW(SPI_SETFOREGROUNDLOCKTIMEOUT, 0, (void*)(uintptr_t)timeout, SPIF_SENDCHANGE);
  }
  return GetForegroundWindow() == wnd;
}

// ---------------------------------------------------------------------------------------------

bool BrowseForFolder(void* Owner, const WideString& Title, WideString& DisplayName, WideString& Path) {
  DisplayName.clear();
  Path.clear();
  // The new dialog style needs OLE on this thread; the calls nest.
  HRESULT ole = OleInitialize(nullptr);
  wchar_t display[MAX_PATH + 1] = {0};
  BROWSEINFOW bi{};
  bi.hwndOwner = static_cast<HWND>(Owner);
  bi.pszDisplayName = display;
  bi.lpszTitle = Title.c_str();
  bi.ulFlags = BIF_RETURNONLYFSDIRS | BIF_EDITBOX | BIF_NEWDIALOGSTYLE;  // 0x51
  bool ok = false;
  if (LPITEMIDLIST list = SHBrowseForFolderW(&bi)) {
    wchar_t path[MAX_PATH + 1] = {0};
    if (SHGetPathFromIDListW(list, path)) {
      DisplayName = display;
      Path = path;
      ok = true;
    }
    CoTaskMemFree(list);
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
  HMODULE shell32 = LoadLibraryW(L"shell32.dll");
  SetErrorMode(oldMode);
  try {
    if (IsXPOrLater() && shell32 && GetProcAddress(shell32, "SHParseDisplayName")) {
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
    std::vector<wchar_t> expanded(15360 + 1, 0);
    DWORD n = ExpandEnvironmentStringsW(command.c_str(), expanded.data(), 15360);
    if (n > 0 && n <= 15360) command = expanded.data();
    if (RunShell(L"open", command, FUrl, SW_SHOW)) return;
  }
}
