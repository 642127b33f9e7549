#include "widgets/UniComCtrls.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "unicode/UniGraphics.h"
#include "unicode/UniSysUtils.h"

namespace {
const char kUnit[] = "UniComCtrls";
const char* const kMessages[] = {"Internal Error: Only call CreateUnicodeHandle_ComCtl for Common Controls.",
                                 "Internal Error: OnCreateItemClass.ItemClass must inherit from TUniListItem."};
enum { msgOnlyComCtl, msgItemClass };
const wchar_t kEditOwnerProp[] = L"UniComCtrls.ListView";

HWND H(TWinControl* C) { return static_cast<HWND>(C->Handle()); }

void CopyText(const WideString& Text, wchar_t* Buffer, int Size) {
  if (!Buffer || Size <= 0) return;
  size_t n = std::min<size_t>(Text.size(), (size_t)Size - 1);
  Text.copy(Buffer, n);
  Buffer[n] = 0;
}

// Sorts by wide caption unless the list view has its own compare event.
int CALLBACK UnicodeCompare(LPARAM Item1, LPARAM Item2, LPARAM ListView) {
  UniAssert(Win32PlatformIsNT(), kUnit, 0);
  auto* lv = reinterpret_cast<TUniCustomListView*>(ListView);
  auto* a = reinterpret_cast<TUniListItem*>(Item1);
  auto* b = reinterpret_cast<TUniListItem*>(Item2);
  if (lv->OnCompare) {
    int r = 0;
    lv->OnCompare(lv, a, b, 0, r);
    return r;
  }
  return lstrcmpW(a->Caption().c_str(), b->Caption().c_str());
}
}  // namespace

void CreateUnicodeHandle_ComCtl(TWinControl* Control, const TCreateParams& Params, const WideString& SystemClass) {
  if (SystemClass.empty()) throw EAssertionFailed(kMessages[msgOnlyComCtl]);
  CreateUnicodeWindowHandle(Control, Params, SystemClass);
  if (Win32PlatformIsNT()) SendMessageW(H(Control), CCM_SETUNICODEFORMAT, 1, 0);
}

// ---------------------------------------------------------------------------------------------
// Columns and items

WideString TUniListColumn::Caption() { return ReadWideShadow(FWideCaption, TListColumn::Caption()); }

void TUniListColumn::SetCaption(const WideString& Value) {
  WriteWideShadow(Value, FWideCaption, TListColumn::Caption(), [this](const AnsiString& S) { TListColumn::SetCaption(S); });
}

void TUniListColumn::Assign(TPersistent* Source) {
  if (auto* c = dynamic_cast<TUniListColumn*>(Source)) {
    SetWidth(c->Width());
    SetCaption(c->Caption());
  } else if (auto* a = dynamic_cast<TListColumn*>(Source)) {
    SetWidth(a->Width());
    SetCaption(AnsiToWide(a->Caption()));
  } else {
    TListColumn::Assign(Source);
  }
}

void TWideSubItems::InsertItem(int Index, const WideString& S, TObject* AObject) {
  TUniStringList::InsertItem(Index, S, AObject);
  FItem->AnsiSubItems()->Insert(Index, WideToAnsi(S));
  FItem->AnsiSubItems()->PutObject(Index, AObject);
  FItem->Update();
}

void TWideSubItems::Put(int Index, const WideString& S) {
  TUniStringList::Put(Index, S);
  FItem->AnsiSubItems()->Put(Index, WideToAnsi(S));
  FItem->Update();
}

void TWideSubItems::Delete(int Index) {
  TUniStringList::Delete(Index);
  FItem->AnsiSubItems()->Delete(Index);
  FItem->Update();
}

void TWideSubItems::Clear() {
  TUniStringList::Clear();
  FItem->AnsiSubItems()->Clear();
  FItem->Update();
}

TUniListItem::TUniListItem(TCustomListView* Owner)
    : TListItem(Owner), FWideSubItems(std::make_unique<TWideSubItems>(this)) {}

const TListItemClass TUniListItem::Class{
    "TUniListItem", &TListItem::Class, [](TCustomListView* Owner) -> std::unique_ptr<TListItem> {
      return std::make_unique<TUniListItem>(Owner);
    }};

void TUniListItem::ClearForData() {
  TListItem::ClearForData();
  FWideCaption.clear();
  FWideSubItems->Clear();
}

WideString TUniListItem::Caption() { return ReadWideShadow(FWideCaption, TListItem::Caption()); }

void TUniListItem::SetCaption(const WideString& Value) {
  WriteWideShadow(Value, FWideCaption, TListItem::Caption(), [this](const AnsiString& S) { TListItem::SetCaption(S); });
  Update();
}

void TUniListItem::Assign(TPersistent* Source) {
  auto* src = dynamic_cast<TUniListItem*>(Source);
  if (!src) {
    TListItem::Assign(Source);
    return;
  }
  SetCaption(src->Caption());
  SetData(src->Data());
  FWideSubItems->Clear();
  for (int i = 0; i < src->SubItems()->Count(); ++i)
    FWideSubItems->AddObject(src->SubItems()->Get(i), src->SubItems()->GetObject(i));
}

// ---------------------------------------------------------------------------------------------
// List view

TUniCustomListView::TUniCustomListView(TComponent* AOwner) : TCustomListView(AOwner) {
  FColumns = std::make_unique<TUniListColumns>(this);
}

void TUniCustomListView::DefineProperties(TFiler* Filer) {
  TCustomListView::DefineProperties(Filer);
  DefineWideProperties(Filer, this);
}

void TUniCustomListView::CreateWindowHandle(const TCreateParams& Params) {
  CreateUnicodeHandle_ComCtl(this, Params, L"SysListView32");
}

std::unique_ptr<TListItem> TUniCustomListView::CreateListItem() {
  const TListItemClass* itemClass = ItemClass(&TUniListItem::Class);
  if (!itemClass->InheritsFrom(&TUniListItem::Class)) throw EUniInternalError(kMessages[msgItemClass]);
  return itemClass->Create(this);
}

void TUniCustomListView::SubclassLabelEdit() {
  HWND edit = (HWND)SendMessageW(H(this), LVM_GETEDITCONTROL, 0, 0);
  if (!edit || GetPropW(edit, kEditOwnerProp)) return;
  UniAssert(Win32PlatformIsNT(), kUnit, 1);
  FEditWnd = edit;
  SetPropW(edit, kEditOwnerProp, static_cast<HANDLE>(this));
  FEditPrevProc = reinterpret_cast<WNDPROC>(
      SetWindowLongPtrW(edit, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&TUniCustomListView::LabelEditProc)));
}

LRESULT CALLBACK TUniCustomListView::LabelEditProc(HWND Wnd, UINT Msg, WPARAM WParam, LPARAM LParam) {
  auto* lv = static_cast<TUniCustomListView*>(GetPropW(Wnd, kEditOwnerProp));
  if (!lv) return DefWindowProcW(Wnd, Msg, WParam, LParam);
  WNDPROC prev = lv->FEditPrevProc;
  try {
    TMessage m{Msg, WParam, LParam, 0};
    switch (Msg) {
      case WM_KEYDOWN:
        if (lv->DoKeyDown(m)) return 0;
        break;
      case WM_KEYUP:
        if (lv->DoKeyUp(m)) return 0;
        break;
      case WM_CHAR:
        // The library sees one byte; the editor gets the whole character back.
        MakeWMCharMsgSafeForAnsi(m);
        if (lv->DoKeyPress(m)) return 0;
        RestoreWMCharMsg(m);
        break;
      case WM_NCDESTROY:
        SetWindowLongPtrW(Wnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(prev));
        RemovePropW(Wnd, kEditOwnerProp);
        lv->FEditWnd = nullptr;
        lv->FEditPrevProc = nullptr;
        break;
      default: break;
    }
    return CallWindowProcW(prev, Wnd, m.Msg, m.WParam, m.LParam);
  } catch (...) {
    try {
      if (ApplicationHandleException) ApplicationHandleException(lv);
    } catch (...) {
    }
    return 0;
  }
}

void TUniCustomListView::DrawItem(TListItem* Item, const RECT& Rect, TOwnerDrawState State) {
  if (OnDrawItem) {
    OnDrawItem(this, Item, Rect, State);
    return;
  }
  FCanvas->RequiredState(csHandleValid | csFontValid | csBrushValid);
  FillRect(static_cast<HDC>(FCanvas->Handle()), &Rect, static_cast<HBRUSH>(FCanvas->Brush()->Handle()));
  auto* item = dynamic_cast<TUniListItem*>(Item);
  WideCanvasTextOut(FCanvas.get(), Rect.left + 2, Rect.top, item ? item->Caption() : AnsiToWide(Item->Caption()));
}

TUniListItem* TUniCustomListView::AddItem(const WideString& Caption, void* Data) {
  TUniListItem* item = AddListItem();
  item->SetCaption(Caption);
  item->SetData(Data);
  return item;
}

void TUniCustomListView::WndProc(TMessage& Message) {
  bool nt = Win32PlatformIsNT() && HandleAllocated() && IsWindowUnicode(H(this));
  switch (Message.Msg) {
    case LVM_SETCOLUMNA: {
      auto* col = reinterpret_cast<LVCOLUMNA*>(Message.LParam);
      int index = (int)Message.WParam;
      if (!col || !(col->mask & LVCF_TEXT) || index < 0 || index >= Columns()->Count()) break;
      TUniListColumn* column = Columns()->Items(index);
      AnsiString text = col->pszText ? col->pszText : "";
      if (WideToAnsi(column->FWideCaption) != text) column->FWideCaption = AnsiToWide(text);
      if (!nt) break;
      LVCOLUMNW w{};
      w.mask = col->mask;
      w.fmt = col->fmt;
      w.cx = col->cx;
      w.iSubItem = col->iSubItem;
      WideString caption = column->FWideCaption;
      w.pszText = caption.data();
      Message.Result = SendMessageW(H(this), LVM_SETCOLUMNW, Message.WParam, reinterpret_cast<LPARAM>(&w));
      return;
    }
    case LVM_SETITEMTEXTA: {
      auto* item = reinterpret_cast<LVITEMA*>(Message.LParam);
      if (!nt || !item || item->pszText != LPSTR_TEXTCALLBACKA) break;
      LVITEMW w{};
      w.iSubItem = item->iSubItem;
      w.pszText = LPSTR_TEXTCALLBACKW;
      Message.Result = SendMessageW(H(this), LVM_SETITEMTEXTW, Message.WParam, reinterpret_cast<LPARAM>(&w));
      return;
    }
    case LVM_SORTITEMS:
      if (nt && Message.LParam == reinterpret_cast<intptr_t>(&TCustomListView::DefaultCompare)) {
        Message.Result = SendMessageW(H(this), LVM_SORTITEMS, Message.WParam, reinterpret_cast<LPARAM>(&UnicodeCompare));
        return;
      }
      break;
    case WM_NOTIFY: {
      // The header's wide notifications, handled as their 8-bit twins.
      auto* hdr = reinterpret_cast<NMHEADERA*>(Message.LParam);
      if (!nt || !IsHeaderNotify(&hdr->hdr)) break;
      UINT code = hdr->hdr.code;
      if (code != (UINT)HDN_ENDTRACKW && code != (UINT)HDN_DIVIDERDBLCLICKW && code != (UINT)HDN_TRACKW) break;
      if (code == (UINT)HDN_ENDTRACKW) HeaderEndTrack(hdr);
      if (code == (UINT)HDN_TRACKW) HeaderTrack(hdr);
      TWinControl::WndProc(Message);
      if (code == (UINT)HDN_DIVIDERDBLCLICKW) HeaderDividerDblClick(hdr);
      return;
    }
    case CN_NOTIFY: {
      auto* hdr = reinterpret_cast<NMHDR*>(Message.LParam);
      if (hdr->code == LVN_ODFINDITEMW && nt) {
        auto* find = reinterpret_cast<NMLVFINDITEMW*>(hdr);
        const LVFINDINFOW& fi = find->lvfi;
        TItemFind kind = (fi.flags & LVFI_STRING) ? ((fi.flags & LVFI_PARTIAL) ? ifPartialString : ifExactString)
                         : (fi.flags & LVFI_NEARESTXY) ? ifNearest
                                                       : ifData;
        WideString text = ((fi.flags & LVFI_STRING) && fi.psz) ? WideString(fi.psz) : WideString();
        bool wrap = (fi.flags & LVFI_WRAP) != 0;
        int index = -1;
        if (OnWideDataFind) OnWideDataFind(this, kind, text, find->iStart, wrap, index);
        else index = DataFind(kind, WideToAnsi(text), find->iStart, wrap);
        Message.Result = index;
        return;
      }
      if (hdr->code == LVN_BEGINLABELEDITW || hdr->code == LVN_ENDLABELEDITW) {
        auto* info = reinterpret_cast<NMLVDISPINFOW*>(hdr);
        int i = info->item.iItem;
        TUniListItem* item = i >= 0 && i < Items()->Count() ? Item(i) : nullptr;
        Message.Result = 0;
        if (hdr->code == LVN_BEGINLABELEDITW) {
          Message.Result = item && CanEdit(item) ? 0 : 1;
          if (Message.Result == 0) SubclassLabelEdit();
        } else if (item && info->item.pszText) {
          WideString text = info->item.pszText;
          if (OnWideEdited) {
            OnWideEdited(this, item, text);
          } else if (OnEdited) {
            AnsiString ansi = WideToAnsi(text);
            OnEdited(this, item, ansi);
            if (ansi != WideToAnsi(text)) text = AnsiToWide(ansi);
          }
          item->SetCaption(text);
        }
        return;
      }
      if (hdr->code == LVN_GETINFOTIPW && nt) {
        // The library's step writes 8-bit text: it gets its own record with the tip in the code
        // page (room for two bytes a character) and its answer comes back widened.
        auto* info = reinterpret_cast<NMLVGETINFOTIPW*>(hdr);
        Message.Result = 0;
        if (!info->pszText || info->cchTextMax <= 0) return;
        AnsiString tip = WideToAnsi(WideString(info->pszText, wcsnlen(info->pszText, (size_t)info->cchTextMax)));
        std::vector<char> buf(std::max<size_t>((size_t)info->cchTextMax * 2, tip.size() + 1), 0);
        std::copy(tip.begin(), tip.end(), buf.begin());
        NMLVGETINFOTIPA ansi{};
        ansi.hdr = info->hdr;
        ansi.hdr.code = LVN_GETINFOTIPA;
        ansi.dwFlags = info->dwFlags;
        ansi.pszText = buf.data();
        ansi.cchTextMax = (int)buf.size();
        ansi.iItem = info->iItem;
        ansi.iSubItem = info->iSubItem;
        ansi.lParam = info->lParam;
        TMessage m{Message.Msg, Message.WParam, reinterpret_cast<intptr_t>(&ansi), 0};
        TCustomListView::WndProc(m);
        Message.Result = m.Result;
        CopyText(AnsiToWide(AnsiString(buf.data(), strnlen(buf.data(), buf.size()))), info->pszText, info->cchTextMax);
        return;
      }
      if (hdr->code != LVN_GETDISPINFOW) break;
      auto* info = reinterpret_cast<NMLVDISPINFOW*>(hdr);
      UINT mask = info->item.mask;
      // The library answers everything but the text, which is wide.
      hdr->code = LVN_GETDISPINFOA;
      info->item.mask &= ~LVIF_TEXT;
      TCustomListView::WndProc(Message);
      hdr->code = LVN_GETDISPINFOW;
      info->item.mask = mask;
      int i = info->item.iItem;
      if ((mask & LVIF_TEXT) && i >= 0 && i < Items()->Count()) {
        TUniListItem* item = Item(i);
        int sub = info->item.iSubItem;
        WideString text;
        if (sub == 0) text = item->Caption();
        else if (sub - 1 < item->SubItems()->Count()) text = item->SubItems()->Get(sub - 1);
        CopyText(text, info->item.pszText, info->item.cchTextMax);
      }
      return;
    }
    default: break;
  }
  TCustomListView::WndProc(Message);
}

// ---------------------------------------------------------------------------------------------
// Page control

void TUniTabSheet::DefineProperties(TFiler* Filer) {
  TTabSheet::DefineProperties(Filer);
  DefineWideProperties(Filer, this);
}

void TUniTabSheet::CreateWindowHandle(const TCreateParams& Params) { CreateUnicodeWindowHandle(this, Params, L""); }

void TUniTabSheet::WndProc(TMessage& Message) {
  if (Message.Msg == WM_SETTEXT && Win32PlatformIsNT() && !HandleAllocated() && !FSettingCaption) {
    AnsiString text = Message.LParam ? reinterpret_cast<const char*>(Message.LParam) : "";
    if (WideToAnsi(GetControlWideText(this)) != text) {
      FSettingCaption = true;
      try {
        SetControlWideText(this, AnsiToWide(text));
      } catch (...) {
        FSettingCaption = false;
        throw;
      }
      FSettingCaption = false;
      Message.Result = 1;
      return;
    }
  }
  TTabSheet::WndProc(Message);
}

void TUniPageControl::DefineProperties(TFiler* Filer) {
  TPageControl::DefineProperties(Filer);
  DefineWideProperties(Filer, this);
}

void TUniPageControl::CreateWindowHandle(const TCreateParams& Params) {
  CreateUnicodeHandle_ComCtl(this, Params, L"SysTabControl32");
}

void TUniPageControl::WndProc(TMessage& Message) {
  if (Message.Msg == CM_DOCKCLIENT && Message.LParam) {
    TControl* client = reinterpret_cast<TDockClientInfo*>(Message.LParam)->Control;
    auto* sheet = new TUniTabSheet(this);
    sheet->SetCaption(GetControlWideText(client));
    sheet->SetPageControl(this);
    client->SetParent(sheet);
    client->SetAlign(alClient);
    sheet->SetTabVisible(client->Visible());
    if (client->Visible()) SetActivePage(sheet);
    Message.Result = 1;
    return;
  }
  if (Message.Msg == CM_DOCKNOTIFICATION && Message.WParam && Message.LParam) {
    auto* client = reinterpret_cast<TControl*>(Message.WParam);
    auto* msg = reinterpret_cast<TMessage*>(Message.LParam);
    auto* sheet = dynamic_cast<TUniTabSheet*>(client->Parent());
    if (msg->Msg == WM_SETTEXT && sheet) {
      auto* windowed = dynamic_cast<TWinControl*>(client);
      WideString text = windowed && windowed->HandleAllocated() && IsWindowUnicode(H(windowed))
                            ? GetControlWideText(client)
                            : AnsiToWide(msg->LParam ? reinterpret_cast<const char*>(msg->LParam) : "");
      sheet->SetCaption(text.substr(0, text.find_first_of(L"\r\n")));
    }
    return;
  }
  if (Message.Msg == CM_DIALOGCHAR) {
    // The first sheet whose wide caption has the key as its hot key comes up.
    for (int i = 0; i < PageCount(); ++i) {
      TTabSheet* sheet = Pages(i);
      if (!sheet->TabVisible()) continue;
      WideString caption = dynamic_cast<TUniTabSheet*>(sheet) ? GetControlWideText(sheet) : AnsiToWide(sheet->Caption());
      if (!IsWideAccelChar((uint32_t)Message.WParam, caption) || !CanFocus()) continue;
      Message.Result = 1;
      if (sheet != ActivePage() && CanChange()) {
        SetActivePage(sheet);
        Change();
      }
      return;
    }
  }
  bool nt = Win32PlatformIsNT() && HandleAllocated() && IsWindowUnicode(H(this));
  if (nt && Message.Msg == TCM_INSERTITEMA && Message.LParam) {
    reinterpret_cast<TCITEMA*>(Message.LParam)->mask &= ~TCIF_TEXT;
  } else if (nt && Message.Msg == TCM_SETITEMA && Message.LParam) {
    auto* a = reinterpret_cast<TCITEMA*>(Message.LParam);
    TTabSheet* sheet = nullptr;
    int index = (int)Message.WParam;
    if (a->mask & TCIF_PARAM) sheet = reinterpret_cast<TTabSheet*>(a->lParam);
    else if ((a->mask & TCIF_TEXT) && index >= 0 && index < (int)SendMessageW(H(this), TCM_GETITEMCOUNT, 0, 0))
      sheet = PageOfTab(index);
    if (!sheet) {
      a->mask &= ~TCIF_TEXT;
    } else {
      TCITEMW w{};
      w.mask = (a->mask & ~TCIF_PARAM) | TCIF_TEXT | TCIF_PARAM | (UseRightToLeftReading() ? TCIF_RTLREADING : 0);
      w.lParam = reinterpret_cast<LPARAM>(sheet);
      w.iImage = a->iImage;
      WideString caption = dynamic_cast<TUniTabSheet*>(sheet) ? GetControlWideText(sheet) : AnsiToWide(sheet->Caption());
      w.pszText = caption.data();
      Message.Result = SendMessageW(H(this), TCM_SETITEMW, Message.WParam, reinterpret_cast<LPARAM>(&w));
      return;
    }
  }
  TPageControl::WndProc(Message);
}

void TUniTrackBar::CreateWindowHandle(const TCreateParams& Params) {
  CreateUnicodeHandle_ComCtl(this, Params, L"msctls_trackbar32");
}

void TUniProgressBar::CreateWindowHandle(const TCreateParams& Params) {
  CreateUnicodeHandle_ComCtl(this, Params, L"msctls_progress32");
}
