// The common controls: list view, page control with tab sheets, track bar, progress bar, and the
// tool bar with its buttons.
#pragma once
#include <memory>
#include <vector>

#include "classlib/Controls.h"
#include "classlib/StdCtrls.h"

#include <commctrl.h>

class TCustomListView;

class TListColumn : public TPersistent {
 public:
  explicit TListColumn(TCustomListView* Owner) : FOwner(Owner) {}
  const char* ClassName() const override { return "TListColumn"; }
  const AnsiString& Caption() const { return FCaption; }
  // Sends LVM_SETCOLUMNA through the list view's WindowProc when its window exists.
  void SetCaption(const AnsiString& Value);
  int Width() const { return FWidth; }
  void SetWidth(int Value);
  // The narrowest and widest the user may drag the column (0: no limit).
  int MinWidth() const { return FMinWidth; }
  void SetMinWidth(int Value);
  int MaxWidth() const { return FMaxWidth; }
  void SetMaxWidth(int Value);
  // Width brought within MinWidth and MaxWidth.
  int LimitWidth(int Width) const;
  int Index() const;
  TCustomListView* ListView() const { return FOwner; }

 protected:
  friend class TCustomListView;
  TCustomListView* FOwner;
  AnsiString FCaption;
  int FWidth = 50;
  int FMinWidth = 0;
  int FMaxWidth = 0;
};

class TListColumns : public TPersistent {
 public:
  explicit TListColumns(TCustomListView* Owner) : FOwner(Owner) {}
  const char* ClassName() const override { return "TListColumns"; }
  int Count() const { return (int)FItems.size(); }
  TListColumn* Items(int Index) const;
  TListColumn* Add();
  void Delete(int Index);
  int IndexOf(const TListColumn* Column) const;

 protected:
  friend class TCustomListView;
  virtual std::unique_ptr<TListColumn> NewColumn() { return std::make_unique<TListColumn>(FOwner); }
  TCustomListView* FOwner;
  std::vector<std::unique_ptr<TListColumn>> FItems;
};

class TListItem;

// A class reference for list items: its name, its parent class and how to make one.
struct TListItemClass {
  const char* Name;
  const TListItemClass* Parent;
  std::unique_ptr<TListItem> (*Create)(TCustomListView* Owner);
  bool InheritsFrom(const TListItemClass* Other) const {
    for (const TListItemClass* c = this; c; c = c->Parent)
      if (c == Other) return true;
    return false;
  }
};

class TListItem : public TPersistent {
 public:
  explicit TListItem(TCustomListView* Owner);
  static const TListItemClass Class;
  ~TListItem() override;
  const char* ClassName() const override { return "TListItem"; }
  const AnsiString& Caption() const { return FCaption; }
  void SetCaption(const AnsiString& Value);
  // The texts of columns 1 and later.
  TStrings* SubItems() const { return FSubItems.get(); }
  void* Data() const { return FData; }
  void SetData(void* Value) { FData = Value; }
  int Index() const;
  bool Selected() const;
  void SetSelected(bool Value);
  TCustomListView* ListView() const { return FOwner; }
  // Redraws the item (its texts come from the item when the window asks).
  void Update();
  // Empties caption, sub-items and data before OnData fills the temporary item of owner data.
  virtual void ClearForData();

 protected:
  friend class TCustomListView;
  TCustomListView* FOwner;
  AnsiString FCaption;
  std::unique_ptr<TStrings> FSubItems;
  void* FData = nullptr;
  // The index the temporary item of an owner-data list view stands for; -1 otherwise.
  int FDataIndex = -1;
};

class TListItems : public TPersistent {
 public:
  explicit TListItems(TCustomListView* Owner) : FOwner(Owner) {}
  const char* ClassName() const override { return "TListItems"; }
  // In owner-data mode the count set by SetCount, and Item gives the temporary item filled by
  // OnData for the index.
  int Count() const;
  void SetCount(int Value);
  TListItem* Item(int Index) const;
  TListItem* Add() { return Insert(Count()); }
  TListItem* Insert(int Index);
  void Delete(int Index);
  void Clear();
  // Moves an item to another place, keeping its texts and data.
  void Move(int CurIndex, int NewIndex);
  int IndexOf(const TListItem* Item) const;
  // Between the two the window is not redrawn (nested calls count).
  void BeginUpdate();
  void EndUpdate();

 protected:
  friend class TCustomListView;
  TCustomListView* FOwner;
  std::vector<std::unique_ptr<TListItem>> FItems;
  int FOwnerDataCount = 0;
  int FUpdateCount = 0;
};

// What an owner-data search looks for.
enum TItemFind { ifData, ifPartialString, ifExactString, ifNearest };

enum TViewStyle { vsIcon, vsSmallIcon, vsList, vsReport };

class TCustomListView : public TWinControl {
 public:
  explicit TCustomListView(TComponent* AOwner);
  ~TCustomListView() override;
  const char* ClassName() const override { return "TCustomListView"; }
  TListItems* Items() const { return FItems.get(); }
  TListColumns* Columns() const { return FColumns.get(); }
  TViewStyle ViewStyle() const { return FViewStyle; }
  void SetViewStyle(TViewStyle Value);
  // The first selected item, or none.
  TListItem* Selected() const;
  // More than one item may be selected (with Ctrl and Shift); one at most when not (the default).
  bool MultiSelect() const { return FMultiSelect; }
  void SetMultiSelect(bool Value);
  // A click anywhere on a row selects it, and the selection covers the whole row.
  bool RowSelect() const { return FRowSelect; }
  void SetRowSelect(bool Value);
  // Each item as the window draws it: the handler may set Canvas()'s brush colour, which becomes
  // the item's background, and its font colour, the item's text colour. DefaultDraw false leaves
  // the item undrawn.
  std::function<void(TCustomListView* Sender, TListItem* Item, TOwnerDrawState State, bool& DefaultDraw)>
      OnCustomDrawItem;
  // Sorts by caption (OnCompare when set) and keeps Items in the window's order.
  void AlphaSort();
  // Answers < 0, 0 or > 0 for two items.
  std::function<void(TObject* Sender, TListItem* Item1, TListItem* Item2, int Data, int& Compare)> OnCompare;
  // Captions the user may edit in place once it is not read-only (it is at first).
  bool ReadOnly() const { return FReadOnly; }
  void SetReadOnly(bool Value);
  std::function<void(TObject* Sender, TListItem* Item, bool& AllowEdit)> OnEditing;
  // The edited caption, which the handler may change before the item takes it.
  std::function<void(TObject* Sender, TListItem* Item, AnsiString& S)> OnEdited;

  // Items are made by the list view, of the class OnCreateItemClass names (the list view's own
  // item class when it names none).
  virtual std::unique_ptr<TListItem> CreateListItem();
  std::function<void(TObject* Sender, const TListItemClass*& ItemClass)> OnCreateItemClass;
  // Owner data: the window keeps only the count; the items' texts come from OnData, which fills
  // the temporary item for an index, and searches go to OnDataFind (Index -1: none found).
  bool OwnerData() const { return FOwnerData; }
  void SetOwnerData(bool Value);
  std::function<void(TObject* Sender, TListItem* Item)> OnData;
  std::function<void(TObject* Sender, TItemFind Find, const AnsiString& FindString, int StartIndex, bool Wrap,
                     int& Index)>
      OnDataFind;
  // The temporary item of owner-data mode, filled for Index; made on first use.
  TListItem* OwnerDataItem(int Index);
  // A header click on a column.
  std::function<void(TObject* Sender, TListColumn* Column)> OnColumnClick;
  // The tip of an item the mouse rests on (LVN_GETINFOTIPA, with the info-tip extended style):
  // InfoTip comes with the window's text for the item and goes back to it, cut to the buffer.
  std::function<void(TObject* Sender, TListItem* Item, AnsiString& InfoTip)> OnInfoTip;
  // Owner-drawn rows (report view): OnDrawItem draws an item into Canvas, else its background
  // and its caption 2 pixels in.
  bool OwnerDraw() const { return FOwnerDraw; }
  void SetOwnerDraw(bool Value);
  TCanvas* Canvas() const { return FCanvas.get(); }
  std::function<void(TObject* Sender, TListItem* Item, const RECT& Rect, TOwnerDrawState State)> OnDrawItem;
  // Keys that reach the list view and its caption editor; a key set to 0 is not taken further.
  std::function<void(TObject* Sender, uint16_t& Key)> OnKeyDown;
  std::function<void(TObject* Sender, uint16_t& Key)> OnKeyUp;
  std::function<void(TObject* Sender, char& Key)> OnKeyPress;
  // The key steps of WM_KEYDOWN, WM_KEYUP and WM_CHAR: true when the handler consumed the key.
  bool DoKeyDown(TMessage& Message);
  bool DoKeyUp(TMessage& Message);
  bool DoKeyPress(TMessage& Message);
  // The window's part of item and column changes (no-ops without a window).
  void WindowInsertItem(int Index, TListItem* Item);
  void WindowInsertColumn(int Index, TListColumn* Column);
  // The library's own compare procedure of LVM_SORTITEMS.
  static int CALLBACK DefaultCompare(LPARAM Item1, LPARAM Item2, LPARAM ListView);

 protected:
  void CreateParams(TCreateParams& Params) override;
  void CreateWnd() override;
  void WndProc(TMessage& Message) override;
  std::unique_ptr<TControlActionLink> CreateActionLink() override;
  // Fills the text of an LVN_GETDISPINFOA request.
  virtual void GetDispInfo(NMLVDISPINFOA* Info);
  // The header's notifications (WM_NOTIFY from the list view's own header): a column takes the
  // width the user dragged it to (HDN_ENDTRACK, before the window's handling) or the window
  // sized it to on a divider double-click (after it).
  bool IsHeaderNotify(const NMHDR* Hdr);
  void HeaderEndTrack(NMHEADERA* Hdr);
  // While the user drags a divider (HDN_TRACKA): the width stays within the column's limits.
  void HeaderTrack(NMHEADERA* Hdr);
  // The step of LVN_GETINFOTIPA.
  void GetInfoTip(NMLVGETINFOTIPA* Info);
  void HeaderDividerDblClick(const NMHEADERA* Hdr);
  // The owner-data search of LVN_ODFINDITEMA.
  int DataFind(TItemFind Find, const AnsiString& FindString, int StartIndex, bool Wrap);
  const TListItemClass* ItemClass(const TListItemClass* Default);
  virtual void DrawItem(TListItem* Item, const RECT& Rect, TOwnerDrawState State);
  bool FOwnerData = false;
  bool FOwnerDraw = false;
  std::unique_ptr<TCanvas> FCanvas = std::make_unique<TCanvas>();
  std::unique_ptr<TListItem> FTempItem;
  void SyncOrderFromWindow();
  // May the item's caption be edited in place?
  virtual bool CanEdit(TListItem* Item);
  bool FReadOnly = true;
  bool FMultiSelect = false;
  bool FRowSelect = false;
  // The step of NM_CUSTOMDRAW; the answer for the window.
  LRESULT CustomDraw(NMLVCUSTOMDRAW* Draw);
  std::unique_ptr<TListColumns> FColumns;
  std::unique_ptr<TListItems> FItems;
  TViewStyle FViewStyle = vsReport;
};

class TPageControl;

class TTabSheet : public TWinControl {
 public:
  explicit TTabSheet(TComponent* AOwner);
  ~TTabSheet() override;
  const char* ClassName() const override { return "TTabSheet"; }
  TPageControl* PageControl() const { return FPageControl; }
  void SetPageControl(TPageControl* Value);
  int PageIndex() const;
  // A sheet whose tab is hidden has no tab; it can still be the active page.
  bool TabVisible() const { return FTabVisible; }
  void SetTabVisible(bool Value);

 protected:
  friend class TPageControl;
  void WndProc(TMessage& Message) override;
  void CreateParams(TCreateParams& Params) override;
  TPageControl* FPageControl = nullptr;
  bool FTabVisible = true;
};

class TPageControl : public TWinControl {
 public:
  explicit TPageControl(TComponent* AOwner);
  const char* ClassName() const override { return "TPageControl"; }
  int PageCount() const { return (int)FPages.size(); }
  TTabSheet* Pages(int Index) const { return FPages[Index]; }
  TTabSheet* ActivePage() const { return FActivePage; }
  void SetActivePage(TTabSheet* Page);
  int TabIndex();
  // The tab texts (TCM_SETITEMA through WindowProc).
  void UpdateTab(TTabSheet* Page);
  // The index of a sheet's tab (-1 when its tab is hidden) and the sheet of a tab (null when none).
  int TabIndexOf(const TTabSheet* Page) const;
  TTabSheet* PageOfTab(int TabIndex) const;
  // Asked before the user leaves the active page; told after a page came up.
  std::function<void(TObject* Sender, bool& AllowChange)> OnChanging;
  std::function<void(TObject* Sender)> OnChange;

 protected:
  friend class TTabSheet;
  void CreateParams(TCreateParams& Params) override;
  void CreateWnd() override;
  void WndProc(TMessage& Message) override;
  virtual bool CanChange();
  virtual void Change();
  void InsertPage(TTabSheet* Page);
  void RemovePage(TTabSheet* Page);
  void InsertTab(TTabSheet* Page);
  // Makes every visible tab again (after a tab was shown or hidden).
  void RebuildTabs();
  void LayoutPages();
  std::vector<TTabSheet*> FPages;
  TTabSheet* FActivePage = nullptr;
};

// Track and progress bars: a position between a minimum and a maximum.
enum TTickStyle { tsNone, tsAuto, tsManual };

// Threads: user-interface thread, every method.
class TTrackBar : public TWinControl {
 public:
  explicit TTrackBar(TComponent* AOwner);
  const char* ClassName() const override { return "TTrackBar"; }
  int Position();
  // Kept within Min and Max; OnChange when the position changed, whoever set it.
  void SetPosition(int Value);
  void SetRange(int Min, int Max);
  int Min() const { return FMin; }
  void SetMin(int Value) { SetRange(Value, std::max(Value, FMax)); }
  int Max() const { return FMax; }
  void SetMax(int Value) { SetRange(std::min(FMin, Value), Value); }
  // The step of the arrow keys.
  int LineSize() const { return FLineSize; }
  void SetLineSize(int Value);
  TTickStyle TickStyle() const { return FTickStyle; }
  void SetTickStyle(TTickStyle Value);
  std::function<void(TObject* Sender)> OnChange;

 protected:
  void CreateParams(TCreateParams& Params) override;
  void CreateWnd() override;
  void WndProc(TMessage& Message) override;
  int FMin = 0, FMax = 10, FPosition = 0, FLineSize = 1;
  TTickStyle FTickStyle = tsAuto;
};

// Threads: user-interface thread, every method.
class TProgressBar : public TWinControl {
 public:
  explicit TProgressBar(TComponent* AOwner);
  const char* ClassName() const override { return "TProgressBar"; }
  int Position();
  void SetPosition(int Value);
  void SetRange(int Min, int Max);
  int Min() const { return FMin; }
  void SetMin(int Value) { SetRange(Value, std::max(Value, FMax)); }
  int Max() const { return FMax; }
  void SetMax(int Value) { SetRange(std::min(FMin, Value), Value); }
  // StepIt moves the position on by Step, back to Min once it would pass Max.
  int Step() const { return FStep; }
  void SetStep(int Value) { FStep = Value; }
  void StepIt();
  // A smooth bar rather than one of blocks.
  bool Smooth() const { return FSmooth; }
  void SetSmooth(bool Value);

 protected:
  void CreateParams(TCreateParams& Params) override;
  void CreateWnd() override;
  int FMin = 0, FMax = 100, FPosition = 0, FStep = 10;
  bool FSmooth = false;
};

class TToolBar;

// A button of a tool bar: windowless, its face and caption drawn by the tool bar's window. Made a
// child of a tool bar it gets a button there, after the ones before it.
class TToolButton : public TGraphicControl {
 public:
  explicit TToolButton(TComponent* AOwner);
  ~TToolButton() override;
  const char* ClassName() const override { return "TToolButton"; }
  void SetParent(TWinControl* AParent) override;
  TToolBar* ToolBar() const { return FToolBar; }
  // The place of the button in its tool bar, -1 when it has none.
  int Index() const;
  // The command the tool bar's window reports for the button.
  int CommandId() const { return FCommandId; }

 protected:
  friend class TToolBar;
  void WndProc(TMessage& Message) override;
  std::unique_ptr<TControlActionLink> CreateActionLink() override;
  TToolBar* FToolBar = nullptr;
  int FCommandId;
};

// A tool bar: a row of buttons with their captions (ShowCaptions) in a common tool bar window.
class TToolBar : public TWinControl {
 public:
  explicit TToolBar(TComponent* AOwner);
  ~TToolBar() override;
  const char* ClassName() const override { return "TToolBar"; }
  int ButtonCount() const { return (int)FButtons.size(); }
  TToolButton* Buttons(int Index) const { return FButtons[Index]; }
  bool ShowCaptions() const { return FShowCaptions; }
  void SetShowCaptions(bool Value);
  // Gives the window a button's current caption (no-op without a window).
  void UpdateButton(TToolButton* Button);

 protected:
  friend class TToolButton;
  void CreateParams(TCreateParams& Params) override;
  void CreateWnd() override;
  void WndProc(TMessage& Message) override;
  void InsertButton(TToolButton* Button);
  void RemoveButton(TToolButton* Button);
  void WindowAddButton(int Index, TToolButton* Button);
  std::vector<TToolButton*> FButtons;
  bool FShowCaptions = true;
};
