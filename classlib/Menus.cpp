#include "classlib/Menus.h"

#include <algorithm>

#include "classlib/ActnList.h"
#include "classlib/ImgList.h"
#include "classlib/WinApi.h"

namespace {
const char* const kMenuKeyCaps[] = {"BkSp", "Tab", "Esc", "Enter", "Space", "PgUp", "PgDn", "End", "Home",
                                    "Left", "Up",  "Right", "Down", "Ins", "Del",  "Shift+", "Ctrl+", "Alt+"};
enum { mkcBkSp, mkcTab, mkcEsc, mkcEnter, mkcSpace, mkcPgUp, mkcPgDn, mkcEnd, mkcHome, mkcLeft, mkcUp, mkcRight,
       mkcDown, mkcIns, mkcDel, mkcShift, mkcCtrl, mkcAlt };

AnsiString KeyName(uint8_t Key) {
  switch (Key) {
    case 0x08: return kMenuKeyCaps[mkcBkSp];
    case 0x09: return kMenuKeyCaps[mkcTab];
    case 0x0D: return kMenuKeyCaps[mkcEnter];
    case 0x1B: return kMenuKeyCaps[mkcEsc];
    case 0x2D: return kMenuKeyCaps[mkcIns];
    case 0x2E: return kMenuKeyCaps[mkcDel];
    default: break;
  }
  if (Key >= 0x20 && Key <= 0x28) return kMenuKeyCaps[mkcSpace + (Key - 0x20)];
  if ((Key >= '0' && Key <= '9') || (Key >= 'A' && Key <= 'Z')) return AnsiString(1, (char)Key);
  if (Key >= 0x60 && Key <= 0x69) return AnsiString(1, (char)('0' + Key - 0x60));
  if (Key >= 0x70 && Key <= 0x87) return "F" + IntToStr(Key - 0x6F);
  UINT scan = MapVirtualKeyA(Key, 0);
  if (!scan) return "";
  char name[256];
  int n = GetKeyNameTextA((LONG)(scan << 16), name, sizeof name);
  return n > 0 ? AnsiString(name, n) : AnsiString();
}
}  // namespace

AnsiString ShortCutToText(TShortCut ShortCut) {
  AnsiString name = KeyName((uint8_t)(ShortCut & 0xFF));
  if (name.empty()) return "";
  AnsiString result;
  if (ShortCut & scShift) result += kMenuKeyCaps[mkcShift];
  if (ShortCut & scCtrl) result += kMenuKeyCaps[mkcCtrl];
  if (ShortCut & scAlt) result += kMenuKeyCaps[mkcAlt];
  return result + name;
}

// ---------------------------------------------------------------------------------------------

namespace {
uint32_t gNextCommand = 100;
}

TMenuItem::TMenuItem(TComponent* AOwner) : TComponent(AOwner), FCommand(gNextCommand++) {}

TMenuItem::~TMenuItem() {
  FActionLink.reset();
  if (FParent) FParent->Remove(this);
  for (TMenuItem* c : FItems) c->FParent = nullptr;
  if (FHandle) DestroyMenu(static_cast<HMENU>(FHandle));
}

TMenu* TMenuItem::GetParentMenu() const {
  const TMenuItem* i = this;
  while (i->FParent) i = i->FParent;
  return i->FMenu;
}

void TMenuItem::Add(TMenuItem* Item) {
  if (Item->FParent) Item->FParent->Remove(Item);
  FItems.push_back(Item);
  Item->FParent = this;
  MenuChanged(true);
}

void TMenuItem::Remove(TMenuItem* Item) {
  FItems.erase(std::remove(FItems.begin(), FItems.end(), Item), FItems.end());
  Item->FParent = nullptr;
  MenuChanged(true);
}

void TMenuItem::SetCaption(const AnsiString& Value) {
  if (FCaption == Value) return;
  FCaption = Value;
  MenuChanged(true);
}

void TMenuItem::SetShortCut(TShortCut Value) {
  if (FShortCut == Value) return;
  FShortCut = Value;
  MenuChanged(true);
}

void TMenuItem::SetVisible(bool Value) {
  if (FVisible == Value) return;
  FVisible = Value;
  MenuChanged(true);
}

void TMenuItem::SetEnabled(bool Value) {
  if (FEnabled == Value) return;
  FEnabled = Value;
  MenuChanged(true);
}

void TMenuItem::SetChecked(bool Value) {
  if (FChecked == Value) return;
  FChecked = Value;
  MenuChanged(true);
}

void TMenuItem::SetRadioItem(bool Value) {
  if (FRadioItem == Value) return;
  FRadioItem = Value;
  MenuChanged(true);
}

void TMenuItem::SetDefault(bool Value) {
  if (FDefault == Value) return;
  FDefault = Value;
  MenuChanged(true);
}

void TMenuItem::SetImageIndex(int Value) {
  if (FImageIndex == Value) return;
  FImageIndex = Value;
  MenuChanged(true);
}

TBitmap* TMenuItem::Bitmap() {
  if (!FBitmap) FBitmap = std::make_unique<TBitmap>();
  return FBitmap.get();
}

TCustomImageList* TMenuItem::GetImageList() const {
  TMenu* menu = GetParentMenu();
  return menu ? menu->Images() : nullptr;
}

bool TMenuItem::IsTopLevelOfMainMenu() const {
  return FParent && !FParent->FParent && dynamic_cast<TMainMenu*>(GetParentMenu());
}

AnsiString TMenuItem::MenuText() const {
  AnsiString text = FCaption;
  bool topLevel = FParent && !FParent->FParent;
  if (FShortCut && FItems.empty() && !(topLevel && dynamic_cast<TMainMenu*>(GetParentMenu())))
    text += "\t" + ShortCutToText(FShortCut);
  return text;
}

void* TMenuItem::Handle() {
  if (!FHandle) {
    FHandle = (!FParent && dynamic_cast<TMainMenu*>(FMenu)) ? CreateMenu() : CreatePopupMenu();
    RebuildHandle();
  }
  return FHandle;
}

void TMenuItem::RebuildHandle() {
  if (!FHandle) return;
  HMENU h = static_cast<HMENU>(FHandle);
  while (GetMenuItemCount(h) > 0) RemoveMenu(h, 0, MF_BYPOSITION);
  TMenu* menu = GetParentMenu();
  bool ownerDraw = menu && menu->IsOwnerDraw();
  for (TMenuItem* c : FItems) {
    if (!c->FVisible) continue;
    AnsiString text = c->MenuText();
    MENUITEMINFOA info{};
    info.cbSize = sizeof info;
    info.fMask = MIIM_FTYPE | MIIM_STATE | MIIM_ID | MIIM_DATA | (c->FItems.empty() ? 0 : MIIM_SUBMENU);
    // Owner-drawn entries carry their command in the item data; the drawing messages find the
    // item by it.
    info.dwItemData = c->FCommand;
    info.wID = c->FCommand;
    if (!c->FItems.empty()) info.hSubMenu = static_cast<HMENU>(c->Handle());
    if (ownerDraw) {
      info.fType = MFT_OWNERDRAW | (c->IsLine() ? MFT_SEPARATOR : 0);
    } else if (c->IsLine()) {
      info.fType = MFT_SEPARATOR;
    } else {
      info.fType = MFT_STRING;
      info.fMask |= MIIM_STRING;
      info.dwTypeData = text.data();
    }
    if (c->FRadioItem) info.fType |= MFT_RADIOCHECK;
    info.fState = (c->FChecked ? MFS_CHECKED : 0) | (c->FEnabled ? 0 : MFS_GRAYED) | (c->FDefault ? MFS_DEFAULT : 0);
    if (InsertMenuItemA(h, (UINT)GetMenuItemCount(h), TRUE, &info)) c->EntryMade();
  }
}

void TMenuItem::MenuChanged(bool Rebuild) {
  if (FParent && FParent->FHandle) FParent->RebuildHandle();
  TMenu* menu = GetParentMenu();
  if (menu && menu->WindowHandle()) DrawMenuBar(static_cast<HWND>(menu->WindowHandle()));
}

TMenuItem* TMenuItem::FindItem(uintptr_t Value, bool ByHandle) {
  if (ByHandle ? (FHandle && reinterpret_cast<uintptr_t>(FHandle) == Value) : FCommand == Value) return this;
  for (TMenuItem* c : FItems)
    if (TMenuItem* f = c->FindItem(Value, ByHandle)) return f;
  return nullptr;
}

void TMenuItem::Click() {
  if (OnClick) OnClick(this);
  else if (FActionLink && FActionLink->Action()) FActionLink->Action()->Execute();
}

TBasicAction* TMenuItem::Action() const { return FActionLink ? FActionLink->Action() : nullptr; }

void TMenuItem::SetAction(TBasicAction* Value) {
  if (!Value) {
    FActionLink.reset();
    return;
  }
  if (!FActionLink) FActionLink = CreateActionLink();
  FActionLink->SetAction(Value);
  ActionChange(Value, (ComponentState() & csLoading) != 0);
}

std::unique_ptr<TMenuActionLink> TMenuItem::CreateActionLink() { return std::make_unique<TMenuActionLink>(this); }

void TMenuItem::ActionChange(TObject* Sender, bool CheckDefaults) {
  auto* action = dynamic_cast<TCustomAction*>(Sender);
  if (!action) return;
  if (!CheckDefaults || FCaption.empty()) SetCaption(action->Caption());
  if (!CheckDefaults || FHint.empty()) SetHint(action->Hint());
  if (!CheckDefaults || FShortCut == 0) SetShortCut(action->ShortCut());
}

TMenu::TMenu(TComponent* AOwner) : TComponent(AOwner), FItems(std::make_unique<TMenuItem>(nullptr)) { FItems->FMenu = this; }

TMenu::~TMenu() = default;

void TMenu::SetOwnerDraw(bool Value) {
  if (FOwnerDraw == Value) return;
  FOwnerDraw = Value;
  RebuildAll();
}

void TMenu::SetImages(TCustomImageList* Value) {
  if (FImages == Value) return;
  FImages = Value;
  if (Value) FreeNotification(Value);
  RebuildAll();
}

void TMenu::Notification(TComponent* AComponent, TOperation Operation) {
  TComponent::Notification(AComponent, Operation);
  if (Operation == opRemove && AComponent == FImages) {
    FImages = nullptr;
    RebuildAll();
  }
}

void TMenu::RebuildAll() {
  std::function<void(TMenuItem*)> rebuild = [&](TMenuItem* Item) {
    Item->RebuildHandle();
    for (TMenuItem* c : Item->FItems) rebuild(c);
  };
  rebuild(FItems.get());
}

namespace {
// A canvas on a device context handed in by Windows, with the menu font.
struct TMenuCanvas {
  TCanvas Canvas;
  explicit TMenuCanvas(HDC DC) {
    Canvas.SetHandle(DC);
    AssignMenuFont(Canvas.Font());
  }
  ~TMenuCanvas() { Canvas.SetHandle(nullptr); }
};
}  // namespace

bool TMenu::DispatchOwnerDraw(TMessage& Message) {
  if (Message.Msg == WM_MEASUREITEM) {
    auto* m = reinterpret_cast<MEASUREITEMSTRUCT*>(Message.LParam);
    if (!m || m->CtlType != ODT_MENU) return false;
    TMenuItem* item = FindItem(m->itemData, false);
    if (!item || item == FItems.get()) return false;
    HDC dc = GetDC(nullptr);
    try {
      TMenuCanvas c(dc);
      int w = (int)m->itemWidth, h = (int)m->itemHeight;
      item->MeasureItem(&c.Canvas, w, h);
      m->itemWidth = (UINT)(w > 0 ? w : 0);
      m->itemHeight = (UINT)(h > 0 ? h : 0);
    } catch (...) {
      ReleaseDC(nullptr, dc);
      throw;
    }
    ReleaseDC(nullptr, dc);
    Message.Result = 1;
    return true;
  }
  if (Message.Msg == WM_DRAWITEM) {
    auto* d = reinterpret_cast<DRAWITEMSTRUCT*>(Message.LParam);
    if (!d || d->CtlType != ODT_MENU) return false;
    TMenuItem* item = FindItem(d->itemData, false);
    if (!item || item == FItems.get()) return false;
    int saved = SaveDC(d->hDC);
    try {
      TMenuCanvas c(d->hDC);
      TRect r{d->rcItem.left, d->rcItem.top, d->rcItem.right, d->rcItem.bottom};
      item->AdvancedDrawItem(&c.Canvas, r, (TOwnerDrawState)d->itemState, item->IsTopLevelOfMainMenu());
    } catch (...) {
      RestoreDC(d->hDC, saved);
      throw;
    }
    RestoreDC(d->hDC, saved);
    Message.Result = 1;
    return true;
  }
  return false;
}

// ---------------------------------------------------------------------------------------------
// The library's own face of owner-drawn items

void AssignMenuFont(TFont* Font) {
  NONCLIENTMETRICSW ncm{};
  ncm.cbSize = sizeof ncm;
  if (!SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof ncm, &ncm, 0)) return;
  const LOGFONTW& lf = ncm.lfMenuFont;
  char name[LF_FACESIZE * 2];
  int n = WideCharToMultiByte(CP_ACP, 0, lf.lfFaceName, -1, name, sizeof name, nullptr, nullptr);
  if (n > 0) Font->SetName(name);
  Font->SetHeight(lf.lfHeight ? (int)lf.lfHeight : -11);
  Font->SetCharset(lf.lfCharSet);
  Font->SetStyle((lf.lfWeight >= FW_BOLD ? fsBold : 0) | (lf.lfItalic ? fsItalic : 0));
  Font->SetColor((TColor)GetSysColor(COLOR_MENUTEXT));
}

int MenuItemAlignmentFlag(TMenuItem* Item) {
  auto* popup = dynamic_cast<TPopupMenu*>(Item->GetParentMenu());
  if (!popup) return DT_LEFT;
  switch (popup->Alignment()) {
    case paRight: return DT_RIGHT;
    case paCenter: return DT_CENTER;
    default: return DT_LEFT;
  }
}

bool TMenuItem::DrawsImage() {
  TCustomImageList* list = GetImageList();
  if (!list) return false;
  return (FImageIndex >= 0 && FImageIndex < list->Count()) || (FChecked && !HasBitmap());
}

int TMenuItem::GlyphWidth(bool TopLevel) {
  TCustomImageList* list = GetImageList();
  if (list && DrawsImage()) return list->Width();
  if (HasBitmap()) return 16;
  if (list && !TopLevel) return list->Width();
  return 0;
}

void TMenuItem::DoDrawText(TCanvas* ACanvas, const AnsiString& ACaption, TRect& Rect, bool Selected, int Flags) {
  AnsiString text = ACaption;
  if ((Flags & DT_CALCRECT) && (text.empty() || text == "&")) text += " ";
  TMenu* menu = GetParentMenu();
  if (menu && menu->IsRightToLeft()) Flags |= DT_RIGHT | DT_RTLREADING;
  ACanvas->Brush()->SetStyle(bsClear);
  if (FDefault) ACanvas->Font()->SetStyle(ACanvas->Font()->Style() | fsBold);
  RECT r{Rect.Left, Rect.Top, Rect.Right, Rect.Bottom};
  if (!FEnabled) {
    if (!Selected) {
      OffsetRect(&r, 1, 1);
      ACanvas->Font()->SetColor((TColor)GetSysColor(COLOR_BTNHIGHLIGHT));
      ACanvas->RequiredState(csHandleValid | csFontValid | csBrushValid);
      DrawTextA(static_cast<HDC>(ACanvas->Handle()), text.c_str(), (int)text.size(), &r, Flags);
      OffsetRect(&r, -1, -1);
    }
    COLORREF shadow = GetSysColor(COLOR_BTNSHADOW);
    ACanvas->Font()->SetColor((TColor)(Selected && GetSysColor(COLOR_HIGHLIGHT) == shadow ? GetSysColor(COLOR_BTNHIGHLIGHT)
                                                                                         : shadow));
  }
  ACanvas->RequiredState(csHandleValid | csFontValid | csBrushValid);
  DrawTextA(static_cast<HDC>(ACanvas->Handle()), text.c_str(), (int)text.size(), &r, Flags);
  Rect = TRect{r.left, r.top, r.right, r.bottom};
}

void TMenuItem::MeasureItem(TCanvas* ACanvas, int& Width, int& Height) {
  if (IsLine()) {
    Width = 0;
    Height = GetSystemMetrics(SM_CYMENU) / 2;
  } else {
    bool topLevel = IsTopLevelOfMainMenu();
    TRect r{0, 0, 0, 0};
    int flags = MenuItemAlignmentFlag(this) | DT_CALCRECT | DT_NOCLIP | DT_EXPANDTABS | DT_SINGLELINE;
    DoDrawText(ACanvas, FCaption, r, false, flags);
    Width = r.Width() + (topLevel ? 0 : GlyphWidth(false) + 6 + 10);
    Height = r.Height() + 4;
    if (!topLevel && FShortCut) {
      TRect s{0, 0, 0, 0};
      DoDrawText(ACanvas, ShortCutToText(FShortCut), s, false, flags);
      Width += s.Width() + 15;
    }
    TCustomImageList* list = GetImageList();
    if (list && list->Height() + 4 > Height) Height = list->Height() + 4;
    if (HasBitmap() && Height < 20) Height = 20;
    if (Height < GetSystemMetrics(SM_CYMENU) - 2 && !topLevel) Height = GetSystemMetrics(SM_CYMENU) - 2;
  }
  if (OnMeasureItem) OnMeasureItem(this, ACanvas, Width, Height);
}

void TMenuItem::AdvancedDrawItem(TCanvas* ACanvas, TRect& ARect, TOwnerDrawState State, bool TopLevel) {
  TMenu* menu = GetParentMenu();
  if (menu && menu->IsOwnerDraw() && (OnAdvancedDrawItem || OnDrawItem)) {
    if (OnAdvancedDrawItem) OnAdvancedDrawItem(this, ACanvas, ARect, State);
    else OnDrawItem(this, ACanvas, ARect, (State & odSelected) != 0);
    return;
  }
  HDC dc = static_cast<HDC>(ACanvas->Handle());
  bool selected = State & odSelected;
  bool rtl = menu && menu->IsRightToLeft();
  RECT r{ARect.Left, ARect.Top, ARect.Right, ARect.Bottom};
  // Background and selection.
  int back = TopLevel ? ((selected || (State & odHotLight)) ? COLOR_HIGHLIGHT : COLOR_MENUBAR)
                      : (selected ? COLOR_HIGHLIGHT : COLOR_MENU);
  FillRect(dc, &r, GetSysColorBrush(back));
  ACanvas->Font()->SetColor((TColor)GetSysColor(back == COLOR_HIGHLIGHT ? COLOR_HIGHLIGHTTEXT : COLOR_MENUTEXT));
  if (IsLine()) {
    RECT line{r.left + 2, (r.top + r.bottom) / 2 - 1, r.right - 2, (r.top + r.bottom) / 2 + 1};
    DrawEdge(dc, &line, EDGE_ETCHED, BF_TOP);
    return;
  }
  // The glyph column: an image of the list, the item's bitmap, or the check mark.
  int glyph = GlyphWidth(TopLevel);
  int h = r.bottom - r.top;
  RECT g = rtl ? RECT{r.right - glyph - 2, r.top, r.right - 2, r.bottom} : RECT{r.left + 2, r.top, r.left + 2 + glyph, r.bottom};
  TCustomImageList* list = GetImageList();
  if (list && DrawsImage()) {
    if (FImageIndex >= 0 && FImageIndex < list->Count()) {
      list->Draw(ACanvas, g.left + (glyph - list->Width()) / 2, r.top + (h - list->Height()) / 2, FImageIndex, FEnabled);
      if (FChecked) DrawEdge(dc, &g, BDR_SUNKENOUTER, BF_RECT);
    } else {
      RECT mark{g.left, r.top + (h - glyph) / 2, g.right, r.top + (h - glyph) / 2 + glyph};
      DrawFrameControl(dc, &mark, DFC_MENU, FRadioItem ? DFCS_MENUBULLET : DFCS_MENUCHECK);
    }
  } else if (HasBitmap()) {
    TRect b{g.left, r.top + (h - 16) / 2, g.left + 16, r.top + (h - 16) / 2 + 16};
    FBitmap->Draw(ACanvas, b);
  }
  // Caption and shortcut.
  int flags = MenuItemAlignmentFlag(this) | DT_EXPANDTABS | DT_SINGLELINE | DT_VCENTER;
  if (State & odNoAccel) flags |= DT_HIDEPREFIX;
  TRect t = rtl ? TRect{r.left + 2, r.top, r.right - glyph - 4, r.bottom} : TRect{r.left + glyph + 6, r.top, r.right - 1, r.bottom};
  if (TopLevel) {
    t = TRect{r.left, r.top, r.right, r.bottom};
    flags = (flags & ~(DT_LEFT | DT_RIGHT)) | DT_CENTER;
  }
  DoDrawText(ACanvas, FCaption, t, selected, flags);
  if (FShortCut && !TopLevel) {
    // Right to left the text steps align everything right: the shortcut gets a box as wide as
    // its text at the left, clear of the caption.
    AnsiString text = ShortCutToText(FShortCut);
    TRect s{r.left, r.top, r.right - 10, r.bottom};
    if (rtl) {
      ACanvas->RequiredState(csHandleValid | csFontValid);
      SIZE ext{};
      GetTextExtentPoint32A(static_cast<HDC>(ACanvas->Handle()), text.c_str(), (int)text.size(), &ext);
      s = TRect{r.left + 10, r.top, r.left + 10 + ext.cx, r.bottom};
    }
    DoDrawText(ACanvas, text, s, selected, DT_RIGHT | DT_EXPANDTABS | DT_SINGLELINE | DT_VCENTER);
  }
}

bool TMenu::DispatchCommand(uint32_t Command) {
  TMenuItem* item = FindItem(Command, false);
  if (!item) return false;
  item->Click();
  return true;
}

TPopupList* PopupList = nullptr;

TPopupMenu::TPopupMenu(TComponent* AOwner) : TMenu(AOwner) {
  if (PopupList) PopupList->Add(this);
}

TPopupMenu::~TPopupMenu() {
  if (PopupList) PopupList->Remove(this);
}

void TPopupMenu::Popup(int X, int Y) {
  HWND owner = PopupList ? static_cast<HWND>(PopupList->Window()) : GetActiveWindow();
  UINT cmd = TrackPopupMenuEx(static_cast<HMENU>(Handle()), TPM_RETURNCMD, X, Y, owner, nullptr);
  if (cmd) DispatchCommand(cmd);
}

TPopupList::TPopupList() { FWindow = AllocateHWnd([this](TMessage& M) { WndProc(M); }); }

TPopupList::~TPopupList() { DeallocateHWnd(FWindow); }

void TPopupList::Remove(TPopupMenu* Menu) { FMenus.erase(std::remove(FMenus.begin(), FMenus.end(), Menu), FMenus.end()); }

void TPopupList::WndProc(TMessage& Message) {
  if (Message.Msg == WM_COMMAND && Message.LParam == 0) {
    for (TPopupMenu* m : std::vector<TPopupMenu*>(FMenus))
      if (m->DispatchCommand(LOWORD(Message.WParam))) return;
  }
  if (Message.Msg == WM_MEASUREITEM || Message.Msg == WM_DRAWITEM) {
    for (TPopupMenu* m : std::vector<TPopupMenu*>(FMenus))
      if (m->DispatchOwnerDraw(Message)) return;
  }
  DefaultHandler(FWindow, Message);
}

void MenusInitialize() {
  if (!PopupList) PopupList = new TPopupList();
}

void MenusFinalize() {
  delete PopupList;
  PopupList = nullptr;
}
