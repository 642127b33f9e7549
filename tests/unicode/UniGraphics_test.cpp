// Wide canvas text and registry strings.
#include <gtest/gtest.h>

#include "classlib/WinApi.h"
#include "unicode/TestConfig.h"
#include "unicode/UniGraphics.h"
#include "unicode/UniRegistry.h"
#include "unicode/UniSysUtils.h"

namespace {
// A canvas over a white 200 x 50 memory bitmap.
struct BitmapCanvas {
  BitmapCanvas() {
    dc = CreateCompatibleDC(nullptr);
    BITMAPINFO bi{};
    bi.bmiHeader = {sizeof(BITMAPINFOHEADER), 200, -50, 1, 32, BI_RGB};
    bmp = CreateDIBSection(dc, &bi, DIB_RGB_COLORS, reinterpret_cast<void**>(&bits), nullptr, 0);
    old = SelectObject(dc, bmp);
    for (int i = 0; i < 200 * 50; ++i) bits[i] = 0xFFFFFF;
    canvas.SetHandle(dc);
    canvas.Font()->SetName("Tahoma");
    canvas.Font()->SetHeight(-14);
  }
  ~BitmapCanvas() {
    canvas.SetHandle(nullptr);
    SelectObject(dc, old);
    DeleteObject(bmp);
    DeleteDC(dc);
  }
  int InkColumns(int From, int To) {
    GdiFlush();
    int n = 0;
    for (int x = From; x < To && x < 200; ++x)
      for (int y = 0; y < 50; ++y)
        if ((bits[y * 200 + x] & 0xFFFFFF) != 0xFFFFFF) {
          ++n;
          break;
        }
    return n;
  }
  HDC dc;
  HBITMAP bmp;
  HGDIOBJ old;
  uint32_t* bits = nullptr;
  TCanvas canvas;
};
}  // namespace

TEST(CanvasText, ExtentsComeFromTheWideCall) {
  BitmapCanvas b;
  WideString text = L"\u4e2d\u6587 text";
  TSize s = WideCanvasTextExtent(&b.canvas, text);
  SIZE sys{};
  GetTextExtentPoint32W(b.dc, text.c_str(), (int)text.size(), &sys);  // the canvas font is selected now
  EXPECT_EQ(s.cx, sys.cx);
  EXPECT_EQ(s.cy, sys.cy);
  EXPECT_GT(s.cx, 0);
  EXPECT_EQ(WideCanvasTextWidth(&b.canvas, text), s.cx);
  EXPECT_EQ(WideCanvasTextHeight(&b.canvas, text), s.cy);
  b.canvas.Font()->SetHeight(-28);
  EXPECT_GT(WideCanvasTextHeight(&b.canvas, text), s.cy) << "a changed font is selected again";
  TSize none = WideDCTextExtent(nullptr, text);
  EXPECT_EQ(none.cx, 0);
  EXPECT_EQ(none.cy, 0);
  TCanvas bare;
  EXPECT_THROW(WideCanvasTextWidth(&bare, text), EInvalidOperation);
}

TEST(CanvasText, TextOutDrawsAndMovesThePen) {
  BitmapCanvas b;
  int changing = 0, changed = 0;
  b.canvas.OnChanging = [&](TObject*) { ++changing; };
  b.canvas.OnChange = [&](TObject*) { ++changed; };
  WideString text = L"Ab\u4e2d";
  int w = WideCanvasTextWidth(&b.canvas, text);
  WideCanvasTextOut(&b.canvas, 10, 5, text);
  EXPECT_EQ(changing, 1);
  EXPECT_EQ(changed, 1);
  TPoint pen = b.canvas.PenPos();
  EXPECT_EQ(pen.X, 10 + w);
  EXPECT_EQ(pen.Y, 5);
  EXPECT_GT(b.InkColumns(10, 10 + w), w / 3) << "the text was drawn";
  EXPECT_EQ(b.InkColumns(10 + w + 2, 200), 0);
}

TEST(CanvasText, RightToLeftCanvasesDrawFromTheRight) {
  BitmapCanvas b;
  b.canvas.SetTextFlags(ETO_RTLREADING);
  ASSERT_EQ(b.canvas.CanvasOrientation(), coRightToLeft);
  int w = WideCanvasTextWidth(&b.canvas, L"abc");
  WideCanvasTextOut(&b.canvas, 10, 5, L"abc");
  EXPECT_EQ(b.canvas.PenPos().X, 10 + w + 1 + w);
}

namespace {
// A key of its own below HKCU\Software, removed afterwards.
struct TestKey {
  TestKey() {
    path = L"Software\\UniRegistryTest-" + std::to_wstring(GetCurrentProcessId());
    RegCreateKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr);
  }
  ~TestKey() {
    RegCloseKey(key);
    RegDeleteKeyW(HKEY_CURRENT_USER, path.c_str());
  }
  void Set(const wchar_t* Name, DWORD Type, const void* Data, DWORD Size) {
    RegSetValueExW(key, Name, 0, Type, static_cast<const BYTE*>(Data), Size);
  }
  std::wstring path;
  HKEY key = nullptr;
};
}  // namespace

TEST(RegistryStrings, ReadString) {
  TestKey k;
  WideString text = NameInCodePage();
  k.Set(L"sz", REG_SZ, text.c_str(), (DWORD)(text.size() + 1) * 2);
  k.Set(L"expand", REG_EXPAND_SZ, L"%TEMP%\\x", 18);
  k.Set(L"embedded", REG_SZ, L"ab\0cd", 12);
  k.Set(L"unterminated", REG_SZ, L"ab", 4);
  k.Set(L"odd", REG_SZ, "a\0b\0c", 5);
  DWORD dword = 7;
  k.Set(L"n", REG_DWORD, &dword, 4);

  TUniRegistry reg;
  ASSERT_TRUE(reg.OpenKeyReadOnly(WideToAnsi(k.path)));
  EXPECT_EQ(reg.ReadString(WideString(L"sz")), text);
  EXPECT_EQ(reg.ReadString(WideString(L"expand")), L"%TEMP%\\x") << "not expanded";
  EXPECT_EQ(reg.ReadString(WideString(L"embedded")), L"ab");
  EXPECT_EQ(reg.ReadString(WideString(L"unterminated")), L"ab");
  EXPECT_EQ(reg.ReadString(WideString(L"odd")).substr(0, 2), L"ab");
  EXPECT_EQ(reg.ReadString(WideString(L"missing")), L"");
  try {
    reg.ReadString(WideString(L"n"));
    ADD_FAILURE() << "a number read as text";
  } catch (const ERegistryException& e) {
    EXPECT_EQ(e.Message(), L"Invalid data type for 'n'");
  }
  if (TestConfig().NT()) {
    WideString wide = L"\u0e01\u4e2d";  // text no single code page holds
    k.Set(L"wide", REG_SZ, wide.c_str(), (DWORD)(wide.size() + 1) * 2);
    EXPECT_EQ(reg.ReadString(WideString(L"wide")), wide);
  }
}
