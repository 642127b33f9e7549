// The standard controls over the system's window classes: edit, memo, combo box, list box, label,
// button, check box and group box. 8-bit texts and items.
#pragma once
#include <memory>

#include "classlib/Controls.h"
#include "classlib/Graphics.h"

// Draws item Index of an owner-drawn list into the control's canvas, inside Rect.
using TDrawItemEvent = std::function<void(TWinControl* Control, int Index, const RECT& Rect, TOwnerDrawState State)>;

// The items of a list-type control: its window's when the window exists, else kept here (and
// handed to the next window).
// Draws an owner-drawn item: sets the canvas to the item's device context, calls Draw and the
// focus rectangle, and lets the context go. Used by the list-type controls on CN_DRAWITEM.
void DrawOwnerDrawnItem(TCanvas* Canvas, const DRAWITEMSTRUCT& Item, const std::function<void(int, const RECT&, TOwnerDrawState)>& Draw);

class TWindowItems : public TStrings {
 public:
  struct Messages {
    UINT Add, Insert, GetText, GetTextLen, Delete, Reset, Count, GetData, SetData, GetCurSel, SetCurSel;
  };
  TWindowItems(TWinControl* Control, const Messages& Msgs) : FControl(Control), FMsgs(Msgs) {}
  ~TWindowItems() override;
  const char* ClassName() const override { return "TWindowItems"; }
  int Count() const override;
  AnsiString Get(int Index) const override;
  TObject* GetObject(int Index) const override;
  void PutObject(int Index, TObject* AObject) override;
  // Keeps the item's data and the selection.
  void Put(int Index, const AnsiString& S) override;
  int Add(const AnsiString& S) override;
  void Insert(int Index, const AnsiString& S) override;
  void Delete(int Index) override;
  void Clear() override;
  // The window's items into the kept list (before the window goes) and back (after it is made).
  void SaveFromWindow();
  void RestoreToWindow();

 private:
  HWND Wnd() const;
  TWinControl* FControl;
  Messages FMsgs;
  std::unique_ptr<TStringList> FSaved = std::make_unique<TStringList>();
};

class TCustomEdit : public TWinControl {
 public:
  explicit TCustomEdit(TComponent* AOwner);
  const char* ClassName() const override { return "TCustomEdit"; }
  bool ReadOnly() const { return FReadOnly; }
  void SetReadOnly(bool Value);
  char PasswordChar() const { return FPasswordChar; }
  void SetPasswordChar(char Value);
  // Selection in the window's units (bytes of the 8-bit text).
  int SelStart();
  void SetSelStart(int Value);
  int SelLength();
  void SetSelLength(int Value);
  AnsiString SelText();
  std::function<void(TObject* Sender, char& Key)> OnKeyPress;
  std::function<void(TObject* Sender)> OnChange;

 protected:
  void CreateParams(TCreateParams& Params) override;
  void CreateWnd() override;
  void WndProc(TMessage& Message) override;
  virtual void KeyPress(char& Key);
  bool FReadOnly = false;
  char FPasswordChar = 0;
};

class TEdit : public TCustomEdit {
 public:
  using TCustomEdit::TCustomEdit;
  const char* ClassName() const override { return "TEdit"; }
};

class TCustomMemo : public TCustomEdit {
 public:
  explicit TCustomMemo(TComponent* AOwner);
  const char* ClassName() const override { return "TCustomMemo"; }
  TStrings* Lines() const { return FLines.get(); }

 protected:
  void CreateParams(TCreateParams& Params) override;
  std::unique_ptr<TStrings> FLines;
};

enum TComboBoxStyle { csDropDown, csSimple, csDropDownList, csOwnerDrawFixed, csOwnerDrawVariable };

class TCustomComboBox : public TWinControl {
 public:
  explicit TCustomComboBox(TComponent* AOwner);
  const char* ClassName() const override { return "TCustomComboBox"; }
  TStrings* Items() const { return FItems.get(); }
  int ItemIndex();
  void SetItemIndex(int Value);
  TComboBoxStyle Style() const { return FStyle; }
  void SetStyle(TComboBoxStyle Value);
  bool AutoComplete() const { return FAutoComplete; }
  void SetAutoComplete(bool Value) { FAutoComplete = Value; }
  bool AutoDropDown() const { return FAutoDropDown; }
  void SetAutoDropDown(bool Value) { FAutoDropDown = Value; }
  bool DroppedDown();
  void SetDroppedDown(bool Value);
  virtual void AddItem(const AnsiString& Item, TObject* AObject) { FItems->AddObject(Item, AObject); }
  // The canvas of owner-drawn items; it draws only while an item is drawn.
  TCanvas* Canvas() const { return FCanvas.get(); }
  std::function<void(TObject* Sender)> OnChange;
  std::function<void(TObject* Sender)> OnSelect;
  std::function<void(TObject* Sender, char& Key)> OnKeyPress;
  // Owner-drawn styles: draws one item (else the item's text on the item's background).
  TDrawItemEvent OnDrawItem;

 protected:
  void CreateParams(TCreateParams& Params) override;
  void CreateWnd() override;
  void DestroyWnd() override;
  void WndProc(TMessage& Message) override;
  virtual void Select();
  virtual void Change();
  virtual void KeyPress(char& Key);
  virtual void DrawItem(int Index, const RECT& Rect, TOwnerDrawState State);
  std::unique_ptr<TWindowItems> FItems;
  std::unique_ptr<TCanvas> FCanvas = std::make_unique<TCanvas>();
  TComboBoxStyle FStyle = csDropDown;
  bool FAutoComplete = true;
  bool FAutoDropDown = false;
  int FSavedItemIndex = -1;
};

enum TListBoxStyle { lbStandard, lbOwnerDrawFixed, lbOwnerDrawVariable, lbVirtual, lbVirtualOwnerDraw };

class TCustomListBox : public TWinControl {
 public:
  explicit TCustomListBox(TComponent* AOwner);
  const char* ClassName() const override { return "TCustomListBox"; }
  TStrings* Items() const { return FItems.get(); }
  int ItemIndex();
  void SetItemIndex(int Value);
  int TopIndex();
  void SetTopIndex(int Value);
  // Several items may be selected (with Ctrl and Shift); ItemIndex is then the focused item.
  bool MultiSelect() const { return FMultiSelect; }
  void SetMultiSelect(bool Value);
  // Whether item Index is selected (set on its own in a multi-select list).
  bool Selected(int Index);
  void SetSelected(int Index, bool Value);
  TListBoxStyle Style() const { return FStyle; }
  void SetStyle(TListBoxStyle Value);
  virtual void AddItem(const AnsiString& Item, TObject* AObject) { FItems->AddObject(Item, AObject); }
  // The number of items of the virtual styles (their texts come from OnData).
  int Count() { return FItems->Count(); }
  void SetCount(int Value);
  TCanvas* Canvas() const { return FCanvas.get(); }
  TDrawItemEvent OnDrawItem;
  // The text of item Index of the virtual styles.
  std::function<void(TWinControl* Control, int Index, AnsiString& Data)> OnData;
  // Set while Items moves an item (delete and insert), so that the two steps are not taken for
  // the user's.
  bool Moving() const { return FMoving; }
  void SetMoving(bool Value) { FMoving = Value; }

 protected:
  void CreateParams(TCreateParams& Params) override;
  void CreateWnd() override;
  void DestroyWnd() override;
  void WndProc(TMessage& Message) override;
  virtual void DrawItem(int Index, const RECT& Rect, TOwnerDrawState State);
  bool IsVirtual() const { return FStyle == lbVirtual || FStyle == lbVirtualOwnerDraw; }
  std::unique_ptr<TWindowItems> FItems;
  std::unique_ptr<TCanvas> FCanvas = std::make_unique<TCanvas>();
  TListBoxStyle FStyle = lbStandard;
  bool FMultiSelect = false;
  int FSavedItemIndex = -1;
  int FSavedTopIndex = 0;
  int FCount = 0;
  bool FMoving = false;
};

// A windowless control that its parent paints.
class TGraphicControl : public TControl {
 public:
  using TControl::TControl;
  const char* ClassName() const override { return "TGraphicControl"; }
  // Draws into the parent's device context, at the control's place.
  virtual void Paint(HDC DC) {}
  void PaintInParent(HDC DC) override { Paint(DC); }
  void Invalidate() override;

 protected:
  void WndProc(TMessage& Message) override;
};

enum TEllipsisPosition { epNone, epPathEllipsis, epEndEllipsis, epWordEllipsis };

class TCustomLabel : public TGraphicControl {
 public:
  explicit TCustomLabel(TComponent* AOwner);
  const char* ClassName() const override { return "TCustomLabel"; }
  bool ShowAccelChar() const { return FShowAccelChar; }
  void SetShowAccelChar(bool Value) { FShowAccelChar = Value; }
  bool WordWrap() const { return FWordWrap; }
  void SetWordWrap(bool Value) { FWordWrap = Value; }
  bool AutoSize() const { return FAutoSize; }
  void SetAutoSize(bool Value) { FAutoSize = Value; }
  TEllipsisPosition EllipsisPosition() const { return FEllipsisPosition; }
  void SetEllipsisPosition(TEllipsisPosition Value) { FEllipsisPosition = Value; }
  TWinControl* FocusControl() const { return FFocusControl; }
  void SetFocusControl(TWinControl* Value) { FFocusControl = Value; }
  void Paint(HDC DC) override;

 protected:
  // The 8-bit drawing of the caption with Flags (DT_...).
  virtual void DoDrawText(HDC DC, RECT& Rect, UINT Flags);
  UINT DrawFlags() const;
  bool FShowAccelChar = true;
  bool FWordWrap = false;
  bool FAutoSize = true;
  TEllipsisPosition FEllipsisPosition = epNone;
  TWinControl* FFocusControl = nullptr;
};

class TButtonControl : public TWinControl {
 public:
  using TWinControl::TWinControl;
  const char* ClassName() const override { return "TButtonControl"; }

 protected:
  std::unique_ptr<TControlActionLink> CreateActionLink() override;
};

class TButton : public TButtonControl {
 public:
  explicit TButton(TComponent* AOwner);
  const char* ClassName() const override { return "TButton"; }
  // Return on a form clicks its default button (when the focus is not on another button), Escape
  // its cancel button. Threads: user-interface thread only, as every call below.
  bool Default() const { return FDefault; }
  void SetDefault(bool Value);
  bool Cancel() const { return FCancel; }
  void SetCancel(bool Value) { FCancel = Value; }

 protected:
  void CreateParams(TCreateParams& Params) override;
  void WndProc(TMessage& Message) override;

 private:
  bool FDefault = false;
  bool FCancel = false;
};

class TCustomCheckBox : public TButtonControl {
 public:
  explicit TCustomCheckBox(TComponent* AOwner);
  const char* ClassName() const override { return "TCustomCheckBox"; }
  bool Checked();
  void SetChecked(bool Value);
  void Toggle() { SetChecked(!Checked()); }

 protected:
  void CreateParams(TCreateParams& Params) override;
  void CreateWnd() override;
  void DestroyWnd() override;
  void WndProc(TMessage& Message) override;
  bool FChecked = false;
};

// The canvas of a control's window: the paint device context while the control paints, else one
// of the window's own (GetDC), made on first use and let go by FreeHandle.
class TControlCanvas : public TCanvas {
 public:
  explicit TControlCanvas(TWinControl* Control) : FControl(Control) {}
  ~TControlCanvas() override { FreeHandle(); }
  const char* ClassName() const override { return "TControlCanvas"; }
  // Lets go of the window's device context (when the canvas made one).
  void FreeHandle();

 protected:
  void CreateHandle() override;

 private:
  TWinControl* FControl;
  HDC FOwnDC = nullptr;
};

// A control that paints itself: WM_PAINT (and WM_PRINTCLIENT) call Paint with the device context,
// which Canvas draws on for the time of the call.
class TCustomControl : public TWinControl {
 public:
  explicit TCustomControl(TComponent* AOwner);
  ~TCustomControl() override;
  const char* ClassName() const override { return "TCustomControl"; }
  TCanvas* Canvas() const { return FCanvas.get(); }

 protected:
  void WndProc(TMessage& Message) override;
  void DestroyWnd() override;
  virtual void Paint(HDC DC) {}
  // Paint with Canvas bound to DC.
  void PaintWithCanvas(HDC DC);

 private:
  std::unique_ptr<TControlCanvas> FCanvas;
};

enum TScrollBarKind { sbHorizontal, sbVertical };
enum TScrollCode { scLineUp, scLineDown, scPageUp, scPageDown, scPosition, scTrack, scTop, scBottom, scEndScroll };

// A scroll bar control over the system's SCROLLBAR class. Its parent hands it its WM_HSCROLL and
// WM_VSCROLL (CN_HSCROLL, CN_VSCROLL); each one becomes OnScroll with the position asked for (the
// handler may change it), then the position (OnChange when it changed).
class TScrollBar : public TWinControl {
 public:
  explicit TScrollBar(TComponent* AOwner);
  const char* ClassName() const override { return "TScrollBar"; }
  TScrollBarKind Kind() const { return FKind; }
  void SetKind(TScrollBarKind Value);
  int Min() const { return FMin; }
  void SetMin(int Value) { SetParams(FPosition, Value, FMax); }
  int Max() const { return FMax; }
  void SetMax(int Value) { SetParams(FPosition, FMin, Value); }
  int Position() const { return FPosition; }
  void SetPosition(int Value) { SetParams(Value, FMin, FMax); }
  int PageSize() const { return FPageSize; }
  void SetPageSize(int Value);
  int SmallChange() const { return FSmallChange; }
  void SetSmallChange(int Value) { FSmallChange = Value; }
  int LargeChange() const { return FLargeChange; }
  void SetLargeChange(int Value) { FLargeChange = Value; }
  bool TabStop() const { return FTabStop; }
  void SetTabStop(bool Value) { FTabStop = Value; }
  // The 3-D look is the system's: kept for those who set it.
  bool Ctl3D() const { return FCtl3D; }
  void SetCtl3D(bool Value) { FCtl3D = Value; FParentCtl3D = false; }
  bool ParentCtl3D() const { return FParentCtl3D; }
  void SetParentCtl3D(bool Value) { FParentCtl3D = Value; }
  // Sets range and position at once: a maximum below the minimum becomes the minimum, the
  // position is brought into the range; OnChange when the position changed.
  void SetParams(int APosition, int AMin, int AMax);
  std::function<void(TObject* Sender, TScrollCode ScrollCode, int& ScrollPos)> OnScroll;
  std::function<void(TObject* Sender)> OnChange;

 protected:
  void CreateParams(TCreateParams& Params) override;
  void CreateWnd() override;
  void WndProc(TMessage& Message) override;
  virtual void Scroll(TScrollCode ScrollCode, int& ScrollPos);
  virtual void Change();
  void UpdateScrollInfo();

 private:
  TScrollBarKind FKind = sbHorizontal;
  int FMin = 0, FMax = 100, FPosition = 0, FPageSize = 0, FSmallChange = 1, FLargeChange = 1;
  bool FTabStop = true, FCtl3D = true, FParentCtl3D = true;
};

// A group box's frame and caption in the visual style: the frame from half the caption's height
// down, the caption's area (8 pixels in from the left, or from the right when RightToLeft) left
// out of it, and the caption drawn by the theme. False when visual styles are off.
bool DrawThemedGroupBox(HWND Wnd, HDC DC, int Width, int Height, const WideString& Caption, bool Enabled,
                        bool RightToLeft);

class TCustomGroupBox : public TCustomControl {
 public:
  explicit TCustomGroupBox(TComponent* AOwner);
  const char* ClassName() const override { return "TCustomGroupBox"; }

 protected:
  void Paint(HDC DC) override;
};
