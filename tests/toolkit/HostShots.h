// Screenshots of host windows checked against pixels computed in the test: what AlphaBlend makes
// of a premultiplied pixel over an opaque one, the skin pictures' own straight pixels (linked in
// as resources 20000 + id), a host painted and kept as an artefact, and counts of pixels off
// their expected colour or dark enough to be ink.
#pragma once
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "classlib/Forms.h"
#include "classlib/WinApi.h"
#include "common/Peer.h"
#include "common/WindowCapture.h"
#include "common/XInput.h"
#include "toolkit/HyperlinkControl.h"

namespace shots {

// What AlphaBlend gives for a premultiplied source pixel over an opaque background (0xRRGGBB).
inline uint32_t Over(uint32_t Src, uint32_t Dst, uint8_t Constant) {
  double ca = Constant / 255.0;
  double sa = (Src >> 24) / 255.0 * ca;
  uint32_t out = 0;
  for (int shift = 0; shift < 24; shift += 8) {
    double s = (Src >> shift & 0xFF) * ca, d = Dst >> shift & 0xFF;
    out |= static_cast<uint32_t>(std::lround(s + d * (1 - sa))) << shift;
  }
  return out;
}

// A skin picture's straight RGBA pixels, as the test program carries them.
struct TSkinPicture {
  const uint8_t* Rgba = nullptr;
  int Width = 0, Height = 0;
  // The premultiplied ARGB pixel the image cache holds for (X, Y).
  uint32_t Premultiplied(int X, int Y) const {
    const uint8_t* s = Rgba + (static_cast<size_t>(Y) * Width + X) * 4;
    uint32_t a = s[3];
    return a << 24 | (s[0] * a >> 8) << 16 | (s[1] * a >> 8) << 8 | (s[2] * a >> 8);
  }
  uint8_t Alpha(int X, int Y) const { return Rgba[(static_cast<size_t>(Y) * Width + X) * 4 + 3]; }
};
// Fails the test when the picture is not there or not Width x Height.
inline TSkinPicture SkinPicture(uint32_t Id, int Width, int Height) {
  TSkinPicture p;
  HMODULE self = GetModuleHandleW(nullptr);
  HRSRC res = FindResourceW(self, MAKEINTRESOURCEW(20000 + Id), MAKEINTRESOURCEW(10));
  EXPECT_NE(res, nullptr) << Id;
  if (!res) return p;
  EXPECT_EQ(SizeofResource(self, res), static_cast<DWORD>(Width * Height * 4)) << Id;
  p.Rgba = static_cast<const uint8_t*>(LockResource(LoadResource(self, res)));
  p.Width = Width;
  p.Height = Height;
  return p;
}

// Keeps a screenshot as artefacts\File.
inline void Keep(const capture::TCapture& Shot, const std::wstring& File) {
  CreateDirectoryW(L"artefacts", nullptr);
  EXPECT_TRUE(capture::SaveBmp(Shot, L"artefacts\\" + File));
}

// Lays the host out, paints it, and keeps its screenshot as artefacts\File.
inline capture::TCapture Shoot(THyperlinkControl* Host, const std::wstring& File) {
  Host->Relayout();
  InvalidateRect(static_cast<HWND>(Host->Handle()), nullptr, FALSE);
  UpdateWindow(static_cast<HWND>(Host->Handle()));
  xinput::PumpFor(100);
  capture::TCapture Shot = capture::CaptureWindow(static_cast<HWND>(Host->Handle()), true);
  Keep(Shot, File);
  return Shot;
}

// The pixels of the W x H area at (X0, Y0) whose colour is off Want(X, Y) (0xRRGGBB) by more than
// 2 in a channel; the first three are reported as What's.
template <class F>
int Mismatches(const capture::TCapture& Shot, int X0, int Y0, int W, int H, F Want, const std::string& What) {
  int Bad = 0;
  for (int Y = 0; Y < H; ++Y)
    for (int X = 0; X < W; ++X) {
      uint32_t Want32 = Want(X, Y), Got = Shot.At(X0 + X, Y0 + Y) & 0xFFFFFF;
      for (int S = 0; S < 24; S += 8)
        if (std::abs(static_cast<int>(Want32 >> S & 0xFF) - static_cast<int>(Got >> S & 0xFF)) > 2) {
          if (Bad++ < 3) ADD_FAILURE() << What << " at " << X << "," << Y << ": " << std::hex << Got << " want " << Want32;
          break;
        }
    }
  return Bad;
}

// A shown form at (40, 40) holding one host window W x H at its client origin, for the tests that
// drive hosts with the X server's pointer (which is parked at the screen's far corner first, so
// that nothing starts out hot). They run one at a time.
class TWindowTest : public ::testing::Test {
 protected:
  template <class THost>
  THost* Open(int W, int H) {
    xinput::Park();
    form = std::make_unique<TForm>(nullptr);
    form->SetBounds(40, 40, W + 40, H + 60);
    auto* host = new THost(form.get());
    host->SetParent(form.get());
    host->SetBounds(0, 0, W, H);
    form->Show();
    host->HandleNeeded();
    xinput::PumpFor(100);
    fHost = host;
    return host;
  }
  void TearDown() override {
    form.reset();
    xinput::PumpFor(20);
  }
  // The screen point of a host-client point.
  POINT Screen(int X, int Y) {
    POINT p{X, Y};
    ClientToScreen(static_cast<HWND>(fHost->Handle()), &p);
    return p;
  }
  void MoveTo(int X, int Y) {
    POINT p = Screen(X, Y);
    xinput::Xdo("mousemove --sync " + std::to_string(p.x) + " " + std::to_string(p.y));
  }
  std::unique_ptr<TForm> form;

 private:
  TWinControl* fHost = nullptr;
};

// A drag from the X server's pointer, which stands on a window at the screen point Pressed: the
// left button goes down, the pointer moves 20,10 and then 30,20 more and the button comes up,
// while the thread serves its messages (a window's move loop runs inside them). Says which
// WM_NCLBUTTONDOWN messages the thread took from its queue meanwhile, where Window was before
// and after, and whether it followed the pointer from the first such message's place (50,30
// further than that) within WaitMs. Returns with the button up.
struct TPostedMove {
  HWND Wnd;
  WPARAM Hit;
  POINT At;
};
struct TDrag {
  std::vector<TPostedMove> Posted;
  RECT Before{}, After{};
  bool Followed = false;
};
inline std::vector<TPostedMove>*& PostedMoves() {
  static std::vector<TPostedMove>* list = nullptr;
  return list;
}
inline LRESULT CALLBACK WatchPostedMoves(int Code, WPARAM W, LPARAM L) {
  auto* m = reinterpret_cast<MSG*>(L);
  if (Code == HC_ACTION && W == PM_REMOVE && m->message == WM_NCLBUTTONDOWN && PostedMoves())
    PostedMoves()->push_back({m->hwnd, m->wParam, POINT{(short)LOWORD(m->lParam), (short)HIWORD(m->lParam)}});
  return CallNextHookEx(nullptr, Code, W, L);
}
inline TDrag DragFrom(HWND Window, POINT Pressed, unsigned WaitMs) {
  TDrag d;
  GetWindowRect(Window, &d.Before);
  PostedMoves() = &d.Posted;
  HHOOK hook = SetWindowsHookExW(WH_GETMESSAGE, WatchPostedMoves, nullptr, GetCurrentThreadId());
  EXPECT_NE(hook, nullptr);
  peer::Result r = peer::Run("xdotool mousedown 1", 20);
  EXPECT_EQ(r.exitCode, 0) << r.err;
  xinput::PumpFor(100);
  xinput::Run("mousemove_relative --sync 20 10 sleep 0.3 mousemove_relative --sync 30 20 sleep 0.3 mouseup 1");
  d.Followed = xinput::PumpUntil(
      [&] {
        GetWindowRect(Window, &d.After);
        if (d.Posted.empty()) return false;
        POINT from = d.Posted[0].At;
        return d.After.left == d.Before.left + Pressed.x + 50 - from.x &&
               d.After.top == d.Before.top + Pressed.y + 30 - from.y;
      },
      WaitMs);
  xinput::PumpUntil([] { return !(GetAsyncKeyState(VK_LBUTTON) & 0x8000); }, 2000);
  xinput::PumpFor(100);
  GetWindowRect(Window, &d.After);
  if (hook) UnhookWindowsHookEx(hook);
  PostedMoves() = nullptr;
  return d;
}

// A drag that moved Window as the system's move loop does: one posted WM_NCLBUTTONDOWN /
// HTCAPTION to it at the first move's place, and the window following the pointer from there.
inline void ExpectWindowMoved(const TDrag& D, HWND Window, POINT Pressed) {
  EXPECT_TRUE(D.Followed) << "window at " << D.After.left << "," << D.After.top << ", was " << D.Before.left << ","
                          << D.Before.top;
  ASSERT_EQ(D.Posted.size(), 1u);
  EXPECT_EQ(D.Posted[0].Wnd, Window);
  EXPECT_EQ(D.Posted[0].Hit, static_cast<WPARAM>(HTCAPTION));
  EXPECT_EQ(D.Posted[0].At.x, Pressed.x + 20);
  EXPECT_EQ(D.Posted[0].At.y, Pressed.y + 10);
}

// Text ink: a pixel clearly darker than the light surfaces the texts are drawn on (smoothed
// strokes of grey text included).
inline bool IsInk(uint32_t Pixel) {
  int r = Pixel >> 16 & 0xFF, g = Pixel >> 8 & 0xFF, b = Pixel & 0xFF;
  return r * 30 + g * 59 + b * 11 < 190 * 100;
}
// The ink of the W x H area at (X0, Y0), row by row.
inline std::vector<bool> InkMask(const capture::TCapture& Shot, int X0, int Y0, int W, int H) {
  std::vector<bool> m;
  for (int y = Y0; y < Y0 + H; ++y)
    for (int x = X0; x < X0 + W; ++x) m.push_back(IsInk(Shot.At(x, y)));
  return m;
}
inline int InkCount(const std::vector<bool>& Mask) {
  int n = 0;
  for (bool b : Mask) n += b;
  return n;
}
// The pixels set in one mask and not in the other.
inline int InkDifference(const std::vector<bool>& A, const std::vector<bool>& B) {
  int n = 0;
  for (size_t i = 0; i < A.size() && i < B.size(); ++i) n += A[i] != B[i];
  return n;
}

}  // namespace shots
