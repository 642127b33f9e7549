// Unicode menus: wide shortcut texts and the hot-key marks ("&") of wide captions.
#pragma once
#include <functional>

#include "classlib/Menus.h"

// The current input locale as the menu items compare it (GetKeyboardLayout of the thread); tests
// replace it.
extern std::function<void*()> MenuKeyboardLayout;

// The text of a shortcut with the keyboard's wide key names ("Shift+", "Ctrl+", "Alt+" first).
WideString ShortCutToWideText(TShortCut ShortCut);
// 1-based position of the hot-key character, 0 when the caption has none; the last mark wins and
// a doubled "&" is a literal ampersand.
int HotKeyPosOfCaption(const WideString& Caption);
// The hot-key character as a one-character text, or empty.
WideString HotKeyOfCaption(const WideString& Caption);
// The caption without its marks ("&&" becomes "&"); on East Asian systems a mark written as
// "(&X)" after other text goes with its brackets and letter.
WideString StripHotKeyMarks(const WideString& Caption);
// A and B equal once stripped, ignoring case / case-sensitively.
bool SameCaptionIgnoringHotKeys(const WideString& A, const WideString& B);
bool SameCaptionIgnoringHotKeysStr(const WideString& A, const WideString& B);
// When Source and Dest differ in their 8-bit forms but are the same caption once stripped, Dest
// gets its marks where Source has them. Raises EUniInternalError when the 8-bit forms still
// differ afterwards. Dest is left alone when the stripped captions differ.
void SyncHotKeyPosition(const WideString& Source, WideString& Dest);

// A menu item with a wide caption and hint that it writes into the Windows menu itself.
class TUniMenuItem : public TMenuItem {
 public:
  explicit TUniMenuItem(TComponent* AOwner);
  const char* ClassName() const override { return "TUniMenuItem"; }
  // Threads: user-interface thread only.
  WideString Caption();
  void SetCaption(const WideString& Value);
  WideString Hint();
  void SetHint(const WideString& Value);
  void MenuChanged(bool Rebuild) override;
  void DefineProperties(TFiler* Filer) override;
  // Owner drawing on NT: the library measures and draws the item without its text, the item adds
  // and draws its wide caption and shortcut text (or, with visual styles on version 6 and later,
  // draws the whole item). Separator lines, the 8-bit systems and items with their own drawing
  // handler keep the library's drawing. Threads: user-interface thread only.
  void MeasureItem(TCanvas* ACanvas, int& Width, int& Height) override;
  void AdvancedDrawItem(TCanvas* ACanvas, TRect& ARect, TOwnerDrawState State, bool TopLevel) override;
  // Rewrites the captions when the keyboard layout changed since they were written (the
  // shortcut names depend on it); called before the menu shows.
  void InitiateAction();

 protected:
  void ActionChange(TObject* Sender, bool CheckDefaults) override;
  std::unique_ptr<TMenuActionLink> CreateActionLink() override;
  void Loaded() override;
  // The entry made from the 8-bit caption gets the wide one (a caption set before the menu had
  // its Windows menu is written there too).
  void EntryMade() override;

 private:
  // The item's wide text: right to left, embossed when disabled, bold as the default item.
  void DrawWideText(TCanvas* ACanvas, const WideString& Text, TRect& Rect, bool Selected, int Flags);
  void DrawThemedText(void* Theme, TCanvas* ACanvas, const WideString& Text, TRect& Rect, int Flags, int TextState);
  void DrawClassic(TCanvas* ACanvas, TRect& ARect, TOwnerDrawState State, bool TopLevel);
  void DrawThemed(void* Theme, TCanvas* ACanvas, TRect& ARect, TOwnerDrawState State, bool TopLevel);
  bool IsRightToLeft();
  friend void WriteMenuItemWideCaption(TUniMenuItem* Item, TMenu* Menu);
  bool FIgnoreMenuChanged = false;
  WideString FWideCaption;
  WideString FWideHint;
  void* FKeyboardLayout = nullptr;
};

// The wide hint of a Unicode item, else the 8-bit hint widened.
WideString GetMenuItemWideHint(TMenuItem* Item);
// Writes an item's wide caption (and shortcut text) into its Windows menu entry.
void WriteMenuItemWideCaption(TUniMenuItem* Item, TMenu* Menu);
// On a right-to-left system the first visible item of the menu is written again, which brings
// back the menu's right-to-left layout after the system lost it.
void RefreshRightToLeftMenu(TMenu* Menu);
// Before a Windows menu of Menu shows: its Unicode items re-check the keyboard layout.
void InitiateMenuActions(TMenu* Menu, void* SubMenu);

// The pop-up list of the widget layer: a menu entry's wide hint becomes the application's hint.
class TUniPopupList : public TPopupList {
 public:
  // Takes over the menus of the class library's list, which it keeps and puts back at the end.
  explicit TUniPopupList(TPopupList* LibraryList);
  ~TUniPopupList() override;
  const char* ClassName() const override { return "TUniPopupList"; }
  void WndProc(TMessage& Message) override;
  TPopupList* LibraryList() const { return FLibraryList; }

 private:
  TPopupList* FLibraryList;
};

// Unit start and end: the pop-up list.
void UniMenusInitialize();
void UniMenusFinalize();
