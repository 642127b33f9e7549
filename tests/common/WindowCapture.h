// Screenshots of a window as the window drew it, kept as test artefacts.
//
//   #include "common/WindowCapture.h"
//   capture::TCapture shot = capture::CaptureWindow(Wnd);          // frame included
//   capture::TCapture client = capture::CaptureWindow(Wnd, true);  // client area only
//   capture::SaveBmp(shot, L"artefacts\\name.bmp");
#pragma once
#include "classlib/WinApi.h"

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace capture {

struct TCapture {
  int Width = 0, Height = 0;
  std::vector<uint32_t> Pixels;  // top-down BGRA
  uint32_t At(int X, int Y) const { return Pixels[(size_t)Y * Width + X]; }
};

// Width x Height pixels at (X, Y) of a device context, top-down BGRA.
inline TCapture Grab(HDC Source, int X, int Y, int Width, int Height) {
  TCapture c;
  c.Width = Width;
  c.Height = Height;
  HDC mem = CreateCompatibleDC(Source);
  BITMAPINFO bi{};
  bi.bmiHeader.biSize = sizeof bi.bmiHeader;
  bi.bmiHeader.biWidth = c.Width;
  bi.bmiHeader.biHeight = -c.Height;
  bi.bmiHeader.biPlanes = 1;
  bi.bmiHeader.biBitCount = 32;
  void* bits = nullptr;
  HBITMAP dib = CreateDIBSection(Source, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
  HGDIOBJ old = SelectObject(mem, dib);
  BitBlt(mem, 0, 0, c.Width, c.Height, Source, X, Y, SRCCOPY);
  GdiFlush();
  c.Pixels.assign(static_cast<uint32_t*>(bits), static_cast<uint32_t*>(bits) + (size_t)c.Width * c.Height);
  SelectObject(mem, old);
  DeleteObject(dib);
  DeleteDC(mem);
  return c;
}

// The window's own surface, not the screen: what the window drew, whenever the X server shows it.
inline TCapture CaptureWindow(HWND Wnd, bool ClientOnly = false) {
  RECT r;
  if (ClientOnly)
    GetClientRect(Wnd, &r);
  else
    GetWindowRect(Wnd, &r);
  HDC dc = ClientOnly ? GetDC(Wnd) : GetWindowDC(Wnd);
  TCapture c = Grab(dc, 0, 0, r.right - r.left, r.bottom - r.top);
  ReleaseDC(Wnd, dc);
  return c;
}

// Writes a 32-bit BMP, opaque (viewers would take GDI's zero alpha bytes as transparency).
// False when the file cannot be written.
inline bool SaveBmp(const TCapture& C, const std::wstring& FileName) {
  BITMAPFILEHEADER fh{};
  BITMAPINFOHEADER ih{};
  ih.biSize = sizeof ih;
  ih.biWidth = C.Width;
  ih.biHeight = -C.Height;
  ih.biPlanes = 1;
  ih.biBitCount = 32;
  fh.bfType = 0x4D42;
  fh.bfOffBits = sizeof fh + sizeof ih;
  fh.bfSize = fh.bfOffBits + (DWORD)(C.Pixels.size() * 4);
  FILE* f = _wfopen(FileName.c_str(), L"wb");
  if (!f) return false;
  std::vector<uint32_t> opaque(C.Pixels);
  for (uint32_t& p : opaque) p |= 0xFF000000;
  fwrite(&fh, sizeof fh, 1, f);
  fwrite(&ih, sizeof ih, 1, f);
  fwrite(opaque.data(), 4, opaque.size(), f);
  fclose(f);
  return true;
}

}  // namespace capture
