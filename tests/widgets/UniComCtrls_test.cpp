// Unicode common controls: list view texts through insert, delete, move, sort and new windows;
// tab captions; Unicode windows of every kind.
#include <gtest/gtest.h>

#include "DrawItemPixels.h"
#include "RightToLeft.h"

#include "unicode/TestConfig.h"
#include "unicode/UniSysUtils.h"
#include "widgets/UniComCtrls.h"
#include "widgets/UniForms.h"

namespace {
WideString Expected(const WideString& S) { return TestConfig().NT() ? S : AnsiToWide(WideToAnsi(S)); }

WideString ItemText(TWinControl* LV, int Item, int Sub) {
  wchar_t buf[256] = {0};
  LVITEMW it{};
  it.iSubItem = Sub;
  it.pszText = buf;
  it.cchTextMax = 256;
  LRESULT n = SendMessageW(static_cast<HWND>(LV->Handle()), LVM_GETITEMTEXTW, Item, reinterpret_cast<LPARAM>(&it));
  return WideString(buf, (size_t)std::max<LRESULT>(n, 0));
}

WideString ColumnText(TWinControl* LV, int Column) {
  wchar_t buf[256] = {0};
  LVCOLUMNW col{};
  col.mask = LVCF_TEXT;
  col.pszText = buf;
  col.cchTextMax = 256;
  SendMessageW(static_cast<HWND>(LV->Handle()), LVM_GETCOLUMNW, Column, reinterpret_cast<LPARAM>(&col));
  return buf;
}

WideString TabText(TWinControl* PC, int Index) {
  wchar_t buf[256] = {0};
  TCITEMW it{};
  it.mask = TCIF_TEXT;
  it.pszText = buf;
  it.cchTextMax = 256;
  SendMessageW(static_cast<HWND>(PC->Handle()), TCM_GETITEMW, Index, reinterpret_cast<LPARAM>(&it));
  return buf;
}

WideString ClassNameOf(TWinControl* C) {
  wchar_t buf[128];
  int n = GetClassNameW(static_cast<HWND>(C->Handle()), buf, 128);
  return WideString(buf, n);
}

const WideString kChinese = L"\u4e2d\u6587\u6587\u4ef6.wav";
const WideString kLatin1 = L"M\u00fcller \u00e9t\u00e9.flac";
}  // namespace

TEST(UniComCtrls, ListViewTextsSurviveInsertDeleteMoveAndNewWindows) {
  TUniForm form(nullptr);
  auto* lv = new TUniListView(&form);
  // Columns before the window exists, one after.
  lv->Columns()->Add()->SetCaption(kChinese);
  lv->SetParent(&form);
  form.HandleNeeded();
  lv->Columns()->Add()->SetCaption(kLatin1);
  lv->Columns()->Add()->SetCaption(L"3");
  auto add = [&](const WideString& caption, int index) {
    TUniListItem* item = index < 0 ? lv->AddListItem() : lv->InsertListItem(index);
    item->SetCaption(caption);
    item->SubItems()->Add(caption + L" 1");
    item->SubItems()->Add(caption + L" 2");
    return item;
  };
  add(kChinese, -1);
  add(kLatin1, -1);
  add(L"plain", 0);  // plain, Chinese, Latin-1
  lv->Items()->Move(0, 2);  // Chinese, Latin-1, plain
  add(L"gone", 1);
  lv->Items()->Delete(1);
  for (int pass = 0; pass < 2; ++pass) {
    SCOPED_TRACE(pass ? "after a new window" : "first window");
    EXPECT_EQ(ClassNameOf(lv), TestConfig().NT() ? L"TUniListView.UnicodeClass" : L"TUniListView");
    EXPECT_EQ(ColumnText(lv, 0), Expected(kChinese));
    EXPECT_EQ(ColumnText(lv, 1), Expected(kLatin1));
    const WideString order[] = {kChinese, kLatin1, L"plain"};
    for (int i = 0; i < 3; ++i) {
      EXPECT_EQ(ItemText(lv, i, 0), Expected(order[i]));
      EXPECT_EQ(ItemText(lv, i, 1), Expected(order[i] + L" 1"));
      EXPECT_EQ(ItemText(lv, i, 2), Expected(order[i] + L" 2"));
      EXPECT_EQ(lv->Item(i)->Caption(), order[i]);
    }
    form.RecreateWnd();
  }
  // A sub-item changed in place shows at once.
  lv->Item(1)->SubItems()->Put(0, L"\u010ce\u0161tina");
  EXPECT_EQ(ItemText(lv, 1, 1), Expected(L"\u010ce\u0161tina"));
}

TEST(UniComCtrls, ListViewSortsByWideCaption) {
  TUniForm form(nullptr);
  auto* lv = new TUniListView(&form);
  lv->Columns()->Add();
  lv->SetParent(&form);
  form.HandleNeeded();
  for (const wchar_t* c : {L"c", L"a", L"b"}) lv->AddItem(c, nullptr);
  lv->AlphaSort();
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(lv->Item(i)->Caption(), WideString(1, L'a' + i));
    EXPECT_EQ(ItemText(lv, i, 0), WideString(1, L'a' + i));
  }
  lv->OnCompare = [](TObject*, TListItem* A, TListItem* B, int, int& R) {
    R = -lstrcmpW(static_cast<TUniListItem*>(A)->Caption().c_str(), static_cast<TUniListItem*>(B)->Caption().c_str());
  };
  lv->AlphaSort();
  EXPECT_EQ(ItemText(lv, 0, 0), L"c");
  EXPECT_EQ(lv->Item(2)->Caption(), L"a");
}

TEST(UniComCtrls, TabCaptionsAndBarsAreUnicode) {
  TUniForm form(nullptr);
  auto* pc = new TUniPageControl(&form);
  pc->SetParent(&form);
  auto* first = new TUniTabSheet(&form);
  first->SetCaption(kChinese);
  first->SetPageControl(pc);
  form.HandleNeeded();
  auto* second = new TUniTabSheet(&form);
  second->SetPageControl(pc);
  second->SetCaption(kLatin1);
  auto* track = new TUniTrackBar(&form);
  auto* progress = new TUniProgressBar(&form);
  track->SetParent(&form);
  progress->SetParent(&form);
  for (int pass = 0; pass < 2; ++pass) {
    SCOPED_TRACE(pass ? "after a new window" : "first window");
    EXPECT_EQ(TabText(pc, 0), Expected(kChinese));
    EXPECT_EQ(TabText(pc, 1), Expected(kLatin1));
    EXPECT_EQ(first->Caption(), Expected(kChinese));
    for (TWinControl* c : std::initializer_list<TWinControl*>{pc, first, track, progress}) {
      EXPECT_EQ(IsWindowUnicode(static_cast<HWND>(c->Handle())) != 0, TestConfig().NT());
      EXPECT_EQ(ClassNameOf(c), AnsiToWide(c->ClassName()) + (TestConfig().NT() ? L".UnicodeClass" : L""));
    }
    form.RecreateWnd();
  }
  pc->SetActivePage(second);
  EXPECT_EQ(pc->TabIndex(), 1);
  EXPECT_TRUE(IsWindowVisible(static_cast<HWND>(second->Handle())) || !IsWindowVisible(static_cast<HWND>(form.Handle())));
  EXPECT_FALSE(first->Visible());
  track->SetRange(0, 20);
  track->SetPosition(15);
  EXPECT_EQ(track->Position(), 15);
  progress->SetPosition(40);
  EXPECT_EQ(progress->Position(), 40);
  track->SetHint(kChinese);
  EXPECT_EQ(track->Hint(), Expected(kChinese));
}

TEST(UniComCtrls, PageControlBringsUpTheSheetOfAWideHotKey) {
  TUniForm form(nullptr);
  auto* pc = new TUniPageControl(&form);
  pc->SetParent(&form);
  const wchar_t* captions[] = {L"&G\u00e9n\u00e9ral", L"\u4e2d\u6587(&W)", L"&\u010ce\u0161tina"};
  std::vector<TUniTabSheet*> sheets;
  for (const wchar_t* caption : captions) {
    auto* sheet = new TUniTabSheet(&form);
    sheet->SetCaption(caption);
    sheet->SetPageControl(pc);
    sheets.push_back(sheet);
  }
  pc->SetActivePage(sheets[0]);
  form.Show();
  int changes = 0;
  bool allow = true;
  pc->OnChange = [&](TObject*) { ++changes; };
  pc->OnChanging = [&](TObject*, bool& Allow) { Allow = allow; };
  struct Step {
    wchar_t Key;
    bool Allow;
    intptr_t Result;
    int Page;
    int Changes;
  } steps[] = {
      {L'w', true, 1, 1, 1},   // the mark in brackets after Chinese text
      {L'x', true, 0, 1, 1},   // no sheet has it
      {L'G', false, 1, 1, 1},  // taken, but the page may not change
      {L'g', true, 1, 0, 2},
  };
  for (const Step& s : steps) {
    SCOPED_TRACE(::testing::Message() << "key " << (char)s.Key);
    allow = s.Allow;
    EXPECT_EQ(form.Perform(CM_DIALOGCHAR, s.Key, 0), s.Result);
    EXPECT_EQ(pc->ActivePage(), sheets[s.Page]);
    EXPECT_EQ(pc->TabIndex(), s.Page);
    EXPECT_EQ(changes, s.Changes);
  }
  if (TestConfig().NT()) {
    EXPECT_EQ(form.Perform(CM_DIALOGCHAR, L'\u010d', 0), 1);
    EXPECT_EQ(pc->ActivePage(), sheets[2]);
  }
  form.Hide();
}

TEST(UniComCtrls, ListViewLabelEditTakesWideText) {
  TUniForm form(nullptr);
  auto* lv = new TUniListView(&form);
  lv->SetParent(&form);
  lv->Columns()->Add()->SetCaption(L"Name");
  form.Show();
  TUniListItem* first = lv->AddListItem();
  first->SetCaption(L"one");
  TUniListItem* second = lv->AddListItem();
  second->SetCaption(L"two");
  HWND h = static_cast<HWND>(lv->Handle());
  bool nt = TestConfig().NT();
  auto edit = [&](int Index, const WideString& Text) {
    HWND box = nt ? (HWND)SendMessageW(h, LVM_EDITLABELW, Index, 0) : (HWND)SendMessageA(h, LVM_EDITLABELA, Index, 0);
    if (!box) return false;
    if (nt) SetWindowTextW(box, Text.c_str());
    else SetWindowTextA(box, WideToAnsi(Text).c_str());
    SendMessageW(box, WM_KEYDOWN, VK_RETURN, 0);
    return true;
  };
  // Read-only at first: no edit starts.
  EXPECT_FALSE(edit(0, L"x"));
  lv->SetReadOnly(false);
  h = static_cast<HWND>(lv->Handle());
  ASSERT_TRUE(edit(0, L"\u4e2d\u6587 \u010ce\u0161tina"));
  EXPECT_EQ(first->Caption(), Expected(L"\u4e2d\u6587 \u010ce\u0161tina"));
  EXPECT_EQ(ItemText(lv, 0, 0), Expected(L"\u4e2d\u6587 \u010ce\u0161tina"));
  // The wide handler may change the text; the 8-bit one gets the 8-bit form when there is no wide one.
  lv->OnWideEdited = [](TObject*, TListItem*, WideString& S) { S += L" \u6587"; };
  lv->OnEdited = [](TObject*, TListItem*, AnsiString& S) { S = "8-bit " + S; };
  ASSERT_TRUE(edit(1, L"caf\u00e9"));
  EXPECT_EQ(second->Caption(), nt ? WideString(L"caf\u00e9 \u6587") : Expected(L"8-bit caf\u00e9"));
  lv->OnWideEdited = nullptr;
  ASSERT_TRUE(edit(1, L"abc"));
  EXPECT_EQ(second->Caption(), L"8-bit abc");
  // An item OnEditing refuses is not edited.
  lv->OnEditing = [&](TObject*, TListItem* Item, bool& Allow) { Allow = Item != first; };
  EXPECT_FALSE(edit(0, L"no"));
  EXPECT_EQ(first->Caption(), Expected(L"\u4e2d\u6587 \u010ce\u0161tina"));
  form.Hide();
}

namespace {
class TFileItem : public TUniListItem {
 public:
  using TUniListItem::TUniListItem;
  static const TListItemClass Class;
  const char* ClassName() const override { return "TFileItem"; }
};
const TListItemClass TFileItem::Class{"TFileItem", &TUniListItem::Class,
                                      [](TCustomListView* Owner) -> std::unique_ptr<TListItem> {
                                        return std::make_unique<TFileItem>(Owner);
                                      }};

// A notification from the list view's own window, through its parent's window procedure.
LRESULT NotifyParent(TWinControl* Parent, NMHDR& Hdr) {
  return SendMessageW(static_cast<HWND>(Parent->Handle()), WM_NOTIFY, Hdr.idFrom, reinterpret_cast<LPARAM>(&Hdr));
}
}  // namespace

TEST(UniComCtrls, ListViewMakesItemsOfTheClassItsEventNames) {
  TUniForm form(nullptr);
  auto* lv = new TUniListView(&form);
  lv->SetParent(&form);
  EXPECT_EQ(lv->AddListItem()->ClassName(), std::string("TUniListItem"));
  lv->OnCreateItemClass = [](TObject*, const TListItemClass*& C) { C = &TFileItem::Class; };
  TUniListItem* item = lv->AddListItem();
  EXPECT_EQ(item->ClassName(), std::string("TFileItem"));
  item->SetCaption(kChinese);
  EXPECT_EQ(ItemText(lv, 1, 0), Expected(kChinese));
  // An item class that is not a Unicode item is refused, and no item is added.
  lv->OnCreateItemClass = [](TObject*, const TListItemClass*& C) { C = &TListItem::Class; };
  try {
    lv->AddListItem();
    ADD_FAILURE() << "no exception";
  } catch (const EUniInternalError& e) {
    EXPECT_STREQ(e.what(), "Internal Error: OnCreateItemClass.ItemClass must inherit from TUniListItem.");
  }
  EXPECT_EQ(lv->Items()->Count(), 2);
}

TEST(UniComCtrls, OwnerDataListViewAsksForWideTextsAndSearches) {
  TUniForm form(nullptr);
  auto* lv = new TUniListView(&form);
  lv->SetParent(&form);
  lv->Columns()->Add()->SetCaption(L"Name");
  lv->Columns()->Add()->SetCaption(L"Size");
  lv->SetOwnerData(true);
  lv->OnData = [](TObject*, TListItem* Item) {
    auto* item = static_cast<TUniListItem*>(Item);
    item->SetCaption(kChinese + L" " + std::to_wstring(Item->Index()));
    item->SubItems()->Add(kLatin1);
  };
  lv->Items()->SetCount(50000);
  form.Show();
  EXPECT_EQ(SendMessageW(static_cast<HWND>(lv->Handle()), LVM_GETITEMCOUNT, 0, 0), 50000);
  for (int i : {0, 31337, 49999}) {
    EXPECT_EQ(ItemText(lv, i, 0), Expected(kChinese + L" " + std::to_wstring(i)));
    EXPECT_EQ(ItemText(lv, i, 1), Expected(kLatin1));
    EXPECT_EQ(static_cast<TUniListItem*>(lv->Items()->Item(i))->Caption(), kChinese + L" " + std::to_wstring(i));
  }
  // Items come from the event only.
  EXPECT_THROW(lv->Items()->Add(), EListError);
  EXPECT_THROW(lv->Items()->Delete(0), EListError);
  // A new window keeps the count.
  lv->RecreateWnd();
  EXPECT_EQ(ItemText(lv, 49999, 1), Expected(kLatin1));
  // Searches: the wide event gets the wide text; without it the 8-bit one gets the 8-bit form.
  WideString wideFind;
  AnsiString ansiFind;
  lv->OnWideDataFind = [&](TObject*, TItemFind Find, const WideString& S, int Start, bool, int& Index) {
    EXPECT_EQ(Find, ifPartialString);
    wideFind = S;
    Index = Start + 1;
  };
  lv->OnDataFind = [&](TObject*, TItemFind, const AnsiString& S, int, bool, int& Index) {
    ansiFind = S;
    Index = 7;
  };
  bool nt = TestConfig().NT();
  auto find = [&](const WideString& Text) {
    NMLVFINDITEMW w{};
    NMLVFINDITEMA a{};
    AnsiString ansi = WideToAnsi(Text);
    NMHDR& hdr = nt ? w.hdr : a.hdr;
    hdr.hwndFrom = static_cast<HWND>(lv->Handle());
    hdr.code = nt ? LVN_ODFINDITEMW : LVN_ODFINDITEMA;
    w.iStart = a.iStart = 10;
    w.lvfi.flags = a.lvfi.flags = LVFI_STRING | LVFI_PARTIAL;
    w.lvfi.psz = Text.c_str();
    a.lvfi.psz = ansi.c_str();
    return NotifyParent(&form, hdr);
  };
  EXPECT_EQ(find(kChinese), nt ? 11 : 7);
  if (nt) {
    EXPECT_EQ(wideFind, kChinese);
  }
  lv->OnWideDataFind = nullptr;
  EXPECT_EQ(find(kLatin1), 7);
  EXPECT_EQ(ansiFind, WideToAnsi(kLatin1));
  form.Hide();
}

TEST(UniComCtrls, ListViewHeaderShowsWideCaptionsAndReportsResizesAndClicks) {
  TUniForm form(nullptr);
  auto* lv = new TUniListView(&form);
  lv->SetParent(&form);
  lv->Columns()->Add()->SetCaption(kChinese);
  lv->Columns()->Add()->SetCaption(kLatin1);
  form.Show();
  HWND h = static_cast<HWND>(lv->Handle());
  HWND header = (HWND)SendMessageW(h, LVM_GETHEADER, 0, 0);
  ASSERT_NE(header, nullptr);
  for (int i : {0, 1}) {
    wchar_t buf[64] = {0};
    HDITEMW it{};
    it.mask = HDI_TEXT;
    it.pszText = buf;
    it.cchTextMax = 64;
    SendMessageW(header, HDM_GETITEMW, i, reinterpret_cast<LPARAM>(&it));
    EXPECT_EQ(WideString(buf), Expected(i ? kLatin1 : kChinese));
  }
  // The header speaks wide to a Unicode list view and 8-bit to the other.
  bool nt = TestConfig().NT();
  auto notifyHeader = [&](UINT WideCode, UINT AnsiCode, int Column, int Width) {
    HDITEMW item{};
    item.mask = HDI_WIDTH;
    item.cxy = Width;
    NMHEADERW n{};
    n.hdr.hwndFrom = header;
    n.hdr.idFrom = GetDlgCtrlID(header);
    n.hdr.code = nt ? WideCode : AnsiCode;
    n.iItem = Column;
    n.pitem = &item;
    SendMessageW(h, WM_NOTIFY, n.hdr.idFrom, reinterpret_cast<LPARAM>(&n));
    return item.cxy;
  };
  notifyHeader(HDN_ENDTRACKW, HDN_ENDTRACKA, 1, 173);
  EXPECT_EQ(lv->Columns()->Items(1)->Width(), 173);
  SendMessageW(h, LVM_SETCOLUMNWIDTH, 0, 20);
  notifyHeader(HDN_DIVIDERDBLCLICKW, HDN_DIVIDERDBLCLICKA, 0, 0);
  int sized = (int)SendMessageW(h, LVM_GETCOLUMNWIDTH, 0, 0);
  EXPECT_EQ(lv->Columns()->Items(0)->Width(), sized);
  // Dragging a divider keeps the column within its limits, while dragging and at the end.
  TListColumn* limited = lv->Columns()->Items(1);
  limited->SetMinWidth(30);
  limited->SetMaxWidth(120);
  struct {
    int Dragged, Kept;
  } drags[] = {{200, 120}, {10, 30}, {80, 80}};
  for (auto d : drags) {
    EXPECT_EQ(notifyHeader(HDN_TRACKW, HDN_TRACKA, 1, d.Dragged), d.Kept) << d.Dragged;
    EXPECT_EQ(notifyHeader(HDN_ENDTRACKW, HDN_ENDTRACKA, 1, d.Dragged), d.Kept) << d.Dragged;
    EXPECT_EQ(limited->Width(), d.Kept);
  }
  EXPECT_EQ(notifyHeader(HDN_TRACKW, HDN_TRACKA, 0, 500), 500) << "a column without limits";
  // A click on a column's header.
  TListColumn* clicked = nullptr;
  lv->OnColumnClick = [&](TObject*, TListColumn* Column) { clicked = Column; };
  NMLISTVIEW click{};
  click.hdr.hwndFrom = h;
  click.hdr.code = LVN_COLUMNCLICK;
  click.iItem = -1;
  click.iSubItem = 1;
  NotifyParent(&form, click.hdr);
  EXPECT_EQ(clicked, lv->Columns()->Items(1));
  form.Hide();
}

// The tip of an item: the library's event sees the window's text in the code page and its answer
// reaches the window's buffer, wide on the NT family, cut to the buffer's size.
TEST(UniComCtrls, ListViewInfoTipsReachTheWindowsBuffer) {
  TUniForm form(nullptr);
  auto* lv = new TUniListView(&form);
  lv->SetParent(&form);
  lv->Columns()->Add()->SetCaption(L"Name");
  lv->AddListItem()->SetCaption(L"first");
  TUniListItem* second = lv->AddListItem();
  second->SetCaption(kChinese);
  form.HandleNeeded();
  TListItem* seenItem = nullptr;
  AnsiString seenTip;
  lv->OnInfoTip = [&](TObject*, TListItem* Item, AnsiString& Tip) {
    seenItem = Item;
    seenTip = Tip;
    Tip = WideToAnsi(kLatin1) + " " + Tip;
  };
  bool nt = TestConfig().NT();
  auto tip = [&](int Item, const WideString& Start, int Size) {
    wchar_t wide[72];
    char ansi[72];
    std::fill(std::begin(wide), std::end(wide), L'#');
    std::fill(std::begin(ansi), std::end(ansi), '#');
    AnsiString start = WideToAnsi(Start);
    std::copy(Start.begin(), Start.end(), wide);
    wide[Start.size()] = 0;
    std::copy(start.begin(), start.end(), ansi);
    ansi[start.size()] = 0;
    NMLVGETINFOTIPW w{};
    NMLVGETINFOTIPA a{};
    NMHDR& hdr = nt ? w.hdr : a.hdr;
    hdr.hwndFrom = static_cast<HWND>(lv->Handle());
    hdr.code = nt ? LVN_GETINFOTIPW : LVN_GETINFOTIPA;
    w.pszText = wide;
    a.pszText = ansi;
    w.cchTextMax = a.cchTextMax = Size;
    w.iItem = a.iItem = Item;
    NotifyParent(&form, hdr);
    // Nothing is written past the buffer.
    if (nt) EXPECT_EQ(wide[Size], L'#');
    else EXPECT_EQ(ansi[Size], '#');
    return nt ? WideString(wide) : AnsiToWide(ansi);
  };
  // The event's tip is 8-bit: what the code page cannot hold is lost on every system.
  auto lossy = [](const WideString& S) { return AnsiToWide(WideToAnsi(S)); };
  EXPECT_EQ(tip(1, L"\u4e2d\u6587", 64), lossy(kLatin1 + L" \u4e2d\u6587"));
  EXPECT_EQ(seenItem, second);
  EXPECT_EQ(seenTip, WideToAnsi(L"\u4e2d\u6587"));
  // Eight characters of room on the NT family, eight bytes on the 8-bit path.
  EXPECT_EQ(tip(0, L"", 8), nt ? lossy(kLatin1).substr(0, 7) : AnsiToWide(WideToAnsi(kLatin1).substr(0, 7)));
  // No item, no event.
  seenItem = nullptr;
  EXPECT_EQ(tip(5, L"kept", 64), L"kept");
  EXPECT_EQ(seenItem, nullptr);
}

TEST(UniComCtrls, ListViewCaptionEditorTypesWideCharactersThroughTheKeySteps) {
  TUniForm form(nullptr);
  auto* lv = new TUniListView(&form);
  lv->SetParent(&form);
  lv->Columns()->Add()->SetCaption(L"Name");
  lv->SetReadOnly(false);
  form.Show();
  TUniListItem* item = lv->AddListItem();
  item->SetCaption(L"old");
  std::vector<int> pressed;
  lv->OnKeyPress = [&](TObject*, char& Key) {
    pressed.push_back((unsigned char)Key);
    if (Key == 'x') Key = 0;
  };
  HWND h = static_cast<HWND>(lv->Handle());
  bool nt = TestConfig().NT();
  HWND box = nt ? (HWND)SendMessageW(h, LVM_EDITLABELW, 0, 0) : (HWND)SendMessageA(h, LVM_EDITLABELA, 0, 0);
  ASSERT_NE(box, nullptr);
  SendMessageW(box, EM_SETSEL, 0, -1);
  // Sent, not posted: the editor ends when it loses the focus, which another program's window
  // may take while this thread serves its queue.
  for (wchar_t ch : {L'\u4e2d', L'x', L'\u00e9', L'a'}) SendMessageW(box, WM_CHAR, ch, 1);
  SendMessageW(box, WM_KEYDOWN, VK_RETURN, 0);
  if (nt) {
    // The library sees the packed form (255) of the wide character, and the editor the whole one;
    // a key the handler takes does not arrive.
    EXPECT_EQ(pressed, (std::vector<int>{255, 'x', 0xE9, 'a'}));
    EXPECT_EQ(item->Caption(), L"\u4e2d\u00e9a");
  } else {
    EXPECT_EQ(item->Caption(), AnsiToWide(item->TListItem::Caption()));
    EXPECT_NE(item->Caption(), L"old");
  }
  form.Hide();
}

TEST(UniComCtrls, ClientDockedIntoAPageControlGetsASheetWithItsWideCaption) {
  TUniForm form(nullptr);
  form.SetBounds(0, 0, 400, 300);
  auto* pc = new TUniPageControl(&form);
  pc->SetParent(&form);
  auto* first = new TUniTabSheet(&form);
  first->SetCaption(L"first");
  first->SetPageControl(pc);
  form.Show();
  HWND tabs = static_cast<HWND>(pc->Handle());
  // A visible client: its own sheet, captioned with its wide caption, comes up with it inside.
  auto client = std::make_unique<TUniForm>(nullptr);
  client->SetCaption(kChinese);
  client->SetVisible(true);
  client->ManualDock(pc);
  ASSERT_EQ(pc->PageCount(), 2);
  auto* sheet = dynamic_cast<TUniTabSheet*>(pc->Pages(1));
  ASSERT_NE(sheet, nullptr);
  EXPECT_EQ(client->HostDockSite(), pc);
  EXPECT_EQ(client->Parent(), sheet);
  EXPECT_EQ(pc->ActivePage(), sheet);
  EXPECT_EQ(TabText(pc, 1), Expected(kChinese));
  HWND clientWnd = static_cast<HWND>(client->Handle());
  EXPECT_EQ(GetParent(clientWnd), static_cast<HWND>(sheet->Handle()));
  EXPECT_EQ(GetWindowLongW(clientWnd, GWL_STYLE) & (WS_CHILD | WS_CAPTION), (LONG)WS_CHILD);
  EXPECT_EQ(client->Width(), sheet->Width());
  EXPECT_EQ(client->Height(), sheet->Height());
  // The sheet follows the client's caption up to its first line break.
  client->SetCaption(kLatin1 + L"\r\nsecond line");
  EXPECT_EQ(TabText(pc, 1), Expected(kLatin1));
  EXPECT_EQ(sheet->Caption(), Expected(kLatin1));
  // A hidden client's sheet has no tab and does not come up.
  auto hidden = std::make_unique<TUniForm>(nullptr);
  hidden->SetCaption(L"hidden");
  hidden->ManualDock(pc);
  EXPECT_EQ(pc->PageCount(), 3);
  EXPECT_FALSE(pc->Pages(2)->TabVisible());
  EXPECT_EQ(SendMessageW(tabs, TCM_GETITEMCOUNT, 0, 0), 2);
  EXPECT_EQ(pc->ActivePage(), sheet);
  // Shown again, the tab comes back in its place, with its text.
  pc->Pages(2)->SetTabVisible(true);
  EXPECT_EQ(SendMessageW(tabs, TCM_GETITEMCOUNT, 0, 0), 3);
  EXPECT_EQ(TabText(pc, 2), L"hidden");
  EXPECT_EQ(TabText(pc, 1), Expected(kLatin1));
  EXPECT_EQ(pc->TabIndex(), 1);
  form.Hide();
}

TEST(UniComCtrls, TabSheetTakesAnEightBitCaptionSetBeforeItsWindow) {
  TUniTabSheet sheet(nullptr);
  sheet.SetCaption(kChinese);
  // The library's own caption, written directly, replaces a wide caption it does not match.
  sheet.TTabSheet::SetCaption("plain");
  EXPECT_EQ(sheet.Caption(), L"plain");
  sheet.SetCaption(kLatin1);
  sheet.TTabSheet::SetCaption(WideToAnsi(kLatin1));
  EXPECT_EQ(sheet.Caption(), Expected(kLatin1));
}

namespace {
// Row Index of an owner-drawn list view drawn into a bitmap through its parent's WM_DRAWITEM.
std::vector<uint32_t> DrawRow(TWinControl* Form, TWinControl* LV, int Index, int W, int H) {
  std::vector<uint32_t> out = DrawItemPixels(Form, LV, ODT_LISTVIEW, Index, W, H);
  for (uint32_t& v : out) v = ((v & 0xFF) << 16) | (v & 0xFF00) | ((v >> 16) & 0xFF);  // as COLORREF
  return out;
}
}  // namespace

TEST(UniComCtrls, OwnerDrawnListViewDrawsWideCaptions) {
  TUniForm form(nullptr);
  auto* lv = new TUniListView(&form);
  lv->SetParent(&form);
  lv->Columns()->Add()->SetCaption(L"Name");
  lv->SetOwnerDraw(true);
  lv->AddItem(kChinese, nullptr);
  lv->AddItem(AnsiToWide(WideToAnsi(kChinese)), nullptr);
  form.HandleNeeded();
  EXPECT_TRUE(GetWindowLongW(static_cast<HWND>(lv->Handle()), GWL_STYLE) & LVS_OWNERDRAWFIXED);
  const int W = 160, H = 18;
  std::vector<uint32_t> wide = DrawRow(&form, lv, 0, W, H), ansi = DrawRow(&form, lv, 1, W, H);
  bool text = false;
  for (int y = 0; y < H; ++y)
    for (int x = 0; x < W; ++x) {
      uint32_t c = wide[(size_t)y * W + x];
      if (x < 2) EXPECT_EQ(c, GetSysColor(COLOR_WINDOW)) << x << "," << y;
      else text |= c != GetSysColor(COLOR_WINDOW);
    }
  EXPECT_TRUE(text);
  // Items keep their wide captions on every system, and are drawn with them.
  EXPECT_EQ(wide == ansi, GetACP() == 936);
  TListItem* drawn = nullptr;
  lv->OnDrawItem = [&](TObject*, TListItem* Item, const RECT&, TOwnerDrawState) { drawn = Item; };
  DrawRow(&form, lv, 1, W, H);
  EXPECT_EQ(drawn, lv->Items()->Item(1));
}

namespace {
// The masks of the wide tab updates that reach a tab window.
std::vector<UINT> gTabMasks;
WNDPROC gTabPrev = nullptr;
LRESULT CALLBACK RecordTabUpdates(HWND W, UINT Msg, WPARAM WParam, LPARAM LParam) {
  if (Msg == TCM_SETITEMW && LParam) gTabMasks.push_back(reinterpret_cast<TCITEMW*>(LParam)->mask);
  return CallWindowProcW(gTabPrev, W, Msg, WParam, LParam);
}
}  // namespace

// A tab's wide caption reads right to left while its page control does.
TEST(UniComCtrls, TabCaptionsReadRightToLeft) {
  TRightToLeftSystem rtl;
  TUniForm form(nullptr);
  auto* pc = new TUniPageControl(&form);
  pc->SetParent(&form);
  auto* sheet = new TUniTabSheet(&form);
  sheet->SetCaption(kChinese);
  sheet->SetPageControl(pc);
  form.HandleNeeded();
  HWND h = static_cast<HWND>(pc->Handle());
  gTabMasks.clear();
  gTabPrev = reinterpret_cast<WNDPROC>(SetWindowLongPtrW(h, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&RecordTabUpdates)));
  for (TBiDiMode mode : {bdLeftToRight, bdRightToLeftReadingOnly}) {
    pc->SetBiDiMode(mode);
    pc->UpdateTab(sheet);
  }
  SetWindowLongPtrW(h, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(gTabPrev));
  if (!TestConfig().NT()) {
    EXPECT_TRUE(gTabMasks.empty()) << "the 8-bit window takes 8-bit tabs";
    return;
  }
  ASSERT_EQ(gTabMasks.size(), 2u);
  EXPECT_EQ(gTabMasks[0] & TCIF_RTLREADING, 0u);
  EXPECT_EQ(gTabMasks[1] & TCIF_RTLREADING, (UINT)TCIF_RTLREADING);
  EXPECT_EQ(TabText(pc, 0), kChinese);
}
