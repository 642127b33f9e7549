// Menus: keyboard shortcuts and their texts.
#pragma once
#include <cstdint>
#include <memory>
#include <vector>

#include "classlib/Classes.h"
#include "classlib/Graphics.h"
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

class TMenu;
class TCustomImageList;

enum TPopupAlignment { paLeft, paRight, paCenter };
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
  bool Enabled() const { return FEnabled; }
  void SetEnabled(bool Value);
  bool Checked() const { return FChecked; }
  void SetChecked(bool Value);
  // A checked radio item shows a bullet in place of the check mark.
  bool RadioItem() const { return FRadioItem; }
  void SetRadioItem(bool Value);
  // The default item of its menu, shown bold.
  bool Default() const { return FDefault; }
  void SetDefault(bool Value);
  int ImageIndex() const { return FImageIndex; }
  void SetImageIndex(int Value);
  // The item's own glyph, made on first use; call MenuChanged after giving it a picture.
  TBitmap* Bitmap();
  bool HasBitmap() const { return FBitmap && !FBitmap->GetEmpty() && FBitmap->GetWidth() > 0; }
  // The image list of the item's menu, or null.
  TCustomImageList* GetImageList() const;
  // A separator line (caption "-").
  bool IsLine() const { return FCaption == "-"; }
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

  // Owner drawing (the menu's OwnerDraw or Images make every entry owner-drawn). Measuring: the
  // library's size of the item, then OnMeasureItem. Drawing: OnAdvancedDrawItem (else OnDrawItem)
  // when the item has one, else the library's face: background, selection, check mark or image,
  // caption and shortcut text. Threads: user-interface thread only.
  virtual void MeasureItem(TCanvas* ACanvas, int& Width, int& Height);
  virtual void AdvancedDrawItem(TCanvas* ACanvas, TRect& ARect, TOwnerDrawState State, bool TopLevel);
  std::function<void(TObject* Sender, TCanvas* ACanvas, int& Width, int& Height)> OnMeasureItem;
  std::function<void(TObject* Sender, TCanvas* ACanvas, TRect ARect, bool Selected)> OnDrawItem;
  std::function<void(TObject* Sender, TCanvas* ACanvas, TRect ARect, TOwnerDrawState State)> OnAdvancedDrawItem;
  // The item is an entry of a main menu's bar.
  bool IsTopLevelOfMainMenu() const;
  // The item with this command id or sub-menu handle (at its full width) in the sub-tree, or null.
  TMenuItem* FindItem(uintptr_t Value, bool ByHandle);

 protected:
  friend class TMenu;
  // Copies the action's caption, hint and shortcut; with CheckDefaults only into empty ones.
  virtual void ActionChange(TObject* Sender, bool CheckDefaults);
  virtual std::unique_ptr<TMenuActionLink> CreateActionLink();
  std::unique_ptr<TMenuActionLink> FActionLink;
  void RebuildHandle();
  // Called when the item's entry has been put into its parent's Windows menu with the library's
  // 8-bit text; a descendant may write more into the entry.
  virtual void EntryMade() {}
  AnsiString MenuText() const;
  // The library's text of an item: 8-bit, disabled items embossed, the default item bold.
  void DoDrawText(TCanvas* ACanvas, const AnsiString& ACaption, TRect& Rect, bool Selected, int Flags);
  // The width of the glyph column: the image list's, 16 for an own bitmap, else the list's for
  // items below the bar, else 0.
  int GlyphWidth(bool TopLevel);
  // The item draws an image of its menu's list: a valid ImageIndex, or checked without a bitmap.
  bool DrawsImage();
  AnsiString FCaption;
  AnsiString FHint;
  TShortCut FShortCut = 0;
  bool FVisible = true;
  bool FEnabled = true;
  bool FChecked = false;
  bool FRadioItem = false;
  bool FDefault = false;
  int FImageIndex = -1;
  std::unique_ptr<TBitmap> FBitmap;
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
  TMenuItem* FindItem(uintptr_t Value, bool ByHandle) { return FItems->FindItem(Value, ByHandle); }
  // Runs the item's OnClick for a WM_COMMAND id; true when one was found.
  bool DispatchCommand(uint32_t Command);
  // The window whose menu bar shows a main menu, or null.
  void* WindowHandle() const { return FWindowHandle; }
  void SetWindowHandle(void* Value) { FWindowHandle = Value; }
  // Every entry owner-drawn (also while Images is set).
  bool OwnerDraw() const { return FOwnerDraw; }
  void SetOwnerDraw(bool Value);
  TCustomImageList* Images() const { return FImages; }
  void SetImages(TCustomImageList* Value);
  bool IsOwnerDraw() const { return FOwnerDraw || FImages; }
  TBiDiMode BiDiMode() const { return FBiDiMode; }
  void SetBiDiMode(TBiDiMode Value) { FBiDiMode = Value; }
  // Right to left on a Middle-Eastern system when the menu's reading order is not left to right.
  bool IsRightToLeft() const { return MiddleEastLocale() && FBiDiMode != bdLeftToRight; }
  // WM_MEASUREITEM and WM_DRAWITEM of an owner-drawn entry of this menu; true when handled.
  bool DispatchOwnerDraw(TMessage& Message);

 protected:
  void Notification(TComponent* AComponent, TOperation Operation) override;
  // Rebuilds every Windows menu of the tree (the kind of entries changed).
  void RebuildAll();
  std::unique_ptr<TMenuItem> FItems;
  void* FWindowHandle = nullptr;
  bool FOwnerDraw = false;
  TCustomImageList* FImages = nullptr;
  TBiDiMode FBiDiMode = bdLeftToRight;
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
  TPopupAlignment Alignment() const { return FAlignment; }
  void SetAlignment(TPopupAlignment Value) { FAlignment = Value; }
  // Shows the menu at a screen point; the pop-up list's window owns it while it shows and runs
  // the chosen item's OnClick. Threads: user-interface thread; returns when the menu closes.
  void Popup(int X, int Y);

 private:
  TPopupAlignment FAlignment = paLeft;
};

// DrawText's alignment flag of an item: a pop-up menu's Alignment, DT_LEFT elsewhere.
int MenuItemAlignmentFlag(TMenuItem* Item);
// The menu font (the system's), as the canvas of owner-drawn items takes it.
void AssignMenuFont(TFont* Font);

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
