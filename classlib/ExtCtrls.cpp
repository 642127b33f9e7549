#include "classlib/ExtCtrls.h"

#include "classlib/SysUtils.h"

namespace {
void Frame3D(HDC DC, RECT& R, COLORREF TopLeft, COLORREF BottomRight, int Width) {
  for (int i = 0; i < Width; ++i) {
    HBRUSH tl = CreateSolidBrush(TopLeft), br = CreateSolidBrush(BottomRight);
    RECT top{R.left, R.top, R.right - 1, R.top + 1}, left{R.left, R.top, R.left + 1, R.bottom - 1};
    RECT bottom{R.left, R.bottom - 1, R.right, R.bottom}, right{R.right - 1, R.top, R.right, R.bottom};
    FillRect(DC, &top, tl);
    FillRect(DC, &left, tl);
    FillRect(DC, &bottom, br);
    FillRect(DC, &right, br);
    DeleteObject(tl);
    DeleteObject(br);
    InflateRect(&R, -1, -1);
  }
}
}  // namespace

TCustomPanel::TCustomPanel(TComponent* AOwner) : TCustomControl(AOwner) { SetBounds(0, 0, 185, 41); }

RECT TCustomPanel::PaintFrame(HDC DC) {
  RECT r{0, 0, Width(), Height()};
  COLORREF hi = GetSysColor(COLOR_BTNHIGHLIGHT), sh = GetSysColor(COLOR_BTNSHADOW), face = GetSysColor(COLOR_BTNFACE);
  if (FBevelOuter != bvNone)
    Frame3D(DC, r, FBevelOuter == bvLowered ? sh : hi, FBevelOuter == bvLowered ? hi : sh, FBevelWidth);
  Frame3D(DC, r, face, face, FBorderWidth);
  if (FBevelInner != bvNone)
    Frame3D(DC, r, FBevelInner == bvLowered ? sh : hi, FBevelInner == bvLowered ? hi : sh, FBevelWidth);
  HBRUSH b = CreateSolidBrush(face);
  FillRect(DC, &r, b);
  DeleteObject(b);
  return r;
}

void TCustomPanel::Paint(HDC DC) {
  RECT r = PaintFrame(DC);
  SetBkMode(DC, TRANSPARENT);
  SelectObject(DC, GetStockObject(DEFAULT_GUI_FONT));
  SIZE sz{};
  GetTextExtentPoint32A(DC, "W", 1, &sz);
  r.top = (r.top + r.bottom - sz.cy) / 2;
  r.bottom = r.top + sz.cy;
  static const UINT align[] = {DT_LEFT, DT_RIGHT, DT_CENTER};
  DrawTextA(DC, FText.c_str(), -1, &r, DrawTextBiDiModeFlags(align[FAlignment] | DT_EXPANDTABS | DT_VCENTER));
}

// ---------------------------------------------------------------------------------------------

TTimer::TTimer(TComponent* AOwner) : TComponent(AOwner) {
  FWindow = AllocateHWnd([this](TMessage& M) { WndProc(M); });
  UpdateTimer();
}

TTimer::~TTimer() {
  FEnabled = false;
  UpdateTimer();
  DeallocateHWnd(FWindow);
}

void TTimer::SetEnabled(bool Value) {
  if (FEnabled == Value) return;
  FEnabled = Value;
  UpdateTimer();
}

void TTimer::SetInterval(uint32_t Value) {
  if (FInterval == Value) return;
  FInterval = Value;
  UpdateTimer();
}

void TTimer::UpdateTimer() {
  HWND w = static_cast<HWND>(FWindow);
  KillTimer(w, 1);
  if (FEnabled && FInterval > 0 && !SetTimer(w, 1, FInterval, nullptr)) RaiseLastOSError();
}

void TTimer::WndProc(TMessage& Message) {
  if (Message.Msg != WM_TIMER) {
    DefaultHandler(FWindow, Message);
    return;
  }
  // AllocateHWnd hands what escapes to the application.
  if (FEnabled && OnTimer) OnTimer(this);
}
