#include "program/Program.h"

#include <commctrl.h>
#include <tlhelp32.h>

#include <algorithm>

#include "common/Peer.h"
#include "common/ProcessWindows.h"
#include "common/XInput.h"

namespace program {

#ifndef PROGRAM_FILE
#error PROGRAM_FILE names SampleMorph.exe in its shipping folder
#endif

std::wstring ProgramFile() {
  std::string s = PROGRAM_FILE;
  std::wstring w(s.begin(), s.end());
  for (wchar_t& c : w)
    if (c == L'/') c = L'\\';
  return L"Z:" + w;
}

TProgram::TProgram(const std::wstring& Language) {
  SetEnvironmentVariableW(L"U3_ENV_LANGUAGE", Language.c_str());
  std::wstring exe = ProgramFile();
  std::wstring folder = exe.substr(0, exe.rfind(L'\\'));
  std::wstring command = L"\"" + exe + L"\"";
  STARTUPINFOW si{};
  si.cb = sizeof si;
  if (!CreateProcessW(exe.c_str(), command.data(), nullptr, nullptr, FALSE, 0, nullptr, folder.c_str(), &si, &FInfo)) {
    ADD_FAILURE() << "the program did not start: error " << GetLastError();
    return;
  }
  WaitForInputIdle(FInfo.hProcess, 20000);
}

TProgram::~TProgram() {
  if (!FInfo.hProcess) return;
  if (WaitForSingleObject(FInfo.hProcess, 0) == WAIT_TIMEOUT) {
    TerminateProcess(FInfo.hProcess, 99);
    WaitForSingleObject(FInfo.hProcess, 10000);
  }
  CloseHandle(FInfo.hThread);
  CloseHandle(FInfo.hProcess);
}

namespace {
BOOL CALLBACK CountChild(HWND, LPARAM Count) {
  ++*reinterpret_cast<int*>(Count);
  return TRUE;
}

BOOL CALLBACK CountWindow(HWND Wnd, LPARAM Param) {
  auto* f = reinterpret_cast<std::pair<DWORD, int>*>(Param);
  DWORD pid = 0;
  GetWindowThreadProcessId(Wnd, &pid);
  if (pid != f->first) return TRUE;
  ++f->second;
  EnumChildWindows(Wnd, CountChild, reinterpret_cast<LPARAM>(&f->second));
  return TRUE;
}
}  // namespace

HWND TProgram::TopWindow(const std::wstring& WinClass, unsigned TimeoutMs) const {
  return TopWindowOfClass(WinClass + L".UnicodeClass", TimeoutMs);
}

HWND TProgram::TopWindowOfClass(const std::wstring& Class, unsigned TimeoutMs) const {
  HWND found = nullptr;
  Eventually([&] {
    std::vector<HWND> w = procwin::VisibleTopWindows(FInfo.dwProcessId, Class);
    found = w.empty() ? nullptr : w.front();
    return found != nullptr;
  }, TimeoutMs);
  return found;
}

namespace {
struct TChildArgs {
  const std::wstring& Class;
  const std::wstring* Caption;
  std::vector<HWND> Found;
};

BOOL CALLBACK MatchChild(HWND Wnd, LPARAM P) {
  auto* a = reinterpret_cast<TChildArgs*>(P);
  wchar_t cls[256] = {};
  GetClassNameW(Wnd, cls, 256);
  if (std::wstring(cls).rfind(a->Class, 0) == 0 && (!a->Caption || Text(Wnd) == *a->Caption)) a->Found.push_back(Wnd);
  return TRUE;
}
}  // namespace

int TProgram::TopWindowCount(const std::wstring& WinClass) const {
  return (int)procwin::VisibleTopWindows(FInfo.dwProcessId, WinClass + L".UnicodeClass").size();
}

HWND TProgram::MainWindow(unsigned TimeoutMs) const { return TopWindow(L"VorelWindows", TimeoutMs); }

DWORD TProgram::WaitForExit(unsigned TimeoutMs) const {
  if (WaitForSingleObject(FInfo.hProcess, TimeoutMs) != WAIT_OBJECT_0) return STILL_ACTIVE;
  DWORD code = STILL_ACTIVE;
  GetExitCodeProcess(FInfo.hProcess, &code);
  return code;
}

int TProgram::Threads() const {
  HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
  int n = 0;
  THREADENTRY32 te{};
  te.dwSize = sizeof te;
  for (BOOL ok = Thread32First(snap, &te); ok; ok = Thread32Next(snap, &te))
    if (te.th32OwnerProcessID == FInfo.dwProcessId) ++n;
  CloseHandle(snap);
  return n;
}

int TProgram::Windows() const {
  std::pair<DWORD, int> f{FInfo.dwProcessId, 0};
  EnumWindows(CountWindow, reinterpret_cast<LPARAM>(&f));
  return f.second;
}

bool Eventually(const std::function<bool()>& Ready, unsigned TimeoutMs) {
  for (unsigned waited = 0;; waited += 100) {
    if (Ready()) return true;
    if (waited >= TimeoutMs) return false;
    Sleep(100);
  }
}

void MoveTo(HWND Wnd, int X, int Y) {
  POINT p{X, Y};
  ClientToScreen(Wnd, &p);
  // A synchronous move to where the pointer already is waits for a motion that never comes: every
  // move starts a pixel aside (one xdotool call, two moves).
  xinput::Xdo("mousemove " + std::to_string(p.x + 1) + " " + std::to_string(p.y) + " mousemove --sync " +
              std::to_string(p.x) + " " + std::to_string(p.y));
}

void ClickAt(HWND Wnd, int X, int Y) {
  MoveTo(Wnd, X, Y);
  xinput::Xdo("click 1");
}

void Click(HWND Control) {
  RECT r;
  GetClientRect(Control, &r);
  ClickAt(Control, r.right / 2, r.bottom / 2);
}

void Type(const std::string& Utf8) { xinput::Xdo("type --delay 20 " + peer::Quote(Utf8)); }
void Key(const std::string& Keys) { xinput::Xdo("key " + Keys); }

std::wstring Text(HWND Wnd) {
  DWORD_PTR len = 0;
  if (!SendMessageTimeoutW(Wnd, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, 5000, &len)) return L"";
  std::wstring s(len + 1, L'\0');
  DWORD_PTR got = 0;
  SendMessageTimeoutW(Wnd, WM_GETTEXT, s.size(), reinterpret_cast<LPARAM>(s.data()), SMTO_ABORTIFHUNG, 5000, &got);
  s.resize(got);
  return s;
}

std::vector<HWND> Children(HWND Parent, const std::wstring& Class, const std::wstring* Caption) {
  TChildArgs args{Class, Caption, {}};
  EnumChildWindows(Parent, MatchChild, reinterpret_cast<LPARAM>(&args));
  return args.Found;
}

HWND ChildWithText(HWND Parent, const std::wstring& Caption) {
  for (HWND w : Children(Parent, L"", &Caption))
    if (IsWindowVisible(w)) return w;
  return nullptr;
}

std::vector<std::wstring> ListBoxLines(HWND ListBox) {
  std::vector<std::wstring> lines;
  const int n = (int)SendMessageW(ListBox, LB_GETCOUNT, 0, 0);
  for (int i = 0; i < n; ++i) {
    const int len = (int)SendMessageW(ListBox, LB_GETTEXTLEN, i, 0);
    std::wstring s(len + 1, L'\0');
    s.resize(std::max(0, (int)SendMessageW(ListBox, LB_GETTEXT, i, reinterpret_cast<LPARAM>(s.data()))));
    lines.push_back(s);
  }
  return lines;
}

int ListBoxSelected(HWND ListBox) { return (int)SendMessageW(ListBox, LB_GETCURSEL, 0, 0); }

std::vector<std::vector<std::wstring>> ListViewRows(HWND ListView, int Columns) {
  std::vector<std::vector<std::wstring>> rows;
  DWORD pid = 0;
  GetWindowThreadProcessId(ListView, &pid);
  HANDLE process = OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, pid);
  if (!process) {
    ADD_FAILURE() << "cannot open the program's process";
    return rows;
  }
  constexpr int kChars = 1024;
  const size_t size = sizeof(LVITEMW) + kChars * sizeof(wchar_t);
  auto* remote = static_cast<uint8_t*>(VirtualAllocEx(process, nullptr, size, MEM_COMMIT, PAGE_READWRITE));
  const int n = (int)SendMessageW(ListView, LVM_GETITEMCOUNT, 0, 0);
  for (int i = 0; i < n; ++i) {
    std::vector<std::wstring> row;
    for (int c = 0; c < Columns; ++c) {
      LVITEMW item{};
      item.iSubItem = c;
      item.cchTextMax = kChars;
      item.pszText = reinterpret_cast<wchar_t*>(remote + sizeof(LVITEMW));
      WriteProcessMemory(process, remote, &item, sizeof item, nullptr);
      const int len = (int)SendMessageW(ListView, LVM_GETITEMTEXTW, i, reinterpret_cast<LPARAM>(remote));
      std::wstring text(std::max(0, len), L'\0');
      if (len > 0) ReadProcessMemory(process, remote + sizeof(LVITEMW), text.data(), len * sizeof(wchar_t), nullptr);
      row.push_back(text);
    }
    rows.push_back(row);
  }
  VirtualFreeEx(process, remote, 0, MEM_RELEASE);
  CloseHandle(process);
  return rows;
}

POINT ListViewRowPoint(HWND ListView, int Index) {
  DWORD pid = 0;
  GetWindowThreadProcessId(ListView, &pid);
  HANDLE process = OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, pid);
  RECT r{LVIR_LABEL, 0, 0, 0};
  if (process) {
    void* remote = VirtualAllocEx(process, nullptr, sizeof r, MEM_COMMIT, PAGE_READWRITE);
    WriteProcessMemory(process, remote, &r, sizeof r, nullptr);
    SendMessageW(ListView, LVM_GETITEMRECT, Index, reinterpret_cast<LPARAM>(remote));
    ReadProcessMemory(process, remote, &r, sizeof r, nullptr);
    VirtualFreeEx(process, remote, 0, MEM_RELEASE);
    CloseHandle(process);
  }
  return POINT{(r.left + r.right) / 2, (r.top + r.bottom) / 2};
}

HWND ComboShowing(const std::vector<HWND>& Combos, const std::wstring& Text) {
  for (HWND c : Combos)
    if (ComboText(c) == Text) return c;
  return nullptr;
}

std::wstring ComboText(HWND Combo) {
  const int i = (int)SendMessageW(Combo, CB_GETCURSEL, 0, 0);
  if (i < 0) return L"";
  std::wstring s(SendMessageW(Combo, CB_GETLBTEXTLEN, i, 0) + 1, L'\0');
  s.resize(std::max(0, (int)SendMessageW(Combo, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(s.data()))));
  return s;
}

capture::TCapture Shot(HWND Wnd, const std::wstring& Name) {
  RECT r;
  GetWindowRect(Wnd, &r);
  HDC screen = GetDC(nullptr);
  capture::TCapture c = capture::Grab(screen, r.left, r.top, r.right - r.left, r.bottom - r.top);
  ReleaseDC(nullptr, screen);
  CreateDirectoryW(L"artefacts", nullptr);
  EXPECT_TRUE(capture::SaveBmp(c, L"artefacts\\" + Name + L".bmp"));
  return c;
}

std::wstring WorkFolder(const std::wstring& Name) {
  std::wstring path = L"C:\\" + Name;
  CreateDirectoryW(path.c_str(), nullptr);
  return path;
}

}  // namespace program
