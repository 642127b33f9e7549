#include "classlib/Graphics.h"

#include "classlib/WinApi.h"

// ---- TFont

TFont::~TFont() {
  if (FHandle) DeleteObject(static_cast<HFONT>(FHandle));
}

void TFont::Changed() {
  // The owner deselects the old object first, then it can go.
  if (OnChange) OnChange(this);
  if (FHandle) {
    DeleteObject(static_cast<HFONT>(FHandle));
    FHandle = nullptr;
  }
}

void TFont::SetName(const AnsiString& Value) {
  if (Value == FName) return;
  FName = Value;
  Changed();
}

void TFont::SetHeight(int Value) {
  if (Value == FHeight) return;
  FHeight = Value;
  Changed();
}

static int ScreenPixelsPerInch() {
  HDC dc = GetDC(nullptr);
  int ppi = dc ? GetDeviceCaps(dc, LOGPIXELSY) : 96;
  if (dc) ReleaseDC(nullptr, dc);
  return ppi > 0 ? ppi : 96;
}

int TFont::Size() const { return -MulDiv(FHeight, 72, ScreenPixelsPerInch()); }

void TFont::SetSize(int Value) { SetHeight(-MulDiv(Value, ScreenPixelsPerInch(), 72)); }

void TFont::SetStyle(TFontStyles Value) {
  if (Value == FStyle) return;
  FStyle = Value;
  Changed();
}

void TFont::SetCharset(TFontCharset Value) {
  if (Value == FCharset) return;
  FCharset = Value;
  Changed();
}

void TFont::SetColor(TColor Value) {
  if (Value == FColor) return;
  FColor = Value;
  if (OnChange) OnChange(this);
}

void* TFont::Handle() {
  if (!FHandle) {
    FHandle = CreateFontA(FHeight, 0, 0, 0, (FStyle & fsBold) ? FW_BOLD : FW_NORMAL, (FStyle & fsItalic) != 0,
                          (FStyle & fsUnderline) != 0, (FStyle & fsStrikeOut) != 0, FCharset, OUT_DEFAULT_PRECIS,
                          CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH, FName.c_str());
    if (!FHandle) FHandle = GetStockObject(DEFAULT_GUI_FONT);
  }
  return FHandle;
}

void TFont::Assign(TPersistent* Source) {
  if (auto* f = dynamic_cast<TFont*>(Source)) {
    FName = f->FName;
    FHeight = f->FHeight;
    FStyle = f->FStyle;
    FCharset = f->FCharset;
    FColor = f->FColor;
    Changed();
    return;
  }
  TPersistent::Assign(Source);
}

// ---- TBrush

TBrush::~TBrush() {
  if (FHandle) DeleteObject(static_cast<HBRUSH>(FHandle));
}

void TBrush::Changed() {
  // The owner deselects the old object first, then it can go.
  if (OnChange) OnChange(this);
  if (FHandle) {
    DeleteObject(static_cast<HBRUSH>(FHandle));
    FHandle = nullptr;
  }
}

void TBrush::SetColor(TColor Value) {
  if (Value == FColor) return;
  FColor = Value;
  Changed();
}

void TBrush::SetStyle(TBrushStyle Value) {
  if (Value == FStyle) return;
  FStyle = Value;
  Changed();
}

void* TBrush::Handle() {
  if (!FHandle) {
    LOGBRUSH lb{FStyle == bsClear ? (UINT)BS_HOLLOW : (UINT)BS_SOLID, (COLORREF)FColor, 0};
    FHandle = CreateBrushIndirect(&lb);
  }
  return FHandle;
}

// ---- TCanvas

TCanvas::TCanvas() : FFont(new TFont), FBrush(new TBrush) {
  FFont->OnChange = [this](TObject*) {
    if (FHandle && FOldFont) SelectObject(static_cast<HDC>(FHandle), static_cast<HGDIOBJ>(FOldFont));
    FOldFont = nullptr;
    FState &= ~csFontValid;
  };
  FBrush->OnChange = [this](TObject*) {
    if (FHandle && FOldBrush) SelectObject(static_cast<HDC>(FHandle), static_cast<HGDIOBJ>(FOldBrush));
    FOldBrush = nullptr;
    FState &= ~csBrushValid;
  };
}

TCanvas::~TCanvas() {
  SetHandle(nullptr);
  delete FFont;
  delete FBrush;
}

void TCanvas::DeselectHandles() {
  HDC dc = static_cast<HDC>(FHandle);
  if (dc && FOldFont) SelectObject(dc, static_cast<HGDIOBJ>(FOldFont));
  if (dc && FOldBrush) SelectObject(dc, static_cast<HGDIOBJ>(FOldBrush));
  FOldFont = FOldBrush = nullptr;
  FState &= ~(csFontValid | csBrushValid | csPenValid);
}

void TCanvas::SetHandle(void* Value) {
  if (Value == FHandle) return;
  DeselectHandles();
  FHandle = Value;
  if (FHandle) FState |= csHandleValid;
  else FState &= ~csHandleValid;
}

void* TCanvas::Handle() {
  RequiredState(csHandleValid);
  return FHandle;
}

TCanvasOrientation TCanvas::CanvasOrientation() const {
  return (FTextFlags & ETO_RTLREADING) ? coRightToLeft : coLeftToRight;
}

TPoint TCanvas::PenPos() {
  POINT p{0, 0};
  GetCurrentPositionEx(static_cast<HDC>(Handle()), &p);
  return TPoint{p.x, p.y};
}

void TCanvas::MoveTo(int X, int Y) { MoveToEx(static_cast<HDC>(Handle()), X, Y, nullptr); }

void TCanvas::RequiredState(uint32_t ReqState) {
  if (!FHandle) {
    CreateHandle();
    if (!FHandle) throw EInvalidOperation("Canvas does not allow drawing");
    FState |= csHandleValid;
  }
  HDC dc = static_cast<HDC>(FHandle);
  if ((ReqState & csFontValid) && !(FState & csFontValid)) {
    HGDIOBJ old = SelectObject(dc, static_cast<HFONT>(FFont->Handle()));
    if (!FOldFont) FOldFont = old;
    SetTextColor(dc, (COLORREF)FFont->Color());
    FState |= csFontValid;
  }
  if ((ReqState & csBrushValid) && !(FState & csBrushValid)) {
    HGDIOBJ old = SelectObject(dc, static_cast<HBRUSH>(FBrush->Handle()));
    if (!FOldBrush) FOldBrush = old;
    SetBkColor(dc, (COLORREF)FBrush->Color());
    SetBkMode(dc, FBrush->Style() == bsClear ? TRANSPARENT : OPAQUE);
    FState |= csBrushValid;
  }
}

void TCanvas::Changing() {
  if (OnChanging) OnChanging(this);
}

void TCanvas::Changed() {
  if (OnChange) OnChange(this);
}
