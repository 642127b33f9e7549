// One owner-drawn item of a control drawn into a 32-bit top-down DIB through its parent's
// WM_DRAWITEM, as the system asks for it.
#pragma once
#include <cstdint>
#include <vector>

#include "classlib/Controls.h"
#include "classlib/WinApi.h"

// The DIB's pixels, row by row, each 0x00RRGGBB.
inline std::vector<uint32_t> DrawItemPixels(TWinControl* Form, TWinControl* Control, UINT CtlType, int Index, int W,
                                            int H) {
  BITMAPINFO bi{};
  bi.bmiHeader = {sizeof bi.bmiHeader, W, -H, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
  void* bits = nullptr;
  HDC dc = CreateCompatibleDC(nullptr);
  HBITMAP bmp = CreateDIBSection(dc, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
  HGDIOBJ old = SelectObject(dc, bmp);
  DRAWITEMSTRUCT dis{};
  dis.CtlType = CtlType;
  dis.itemID = (UINT)Index;
  dis.itemAction = ODA_DRAWENTIRE;
  dis.hwndItem = static_cast<HWND>(Control->Handle());
  dis.hDC = dc;
  dis.rcItem = {0, 0, W, H};
  SendMessageW(static_cast<HWND>(Form->Handle()), WM_DRAWITEM, 0, reinterpret_cast<LPARAM>(&dis));
  GdiFlush();
  auto* p = static_cast<uint32_t*>(bits);
  std::vector<uint32_t> out(p, p + (size_t)W * H);
  SelectObject(dc, old);
  DeleteObject(bmp);
  DeleteDC(dc);
  return out;
}
