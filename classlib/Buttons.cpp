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
