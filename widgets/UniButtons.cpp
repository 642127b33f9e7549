#include "widgets/UniButtons.h"

#include <commctrl.h>

#include "classlib/ActnList.h"
#include "classlib/ImgList.h"
#include "classlib/Themes.h"
#include "unicode/UniSysUtils.h"
#include "unicode/UniWindows.h"

namespace {
const char* const kMessages[] = {"Internal Error: Control does not support IUniGlyphButton."};
enum { msgNoGlyphButton };

// The push button's part and states, as the visual-styles interface numbers them.
enum : int { BP_PUSHBUTTON_ = 1, PBS_NORMAL_ = 1, PBS_HOT_ = 2, PBS_PRESSED_ = 3, PBS_DISABLED_ = 4, PBS_DEFAULTED_ = 5 };

HWND WindowOf(TControl* Control) {
  auto* w = dynamic_cast<TWinControl*>(Control);
  return w && w->HandleAllocated() ? static_cast<HWND>(w->Handle()) : nullptr;
}
}  // namespace

UNI_DEFINE_PROPERTIES_EXTERN(TUniBitBtn, TBitBtn)

void TUniBitBtn::CreateWindowHandle(const TCreateParams& Params) { CreateUnicodeWindowHandle(this, Params, L"BUTTON"); }

void TUniBitBtn::UpdateInternalGlyphList() {
  FCompletionAsked = true;
  FPaintInherited = true;
  try {
    RedrawWindow(static_cast<HWND>(Handle()), nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
  } catch (...) {
    FPaintInherited = false;
    throw;
  }
  FPaintInherited = false;
  Invalidate();
  throw EAbortPaint();
}

int UniGlyphIndex(TUniBitBtn* Button, TButtonState State) {
  TButtonGlyph* glyph = Button->GetButtonGlyph();
  if (State == bsDown && glyph->NumGlyphs() < 3) State = bsUp;
  int index = glyph->Index(State);
  if (index == -1 && !Button->FCompletionAsked) Button->UpdateInternalGlyphList();
  if (index != -1) Button->FCompletionAsked = false;
  return index;
}

void PaintUniGlyphButton(TControl* Control, HDC DC, const RECT& Client, TButtonState State, POINT Offset,
                         TButtonLayout Layout, int Margin, int Spacing, bool WordWrap, bool Transparent) {
  auto* button = dynamic_cast<IUniGlyphButton*>(Control);
  if (!button) throw EUniInternalError(kMessages[msgNoGlyphButton]);
  TButtonGlyph* glyph = button->GetButtonGlyph();
  auto* bitBtn = dynamic_cast<TUniBitBtn*>(Control);
  bool hasGlyph = glyph->Glyph()->GetWidth() > 0 && !glyph->Glyph()->GetEmpty();
  int index = hasGlyph ? (bitBtn ? UniGlyphIndex(bitBtn, State) : glyph->Index(State)) : -1;
  SIZE gs{0, 0};
  if (hasGlyph) gs = {glyph->Glyph()->GetWidth() / glyph->NumGlyphs(), glyph->Glyph()->GetHeight()};
  WideString caption = GetControlWideText(Control);
  // Right-aligned reading order swaps left and right layouts.
  UINT biDiFlags = Control->DrawTextBiDiModeFlags(0);
  if (biDiFlags & DT_RIGHT) {
    if (Layout == blGlyphLeft) Layout = blGlyphRight;
    else if (Layout == blGlyphRight) Layout = blGlyphLeft;
  }
  int cw = Client.right - Client.left, ch = Client.bottom - Client.top;
  SelectObject(DC, GetStockObject(DEFAULT_GUI_FONT));
  RECT tr{0, 0, cw - gs.cx - 3, 0};
  if (!caption.empty())
    WideDrawText(DC, caption.c_str(), (int)caption.size(), tr, DT_CALCRECT | (WordWrap ? DT_WORDBREAK : 0) | biDiFlags);
  SIZE ts{caption.empty() ? 0 : tr.right - tr.left, caption.empty() ? 0 : tr.bottom - tr.top};
  bool horizontal = Layout == blGlyphLeft || Layout == blGlyphRight;
  POINT gp{0, 0}, tp{0, 0};
  if (horizontal) {
    gp.y = (ch - gs.cy + 1) / 2;
    tp.y = (ch - ts.cy + 1) / 2;
  } else {
    gp.x = (cw - gs.cx + 1) / 2;
    tp.x = (cw - ts.cx + 1) / 2;
  }
  if (caption.empty() || gs.cx == 0) Spacing = 0;
  int total = horizontal ? cw : ch, g = horizontal ? gs.cx : gs.cy, t = horizontal ? ts.cx : ts.cy;
  if (Margin == -1) {
    if (Spacing == -1) {
      Margin = Spacing = (total - g - t) / 3;
    } else {
      Margin = (total - (g + Spacing + t) + 1) / 2;
    }
  } else if (Spacing == -1) {
    Spacing = (total - (Margin + g) - t) / 2;
  }
  switch (Layout) {
    case blGlyphLeft: gp.x = Margin; tp.x = gp.x + gs.cx + Spacing; break;
    case blGlyphRight: gp.x = cw - Margin - gs.cx; tp.x = gp.x - Spacing - ts.cx; break;
    case blGlyphTop: gp.y = Margin; tp.y = gp.y + gs.cy + Spacing; break;
    case blGlyphBottom: gp.y = ch - Margin - gs.cy; tp.y = gp.y - Spacing - ts.cy; break;
  }
  TThemeHandle theme(WindowOf(Control), L"BUTTON");
  int dx = Client.left + Offset.x, dy = Client.top + Offset.y;
  if (index >= 0 && glyph->ImageList()) {
    if (theme) {
      int part = State == bsDisabled ? PBS_DISABLED_ : (State == bsDown || State == bsExclusive) ? PBS_PRESSED_ : PBS_NORMAL_;
      RECT g{gp.x + dx, gp.y + dy, gp.x + dx + gs.cx, gp.y + dy + gs.cy};
      if (ThemeApi().DrawThemeIcon)
        ThemeApi().DrawThemeIcon(theme.Handle(), DC, BP_PUSHBUTTON_, part, &g, glyph->ImageList(), index);
    } else if (Transparent || State == bsExclusive) {
      ImageList_DrawEx(static_cast<HIMAGELIST>(glyph->ImageList()), index, DC, gp.x + dx, gp.y + dy, 0, 0, CLR_NONE,
                       CLR_NONE, ILD_TRANSPARENT);
    } else {
      ImageList_DrawEx(static_cast<HIMAGELIST>(glyph->ImageList()), index, DC, gp.x + dx, gp.y + dy, 0, 0,
                       GetSysColor(COLOR_BTNFACE), CLR_NONE, ILD_NORMAL);
    }
  }
  if (caption.empty()) return;
  RECT text{tp.x + dx, tp.y + dy, tp.x + dx + ts.cx, tp.y + dy + ts.cy};
  UINT flags = DT_CENTER | (WordWrap ? DT_WORDBREAK : DT_VCENTER) | biDiFlags;
  SetBkMode(DC, TRANSPARENT);
  if (State == bsDisabled) {
    OffsetRect(&text, 1, 1);
    SetTextColor(DC, GetSysColor(COLOR_BTNHIGHLIGHT));
    WideDrawText(DC, caption.c_str(), (int)caption.size(), text, flags);
    OffsetRect(&text, -1, -1);
    SetTextColor(DC, GetSysColor(COLOR_BTNSHADOW));
  } else {
    SetTextColor(DC, GetSysColor(COLOR_BTNTEXT));
  }
  WideDrawText(DC, caption.c_str(), (int)caption.size(), text, flags);
}

void TUniBitBtn::ActionChange(TObject* Sender, bool CheckDefaults) {
  ApplyActionWideTexts(this, Sender, CheckDefaults);
  TBitBtn::ActionChange(Sender, CheckDefaults);
  auto* action = dynamic_cast<TCustomAction*>(Sender);
  if (!action || !action->ActionList()) return;
  TCustomImageList* images = action->ActionList()->Images();
  if (!images || action->ImageIndex() < 0 || action->ImageIndex() >= images->Count()) return;
  if (!Glyph()->GetEmpty()) return;
  images->GetBitmap(action->ImageIndex(), Glyph());
  GlyphChanged();
}

void TUniBitBtn::DrawThemedItem(void* Theme, const DRAWITEMSTRUCT& D) {
  bool down = D.itemState & ODS_SELECTED;
  bool focused = D.itemState & ODS_FOCUS;
  TButtonState state = !Enabled() ? bsDisabled : down ? bsDown : bsUp;
  int detail = !Enabled() ? PBS_DISABLED_ : down ? PBS_PRESSED_ : FMouseInControl ? PBS_HOT_ : focused ? PBS_DEFAULTED_ : PBS_NORMAL_;
  HDC dc = D.hDC;
  RECT r = D.rcItem;
  TThemeApi& api = ThemeApi();
  if (api.DrawThemeParentBackground) api.DrawThemeParentBackground(static_cast<HWND>(Handle()), dc, &r);
  if (api.DrawThemeBackground) api.DrawThemeBackground(Theme, dc, BP_PUSHBUTTON_, detail, &r, nullptr);
  RECT content = r;
  if (api.GetThemeBackgroundContentRect) api.GetThemeBackgroundContentRect(Theme, dc, BP_PUSHBUTTON_, detail, &r, &content);
  if (detail == PBS_PRESSED_) OffsetRect(&content, 1, 0);
  PaintUniGlyphButton(this, dc, content, state, POINT{0, 0}, FLayout, FMargin, FSpacing, FWordWrap);
  if (focused) {
    SetTextColor(dc, GetSysColor(COLOR_WINDOWFRAME));
    SetBkColor(dc, GetSysColor(COLOR_BTNFACE));
    DrawFocusRect(dc, &content);
  }
}

void TUniBitBtn::DrawUniItem(const DRAWITEMSTRUCT& D) {
  ++FPaintCount;
  {
    TThemeHandle theme(static_cast<HWND>(Handle()), L"BUTTON");
    if (theme) {
      DrawThemedItem(theme.Handle(), D);
      return;
    }
  }
  bool down = D.itemState & ODS_SELECTED;
  bool focused = D.itemState & ODS_FOCUS;
  TButtonState state = !Enabled() ? bsDisabled : down ? bsDown : bsUp;
  RECT r = D.rcItem;
  HDC dc = D.hDC;
  UINT flags = DFCS_BUTTONPUSH | DFCS_ADJUSTRECT | (down ? DFCS_PUSHED : 0) | ((D.itemState & ODS_DISABLED) ? DFCS_INACTIVE : 0);
  if (focused) {
    FrameRect(dc, &r, GetSysColorBrush(COLOR_WINDOWFRAME));
    InflateRect(&r, -1, -1);
  }
  if (down) {
    FillRect(dc, &r, GetSysColorBrush(COLOR_BTNFACE));
    FrameRect(dc, &r, GetSysColorBrush(COLOR_BTNSHADOW));
    InflateRect(&r, -1, -1);
  } else {
    DrawFrameControl(dc, &r, DFC_BUTTON, flags);
  }
  POINT offset{down ? 1 : 0, down ? 1 : 0};
  PaintUniGlyphButton(this, dc, r, state, offset, FLayout, FMargin, FSpacing, FWordWrap);
  if (focused) {
    RECT f = D.rcItem;
    InflateRect(&f, -4, -4);
    DrawFocusRect(dc, &f);
  }
}

void TUniBitBtn::WndProc(TMessage& Message) {
  switch (Message.Msg) {
    case CN_DRAWITEM:
      if (FPaintInherited || !Win32PlatformIsNT()) break;
      DrawUniItem(*reinterpret_cast<DRAWITEMSTRUCT*>(Message.LParam));
      Message.Result = 1;
      return;
    case CM_MOUSEENTER: FMouseInControl = true; break;
    case CM_MOUSELEAVE: FMouseInControl = false; break;
    default: break;
  }
  TBitBtn::WndProc(Message);
}
