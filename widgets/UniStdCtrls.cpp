#include "widgets/UniStdCtrls.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "classlib/WideStrings.h"
#include "unicode/UniGraphics.h"
#include "unicode/UniSysUtils.h"
#include "unicode/UniSystem.h"
#include "unicode/UniWindows.h"
#include "widgets/UniControls.h"
#include "widgets/UniMenus.h"

std::function<uint32_t()> UniComboTickCount = [] { return (uint32_t)GetTickCount(); };

namespace {
const char kUnit[] = "UniStdCtrls";
const char* const kMessages[] = {
    "Line too long", "Unable to insert a line", "List index out of bounds (%d)",
    "Internal Error: UniCombo_AutoCompleteKeyPress is only for csSimple and csDropDown style combo boxes."};
enum { msgLineTooLong, msgInsertLine, msgListIndex, msgAutoCompleteStyle };
constexpr uint32_t kSearchResetMs = 1250;

HWND H(TWinControl* C) { return static_cast<HWND>(C->Handle()); }

// A Unicode window to talk to: the control's, made when the control can have one.
bool HasUnicodeWindow(TWinControl* C) {
  if (!Win32PlatformIsNT()) return false;
  if (!C->HandleAllocated() && !C->Parent()) return false;
  return IsWindowUnicode(H(C)) != 0;
}
}  // namespace

#define UNI_DEFINE_PROPERTIES(Class, Base)     \
  void Class::DefineProperties(TFiler* Filer) { \
    Base::DefineProperties(Filer);              \
    DefineWideProperties(Filer, this);          \
  }

UNI_DEFINE_PROPERTIES(TUniCustomEdit, TCustomEdit)
UNI_DEFINE_PROPERTIES(TUniCustomMemo, TCustomMemo)
UNI_DEFINE_PROPERTIES(TUniCustomComboBox, TCustomComboBox)
UNI_DEFINE_PROPERTIES(TUniCustomListBox, TCustomListBox)
UNI_DEFINE_PROPERTIES(TUniCustomLabel, TCustomLabel)
UNI_DEFINE_PROPERTIES(TUniButton, TButton)
UNI_DEFINE_PROPERTIES(TUniCustomCheckBox, TCustomCheckBox)
UNI_DEFINE_PROPERTIES(TUniCustomGroupBox, TCustomGroupBox)

bool IsWideAccelChar(uint32_t CharCode, const WideString& Caption) {
  WideString key = HotKeyOfCaption(Caption);
  return !key.empty() && WideCompareText(WideString(1, CharCodeToWideChar(CharCode)), key) == 0;
}

// ---------------------------------------------------------------------------------------------
// Edit

void TUniCustomEdit::CreateWindowHandle(const TCreateParams& Params) {
  if (!Win32PlatformIsNT() && SysLocale().FarEast && (Params.Style & ES_READONLY)) {
    // Such systems draw a read-only edit made with that style wrongly: made writable, then read-only.
    TCreateParams p = Params;
    p.Style &= ~ES_READONLY;
    CreateUnicodeWindowHandle(this, p, L"EDIT");
    SendMessageA(H(this), EM_SETREADONLY, TRUE, 0);
    return;
  }
  CreateUnicodeWindowHandle(this, Params, L"EDIT");
}

void TUniCustomEdit::CreateWnd() {
  TCustomEdit::CreateWnd();
  if (Win32PlatformIsNT() && FWidePasswordChar) SendMessageW(H(this), EM_SETPASSWORDCHAR, FWidePasswordChar, 0);
}

namespace {
char AnsiPasswordChar(wchar_t Ch) { return Ch < 256 ? (char)Ch : '*'; }
}  // namespace

wchar_t TUniCustomEdit::PasswordChar() {
  if (AnsiPasswordChar(FWidePasswordChar) != TCustomEdit::PasswordChar())
    FWidePasswordChar = (unsigned char)TCustomEdit::PasswordChar();
  return FWidePasswordChar;
}

void TUniCustomEdit::SetPasswordChar(wchar_t Value) {
  if (PasswordChar() == Value) return;
  FWidePasswordChar = Value;
  // The library's setter must not touch the window: it would set the 8-bit character there.
  void* handle = FHandle;
  FHandle = nullptr;
  TCustomEdit::SetPasswordChar(AnsiPasswordChar(Value));
  FHandle = handle;
  if (Win32PlatformIsNT() && FHandle) {
    SendMessageW(H(this), EM_SETPASSWORDCHAR, Value, 0);
    Invalidate();
  }
}

int TUniCustomEdit::SelStart() {
  if (Win32PlatformIsNT()) return TCustomEdit::SelStart();
  AnsiString text = TCustomEdit::Text();
  int bytes = std::clamp(TCustomEdit::SelStart(), 0, (int)text.size());
  return (int)AnsiToWide(text.substr(0, bytes)).size();
}

void TUniCustomEdit::SetSelStart(int Value) {
  if (Win32PlatformIsNT()) {
    TCustomEdit::SetSelStart(Value);
    return;
  }
  WideString text = AnsiToWide(TCustomEdit::Text());
  TCustomEdit::SetSelStart((int)WideToAnsi(text.substr(0, std::clamp(Value, 0, (int)text.size()))).size());
}

int TUniCustomEdit::SelLength() {
  if (Win32PlatformIsNT()) return TCustomEdit::SelLength();
  AnsiString text = TCustomEdit::Text();
  int start = std::clamp(TCustomEdit::SelStart(), 0, (int)text.size());
  int len = std::clamp(TCustomEdit::SelLength(), 0, (int)text.size() - start);
  return (int)AnsiToWide(text.substr(start, len)).size();
}

void TUniCustomEdit::SetSelLength(int Value) {
  if (Win32PlatformIsNT()) {
    TCustomEdit::SetSelLength(Value);
    return;
  }
  WideString text = AnsiToWide(TCustomEdit::Text());
  int start = std::clamp(SelStart(), 0, (int)text.size());
  TCustomEdit::SetSelLength((int)WideToAnsi(text.substr(start, std::clamp(Value, 0, (int)text.size() - start))).size());
}

WideString TUniCustomEdit::SelText() {
  if (!Win32PlatformIsNT()) return AnsiToWide(TCustomEdit::SelText());
  WideString text = Text();
  int start = std::clamp(SelStart(), 0, (int)text.size());
  return text.substr(start, std::max(0, SelLength()));
}

void TUniCustomEdit::KeyPress(char& Key) {
  if (Key == 27) Key = 0;
  TCustomEdit::KeyPress(Key);
}

// ---------------------------------------------------------------------------------------------
// Memo

TUniCustomMemo::TUniCustomMemo(TComponent* AOwner)
    : TCustomMemo(AOwner), FUniLines(std::make_unique<TUniMemoStrings>(this)) {}

void TUniCustomMemo::CreateWindowHandle(const TCreateParams& Params) { CreateUnicodeWindowHandle(this, Params, L"EDIT"); }

void TUniCustomMemo::KeyPress(char& Key) {
  if (Key == 27) Key = 0;
  TCustomMemo::KeyPress(Key);
}

TUniMemoStrings::TUniMemoStrings(TUniCustomMemo* Memo) : FMemo(Memo), FAnsiLines(Memo->AnsiLines()) {}

bool TUniMemoStrings::UnicodeWindow() const { return HasUnicodeWindow(FMemo); }

int TUniMemoStrings::Count() const { return FAnsiLines->Count(); }
TObject* TUniMemoStrings::GetObject(int Index) const { return FAnsiLines->GetObject(Index); }
void TUniMemoStrings::PutObject(int Index, TObject* AObject) { FAnsiLines->PutObject(Index, AObject); }
void TUniMemoStrings::Delete(int Index) { FAnsiLines->Delete(Index); }
void TUniMemoStrings::Clear() { FAnsiLines->Clear(); }

WideString TUniMemoStrings::Get(int Index) const {
  if (!UnicodeWindow()) return AnsiToWide(FAnsiLines->Get(Index));
  HWND h = H(FMemo);
  LRESULT start = SendMessageW(h, EM_LINEINDEX, Index, 0);
  LRESULT len = start < 0 ? 0 : SendMessageW(h, EM_LINELENGTH, start, 0);
  if (len > 65535) throw EOutOfResources(kMessages[msgLineTooLong]);
  if (len <= 0) return L"";
  std::vector<wchar_t> buf((size_t)std::max<LRESULT>(len, 2) + 1, 0);
  buf[0] = (wchar_t)len;
  LRESULT n = SendMessageW(h, EM_GETLINE, Index, reinterpret_cast<LPARAM>(buf.data()));
  return WideString(buf.data(), (size_t)std::clamp<LRESULT>(n, 0, len));
}

void TUniMemoStrings::Put(int Index, const WideString& S) {
  if (!UnicodeWindow()) {
    FAnsiLines->Put(Index, WideToAnsi(S));
    return;
  }
  HWND h = H(FMemo);
  LRESULT start = SendMessageW(h, EM_LINEINDEX, Index, 0);
  if (start < 0) return;
  LRESULT len = SendMessageW(h, EM_LINELENGTH, start, 0);
  SendMessageW(h, EM_SETSEL, start, start + len);
  SendMessageW(h, EM_REPLACESEL, 0, reinterpret_cast<LPARAM>(S.c_str()));
}

void TUniMemoStrings::Insert(int Index, const WideString& S) {
  if (!UnicodeWindow()) {
    FAnsiLines->Insert(Index, WideToAnsi(S));
    return;
  }
  if (Index < 0) return;
  HWND h = H(FMemo);
  LRESULT start = SendMessageW(h, EM_LINEINDEX, Index, 0);
  WideString line;
  if (start >= 0) {
    line = S + L"\r\n";
  } else {
    LRESULT prev = Index > 0 ? SendMessageW(h, EM_LINEINDEX, Index - 1, 0) : -1;
    if (prev < 0) return;
    // After an empty last line as well: the line is not to be lost.
    start = prev + SendMessageW(h, EM_LINELENGTH, prev, 0);
    line = L"\r\n" + S;
  }
  SendMessageW(h, EM_SETSEL, start, start);
  SendMessageW(h, EM_REPLACESEL, 0, reinterpret_cast<LPARAM>(line.c_str()));
}

WideString TUniMemoStrings::Text() const { return GetControlWideText(FMemo); }

void TUniMemoStrings::SetText(const WideString& Value) {
  WideString text = WideAdjustLineBreaks(Value, tlbsCRLF);
  if (text == Text()) return;
  if (FMemo->Parent()) FMemo->HandleNeeded();
  SetControlWideText(FMemo, text);
}

// ---------------------------------------------------------------------------------------------
// Combo and list box items

bool TUniListItemsStrings::UnicodeWindow() const { return HasUnicodeWindow(FControl); }

bool TUniListItemsStrings::KeepsWideTexts() const { return Win32PlatformIsNT() && !FControl->HandleAllocated(); }

void TUniListItemsStrings::SyncWideTexts() const {
  int n = FAnsiItems->Count();
  if (FWideTexts.size() == (size_t)n) return;
  FWideTexts.clear();
  for (int i = 0; i < n; ++i) FWideTexts.push_back(AnsiToWide(FAnsiItems->Get(i)));
}

std::vector<WideString> TUniListItemsStrings::TakeWideTexts() {
  std::vector<WideString> texts;
  if (KeepsWideTexts())
    for (int i = 0; i < Count(); ++i) texts.push_back(Get(i));
  FWideTexts.clear();
  return texts;
}

void TUniListItemsStrings::RestoreWideTexts(const std::vector<WideString>& Texts) {
  if (!UnicodeWindow()) return;
  int n = std::min((int)Texts.size(), Count());
  for (int i = 0; i < n; ++i)
    if (Get(i) != Texts[i]) Put(i, Texts[i]);
}

WideString TUniListItemsStrings::Get(int Index) const {
  if (!UnicodeWindow()) {
    AnsiString ansi = FAnsiItems->Get(Index);
    if (!KeepsWideTexts()) return AnsiToWide(ansi);
    SyncWideTexts();
    const WideString& wide = FWideTexts[(size_t)Index];
    return WideToAnsi(wide) == ansi ? wide : AnsiToWide(ansi);
  }
  LRESULT len = SendMessageW(Wnd(), FMsgs.GetTextLen, Index, 0);
  if (len < 0) throw EStringListError(Format(kMessages[msgListIndex], Index));
  std::vector<wchar_t> buf((size_t)len + 1, 0);
  LRESULT n = SendMessageW(Wnd(), FMsgs.GetText, Index, reinterpret_cast<LPARAM>(buf.data()));
  n = std::clamp<LRESULT>(n, 0, len);
  WideString s(buf.data(), (size_t)n);
  size_t zero = s.find(L'\0');
  return zero == WideString::npos ? s : s.substr(0, zero);
}

int TUniListItemsStrings::Add(const WideString& S) {
  if (!UnicodeWindow()) {
    bool keep = KeepsWideTexts();
    if (keep) SyncWideTexts();
    int index = FAnsiItems->Add(WideToAnsi(S));
    if (keep) FWideTexts.insert(FWideTexts.begin() + index, S);
    return index;
  }
  LRESULT r = SendMessageW(Wnd(), FMsgs.Add, 0, reinterpret_cast<LPARAM>(S.c_str()));
  if (r < 0) throw EOutOfResources(kMessages[msgInsertLine]);
  return (int)r;
}

void TUniListItemsStrings::Insert(int Index, const WideString& S) {
  if (!UnicodeWindow()) {
    bool keep = KeepsWideTexts();
    if (keep) SyncWideTexts();
    FAnsiItems->Insert(Index, WideToAnsi(S));
    if (keep) FWideTexts.insert(FWideTexts.begin() + Index, S);
    return;
  }
  if (SendMessageW(Wnd(), FMsgs.Insert, Index, reinterpret_cast<LPARAM>(S.c_str())) < 0)
    throw EOutOfResources(kMessages[msgInsertLine]);
}

int TUniListItemsStrings::IndexOf(const WideString& S) const {
  if (!UnicodeWindow() && KeepsWideTexts()) {
    // As the window finds an exact item: ignoring case.
    for (int i = 0; i < Count(); ++i)
      if (WideCompareText(Get(i), S) == 0) return i;
    return -1;
  }
  if (!UnicodeWindow()) return FAnsiItems->IndexOf(WideToAnsi(S));
  LRESULT r = SendMessageW(Wnd(), FMsgs.FindExact, (WPARAM)-1, reinterpret_cast<LPARAM>(S.c_str()));
  return r < 0 ? -1 : (int)r;
}

void TUniListItemsStrings::Delete(int Index) {
  bool keep = !UnicodeWindow() && KeepsWideTexts();
  if (keep) SyncWideTexts();
  FAnsiItems->Delete(Index);
  if (keep) FWideTexts.erase(FWideTexts.begin() + Index);
}

void TUniListItemsStrings::Clear() {
  if (!UnicodeWindow()) {
    FAnsiItems->Clear();
    FWideTexts.clear();
    return;
  }
  WideString text = GetControlWideText(FControl);
  FAnsiItems->Clear();
  SetControlWideText(FControl, text);
}

int TUniListItemsStrings::SelectedIndex() const {
  bool combo = FMsgs.GetText == CB_GETLBTEXT;
  return (int)SendMessageW(Wnd(), combo ? CB_GETCURSEL : LB_GETCURSEL, 0, 0);
}

void TUniListItemsStrings::SelectIndex(int Index) {
  bool combo = FMsgs.GetText == CB_GETLBTEXT;
  SendMessageW(Wnd(), combo ? CB_SETCURSEL : LB_SETCURSEL, Index, 0);
}

void TUniListItemsStrings::Put(int Index, const WideString& S) {
  if (!UnicodeWindow()) {
    bool keep = KeepsWideTexts();
    if (keep) SyncWideTexts();
    FAnsiItems->Put(Index, WideToAnsi(S));
    if (keep) FWideTexts[(size_t)Index] = S;
    return;
  }
  int selected = SelectedIndex();
  TObject* data = GetObject(Index);
  Delete(Index);
  Insert(Index, S);
  PutObject(Index, data);
  SelectIndex(selected);
}

void TUniListItemsStrings::Exchange(int Index1, int Index2) {
  if (Index1 == Index2) return;
  BeginUpdate();
  int selected = FControl->HandleAllocated() ? SelectedIndex() : -1;
  WideString s1 = Get(Index1), s2 = Get(Index2);
  TObject* o1 = GetObject(Index1);
  TObject* o2 = GetObject(Index2);
  Put(Index1, s2);
  PutObject(Index1, o2);
  Put(Index2, s1);
  PutObject(Index2, o1);
  if (selected == Index1) SelectIndex(Index2);
  else if (selected == Index2) SelectIndex(Index1);
  else if (selected >= 0) SelectIndex(selected);
  EndUpdate();
}

void TUniListItemsStrings::Move(int CurIndex, int NewIndex) {
  if (CurIndex == NewIndex) return;
  auto* list = dynamic_cast<TCustomListBox*>(FControl);
  BeginUpdate();
  if (list) list->SetMoving(true);
  try {
    int selected = FControl->HandleAllocated() ? SelectedIndex() : -1;
    WideString s = Get(CurIndex);
    TObject* o = GetObject(CurIndex);
    Delete(CurIndex);
    InsertObject(NewIndex, s, o);
    if (selected == CurIndex) SelectIndex(NewIndex);
  } catch (...) {
    if (list) list->SetMoving(false);
    EndUpdate();
    throw;
  }
  if (list) list->SetMoving(false);
  EndUpdate();
}

namespace {
const TUniListItemsStrings::Messages kComboItems{CB_GETLBTEXTLEN, CB_GETLBTEXT, CB_ADDSTRING, CB_INSERTSTRING,
                                                 CB_FINDSTRINGEXACT, (UINT)CB_ERR};
const TUniListItemsStrings::Messages kListItems{LB_GETTEXTLEN, LB_GETTEXT, LB_ADDSTRING, LB_INSERTSTRING,
                                                LB_FINDSTRINGEXACT, (UINT)LB_ERR};
}  // namespace

// ---------------------------------------------------------------------------------------------
// Combo box

TUniCustomComboBox::TUniCustomComboBox(TComponent* AOwner)
    : TCustomComboBox(AOwner),
      FUniItems(std::make_unique<TUniListItemsStrings>(this, TCustomComboBox::Items(), kComboItems)) {}

TUniCustomComboBox::~TUniCustomComboBox() = default;

void TUniCustomComboBox::CreateWindowHandle(const TCreateParams& Params) {
  CreateUnicodeWindowHandle(this, Params, L"COMBOBOX");
}

void TUniCustomComboBox::CreateWnd() {
  WideString text = AnsiToWide(FText);
  std::vector<WideString> items = FUniItems->TakeWideTexts();
  TCustomComboBox::CreateWnd();
  if (!Win32PlatformIsNT()) {
    TControl::SetText(FText);
    return;
  }
  FUniItems->RestoreWideTexts(items);
  if (FSavedItems) {
    for (int i = 0; i < FSavedItems->Count(); ++i) FUniItems->AddObject(FSavedItems->Get(i), FSavedItems->GetObject(i));
    FSavedItems.reset();
  }
  if (FSavedIndex != -1) SendMessageW(H(this), CB_SETCURSEL, std::min(FSavedIndex, FUniItems->Count() - 1), 0);
  FSavedIndex = -1;
  SetControlWideText(this, GetStoredWideText(this, text));
  if (FStyle == csSimple || FStyle == csDropDown) SubclassEditChild();
}

namespace {
const wchar_t kComboProp[] = L"UniStdCtrls.Combo";
const wchar_t kOldProcProp[] = L"UniStdCtrls.EditProc";

// The edit child of a simple or drop-down combo box: typed characters go through the combo's
// edit-character step first.
LRESULT CALLBACK ComboEditWndProc(HWND Wnd, UINT Msg, WPARAM WParam, LPARAM LParam) {
  auto* combo = static_cast<TUniCustomComboBox*>(GetPropW(Wnd, kComboProp));
  auto old = reinterpret_cast<WNDPROC>(GetPropW(Wnd, kOldProcProp));
  if (Msg == WM_IME_CHAR && combo) return SendMessageW(Wnd, WM_CHAR, WParam, LParam);
  if (Msg == WM_CHAR && combo) {
    try {
      // Enter and Escape with the list open only close it.
      if ((WParam == 13 || WParam == 27) && combo->DroppedDown()) {
        combo->SetDroppedDown(false);
        return 0;
      }
      if (combo->AutoCompleteKeyPress((wchar_t)WParam)) return 0;
    } catch (...) {
      try {
        if (ApplicationHandleException) ApplicationHandleException(combo);
      } catch (...) {
      }
      return 0;
    }
  }
  if (Msg == WM_NCDESTROY) {
    SetWindowLongPtrW(Wnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(old));
    RemovePropW(Wnd, kComboProp);
    RemovePropW(Wnd, kOldProcProp);
  }
  return CallWindowProcW(old, Wnd, Msg, WParam, LParam);
}
}  // namespace

void TUniCustomComboBox::SubclassEditChild() {
  COMBOBOXINFO info{};
  info.cbSize = sizeof info;
  if (!GetComboBoxInfo(H(this), &info) || !info.hwndItem || !IsWindowUnicode(info.hwndItem)) return;
  if (GetPropW(info.hwndItem, kComboProp)) return;
  SetPropW(info.hwndItem, kOldProcProp, reinterpret_cast<HANDLE>(GetWindowLongPtrW(info.hwndItem, GWLP_WNDPROC)));
  SetPropW(info.hwndItem, kComboProp, static_cast<HANDLE>(this));
  SetWindowLongPtrW(info.hwndItem, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&ComboEditWndProc));
}

bool TUniCustomComboBox::AutoCompleteKeyPress(wchar_t Key) {
  if (FStyle != csSimple && FStyle != csDropDown) throw EUniInternalError(kMessages[msgAutoCompleteStyle]);
  if (!FAutoComplete || Key == 8 || Key == 9 || Key == 27 || Key < 32 || !HandleAllocated()) return false;
  COMBOBOXINFO info{};
  info.cbSize = sizeof info;
  if (!GetComboBoxInfo(H(this), &info) || !info.hwndItem) return false;
  HWND edit = info.hwndItem;
  DWORD start = 0, end = 0;
  SendMessageW(edit, EM_GETSEL, reinterpret_cast<WPARAM>(&start), reinterpret_cast<LPARAM>(&end));
  if (FAutoDropDown && !DroppedDown()) {
    // Opening the list may change the text and its selection: both are kept.
    WideString text = GetControlWideText(this);
    SetDroppedDown(true);
    SetWindowTextW(edit, text.c_str());
    SendMessageW(edit, EM_SETSEL, start, end);
  }
  int length = GetWindowTextLengthW(edit);
  std::vector<wchar_t> buf((size_t)std::max(length, 0) + 1);
  int n = GetWindowTextW(edit, buf.data(), (int)buf.size());
  WideString text(buf.data(), (size_t)std::max(n, 0));
  if (end != text.size() || start > end) return false;
  WideString search = text.substr(0, start) + Key;
  LRESULT found = SendMessageW(H(this), CB_FINDSTRING, (WPARAM)-1, reinterpret_cast<LPARAM>(search.c_str()));
  if (found < 0) return false;
  WideString item = FUniItems->Get((int)found);
  SetWindowTextW(edit, item.c_str());
  SendMessageW(edit, EM_SETSEL, search.size(), item.size());
  Change();
  return true;
}

void TUniCustomComboBox::DestroyWnd() {
  if (ControlState() & csDestroyingHandle) return;
  UniAssert(!(ControlState() & csDestroyingHandle), kUnit, 1623);
  WideString text;
  bool nt = Win32PlatformIsNT() && HandleAllocated() && IsWindowUnicode(H(this));
  if (nt) {
    text = GetControlWideText(this);
    if (FUniItems->Count() > 0) {
      FSavedItems = std::make_unique<TUniStringList>();
      for (int i = 0; i < FUniItems->Count(); ++i) FSavedItems->AddObject(FUniItems->Get(i), FUniItems->GetObject(i));
      FSavedIndex = ItemIndex();
      SendMessageW(H(this), CB_RESETCONTENT, 0, 0);
    }
  }
  TCustomComboBox::DestroyWnd();
  if (nt) SetStoredWideText(this, text);
}

void TUniCustomComboBox::DrawItem(int Index, const RECT& Rect, TOwnerDrawState State) {
  if (OnDrawItem) {
    OnDrawItem(this, Index, Rect, State);
    return;
  }
  FCanvas->RequiredState(csHandleValid | csFontValid | csBrushValid);
  HDC dc = static_cast<HDC>(FCanvas->Handle());
  FillRect(dc, &Rect, static_cast<HBRUSH>(FCanvas->Brush()->Handle()));
  if (Index < 0 || Index >= FUniItems->Count()) return;
  if (!UseRightToLeftReading()) {
    WideCanvasTextOut(FCanvas.get(), Rect.left + 2, Rect.top, FUniItems->Get(Index));
    return;
  }
  // Right to left: the text reads right to left from 2 pixels inside the right edge.
  WideString text = FUniItems->Get(Index);
  RECT r{Rect.left, Rect.top, Rect.right - 2, Rect.bottom};
  SetBkMode(dc, TRANSPARENT);
  WideDrawText(dc, text.c_str(), (int)text.size(), r, DrawTextBiDiModeFlags(DT_SINGLELINE | DT_NOPREFIX));
}

void TUniCustomComboBox::CopySelection(TControl* Destination) {
  int index = ItemIndex();
  if (index >= 0) AddWideItemToListControl(Destination, FUniItems->Get(index), FUniItems->GetObject(index));
}

void TUniCustomComboBox::WndProc(TMessage& Message) {
  if (Message.Msg == CN_COMMAND && HIWORD(Message.WParam) == CBN_SELCHANGE && HasUnicodeWindow(this)) {
    int index = ItemIndex();
    if (index >= 0) SetControlWideText(this, FUniItems->Get(index));
    Click();
    Select();
    return;
  }
  if (Message.Msg == WM_CHAR && FStyle == csDropDownList && FAutoComplete && HandleAllocated()) {
    wchar_t ch = GetWideCharOfCharMessage(Message);
    switch (ch) {
      case 8:
        if (!FSearchText.empty()) FSearchText.pop_back();
        break;
      case 9:
        if (FAutoDropDown && DroppedDown()) SetDroppedDown(false);
        break;
      case 27: break;
      default: {
        if (FAutoDropDown && !DroppedDown()) SetDroppedDown(true);
        uint32_t now = UniComboTickCount();
        if (!FSearched || now - FLastSearchTick >= kSearchResetMs) FSearchText.clear();
        FSearched = true;
        FLastSearchTick = now;
        WideString search = FSearchText + ch;
        bool unicode = IsWindowUnicode(H(this)) != 0;
        LRESULT found = unicode ? SendMessageW(H(this), CB_FINDSTRING, (WPARAM)-1, reinterpret_cast<LPARAM>(search.c_str()))
                                : SendMessageA(H(this), CB_FINDSTRING, (WPARAM)-1,
                                               reinterpret_cast<LPARAM>(WideToAnsi(search).c_str()));
        if (found >= 0) {
          FSearchText = search;
          ch = 0;
          if (found != ItemIndex()) {
            SetItemIndex((int)found);
            Click();
            Select();
          }
        }
        break;
      }
    }
    if (!ch) {
      Message.Result = 0;
      return;
    }
    SetWideCharOfCharMessage(Message, ch);
  }
  TCustomComboBox::WndProc(Message);
}

// ---------------------------------------------------------------------------------------------
// List box

TUniCustomListBox::TUniCustomListBox(TComponent* AOwner)
    : TCustomListBox(AOwner),
      FUniItems(std::make_unique<TUniListItemsStrings>(this, TCustomListBox::Items(), kListItems)) {}

TUniCustomListBox::~TUniCustomListBox() = default;

void TUniCustomListBox::CreateWindowHandle(const TCreateParams& Params) {
  CreateUnicodeWindowHandle(this, Params, L"LISTBOX");
}

void TUniCustomListBox::CreateWnd() {
  std::vector<WideString> items = FUniItems->TakeWideTexts();
  TCustomListBox::CreateWnd();
  if (!IsVirtual()) FUniItems->RestoreWideTexts(items);
  if (FSavedItems) {
    for (int i = 0; i < FSavedItems->Count(); ++i) FUniItems->AddObject(FSavedItems->Get(i), FSavedItems->GetObject(i));
    FSavedItems.reset();
    SetTopIndex(FSavedTop);
    SetItemIndex(FSavedIndex);
  }
}

void TUniCustomListBox::DestroyWnd() {
  if (FStyle != lbVirtual && FStyle != lbVirtualOwnerDraw && HasUnicodeWindow(this) && FUniItems->Count() > 0) {
    FSavedItems = std::make_unique<TUniStringList>();
    for (int i = 0; i < FUniItems->Count(); ++i) FSavedItems->AddObject(FUniItems->Get(i), FUniItems->GetObject(i));
    FSavedTop = TopIndex();
    FSavedIndex = ItemIndex();
    SendMessageW(H(this), LB_RESETCONTENT, 0, 0);
  }
  TCustomListBox::DestroyWnd();
}

void TUniCustomListBox::WndProc(TMessage& Message) {
  if (IsVirtual() && (Message.Msg == LB_GETTEXT || Message.Msg == LB_GETTEXTLEN) && (OnWideData || OnData) &&
      HandleAllocated()) {
    int index = (int)Message.WParam;
    if (index < 0 || index >= Count()) {
      Message.Result = LB_ERR;
      return;
    }
    WideString data;
    if (OnWideData) {
      OnWideData(this, index, data);
    } else {
      AnsiString ansi;
      OnData(this, index, ansi);
      data = AnsiToWide(ansi);
    }
    // The window's kind says which text the asker expects.
    if (IsWindowUnicode(H(this))) {
      if (Message.Msg == LB_GETTEXT && Message.LParam)
        memcpy(reinterpret_cast<wchar_t*>(Message.LParam), data.c_str(), (data.size() + 1) * sizeof(wchar_t));
      Message.Result = (intptr_t)data.size();
    } else {
      AnsiString ansi = WideToAnsi(data);
      if (Message.Msg == LB_GETTEXT && Message.LParam)
        memcpy(reinterpret_cast<char*>(Message.LParam), ansi.c_str(), ansi.size() + 1);
      Message.Result = (intptr_t)ansi.size();
    }
    return;
  }
  TCustomListBox::WndProc(Message);
}

void TUniCustomListBox::DrawItem(int Index, const RECT& Rect, TOwnerDrawState State) {
  if (OnDrawItem) {
    OnDrawItem(this, Index, Rect, State);
    return;
  }
  FCanvas->RequiredState(csHandleValid | csFontValid | csBrushValid);
  HDC dc = static_cast<HDC>(FCanvas->Handle());
  FillRect(dc, &Rect, static_cast<HBRUSH>(FCanvas->Brush()->Handle()));
  if (Index < 0 || Index >= FUniItems->Count()) return;
  WideString text = FUniItems->Get(Index);
  RECT r = Rect;
  if (UseRightToLeftReading()) r.right -= 2;
  else r.left += 2;
  SetBkMode(dc, TRANSPARENT);
  WideDrawText(dc, text.c_str(), (int)text.size(), r, DrawTextBiDiModeFlags(DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX));
}

// ---------------------------------------------------------------------------------------------
// Label, buttons, group box

void TUniCustomLabel::DoDrawText(HDC DC, RECT& Rect, UINT Flags) {
  if (!Win32PlatformIsNT()) {
    TCustomLabel::DoDrawText(DC, Rect, Flags);
    return;
  }
  WideString text = GetControlWideText(this);
  if ((Flags & DT_CALCRECT) && (text.empty() || (FShowAccelChar && text == L"&"))) text += L' ';
  if (!FShowAccelChar) Flags |= DT_NOPREFIX;
  Flags = DrawTextBiDiModeFlags(Flags);
  if (FEllipsisPosition != epNone && !FAutoSize) {
    static const UINT ellipsis[] = {0, DT_PATH_ELLIPSIS, DT_END_ELLIPSIS, DT_WORD_ELLIPSIS};
    Flags = (Flags & ~(DT_EXPANDTABS | DT_CALCRECT)) | ellipsis[FEllipsisPosition];
    if (FWordWrap && (FEllipsisPosition == epEndEllipsis || FEllipsisPosition == epWordEllipsis)) {
      // Wrapped text with an ellipsis: words go from the end until the text and "..." fit.
      const WideString dots = L"...";
      SIZE dotSize{}, fontSize{};
      GetTextExtentPoint32W(DC, dots.c_str(), 3, &dotSize);
      GetTextExtentPoint32W(DC, L"W", 1, &fontSize);
      WideString cut = text;
      while (!cut.empty()) {
        WideString trial = cut + dots;
        RECT r{Rect.left, Rect.top, Rect.right - dotSize.cx, Rect.top};
        WideDrawText(DC, trial.c_str(), (int)trial.size(), r, (Flags & ~(DT_PATH_ELLIPSIS | DT_END_ELLIPSIS | DT_WORD_ELLIPSIS)) | DT_CALCRECT);
        int measured = r.bottom - r.top;
        if (Height() >= measured || fontSize.cy >= measured) break;
        size_t space = cut.find_last_of(L" \t");
        if (space == WideString::npos) cut.pop_back();
        else cut.erase(space);
      }
      if (!cut.empty()) text = cut;
    }
  }
  if (Enabled()) {
    WideDrawText(DC, text.c_str(), (int)text.size(), Rect, Flags);
  } else {
    OffsetRect(&Rect, 1, 1);
    SetTextColor(DC, GetSysColor(COLOR_BTNHIGHLIGHT));
    WideDrawText(DC, text.c_str(), (int)text.size(), Rect, Flags);
    OffsetRect(&Rect, -1, -1);
    SetTextColor(DC, GetSysColor(COLOR_BTNSHADOW));
    WideDrawText(DC, text.c_str(), (int)text.size(), Rect, Flags);
  }
}

void TUniCustomLabel::WndProc(TMessage& Message) {
  if (Message.Msg == CM_HINTSHOW && Message.LParam) PrepareWideHintShow(*reinterpret_cast<THintInfo*>(Message.LParam));
  if (Message.Msg == CM_DIALOGCHAR) {
    TWinControl* target = FocusControl();
    if (target && Enabled() && ShowAccelChar() && IsWideAccelChar((uint32_t)Message.WParam, GetControlWideText(this)) &&
        target->CanFocus()) {
      target->SetFocus();
      Message.Result = 1;
    }
    return;
  }
  TCustomLabel::WndProc(Message);
}

void TUniButton::CreateWindowHandle(const TCreateParams& Params) { CreateUnicodeWindowHandle(this, Params, L"BUTTON"); }

void TUniCustomCheckBox::CreateWindowHandle(const TCreateParams& Params) {
  CreateUnicodeWindowHandle(this, Params, L"BUTTON");
}

void TUniCustomGroupBox::CreateWindowHandle(const TCreateParams& Params) { CreateUnicodeWindowHandle(this, Params, L""); }

void TUniCustomGroupBox::Paint(HDC DC) {
  if (!Win32PlatformIsNT()) {
    TCustomGroupBox::Paint(DC);
    return;
  }
  SelectObject(DC, GetStockObject(DEFAULT_GUI_FONT));
  WideString text = GetControlWideText(this);
  bool rtl = UseRightToLeftReading();
  if (DrawThemedGroupBox(H(this), DC, Width(), Height(), text, Enabled(), rtl)) return;
  // Without visual styles: an etched frame from half the text height down, the caption over it.
  SIZE sz{};
  GetTextExtentPoint32W(DC, L"0", 1, &sz);
  RECT r{1, sz.cy / 2, Width(), Height()};
  HBRUSH highlight = GetSysColorBrush(COLOR_BTNHIGHLIGHT), shadow = GetSysColorBrush(COLOR_BTNSHADOW);
  FrameRect(DC, &r, highlight);
  OffsetRect(&r, -1, -1);
  FrameRect(DC, &r, shadow);
  if (text.empty()) return;
  int left = 8;
  if (rtl) {
    SIZE ext{};
    GetTextExtentPoint32W(DC, text.c_str(), (int)text.size(), &ext);
    left = Width() - ext.cx - 8;
  }
  RECT t{left, 0, left, sz.cy};
  UINT flags = DrawTextBiDiModeFlags(DT_SINGLELINE);
  WideDrawText(DC, text.c_str(), (int)text.size(), t, flags | DT_CALCRECT);
  SetBkColor(DC, GetSysColor(COLOR_BTNFACE));
  SetBkMode(DC, OPAQUE);
  WideDrawText(DC, text.c_str(), (int)text.size(), t, flags);
}

// ---------------------------------------------------------------------------------------------
// Accelerators

void TUniButton::WndProc(TMessage& Message) {
  if (Message.Msg == CM_DIALOGCHAR && IsWideAccelChar((uint32_t)Message.WParam, GetControlWideText(this)) && CanFocus()) {
    Click();
    Message.Result = 1;
    return;
  }
  TButton::WndProc(Message);
}

void TUniCustomCheckBox::WndProc(TMessage& Message) {
  if (Message.Msg == CM_DIALOGCHAR && IsWideAccelChar((uint32_t)Message.WParam, GetControlWideText(this)) && CanFocus()) {
    SetFocus();
    if (Focused()) Toggle();
    Message.Result = 1;
    return;
  }
  TCustomCheckBox::WndProc(Message);
}

void TUniCustomGroupBox::WndProc(TMessage& Message) {
  if (Message.Msg == CM_DIALOGCHAR && IsWideAccelChar((uint32_t)Message.WParam, GetControlWideText(this)) && CanFocus()) {
    // The first child that can take the focus gets it.
    for (int i = 0; i < ControlCount(); ++i) {
      auto* child = dynamic_cast<TWinControl*>(Controls(i));
      if (child && child->CanFocus()) {
        child->SetFocus();
        break;
      }
    }
    Message.Result = 1;
    return;
  }
  TCustomGroupBox::WndProc(Message);
}
