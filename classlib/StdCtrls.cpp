#include "classlib/StdCtrls.h"

#include "classlib/Themes.h"

#include <algorithm>
#include <cstring>
#include <type_traits>
#include <vector>

#include "classlib/ActnList.h"

std::unique_ptr<TControlActionLink> TButtonControl::CreateActionLink() {
  return std::make_unique<TButtonActionLink>(this);
}

namespace {
const TWindowItems::Messages kComboMessages{CB_ADDSTRING,  CB_INSERTSTRING, CB_GETLBTEXT,
                                            CB_GETLBTEXTLEN, CB_DELETESTRING, CB_RESETCONTENT,
                                            CB_GETCOUNT,   CB_GETITEMDATA,  CB_SETITEMDATA,
                                            CB_GETCURSEL,  CB_SETCURSEL};
const TWindowItems::Messages kListMessages{LB_ADDSTRING,  LB_INSERTSTRING, LB_GETTEXT,     LB_GETTEXTLEN, LB_DELETESTRING,
                                           LB_RESETCONTENT, LB_GETCOUNT,   LB_GETITEMDATA, LB_SETITEMDATA,
                                           LB_GETCURSEL,  LB_SETCURSEL};
const char* const kMessages[] = {"List index out of bounds (%d)", "Unable to insert a line",
                                 "Only a virtual list box takes a count"};
enum { msgListIndex, msgInsertLine, msgVirtualCount };

HWND H(TWinControl* C) { return static_cast<HWND>(C->Handle()); }
}  // namespace

void DrawOwnerDrawnItem(TCanvas* Canvas, const DRAWITEMSTRUCT& Item,
                        const std::function<void(int, const RECT&, TOwnerDrawState)>& Draw) {
  HDC dc = Item.hDC;
  int saved = SaveDC(dc);
  Canvas->SetHandle(dc);
  bool selected = (Item.itemState & ODS_SELECTED) != 0;
  Canvas->Font()->SetColor(GetSysColor(selected ? COLOR_HIGHLIGHTTEXT : COLOR_WINDOWTEXT));
  Canvas->Brush()->SetColor(GetSysColor(selected ? COLOR_HIGHLIGHT : COLOR_WINDOW));
  try {
    Draw((int)Item.itemID, Item.rcItem, Item.itemState);
    if ((Item.itemState & ODS_FOCUS) && !(Item.itemState & ODS_NOFOCUSRECT)) DrawFocusRect(dc, &Item.rcItem);
  } catch (...) {
    Canvas->SetHandle(nullptr);
    RestoreDC(dc, saved);
    throw;
  }
  Canvas->SetHandle(nullptr);
  RestoreDC(dc, saved);
}

namespace {
// The default drawing of an owner-drawn item: its background, then its text 2 pixels in from the
// left edge, or from the right edge reading right to left.
void DrawItemText(TControl* Control, TCanvas* Canvas, const RECT& Rect, int Index, TStrings* Items) {
  HDC dc = static_cast<HDC>(Canvas->Handle());
  Canvas->RequiredState(csHandleValid | csFontValid | csBrushValid);
  FillRect(dc, &Rect, static_cast<HBRUSH>(Canvas->Brush()->Handle()));
  if (Index < 0 || Index >= Items->Count()) return;
  AnsiString text = Items->Get(Index);
  SetBkMode(dc, TRANSPARENT);
  if (!Control->UseRightToLeftReading()) {
    TextOutA(dc, Rect.left + 2, Rect.top, text.c_str(), (int)text.size());
    return;
  }
  RECT r{Rect.left, Rect.top, Rect.right - 2, Rect.bottom};
  DrawTextA(dc, text.c_str(), (int)text.size(), &r, Control->DrawTextBiDiModeFlags(DT_SINGLELINE | DT_NOPREFIX));
}
}  // namespace

// ---------------------------------------------------------------------------------------------

TWindowItems::~TWindowItems() = default;

HWND TWindowItems::Wnd() const { return FControl->HandleAllocated() ? static_cast<HWND>(FControl->Handle()) : nullptr; }

int TWindowItems::Count() const {
  HWND w = Wnd();
  return w ? (int)SendMessageA(w, FMsgs.Count, 0, 0) : FSaved->Count();
}

AnsiString TWindowItems::Get(int Index) const {
  HWND w = Wnd();
  if (!w) return FSaved->Get(Index);
  LRESULT len = SendMessageA(w, FMsgs.GetTextLen, Index, 0);
  if (len < 0) throw EStringListError(Format(kMessages[msgListIndex], Index));
  std::vector<char> buf((size_t)len + 1, 0);
  LRESULT n = SendMessageA(w, FMsgs.GetText, Index, reinterpret_cast<LPARAM>(buf.data()));
  if (n < 0) n = 0;
  return AnsiString(buf.data(), (size_t)std::min(n, len));
}

TObject* TWindowItems::GetObject(int Index) const {
  HWND w = Wnd();
  if (!w) return FSaved->GetObject(Index);
  LRESULT d = SendMessageA(w, FMsgs.GetData, Index, 0);
  if (d == -1) throw EStringListError(Format(kMessages[msgListIndex], Index));
  return reinterpret_cast<TObject*>(d);
}

void TWindowItems::PutObject(int Index, TObject* AObject) {
  HWND w = Wnd();
  if (!w) FSaved->PutObject(Index, AObject);
  else SendMessageA(w, FMsgs.SetData, Index, reinterpret_cast<LPARAM>(AObject));
}

void TWindowItems::Put(int Index, const AnsiString& S) {
  HWND w = Wnd();
  if (!w) {
    FSaved->Put(Index, S);
    return;
  }
  int selected = (int)SendMessageA(w, FMsgs.GetCurSel, 0, 0);
  TObject* data = GetObject(Index);
  Delete(Index);
  Insert(Index, S);
  PutObject(Index, data);
  SendMessageA(w, FMsgs.SetCurSel, selected, 0);
}

int TWindowItems::Add(const AnsiString& S) {
  HWND w = Wnd();
  if (!w) return FSaved->Add(S);
  LRESULT r = SendMessageA(w, FMsgs.Add, 0, reinterpret_cast<LPARAM>(S.c_str()));
  if (r < 0) throw EOutOfResources(kMessages[msgInsertLine]);
  return (int)r;
}

void TWindowItems::Insert(int Index, const AnsiString& S) {
  HWND w = Wnd();
  if (!w) {
    FSaved->Insert(Index, S);
    return;
  }
  if (SendMessageA(w, FMsgs.Insert, Index, reinterpret_cast<LPARAM>(S.c_str())) < 0)
    throw EOutOfResources(kMessages[msgInsertLine]);
}

void TWindowItems::Delete(int Index) {
  HWND w = Wnd();
  if (!w) FSaved->Delete(Index);
  else SendMessageA(w, FMsgs.Delete, Index, 0);
}

void TWindowItems::Clear() {
  HWND w = Wnd();
  if (!w) FSaved->Clear();
  else SendMessageA(w, FMsgs.Reset, 0, 0);
}

void TWindowItems::SaveFromWindow() {
  HWND w = Wnd();
  if (!w) return;
  FSaved->Clear();
  int n = Count();
  for (int i = 0; i < n; ++i) FSaved->AddObject(Get(i), GetObject(i));
}

void TWindowItems::RestoreToWindow() {
  HWND w = Wnd();
  if (!w) return;
  for (int i = 0; i < FSaved->Count(); ++i) {
    int at = (int)SendMessageA(w, FMsgs.Add, 0, reinterpret_cast<LPARAM>(FSaved->Get(i).c_str()));
    if (at >= 0) SendMessageA(w, FMsgs.SetData, at, reinterpret_cast<LPARAM>(FSaved->GetObject(i)));
  }
  FSaved->Clear();
}

// ---------------------------------------------------------------------------------------------

TCustomEdit::TCustomEdit(TComponent* AOwner) : TWinControl(AOwner) { SetBounds(0, 0, 121, 21); }

void TCustomEdit::CreateParams(TCreateParams& Params) {
  TWinControl::CreateParams(Params);
  CreateSubClass(Params, "EDIT");
  Params.Style |= WS_TABSTOP | ES_AUTOHSCROLL;
  Params.ExStyle |= WS_EX_CLIENTEDGE;
  if (FReadOnly) Params.Style |= ES_READONLY;
}

void TCustomEdit::CreateWnd() {
  TWinControl::CreateWnd();
  if (FPasswordChar) SendMessageA(H(this), EM_SETPASSWORDCHAR, (unsigned char)FPasswordChar, 0);
}

void TCustomEdit::SetReadOnly(bool Value) {
  FReadOnly = Value;
  if (HandleAllocated()) SendMessageA(H(this), EM_SETREADONLY, Value, 0);
}

void TCustomEdit::SetPasswordChar(char Value) {
  if (FPasswordChar == Value) return;
  FPasswordChar = Value;
  if (HandleAllocated()) {
    SendMessageA(H(this), EM_SETPASSWORDCHAR, (unsigned char)Value, 0);
    Invalidate();
  }
}

int TCustomEdit::SelStart() {
  DWORD start = 0;
  SendMessageA(H(this), EM_GETSEL, reinterpret_cast<WPARAM>(&start), 0);
  return (int)start;
}

void TCustomEdit::SetSelStart(int Value) { SendMessageA(H(this), EM_SETSEL, Value, Value); }

int TCustomEdit::SelLength() {
  DWORD start = 0, end = 0;
  SendMessageA(H(this), EM_GETSEL, reinterpret_cast<WPARAM>(&start), reinterpret_cast<LPARAM>(&end));
  return (int)(end - start);
}

void TCustomEdit::SetSelLength(int Value) {
  int start = SelStart();
  SendMessageA(H(this), EM_SETSEL, start, start + Value);
}

AnsiString TCustomEdit::SelText() {
  AnsiString text = Text();
  int start = std::clamp(SelStart(), 0, (int)text.size());
  return text.substr(start, std::max(0, SelLength()));
}

void TCustomEdit::KeyPress(char& Key) {
  if (Key && OnKeyPress) OnKeyPress(this, Key);
}

void TCustomEdit::WndProc(TMessage& Message) {
  if (Message.Msg == WM_CHAR) {
    char key = (char)(Message.WParam & 0xFF);
    KeyPress(key);
    if (!key) return;
    Message.WParam = (Message.WParam & ~0xFFu) | (unsigned char)key;
  } else if (Message.Msg == CN_COMMAND && HIWORD(Message.WParam) == EN_CHANGE) {
    if (OnChange) OnChange(this);
  }
  TWinControl::WndProc(Message);
}

// ---------------------------------------------------------------------------------------------

namespace {
// The lines of a memo: its window's lines, or its text while it has no window.
class TMemoStrings : public TStrings {
 public:
  explicit TMemoStrings(TCustomMemo* Memo) : FMemo(Memo) {}
  const char* ClassName() const override { return "TMemoStrings"; }
  int Count() const override { return (int)Lines().size(); }
  AnsiString Get(int Index) const override {
    auto l = Lines();
    if (Index < 0 || Index >= (int)l.size()) Error(kMessages[msgListIndex], Index);
    return l[Index];
  }
  void Put(int Index, const AnsiString& S) override {
    auto l = Lines();
    if (Index < 0 || Index >= (int)l.size()) Error(kMessages[msgListIndex], Index);
    l[Index] = S;
    SetLines(l);
  }
  void Insert(int Index, const AnsiString& S) override {
    auto l = Lines();
    if (Index < 0 || Index > (int)l.size()) Error(kMessages[msgListIndex], Index);
    l.insert(l.begin() + Index, S);
    SetLines(l);
  }
  void Delete(int Index) override {
    auto l = Lines();
    if (Index < 0 || Index >= (int)l.size()) Error(kMessages[msgListIndex], Index);
    l.erase(l.begin() + Index);
    SetLines(l);
  }
  void Clear() override { FMemo->SetText(""); }

 private:
  std::vector<AnsiString> Lines() const {
    AnsiString t = FMemo->Text();
    std::vector<AnsiString> l;
    size_t i = 0;
    while (i < t.size()) {
      size_t e = t.find_first_of("\r\n", i);
      if (e == AnsiString::npos) {
        l.push_back(t.substr(i));
        break;
      }
      l.push_back(t.substr(i, e - i));
      i = e + ((t[e] == '\r' && e + 1 < t.size() && t[e + 1] == '\n') ? 2 : 1);
    }
    return l;
  }
  void SetLines(const std::vector<AnsiString>& L) {
    AnsiString t;
    for (size_t i = 0; i < L.size(); ++i) t += (i ? "\r\n" : "") + L[i];
    FMemo->SetText(t);
  }
  TCustomMemo* FMemo;
};
}  // namespace

TCustomMemo::TCustomMemo(TComponent* AOwner) : TCustomEdit(AOwner), FLines(std::make_unique<TMemoStrings>(this)) {
  SetBounds(0, 0, 185, 89);
}

void TCustomMemo::CreateParams(TCreateParams& Params) {
  TCustomEdit::CreateParams(Params);
  Params.Style = (Params.Style & ~ES_AUTOHSCROLL) | ES_MULTILINE | ES_AUTOVSCROLL | WS_VSCROLL | ES_WANTRETURN;
}

// ---------------------------------------------------------------------------------------------

TCustomComboBox::TCustomComboBox(TComponent* AOwner)
    : TWinControl(AOwner), FItems(std::make_unique<TWindowItems>(this, kComboMessages)) {
  SetBounds(0, 0, 145, 200);
}

void TCustomComboBox::CreateParams(TCreateParams& Params) {
  TWinControl::CreateParams(Params);
  CreateSubClass(Params, "COMBOBOX");
  static const DWORD styles[] = {CBS_DROPDOWN, CBS_SIMPLE, CBS_DROPDOWNLIST,
                                 CBS_DROPDOWNLIST | CBS_OWNERDRAWFIXED | CBS_HASSTRINGS,
                                 CBS_DROPDOWNLIST | CBS_OWNERDRAWVARIABLE | CBS_HASSTRINGS};
  Params.Style |= WS_VSCROLL | WS_TABSTOP | CBS_AUTOHSCROLL | styles[FStyle];
}

void TCustomComboBox::CreateWnd() {
  AnsiString text = FText;
  TWinControl::CreateWnd();
  FItems->RestoreToWindow();
  if (FSavedItemIndex >= 0) SetItemIndex(std::min(FSavedItemIndex, FItems->Count() - 1));
  FSavedItemIndex = -1;
  if (FStyle != csDropDownList && !text.empty()) SetText(text);
}

void TCustomComboBox::DestroyWnd() {
  if (HandleAllocated()) {
    FSavedItemIndex = ItemIndex();
    FItems->SaveFromWindow();
  }
  TWinControl::DestroyWnd();
}

int TCustomComboBox::ItemIndex() {
  if (!HandleAllocated()) return FSavedItemIndex;
  return (int)SendMessageA(H(this), CB_GETCURSEL, 0, 0);
}

void TCustomComboBox::SetItemIndex(int Value) {
  if (!HandleAllocated()) {
    FSavedItemIndex = Value;
    return;
  }
  SendMessageA(H(this), CB_SETCURSEL, Value, 0);
}

void TCustomComboBox::SetStyle(TComboBoxStyle Value) {
  if (FStyle == Value) return;
  FStyle = Value;
  RecreateWnd();
}

bool TCustomComboBox::DroppedDown() { return HandleAllocated() && SendMessageA(H(this), CB_GETDROPPEDSTATE, 0, 0); }
void TCustomComboBox::SetDroppedDown(bool Value) { SendMessageA(H(this), CB_SHOWDROPDOWN, Value, 0); }

void TCustomComboBox::Select() {
  if (OnSelect) OnSelect(this);
  else Change();
}

void TCustomComboBox::Change() {
  if (OnChange) OnChange(this);
}

void TCustomComboBox::KeyPress(char& Key) {
  if (Key && OnKeyPress) OnKeyPress(this, Key);
}

void TCustomComboBox::DrawItem(int Index, const RECT& Rect, TOwnerDrawState State) {
  if (OnDrawItem) OnDrawItem(this, Index, Rect, State);
  else DrawItemText(this, FCanvas.get(), Rect, Index, FItems.get());
}

void TCustomComboBox::WndProc(TMessage& Message) {
  if (Message.Msg == CN_DRAWITEM && Message.LParam) {
    DrawOwnerDrawnItem(FCanvas.get(), *reinterpret_cast<DRAWITEMSTRUCT*>(Message.LParam),
                       [this](int I, const RECT& R, TOwnerDrawState S) { DrawItem(I, R, S); });
    Message.Result = 1;
    return;
  }
  if (Message.Msg == CN_COMMAND) {
    switch (HIWORD(Message.WParam)) {
      case CBN_SELCHANGE:
        Click();
        Select();
        return;
      case CBN_EDITCHANGE: Change(); return;
      default: break;
    }
  } else if (Message.Msg == WM_CHAR) {
    char key = (char)(Message.WParam & 0xFF);
    KeyPress(key);
    if (!key) return;
  }
  TWinControl::WndProc(Message);
}

// ---------------------------------------------------------------------------------------------

TCustomListBox::TCustomListBox(TComponent* AOwner)
    : TWinControl(AOwner), FItems(std::make_unique<TWindowItems>(this, kListMessages)) {
  SetBounds(0, 0, 121, 97);
}

void TCustomListBox::CreateParams(TCreateParams& Params) {
  TWinControl::CreateParams(Params);
  CreateSubClass(Params, "LISTBOX");
  Params.Style |= WS_VSCROLL | WS_TABSTOP | LBS_NOTIFY | LBS_HASSTRINGS | LBS_NOINTEGRALHEIGHT;
  Params.ExStyle |= WS_EX_CLIENTEDGE;
  // A list without data of its own is drawn by the control (by default its texts from OnData).
  if (IsVirtual()) Params.Style = (Params.Style & ~LBS_HASSTRINGS) | LBS_NODATA | LBS_OWNERDRAWFIXED;
  if (FStyle == lbOwnerDrawFixed) Params.Style |= LBS_OWNERDRAWFIXED;
  if (FStyle == lbOwnerDrawVariable) Params.Style |= LBS_OWNERDRAWVARIABLE;
  if (FMultiSelect) Params.Style |= LBS_EXTENDEDSEL;
}

void TCustomListBox::CreateWnd() {
  TWinControl::CreateWnd();
  if (IsVirtual()) SendMessageA(H(this), LB_SETCOUNT, FCount, 0);
  else FItems->RestoreToWindow();
  SetTopIndex(FSavedTopIndex);
  if (FSavedItemIndex >= 0) SetItemIndex(FSavedItemIndex);
  FSavedItemIndex = -1;
  FSavedTopIndex = 0;
}

void TCustomListBox::DestroyWnd() {
  if (HandleAllocated()) {
    FSavedItemIndex = ItemIndex();
    FSavedTopIndex = TopIndex();
    if (IsVirtual()) FCount = FItems->Count();
    else FItems->SaveFromWindow();
  }
  TWinControl::DestroyWnd();
}

int TCustomListBox::ItemIndex() {
  if (!HandleAllocated()) return FSavedItemIndex;
  return (int)SendMessageA(H(this), FMultiSelect ? LB_GETCARETINDEX : LB_GETCURSEL, 0, 0);
}

void TCustomListBox::SetItemIndex(int Value) {
  if (!HandleAllocated()) FSavedItemIndex = Value;
  else if (FMultiSelect) {
    // The focused item, and it alone selected.
    SendMessageA(H(this), LB_SETSEL, FALSE, -1);
    if (Value >= 0) SendMessageA(H(this), LB_SETSEL, TRUE, Value);
    SendMessageA(H(this), LB_SETCARETINDEX, Value, FALSE);
  } else
    SendMessageA(H(this), LB_SETCURSEL, Value, 0);
}

void TCustomListBox::SetMultiSelect(bool Value) {
  if (FMultiSelect == Value) return;
  FMultiSelect = Value;
  if (HandleAllocated()) RecreateWnd();
}

bool TCustomListBox::Selected(int Index) {
  if (Index < 0 || Index >= Count()) throw EStringListError(Format(kMessages[msgListIndex], Index));
  if (!HandleAllocated()) return Index == FSavedItemIndex;
  return SendMessageA(H(this), LB_GETSEL, Index, 0) > 0;
}

void TCustomListBox::SetSelected(int Index, bool Value) {
  if (Index < 0 || Index >= Count()) throw EStringListError(Format(kMessages[msgListIndex], Index));
  if (!HandleAllocated()) {
    if (Value) FSavedItemIndex = Index;
    else if (FSavedItemIndex == Index) FSavedItemIndex = -1;
  } else if (FMultiSelect)
    SendMessageA(H(this), LB_SETSEL, Value, Index);
  else
    SendMessageA(H(this), LB_SETCURSEL, Value ? Index : -1, 0);
}

int TCustomListBox::TopIndex() { return HandleAllocated() ? (int)SendMessageA(H(this), LB_GETTOPINDEX, 0, 0) : FSavedTopIndex; }

void TCustomListBox::SetTopIndex(int Value) {
  if (!HandleAllocated()) FSavedTopIndex = Value;
  else SendMessageA(H(this), LB_SETTOPINDEX, Value, 0);
}

void TCustomListBox::SetStyle(TListBoxStyle Value) {
  if (FStyle == Value) return;
  FStyle = Value;
  RecreateWnd();
}

void TCustomListBox::SetCount(int Value) {
  if (!IsVirtual()) throw EInvalidOperation(kMessages[msgVirtualCount]);
  FCount = std::max(0, Value);
  if (HandleAllocated()) SendMessageA(H(this), LB_SETCOUNT, FCount, 0);
}

void TCustomListBox::DrawItem(int Index, const RECT& Rect, TOwnerDrawState State) {
  if (OnDrawItem) OnDrawItem(this, Index, Rect, State);
  else DrawItemText(this, FCanvas.get(), Rect, Index, FItems.get());
}

void TCustomListBox::WndProc(TMessage& Message) {
  if (IsVirtual() && (Message.Msg == LB_GETTEXT || Message.Msg == LB_GETTEXTLEN) && OnData && HandleAllocated()) {
    // The texts of a virtual list come from OnData.
    int index = (int)Message.WParam;
    if (index < 0 || index >= Count()) {
      Message.Result = LB_ERR;
      return;
    }
    AnsiString data;
    OnData(this, index, data);
    if (Message.Msg == LB_GETTEXT && Message.LParam) {
      char* buf = reinterpret_cast<char*>(Message.LParam);
      memcpy(buf, data.c_str(), data.size() + 1);
    }
    Message.Result = (intptr_t)data.size();
    return;
  }
  if (Message.Msg == CN_DRAWITEM && Message.LParam) {
    DrawOwnerDrawnItem(FCanvas.get(), *reinterpret_cast<DRAWITEMSTRUCT*>(Message.LParam),
                       [this](int I, const RECT& R, TOwnerDrawState S) { DrawItem(I, R, S); });
    Message.Result = 1;
    return;
  }
  if (Message.Msg == CN_COMMAND && HIWORD(Message.WParam) == LBN_SELCHANGE) {
    Click();
    return;
  }
  TWinControl::WndProc(Message);
}

// ---------------------------------------------------------------------------------------------

void TGraphicControl::Invalidate() {
  if (!Parent() || !Parent()->HandleAllocated()) return;
  RECT r{Left(), Top(), Left() + Width(), Top() + Height()};
  InvalidateRect(static_cast<HWND>(Parent()->Handle()), &r, TRUE);
}

void TGraphicControl::WndProc(TMessage& Message) {
  TControl::WndProc(Message);
  if (Message.Msg == CM_TEXTCHANGED || Message.Msg == CM_BIDIMODECHANGED) Invalidate();
}

TCustomLabel::TCustomLabel(TComponent* AOwner) : TGraphicControl(AOwner) { SetBounds(0, 0, 65, 17); }

UINT TCustomLabel::DrawFlags() const {
  UINT flags = DT_EXPANDTABS | (FWordWrap ? DT_WORDBREAK : 0);
  if (!FShowAccelChar) flags |= DT_NOPREFIX;
  return flags;
}

void TCustomLabel::DoDrawText(HDC DC, RECT& Rect, UINT Flags) {
  Flags = DrawTextBiDiModeFlags(Flags);
  AnsiString text = FText;
  if ((Flags & DT_CALCRECT) && (text.empty() || (FShowAccelChar && text == "&"))) text += ' ';
  DrawTextA(DC, text.c_str(), (int)text.size(), &Rect, Flags);
}

void TCustomLabel::Paint(HDC DC) {
  RECT r{0, 0, Width(), Height()};
  SetBkMode(DC, TRANSPARENT);
  SelectObject(DC, GetStockObject(DEFAULT_GUI_FONT));
  SetTextColor(DC, GetSysColor(Enabled() ? COLOR_WINDOWTEXT : COLOR_GRAYTEXT));
  DoDrawText(DC, r, DrawFlags());
}

// ---------------------------------------------------------------------------------------------

TButton::TButton(TComponent* AOwner) : TButtonControl(AOwner) { SetBounds(0, 0, 75, 25); }

void TButton::CreateParams(TCreateParams& Params) {
  TButtonControl::CreateParams(Params);
  CreateSubClass(Params, "BUTTON");
  Params.Style |= WS_TABSTOP | (FDefault ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON);
}

void TButton::SetDefault(bool Value) {
  if (FDefault == Value) return;
  FDefault = Value;
  if (HandleAllocated())
    SendMessageW(static_cast<HWND>(Handle()), BM_SETSTYLE, FDefault ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON, TRUE);
}

void TButton::WndProc(TMessage& Message) {
  if (Message.Msg == CN_COMMAND && HIWORD(Message.WParam) == BN_CLICKED) {
    Click();
    return;
  }
  TButtonControl::WndProc(Message);
}

TCustomCheckBox::TCustomCheckBox(TComponent* AOwner) : TButtonControl(AOwner) { SetBounds(0, 0, 97, 17); }

void TCustomCheckBox::CreateParams(TCreateParams& Params) {
  TButtonControl::CreateParams(Params);
  CreateSubClass(Params, "BUTTON");
  Params.Style |= WS_TABSTOP | BS_3STATE;
}

void TCustomCheckBox::CreateWnd() {
  TButtonControl::CreateWnd();
  SendMessageA(H(this), BM_SETCHECK, FChecked ? BST_CHECKED : BST_UNCHECKED, 0);
}

void TCustomCheckBox::DestroyWnd() {
  FChecked = Checked();
  TButtonControl::DestroyWnd();
}

bool TCustomCheckBox::Checked() {
  if (!HandleAllocated()) return FChecked;
  return SendMessageA(H(this), BM_GETCHECK, 0, 0) == BST_CHECKED;
}

void TCustomCheckBox::SetChecked(bool Value) {
  FChecked = Value;
  if (HandleAllocated()) SendMessageA(H(this), BM_SETCHECK, Value ? BST_CHECKED : BST_UNCHECKED, 0);
  Click();
}

void TCustomCheckBox::WndProc(TMessage& Message) {
  if (Message.Msg == CN_COMMAND && HIWORD(Message.WParam) == BN_CLICKED) {
    Toggle();
    return;
  }
  TButtonControl::WndProc(Message);
}

// ---------------------------------------------------------------------------------------------

void TControlCanvas::CreateHandle() {
  if (!FControl->HandleAllocated()) return;
  FOwnDC = GetDC(H(FControl));
  SetHandle(FOwnDC);
}

void TControlCanvas::FreeHandle() {
  if (!FOwnDC) return;
  HDC dc = FOwnDC;
  FOwnDC = nullptr;
  SetHandle(nullptr);
  ReleaseDC(FControl->HandleAllocated() ? H(FControl) : nullptr, dc);
}

TCustomControl::TCustomControl(TComponent* AOwner)
    : TWinControl(AOwner), FCanvas(std::make_unique<TControlCanvas>(this)) {}

TCustomControl::~TCustomControl() { FCanvas->FreeHandle(); }

void TCustomControl::DestroyWnd() {
  FCanvas->FreeHandle();
  TWinControl::DestroyWnd();
}

void TCustomControl::PaintWithCanvas(HDC DC) {
  FCanvas->FreeHandle();
  FCanvas->SetHandle(DC);
  try {
    Paint(DC);
  } catch (...) {
    FCanvas->SetHandle(nullptr);
    throw;
  }
  FCanvas->SetHandle(nullptr);
}

void TCustomControl::WndProc(TMessage& Message) {
  if (Message.Msg == WM_PRINTCLIENT && Message.WParam) {
    // Painting into a device context of the caller's.
    HDC dc = reinterpret_cast<HDC>(Message.WParam);
    int saved = SaveDC(dc);
    PaintWithCanvas(dc);
    RestoreDC(dc, saved);
    Message.Result = 0;
    return;
  }
  if (Message.Msg == WM_PAINT && HandleAllocated()) {
    PAINTSTRUCT ps;
    HDC dc = Message.WParam ? reinterpret_cast<HDC>(Message.WParam) : BeginPaint(H(this), &ps);
    try {
      PaintWithCanvas(dc);
      PaintControls(dc);
    } catch (...) {
      if (!Message.WParam) EndPaint(H(this), &ps);
      throw;
    }
    if (!Message.WParam) EndPaint(H(this), &ps);
    Message.Result = 0;
    return;
  }
  TWinControl::WndProc(Message);
}

// ---------------------------------------------------------------------------------------------

TScrollBar::TScrollBar(TComponent* AOwner) : TWinControl(AOwner) {
  SetBounds(0, 0, 121, GetSystemMetrics(SM_CYHSCROLL));
}

void TScrollBar::CreateParams(TCreateParams& Params) {
  TWinControl::CreateParams(Params);
  CreateSubClass(Params, "SCROLLBAR");
  Params.Style |= FKind == sbVertical ? SBS_VERT : SBS_HORZ;
  if (FTabStop) Params.Style |= WS_TABSTOP;
}

void TScrollBar::CreateWnd() {
  TWinControl::CreateWnd();
  UpdateScrollInfo();
}

void TScrollBar::SetKind(TScrollBarKind Value) {
  if (FKind == Value) return;
  FKind = Value;
  // The long side follows the kind.
  SetBounds(Left(), Top(), Height(), Width());
  RecreateWnd();
}

void TScrollBar::UpdateScrollInfo() {
  if (!HandleAllocated()) return;
  SCROLLINFO si{};
  si.cbSize = sizeof si;
  si.fMask = SIF_ALL;
  si.nMin = FMin;
  si.nMax = FMax;
  si.nPage = (UINT)std::max(FPageSize, 0);
  si.nPos = FPosition;
  SetScrollInfo(H(this), SB_CTL, &si, TRUE);
}

void TScrollBar::SetParams(int APosition, int AMin, int AMax) {
  if (AMax < AMin) AMax = AMin;
  APosition = std::clamp(APosition, AMin, AMax);
  bool changed = APosition != FPosition;
  FMin = AMin;
  FMax = AMax;
  FPosition = APosition;
  UpdateScrollInfo();
  if (changed) Change();
}

void TScrollBar::SetPageSize(int Value) {
  if (FPageSize == Value) return;
  FPageSize = Value;
  UpdateScrollInfo();
}

void TScrollBar::Change() {
  if (OnChange) OnChange(this);
}

void TScrollBar::Scroll(TScrollCode ScrollCode, int& ScrollPos) {
  if (OnScroll) OnScroll(this, ScrollCode, ScrollPos);
}

void TScrollBar::WndProc(TMessage& Message) {
  if (Message.Msg == CN_HSCROLL || Message.Msg == CN_VSCROLL) {
    int pos = FPosition;
    TScrollCode code = scEndScroll;
    switch (LOWORD(Message.WParam)) {
      case SB_LINEUP: code = scLineUp; pos -= FSmallChange; break;
      case SB_LINEDOWN: code = scLineDown; pos += FSmallChange; break;
      case SB_PAGEUP: code = scPageUp; pos -= FLargeChange; break;
      case SB_PAGEDOWN: code = scPageDown; pos += FLargeChange; break;
      case SB_THUMBPOSITION:
      case SB_THUMBTRACK: {
        // The 32-bit track position (the message carries only 16 bits).
        code = LOWORD(Message.WParam) == SB_THUMBTRACK ? scTrack : scPosition;
        SCROLLINFO si{};
        si.cbSize = sizeof si;
        si.fMask = SIF_TRACKPOS;
        pos = HandleAllocated() && GetScrollInfo(H(this), SB_CTL, &si) ? si.nTrackPos : (short)HIWORD(Message.WParam);
        break;
      }
      case SB_TOP: code = scTop; pos = FMin; break;
      case SB_BOTTOM: code = scBottom; pos = FMax; break;
      default: break;
    }
    pos = std::clamp(pos, FMin, std::max(FMin, FMax));
    Scroll(code, pos);
    SetPosition(pos);
    Message.Result = 0;
    return;
  }
  TWinControl::WndProc(Message);
}

TCustomGroupBox::TCustomGroupBox(TComponent* AOwner) : TCustomControl(AOwner) { SetBounds(0, 0, 185, 105); }

bool DrawThemedGroupBox(HWND Wnd, HDC DC, int Width, int Height, const WideString& Caption, bool Enabled,
                        bool RightToLeft) {
  const TThemeApi& f = ThemeApi();
  if (!f.DrawThemeBackground || !f.DrawThemeText) return false;
  TThemeHandle handle(Wnd, L"BUTTON");
  if (!handle) return false;
  HTHEME_ theme = handle.Handle();
  constexpr int BP_GROUPBOX = 4, GBS_NORMAL = 1, GBS_DISABLED = 2;
  int state = Enabled ? GBS_NORMAL : GBS_DISABLED;
  SIZE ext{};
  GetTextExtentPoint32W(DC, L"0", 1, &ext);
  int h = ext.cy;
  RECT caption{0, 0, 0, 0};
  if (!Caption.empty()) {
    GetTextExtentPoint32W(DC, Caption.c_str(), (int)Caption.size(), &ext);
    caption.left = RightToLeft ? Width - 8 - ext.cx : 8;
    caption.right = caption.left + ext.cx;
    caption.bottom = ext.cy;
  }
  RECT frame{0, h / 2 - 1, Width, Height};
  int saved = SaveDC(DC);
  if (!Caption.empty()) ExcludeClipRect(DC, caption.left, caption.top, caption.right, caption.bottom);
  f.DrawThemeBackground(theme, DC, BP_GROUPBOX, state, &frame, nullptr);
  RestoreDC(DC, saved);
  if (!Caption.empty())
    f.DrawThemeText(theme, DC, BP_GROUPBOX, state, Caption.c_str(), (int)Caption.size(),
                    DT_SINGLELINE | (RightToLeft ? DT_RTLREADING : 0), 0, &caption);
  return true;
}

void TCustomGroupBox::Paint(HDC DC) {
  SelectObject(DC, GetStockObject(DEFAULT_GUI_FONT));
  AnsiString text = FText;
  int n = MultiByteToWideChar(CP_ACP, 0, text.data(), (int)text.size(), nullptr, 0);
  WideString wide((size_t)std::max(n, 0), L'\0');
  if (n > 0) MultiByteToWideChar(CP_ACP, 0, text.data(), (int)text.size(), wide.data(), n);
  bool rtl = UseRightToLeftReading();
  if (DrawThemedGroupBox(static_cast<HWND>(Handle()), DC, Width(), Height(), wide, Enabled(), rtl)) return;
  SIZE sz{};
  GetTextExtentPoint32A(DC, "0", 1, &sz);
  RECT r{0, sz.cy / 2 - 1, Width(), Height()};
  DrawEdge(DC, &r, EDGE_ETCHED, BF_RECT);
  if (text.empty()) return;
  // The caption sits 8 pixels in from the left edge, or from the right edge reading right to left.
  int left = 8;
  if (rtl) {
    SIZE ext{};
    GetTextExtentPoint32A(DC, text.c_str(), (int)text.size(), &ext);
    left = Width() - ext.cx - 8;
  }
  RECT t{left, 0, left, sz.cy};
  UINT flags = DrawTextBiDiModeFlags(DT_SINGLELINE);
  DrawTextA(DC, text.c_str(), (int)text.size(), &t, flags | DT_CALCRECT);
  SetBkColor(DC, GetSysColor(COLOR_BTNFACE));
  SetBkMode(DC, OPAQUE);
  DrawTextA(DC, text.c_str(), (int)text.size(), &t, flags);
}
