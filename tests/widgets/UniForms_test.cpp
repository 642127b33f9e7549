// Unicode forms: wide captions, modal showing, translucency, the application's title and hint.
#include <gtest/gtest.h>

#include <map>
#include <set>

#include "classlib/ActnList.h"
#include "unicode/TestConfig.h"
#include "unicode/UniSysUtils.h"
#include "unicode/UniSystem.h"
#include "widgets/UniActnList.h"
#include "widgets/UniButtons.h"
#include "widgets/UniComCtrls.h"
#include "widgets/UniControls.h"
#include "widgets/UniExtCtrls.h"
#include "widgets/UniForms.h"
#include "widgets/UniMenus.h"
#include "widgets/UniStdCtrls.h"

namespace {
class TProbeForm : public TUniForm {
 public:
  using TUniForm::TUniForm;
  const char* ClassName() const override { return "TProbeForm"; }
  std::function<void(TMessage&)> OnMessage;
  void WndProc(TMessage& M) override {
    if (OnMessage) OnMessage(M);
    TUniForm::WndProc(M);
  }
};

WideString Expected(const WideString& S) { return TestConfig().NT() ? S : AnsiToWide(WideToAnsi(S)); }

WideString TitleBar(TWinControl* C) {
  wchar_t buf[256];
  int n = GetWindowTextW(static_cast<HWND>(C->Handle()), buf, 256);
  return WideString(buf, n);
}
}  // namespace

TEST(UniForms, CaptionSetBeforeTheWindowShowsInTheTitleBar) {
  TProbeForm form(nullptr);
  form.SetCaption(L"\u4e2d\u6587 \u010ce\u0161tina");
  form.Show();
  EXPECT_EQ(TitleBar(&form), Expected(L"\u4e2d\u6587 \u010ce\u0161tina"));
  EXPECT_EQ(form.Caption(), Expected(L"\u4e2d\u6587 \u010ce\u0161tina"));
  wchar_t cls[64];
  GetClassNameW(static_cast<HWND>(form.Handle()), cls, 64);
  EXPECT_STREQ(cls, TestConfig().NT() ? L"TProbeForm.UnicodeClass" : L"TProbeForm");
}

TEST(UniForms, ModalFormDisablesTheOthersAndEnablesThemAgain) {
  TProbeForm other(nullptr), dialog(nullptr);
  other.Show();
  HWND otherWnd = static_cast<HWND>(other.Handle());
  bool otherEnabledDuring = true, dialogEnabledDuring = false;
  dialog.OnMessage = [&](TMessage& M) {
    if (M.Msg != WM_USER + 1) return;
    otherEnabledDuring = IsWindowEnabled(otherWnd) != 0;
    dialogEnabledDuring = IsWindowEnabled(static_cast<HWND>(dialog.Handle())) != 0;
    PostMessageW(static_cast<HWND>(dialog.Handle()), WM_CLOSE, 0, 0);
  };
  dialog.HandleNeeded();
  PostMessageW(static_cast<HWND>(dialog.Handle()), WM_USER + 1, 0, 0);
  EXPECT_EQ(dialog.ShowModal(), mrCancel);
  EXPECT_FALSE(otherEnabledDuring);
  EXPECT_TRUE(dialogEnabledDuring);
  EXPECT_TRUE(IsWindowEnabled(otherWnd));
  EXPECT_FALSE(IsWindowVisible(static_cast<HWND>(dialog.Handle())));
}

TEST(UniForms, TranslucencySurvivesTheUnicodeWindow) {
  TProbeForm form(nullptr);
  form.SetAlphaBlendValue(128);
  form.SetAlphaBlend(true);
  form.Show();
  HWND h = static_cast<HWND>(form.Handle());
  EXPECT_TRUE(GetWindowLongW(h, GWL_EXSTYLE) & WS_EX_LAYERED);
  BYTE alpha = 0;
  DWORD flags = 0;
  ASSERT_TRUE(GetLayeredWindowAttributes(h, nullptr, &alpha, &flags));
  EXPECT_EQ(alpha, 128);
  EXPECT_TRUE(flags & LWA_ALPHA);
}

TEST(UniForms, ApplicationTitleAndHint) {
  WideString saved = UniApplication->Title();
  HWND app = static_cast<HWND>(Application->Handle());
  auto windowText = [app] {
    wchar_t buf[256] = L"";
    int n = GetWindowTextW(app, buf, 256);
    return WideString(buf, (size_t)std::max(n, 0));
  };
  EXPECT_EQ(windowText(), saved) << "the window has the title from the start";
  for (const WideString title : {L"\u4e2d\u6587 caf\u00e9", L"plain", L"\u010ce\u0161tina \u05e9\u05dc\u05d5\u05dd"}) {
    SCOPED_TRACE(WideToUtf8(title).c_str());
    UniApplication->SetTitle(title);
    // Read from the window on NT; elsewhere the wide shadow keeps what the code page cannot hold.
    EXPECT_EQ(UniApplication->Title(), title);
    // The window the task bar shows has it too: whole on NT, in the code page elsewhere.
    EXPECT_EQ(windowText(), Expected(title));
  }
  UniApplication->SetTitle(saved);
  EXPECT_EQ(windowText(), saved);
  int hints = 0;
  Application->OnHint = [&](TObject*) { ++hints; };
  UniApplication->SetHint(L"\u4e2d\u6587");
  EXPECT_EQ(UniApplication->Hint(), L"\u4e2d\u6587");
  EXPECT_EQ(Application->Hint(), WideToAnsi(L"\u4e2d\u6587"));
  EXPECT_GE(hints, 1);
  // A hint of the control under the mouse is taken whole when the 8-bit hint is its form.
  TProbeForm form(nullptr);
  SetControlWideHint(&form, L"short|\u010ce\u0161tina \u4e2d");
  Application->SetMouseControl(&form);
  Application->SetHint(WideToAnsi(L"\u010ce\u0161tina \u4e2d"));
  UniApplication->UpdateHint();
  EXPECT_EQ(UniApplication->Hint(), Expected(L"\u010ce\u0161tina \u4e2d"));
  Application->SetMouseControl(nullptr);
  Application->OnHint = nullptr;
  UniApplication->SetHint(L"");
}

TEST(UniForms, HintActionCarriesTheWideHint) {
  // Without an OnHint handler a hint change runs the hint action; its takers get the wide hint.
  std::vector<std::pair<std::string, WideString>> taken;
  Application->OnActionExecute = [&](TBasicAction* Action, bool& Handled) {
    taken.emplace_back(Action->ClassName(), GetActionWideHint(Action));
    Handled = true;
  };
  UniApplication->SetHint(L"\u4e2d\u6587 caf\u00e9");
  ASSERT_EQ(taken.size(), 1u);
  EXPECT_EQ(taken[0].first, "TUniHintAction");
  EXPECT_EQ(taken[0].second, L"\u4e2d\u6587 caf\u00e9");
  // A hint action whose 8-bit hint is not the application's goes on as it is.
  taken.clear();
  THintAction other(nullptr);
  other.SetHint("other");
  EXPECT_TRUE(other.Execute());
  ASSERT_EQ(taken.size(), 1u);
  EXPECT_EQ(taken[0].first, "THintAction");
  EXPECT_EQ(taken[0].second, L"other");
  Application->OnActionExecute = nullptr;
  UniApplication->SetHint(L"");
}

TEST(UniForms, ActionUpdatesKeepTheWideHintInStep) {
  // A Unicode form's action update, and the idle control on a form of the class library, both
  // take the wide hint of the control under the mouse when the 8-bit hint is its form.
  TUniForm uni(nullptr);
  TForm plain(nullptr);
  TUniAction action(nullptr);
  int updates = 0;
  action.OnUpdate = [&](TObject*) { ++updates; };
  auto* button = new TUniButton(&uni);
  button->SetParent(&uni);
  button->SetAction(&action);
  auto* idle = new TUniAppIdleEventControl(&plain);
  idle->SetParent(&plain);
  // A handler keeps the hint action (which reads the hint too) out of the way.
  Application->OnHint = [](TObject*) {};
  for (TCustomForm* form : {static_cast<TCustomForm*>(&uni), static_cast<TCustomForm*>(&plain)}) {
    SCOPED_TRACE(form->ClassName());
    UniApplication->SetHint(L"");
    SetControlWideHint(form, L"s|\u4e2d\u6587 \u010ce\u0161tina");
    Application->SetMouseControl(form);
    Application->SetHint(WideToAnsi(L"\u4e2d\u6587 \u010ce\u0161tina"));
    form->UpdateActions();
    Application->SetMouseControl(nullptr);
    EXPECT_EQ(UniApplication->Hint(), Expected(L"\u4e2d\u6587 \u010ce\u0161tina"));
  }
  EXPECT_EQ(updates, 1);
  Application->OnHint = nullptr;
  UniApplication->SetHint(L"");
}

TEST(UniForms, ReleasedFormIsFreedAfterItsMessages) {
  bool freed = false;
  struct TFlagForm : TProbeForm {
    bool* Flag;
    TFlagForm(bool* F) : TProbeForm(nullptr), Flag(F) {}
    ~TFlagForm() override { *Flag = true; }
  };
  auto* form = new TFlagForm(&freed);
  form->OnClose = [](TObject*, TCloseAction& A) { A = caFree; };
  form->Show();
  form->Close();
  EXPECT_FALSE(freed);
  Application->ProcessMessages();
  EXPECT_TRUE(freed);
}

TEST(UniForms, MenuSelectionShowsTheItemsLongHint) {
  TProbeForm form(nullptr);
  TMainMenu menu(nullptr);
  auto* file = new TUniMenuItem(&menu);
  auto* open = new TUniMenuItem(&menu);
  file->SetCaption(L"\u6587\u4ef6");
  file->SetHint(L"f|\u6587\u4ef6\u83dc\u5355");
  open->SetCaption(L"\u6253\u5f00");
  open->SetHint(L"o|\u6253\u5f00\u6587\u4ef6");
  bool clicked = false;
  open->OnClick = [&](TObject*) { clicked = true; };
  menu.Items()->Add(file);
  file->Add(open);
  form.SetMenu(&menu);
  HWND h = static_cast<HWND>(form.Handle());
  HMENU bar = GetMenu(h);
  ASSERT_NE(bar, nullptr);
  SendMessageW(h, WM_MENUSELECT, MAKEWPARAM(open->Command(), 0), (LPARAM)file->Handle());
  EXPECT_EQ(UniApplication->Hint(), L"\u6253\u5f00\u6587\u4ef6");
  SendMessageW(h, WM_MENUSELECT, MAKEWPARAM(0, MF_POPUP), (LPARAM)bar);
  EXPECT_EQ(UniApplication->Hint(), L"\u6587\u4ef6\u83dc\u5355");
  SendMessageW(h, WM_MENUSELECT, MAKEWPARAM(9999, 0), (LPARAM)bar);
  EXPECT_EQ(UniApplication->Hint(), L"");
  SendMessageW(h, WM_COMMAND, MAKEWPARAM(open->Command(), 0), 0);
  EXPECT_TRUE(clicked);
  form.SetMenu(nullptr);
}

TEST(UniForms, FormWithoutAResourceSaysSo) {
  TProbeForm form(nullptr);
  try {
    form.LoadFormResource();
    ADD_FAILURE() << "no error";
  } catch (const EResNotFound& E) {
    EXPECT_EQ(E.Message(), L"Resource TProbeForm not found");
  }
  EXPECT_FALSE(form.FormState() & fsCreating);
}

TEST(UniForms, MDIChildrenAreUnicodeWindowsUnderTheMainFormsClient) {
  const WideString kTitle = L"\u4e2d\u6587 \u010ce\u0161tina";
  // No MDI main form: no child.
  {
    TUniForm child(nullptr);
    child.SetFormStyle(fsMDIChild);
    try {
      child.HandleNeeded();
      ADD_FAILURE() << "no exception";
    } catch (const EInvalidOperation& e) {
      EXPECT_STREQ(e.what(), "Cannot create form. No MDI forms are currently active");
    }
    EXPECT_FALSE(child.HandleAllocated());
  }
  TCustomForm* savedMain = Application->MainForm();
  {
    TUniForm frame(nullptr);
    frame.SetFormStyle(fsMDIForm);
    frame.SetBounds(0, 0, 500, 400);
    frame.SetCaption(kTitle);
    Application->SetMainForm(&frame);
    frame.Show();
    HWND client = static_cast<HWND>(frame.ClientHandle());
    ASSERT_NE(client, nullptr);
    EXPECT_EQ(TitleBar(&frame), Expected(kTitle));
    // The client window fills the frame, also after a resize.
    frame.SetBounds(0, 0, 420, 330);
    RECT fr{}, cr{};
    GetClientRect(static_cast<HWND>(frame.Handle()), &fr);
    GetWindowRect(client, &cr);
    EXPECT_EQ(cr.right - cr.left, fr.right);
    EXPECT_EQ(cr.bottom - cr.top, fr.bottom);
    std::vector<std::unique_ptr<TProbeForm>> children;
    for (int i = 0; i < 2; ++i) {
      children.push_back(std::make_unique<TProbeForm>(nullptr));
      TProbeForm* child = children.back().get();
      child->SetFormStyle(fsMDIChild);
      child->SetCaption(kTitle + L" " + std::to_wstring(i));
      child->HandleNeeded();
      HWND h = static_cast<HWND>(child->Handle());
      EXPECT_EQ(GetParent(h), client);
      EXPECT_TRUE(child->FormState() & fsCreatedMDIChild);
      EXPECT_EQ(IsWindowUnicode(h) != 0, TestConfig().NT());
      EXPECT_EQ(TitleBar(child), Expected(kTitle + L" " + std::to_wstring(i)));
      wchar_t cls[64];
      GetClassNameW(h, cls, 64);
      EXPECT_EQ(WideString(cls), TestConfig().NT() ? L"TProbeForm.UnicodeClass" : L"TProbeForm");
      // The client activates the newest child.
      EXPECT_EQ((HWND)SendMessageW(client, WM_MDIGETACTIVE, 0, 0), h);
    }
    // The children's default handling is the MDI one: the client activates and maximizes them.
    HWND first = static_cast<HWND>(children[0]->Handle());
    SendMessageW(client, WM_MDIACTIVATE, reinterpret_cast<WPARAM>(first), 0);
    EXPECT_EQ((HWND)SendMessageW(client, WM_MDIGETACTIVE, 0, 0), first);
    SendMessageW(first, WM_SYSCOMMAND, SC_MAXIMIZE, 0);
    EXPECT_TRUE(IsZoomed(first));
    // A child whose window is made again keeps its wide caption; a freed child leaves the client.
    children[0]->RecreateWnd();
    EXPECT_EQ(TitleBar(children[0].get()), Expected(kTitle + L" 0"));
    EXPECT_EQ(GetParent(static_cast<HWND>(children[0]->Handle())), client);
    children.clear();
    EXPECT_EQ(GetWindow(client, GW_CHILD), nullptr);
    // The frame's window is made again with a new client.
    frame.RecreateWnd();
    EXPECT_NE(frame.ClientHandle(), nullptr);
    EXPECT_EQ(TitleBar(&frame), Expected(kTitle));
    frame.Hide();
  }
  Application->SetMainForm(savedMain);
}

TEST(UniForms, DockSiteWithADockManagerHasItsWindowFirstAndLaysOutItsClients) {
  TUniForm site(nullptr);
  site.SetBounds(0, 0, 400, 300);
  site.SetDockSite(true);
  EXPECT_FALSE(site.HandleAllocated());
  site.SetUseDockManager(true);
  ASSERT_NE(site.DockManager(), nullptr);
  EXPECT_TRUE(site.HandleAllocated());
  EXPECT_EQ(IsWindowUnicode(static_cast<HWND>(site.Handle())) != 0, TestConfig().NT());
  // The library's own form makes its manager without a window.
  TForm plain(nullptr);
  plain.SetDockSite(true);
  plain.SetUseDockManager(true);
  EXPECT_NE(plain.DockManager(), nullptr);
  EXPECT_FALSE(plain.HandleAllocated());
  // Clients dock side by side over the client area; one that goes leaves the room to the other.
  RECT client{};
  GetClientRect(static_cast<HWND>(site.Handle()), &client);
  auto* left = new TUniPanel(nullptr);
  auto* right = new TUniPanel(nullptr);
  left->SetCaption(L"\u4e2d\u6587");
  left->ManualDock(&site);
  right->ManualDock(&site);
  EXPECT_EQ(left->HostDockSite(), &site);
  EXPECT_EQ(right->Parent(), &site);
  EXPECT_EQ(left->Left(), 0);
  EXPECT_EQ(right->Left(), client.right / 2);
  EXPECT_EQ(left->Width() + right->Width(), client.right);
  EXPECT_EQ(right->Height(), client.bottom);
  EXPECT_EQ(site.DockManager()->ClientCount(), 2);
  delete left;
  EXPECT_EQ(site.DockManager()->ClientCount(), 1);
  EXPECT_EQ(right->Left(), 0);
  EXPECT_EQ(right->Width(), client.right);
  // Undocked, it leaves the site.
  right->ManualDock(nullptr);
  EXPECT_EQ(right->HostDockSite(), nullptr);
  EXPECT_EQ(right->Parent(), nullptr);
  delete right;
}

namespace {
// Handles the thread's messages until none is waiting, for at most Seconds. False when messages
// kept coming; Painted counts the paint messages of each window class meanwhile.
bool HandleMessagesUntilIdle(double Seconds, std::map<WideString, int>& Painted) {
  DWORD start = GetTickCount(), limit = (DWORD)(Seconds * 1000);
  MSG m;
  while (PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE)) {
    if (m.message == WM_PAINT) {
      wchar_t cls[64] = L"";
      GetClassNameW(m.hwnd, cls, 64);
      ++Painted[cls];
    }
    TranslateMessage(&m);
    DispatchMessageW(&m);
    if (GetTickCount() - start > limit) return false;
  }
  return true;
}
}  // namespace

TEST(UniForms, AFormWithEveryControlKindGoesIdle) {
  const WideString text = L"\u4e2d\u6587 \u010ce\u0161tina";
  TUniForm form(nullptr);
  form.SetBounds(10, 10, 640, 520);
  form.SetCaption(text);
  int y = 4;
  auto place = [&](TControl* c, int h) {
    c->SetParent(&form);
    c->SetBounds(4, y, 300, h);
    y += h + 4;
  };
  auto* label = new TUniLabel(&form);
  label->SetCaption(text);
  place(label, 16);
  auto* edit = new TUniEdit(&form);
  edit->SetText(text);
  place(edit, 22);
  auto* memo = new TUniMemo(&form);
  place(memo, 40);
  memo->Lines()->Add(text);
  auto* button = new TUniButton(&form);
  button->SetCaption(text);
  place(button, 24);
  auto* bitBtn = new TUniBitBtn(&form);
  bitBtn->SetCaption(text);
  place(bitBtn, 24);
  auto* check = new TUniCheckBox(&form);
  check->SetCaption(text);
  place(check, 20);
  auto* group = new TUniGroupBox(&form);
  group->SetCaption(text);
  place(group, 30);
  auto* panel = new TUniPanel(&form);
  panel->SetCaption(text);
  place(panel, 24);
  // List and combo boxes of each style, with items added before and after their windows.
  const TComboBoxStyle comboStyles[] = {csDropDown, csSimple, csDropDownList, csOwnerDrawFixed};
  int x = 320, ly = 4;
  for (TComboBoxStyle style : comboStyles) {
    auto* combo = new TUniComboBox(&form);
    combo->SetStyle(style);
    combo->Items()->Add(text);
    combo->SetParent(&form);
    combo->SetBounds(x, ly, 300, style == csSimple ? 60 : 24);
    ly += style == csSimple ? 64 : 28;
    combo->Items()->Add(text + L" 2");
    combo->SetItemIndex(0);
  }
  const TListBoxStyle listStyles[] = {lbStandard, lbOwnerDrawFixed, lbOwnerDrawVariable, lbVirtual};
  for (TListBoxStyle style : listStyles) {
    auto* list = new TUniListBox(&form);
    list->SetStyle(style);
    if (style == lbVirtual) {
      list->OnWideData = [text](TWinControl*, int Index, WideString& Data) { Data = text + std::to_wstring(Index); };
      list->SetCount(3);
    } else {
      list->Items()->Add(text);
    }
    list->SetParent(&form);
    list->SetBounds(x, ly, 300, 50);
    ly += 54;
    if (style != lbVirtual) list->Items()->Add(text + L" 2");
    list->SetItemIndex(0);
  }
  auto* pages = new TUniPageControl(&form);
  pages->SetParent(&form);
  pages->SetBounds(x, ly, 300, 80);
  for (int i = 0; i < 2; ++i) {
    auto* sheet = new TUniTabSheet(&form);
    sheet->SetPageControl(pages);
    sheet->SetCaption(text + std::to_wstring(i));
  }
  auto* lv = new TUniListView(&form);
  place(lv, 60);
  lv->Columns()->Add()->SetCaption(text);
  lv->AddItem(text, nullptr);
  auto* track = new TUniTrackBar(&form);
  place(track, 30);
  auto* progress = new TUniProgressBar(&form);
  place(progress, 16);
  form.Show();
  // One window for each windowed control: none is left behind by a window made twice.
  std::set<HWND> expected, found;
  for (int i = 0; i < form.ControlCount(); ++i)
    if (auto* w = dynamic_cast<TWinControl*>(form.Controls(i))) expected.insert(static_cast<HWND>(w->Handle()));
  for (HWND c = GetWindow(static_cast<HWND>(form.Handle()), GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) found.insert(c);
  EXPECT_EQ(found, expected);

  std::map<WideString, int> painted;
  bool idle = HandleMessagesUntilIdle(5, painted);
  std::wstring counts;
  for (auto& [cls, n] : painted) counts += cls + L" " + std::to_wstring(n) + L"; ";
  EXPECT_TRUE(idle) << "paint messages by class: " << WideToUtf8(counts).c_str();
  // Showing it again, and repainting all of it, ends as well.
  RedrawWindow(static_cast<HWND>(form.Handle()), nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN);
  painted.clear();
  EXPECT_TRUE(HandleMessagesUntilIdle(5, painted));
  // The library's own loop returns too.
  Application->ProcessMessages();
}
