// Menus: keyboard shortcuts and their texts.
#pragma once
#include <cstdint>

#include "classlib/SysUtils.h"

// A key code in the low byte with the modifier bits below.
using TShortCut = uint16_t;
constexpr TShortCut scShift = 0x2000;
constexpr TShortCut scCtrl = 0x4000;
constexpr TShortCut scAlt = 0x8000;
constexpr TShortCut scNone = 0;

// "Shift+", "Ctrl+" and "Alt+" (in that order) before the key's name; empty for a key without
// a name. Named keys have fixed English names; digits and letters are themselves; other keys take
// the keyboard layout's name for their scan code.
AnsiString ShortCutToText(TShortCut ShortCut);

// ---------------------------------------------------------------------------------------------
// Menus

#include <memory>
#include <vector>

#include "classlib/Classes.h"

class TMenu;
class TMenuActionLink;
class TBasicAction;

// One entry of a menu: a text command (caption "-" is a separator line) or a sub-menu.
class TMenuItem : public TComponent {
 public:
  explicit TMenuItem(TComponent* AOwner);
  ~TMenuItem() override;
  const char* ClassName() const override { return "TMenuItem"; }
  const AnsiString& Caption() const { return FCaption; }
  void SetCaption(const AnsiString& Value);
  const AnsiString& Hint() const { return FHint; }
  void SetHint(const AnsiString& Value) { FHint = Value; }
  TShortCut ShortCut() const { return FShortCut; }
  void SetShortCut(TShortCut Value);
  bool Visible() const { return FVisible; }
  void SetVisible(bool Value);
  // The command id the item's entry carries in the Windows menu.
  uint32_t Command() const { return FCommand; }
  int Count() const { return (int)FItems.size(); }
  TMenuItem* Items(int Index) const { return FItems[Index]; }
  TMenuItem* Parent() const { return FParent; }
  // Takes Item as a child (the owner still frees it).
  void Add(TMenuItem* Item);
  void Remove(TMenuItem* Item);
  TMenu* GetParentMenu() const;
  // The Windows menu of the item's children (made on first use), or null for a plain command.
  void* Handle();
  void Click();
  std::function<void(TObject* Sender)> OnClick;
  // The action that supplies the caption, hint and shortcut; a click runs it.
  TBasicAction* Action() const;
  void SetAction(TBasicAction* Value);
  TMenuActionLink* ActionLink() const { return FActionLink.get(); }

  // Rebuilds the Windows menu the item sits in.
  virtual void MenuChanged(bool Rebuild);
  // The item with this command id or sub-menu handle in the sub-tree, or null.
  TMenuItem* FindItem(uint32_t Value, bool ByHandle);

 protected:
  friend class TMenu;
  // Copies the action's caption, hint and shortcut; with CheckDefaults only into empty ones.
  virtual void ActionChange(TObject* Sender, bool CheckDefaults);
  virtual std::unique_ptr<TMenuActionLink> CreateActionLink();
  std::unique_ptr<TMenuActionLink> FActionLink;
  void RebuildHandle();
  AnsiString MenuText() const;
  AnsiString FCaption;
  AnsiString FHint;
  TShortCut FShortCut = 0;
  bool FVisible = true;
  uint32_t FCommand;
  std::vector<TMenuItem*> FItems;
  TMenuItem* FParent = nullptr;
  TMenu* FMenu = nullptr;
  void* FHandle = nullptr;
};

class TMenu : public TComponent {
 public:
  explicit TMenu(TComponent* AOwner);
  ~TMenu() override;
  const char* ClassName() const override { return "TMenu"; }
  // The root item; the menu's entries are its children.
  TMenuItem* Items() const { return FItems.get(); }
  void* Handle() { return FItems->Handle(); }
  // The item for a WM_COMMAND id or a sub-menu handle; null when none.
  TMenuItem* FindItem(uint32_t Value, bool ByHandle) { return FItems->FindItem(Value, ByHandle); }
  // Runs the item's OnClick for a WM_COMMAND id; true when one was found.
  bool DispatchCommand(uint32_t Command);
  // The window whose menu bar shows a main menu, or null.
  void* WindowHandle() const { return FWindowHandle; }
  void SetWindowHandle(void* Value) { FWindowHandle = Value; }

 protected:
  std::unique_ptr<TMenuItem> FItems;
  void* FWindowHandle = nullptr;
};

class TMainMenu : public TMenu {
 public:
  using TMenu::TMenu;
  const char* ClassName() const override { return "TMainMenu"; }
};

class TPopupMenu : public TMenu {
 public:
  explicit TPopupMenu(TComponent* AOwner);
  ~TPopupMenu() override;
  const char* ClassName() const override { return "TPopupMenu"; }
  // Shows the menu at a screen point; the pop-up list's window owns it while it shows and runs
  // the chosen item's OnClick. Threads: user-interface thread; returns when the menu closes.
  void Popup(int X, int Y);
};

// The hidden window that owns every pop-up menu while it shows: it gets the menus' messages.
class TPopupList : public TObject {
 public:
  TPopupList();
  ~TPopupList() override;
  const char* ClassName() const override { return "TPopupList"; }
  void* Window() const { return FWindow; }
  int Count() const { return (int)FMenus.size(); }
  TPopupMenu* Items(int Index) const { return FMenus[Index]; }
  void Add(TPopupMenu* Menu) { FMenus.push_back(Menu); }
  void Remove(TPopupMenu* Menu);
  // Messages of the window; WM_COMMAND runs the item of the command id.
  virtual void WndProc(TMessage& Message);

 protected:
  void* FWindow = nullptr;
  std::vector<TPopupMenu*> FMenus;
};

// The pop-up list in use; a replacement (the widget layer's) puts itself here.
extern TPopupList* PopupList;
void MenusInitialize();
void MenusFinalize();
