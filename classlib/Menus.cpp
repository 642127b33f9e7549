#include "classlib/Menus.h"

#include "classlib/ActnList.h"
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

#include <algorithm>

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
  for (TMenuItem* c : FItems) {
    if (!c->FVisible) continue;
    if (c->FCaption == "-") AppendMenuA(h, MF_SEPARATOR, 0, nullptr);
    else if (!c->FItems.empty())
      AppendMenuA(h, MF_STRING | MF_POPUP, reinterpret_cast<UINT_PTR>(c->Handle()), c->MenuText().c_str());
    else AppendMenuA(h, MF_STRING, c->FCommand, c->MenuText().c_str());
  }
}

void TMenuItem::MenuChanged(bool Rebuild) {
  if (FParent && FParent->FHandle) FParent->RebuildHandle();
  TMenu* menu = GetParentMenu();
  if (menu && menu->WindowHandle()) DrawMenuBar(static_cast<HWND>(menu->WindowHandle()));
}

TMenuItem* TMenuItem::FindItem(uint32_t Value, bool ByHandle) {
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
  DefaultHandler(FWindow, Message);
}

void MenusInitialize() {
  if (!PopupList) PopupList = new TPopupList();
}

void MenusFinalize() {
  delete PopupList;
  PopupList = nullptr;
}
