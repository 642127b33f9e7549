#include "classlib/ComCtrls.h"

#include <algorithm>
#include <cstring>
#include <commctrl.h>

#include "classlib/ActnList.h"

std::unique_ptr<TControlActionLink> TCustomListView::CreateActionLink() {
  return std::make_unique<TListViewActionLink>(this);
}

namespace {
const char* const kMessages[] = {"List index out of bounds (%d)",
                                 "The items of an owner-data list view come from OnData"};
enum { msgListIndex, msgOwnerData };
HWND H(TWinControl* C) { return static_cast<HWND>(C->Handle()); }

void InitCommon() {
  static bool done = false;
  if (done) return;
  INITCOMMONCONTROLSEX icc{sizeof icc, ICC_LISTVIEW_CLASSES | ICC_TAB_CLASSES | ICC_BAR_CLASSES | ICC_PROGRESS_CLASS};
  InitCommonControlsEx(&icc);
  done = true;
}
}  // namespace

// ---------------------------------------------------------------------------------------------
// Columns

int TListColumn::Index() const { return FOwner->Columns()->IndexOf(this); }

void TListColumn::SetCaption(const AnsiString& Value) {
  FCaption = Value;
  if (!FOwner->HandleAllocated()) return;
  LVCOLUMNA col{};
  col.mask = LVCF_TEXT;
  col.pszText = const_cast<char*>(FCaption.c_str());
  FOwner->Perform(LVM_SETCOLUMNA, Index(), reinterpret_cast<intptr_t>(&col));
}

void TListColumn::SetMinWidth(int Value) {
  FMinWidth = std::max(Value, 0);
  if (FMaxWidth > 0 && FMaxWidth < FMinWidth) FMaxWidth = FMinWidth;
}

void TListColumn::SetMaxWidth(int Value) {
  FMaxWidth = std::max(Value, 0);
  if (FMaxWidth > 0 && FMaxWidth < FMinWidth) FMinWidth = FMaxWidth;
}

int TListColumn::LimitWidth(int Width) const {
  if (FMinWidth > 0 && Width < FMinWidth) Width = FMinWidth;
  if (FMaxWidth > 0 && Width > FMaxWidth) Width = FMaxWidth;
  return Width;
}

void TListColumn::SetWidth(int Value) {
  FWidth = Value;
  if (FOwner->HandleAllocated()) SendMessageA(H(FOwner), LVM_SETCOLUMNWIDTH, Index(), Value);
}

TListColumn* TListColumns::Items(int Index) const {
  if (Index < 0 || Index >= Count()) throw EListError(Format(kMessages[msgListIndex], Index));
  return FItems[Index].get();
}

TListColumn* TListColumns::Add() {
  FItems.push_back(NewColumn());
  TListColumn* c = FItems.back().get();
  FOwner->WindowInsertColumn(Count() - 1, c);
  return c;
}

void TListColumns::Delete(int Index) {
  Items(Index);
  if (FOwner->HandleAllocated()) SendMessageA(H(FOwner), LVM_DELETECOLUMN, Index, 0);
  FItems.erase(FItems.begin() + Index);
}

int TListColumns::IndexOf(const TListColumn* Column) const {
  for (size_t i = 0; i < FItems.size(); ++i)
    if (FItems[i].get() == Column) return (int)i;
  return -1;
}

// ---------------------------------------------------------------------------------------------
// Items

TListItem::TListItem(TCustomListView* Owner) : FOwner(Owner), FSubItems(std::make_unique<TStringList>()) {}
TListItem::~TListItem() = default;

const TListItemClass TListItem::Class{"TListItem", nullptr,
                                      [](TCustomListView* Owner) { return std::make_unique<TListItem>(Owner); }};

int TListItem::Index() const { return FDataIndex >= 0 ? FDataIndex : FOwner->Items()->IndexOf(this); }

void TListItem::SetCaption(const AnsiString& Value) {
  FCaption = Value;
  Update();
}

void TListItem::Update() {
  // The temporary item of owner data is filled while the window draws: it does not redraw.
  if (FDataIndex >= 0) return;
  if (FOwner->HandleAllocated() && Index() >= 0) SendMessageA(H(FOwner), LVM_UPDATE, Index(), 0);
}

void TListItem::ClearForData() {
  FCaption.clear();
  FSubItems->Clear();
  FData = nullptr;
}

bool TListItem::Selected() const {
  return FOwner->HandleAllocated() && (SendMessageA(H(FOwner), LVM_GETITEMSTATE, Index(), LVIS_SELECTED) & LVIS_SELECTED);
}

void TListItem::SetSelected(bool Value) {
  if (!FOwner->HandleAllocated()) return;
  LVITEMA item{};
  item.stateMask = LVIS_SELECTED;
  item.state = Value ? LVIS_SELECTED : 0;
  SendMessageA(H(FOwner), LVM_SETITEMSTATE, Index(), reinterpret_cast<LPARAM>(&item));
}

int TListItems::Count() const { return FOwner->OwnerData() ? FOwnerDataCount : (int)FItems.size(); }

void TListItems::SetCount(int Value) {
  if (!FOwner->OwnerData()) return;
  FOwnerDataCount = std::max(0, Value);
  if (FOwner->HandleAllocated()) SendMessageA(H(FOwner), LVM_SETITEMCOUNT, FOwnerDataCount, 0);
}

TListItem* TListItems::Item(int Index) const {
  if (Index < 0 || Index >= Count()) throw EListError(Format(kMessages[msgListIndex], Index));
  if (FOwner->OwnerData()) return FOwner->OwnerDataItem(Index);
  return FItems[Index].get();
}

TListItem* TListItems::Insert(int Index) {
  if (FOwner->OwnerData()) throw EListError(kMessages[msgOwnerData]);
  if (Index < 0 || Index > Count()) throw EListError(Format(kMessages[msgListIndex], Index));
  FItems.insert(FItems.begin() + Index, FOwner->CreateListItem());
  TListItem* item = FItems[Index].get();
  FOwner->WindowInsertItem(Index, item);
  return item;
}

void TListItems::Delete(int Index) {
  if (FOwner->OwnerData()) throw EListError(kMessages[msgOwnerData]);
  Item(Index);
  if (FOwner->HandleAllocated()) SendMessageA(H(FOwner), LVM_DELETEITEM, Index, 0);
  FItems.erase(FItems.begin() + Index);
}

void TListItems::BeginUpdate() {
  if (FUpdateCount++ == 0 && FOwner->HandleAllocated()) SendMessageA(H(FOwner), WM_SETREDRAW, FALSE, 0);
}

void TListItems::EndUpdate() {
  if (FUpdateCount == 0 || --FUpdateCount > 0 || !FOwner->HandleAllocated()) return;
  SendMessageA(H(FOwner), WM_SETREDRAW, TRUE, 0);
  InvalidateRect(H(FOwner), nullptr, TRUE);
}

void TListItems::Clear() {
  if (FOwner->HandleAllocated()) SendMessageA(H(FOwner), LVM_DELETEALLITEMS, 0, 0);
  FItems.clear();
  FOwnerDataCount = 0;
}

void TListItems::Move(int CurIndex, int NewIndex) {
  if (FOwner->OwnerData()) throw EListError(kMessages[msgOwnerData]);
  Item(CurIndex);
  Item(NewIndex);
  if (CurIndex == NewIndex) return;
  std::unique_ptr<TListItem> item = std::move(FItems[CurIndex]);
  if (FOwner->HandleAllocated()) SendMessageA(H(FOwner), LVM_DELETEITEM, CurIndex, 0);
  FItems.erase(FItems.begin() + CurIndex);
  FItems.insert(FItems.begin() + NewIndex, std::move(item));
  FOwner->WindowInsertItem(NewIndex, FItems[NewIndex].get());
}

int TListItems::IndexOf(const TListItem* Item) const {
  for (size_t i = 0; i < FItems.size(); ++i)
    if (FItems[i].get() == Item) return (int)i;
  return -1;
}

// ---------------------------------------------------------------------------------------------
// List view

TCustomListView::TCustomListView(TComponent* AOwner)
    : TWinControl(AOwner), FColumns(std::make_unique<TListColumns>(this)), FItems(std::make_unique<TListItems>(this)) {
  SetBounds(0, 0, 250, 150);
}

TCustomListView::~TCustomListView() {
  if (HandleAllocated()) DestroyHandle();
}

void TCustomListView::CreateParams(TCreateParams& Params) {
  InitCommon();
  TWinControl::CreateParams(Params);
  CreateSubClass(Params, WC_LISTVIEWA);
  static const DWORD views[] = {LVS_ICON, LVS_SMALLICON, LVS_LIST, LVS_REPORT};
  Params.Style |= WS_TABSTOP | LVS_SHAREIMAGELISTS | views[FViewStyle];
  if (FOwnerData) Params.Style |= LVS_OWNERDATA;
  if (FOwnerDraw) Params.Style |= LVS_OWNERDRAWFIXED;
  if (!FReadOnly) Params.Style |= LVS_EDITLABELS;
  if (!FMultiSelect) Params.Style |= LVS_SINGLESEL;
  Params.ExStyle |= WS_EX_CLIENTEDGE;
}

void TCustomListView::SetMultiSelect(bool Value) {
  if (FMultiSelect == Value) return;
  FMultiSelect = Value;
  if (HandleAllocated()) RecreateWnd();
}

void TCustomListView::SetRowSelect(bool Value) {
  FRowSelect = Value;
  if (HandleAllocated())
    SendMessageA(H(this), LVM_SETEXTENDEDLISTVIEWSTYLE, LVS_EX_FULLROWSELECT, Value ? LVS_EX_FULLROWSELECT : 0);
}

LRESULT TCustomListView::CustomDraw(NMLVCUSTOMDRAW* Draw) {
  if (!OnCustomDrawItem) return CDRF_DODEFAULT;
  if (Draw->nmcd.dwDrawStage == CDDS_PREPAINT) return CDRF_NOTIFYITEMDRAW;
  if (Draw->nmcd.dwDrawStage != CDDS_ITEMPREPAINT) return CDRF_DODEFAULT;
  const int index = (int)Draw->nmcd.dwItemSpec;
  if (index < 0 || index >= FItems->Count()) return CDRF_DODEFAULT;
  TOwnerDrawState state = 0;
  if (Draw->nmcd.uItemState & CDIS_SELECTED) state |= odSelected;
  if (Draw->nmcd.uItemState & CDIS_FOCUS) state |= odFocused;
  FCanvas->SetHandle(Draw->nmcd.hdc);
  FCanvas->Brush()->SetColor(clWindow);
  FCanvas->Font()->SetColor(clWindowText);
  bool defaultDraw = true;
  OnCustomDrawItem(this, FItems->Item(index), state, defaultDraw);
  Draw->clrTextBk = ColorToRGB(FCanvas->Brush()->Color());
  Draw->clrText = ColorToRGB(FCanvas->Font()->Color());
  FCanvas->SetHandle(nullptr);
  return defaultDraw ? CDRF_NEWFONT : CDRF_SKIPDEFAULT;
}

void TCustomListView::WindowInsertColumn(int Index, TListColumn* Column) {
  if (!HandleAllocated()) return;
  LVCOLUMNA col{};
  col.mask = LVCF_WIDTH | LVCF_TEXT;
  col.cx = Column->Width();
  col.pszText = const_cast<char*>("");
  SendMessageA(H(this), LVM_INSERTCOLUMNA, Index, reinterpret_cast<LPARAM>(&col));
  Column->SetCaption(Column->Caption());
}

void TCustomListView::WindowInsertItem(int Index, TListItem* Item) {
  if (!HandleAllocated()) return;
  LVITEMA it{};
  it.mask = LVIF_TEXT | LVIF_PARAM;
  it.iItem = Index;
  it.pszText = LPSTR_TEXTCALLBACKA;
  it.lParam = reinterpret_cast<LPARAM>(Item);
  int at = (int)SendMessageA(H(this), LVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&it));
  for (int c = 1; c < FColumns->Count(); ++c) {
    LVITEMA sub{};
    sub.iSubItem = c;
    sub.pszText = LPSTR_TEXTCALLBACKA;
    Perform(LVM_SETITEMTEXTA, at, reinterpret_cast<intptr_t>(&sub));
  }
}

void TCustomListView::CreateWnd() {
  TWinControl::CreateWnd();
  for (int i = 0; i < FColumns->Count(); ++i) WindowInsertColumn(i, FColumns->Items(i));
  if (FRowSelect) SendMessageA(H(this), LVM_SETEXTENDEDLISTVIEWSTYLE, LVS_EX_FULLROWSELECT, LVS_EX_FULLROWSELECT);
  if (FOwnerData) SendMessageA(H(this), LVM_SETITEMCOUNT, FItems->Count(), 0);
  else
    for (int i = 0; i < FItems->Count(); ++i) WindowInsertItem(i, FItems->Item(i));
}

const TListItemClass* TCustomListView::ItemClass(const TListItemClass* Default) {
  const TListItemClass* c = Default;
  if (OnCreateItemClass) OnCreateItemClass(this, c);
  return c ? c : Default;
}

std::unique_ptr<TListItem> TCustomListView::CreateListItem() { return ItemClass(&TListItem::Class)->Create(this); }

void TCustomListView::SetOwnerDraw(bool Value) {
  if (FOwnerDraw == Value) return;
  FOwnerDraw = Value;
  if (HandleAllocated()) RecreateWnd();
}

void TCustomListView::DrawItem(TListItem* Item, const RECT& Rect, TOwnerDrawState State) {
  if (OnDrawItem) {
    OnDrawItem(this, Item, Rect, State);
    return;
  }
  FCanvas->RequiredState(csHandleValid | csFontValid | csBrushValid);
  HDC dc = static_cast<HDC>(FCanvas->Handle());
  FillRect(dc, &Rect, static_cast<HBRUSH>(FCanvas->Brush()->Handle()));
  SetBkMode(dc, TRANSPARENT);
  TextOutA(dc, Rect.left + 2, Rect.top, Item->Caption().c_str(), (int)Item->Caption().size());
}

void TCustomListView::SetOwnerData(bool Value) {
  if (FOwnerData == Value) return;
  FItems->Clear();
  FOwnerData = Value;
  if (HandleAllocated()) RecreateWnd();
}

TListItem* TCustomListView::OwnerDataItem(int Index) {
  if (!FTempItem) FTempItem = CreateListItem();
  TListItem* item = FTempItem.get();
  item->FDataIndex = Index;
  item->ClearForData();
  if (OnData) OnData(this, item);
  return item;
}

int TCustomListView::DataFind(TItemFind Find, const AnsiString& FindString, int StartIndex, bool Wrap) {
  int index = -1;
  if (OnDataFind) OnDataFind(this, Find, FindString, StartIndex, Wrap, index);
  return index;
}

bool TCustomListView::DoKeyDown(TMessage& Message) {
  if (!OnKeyDown) return false;
  uint16_t key = (uint16_t)Message.WParam;
  OnKeyDown(this, key);
  Message.WParam = key;
  return key == 0;
}

bool TCustomListView::DoKeyUp(TMessage& Message) {
  if (!OnKeyUp) return false;
  uint16_t key = (uint16_t)Message.WParam;
  OnKeyUp(this, key);
  Message.WParam = key;
  return key == 0;
}

bool TCustomListView::DoKeyPress(TMessage& Message) {
  if (!OnKeyPress) return false;
  char key = (char)(Message.WParam & 0xFF);
  OnKeyPress(this, key);
  Message.WParam = (Message.WParam & ~0xFFu) | (unsigned char)key;
  return key == 0;
}

bool TCustomListView::IsHeaderNotify(const NMHDR* Hdr) {
  return HandleAllocated() && Hdr && Hdr->hwndFrom == (HWND)SendMessageA(H(this), LVM_GETHEADER, 0, 0);
}

void TCustomListView::HeaderEndTrack(NMHEADERA* Hdr) {
  if (Hdr->iItem >= 0 && Hdr->iItem < FColumns->Count() && Hdr->pitem && (Hdr->pitem->mask & HDI_WIDTH)) {
    TListColumn* column = FColumns->Items(Hdr->iItem);
    Hdr->pitem->cxy = column->LimitWidth(Hdr->pitem->cxy);
    column->FWidth = Hdr->pitem->cxy;
  }
}

void TCustomListView::HeaderTrack(NMHEADERA* Hdr) {
  if (Hdr->iItem >= 0 && Hdr->iItem < FColumns->Count() && Hdr->pitem && (Hdr->pitem->mask & HDI_WIDTH))
    Hdr->pitem->cxy = FColumns->Items(Hdr->iItem)->LimitWidth(Hdr->pitem->cxy);
}

void TCustomListView::GetInfoTip(NMLVGETINFOTIPA* Info) {
  if (!OnInfoTip || !Info->pszText || Info->cchTextMax <= 0) return;
  int i = Info->iItem;
  TListItem* item = nullptr;
  if (FOwnerData) {
    if (i >= 0) item = OwnerDataItem(i);
  } else if (i >= 0 && i < FItems->Count()) {
    item = FItems->Item(i);
  }
  if (!item) return;
  AnsiString tip(Info->pszText, strnlen(Info->pszText, (size_t)Info->cchTextMax));
  OnInfoTip(this, item, tip);
  lstrcpynA(Info->pszText, tip.c_str(), Info->cchTextMax);
}

void TCustomListView::HeaderDividerDblClick(const NMHEADERA* Hdr) {
  if (Hdr->iItem >= 0 && Hdr->iItem < FColumns->Count())
    FColumns->Items(Hdr->iItem)->FWidth = (int)SendMessageA(H(this), LVM_GETCOLUMNWIDTH, Hdr->iItem, 0);
}

void TCustomListView::SetViewStyle(TViewStyle Value) {
  if (FViewStyle == Value) return;
  FViewStyle = Value;
  RecreateWnd();
}

TListItem* TCustomListView::Selected() const {
  if (!HandleAllocated()) return nullptr;
  int i = (int)SendMessageA(static_cast<HWND>(FHandle), LVM_GETNEXTITEM, (WPARAM)-1, LVNI_SELECTED);
  return i >= 0 && i < FItems->Count() ? FItems->Item(i) : nullptr;
}

int CALLBACK TCustomListView::DefaultCompare(LPARAM Item1, LPARAM Item2, LPARAM ListView) {
  auto* lv = reinterpret_cast<TCustomListView*>(ListView);
  auto* a = reinterpret_cast<TListItem*>(Item1);
  auto* b = reinterpret_cast<TListItem*>(Item2);
  if (lv->OnCompare) {
    int r = 0;
    lv->OnCompare(lv, a, b, 0, r);
    return r;
  }
  return lstrcmpA(a->Caption().c_str(), b->Caption().c_str());
}

void TCustomListView::AlphaSort() {
  if (!HandleAllocated()) return;
  Perform(LVM_SORTITEMS, reinterpret_cast<uintptr_t>(this), reinterpret_cast<intptr_t>(&DefaultCompare));
  SyncOrderFromWindow();
}

void TCustomListView::SyncOrderFromWindow() {
  std::vector<std::unique_ptr<TListItem>> ordered;
  int n = (int)SendMessageA(H(this), LVM_GETITEMCOUNT, 0, 0);
  for (int i = 0; i < n; ++i) {
    LVITEMA it{};
    it.mask = LVIF_PARAM;
    it.iItem = i;
    SendMessageA(H(this), LVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&it));
    auto* item = reinterpret_cast<TListItem*>(it.lParam);
    for (auto& p : FItems->FItems)
      if (p.get() == item) ordered.push_back(std::move(p));
  }
  if ((int)ordered.size() == FItems->Count()) FItems->FItems = std::move(ordered);
}

void TCustomListView::GetDispInfo(NMLVDISPINFOA* Info) {
  if (!(Info->item.mask & LVIF_TEXT) || !Info->item.pszText || Info->item.cchTextMax <= 0) return;
  int i = Info->item.iItem;
  if (i < 0 || i >= FItems->Count()) return;
  TListItem* item = FItems->Item(i);
  AnsiString text;
  int sub = Info->item.iSubItem;
  if (sub == 0) text = item->Caption();
  else if (sub - 1 < item->SubItems()->Count()) text = item->SubItems()->Get(sub - 1);
  lstrcpynA(Info->item.pszText, text.c_str(), Info->item.cchTextMax);
}

void TCustomListView::SetReadOnly(bool Value) {
  if (FReadOnly == Value) return;
  FReadOnly = Value;
  if (HandleAllocated()) RecreateWnd();
}

bool TCustomListView::CanEdit(TListItem* Item) {
  bool allow = !FReadOnly;
  if (allow && OnEditing) OnEditing(this, Item, allow);
  return allow;
}

void TCustomListView::WndProc(TMessage& Message) {
  switch (Message.Msg) {
    case WM_NOTIFY: {
      auto* hdr = reinterpret_cast<NMHEADERA*>(Message.LParam);
      if (!IsHeaderNotify(&hdr->hdr)) break;
      if (hdr->hdr.code == HDN_ENDTRACKA) HeaderEndTrack(hdr);
      if (hdr->hdr.code == HDN_TRACKA) HeaderTrack(hdr);
      TWinControl::WndProc(Message);
      if (hdr->hdr.code == HDN_DIVIDERDBLCLICKA) HeaderDividerDblClick(hdr);
      return;
    }
    case WM_KEYDOWN:
      if (DoKeyDown(Message)) return;
      break;
    case WM_KEYUP:
      if (DoKeyUp(Message)) return;
      break;
    case WM_CHAR:
      if (DoKeyPress(Message)) return;
      break;
    default: break;
  }
  if (Message.Msg == CN_DRAWITEM && Message.LParam) {
    auto* dis = reinterpret_cast<DRAWITEMSTRUCT*>(Message.LParam);
    int index = (int)dis->itemID;
    if (index >= 0 && index < FItems->Count()) {
      TListItem* item = FItems->Item(index);
      DrawOwnerDrawnItem(FCanvas.get(), *dis, [this, item](int, const RECT& R, TOwnerDrawState S) { DrawItem(item, R, S); });
    }
    Message.Result = 1;
    return;
  }
  if (Message.Msg == CN_NOTIFY) {
    auto* hdr = reinterpret_cast<NMHDR*>(Message.LParam);
    if (hdr->code == LVN_BEGINLABELEDITA || hdr->code == LVN_ENDLABELEDITA) {
      auto* info = reinterpret_cast<NMLVDISPINFOA*>(hdr);
      int i = info->item.iItem;
      TListItem* item = i >= 0 && i < FItems->Count() ? FItems->Item(i) : nullptr;
      Message.Result = 0;
      if (hdr->code == LVN_BEGINLABELEDITA) {
        Message.Result = item && CanEdit(item) ? 0 : 1;
      } else if (item && info->item.pszText) {
        // The item keeps its own caption; the window shows it through the text callback.
        AnsiString text = info->item.pszText;
        if (OnEdited) OnEdited(this, item, text);
        item->SetCaption(text);
      }
      return;
    }
    if (hdr->code == NM_CUSTOMDRAW) {
      Message.Result = CustomDraw(reinterpret_cast<NMLVCUSTOMDRAW*>(hdr));
      return;
    }
    if (hdr->code == LVN_GETDISPINFOA) {
      GetDispInfo(reinterpret_cast<NMLVDISPINFOA*>(hdr));
      return;
    }
    if (hdr->code == LVN_GETINFOTIPA) {
      GetInfoTip(reinterpret_cast<NMLVGETINFOTIPA*>(hdr));
      return;
    }
    if (hdr->code == LVN_ODFINDITEMA) {
      auto* find = reinterpret_cast<NMLVFINDITEMA*>(hdr);
      const LVFINDINFOA& fi = find->lvfi;
      TItemFind kind = (fi.flags & LVFI_STRING) ? ((fi.flags & LVFI_PARTIAL) ? ifPartialString : ifExactString)
                       : (fi.flags & LVFI_NEARESTXY) ? ifNearest
                                                     : ifData;
      AnsiString text = ((fi.flags & LVFI_STRING) && fi.psz) ? AnsiString(fi.psz) : AnsiString();
      Message.Result = DataFind(kind, text, find->iStart, (fi.flags & LVFI_WRAP) != 0);
      return;
    }
    if (hdr->code == LVN_COLUMNCLICK) {
      int column = reinterpret_cast<NMLISTVIEW*>(hdr)->iSubItem;
      if (OnColumnClick && column >= 0 && column < FColumns->Count()) OnColumnClick(this, FColumns->Items(column));
    }
    if (hdr->code == LVN_ITEMCHANGED) Click();
  }
  TWinControl::WndProc(Message);
}

// ---------------------------------------------------------------------------------------------
// Page control

TTabSheet::TTabSheet(TComponent* AOwner) : TWinControl(AOwner) { SetVisible(false); }

TTabSheet::~TTabSheet() {
  if (FPageControl) FPageControl->RemovePage(this);
}

void TTabSheet::SetPageControl(TPageControl* Value) {
  if (FPageControl == Value) return;
  if (FPageControl) FPageControl->RemovePage(this);
  FPageControl = Value;
  if (Value) Value->InsertPage(this);
}

int TTabSheet::PageIndex() const {
  if (!FPageControl) return -1;
  auto& p = FPageControl->FPages;
  auto it = std::find(p.begin(), p.end(), this);
  return it == p.end() ? -1 : (int)(it - p.begin());
}

void TTabSheet::SetTabVisible(bool Value) {
  if (FTabVisible == Value) return;
  FTabVisible = Value;
  if (FPageControl) FPageControl->RebuildTabs();
}

void TTabSheet::CreateParams(TCreateParams& Params) {
  TWinControl::CreateParams(Params);
  Params.Style |= WS_CLIPCHILDREN;
}

void TTabSheet::WndProc(TMessage& Message) {
  TWinControl::WndProc(Message);
  if (Message.Msg == CM_TEXTCHANGED && FPageControl) FPageControl->UpdateTab(this);
}

TPageControl::TPageControl(TComponent* AOwner) : TWinControl(AOwner) { SetBounds(0, 0, 289, 193); }

void TPageControl::CreateParams(TCreateParams& Params) {
  InitCommon();
  TWinControl::CreateParams(Params);
  CreateSubClass(Params, WC_TABCONTROLA);
  Params.Style |= WS_TABSTOP | WS_CLIPCHILDREN;
}

int TPageControl::TabIndexOf(const TTabSheet* Page) const {
  if (!Page || !Page->TabVisible()) return -1;
  int index = 0;
  for (TTabSheet* p : FPages) {
    if (p == Page) return index;
    if (p->TabVisible()) ++index;
  }
  return -1;
}

TTabSheet* TPageControl::PageOfTab(int TabIndex) const {
  if (TabIndex < 0) return nullptr;
  for (TTabSheet* p : FPages)
    if (p->TabVisible() && TabIndex-- == 0) return p;
  return nullptr;
}

void TPageControl::RebuildTabs() {
  if (!HandleAllocated()) return;
  SendMessageA(H(this), TCM_DELETEALLITEMS, 0, 0);
  for (TTabSheet* p : FPages) InsertTab(p);
  SetActivePage(FActivePage);
}

void TPageControl::InsertTab(TTabSheet* Page) {
  if (!HandleAllocated() || TabIndexOf(Page) < 0) return;
  TCITEMA item{};
  item.mask = TCIF_TEXT | TCIF_PARAM;
  AnsiString text = Page->Caption();
  item.pszText = const_cast<char*>(text.c_str());
  item.lParam = reinterpret_cast<LPARAM>(Page);
  Perform(TCM_INSERTITEMA, TabIndexOf(Page), reinterpret_cast<intptr_t>(&item));
  UpdateTab(Page);
}

void TPageControl::UpdateTab(TTabSheet* Page) {
  if (!HandleAllocated() || Page->PageIndex() < 0 || TabIndexOf(Page) < 0) return;
  TCITEMA item{};
  item.mask = TCIF_TEXT | TCIF_PARAM;
  AnsiString text = Page->Caption();
  item.pszText = const_cast<char*>(text.c_str());
  item.lParam = reinterpret_cast<LPARAM>(Page);
  Perform(TCM_SETITEMA, TabIndexOf(Page), reinterpret_cast<intptr_t>(&item));
}

void TPageControl::InsertPage(TTabSheet* Page) {
  FPages.push_back(Page);
  Page->SetParent(this);
  InsertTab(Page);
  if (!FActivePage) SetActivePage(Page);
}

void TPageControl::RemovePage(TTabSheet* Page) {
  int index = Page->PageIndex();
  if (index < 0) return;
  int tab = TabIndexOf(Page);
  if (HandleAllocated() && tab >= 0) SendMessageA(H(this), TCM_DELETEITEM, tab, 0);
  FPages.erase(FPages.begin() + index);
  if (FActivePage == Page) {
    FActivePage = nullptr;
    if (!FPages.empty()) SetActivePage(FPages[std::min<size_t>(index, FPages.size() - 1)]);
  }
  Page->FPageControl = nullptr;
}

void TPageControl::CreateWnd() {
  TWinControl::CreateWnd();
  for (TTabSheet* p : FPages) InsertTab(p);
  if (FActivePage) SetActivePage(FActivePage);
}

void TPageControl::LayoutPages() {
  if (!HandleAllocated()) return;
  RECT r{0, 0, Width(), Height()};
  SendMessageA(H(this), TCM_ADJUSTRECT, FALSE, reinterpret_cast<LPARAM>(&r));
  for (TTabSheet* p : FPages) p->SetBounds(r.left, r.top, r.right - r.left, r.bottom - r.top);
}

void TPageControl::SetActivePage(TTabSheet* Page) {
  FActivePage = Page;
  LayoutPages();
  for (TTabSheet* p : FPages) p->SetVisible(p == Page);
  if (Page && HandleAllocated()) SendMessageA(H(this), TCM_SETCURSEL, TabIndexOf(Page), 0);
}

int TPageControl::TabIndex() { return HandleAllocated() ? (int)SendMessageA(H(this), TCM_GETCURSEL, 0, 0) : -1; }

bool TPageControl::CanChange() {
  bool allow = true;
  if (OnChanging) OnChanging(this, allow);
  return allow;
}

void TPageControl::Change() {
  if (OnChange) OnChange(this);
}

void TPageControl::WndProc(TMessage& Message) {
  if (Message.Msg == CN_NOTIFY && reinterpret_cast<NMHDR*>(Message.LParam)->code == (UINT)TCN_SELCHANGING) {
    Message.Result = CanChange() ? 0 : 1;
    return;
  }
  if (Message.Msg == CN_NOTIFY && reinterpret_cast<NMHDR*>(Message.LParam)->code == (UINT)TCN_SELCHANGE) {
    if (TTabSheet* page = PageOfTab(TabIndex())) SetActivePage(page);
    Change();
    return;
  }
  TWinControl::WndProc(Message);
}

// ---------------------------------------------------------------------------------------------
// Track and progress bars

TTrackBar::TTrackBar(TComponent* AOwner) : TWinControl(AOwner) { SetBounds(0, 0, 150, 45); }

void TTrackBar::CreateParams(TCreateParams& Params) {
  InitCommon();
  TWinControl::CreateParams(Params);
  CreateSubClass(Params, TRACKBAR_CLASSA);
  static const DWORD ticks[] = {TBS_NOTICKS, TBS_AUTOTICKS, 0};
  Params.Style |= WS_TABSTOP | TBS_HORZ | ticks[FTickStyle];
}

void TTrackBar::CreateWnd() {
  TWinControl::CreateWnd();
  SendMessageA(H(this), TBM_SETRANGEMIN, FALSE, FMin);
  SendMessageA(H(this), TBM_SETRANGEMAX, FALSE, FMax);
  SendMessageA(H(this), TBM_SETLINESIZE, 0, FLineSize);
  SendMessageA(H(this), TBM_SETPOS, TRUE, FPosition);
}

int TTrackBar::Position() {
  if (HandleAllocated()) FPosition = (int)SendMessageA(H(this), TBM_GETPOS, 0, 0);
  return FPosition;
}

void TTrackBar::SetPosition(int Value) {
  const int old = Position();
  FPosition = std::clamp(Value, FMin, FMax);
  if (HandleAllocated()) SendMessageA(H(this), TBM_SETPOS, TRUE, FPosition);
  if (FPosition != old && OnChange) OnChange(this);
}

void TTrackBar::SetRange(int Min, int Max) {
  const int old = Position();
  FMin = Min;
  FMax = std::max(Min, Max);
  if (HandleAllocated()) {
    SendMessageA(H(this), TBM_SETRANGEMIN, FALSE, FMin);
    SendMessageA(H(this), TBM_SETRANGEMAX, TRUE, FMax);
  }
  FPosition = old;
  SetPosition(old);
}

void TTrackBar::SetLineSize(int Value) {
  FLineSize = Value;
  if (HandleAllocated()) SendMessageA(H(this), TBM_SETLINESIZE, 0, Value);
}

void TTrackBar::SetTickStyle(TTickStyle Value) {
  if (FTickStyle == Value) return;
  FTickStyle = Value;
  if (HandleAllocated()) RecreateWnd();
}

void TTrackBar::WndProc(TMessage& Message) {
  if (Message.Msg == CN_BASE + WM_HSCROLL || Message.Msg == CN_BASE + WM_VSCROLL) {
    // The user moved the thumb: the window's position is the new one.
    const int old = FPosition;
    if (Position() != old && OnChange) OnChange(this);
    return;
  }
  TWinControl::WndProc(Message);
}

TProgressBar::TProgressBar(TComponent* AOwner) : TWinControl(AOwner) { SetBounds(0, 0, 150, 17); }

void TProgressBar::CreateParams(TCreateParams& Params) {
  InitCommon();
  TWinControl::CreateParams(Params);
  CreateSubClass(Params, PROGRESS_CLASSA);
  if (FSmooth) Params.Style |= PBS_SMOOTH;
}

void TProgressBar::CreateWnd() {
  TWinControl::CreateWnd();
  SendMessageA(H(this), PBM_SETRANGE32, FMin, FMax);
  SendMessageA(H(this), PBM_SETPOS, FPosition, 0);
}

int TProgressBar::Position() {
  if (HandleAllocated()) FPosition = (int)SendMessageA(H(this), PBM_GETPOS, 0, 0);
  return FPosition;
}

void TProgressBar::SetPosition(int Value) {
  FPosition = std::clamp(Value, FMin, FMax);
  if (HandleAllocated()) SendMessageA(H(this), PBM_SETPOS, FPosition, 0);
}

void TProgressBar::SetRange(int Min, int Max) {
  FMin = Min;
  FMax = std::max(Min, Max);
  if (HandleAllocated()) SendMessageA(H(this), PBM_SETRANGE32, FMin, FMax);
  SetPosition(FPosition);
}

void TProgressBar::StepIt() {
  const int next = Position() + FStep;
  SetPosition(next > FMax ? FMin : next);
}

void TProgressBar::SetSmooth(bool Value) {
  if (FSmooth == Value) return;
  FSmooth = Value;
  if (HandleAllocated()) RecreateWnd();
}

// ---------------------------------------------------------------------------------------------
// Tool bars

namespace {
int gNextToolCommand = 1;
}  // namespace

std::unique_ptr<TControlActionLink> TToolButton::CreateActionLink() {
  return std::make_unique<TToolButtonActionLink>(this);
}

TToolButton::TToolButton(TComponent* AOwner) : TGraphicControl(AOwner), FCommandId(gNextToolCommand++) {
  SetBounds(0, 0, 23, 22);
}

TToolButton::~TToolButton() {
  if (FToolBar) FToolBar->RemoveButton(this);
}

void TToolButton::SetParent(TWinControl* AParent) {
  if (AParent == Parent()) return;
  if (FToolBar) FToolBar->RemoveButton(this);
  TGraphicControl::SetParent(AParent);
  if (auto* bar = dynamic_cast<TToolBar*>(AParent)) bar->InsertButton(this);
}

int TToolButton::Index() const {
  if (!FToolBar) return -1;
  auto& b = FToolBar->FButtons;
  auto it = std::find(b.begin(), b.end(), this);
  return it == b.end() ? -1 : (int)(it - b.begin());
}

void TToolButton::WndProc(TMessage& Message) {
  TGraphicControl::WndProc(Message);
  if (Message.Msg == CM_TEXTCHANGED && FToolBar) FToolBar->UpdateButton(this);
}

TToolBar::TToolBar(TComponent* AOwner) : TWinControl(AOwner) { SetBounds(0, 0, 150, 29); }

TToolBar::~TToolBar() {
  for (TToolButton* b : FButtons) b->FToolBar = nullptr;
}

void TToolBar::CreateParams(TCreateParams& Params) {
  InitCommon();
  TWinControl::CreateParams(Params);
  CreateSubClass(Params, TOOLBARCLASSNAMEA);
  Params.Style |= TBSTYLE_FLAT | TBSTYLE_LIST | CCS_NORESIZE | CCS_NOPARENTALIGN | CCS_NODIVIDER;
}

void TToolBar::CreateWnd() {
  TWinControl::CreateWnd();
  SendMessageA(H(this), TB_BUTTONSTRUCTSIZE, sizeof(TBBUTTON), 0);
  SendMessageA(H(this), TB_SETBITMAPSIZE, 0, MAKELPARAM(0, 0));
  for (size_t i = 0; i < FButtons.size(); ++i) WindowAddButton((int)i, FButtons[i]);
}

void TToolBar::WindowAddButton(int Index, TToolButton* Button) {
  AnsiString caption = FShowCaptions ? Button->Caption() : AnsiString();
  TBBUTTON b{};
  b.iBitmap = I_IMAGENONE;
  b.idCommand = Button->CommandId();
  b.fsState = TBSTATE_ENABLED;
  b.fsStyle = BTNS_BUTTON | BTNS_AUTOSIZE | BTNS_SHOWTEXT;
  b.iString = reinterpret_cast<INT_PTR>(caption.c_str());
  SendMessageA(H(this), TB_INSERTBUTTONA, Index, reinterpret_cast<LPARAM>(&b));
}

void TToolBar::InsertButton(TToolButton* Button) {
  FButtons.push_back(Button);
  Button->FToolBar = this;
  if (HandleAllocated()) WindowAddButton((int)FButtons.size() - 1, Button);
}

void TToolBar::RemoveButton(TToolButton* Button) {
  auto it = std::find(FButtons.begin(), FButtons.end(), Button);
  if (it == FButtons.end()) return;
  int index = (int)(it - FButtons.begin());
  FButtons.erase(it);
  Button->FToolBar = nullptr;
  if (HandleAllocated()) SendMessageA(H(this), TB_DELETEBUTTON, index, 0);
}

void TToolBar::UpdateButton(TToolButton* Button) {
  if (!HandleAllocated()) return;
  AnsiString caption = FShowCaptions ? Button->Caption() : AnsiString();
  TBBUTTONINFOA info{};
  info.cbSize = sizeof info;
  info.dwMask = TBIF_TEXT;
  info.pszText = const_cast<char*>(caption.c_str());
  SendMessageA(H(this), TB_SETBUTTONINFOA, Button->CommandId(), reinterpret_cast<LPARAM>(&info));
}

void TToolBar::SetShowCaptions(bool Value) {
  if (FShowCaptions == Value) return;
  FShowCaptions = Value;
  for (TToolButton* b : FButtons) UpdateButton(b);
}

void TToolBar::WndProc(TMessage& Message) {
  if (Message.Msg == CN_COMMAND) {
    int id = LOWORD(Message.WParam);
    for (TToolButton* b : FButtons)
      if (b->CommandId() == id) {
        b->Click();
        return;
      }
  }
  TWinControl::WndProc(Message);
}
