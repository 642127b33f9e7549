// The visible top-level windows of another process, found by their window class: for tests and
// benchmarks that start a program and wait for its windows.
#pragma once
#include <string>
#include <vector>

#include "classlib/WinApi.h"

namespace procwin {

struct TFind {
  DWORD Pid;
  const std::wstring& Class;
  std::vector<HWND> Found;
};

inline BOOL CALLBACK CollectTop(HWND Wnd, LPARAM Param) {
  auto* f = reinterpret_cast<TFind*>(Param);
  DWORD pid = 0;
  GetWindowThreadProcessId(Wnd, &pid);
  wchar_t cls[256] = {};
  GetClassNameW(Wnd, cls, 256);
  if (pid == f->Pid && IsWindowVisible(Wnd) && f->Class == cls) f->Found.push_back(Wnd);
  return TRUE;
}

// The visible top-level windows of process Pid whose window class is Class, topmost first.
// Threads: any.
inline std::vector<HWND> VisibleTopWindows(DWORD Pid, const std::wstring& Class) {
  TFind f{Pid, Class, {}};
  EnumWindows(CollectTop, reinterpret_cast<LPARAM>(&f));
  return f.Found;
}

}  // namespace procwin
