// The step strip on a real window: its height, the band drawn from the skin picture, the bold
// title with its colon, the step text 10 pixels after it and cut with an ellipsis when the strip
// is narrow, in both language tables.
#include <gtest/gtest.h>

#include <vector>

#include "HostShots.h"
#include "toolkit/LanguageManager.h"
#include "toolkit/NavigatePageControl.h"

namespace {

class SkinWindowStrip : public shots::TWindowTest {};

constexpr uint32_t Shared = 0xE4EEF2;  // the shared background ($F2EEE4), 0xRRGGBB as shot

// The runs of columns with ink in the band's rows right of its left end (which has a dark mark),
// as [first, last] pairs.
std::vector<std::pair<int, int>> InkRuns(const capture::TCapture& Shot) {
  std::vector<std::pair<int, int>> runs;
  for (int x = 8; x < Shot.Width; ++x) {
    bool ink = false;
    for (int y = 8; y < 45 && !ink; ++y) ink = shots::IsInk(Shot.At(x, y));
    if (!ink) continue;
    if (!runs.empty() && runs.back().second == x - 1)
      runs.back().second = x;
    else
      runs.push_back({x, x});
  }
  return runs;
}
// The rows holding ink between the columns From and To.
int InkRows(const capture::TCapture& Shot, int From, int To) {
  int rows = 0;
  for (int y = 0; y < Shot.Height; ++y) {
    bool ink = false;
    for (int x = From; x <= To && !ink; ++x) ink = shots::IsInk(Shot.At(x, y));
    rows += ink;
  }
  return rows;
}
// The title is the ink before the first gap of at least 9 columns; the step text is the rest.
struct TTexts {
  int TitleLeft = -1, TitleRight = -1, StepLeft = -1, StepRight = -1;
};
TTexts Split(const std::vector<std::pair<int, int>>& Runs) {
  TTexts t;
  if (Runs.empty()) return t;
  t.TitleLeft = Runs.front().first;
  t.TitleRight = Runs.front().second;
  size_t i = 1;
  for (; i < Runs.size() && Runs[i].first - t.TitleRight <= 9; ++i) t.TitleRight = Runs[i].second;
  if (i < Runs.size()) {
    t.StepLeft = Runs[i].first;
    t.StepRight = Runs.back().second;
  }
  return t;
}

}  // namespace

TEST_F(SkinWindowStrip, BandTitleStepAndEllipsisInBothLanguages) {
  CreateLanguageManager();
  LanguageManager->SetLanguage("en");
  auto* strip = Open<TNavigateTabCaptionControl>(600, 20);
  // Never lower than 45; the band fills it and takes no part in the mouse.
  EXPECT_EQ(strip->Height(), 45);
  EXPECT_EQ(strip->MinHeight(), 45);
  strip->Relayout();
  TNavigateTabCaption* band = strip->Caption();
  EXPECT_EQ(band->BoundsRect().Right, 600);
  EXPECT_EQ(band->BoundsRect().Bottom, 45);
  EXPECT_FALSE(band->IsClickable());
  EXPECT_FALSE(band->IsEnabled());
  EXPECT_EQ(strip->BackgroundStyle(), bsSharedBackground);

  // "Output file:" "Set the output file's format" (the step text differs between the tables).
  strip->SetCaptionIds(29, 30);
  capture::TCapture en = shots::Shoot(strip, L"step_strip_en.bmp");
  // The band: the picture's rows 120-156 from y = 8, its 8-column ends copied, ending 8 pixels
  // before the right edge; the shared background above and to the right of it.
  shots::TSkinPicture picture = shots::SkinPicture(StepCaptionImage, 32, 157);
  ASSERT_NE(picture.Rgba, nullptr);
  auto bandPixel = [&](int PX) {
    return [&, PX](int x, int y) { return shots::Over(picture.Premultiplied(PX + x, 120 + y), Shared, 255); };
  };
  EXPECT_EQ(shots::Mismatches(en, 0, 8, 8, 37, bandPixel(0), "band's left end"), 0);
  EXPECT_EQ(shots::Mismatches(en, 584, 8, 8, 37, bandPixel(24), "band's right end"), 0);
  auto shared = [](int, int) { return Shared; };
  EXPECT_EQ(shots::Mismatches(en, 0, 0, 600, 8, shared, "above the band"), 0);
  EXPECT_EQ(shots::Mismatches(en, 592, 8, 8, 37, shared, "right of the band"), 0);

  // The title from x = 10, a gap of 10 and more, then the step text, well inside the strip.
  TTexts t = Split(InkRuns(en));
  EXPECT_GE(t.TitleLeft, 10);
  EXPECT_LE(t.TitleLeft, 12);
  ASSERT_GT(t.StepLeft, 0) << "no step text after the title";
  EXPECT_GE(t.StepLeft - t.TitleRight, 10);
  EXPECT_LT(t.StepRight, 400);
  // The colon ends the title: a narrow run of ink in the title's last columns.
  std::vector<std::pair<int, int>> runs = InkRuns(en);
  int colonRight = t.TitleRight, colonLeft = colonRight;
  for (auto& r : runs)
    if (r.second == colonRight) colonLeft = r.first;
  EXPECT_LE(colonRight - colonLeft, 3) << "the title does not end in a colon";

  // The other table: another step text with the same title. Boxes would not differ.
  LanguageManager->SetLanguage("cz");
  strip->ApplyTexts();
  xinput::PumpFor(200);
  capture::TCapture cz = capture::CaptureWindow(static_cast<HWND>(strip->Handle()), true);
  shots::Keep(cz, L"step_strip_cz.bmp");
  EXPECT_EQ(shots::InkDifference(shots::InkMask(en, 0, 8, t.TitleRight + 1, 37),
                                 shots::InkMask(cz, 0, 8, t.TitleRight + 1, 37)), 0);
  EXPECT_GT(shots::InkDifference(shots::InkMask(en, t.StepLeft, 8, 600 - t.StepLeft, 37),
                                 shots::InkMask(cz, t.StepLeft, 8, 600 - t.StepLeft, 37)), 20);

  // New ids show at once.
  strip->SetCaptionIds(27, 28);
  xinput::PumpFor(200);
  capture::TCapture other = capture::CaptureWindow(static_cast<HWND>(strip->Handle()), true);
  EXPECT_GT(shots::InkDifference(shots::InkMask(cz, 0, 8, 600, 37), shots::InkMask(other, 0, 8, 600, 37)), 20);

  // Too narrow for the step text: it ends in an ellipsis 10 pixels before the right edge, three
  // dots that hold ink in two rows or fewer; the whole text ends in a full character.
  auto lastRunRows = [](const capture::TCapture& Shot) {
    std::vector<std::pair<int, int>> r = InkRuns(Shot);
    return InkRows(Shot, r.back().first, r.back().second);
  };
  EXPECT_GT(lastRunRows(other), 4);
  strip->SetBounds(0, 0, 150, 45);
  strip->SetCaptionIds(29, 30);
  capture::TCapture narrow = shots::Shoot(strip, L"step_strip_narrow.bmp");
  TTexts n = Split(InkRuns(narrow));
  ASSERT_GT(n.StepLeft, 0);
  EXPECT_LE(n.StepRight, 140);
  EXPECT_LE(lastRunRows(narrow), 2);
  FreeLanguageManager();
}
