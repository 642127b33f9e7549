// A test form with Chinese, Czech and Latin-1 text in every control kind, captured from the
// screen and kept as a test artefact; Chinese text must show real glyphs, not empty boxes.
#include <gtest/gtest.h>

#include <cstdio>
#include <vector>

#include "common/WindowCapture.h"
#include "unicode/TestConfig.h"
#include "unicode/UniSysUtils.h"
#include "unicode/UniSystem.h"
#include "widgets/UniComCtrls.h"
#include "widgets/UniExtCtrls.h"
#include "widgets/UniForms.h"
#include "widgets/UniStdCtrls.h"

namespace {
using capture::TCapture;
using capture::CaptureWindow;

// The pixels of a child window's area within the form's capture.
std::vector<uint32_t> Area(const TCapture& C, HWND Form, HWND Child) {
  RECT f, r;
  GetWindowRect(Form, &f);
  GetWindowRect(Child, &r);
  std::vector<uint32_t> out;
  for (int y = r.top - f.top; y < r.bottom - f.top; ++y)
    for (int x = r.left - f.left; x < r.right - f.left; ++x)
      if (x >= 0 && y >= 0 && x < C.Width && y < C.Height) out.push_back(C.At(x, y) & 0xFFFFFF);
  return out;
}

std::wstring ExeBaseName() {
  wchar_t path[MAX_PATH];
  DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring p(path, n);
  size_t slash = p.find_last_of(L"\\/");
  std::wstring name = p.substr(slash + 1);
  return name.substr(0, name.find_last_of(L'.'));
}
}  // namespace

TEST(Screenshot, EveryControlKindShowsRealGlyphs) {
  const WideString chinese = L"\u4e2d\u6587\u6807\u9898";
  const WideString czech = L"\u010ce\u0161tina \u017elu\u0165ou\u010dk\u00fd";
  const WideString latin1 = L"Gr\u00fc\u00dfe, caf\u00e9";
  const WideString all = chinese + L" " + czech + L" " + latin1;
  TUniForm form(nullptr);
  form.SetBounds(20, 20, 640, 460);
  form.SetCaption(all);
  int y = 8;
  auto place = [&](TControl* c, int h) {
    c->SetParent(&form);
    c->SetBounds(8, y, 600, h);
    y += h + 6;
  };
  auto* label = new TUniLabel(&form);
  label->SetCaption(all);
  place(label, 20);
  auto* edit = new TUniEdit(&form);
  edit->SetText(all);
  place(edit, 24);
  auto* button = new TUniButton(&form);
  button->SetCaption(all);
  place(button, 28);
  auto* check = new TUniCheckBox(&form);
  check->SetCaption(all);
  place(check, 22);
  auto* combo = new TUniComboBox(&form);
  place(combo, 200);
  y -= 200 - 24;
  auto* list = new TUniListBox(&form);
  place(list, 56);
  auto* group = new TUniGroupBox(&form);
  group->SetCaption(all);
  place(group, 40);
  auto* panel = new TUniPanel(&form);
  panel->SetCaption(chinese);
  place(panel, 30);
  // The same panel with characters no font has: the boxes to tell glyphs from.
  auto* boxes = new TUniPanel(&form);
  boxes->SetCaption(L"\ue000\ue001\ue002\ue003");
  place(boxes, 30);
  auto* lv = new TUniListView(&form);
  place(lv, 80);
  form.Show();
  combo->Items()->Add(all);
  combo->SetItemIndex(0);
  list->Items()->Add(chinese);
  list->Items()->Add(czech);
  list->Items()->Add(latin1);
  lv->Columns()->Add()->SetCaption(chinese);
  lv->Columns()->Items(0)->SetWidth(200);
  lv->Columns()->Add()->SetCaption(czech);
  lv->Columns()->Items(1)->SetWidth(200);
  TUniListItem* item = lv->AddItem(latin1, nullptr);
  item->SubItems()->Add(chinese);
  HWND h = static_cast<HWND>(form.Handle());
  SetWindowPos(h, HWND_TOPMOST, 20, 20, 640, 460, SWP_SHOWWINDOW);
  RedrawWindow(h, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
  Application->ProcessMessages();
  TCapture shot = CaptureWindow(h);
  CreateDirectoryW(L"artefacts", nullptr);
  ASSERT_TRUE(capture::SaveBmp(shot, L"artefacts\\" + ExeBaseName() + L"_form.bmp"));

  std::vector<uint32_t> glyphs = Area(shot, h, static_cast<HWND>(panel->Handle()));
  std::vector<uint32_t> notdef = Area(shot, h, static_cast<HWND>(boxes->Handle()));
  ASSERT_FALSE(glyphs.empty());
  ASSERT_EQ(glyphs.size(), notdef.size());
  // Text was drawn at all (the panel is not one flat colour) ...
  EXPECT_NE(std::count(glyphs.begin(), glyphs.end(), glyphs[0]), (long)glyphs.size());
  // ... and the Chinese caption does not look like the boxes of characters without glyphs,
  // wherever the code page of the platform's path can hold it.
  if (TestConfig().NT() || TestConfig().CodePage == 936) {
    EXPECT_NE(glyphs, notdef);
  }
}
