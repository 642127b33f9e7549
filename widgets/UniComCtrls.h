// Unicode common controls: list view with wide columns, items and sub-items, page control with
// wide tab captions, track bar and progress bar.
#pragma once
#include "classlib/ComCtrls.h"
#include "unicode/UniClasses.h"
#include "widgets/UniControls.h"
#include "widgets/UniStdCtrls.h"

// Makes a common control's window Unicode and asks it for wide notifications.
void CreateUnicodeHandle_ComCtl(TWinControl* Control, const TCreateParams& Params, const WideString& SystemClass);

class TUniListColumn : public TListColumn {
 public:
  using TListColumn::TListColumn;
  const char* ClassName() const override { return "TUniListColumn"; }
  WideString Caption();
  void SetCaption(const WideString& Value);
  void Assign(TPersistent* Source) override;
  WideString FWideCaption;
};

class TUniListColumns : public TListColumns {
 public:
  using TListColumns::TListColumns;
  const char* ClassName() const override { return "TUniListColumns"; }
  TUniListColumn* Items(int Index) const { return static_cast<TUniListColumn*>(TListColumns::Items(Index)); }
  TUniListColumn* Add() { return static_cast<TUniListColumn*>(TListColumns::Add()); }

 protected:
  std::unique_ptr<TListColumn> NewColumn() override { return std::make_unique<TUniListColumn>(FOwner); }
};

class TUniListItem;

// The wide sub-item texts of one item; every change goes to the 8-bit sub-items too.
class TWideSubItems : public TUniStringList {
 public:
  explicit TWideSubItems(TUniListItem* Item) : FItem(Item) {}
  const char* ClassName() const override { return "TWideSubItems"; }
  void Put(int Index, const WideString& S) override;
  void Delete(int Index) override;
  void Clear() override;

 protected:
  void InsertItem(int Index, const WideString& S, TObject* AObject) override;

 private:
  TUniListItem* FItem;
};

class TUniListItem : public TListItem {
 public:
  explicit TUniListItem(TCustomListView* Owner);
  static const TListItemClass Class;
  const char* ClassName() const override { return "TUniListItem"; }
  void ClearForData() override;
  WideString Caption();
  void SetCaption(const WideString& Value);
  TWideSubItems* SubItems() const { return FWideSubItems.get(); }
  TStrings* AnsiSubItems() const { return TListItem::SubItems(); }
  void Assign(TPersistent* Source) override;

 private:
  WideString FWideCaption;
  std::unique_ptr<TWideSubItems> FWideSubItems;
};

class TUniCustomListView : public TCustomListView {
 public:
  explicit TUniCustomListView(TComponent* AOwner);
  const char* ClassName() const override { return "TUniCustomListView"; }
  WideString Hint() { return GetControlWideHint(this); }
  void SetHint(const WideString& Value) { SetControlWideHint(this, Value); }
  void DefineProperties(TFiler* Filer) override;
  TUniListColumns* Columns() const { return static_cast<TUniListColumns*>(TCustomListView::Columns()); }
  TUniListItem* AddItem(const WideString& Caption, void* Data);
  TUniListItem* Item(int Index) const { return static_cast<TUniListItem*>(Items()->Item(Index)); }
  TUniListItem* AddListItem() { return static_cast<TUniListItem*>(Items()->Add()); }
  TUniListItem* InsertListItem(int Index) { return static_cast<TUniListItem*>(Items()->Insert(Index)); }
  TUniListItem* Selected() const { return static_cast<TUniListItem*>(TCustomListView::Selected()); }
  // Items of the class OnCreateItemClass names, which must descend from TUniListItem.
  std::unique_ptr<TListItem> CreateListItem() override;
  // The wide edit step; when not assigned the library's OnEdited gets the 8-bit form.
  std::function<void(TObject* Sender, TListItem* Item, WideString& S)> OnWideEdited;
  // The wide owner-data search; when not assigned the library's OnDataFind gets the 8-bit form.
  std::function<void(TObject* Sender, TItemFind Find, const WideString& FindString, int StartIndex, bool Wrap,
                     int& Index)>
      OnWideDataFind;

 protected:
  std::unique_ptr<TControlActionLink> CreateActionLink() override {
    return SelectWideActionLinkClass(this, TCustomListView::CreateActionLink().get());
  }
  void ActionChange(TObject* Sender, bool CheckDefaults) override {
    ApplyActionWideTexts(this, Sender, CheckDefaults);
    TCustomListView::ActionChange(Sender, CheckDefaults);
  }
  void CreateWindowHandle(const TCreateParams& Params) override;
  void WndProc(TMessage& Message) override;
  // OnDrawItem, else the item's background and its wide caption 2 pixels in.
  void DrawItem(TListItem* Item, const RECT& Rect, TOwnerDrawState State) override;

 private:
  // The caption editor of an in-place edit: its keys go through the list view's key steps, its
  // characters whole (UTF-16) to the editor.
  void SubclassLabelEdit();
  static LRESULT CALLBACK LabelEditProc(HWND Wnd, UINT Msg, WPARAM WParam, LPARAM LParam);
  HWND FEditWnd = nullptr;
  WNDPROC FEditPrevProc = nullptr;
};

class TUniListView : public TUniCustomListView {
 public:
  using TUniCustomListView::TUniCustomListView;
  const char* ClassName() const override { return "TUniListView"; }
};

class TUniTabSheet : public TTabSheet {
 public:
  using TTabSheet::TTabSheet;
  const char* ClassName() const override { return "TUniTabSheet"; }
  UNI_WIDE_TEXT_PROPERTIES

 protected:
  void CreateWindowHandle(const TCreateParams& Params) override;
  // An 8-bit caption set while the sheet has no window replaces the wide one it does not match.
  void WndProc(TMessage& Message) override;

 private:
  bool FSettingCaption = false;
};

// Docking: a client docked into the page control gets a sheet of its own, captioned with the
// client's wide caption and following it.
class TUniPageControl : public TPageControl {
 public:
  using TPageControl::TPageControl;
  const char* ClassName() const override { return "TUniPageControl"; }
  WideString Hint() { return GetControlWideHint(this); }
  void SetHint(const WideString& Value) { SetControlWideHint(this, Value); }
  void DefineProperties(TFiler* Filer) override;

 protected:
  void CreateWindowHandle(const TCreateParams& Params) override;
  void WndProc(TMessage& Message) override;
};

class TUniTrackBar : public TTrackBar {
 public:
  using TTrackBar::TTrackBar;
  const char* ClassName() const override { return "TUniTrackBar"; }
  WideString Hint() { return GetControlWideHint(this); }
  void SetHint(const WideString& Value) { SetControlWideHint(this, Value); }

 protected:
  void CreateWindowHandle(const TCreateParams& Params) override;
};

class TUniProgressBar : public TProgressBar {
 public:
  using TProgressBar::TProgressBar;
  const char* ClassName() const override { return "TUniProgressBar"; }
  WideString Hint() { return GetControlWideHint(this); }
  void SetHint(const WideString& Value) { SetControlWideHint(this, Value); }

 protected:
  void CreateWindowHandle(const TCreateParams& Params) override;
};
