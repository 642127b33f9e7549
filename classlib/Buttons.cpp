#include "classlib/Buttons.h"

#include <commctrl.h>

#include "classlib/ActnList.h"

std::unique_ptr<TControlActionLink> TBitBtn::CreateActionLink() { return std::make_unique<TBitBtnActionLink>(this); }

TButtonGlyph::TButtonGlyph() : FGlyph(std::make_unique<TBitmap>()) {}

TButtonGlyph::~TButtonGlyph() { Invalidate(); }

void TButtonGlyph::Invalidate() {
  if (FImageList) ImageList_Destroy(static_cast<HIMAGELIST>(FImageList));
  FImageList = nullptr;
  for (int& i : FIndexes) i = -1;
}

void TButtonGlyph::SetNumGlyphs(int Value) {
  FNumGlyphs = Value < 1 ? 1 : (Value > 4 ? 4 : Value);
  Invalidate();
}

int TButtonGlyph::CreateButtonGlyph(TButtonState State) {
  if (State == bsDown && FNumGlyphs < 3) State = bsUp;
  if (FIndexes[State] != -1) return FIndexes[State];
  int w = FGlyph->GetWidth() / FNumGlyphs, h = FGlyph->GetHeight();
  if (w <= 0 || h <= 0) return -1;
  if (!FImageList) FImageList = ImageList_Create(w, h, ILC_COLOR24 | ILC_MASK, 4, 0);
  int slice = (int)State < FNumGlyphs ? (int)State : 0;
  FGlyph->ReleaseContext();
  HDC screen = GetDC(nullptr);
  HDC src = CreateCompatibleDC(screen), dst = CreateCompatibleDC(screen);
  HBITMAP image = CreateCompatibleBitmap(screen, w, h);
  HGDIOBJ oldSrc = SelectObject(src, static_cast<HBITMAP>(FGlyph->Handle()));
  HGDIOBJ oldDst = SelectObject(dst, image);
  BitBlt(dst, 0, 0, w, h, src, slice * w, 0, SRCCOPY);
  COLORREF transparent = GetPixel(dst, 0, h - 1);
  SelectObject(dst, oldDst);
  SelectObject(src, oldSrc);
  DeleteDC(src);
  DeleteDC(dst);
  ReleaseDC(nullptr, screen);
  FIndexes[State] = ImageList_AddMasked(static_cast<HIMAGELIST>(FImageList), image, transparent);
  DeleteObject(image);
  return FIndexes[State];
}

// ---------------------------------------------------------------------------------------------

TBitBtn::TBitBtn(TComponent* AOwner) : TButton(AOwner), FButtonGlyph(std::make_unique<TButtonGlyph>()) {}

void TBitBtn::CreateParams(TCreateParams& Params) {
  TButton::CreateParams(Params);
  Params.Style = (Params.Style & ~BS_PUSHBUTTON) | BS_OWNERDRAW;
}

void TBitBtn::GlyphChanged() {
  FButtonGlyph->Invalidate();
  Invalidate();
}

void TBitBtn::SetNumGlyphs(int Value) {
  FButtonGlyph->SetNumGlyphs(Value);
  Invalidate();
}

void TBitBtn::DrawItem(const DRAWITEMSTRUCT& D) {
  RECT r = D.rcItem;
  bool down = D.itemState & ODS_SELECTED;
  UINT flags = DFCS_BUTTONPUSH | DFCS_ADJUSTRECT | (down ? DFCS_PUSHED : 0) | ((D.itemState & ODS_DISABLED) ? DFCS_INACTIVE : 0);
  DrawFrameControl(D.hDC, &r, DFC_BUTTON, flags);
  TButtonState state = !Enabled() ? bsDisabled : down ? bsDown : bsUp;
  int index = FButtonGlyph->CreateButtonGlyph(state);
  int x = r.left + 4;
  if (index >= 0) {
    int gw = FButtonGlyph->Glyph()->GetWidth() / FButtonGlyph->NumGlyphs(), gh = FButtonGlyph->Glyph()->GetHeight();
    ImageList_DrawEx(static_cast<HIMAGELIST>(FButtonGlyph->ImageList()), index, D.hDC, x, (r.top + r.bottom - gh) / 2,
                     0, 0, CLR_NONE, CLR_NONE, ILD_TRANSPARENT);
    x += gw + FSpacing;
  }
  RECT t{x, r.top, r.right, r.bottom};
  SetBkMode(D.hDC, TRANSPARENT);
  AnsiString text = FText;
  DrawTextA(D.hDC, text.c_str(), -1, &t, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
}

void TBitBtn::WndProc(TMessage& Message) {
  if (Message.Msg == CN_DRAWITEM) {
    DrawItem(*reinterpret_cast<DRAWITEMSTRUCT*>(Message.LParam));
    Message.Result = 1;
    return;
  }
  TButton::WndProc(Message);
}

// ---------------------------------------------------------------------------------------------
// Speed buttons

std::unique_ptr<TControlActionLink> TSpeedButton::CreateActionLink() {
  return std::make_unique<TSpeedButtonActionLink>(this);
}

TSpeedButton::TSpeedButton(TComponent* AOwner) : TGraphicControl(AOwner), FButtonGlyph(std::make_unique<TButtonGlyph>()) {
  SetBounds(0, 0, 23, 22);
}

void TSpeedButton::GlyphChanged() {
  FButtonGlyph->Invalidate();
  Invalidate();
}

void TSpeedButton::SetNumGlyphs(int Value) {
  FButtonGlyph->SetNumGlyphs(Value);
  Invalidate();
}

void TSpeedButton::SetDown(bool Value) {
  if (FGroupIndex == 0) Value = false;
  if (Value == FDown) return;
  FDown = Value;
  // The others of the group come up.
  if (FDown && Parent())
    for (int i = 0; i < Parent()->ControlCount(); ++i) {
      auto* other = dynamic_cast<TSpeedButton*>(Parent()->Controls(i));
      if (other && other != this && other->FGroupIndex == FGroupIndex && other->FDown) {
        other->FDown = false;
        other->Invalidate();
      }
    }
  Invalidate();
}

void TSpeedButton::SetFlat(bool Value) {
  FFlat = Value;
  Invalidate();
}

void TSpeedButton::Click() {
  if (FGroupIndex != 0) {
    if (!FDown) SetDown(true);
    else if (FAllowAllUp) {
      FDown = false;
      Invalidate();
    }
  }
  TGraphicControl::Click();
}

TButtonState TSpeedButton::State() const {
  if (!Enabled()) return bsDisabled;
  return FDown ? bsDown : bsUp;
}

void TSpeedButton::WndProc(TMessage& Message) {
  if (Message.Msg == CM_MOUSEENTER || Message.Msg == CM_MOUSELEAVE) {
    FMouseInControl = Message.Msg == CM_MOUSEENTER;
    if (FFlat) Invalidate();
  }
  TGraphicControl::WndProc(Message);
}

void TSpeedButton::DrawFace(HDC DC, RECT& Rect) {
  FillRect(DC, &Rect, GetSysColorBrush(COLOR_BTNFACE));
  TButtonState state = State();
  if (FFlat) {
    // A flat button shows an edge only while down or under the mouse.
    if (state == bsDown) DrawEdge(DC, &Rect, BDR_SUNKENOUTER, BF_RECT | BF_ADJUST);
    else if (FMouseInControl && state != bsDisabled) DrawEdge(DC, &Rect, BDR_RAISEDINNER, BF_RECT | BF_ADJUST);
    else InflateRect(&Rect, -1, -1);
    return;
  }
  UINT flags = DFCS_BUTTONPUSH | DFCS_ADJUSTRECT | (state == bsDown ? DFCS_PUSHED : 0) |
               (state == bsDisabled ? DFCS_INACTIVE : 0);
  DrawFrameControl(DC, &Rect, DFC_BUTTON, flags);
}

void TSpeedButton::DrawCaption(HDC DC, RECT& Rect, UINT Flags) {
  AnsiString text = FText;
  DrawTextA(DC, text.c_str(), (int)text.size(), &Rect, Flags);
}

void TSpeedButton::LayoutContent(HDC DC, const RECT& Content, int GlyphWidth, int GlyphHeight, POINT& GlyphPos,
                                 RECT& TextRect) {
  RECT measure{0, 0, Content.right - Content.left, Content.bottom - Content.top};
  int textWidth = 0;
  if (!FText.empty()) {
    DrawCaption(DC, measure, DT_CALCRECT | DT_SINGLELINE);
    textWidth = measure.right - measure.left;
  }
  int spacing = GlyphWidth > 0 && textWidth > 0 ? FSpacing : 0;
  int total = GlyphWidth + spacing + textWidth;
  int x = Content.left + (Content.right - Content.left - total) / 2;
  if (x < Content.left) x = Content.left;
  GlyphPos = POINT{x, Content.top + (Content.bottom - Content.top - GlyphHeight) / 2};
  TextRect = RECT{x + GlyphWidth + spacing, Content.top, Content.right, Content.bottom};
}

void TSpeedButton::Paint(HDC DC) {
  RECT r{0, 0, Width(), Height()};
  DrawFace(DC, r);
  TButtonState state = State();
  // The content moves one pixel down and right while the button is down.
  if (state == bsDown) OffsetRect(&r, 1, 1);
  int index = FButtonGlyph->CreateButtonGlyph(state);
  int gw = 0, gh = 0;
  if (index >= 0) {
    gw = FButtonGlyph->Glyph()->GetWidth() / FButtonGlyph->NumGlyphs();
    gh = FButtonGlyph->Glyph()->GetHeight();
  }
  SetBkMode(DC, TRANSPARENT);
  SelectObject(DC, GetStockObject(DEFAULT_GUI_FONT));
  SetTextColor(DC, GetSysColor(state == bsDisabled ? COLOR_GRAYTEXT : COLOR_BTNTEXT));
  POINT glyphPos;
  RECT text;
  LayoutContent(DC, r, gw, gh, glyphPos, text);
  if (index >= 0)
    ImageList_DrawEx(static_cast<HIMAGELIST>(FButtonGlyph->ImageList()), index, DC, glyphPos.x, glyphPos.y, 0, 0,
                     CLR_NONE, CLR_NONE, ILD_TRANSPARENT);
  if (!FText.empty()) DrawCaption(DC, text, DT_LEFT | DT_VCENTER | DT_SINGLELINE);
}
