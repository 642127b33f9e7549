#include "widgets/UniMenus.h"

#include <vector>

#include "classlib/ImgList.h"
#include "classlib/Themes.h"
#include "classlib/WideStrings.h"
#include "classlib/WinApi.h"
#include "unicode/UniClasses.h"
#include "unicode/UniGraphics.h"
#include "unicode/UniSysUtils.h"
#include "unicode/UniWindows.h"
#include "widgets/UniActnList.h"
#include "widgets/UniControls.h"
#include "widgets/UniForms.h"

namespace {
const char kUnit[] = "UniMenus";
const char* const kMessages[] = {
    "Internal Error: SyncHotKeyPosition Failed (\"%s\" <> \"%s\").",
};
enum { msgSyncHotKeyFailed };

// The key's character in the current keyboard layout.
WideString KeyCharOf(uint8_t Key) {
  UniAssert(Win32PlatformIsNT(), kUnit, 189);
  wchar_t ch = (wchar_t)(MapVirtualKeyW(Key, 2) & 0xFFFF);
  if (Key >= '0' && Key <= '9' && ch != (wchar_t)Key) {
    SHORT scan = VkKeyScanW((wchar_t)Key);
    if (scan != -1 && (scan & 0xFF) == Key) ch = (wchar_t)Key;
  }
  return ch ? WideString(1, ch) : WideString();
}

WideString KeyNameOf(uint8_t Key) {
  UniAssert(Win32PlatformIsNT(), kUnit, 175);
  UINT scan = MapVirtualKeyW(Key, 0);
  if (!scan) return L"";
  wchar_t name[256];
  int n = GetKeyNameTextW((LONG)(scan << 16), name, 256);
  return n > 0 ? WideString(name, n) : WideString();
}

// The library's text of one modifier ("Shift+", ...): its text of the modifier with "A", less the "A".
WideString ModifierText(TShortCut Modifier) {
  WideString text = AnsiToWide(ShortCutToText(Modifier | 'A'));
  return text.substr(0, text.size() - 1);
}

// A Far East mark "(&X)" starting at I, not at the caption's start.
bool IsBracketMark(const WideString& S, size_t I) {
  return SysLocale().FarEast && I > 0 && I + 3 < S.size() && S[I] == L'(' && S[I + 1] == L'&' &&
         S[I + 2] != L'&' && S[I + 3] == L')';
}
}  // namespace

std::function<void*()> MenuKeyboardLayout = [] { return static_cast<void*>(GetKeyboardLayout(0)); };

WideString ShortCutToWideText(TShortCut ShortCut) {
  if (!Win32PlatformIsNT()) return AnsiToWide(ShortCutToText(ShortCut));
  uint8_t key = (uint8_t)(ShortCut & 0xFF);
  WideString name;
  if (key == 8 || key == 9 || key == 13 || key == 27 || (key >= 32 && key <= 40) || key == 45 || key == 46 ||
      (key >= 112 && key <= 135))
    name = AnsiToWide(ShortCutToText(key));
  else if ((key >= '0' && key <= '9') || (key >= 'A' && key <= 'Z') || (key >= 96 && key <= 105))
    name = KeyCharOf(key);
  else
    name = KeyNameOf(key);
  if (name.empty()) return L"";
  WideString result;
  if (ShortCut & scShift) result += ModifierText(scShift);
  if (ShortCut & scCtrl) result += ModifierText(scCtrl);
  if (ShortCut & scAlt) result += ModifierText(scAlt);
  return result + name;
}

int HotKeyPosOfCaption(const WideString& Caption) {
  int pos = 0;
  size_t i = 0;
  while (i < Caption.size()) {
    if (Caption[i] == L'&' && i + 1 < Caption.size()) {
      if (Caption[i + 1] != L'&') pos = (int)i + 2;
      i += 2;
    } else {
      ++i;
    }
  }
  return pos;
}

WideString HotKeyOfCaption(const WideString& Caption) {
  int pos = HotKeyPosOfCaption(Caption);
  return pos > 0 ? Caption.substr(pos - 1, 1) : WideString();
}

WideString StripHotKeyMarks(const WideString& Caption) {
  WideString result;
  size_t i = 0;
  while (i < Caption.size()) {
    if (IsBracketMark(Caption, i)) {
      i += 4;
    } else if (Caption[i] == L'&') {
      if (i + 1 < Caption.size()) result += Caption[i + 1];
      i += 2;
    } else {
      result += Caption[i++];
    }
  }
  return result;
}

bool SameCaptionIgnoringHotKeys(const WideString& A, const WideString& B) {
  return WideCompareText(StripHotKeyMarks(A), StripHotKeyMarks(B)) == 0;
}

bool SameCaptionIgnoringHotKeysStr(const WideString& A, const WideString& B) {
  return StripHotKeyMarks(A) == StripHotKeyMarks(B);
}

void SyncHotKeyPosition(const WideString& Source, WideString& Dest) {
  AnsiString ansiSource = WideToAnsi(Source), ansiDest = WideToAnsi(Dest);
  if (ansiSource == ansiDest || !SameCaptionIgnoringHotKeysStr(AnsiToWide(ansiSource), AnsiToWide(ansiDest))) return;
  WideString plain = StripHotKeyMarks(Dest), result;
  size_t i = 0, j = 0;
  while (i < Source.size()) {
    if (IsBracketMark(Source, i)) {
      result += Source.substr(i, 4);
      i += 4;
    } else if (Source[i] == L'&' && i + 1 < Source.size()) {
      result += L'&';
      if (j < plain.size()) result += plain[j++];
      i += 2;
    } else if (Source[i] == L'&') {
      ++i;
    } else {
      if (j < plain.size()) result += plain[j++];
      ++i;
    }
  }
  result += plain.substr(j);
  Dest = result;
  if (WideToAnsi(Dest) != ansiSource)
    throw EUniInternalError(Format(kMessages[msgSyncHotKeyFailed], ansiSource.c_str(), WideToAnsi(Dest).c_str()));
}

// ---------------------------------------------------------------------------------------------
// Menu items

TUniMenuItem::TUniMenuItem(TComponent* AOwner) : TMenuItem(AOwner) {}

WideString TUniMenuItem::Caption() {
  if (WideToAnsi(FWideCaption) != TMenuItem::Caption() &&
      SameCaptionIgnoringHotKeysStr(AnsiToWide(WideToAnsi(FWideCaption)), AnsiToWide(TMenuItem::Caption())))
    SyncHotKeyPosition(AnsiToWide(TMenuItem::Caption()), FWideCaption);
  return ReadWideShadow(FWideCaption, TMenuItem::Caption());
}

void TUniMenuItem::SetCaption(const WideString& Value) {
  Caption();
  WriteWideShadow(Value, FWideCaption, TMenuItem::Caption(), [this](const AnsiString& S) { TMenuItem::SetCaption(S); });
}

WideString TUniMenuItem::Hint() { return ReadWideShadow(FWideHint, TMenuItem::Hint()); }

void TUniMenuItem::SetHint(const WideString& Value) {
  WriteWideShadow(Value, FWideHint, TMenuItem::Hint(), [this](const AnsiString& S) { TMenuItem::SetHint(S); });
}

void TUniMenuItem::DefineProperties(TFiler* Filer) {
  TMenuItem::DefineProperties(Filer);
  DefineWideProperties(Filer, this);
}

namespace {
void WriteSubTree(TMenuItem* Item, TMenu* Menu) {
  for (int i = Item->Count() - 1; i >= 0; --i) WriteSubTree(Item->Items(i), Menu);
  if (auto* uni = dynamic_cast<TUniMenuItem*>(Item)) WriteMenuItemWideCaption(uni, Menu);
}
}  // namespace

void TUniMenuItem::MenuChanged(bool Rebuild) {
  if (FIgnoreMenuChanged) return;
  TMenuItem::MenuChanged(Rebuild);
  // The parent's Windows menu was rebuilt from the 8-bit captions: every wide caption goes back.
  TMenuItem* top = Parent() ? Parent() : this;
  WriteSubTree(top, GetParentMenu());
  RefreshRightToLeftMenu(GetParentMenu());
}

void RefreshRightToLeftMenu(TMenu* Menu) {
  if (!Menu || !MiddleEastLocale() || Menu->Items()->Count() == 0) return;
  TMenuItem* root = Menu->Items();
  for (int i = 0; i < root->Count(); ++i) {
    if (!root->Items(i)->Visible()) continue;
    if (auto* uni = dynamic_cast<TUniMenuItem*>(root->Items(i))) WriteMenuItemWideCaption(uni, Menu);
    return;
  }
}

void InitiateMenuActions(TMenu* Menu, void* SubMenu) {
  TMenuItem* parent = Menu ? Menu->FindItem(reinterpret_cast<uintptr_t>(SubMenu), true) : nullptr;
  if (!parent) return;
  for (int i = 0; i < parent->Count(); ++i)
    if (auto* uni = dynamic_cast<TUniMenuItem*>(parent->Items(i))) uni->InitiateAction();
}

std::unique_ptr<TMenuActionLink> TUniMenuItem::CreateActionLink() { return std::make_unique<TUniMenuActionLink>(this); }

void TUniMenuItem::ActionChange(TObject* Sender, bool CheckDefaults) {
  auto* action = dynamic_cast<TCustomAction*>(Sender);
  if (action && dynamic_cast<IWideCaptionAction*>(Sender)) {
    if (!CheckDefaults || Caption().empty()) SetCaption(GetActionWideCaption(action));
    if (!CheckDefaults || Hint().empty()) SetHint(GetActionWideHint(action));
  }
  TMenuItem::ActionChange(Sender, CheckDefaults);
}

void TUniMenuItem::EntryMade() { WriteMenuItemWideCaption(this, GetParentMenu()); }

void TUniMenuItem::Loaded() {
  TMenuItem::Loaded();
  WriteMenuItemWideCaption(this, GetParentMenu());
}

// ---------------------------------------------------------------------------------------------
// Own drawing

namespace {
// The version the system reports.
struct TOsVersion {
  DWORD Major = 0, Minor = 0;
};
TOsVersion OsVersion() {
  OSVERSIONINFOW v{};
  v.dwOSVersionInfoSize = sizeof v;
  TOsVersion result;
  if (GetVersionExW(&v)) result = {v.dwMajorVersion, v.dwMinorVersion};
  return result;
}

// Windows 98 and later without the XP flag: the menu bar's text sits one pixel higher.
bool BarTextOffset() {
  TOsVersion v = OsVersion();
  return (v.Major > 4 || (v.Major == 4 && v.Minor > 0)) && !Win32PlatformIsXP();
}

// The "menu" class's parts and states, as the visual-styles interface numbers them.
enum : int {
  MENU_POPUPBACKGROUND_ = 9, MENU_POPUPCHECK_ = 11, MENU_POPUPCHECKBACKGROUND_ = 12, MENU_POPUPGUTTER_ = 13,
  MENU_POPUPITEM_ = 14, MENU_POPUPSUBMENU_ = 16,
  MPI_NORMAL_ = 1, MPI_HOT_ = 2, MPI_DISABLED_ = 3,
  MCB_DISABLED_ = 1, MCB_NORMAL_ = 2,
  MC_CHECKMARKNORMAL_ = 1, MC_CHECKMARKDISABLED_ = 2, MC_BULLETNORMAL_ = 3, MC_BULLETDISABLED_ = 4,
  MSM_NORMAL_ = 1,
  TS_TRUE_ = 1, TMT_SIZINGMARGINS_ = 3601, TMT_CONTENTMARGINS_ = 3602, TMT_TEXTCOLOR_ = 3803,
};

// The theme calls of one drawing; a missing entry point draws nothing and measures zero.
struct TMenuTheme {
  void* Theme;
  HDC DC;
  SIZE PartSize(int Part, int State) const {
    SIZE s{0, 0};
    if (ThemeApi().GetThemePartSize) ThemeApi().GetThemePartSize(Theme, DC, Part, State, nullptr, TS_TRUE_, &s);
    return s;
  }
  TThemeMargins Margins(int Part, int State, int Prop) const {
    TThemeMargins m{0, 0, 0, 0};
    if (ThemeApi().GetThemeMargins) ThemeApi().GetThemeMargins(Theme, DC, Part, State, Prop, nullptr, &m);
    return m;
  }
  void Background(int Part, int State, const RECT& R) const {
    if (ThemeApi().DrawThemeBackground) ThemeApi().DrawThemeBackground(Theme, DC, Part, State, &R, nullptr);
  }
};
}  // namespace

bool TUniMenuItem::IsRightToLeft() {
  TMenu* menu = GetParentMenu();
  return menu && menu->IsRightToLeft();
}

void TUniMenuItem::DrawWideText(TCanvas* ACanvas, const WideString& Text, TRect& Rect, bool Selected, int Flags) {
  if (!Win32PlatformIsNT() || IsLine()) {
    DoDrawText(ACanvas, WideToAnsi(Text), Rect, Selected, Flags);
    return;
  }
  if (IsRightToLeft()) Flags |= DT_RIGHT | DT_RTLREADING;
  WideString text = Text;
  if ((Flags & DT_CALCRECT) && (text.empty() || text == L"&")) text += L' ';
  ACanvas->Brush()->SetStyle(bsClear);
  if (Default()) ACanvas->Font()->SetStyle(ACanvas->Font()->Style() | fsBold);
  RECT r{Rect.Left, Rect.Top, Rect.Right, Rect.Bottom};
  if (!Enabled()) {
    if (!Selected) {
      OffsetRect(&r, 1, 1);
      ACanvas->Font()->SetColor((TColor)GetSysColor(COLOR_BTNHIGHLIGHT));
      ACanvas->RequiredState(csHandleValid | csFontValid | csBrushValid);
      WideDrawText(static_cast<HDC>(ACanvas->Handle()), text.c_str(), (int)text.size(), r, Flags);
      OffsetRect(&r, -1, -1);
    }
    COLORREF shadow = GetSysColor(COLOR_BTNSHADOW);
    bool sameAsSelection = Selected && GetSysColor(COLOR_HIGHLIGHT) == shadow;
    ACanvas->Font()->SetColor((TColor)(sameAsSelection ? GetSysColor(COLOR_BTNHIGHLIGHT) : shadow));
  }
  ACanvas->RequiredState(csHandleValid | csFontValid | csBrushValid);
  WideDrawText(static_cast<HDC>(ACanvas->Handle()), text.c_str(), (int)text.size(), r, Flags);
  Rect = TRect{r.left, r.top, r.right, r.bottom};
}

void TUniMenuItem::MeasureItem(TCanvas* ACanvas, int& Width, int& Height) {
  if (!Win32PlatformIsNT() || IsLine()) {
    TMenuItem::MeasureItem(ACanvas, Width, Height);
    return;
  }
  auto held = std::move(OnMeasureItem);
  OnMeasureItem = nullptr;
  try {
    TMenuItem::MeasureItem(ACanvas, Width, Height);
  } catch (...) {
    OnMeasureItem = std::move(held);
    throw;
  }
  OnMeasureItem = std::move(held);
  const int flags = MenuItemAlignmentFlag(this) | DT_CALCRECT | DT_NOCLIP | DT_EXPANDTABS | DT_SINGLELINE;
  auto wideWidth = [&](const WideString& Text) {
    TRect r{0, 0, 0, 0};
    DrawWideText(ACanvas, Text, r, false, flags);
    return r.Width();
  };
  auto ansiWidth = [&](const AnsiString& Text) {
    TRect r{0, 0, 0, 0};
    DoDrawText(ACanvas, Text, r, false, flags);
    return r.Width();
  };
  Width += wideWidth(Caption()) - ansiWidth(TMenuItem::Caption());
  if (ShortCut()) Width += wideWidth(ShortCutToWideText(ShortCut())) - ansiWidth(ShortCutToText(ShortCut()));
  if (OnMeasureItem) OnMeasureItem(this, ACanvas, Width, Height);
}

void TUniMenuItem::AdvancedDrawItem(TCanvas* ACanvas, TRect& ARect, TOwnerDrawState State, bool TopLevel) {
  TMenu* menu = GetParentMenu();
  if (!Win32PlatformIsNT() || IsLine() || (menu && menu->IsOwnerDraw() && (OnAdvancedDrawItem || OnDrawItem))) {
    TMenuItem::AdvancedDrawItem(ACanvas, ARect, State, TopLevel);
    return;
  }
  if (OsVersion().Major >= 6) {
    TThemeHandle theme(nullptr, L"menu");
    if (theme) {
      DrawThemed(theme.Handle(), ACanvas, ARect, State, TopLevel);
      return;
    }
  }
  DrawClassic(ACanvas, ARect, State, TopLevel);
}

void TUniMenuItem::DrawClassic(TCanvas* ACanvas, TRect& R, TOwnerDrawState State, bool TopLevel) {
  // The library draws background, selection, check mark and glyph of an item without text; the
  // Windows menu entry stays as it is meanwhile.
  WideString wideCaption = FWideCaption;
  AnsiString caption = TMenuItem::Caption();
  TShortCut shortCut = ShortCut();
  FIgnoreMenuChanged = true;
  TMenuItem::SetCaption("");
  TMenuItem::SetShortCut(0);
  FIgnoreMenuChanged = false;
  auto restore = [&] {
    FIgnoreMenuChanged = true;
    TMenuItem::SetCaption(caption);
    TMenuItem::SetShortCut(shortCut);
    FWideCaption = wideCaption;
    FIgnoreMenuChanged = false;
  };
  try {
    TMenuItem::AdvancedDrawItem(ACanvas, R, State, TopLevel);
  } catch (...) {
    restore();
    throw;
  }
  restore();

  bool rtl = IsRightToLeft();
  bool selected = State & odSelected;
  int w = GlyphWidth(TopLevel);
  if (!rtl) {
    R.Left += w + 6;
    R.Right -= 1;
  } else {
    R.Left += 2;
    R.Right -= w + 4;
  }
  bool barOffset = BarTextOffset();
  if (TopLevel && !selected && barOffset) {
    R.Top -= 1;
    R.Bottom -= 1;
  }
  int flags = MenuItemAlignmentFlag(this) | DT_EXPANDTABS | DT_SINGLELINE;
  if ((State & odNoAccel) && Win32PlatformIsNT() && OsVersion().Major > 4) flags |= DT_HIDEPREFIX;
  TRect s = R;
  if (State & odDefault) ACanvas->Font()->SetStyle(fsBold);
  WideString text = Caption();
  DrawWideText(ACanvas, text, R, selected, flags | DT_CALCRECT | DT_NOCLIP);
  if (rtl) {
    R.Left = s.Left;
    R.Right = s.Right;
  }
  int dy = (s.Height() - R.Height()) / 2;
  R.Top += dy;
  R.Bottom += dy;
  if (TopLevel && selected && barOffset) {
    R.Left += 1;
    R.Right += 1;
  }
  DrawWideText(ACanvas, text, R, selected, flags);
  if (ShortCut() && !TopLevel) {
    WideString shortCutText = ShortCutToWideText(ShortCut());
    TRect box = rtl ? TRect{10, R.Top, 10 + WideCanvasTextWidth(ACanvas, shortCutText), R.Bottom}
                    : TRect{R.Right, R.Top, s.Right - 10, R.Bottom};
    DrawWideText(ACanvas, shortCutText, box, selected, DT_RIGHT);
  }
}

void TUniMenuItem::DrawThemedText(void* Theme, TCanvas* ACanvas, const WideString& Text, TRect& Rect, int Flags,
                                  int TextState) {
  if (IsRightToLeft()) Flags |= DT_RIGHT | DT_RTLREADING;
  WideString text = Text;
  bool measure = Flags & DT_CALCRECT;
  if (measure && (text.empty() || text == L"&")) text += L' ';
  ACanvas->Brush()->SetStyle(bsClear);
  if (Default()) ACanvas->Font()->SetStyle(ACanvas->Font()->Style() | fsBold);
  ACanvas->RequiredState(csHandleValid | csFontValid | csBrushValid);
  TThemeTextOptions options{};
  options.dwSize = sizeof options;
  options.dwFlags = DTT_TEXTCOLOR_ | DTT_COMPOSITED_ | (measure ? DTT_CALCRECT_ : 0);
  options.crText = (COLORREF)ColorToRGB(ACanvas->Font()->Color());
  RECT r{Rect.Left, Rect.Top, Rect.Right, Rect.Bottom};
  if (ThemeApi().DrawThemeTextEx)
    ThemeApi().DrawThemeTextEx(Theme, static_cast<HDC>(ACanvas->Handle()), MENU_POPUPITEM_, TextState, text.c_str(),
                               (int)text.size(), (DWORD)Flags, &r, &options);
  Rect = TRect{r.left, r.top, r.right, r.bottom};
}

void TUniMenuItem::DrawThemed(void* Theme, TCanvas* ACanvas, TRect& ARect, TOwnerDrawState State, bool TopLevel) {
  HDC dc = static_cast<HDC>(ACanvas->Handle());
  TMenuTheme t{Theme, dc};
  bool rtl = IsRightToLeft();
  bool selected = State & odSelected;
  int textState = Enabled() ? MPI_NORMAL_ : MPI_DISABLED_;
  int checkBackState = Enabled() ? MCB_NORMAL_ : MCB_DISABLED_;
  int checkState = Enabled() ? (RadioItem() ? MC_BULLETNORMAL_ : MC_CHECKMARKNORMAL_)
                             : (RadioItem() ? MC_BULLETDISABLED_ : MC_CHECKMARKDISABLED_);
  RECT r{ARect.Left, ARect.Top, ARect.Right, ARect.Bottom};
  // Background.
  if (TopLevel) {
    if (selected || (State & odHotLight)) {
      FillRect(dc, &r, GetSysColorBrush(COLOR_MENUHILIGHT));
      ACanvas->Font()->SetColor((TColor)GetSysColor(COLOR_HIGHLIGHTTEXT));
    } else {
      FillRect(dc, &r, GetSysColorBrush(COLOR_MENUBAR));
    }
  } else {
    t.Background(MENU_POPUPBACKGROUND_, 0, r);
    COLORREF color;
    if (ThemeApi().GetThemeColor &&
        SUCCEEDED(ThemeApi().GetThemeColor(Theme, MENU_POPUPITEM_, textState, TMT_TEXTCOLOR_, &color)))
      ACanvas->Font()->SetColor((TColor)color);
  }
  // Check area, glyph area and gutter.
  SIZE cs = t.PartSize(MENU_POPUPCHECK_, checkState);
  TThemeMargins cm = t.Margins(MENU_POPUPCHECK_, checkState, TMT_CONTENTMARGINS_);
  int checkWidth = cs.cx + 2 * cm.cxRightWidth, checkHeight = cs.cy + 2 * cm.cyBottomHeight;
  RECT c = rtl ? RECT{r.right - checkWidth, r.top, r.right, r.top + checkHeight}
               : RECT{r.left, r.top, r.left + checkWidth, r.top + checkHeight};
  RECT g = c;
  TCustomImageList* list = GetImageList();
  if (list) {
    if (list->Height() > cs.cy) g.bottom += list->Height() - cs.cy;
    if (list->Width() > cs.cx) {
      if (!rtl) g.right += list->Width() - cs.cx;
      else g.left -= list->Width() - cs.cx;
    }
    OffsetRect(&c, (g.right - c.right) / 2, (g.bottom - c.bottom) / 2);
  }
  SIZE gs = t.PartSize(MENU_POPUPGUTTER_, 0);
  TThemeMargins gm = t.Margins(MENU_POPUPGUTTER_, 0, TMT_SIZINGMARGINS_);
  RECT u = g;
  if (!rtl) {
    u.right += gs.cx + cm.cxLeftWidth + gm.cxLeftWidth;
  } else {
    u.left = g.left - gs.cx - cm.cxRightWidth;
    u.right = g.left - gm.cxRightWidth;
  }
  if (!TopLevel) t.Background(MENU_POPUPGUTTER_, 0, u);
  // Glyph.
  int gw = g.right - g.left, gh = g.bottom - g.top;
  if (list && DrawsImage()) {
    if (ImageIndex() >= 0 && ImageIndex() < list->Count()) {
      list->Draw(ACanvas, g.left + (gw - list->Width()) / 2, g.top + (gh - list->Height()) / 2, ImageIndex(), Enabled());
    } else if (!TopLevel) {
      t.Background(MENU_POPUPCHECKBACKGROUND_, checkBackState, c);
      t.Background(MENU_POPUPCHECK_, checkState, c);
    }
  } else if (HasBitmap()) {
    RECT b{g.left + (gw - 16) / 2, g.top + (gh - 16) / 2, 0, 0};
    b.right = b.left + 16;
    b.bottom = b.top + 16;
    int bw = Bitmap()->Width(), bh = Bitmap()->Height();
    if (bw < cs.cx) {
      b.left += (16 - bw) / 2;
      b.right = b.left + bw;
    }
    if (bh < cs.cy) {
      b.top += (16 - bh) / 2;
      b.bottom = b.top + bh;
    }
    Bitmap()->Draw(ACanvas, TRect{b.left, b.top, b.right, b.bottom});
  }
  if (!TopLevel && selected) t.Background(MENU_POPUPITEM_, MPI_HOT_, r);
  TThemeMargins im = t.Margins(MENU_POPUPITEM_, MPI_NORMAL_, TMT_SIZINGMARGINS_);
  // Text area.
  SIZE ss{0, 0};
  if (!TopLevel) {
    if (!rtl) r.left = u.right + im.cxLeftWidth;
    else r.right = u.left - im.cxLeftWidth;
    ss = t.PartSize(MENU_POPUPSUBMENU_, MSM_NORMAL_);
    if (!rtl) r.right -= ss.cx;
    else r.left += ss.cx;
  } else if (!rtl) {
    r.left += gw;
  } else {
    r.right -= gw;
  }
  int flags = MenuItemAlignmentFlag(this) | DT_EXPANDTABS | DT_SINGLELINE;
  if (State & odNoAccel) flags |= DT_HIDEPREFIX;
  RECT s = r;
  WideString text = Caption();
  TRect tr{r.left, r.top, r.right, r.bottom};
  DrawThemedText(Theme, ACanvas, text, tr, flags | DT_CALCRECT | DT_NOCLIP, textState);
  r = RECT{tr.Left, tr.Top, tr.Right, tr.Bottom};
  if (rtl) {
    r.left = s.left;
    r.right = s.right;
  }
  OffsetRect(&r, 0, ((s.bottom - s.top) - (r.bottom - r.top)) / 2);
  tr = TRect{r.left, r.top, r.right, r.bottom};
  DrawThemedText(Theme, ACanvas, text, tr, flags, textState);
  r = RECT{tr.Left, tr.Top, tr.Right, tr.Bottom};
  if (!TopLevel && ShortCut() && Count() == 0) {
    WideString shortCutText = ShortCutToWideText(ShortCut());
    int from = 2 * ss.cx + im.cxLeftWidth + im.cxRightWidth;
    TRect box = rtl ? TRect{from, r.top, from + WideCanvasTextWidth(ACanvas, shortCutText), r.bottom}
                    : TRect{r.right, r.top, s.right - ss.cx - im.cxLeftWidth, r.bottom};
    DrawWideText(ACanvas, shortCutText, box, selected, DT_RIGHT);
  }
  ARect = TRect{r.left, r.top, r.right, r.bottom};
}

void TUniMenuItem::InitiateAction() {
  if (FKeyboardLayout != MenuKeyboardLayout()) MenuChanged(false);
}

WideString GetMenuItemWideHint(TMenuItem* Item) {
  if (auto* uni = dynamic_cast<TUniMenuItem*>(Item)) return uni->Hint();
  return Item ? AnsiToWide(Item->Hint()) : WideString();
}

void WriteMenuItemWideCaption(TUniMenuItem* Item, TMenu* Menu) {
  Item->FKeyboardLayout = MenuKeyboardLayout();
  if (!Win32PlatformIsNT() || !Item->Parent() || !Menu || !Item->Visible()) return;
  if (Item->ComponentState() & (csLoading | csDestroying)) return;
  TMenuItem* parent = Item->Parent();
  void* parentHandle = parent->Handle();
  HMENU h = static_cast<HMENU>(parentHandle);
  MENUITEMINFOW info{};
  info.cbSize = sizeof info;
  info.fMask = MIIM_TYPE;
  UINT id = Item->Count() > 0 ? (UINT)reinterpret_cast<uintptr_t>(Item->Handle()) : Item->Command();
  // Sub-menu entries are found by position, commands by id.
  int pos = -1;
  if (Item->Count() > 0) {
    for (int i = 0; i < GetMenuItemCount(h); ++i)
      if (GetSubMenu(h, i) == static_cast<HMENU>(Item->Handle())) pos = i;
    if (pos < 0) return;
  }
  BOOL byPos = pos >= 0;
  UINT key = byPos ? (UINT)pos : id;
  if (!GetMenuItemInfoW(h, key, byPos, &info) || (info.fType & (MFT_BITMAP | MFT_OWNERDRAW | MFT_SEPARATOR))) return;
  WideString text = Item->Caption();
  bool topLevelOfMain = !parent->Parent() && dynamic_cast<TMainMenu*>(Menu);
  if (Item->Count() == 0 && Item->ShortCut() && !topLevelOfMain) text += L"\t" + ShortCutToWideText(Item->ShortCut());
  wchar_t current[1024];
  int n = GetMenuStringW(h, key, current, 1024, byPos ? MF_BYPOSITION : MF_BYCOMMAND);
  if (n >= 0 && WideString(current, n) == text) return;
  MENUITEMINFOW set{};
  set.cbSize = sizeof set;
  set.fMask = MIIM_TYPE;
  set.fType = info.fType;
  set.dwTypeData = text.data();
  if (!SetMenuItemInfoW(h, key, byPos, &set)) RaiseLastOSError();
  if (topLevelOfMain && Menu->WindowHandle()) DrawMenuBar(static_cast<HWND>(Menu->WindowHandle()));
}

// ---------------------------------------------------------------------------------------------
// Pop-up list

namespace {
std::unique_ptr<TUniPopupList> gUniPopupList;
}

TUniPopupList::TUniPopupList(TPopupList* LibraryList) : FLibraryList(LibraryList) {
  if (LibraryList)
    for (int i = 0; i < LibraryList->Count(); ++i) Add(LibraryList->Items(i));
}

TUniPopupList::~TUniPopupList() = default;

void TUniPopupList::WndProc(TMessage& Message) {
  if (Message.Msg == WM_MENUSELECT && UniApplication) {
    UINT flags = HIWORD(Message.WParam);
    if (!(flags == 0xFFFF && Message.LParam == 0)) {
      TMenuItem* item = nullptr;
      for (int i = 0; i < Count() && !item; ++i) {
        if (flags & MF_POPUP) {
          HMENU sub = GetSubMenu(reinterpret_cast<HMENU>(Message.LParam), LOWORD(Message.WParam));
          item = Items(i)->FindItem(reinterpret_cast<uintptr_t>(sub), true);
        } else {
          item = Items(i)->FindItem(LOWORD(Message.WParam), false);
        }
      }
      UniApplication->SetHint(item ? LongHintPart(GetMenuItemWideHint(item)) : WideString());
    }
  }
  if (Message.Msg == WM_INITMENUPOPUP)
    for (int i = 0; i < Count(); ++i) InitiateMenuActions(Items(i), reinterpret_cast<void*>(Message.WParam));
  if (Message.Msg == WM_ENTERMENULOOP) {
    for (int i = 0; i < Count(); ++i) RefreshRightToLeftMenu(Items(i));
  }
  TPopupList::WndProc(Message);
}

void UniMenusInitialize() {
  gUniPopupList = std::make_unique<TUniPopupList>(PopupList);
  PopupList = gUniPopupList.get();
}

void UniMenusFinalize() {
  if (!gUniPopupList) return;
  // The class library's list comes back for its own shutdown.
  PopupList = gUniPopupList->LibraryList();
  gUniPopupList.reset();
}
