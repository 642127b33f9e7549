// Unicode bitmap button: glyph beside a wide caption; a paint waiting for glyph images ends.
#include <gtest/gtest.h>

#include "unicode/TestConfig.h"
#include "unicode/UniSysUtils.h"
#include "widgets/UniButtons.h"
#include "widgets/UniForms.h"

namespace {
// The button's own pixels (top-down, 0x00RRGGBB).
std::vector<uint32_t> Pixels(TWinControl* C, int& W, int& H) {
  HWND h = static_cast<HWND>(C->Handle());
  RECT r;
  GetWindowRect(h, &r);
  W = r.right - r.left;
  H = r.bottom - r.top;
  HDC wdc = GetWindowDC(h), mem = CreateCompatibleDC(wdc);
  BITMAPINFO bi{};
  bi.bmiHeader = {sizeof(BITMAPINFOHEADER), W, -H, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
  void* bits = nullptr;
  HBITMAP dib = CreateDIBSection(wdc, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
  HGDIOBJ old = SelectObject(mem, dib);
  BitBlt(mem, 0, 0, W, H, wdc, 0, 0, SRCCOPY);
  GdiFlush();
  std::vector<uint32_t> px(static_cast<uint32_t*>(bits), static_cast<uint32_t*>(bits) + (size_t)W * H);
  SelectObject(mem, old);
  DeleteObject(dib);
  DeleteDC(mem);
  ReleaseDC(h, wdc);
  for (auto& p : px) p &= 0xFFFFFF;
  return px;
}

void FillGlyph(TBitmap* B, int W, int H) {
  B->SetSize(W, H);
  HDC dc = CreateCompatibleDC(nullptr);
  HGDIOBJ old = SelectObject(dc, static_cast<HBITMAP>(B->Handle()));
  RECT all{0, 0, W, H}, inner{2, 2, W - 2, H - 2};
  HBRUSH white = CreateSolidBrush(RGB(255, 255, 255)), red = CreateSolidBrush(RGB(255, 0, 0));
  FillRect(dc, &all, white);
  FillRect(dc, &inner, red);
  DeleteObject(white);
  DeleteObject(red);
  SelectObject(dc, old);
  DeleteDC(dc);
}
}  // namespace

TEST(UniBitBtn, GlyphBesideAWideCaption) {
  TUniForm form(nullptr);
  form.SetBounds(40, 40, 300, 120);
  auto* button = new TUniBitBtn(&form);
  button->SetBounds(10, 10, 200, 40);
  button->SetCaption(L"\u4e2d\u6587 caf\u00e9");
  FillGlyph(button->Glyph(), 16, 16);
  button->GlyphChanged();
  button->SetParent(&form);
  form.Show();
  RedrawWindow(static_cast<HWND>(form.Handle()), nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
  Application->ProcessMessages();
  EXPECT_EQ(GetControlWideText(button), TestConfig().NT() ? L"\u4e2d\u6587 caf\u00e9" : AnsiToWide(WideToAnsi(L"\u4e2d\u6587 caf\u00e9")));
  int w, h;
  std::vector<uint32_t> px = Pixels(button, w, h);
  int redRight = -1, darkLeft = w;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      uint32_t p = px[(size_t)y * w + x];
      if (p == 0xFF0000) redRight = std::max(redRight, x);
      if (((p >> 16) & 0xFF) < 0x60 && ((p >> 8) & 0xFF) < 0x60 && (p & 0xFF) < 0x60 && x > 4 && x < w - 4 && y > 4 &&
          y < h - 4)
        darkLeft = std::min(darkLeft, x);
    }
  ASSERT_GE(redRight, 0) << "no glyph drawn";
  ASSERT_LT(darkLeft, w) << "no caption drawn";
  EXPECT_LT(redRight, darkLeft);
}

TEST(UniBitBtn, PaintWaitingForGlyphImagesThatNeverComeEnds) {
  TUniForm form(nullptr);
  auto* button = new TUniBitBtn(&form);
  button->SetCaption(L"\u4e2d");
  // Four images in two pixels: no image can be made of it.
  FillGlyph(button->Glyph(), 2, 16);
  button->SetNumGlyphs(4);
  button->SetParent(&form);
  form.Show();
  RedrawWindow(static_cast<HWND>(form.Handle()), nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
  Application->ProcessMessages();
  if (TestConfig().NT()) {
    EXPECT_GE(button->PaintCount(), 1);
    EXPECT_LE(button->PaintCount(), 4);
  }
  EXPECT_FALSE(GetUpdateRect(static_cast<HWND>(button->Handle()), nullptr, FALSE));
}
