// Unicode common controls: list view texts through insert, delete, move, sort and new windows;
// tab captions; Unicode windows of every kind.
#include <gtest/gtest.h>

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
