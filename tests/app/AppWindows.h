// Driving the program's windows as a user does: xdotool moves the X server's pointer and types,
// code runs inside a modal loop from a one-shot timer, forms are found by their window class, and
// the process's GDI and USER object counts are read before and after.
#pragma once
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <string>

#include "classlib/Controls.h"
#include "classlib/WinApi.h"
#include "common/WindowCapture.h"
#include "common/XInput.h"

namespace appwin {

// The screen point of a window's client point.
inline POINT ScreenPoint(HWND Wnd, int X, int Y) {
  POINT p{X, Y};
  ClientToScreen(Wnd, &p);
  return p;
}

// Moves the X pointer to a screen point and waits until it is there. A synchronous move to where
// the pointer already is would wait for a motion that never comes: every move starts a pixel
// aside (one xdotool call, two moves).
inline void MoveTo(POINT P) {
  xinput::Xdo("mousemove " + std::to_string(P.x + 1) + " " + std::to_string(P.y) + " mousemove --sync " +
              std::to_string(P.x) + " " + std::to_string(P.y));
}

// Moves the pointer to the middle of a control's window and clicks the left button.
inline void Click(TWinControl* Control) {
  HWND w = static_cast<HWND>(Control->Handle());
  RECT r;
  GetClientRect(w, &r);
  MoveTo(ScreenPoint(w, r.right / 2, r.bottom / 2));
  xinput::Xdo("click 1");
}

namespace detail {
inline std::function<void()>& Pending() {
  static std::function<void()> pending;
  return pending;
}
inline void CALLBACK RunPending(HWND, UINT, UINT_PTR Id, DWORD) {
  KillTimer(nullptr, Id);
  std::function<void()> fn = std::move(Pending());
  Pending() = nullptr;
  if (fn) fn();
}
}  // namespace detail

// Runs Fn once, DelayMs from now, from the thread's message loop (also a modal one).
inline void Later(unsigned DelayMs, std::function<void()> Fn) {
  detail::Pending() = std::move(Fn);
  SetTimer(nullptr, 0, DelayMs, detail::RunPending);
}

// Runs Fn once Ready() holds, looking every 100 ms from the thread's message loop (also a modal
// one), for at most TimeoutMs; a test fails when Ready() never holds.
inline void When(std::function<bool()> Ready, std::function<void()> Fn, unsigned TimeoutMs = 10000) {
  DWORD until = GetTickCount() + TimeoutMs;
  auto step = std::make_shared<std::function<void()>>();
  *step = [Ready = std::move(Ready), Fn = std::move(Fn), until, step]() mutable {
    if (Ready()) {
      Fn();
      *step = nullptr;  // lets go of the chain
    } else if (static_cast<int>(GetTickCount() - until) < 0) {
      Later(100, [step] { if (*step) (*step)(); });
    } else {
      ADD_FAILURE() << "what the test waited for never came";
      *step = nullptr;
    }
  };
  Later(100, [step] { if (*step) (*step)(); });
}

// The control of the first visible top-level window of the class (the Unicode window class of a
// form of that window class name), or null.
template <class T>
T* FindForm(const wchar_t* WinClassName) {
  std::wstring name = std::wstring(WinClassName) + L".UnicodeClass";
  for (HWND w = FindWindowW(name.c_str(), nullptr); w; w = FindWindowExW(nullptr, w, name.c_str(), nullptr))
    if (IsWindowVisible(w))
      if (auto* t = dynamic_cast<T*>(FindControl(w))) return t;
  return nullptr;
}

// Text drawn in Area of Shot (client coordinates): its ink (pixels clearly darker than a light
// surface), and how many pixels differ between the first and the last third of the ink's extent.
// Two different characters missing from the font would be two equal boxes.
struct TTextInk {
  int Ink = 0, ThirdsDiffer = 0;
};
inline TTextInk TextInk(const capture::TCapture& Shot, const RECT& Area) {
  auto dark = [&](int X, int Y) {
    uint32_t p = Shot.At(X, Y);
    return ((p >> 16 & 0xFF) * 30 + (p >> 8 & 0xFF) * 59 + (p & 0xFF) * 11) < 150 * 100;
  };
  TTextInk r;
  int x0 = Area.right, x1 = Area.left - 1;
  for (int y = Area.top; y < Area.bottom; ++y)
    for (int x = Area.left; x < Area.right; ++x)
      if (dark(x, y)) {
        ++r.Ink;
        x0 = std::min(x0, x);
        x1 = std::max(x1, x);
      }
  int third = (x1 - x0 + 1) / 3;
  for (int y = Area.top; y < Area.bottom; ++y)
    for (int x = 0; x < third; ++x) r.ThirdsDiffer += dark(x0 + x, y) != dark(x1 - third + 1 + x, y);
  return r;
}

// The inside of a control's window (a frame of 4 pixels left out) in its form's client coordinates.
inline RECT InsideOf(HWND Form, HWND Control) {
  RECT r;
  GetWindowRect(Control, &r);
  MapWindowPoints(nullptr, Form, reinterpret_cast<POINT*>(&r), 2);
  InflateRect(&r, -4, -4);
  return r;
}

// The process's GDI objects and windows. The system's own count (GetGuiResources) is not kept
// under Wine: GDI objects are counted in the process's GDI handle table (the one the process
// environment block points to: entries of 24 bytes as on 64-bit Windows, the index in a handle's
// low word, the object's type in the high word of the type field, 0 once the object is deleted),
// windows by walking every window of the process.
struct TGuiObjects {
  long Gdi = -1, User = -1;
};
namespace detail {
struct TGdiEntry {
  uint64_t Object;
  uint32_t Owner;
  uint32_t Type;  // high word: the object's type
  uint64_t User;
};
static_assert(sizeof(TGdiEntry) == 24, "entry");
inline const TGdiEntry* GdiTable() {
  const uint8_t* peb;
#ifdef _WIN64
  asm("mov %%gs:0x60, %0" : "=r"(peb));
  return *reinterpret_cast<const TGdiEntry* const*>(peb + 0xF8);
#else
  asm("mov %%fs:0x30, %0" : "=r"(peb));
  return *reinterpret_cast<const TGdiEntry* const*>(peb + 0x94);
#endif
}
inline BOOL CALLBACK CountWindow(HWND Wnd, LPARAM Count) {
  DWORD pid = 0;
  GetWindowThreadProcessId(Wnd, &pid);
  if (pid != GetCurrentProcessId()) return TRUE;
  ++*reinterpret_cast<long*>(Count);
  EnumChildWindows(Wnd, CountWindow, Count);
  return TRUE;
}
}  // namespace detail
inline TGuiObjects GuiObjects() {
  TGuiObjects r;
  r.User = 0;
  EnumWindows(detail::CountWindow, reinterpret_cast<LPARAM>(&r.User));
  const detail::TGdiEntry* table = detail::GdiTable();
  // The owner mark of this process's entries, read from an object made for it.
  HBRUSH probe = CreateSolidBrush(0x123456);
  uint32_t owner = table[reinterpret_cast<uintptr_t>(probe) & 0xFFFF].Owner;
  DeleteObject(probe);
  r.Gdi = 0;
  for (size_t i = 0; i < 0x10000; ++i)
    if ((table[i].Type >> 16) != 0 && table[i].Owner == owner) ++r.Gdi;
  return r;
}

}  // namespace appwin
