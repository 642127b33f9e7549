// Windows for the chrome's tests: a form that records the bus commands it gets, a form sized to a
// client area, and the X server's pointer placed on a board's points. The tests that use them move
// the real pointer and run one at a time.
#pragma once
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "classlib/Forms.h"
#include "classlib/Graphics.h"
#include "classlib/WinApi.h"
#include "common/Peer.h"
#include "common/XInput.h"
#include "tasks/EventsManager.h"
#include "toolkit/HostShots.h"

namespace chrome {

// A form that records WM_CAPTION_COMMAND and WM_OPEN_TASK and does nothing else with them.
class TSpyForm : public TForm {
 public:
  using TForm::TForm;
  struct TCall {
    uint32_t Msg;
    uintptr_t W;
    intptr_t L;
    bool operator==(const TCall&) const = default;
  };
  std::vector<TCall> Calls;

 protected:
  void WndProc(TMessage& Message) override {
    if (Message.Msg == WM_CAPTION_COMMAND || Message.Msg == WM_OPEN_TASK) {
      Calls.push_back({Message.Msg, Message.WParam, Message.LParam});
      Message.Result = 0;
      return;
    }
    TForm::WndProc(Message);
  }
};

inline std::ostream& operator<<(std::ostream& S, const TSpyForm::TCall& C) {
  return S << "{" << C.Msg << ", 0x" << std::hex << C.W << std::dec << ", " << C.L << "}";
}

// Gives Form (made, not yet shown) a ClientWidth x ClientHeight client area at (Left, Top).
inline void SizeClient(TForm* Form, int Left, int Top, int ClientWidth, int ClientHeight) {
  Form->SetBounds(Left, Top, ClientWidth + 100, ClientHeight + 100);
  RECT c;
  GetClientRect(static_cast<HWND>(Form->Handle()), &c);
  Form->SetBounds(Left, Top, Form->Width() + ClientWidth - c.right, Form->Height() + ClientHeight - c.bottom);
}

// "Left,Top,Right,Bottom", for comparing places.
inline std::string RectText(const TRect& R) {
  return std::to_string(R.Left) + "," + std::to_string(R.Top) + "," + std::to_string(R.Right) + "," +
         std::to_string(R.Bottom);
}

// The pixels of the W x H area at (X, Y) of Shot that are off Picture, drawn there from its top-left
// corner over the colour Under(x, y) of each point of the shot (0xRRGGBB).
template <class F>
int PictureMismatches(const capture::TCapture& Shot, const shots::TSkinPicture& Picture, int X, int Y, int W, int H,
                      F Under, const std::string& What) {
  auto want = [&](int x, int y) { return shots::Over(Picture.Premultiplied(x, y), Under(X + x, Y + y), 255); };
  return shots::Mismatches(Shot, X, Y, W, H, want, What);
}

// The pointer, parked at the screen's far corner between tests so that nothing starts out hot.
class TPointerTest : public ::testing::Test {
 protected:
  // The screen point of a client point of Control.
  static POINT Screen(TWinControl* Control, int X, int Y) {
    POINT p{X, Y};
    ClientToScreen(static_cast<HWND>(Control->Handle()), &p);
    return p;
  }
  static void MoveTo(TWinControl* Control, int X, int Y) {
    POINT p = Screen(Control, X, Y);
    xinput::Xdo("mousemove --sync " + std::to_string(p.x) + " " + std::to_string(p.y));
  }
  // Moves there, lets the hover settle, then presses and releases the left button.
  static void ClickAt(TWinControl* Control, int X, int Y) {
    MoveTo(Control, X, Y);
    xinput::PumpFor(150);
    xinput::Xdo("mousedown 1");
    xinput::PumpFor(100);
    xinput::Xdo("mouseup 1");
    xinput::PumpFor(150);
  }
};

}  // namespace chrome
