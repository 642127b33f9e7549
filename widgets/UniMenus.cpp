#include "widgets/UniMenus.h"

#include "classlib/WideStrings.h"
#include "classlib/WinApi.h"
#include "unicode/UniSysUtils.h"
#include "widgets/UniControls.h"

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

#include <vector>

#include "unicode/UniClasses.h"
#include "widgets/UniActnList.h"

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
  if (!Menu || !SysLocale().MiddleEast || Menu->Items()->Count() == 0) return;
  TMenuItem* root = Menu->Items();
  for (int i = 0; i < root->Count(); ++i) {
    if (!root->Items(i)->Visible()) continue;
    if (auto* uni = dynamic_cast<TUniMenuItem*>(root->Items(i))) WriteMenuItemWideCaption(uni, Menu);
    return;
  }
}

void InitiateMenuActions(TMenu* Menu, void* SubMenu) {
  TMenuItem* parent = Menu ? Menu->FindItem((uint32_t)reinterpret_cast<uintptr_t>(SubMenu), true) : nullptr;
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

void TUniMenuItem::InitiateAction() {
  if (FKeyboardLayout != GetKeyboardLayout(0)) MenuChanged(false);
}

WideString GetMenuItemWideHint(TMenuItem* Item) {
  if (auto* uni = dynamic_cast<TUniMenuItem*>(Item)) return uni->Hint();
  return Item ? AnsiToWide(Item->Hint()) : WideString();
}

void WriteMenuItemWideCaption(TUniMenuItem* Item, TMenu* Menu) {
  Item->FKeyboardLayout = GetKeyboardLayout(0);
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

#include "widgets/UniForms.h"

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
          item = Items(i)->FindItem((uint32_t)reinterpret_cast<uintptr_t>(sub), true);
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
