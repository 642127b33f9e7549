// Unicode standard controls: windows of the system's classes that show and take UTF-16 text.
#pragma once
#include <functional>
#include <memory>
#include <vector>

#include "classlib/StdCtrls.h"
#include "unicode/UniClasses.h"
#include "widgets/UniActnList.h"
#include "widgets/UniControls.h"

// The clock of the combo boxes' type-ahead search (milliseconds); tests replace it.
extern std::function<uint32_t()> UniComboTickCount;

// The key's character equals the caption's hot-key character, ignoring case.
bool IsWideAccelChar(uint32_t CharCode, const WideString& Caption);

// DefineProperties of a Unicode class: the base's, then the wide properties.
#define UNI_DEFINE_PROPERTIES_EXTERN(Class, Base) \
  void Class::DefineProperties(TFiler* Filer) {   \
    Base::DefineProperties(Filer);                \
    DefineWideProperties(Filer, this);            \
  }

// Wide Caption/Text and Hint of every class below, through the wide text of its control.
#define UNI_WIDE_TEXT_PROPERTIES                                                         \
  WideString Caption() { return GetControlWideText(this); }                              \
  void SetCaption(const WideString& Value) { SetControlWideText(this, Value); }          \
  WideString Text() { return GetControlWideText(this); }                                 \
  void SetText(const WideString& Value) { SetControlWideText(this, Value); }             \
  WideString Hint() { return GetControlWideHint(this); }                                 \
  void SetHint(const WideString& Value) { SetControlWideHint(this, Value); }             \
  void DefineProperties(TFiler* Filer) override;                                         \
  std::unique_ptr<TControlActionLink> CreateActionLink() override {                      \
    return SelectWideActionLinkClass(this);                                              \
  }                                                                                      \
  void ActionChange(TObject* Sender, bool CheckDefaults) override {                      \
    ApplyActionWideTexts(this, Sender, CheckDefaults);                                   \
    TControl::ActionChange(Sender, CheckDefaults);                                       \
  }

class TUniCustomEdit : public TCustomEdit {
 public:
  using TCustomEdit::TCustomEdit;
  const char* ClassName() const override { return "TUniCustomEdit"; }
  UNI_WIDE_TEXT_PROPERTIES
  wchar_t PasswordChar();
  void SetPasswordChar(wchar_t Value);
  // Positions in UTF-16 characters on every system.
  int SelStart();
  void SetSelStart(int Value);
  int SelLength();
  void SetSelLength(int Value);
  WideString SelText();

 protected:
  void CreateWindowHandle(const TCreateParams& Params) override;
  void CreateWnd() override;
  void KeyPress(char& Key) override;
  wchar_t FWidePasswordChar = 0;
};

class TUniEdit : public TUniCustomEdit {
 public:
  using TUniCustomEdit::TUniCustomEdit;
  const char* ClassName() const override { return "TUniEdit"; }
};

class TUniCustomMemo;

// The lines of a Unicode memo, read and written through its window.
class TUniMemoStrings : public TUniStrings {
 public:
  explicit TUniMemoStrings(TUniCustomMemo* Memo);
  const char* ClassName() const override { return "TUniMemoStrings"; }
  int Count() const override;
  WideString Get(int Index) const override;
  void Put(int Index, const WideString& S) override;
  TObject* GetObject(int Index) const override;
  void PutObject(int Index, TObject* AObject) override;
  void Insert(int Index, const WideString& S) override;
  void Delete(int Index) override;
  void Clear() override;
  WideString Text() const override;
  void SetText(const WideString& Value) override;

 private:
  bool UnicodeWindow() const;
  TUniCustomMemo* FMemo;
  TStrings* FAnsiLines;
};

class TUniCustomMemo : public TCustomMemo {
 public:
  explicit TUniCustomMemo(TComponent* AOwner);
  const char* ClassName() const override { return "TUniCustomMemo"; }
  UNI_WIDE_TEXT_PROPERTIES
  TUniMemoStrings* Lines() const { return FUniLines.get(); }
  TStrings* AnsiLines() const { return TCustomMemo::Lines(); }

 protected:
  void CreateWindowHandle(const TCreateParams& Params) override;
  void KeyPress(char& Key) override;
  std::unique_ptr<TUniMemoStrings> FUniLines;
};

class TUniMemo : public TUniCustomMemo {
 public:
  using TUniCustomMemo::TUniCustomMemo;
  const char* ClassName() const override { return "TUniMemo"; }
};

// Items of a Unicode combo or list box, through its window; the 8-bit items serve otherwise.
class TUniListItemsStrings : public TUniStrings {
 public:
  struct Messages {
    UINT GetTextLen, GetText, Add, Insert, FindExact, Err;
  };
  TUniListItemsStrings(TWinControl* Control, TStrings* AnsiItems, const Messages& Msgs)
      : FControl(Control), FAnsiItems(AnsiItems), FMsgs(Msgs) {}
  const char* ClassName() const override { return "TUniListItemsStrings"; }
  int Count() const override { return FAnsiItems->Count(); }
  WideString Get(int Index) const override;
  TObject* GetObject(int Index) const override { return FAnsiItems->GetObject(Index); }
  void PutObject(int Index, TObject* AObject) override { FAnsiItems->PutObject(Index, AObject); }
  int Add(const WideString& S) override;
  void Insert(int Index, const WideString& S) override;
  int IndexOf(const WideString& S) const override;
  void Delete(int Index) override;
  void Clear() override;
  // Replaces an item's text, keeping its data and the selection.
  void Put(int Index, const WideString& S) override;
  // Swaps two items with their data; a selection on one moves to the other.
  void Exchange(int Index1, int Index2) override;
  // Moves an item with its data (a list box is marked as moving meanwhile); a selection on it
  // moves with it.
  void Move(int CurIndex, int NewIndex) override;
  // Before the control's window is made: the wide texts of the items kept without a window
  // (empty where the 8-bit items are all there is); the kept texts are let go.
  std::vector<WideString> TakeWideTexts();
  // After the window is made from the 8-bit items: each item whose text the code page could not
  // hold gets its wide text (keeping its data and the selection).
  void RestoreWideTexts(const std::vector<WideString>& Texts);

 protected:
  bool UnicodeWindow() const;
  // On NT, without a window: the items are the library's 8-bit ones, their wide texts kept here.
  bool KeepsWideTexts() const;
  // Brings the kept wide texts in step with the 8-bit items (after a change made to those
  // directly, their widened texts stand in).
  void SyncWideTexts() const;
  int SelectedIndex() const;
  void SelectIndex(int Index);
  HWND Wnd() const { return static_cast<HWND>(FControl->Handle()); }
  TWinControl* FControl;
  TStrings* FAnsiItems;
  Messages FMsgs;
  mutable std::vector<WideString> FWideTexts;
};

class TUniCustomComboBox : public TCustomComboBox, public IWideListControl {
 public:
  explicit TUniCustomComboBox(TComponent* AOwner);
  ~TUniCustomComboBox() override;
  const char* ClassName() const override { return "TUniCustomComboBox"; }
  UNI_WIDE_TEXT_PROPERTIES
  TUniListItemsStrings* Items() const { return FUniItems.get(); }
  TStrings* AnsiItems() const { return TCustomComboBox::Items(); }
  void AddItem(const WideString& Item, TObject* AObject) override { FUniItems->AddObject(Item, AObject); }
  // Adds the selected item (wide, with its data) to another list-type control.
  void CopySelection(TControl* Destination);
  // The edit-character step of the simple and drop-down styles: with AutoComplete, a character
  // typed at the end of the text completes it to the first item it starts and is consumed.
  // Threads: user-interface thread only.
  bool AutoCompleteKeyPress(wchar_t Key);

 protected:
  void CreateWindowHandle(const TCreateParams& Params) override;
  void CreateWnd() override;
  void DestroyWnd() override;
  void WndProc(TMessage& Message) override;
  // OnDrawItem, else the item's background and its wide text 2 pixels in.
  void DrawItem(int Index, const RECT& Rect, TOwnerDrawState State) override;
  std::unique_ptr<TUniListItemsStrings> FUniItems;
  std::unique_ptr<TUniStringList> FSavedItems;
  int FSavedIndex = -1;
  void SubclassEditChild();
  WideString FSearchText;
  uint32_t FLastSearchTick = 0;
  bool FSearched = false;
};

class TUniComboBox : public TUniCustomComboBox {
 public:
  using TUniCustomComboBox::TUniCustomComboBox;
  const char* ClassName() const override { return "TUniComboBox"; }
};

class TUniCustomListBox : public TCustomListBox, public IWideListControl {
 public:
  explicit TUniCustomListBox(TComponent* AOwner);
  ~TUniCustomListBox() override;
  const char* ClassName() const override { return "TUniCustomListBox"; }
  UNI_WIDE_TEXT_PROPERTIES
  TUniListItemsStrings* Items() const { return FUniItems.get(); }
  TStrings* AnsiItems() const { return TCustomListBox::Items(); }
  void AddItem(const WideString& Item, TObject* AObject) override { FUniItems->AddObject(Item, AObject); }
  // The wide text of item Index of the virtual styles; without it OnData's text is widened.
  std::function<void(TWinControl* Control, int Index, WideString& Data)> OnWideData;

 protected:
  void CreateWindowHandle(const TCreateParams& Params) override;
  void CreateWnd() override;
  void DestroyWnd() override;
  // The virtual styles answer LB_GETTEXT and LB_GETTEXTLEN from the wide data event.
  void WndProc(TMessage& Message) override;
  // OnDrawItem, else the item's background and its wide text, one line, centred vertically,
  // 2 pixels in.
  void DrawItem(int Index, const RECT& Rect, TOwnerDrawState State) override;
  std::unique_ptr<TUniListItemsStrings> FUniItems;
  std::unique_ptr<TUniStringList> FSavedItems;
  int FSavedIndex = -1;
  int FSavedTop = 0;
};

class TUniListBox : public TUniCustomListBox {
 public:
  using TUniCustomListBox::TUniCustomListBox;
  const char* ClassName() const override { return "TUniListBox"; }
};

class TUniCustomLabel : public TCustomLabel {
 public:
  using TCustomLabel::TCustomLabel;
  const char* ClassName() const override { return "TUniCustomLabel"; }
  UNI_WIDE_TEXT_PROPERTIES

 protected:
  void DoDrawText(HDC DC, RECT& Rect, UINT Flags) override;
  // A label has no window of its own: it prepares its wide hint itself.
  void WndProc(TMessage& Message) override;
};

class TUniLabel : public TUniCustomLabel {
 public:
  using TUniCustomLabel::TUniCustomLabel;
  const char* ClassName() const override { return "TUniLabel"; }
};

class TUniButton : public TButton {
 public:
  using TButton::TButton;
  const char* ClassName() const override { return "TUniButton"; }
  UNI_WIDE_TEXT_PROPERTIES

 protected:
  // CM_DIALOGCHAR: the caption's hot key (wide) takes the key.
  void WndProc(TMessage& Message) override;
  void CreateWindowHandle(const TCreateParams& Params) override;
};

class TUniCustomCheckBox : public TCustomCheckBox {
 public:
  using TCustomCheckBox::TCustomCheckBox;
  const char* ClassName() const override { return "TUniCustomCheckBox"; }
  UNI_WIDE_TEXT_PROPERTIES

 protected:
  // CM_DIALOGCHAR: the caption's hot key (wide) takes the key.
  void WndProc(TMessage& Message) override;
  void CreateWindowHandle(const TCreateParams& Params) override;
};

class TUniCheckBox : public TUniCustomCheckBox {
 public:
  using TUniCustomCheckBox::TUniCustomCheckBox;
  const char* ClassName() const override { return "TUniCheckBox"; }
};

class TUniCustomGroupBox : public TCustomGroupBox {
 public:
  using TCustomGroupBox::TCustomGroupBox;
  const char* ClassName() const override { return "TUniCustomGroupBox"; }
  UNI_WIDE_TEXT_PROPERTIES

 protected:
  // CM_DIALOGCHAR: the caption's hot key (wide) takes the key.
  void WndProc(TMessage& Message) override;
  void CreateWindowHandle(const TCreateParams& Params) override;
  void Paint(HDC DC) override;
};

class TUniGroupBox : public TUniCustomGroupBox {
 public:
  using TUniCustomGroupBox::TUniCustomGroupBox;
  const char* ClassName() const override { return "TUniGroupBox"; }
};
