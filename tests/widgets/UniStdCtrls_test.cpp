// Unicode standard controls: every kind shows and returns wide text, keeps it across new windows.
#include <gtest/gtest.h>

#include <memory>

#include "DrawItemPixels.h"
#include "RightToLeft.h"
#include "classlib/Themes.h"
#include "unicode/TestConfig.h"
#include "unicode/UniSysUtils.h"
#include "unicode/UniSystem.h"
#include "widgets/UniExtCtrls.h"
#include "widgets/UniForms.h"
#include "widgets/UniStdCtrls.h"

namespace {
WideString Expected(const WideString& S) { return TestConfig().NT() ? S : AnsiToWide(WideToAnsi(S)); }

WideString WindowText(TWinControl* C) {
  wchar_t buf[512];
  int n = GetWindowTextW(static_cast<HWND>(C->Handle()), buf, 512);
  return WideString(buf, n);
}

WideString ClassNameOf(TWinControl* C) {
  wchar_t buf[128];
  int n = GetClassNameW(static_cast<HWND>(C->Handle()), buf, 128);
  return WideString(buf, n);
}

WideString ItemText(TWinControl* C, UINT LenMsg, UINT TextMsg, int Index) {
  HWND h = static_cast<HWND>(C->Handle());
  LRESULT len = SendMessageW(h, LenMsg, Index, 0);
  if (len < 0) return L"<none>";
  std::vector<wchar_t> buf((size_t)len + 1, 0);
  LRESULT n = SendMessageW(h, TextMsg, Index, reinterpret_cast<LPARAM>(buf.data()));
  return WideString(buf.data(), (size_t)std::max<LRESULT>(0, std::min(n, len)));
}

const WideString kChinese = L"\u4e2d\u6587\u6807\u9898";
const WideString kLatin1 = L"Gr\u00fc\u00dfe caf\u00e9";

// One kind of windowed control on a form: made, captioned and read back.
struct Kind {
  const char* Name;
  std::function<TWinControl*(TComponent*)> Make;
  std::function<void(TWinControl*, const WideString&)> SetText;
};

template <class T>
Kind KindOf(const char* Name) {
  return {Name, [](TComponent* O) -> TWinControl* { return new T(O); },
          [](TWinControl* C, const WideString& S) { static_cast<T*>(C)->SetText(S); }};
}

std::vector<Kind> Kinds() {
  return {KindOf<TUniEdit>("TUniEdit"),         KindOf<TUniMemo>("TUniMemo"),
          KindOf<TUniComboBox>("TUniComboBox"), KindOf<TUniButton>("TUniButton"),
          KindOf<TUniCheckBox>("TUniCheckBox"), KindOf<TUniGroupBox>("TUniGroupBox"),
          KindOf<TUniPanel>("TUniPanel"),       KindOf<TUniListBox>("TUniListBox")};
}
}  // namespace

TEST(UniStdCtrls, EveryKindShowsWideTextSetBeforeAndAfterItsWindow) {
  for (const Kind& kind : Kinds()) {
    for (const WideString& text : {kChinese, kLatin1}) {
      for (bool before : {true, false}) {
        SCOPED_TRACE(::testing::Message() << kind.Name << (before ? " before" : " after") << " the window: "
                                          << WideToUtf8(text));
        TUniForm form(nullptr);
        TWinControl* c = kind.Make(&form);
        if (before) kind.SetText(c, text);
        c->SetParent(&form);
        form.HandleNeeded();
        if (!before) kind.SetText(c, text);
        EXPECT_EQ(ClassNameOf(c), TestConfig().NT() ? AnsiToWide(kind.Name) + L".UnicodeClass" : AnsiToWide(kind.Name));
        EXPECT_EQ(IsWindowUnicode(static_cast<HWND>(c->Handle())) != 0, TestConfig().NT());
        // A list box has no window text of its own; the others show the caption.
        if (std::string(kind.Name) == "TUniListBox") continue;
        EXPECT_EQ(WindowText(c), Expected(text));
        EXPECT_EQ(GetControlWideText(c), Expected(text));
        c->RecreateWnd();
        EXPECT_EQ(WindowText(c), Expected(text));
      }
    }
  }
}

TEST(UniStdCtrls, LabelKeepsItsWideCaption) {
  TUniForm form(nullptr);
  auto* label = new TUniLabel(&form);
  label->SetParent(&form);
  label->SetCaption(kChinese);
  EXPECT_EQ(label->Caption(), Expected(kChinese));
  EXPECT_EQ(label->TCustomLabel::Caption(), WideToAnsi(kChinese));
}

TEST(UniStdCtrls, ComboAndListItemsReadBackAndSurviveNewWindows) {
  TUniForm form(nullptr);
  auto* combo = new TUniComboBox(&form);
  auto* list = new TUniListBox(&form);
  combo->SetStyle(csDropDownList);
  combo->SetParent(&form);
  list->SetParent(&form);
  form.HandleNeeded();
  TObject* tag = &form;
  for (TUniListItemsStrings* items : {combo->Items(), list->Items()}) {
    items->Add(kLatin1);
    items->AddObject(kChinese, tag);
    items->Insert(0, L"first");
  }
  combo->SetItemIndex(2);
  list->SetItemIndex(2);
  for (int pass = 0; pass < 2; ++pass) {
    SCOPED_TRACE(pass ? "after new windows" : "first windows");
    EXPECT_EQ(ItemText(combo, CB_GETLBTEXTLEN, CB_GETLBTEXT, 2), Expected(kChinese));
    EXPECT_EQ(ItemText(list, LB_GETTEXTLEN, LB_GETTEXT, 1), Expected(kLatin1));
    EXPECT_EQ(combo->Items()->Get(2), Expected(kChinese));
    EXPECT_EQ(list->Items()->Get(2), Expected(kChinese));
    EXPECT_EQ(combo->Items()->GetObject(2), tag);
    EXPECT_EQ(list->Items()->GetObject(2), tag);
    EXPECT_EQ(combo->Items()->IndexOf(kLatin1), 1);
    EXPECT_EQ(combo->ItemIndex(), 2);
    EXPECT_EQ(list->ItemIndex(), 2);
    EXPECT_EQ(WindowText(combo), Expected(kChinese));
    form.RecreateWnd();
  }
  EXPECT_THROW(list->Items()->Get(7), EStringListError);
}

TEST(UniStdCtrls, ListItemsKeepTheirTextWhetherAddedBeforeOrAfterTheWindow) {
  const WideString texts[] = {
      L"\u4e2d\u6587\u6807\u9898",                      // Chinese
      L"P\u0159\u00edli\u0161 \u017elu\u0165ou\u010dk\u00fd",  // Czech
      L"\u05e9\u05dc\u05d5\u05dd",                      // Hebrew
      L"\u0645\u0631\u062d\u0628\u0627",                // Arabic
      L"clef \U0001d11e",                               // beyond the basic plane
      L"cafe\u0301",                                    // a combining accent
      L"plain",
  };
  const int n = (int)(sizeof texts / sizeof texts[0]);
  for (bool itemsFirst : {true, false}) {
    SCOPED_TRACE(itemsFirst ? "items added before the window" : "items added to the window");
    TUniForm form(nullptr);
    auto* combo = new TUniComboBox(&form);
    auto* list = new TUniListBox(&form);
    combo->SetStyle(csDropDownList);
    TObject* tag = &form;
    auto add = [&] {
      for (TUniListItemsStrings* items : {combo->Items(), list->Items()}) {
        for (int i = n - 1; i >= 1; --i) items->Insert(0, texts[i]);
        items->AddObject(texts[0], tag);
        // A change through the items' own property keeps the others whole.
        items->Exchange(0, n - 1);
        items->Exchange(0, n - 1);
      }
    };
    if (itemsFirst) {
      add();
      // Read back before the window exists, too.
      for (int i = 0; i < n - 1; ++i) EXPECT_EQ(list->Items()->Get(i), Expected(texts[i + 1])) << i;
      EXPECT_EQ(list->Items()->Get(n - 1), Expected(texts[0]));
      EXPECT_EQ(list->Items()->IndexOf(texts[2]), 1);
      list->SetItemIndex(n - 1);
    }
    combo->SetParent(&form);
    list->SetParent(&form);
    form.HandleNeeded();
    if (!itemsFirst) {
      add();
      list->SetItemIndex(n - 1);
    }
    ASSERT_EQ(list->Items()->Count(), n);
    ASSERT_EQ(combo->Items()->Count(), n);
    for (int i = 0; i < n; ++i) {
      WideString want = Expected(texts[(i + 1) % n]);
      SCOPED_TRACE(WideToUtf8(want).c_str());
      EXPECT_EQ(ItemText(list, LB_GETTEXTLEN, LB_GETTEXT, i), want);
      EXPECT_EQ(ItemText(combo, CB_GETLBTEXTLEN, CB_GETLBTEXT, i), want);
      EXPECT_EQ(list->Items()->Get(i), want);
      EXPECT_EQ(combo->Items()->Get(i), want);
    }
    EXPECT_EQ(list->Items()->GetObject(n - 1), tag);
    EXPECT_EQ(combo->Items()->GetObject(n - 1), tag);
    EXPECT_EQ(list->ItemIndex(), n - 1);
  }
}

TEST(UniStdCtrls, DropDownListTypeAheadRestartsAfterAPause) {
  uint32_t now = 100000;
  auto savedClock = UniComboTickCount;
  UniComboTickCount = [&] { return now; };
  TUniForm form(nullptr);
  auto* combo = new TUniComboBox(&form);
  combo->SetStyle(csDropDownList);
  combo->SetParent(&form);
  form.HandleNeeded();
  for (const wchar_t* item : {L"MPEG Audio Layer3 (MP3)", L"Monkey's Audio (APE)", L"Windows Media Audio (WMA)",
                              L"\u4e2d\u6587 (CN)"})
    combo->Items()->Add(item);
  int selects = 0;
  combo->OnSelect = [&](TObject*) { ++selects; };
  HWND h = static_cast<HWND>(combo->Handle());
  auto type = [&](wchar_t ch, uint32_t after) {
    now += after;
    SendMessageW(h, WM_CHAR, ch, 1);
  };
  type(L'M', 0);
  EXPECT_EQ(combo->ItemIndex(), 0);
  type(L'o', 300);
  EXPECT_EQ(combo->ItemIndex(), 1);
  // After 1250 ms the search starts again instead of looking for "MoW".
  type(L'W', 1250);
  EXPECT_EQ(combo->ItemIndex(), 2);
  EXPECT_EQ(selects, 3);
  if (TestConfig().NT()) {
    type(L'\u4e2d', 2000);
    EXPECT_EQ(combo->ItemIndex(), 3);
  }
  UniComboTickCount = savedClock;
}

TEST(UniStdCtrls, DropDownComboCompletesTypedTextAtItsEnd) {
  TUniForm form(nullptr);
  auto* combo = new TUniComboBox(&form);
  auto* list = new TUniComboBox(&form);
  combo->SetParent(&form);
  list->SetStyle(csDropDownList);
  list->SetParent(&form);
  form.HandleNeeded();
  EXPECT_THROW(list->AutoCompleteKeyPress(L'a'), EUniInternalError);
  for (const wchar_t* item : {L"\u010ce\u0161tina", L"\u4e2d\u6587 (CN)", L"Apple"}) combo->Items()->Add(item);
  COMBOBOXINFO info{};
  info.cbSize = sizeof info;
  ASSERT_TRUE(GetComboBoxInfo(static_cast<HWND>(combo->Handle()), &info));
  HWND edit = info.hwndItem;
  auto type = [&](wchar_t ch) { SendMessageW(edit, WM_CHAR, ch, 1); };
  auto selection = [&] {
    DWORD start = 0, end = 0;
    SendMessageW(edit, EM_GETSEL, reinterpret_cast<WPARAM>(&start), reinterpret_cast<LPARAM>(&end));
    return std::make_pair((int)start, (int)end);
  };
  if (!TestConfig().NT()) {
    // The 8-bit path types into the 8-bit edit unchanged.
    type(L'A');
    EXPECT_EQ(WindowText(combo), L"A");
    return;
  }
  struct Step {
    wchar_t Key;
    const wchar_t* Text;
    std::pair<int, int> Selection;
  } steps[] = {
      {L'\u010c', L"\u010ce\u0161tina", {1, 7}},  // completed, the rest selected
      {L'e', L"\u010ce\u0161tina", {2, 7}},
      {L'x', L"\u010cex", {3, 3}},  // no item starts so: the character is typed
  };
  for (const Step& s : steps) {
    SCOPED_TRACE(::testing::Message() << "key " << (int)s.Key);
    type(s.Key);
    EXPECT_EQ(WindowText(combo), s.Text);
    EXPECT_EQ(selection(), s.Selection);
  }
  // Only typing at the end of the text completes.
  SendMessageW(edit, EM_SETSEL, 0, 0);
  type(L'\u4e2d');
  EXPECT_EQ(WindowText(combo), L"\u4e2d\u010cex");
  SetWindowTextW(edit, L"");
  // An input method's character is typed as any other.
  SendMessageW(edit, WM_IME_CHAR, L'\u4e2d', 1);
  EXPECT_EQ(WindowText(combo), L"\u4e2d\u6587 (CN)");
  // Enter with the list open closes it and types nothing.
  combo->SetDroppedDown(true);
  type(13);
  EXPECT_FALSE(combo->DroppedDown());
  EXPECT_EQ(WindowText(combo), L"\u4e2d\u6587 (CN)");
  combo->SetAutoComplete(false);
  SetWindowTextW(edit, L"");
  type(L'A');
  EXPECT_EQ(WindowText(combo), L"A");
}

TEST(UniStdCtrls, MemoLinesAreWideAndAnInsertAfterAnEmptyLastLineStays) {
  TUniForm form(nullptr);
  auto* memo = new TUniMemo(&form);
  memo->SetParent(&form);
  form.HandleNeeded();
  memo->Lines()->SetText(kChinese + L"\n" + kLatin1);
  EXPECT_EQ(memo->Lines()->Get(0), Expected(kChinese));
  EXPECT_EQ(memo->Lines()->Get(1), Expected(kLatin1));
  memo->Lines()->Put(1, L"\u010ce\u0161tina");
  EXPECT_EQ(memo->Lines()->Get(1), Expected(L"\u010ce\u0161tina"));
  memo->Lines()->Insert(0, L"top");
  EXPECT_EQ(memo->Lines()->Get(0), L"top");
  EXPECT_EQ(WindowText(memo), Expected(L"top\r\n" + kChinese + L"\r\n\u010ce\u0161tina"));
  // A text ending in a line break has an empty last line; a line inserted after it is kept.
  memo->Lines()->SetText(L"a\r\n");
  if (TestConfig().NT()) {
    memo->Lines()->Insert(2, kChinese);
    EXPECT_EQ(WindowText(memo), L"a\r\n\r\n" + kChinese);
  } else {
    // The 8-bit lines count no empty last line.
    memo->Lines()->Insert(1, kChinese);
    EXPECT_EQ(WindowText(memo), Expected(L"a\r\n" + kChinese));
  }
}

TEST(UniStdCtrls, EditSelectionInCharactersAndEscapeSwallowed) {
  TUniForm form(nullptr);
  auto* edit = new TUniEdit(&form);
  edit->SetParent(&form);
  form.HandleNeeded();
  edit->SetText(L"\u4e2d\u6587abc");
  edit->SetSelStart(1);
  edit->SetSelLength(2);
  EXPECT_EQ(edit->SelStart(), 1);
  EXPECT_EQ(edit->SelLength(), 2);
  EXPECT_EQ(edit->SelText(), Expected(L"\u6587a"));
  int keys = 0;
  edit->OnKeyPress = [&](TObject*, char&) { ++keys; };
  SendMessageW(static_cast<HWND>(edit->Handle()), WM_CHAR, 27, 1);
  EXPECT_EQ(keys, 0);
  SendMessageW(static_cast<HWND>(edit->Handle()), WM_CHAR, 'x', 1);
  EXPECT_EQ(keys, 1);
}

TEST(UniStdCtrls, ReadOnlyEditStaysReadOnlyAndPasswordCharIsWide) {
  TUniForm form(nullptr);
  auto* edit = new TUniEdit(&form);
  edit->SetReadOnly(true);
  edit->SetParent(&form);
  form.HandleNeeded();
  for (int pass = 0; pass < 2; ++pass) {
    EXPECT_TRUE(GetWindowLongW(static_cast<HWND>(edit->Handle()), GWL_STYLE) & ES_READONLY);
    edit->RecreateWnd();
  }
  auto* password = new TUniEdit(&form);
  password->SetParent(&form);
  password->SetPasswordChar(L'\u25cf');
  EXPECT_EQ(password->PasswordChar(), L'\u25cf');
  EXPECT_EQ(password->TCustomEdit::PasswordChar(), '*');
  if (TestConfig().NT()) {
    EXPECT_EQ(SendMessageW(static_cast<HWND>(password->Handle()), EM_GETPASSWORDCHAR, 0, 0), 0x25cf);
  }
}

TEST(UniStdCtrls, ListBoxPutAndExchangeKeepDataAndSelection) {
  TUniForm form(nullptr);
  auto* list = new TUniListBox(&form);
  list->SetParent(&form);
  form.HandleNeeded();
  TObject* a = &form;
  TObject* b = list;
  list->Items()->AddObject(kChinese, a);
  list->Items()->AddObject(kLatin1, b);
  list->SetItemIndex(0);
  list->Items()->Put(0, L"\u010ce\u0161tina");
  EXPECT_EQ(list->Items()->Get(0), Expected(L"\u010ce\u0161tina"));
  EXPECT_EQ(list->Items()->GetObject(0), a);
  EXPECT_EQ(list->ItemIndex(), 0);
  list->Items()->Exchange(0, 1);
  EXPECT_EQ(list->Items()->Get(0), Expected(kLatin1));
  EXPECT_EQ(list->Items()->GetObject(0), b);
  EXPECT_EQ(list->Items()->GetObject(1), a);
  EXPECT_EQ(list->ItemIndex(), 1);
  // Moving takes the data and the selection along.
  list->Items()->AddObject(L"third", nullptr);
  list->Items()->Move(1, 2);
  EXPECT_EQ(list->Items()->Get(2), Expected(L"\u010ce\u0161tina"));
  EXPECT_EQ(list->Items()->Get(1), L"third");
  EXPECT_EQ(list->Items()->GetObject(2), a);
  EXPECT_EQ(list->ItemIndex(), 2);
  EXPECT_FALSE(list->Moving());
}

namespace {
// One owner-drawn item drawn into a bitmap through its parent's WM_DRAWITEM.
struct ItemImage {
  static constexpr int W = 120, H = 20;
  std::vector<uint32_t> Pixels;
  uint32_t At(int X, int Y) const { return Pixels[(size_t)Y * W + X] & 0xFFFFFF; }
  bool operator==(const ItemImage& O) const { return Pixels == O.Pixels; }
};

ItemImage DrawItemImage(TWinControl* Form, TWinControl* Control, UINT CtlType, int Index) {
  ItemImage image;
  image.Pixels = DrawItemPixels(Form, Control, CtlType, Index, ItemImage::W, ItemImage::H);
  return image;
}
}  // namespace

TEST(UniStdCtrls, OwnerDrawnAndVirtualItemsDrawTheirWideText) {
  const WideString kCzech = L"\u010ce\u0161tina";
  struct Case {
    const char* Name;
    std::function<TWinControl*(TWinControl*)> Make;
    UINT CtlType;
  } cases[] = {
      {"combo box",
       [&](TWinControl* O) -> TWinControl* {
         auto* c = new TUniComboBox(O);
         c->SetStyle(csOwnerDrawFixed);
         c->SetParent(O);
         c->Items()->Add(kChinese);
         c->Items()->Add(AnsiToWide(WideToAnsi(kChinese)));
         return c;
       },
       ODT_COMBOBOX},
      {"owner-drawn list box",
       [&](TWinControl* O) -> TWinControl* {
         auto* c = new TUniListBox(O);
         c->SetStyle(lbOwnerDrawFixed);
         c->SetParent(O);
         c->Items()->Add(kChinese);
         c->Items()->Add(AnsiToWide(WideToAnsi(kChinese)));
         return c;
       },
       ODT_LISTBOX},
      {"virtual list box",
       [&](TWinControl* O) -> TWinControl* {
         auto* c = new TUniListBox(O);
         c->SetStyle(lbVirtual);
         c->SetParent(O);
         c->OnWideData = [&](TWinControl*, int Index, WideString& Data) {
           Data = Index == 0 ? kChinese : AnsiToWide(WideToAnsi(kChinese));
         };
         c->SetCount(2);
         return c;
       },
       ODT_LISTBOX},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    TUniForm form(nullptr);
    TWinControl* control = c.Make(&form);
    form.HandleNeeded();
    // The item's text lies on its background, 2 pixels in.
    ItemImage wide = DrawItemImage(&form, control, c.CtlType, 0);
    ItemImage ansi = DrawItemImage(&form, control, c.CtlType, 1);
    uint32_t background = GetSysColor(COLOR_WINDOW) & 0xFFFFFF;
    bool text = false;
    for (int y = 0; y < ItemImage::H; ++y) {
      for (int x = 0; x < ItemImage::W; ++x) {
        uint32_t bgr = wide.At(x, y);
        uint32_t rgb = ((bgr & 0xFF) << 16) | (bgr & 0xFF00) | (bgr >> 16);
        if (x < 2) EXPECT_EQ(rgb, background) << x << "," << y;
        else text |= rgb != background;
      }
    }
    EXPECT_TRUE(text);
    // The wide text, not its 8-bit form, where the system has wide text (which the Chinese code
    // page holds whole).
    EXPECT_EQ(wide == ansi, !TestConfig().NT() || GetACP() == 936);
    // The event draws in place of the default drawing, with the item's place.
    int drawn = -1;
    RECT place{};
    auto onDraw = [&](TWinControl* Sender, int Index, const RECT& R, TOwnerDrawState) {
      EXPECT_EQ(Sender, control);
      drawn = Index;
      place = R;
    };
    if (auto* combo = dynamic_cast<TUniComboBox*>(control)) combo->OnDrawItem = onDraw;
    else static_cast<TUniListBox*>(control)->OnDrawItem = onDraw;
    ItemImage blank = DrawItemImage(&form, control, c.CtlType, 1);
    EXPECT_EQ(drawn, 1);
    EXPECT_EQ(place.right, ItemImage::W);
    EXPECT_EQ(blank.At(5, 5), 0u);
  }
}

TEST(UniStdCtrls, VirtualListBoxAnswersTextsFromItsDataEvent) {
  TUniForm form(nullptr);
  auto* list = new TUniListBox(&form);
  list->SetStyle(lbVirtual);
  EXPECT_THROW(TUniListBox(nullptr).SetCount(3), EInvalidOperation);
  int asked = 0;
  list->OnWideData = [&](TWinControl*, int Index, WideString& Data) {
    ++asked;
    Data = kChinese + L" " + std::to_wstring(Index);
  };
  list->SetCount(100000);
  list->SetParent(&form);
  form.HandleNeeded();
  EXPECT_EQ(list->Items()->Count(), 100000);
  EXPECT_EQ(list->Items()->Get(99999), Expected(kChinese + L" 99999"));
  // A list without data of its own: the system passes the asker's buffer as it is.
  if (TestConfig().NT()) {
    EXPECT_EQ(ItemText(list, LB_GETTEXTLEN, LB_GETTEXT, 7), kChinese + L" 7");
  }
  EXPECT_EQ(SendMessageW(static_cast<HWND>(list->Handle()), LB_GETTEXTLEN, 100000, 0), LB_ERR);
  EXPECT_THROW(list->Items()->Get(100000), EStringListError);
  // Without the wide event the 8-bit one serves, widened; a new window keeps the count.
  list->OnWideData = nullptr;
  list->OnData = [](TWinControl*, int Index, AnsiString& Data) { Data = "caf\xe9 " + std::to_string(Index); };
  list->RecreateWnd();
  EXPECT_EQ(list->Items()->Count(), 100000);
  EXPECT_EQ(list->Items()->Get(3), AnsiToWide("caf\xe9 3"));
  EXPECT_GT(asked, 0);
}

TEST(UniStdCtrls, LabelPreparesItsOwnWideHint) {
  TUniForm form(nullptr);
  auto* label = new TUniLabel(&form);
  label->SetParent(&form);
  label->SetHint(kChinese + L"|long");
  THintInfo info;
  info.HintControl = label;
  info.HintWindowClass = &THintWindow::Class;
  label->Perform(CM_HINTSHOW, 0, reinterpret_cast<intptr_t>(&info));
  EXPECT_EQ(info.HintWindowClass, TestConfig().NT() ? &TUniCustomHintWindow::Class : &THintWindow::Class);
  if (TestConfig().NT()) {
    EXPECT_EQ(GetWideHintText(info), kChinese);
  }
}

TEST(UniStdCtrls, WideAcceleratorsTakeAltKeys) {
  TUniForm form(nullptr);
  auto* button = new TUniButton(&form);
  auto* check = new TUniCheckBox(&form);
  auto* label = new TUniLabel(&form);
  auto* edit = new TUniEdit(&form);
  button->SetCaption(L"\u00c9&cole");
  check->SetCaption(L"&\u00c5ngstr\u00f6m");
  label->SetCaption(L"&Name");
  label->SetFocusControl(edit);
  for (TControl* c : std::initializer_list<TControl*>{button, check, label, edit}) c->SetParent(&form);
  button->SetBounds(0, 0, 80, 24);
  check->SetBounds(0, 30, 120, 20);
  edit->SetBounds(0, 60, 120, 20);
  form.Show();
  int clicks = 0;
  button->OnClick = [&](TObject*) { ++clicks; };
  auto alt = [&](wchar_t ch) { SendMessageW(static_cast<HWND>(edit->Handle()), WM_SYSCHAR, ch, 1 << 29); };
  alt(L'C');
  EXPECT_EQ(clicks, 1);
  alt(L'n');
  EXPECT_TRUE(edit->Focused());
  // A hot key beyond ASCII, in either case.
  EXPECT_TRUE(IsWideAccelChar(0xC5, L"&\u00c5ngstr\u00f6m") || TestConfig().CodePage != 1252);
  EXPECT_TRUE(IsWideAccelChar('a', L"B&ar"));
  EXPECT_FALSE(IsWideAccelChar('b', L"B&ar"));
  alt(L'x');
  EXPECT_EQ(clicks, 1);
}

TEST(UniStdCtrls, SelectionCopiedToAnotherListStaysWide) {
  TUniForm form(nullptr);
  auto* combo = new TUniComboBox(&form);
  auto* list = new TUniListBox(&form);
  auto* ansiList = new TCustomListBox(&form);
  for (TWinControl* c : std::initializer_list<TWinControl*>{combo, list, ansiList}) c->SetParent(&form);
  form.HandleNeeded();
  combo->Items()->AddObject(kChinese, &form);
  combo->SetItemIndex(0);
  combo->CopySelection(list);
  combo->CopySelection(ansiList);
  EXPECT_EQ(list->Items()->Get(0), Expected(kChinese));
  EXPECT_EQ(list->Items()->GetObject(0), &form);
  EXPECT_EQ(ansiList->Items()->Get(0), WideToAnsi(kChinese));
}

TEST(UniStdCtrls, WrappedLabelWithEllipsisFitsItsHeight) {
  TUniLabel label(nullptr);
  label.SetAutoSize(false);
  label.SetWordWrap(true);
  label.SetEllipsisPosition(epEndEllipsis);
  label.SetBounds(0, 0, 80, 16);
  HDC screen = GetDC(nullptr);
  HDC dc = CreateCompatibleDC(screen);
  HBITMAP bmp = CreateCompatibleBitmap(screen, 80, 64);
  HGDIOBJ old = SelectObject(dc, bmp);
  // Several words, one word longer than the label, and nothing: each paint ends.
  for (const wchar_t* caption : {L"\u4e2d\u6587 caf\u00e9 \u010ce\u0161tina \u017elu\u0165ou\u010dk\u00fd k\u016f\u0148",
                                 L"Supercalifragilisticexpialidocious", L""}) {
    label.SetCaption(caption);
    RECT all{0, 0, 80, 64};
    FillRect(dc, &all, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
    label.Paint(dc);
    // Nothing is drawn below the label's one line.
    bool below = false;
    for (int y = 20; y < 64 && !below; ++y)
      for (int x = 0; x < 80 && !below; ++x) below = GetPixel(dc, x, y) != RGB(255, 255, 255);
    EXPECT_FALSE(below) << WideToUtf8(caption);
  }
  SelectObject(dc, old);
  DeleteObject(bmp);
  DeleteDC(dc);
  ReleaseDC(nullptr, screen);
}

namespace {
// Visual-style functions that draw nothing and say what they were asked.
struct ThemeCalls {
  bool Active = true;
  int Backgrounds = 0;
  RECT Frame{};
  bool CaptionClipped = false, FrameVisible = false;
  WideString Text;
  RECT TextRect{};
  POINT CaptionPoint{}, FramePoint{};
};
ThemeCalls gTheme;

void* WINAPI FakeOpen(HWND, LPCWSTR Classes) { return WideString(Classes) == L"BUTTON" ? &gTheme : nullptr; }
HRESULT WINAPI FakeClose(void*) { return S_OK; }
HRESULT WINAPI FakeBackground(void*, HDC DC, int Part, int, const RECT* R, const RECT*) {
  EXPECT_EQ(Part, 4);
  ++gTheme.Backgrounds;
  gTheme.Frame = *R;
  gTheme.CaptionClipped = !PtVisible(DC, gTheme.CaptionPoint.x, gTheme.CaptionPoint.y);
  gTheme.FrameVisible = PtVisible(DC, gTheme.FramePoint.x, gTheme.FramePoint.y);
  return S_OK;
}
HRESULT WINAPI FakeText(void*, HDC, int, int, LPCWSTR Text, int Count, DWORD, DWORD, const RECT* R) {
  gTheme.Text.assign(Text, Count < 0 ? wcslen(Text) : (size_t)Count);
  gTheme.TextRect = *R;
  return S_OK;
}
BOOL WINAPI FakeActive() { return gTheme.Active; }
TThemeApi FakeApi() {
  TThemeApi a;
  a.IsThemeActive = a.IsAppThemed = FakeActive;
  a.OpenThemeData = FakeOpen;
  a.CloseThemeData = FakeClose;
  a.DrawThemeBackground = FakeBackground;
  a.DrawThemeText = FakeText;
  return a;
}

// The control's client area painted into a bitmap through WM_PRINTCLIENT.
std::vector<uint32_t> PrintClient(TWinControl* C, int W, int H) {
  BITMAPINFO bi{};
  bi.bmiHeader = {sizeof bi.bmiHeader, W, -H, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
  void* bits = nullptr;
  HDC dc = CreateCompatibleDC(nullptr);
  HBITMAP bmp = CreateDIBSection(dc, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
  HGDIOBJ old = SelectObject(dc, bmp);
  RECT all{0, 0, W, H};
  HBRUSH magenta = CreateSolidBrush(RGB(255, 0, 255));
  FillRect(dc, &all, magenta);
  DeleteObject(magenta);
  SendMessageW(static_cast<HWND>(C->Handle()), WM_PRINTCLIENT, reinterpret_cast<WPARAM>(dc), PRF_CLIENT);
  GdiFlush();
  auto* p = static_cast<uint32_t*>(bits);
  std::vector<uint32_t> out(p, p + W * H);
  for (uint32_t& v : out) v = ((v & 0xFF) << 16) | (v & 0xFF00) | ((v >> 16) & 0xFF);  // as COLORREF
  SelectObject(dc, old);
  DeleteObject(bmp);
  DeleteDC(dc);
  return out;
}
}  // namespace

TEST(UniStdCtrls, GroupBoxDrawsItsFrameAndCaptionInTheVisualStyleOrClassically) {
  TThemeApi saved = ThemeApi();
  TUniForm form(nullptr);
  auto* group = new TUniGroupBox(&form);
  group->SetParent(&form);
  group->SetBounds(0, 0, 200, 100);
  group->SetCaption(kChinese);
  form.HandleNeeded();
  HDC screen = GetDC(nullptr);
  SelectObject(screen, GetStockObject(DEFAULT_GUI_FONT));
  SIZE zero{};
  GetTextExtentPoint32W(screen, L"0", 1, &zero);
  ReleaseDC(nullptr, screen);
  int top = zero.cy / 2 - 1;
  // Without visual styles, and where the system has no theme functions: the classic frame.
  for (bool missing : {false, true}) {
    SCOPED_TRACE(missing ? "no theme functions" : "styles off");
    TThemeApi fake = missing ? TThemeApi{} : FakeApi();
    ThemeApi() = fake;
    gTheme = ThemeCalls{};
    gTheme.Active = false;
    std::vector<uint32_t> px = PrintClient(group, 200, 100);
    auto at = [&](int X, int Y) { return px[(size_t)Y * 200 + X]; };
    EXPECT_EQ(gTheme.Backgrounds, 0);
    EXPECT_EQ(at(0, 60), GetSysColor(COLOR_BTNSHADOW));
    EXPECT_EQ(at(198, top), GetSysColor(COLOR_BTNSHADOW));
    EXPECT_EQ(at(1, 60), GetSysColor(COLOR_BTNHIGHLIGHT));
    // The caption lies over the frame on the group box's colour.
    bool caption = false;
    for (int x = 8; x < 40; ++x) caption |= at(x, zero.cy / 2) != GetSysColor(COLOR_BTNFACE) && at(x, zero.cy / 2) != RGB(255, 0, 255);
    EXPECT_TRUE(caption);
  }
  // With visual styles: the theme draws the frame without the caption's place, and the caption.
  ThemeApi() = FakeApi();
  gTheme = ThemeCalls{};
  gTheme.CaptionPoint = {10, 2};
  gTheme.FramePoint = {190, top + 2};
  PrintClient(group, 200, 100);
  EXPECT_EQ(gTheme.Backgrounds, 1);
  EXPECT_EQ(gTheme.Frame.top, top);
  EXPECT_EQ(gTheme.Frame.right, 200);
  EXPECT_TRUE(gTheme.CaptionClipped);
  EXPECT_TRUE(gTheme.FrameVisible);
  EXPECT_EQ(gTheme.Text, Expected(kChinese));
  EXPECT_EQ(gTheme.TextRect.left, 8);
  ThemeApi() = saved;
}

namespace {
// The columns of the leftmost and rightmost pixels of an image that differ from Background.
std::pair<int, int> InkColumns(const ItemImage& Image, uint32_t Background) {
  int first = ItemImage::W, last = -1;
  for (int y = 0; y < ItemImage::H; ++y)
    for (int x = 0; x < ItemImage::W; ++x) {
      uint32_t bgr = Image.At(x, y);
      uint32_t rgb = ((bgr & 0xFF) << 16) | (bgr & 0xFF00) | (bgr >> 16);
      if (rgb == Background) continue;
      first = std::min(first, x);
      last = std::max(last, x);
    }
  return {first, last};
}
}  // namespace

// Owner-drawn items read right to left: the text ends 2 pixels inside the right edge instead of
// starting 2 pixels inside the left one.
TEST(UniStdCtrls, OwnerDrawnItemsReadRightToLeft) {
  TRightToLeftSystem rtl;
  const WideString text = L"\u4e2d\u6587 abc";
  // The Unicode controls and the class library's own.
  for (int kind = 0; kind < 4; ++kind) {
    UINT type = kind % 2 == 0 ? ODT_COMBOBOX : ODT_LISTBOX;
    bool wide = kind < 2;
    SCOPED_TRACE(::testing::Message() << (wide ? "Unicode " : "8-bit ") << (type == ODT_COMBOBOX ? "combo box" : "list box"));
    TUniForm form(nullptr);
    TWinControl* control;
    if (type == ODT_COMBOBOX) {
      if (wide) {
        auto* c = new TUniComboBox(&form);
        c->Items()->Add(text);
        control = c;
      } else {
        auto* c = new TCustomComboBox(&form);
        c->Items()->Add(WideToAnsi(text));
        control = c;
      }
      static_cast<TCustomComboBox*>(control)->SetStyle(csOwnerDrawFixed);
    } else {
      if (wide) {
        auto* c = new TUniListBox(&form);
        c->Items()->Add(text);
        control = c;
      } else {
        auto* c = new TCustomListBox(&form);
        c->Items()->Add(WideToAnsi(text));
        control = c;
      }
      static_cast<TCustomListBox*>(control)->SetStyle(lbOwnerDrawFixed);
    }
    control->SetParent(&form);
    form.HandleNeeded();
    uint32_t background = GetSysColor(COLOR_WINDOW) & 0xFFFFFF;
    auto [ltrFirst, ltrLast] = InkColumns(DrawItemImage(&form, control, type, 0), background);
    ASSERT_GE(ltrLast, 0);
    EXPECT_GE(ltrFirst, 2);
    EXPECT_LT(ltrFirst, 8);
    control->SetBiDiMode(bdRightToLeft);
    auto [rtlFirst, rtlLast] = InkColumns(DrawItemImage(&form, control, type, 0), background);
    ASSERT_GE(rtlLast, 0);
    EXPECT_LE(rtlLast, ItemImage::W - 3);
    EXPECT_GT(rtlLast, ItemImage::W - 10);
    EXPECT_GT(rtlFirst, ltrFirst + 10) << "the text moved to the right edge";
  }
}

// A group box read right to left has its caption 8 pixels in from the right edge, classically and
// in the visual style.
TEST(UniStdCtrls, GroupBoxCaptionSitsAtTheRightReadingRightToLeft) {
  TRightToLeftSystem rtl;
  TThemeApi saved = ThemeApi();
  TUniForm form(nullptr);
  auto* group = new TUniGroupBox(&form);
  group->SetParent(&form);
  group->SetBounds(0, 0, 200, 100);
  group->SetCaption(L"\u4e2d\u6587 caption");
  form.HandleNeeded();
  HDC screen = GetDC(nullptr);
  HGDIOBJ oldFont = SelectObject(screen, GetStockObject(DEFAULT_GUI_FONT));
  SIZE zero{}, ext{};
  GetTextExtentPoint32W(screen, L"0", 1, &zero);
  WideString shown = TestConfig().NT() ? WideString(L"\u4e2d\u6587 caption") : AnsiToWide(group->TControl::Caption());
  GetTextExtentPoint32W(screen, shown.c_str(), (int)shown.size(), &ext);
  SelectObject(screen, oldFont);
  ReleaseDC(nullptr, screen);
  ASSERT_GT(ext.cx, 30);
  // Classic: the frame's top line shows where the caption is not. Count frame pixels of the top
  // line's rows near each end.
  ThemeApi() = TThemeApi{};
  auto frameNear = [&](std::vector<uint32_t>& px, int From, int To) {
    int n = 0;
    for (int y = zero.cy / 2 - 1; y <= zero.cy / 2; ++y)
      for (int x = From; x < To; ++x) {
        uint32_t c = px[(size_t)y * 200 + x];
        n += c == GetSysColor(COLOR_BTNSHADOW) || c == GetSysColor(COLOR_BTNHIGHLIGHT);
      }
    return n;
  };
  std::vector<uint32_t> ltr = PrintClient(group, 200, 100);
  EXPECT_EQ(frameNear(ltr, 10, 30), 0);
  EXPECT_GT(frameNear(ltr, 170, 190), 0);
  group->SetBiDiMode(bdRightToLeft);
  std::vector<uint32_t> rtlPx = PrintClient(group, 200, 100);
  EXPECT_GT(frameNear(rtlPx, 10, 30), 0);
  EXPECT_EQ(frameNear(rtlPx, 170, 190), 0);
  // In the visual style the caption's place is left out of the frame at the right.
  ThemeApi() = FakeApi();
  gTheme = ThemeCalls{};
  gTheme.CaptionPoint = {200 - 10, 2};
  gTheme.FramePoint = {10, zero.cy / 2};
  PrintClient(group, 200, 100);
  EXPECT_EQ(gTheme.Backgrounds, 1);
  EXPECT_TRUE(gTheme.CaptionClipped);
  EXPECT_TRUE(gTheme.FrameVisible);
  EXPECT_EQ(gTheme.TextRect.right, 200 - 8);
  EXPECT_EQ(gTheme.TextRect.left, 200 - 8 - ext.cx);
  ThemeApi() = saved;
}

// A label and a left-justified panel read right to left put their text at the right edge.
TEST(UniStdCtrls, LabelAndPanelTextMovesRightReadingRightToLeft) {
  TRightToLeftSystem rtl;
  // Where the text lands, not which glyphs it has: letters every font has.
  const WideString text = L"Open file";
  TUniForm form(nullptr);
  auto* label = new TUniLabel(&form);
  label->SetAutoSize(false);
  label->SetBounds(0, 0, 150, 20);
  label->SetCaption(text);
  auto* panel = new TUniPanel(&form);
  panel->SetParent(&form);
  panel->SetBounds(0, 0, 150, 30);
  panel->SetAlignment(taLeftJustify);
  panel->SetCaption(text);
  form.HandleNeeded();
  // The columns of the first and last pixels of the text's colour on the middle rows.
  auto ink = [](const std::vector<uint32_t>& Px, int W, int Rows) {
    int first = -1, last = -1;
    for (int y = 2; y < Rows - 2; ++y)
      for (int x = 3; x < W - 3; ++x) {
        uint32_t c = Px[(size_t)y * W + x];
        if (GetRValue(c) > 0x40 || GetGValue(c) > 0x40 || GetBValue(c) > 0x40) continue;
        if (first < 0 || x < first) first = x;
        last = std::max(last, x);
      }
    return std::make_pair(first, last);
  };
  auto paintLabel = [&] {
    HDC dc = CreateCompatibleDC(nullptr);
    BITMAPINFO bi{};
    bi.bmiHeader = {sizeof(BITMAPINFOHEADER), 150, -20, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
    uint32_t* bits = nullptr;
    HBITMAP bmp = CreateDIBSection(dc, &bi, DIB_RGB_COLORS, reinterpret_cast<void**>(&bits), nullptr, 0);
    HGDIOBJ old = SelectObject(dc, bmp);
    RECT all{0, 0, 150, 20};
    FillRect(dc, &all, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
    label->Paint(dc);
    GdiFlush();
    std::vector<uint32_t> px(bits, bits + 150 * 20);
    for (uint32_t& v : px) v = ((v & 0xFF) << 16) | (v & 0xFF00) | ((v >> 16) & 0xFF);
    SelectObject(dc, old);
    DeleteObject(bmp);
    DeleteDC(dc);
    return ink(px, 150, 20);
  };
  auto paintPanel = [&] { return ink(PrintClient(panel, 150, 30), 150, 30); };
  for (bool isLabel : {true, false}) {
    SCOPED_TRACE(isLabel ? "label" : "panel");
    TControl* c = isLabel ? static_cast<TControl*>(label) : panel;
    c->SetBiDiMode(bdLeftToRight);
    auto ltr = isLabel ? paintLabel() : paintPanel();
    c->SetBiDiMode(bdRightToLeft);
    auto rtlInk = isLabel ? paintLabel() : paintPanel();
    ASSERT_GE(ltr.first, 0);
    ASSERT_GE(rtlInk.first, 0);
    EXPECT_LT(ltr.first, 10);
    EXPECT_GT(rtlInk.second, 150 - 12);
    EXPECT_GT(rtlInk.first, ltr.first + 20);
  }
}
