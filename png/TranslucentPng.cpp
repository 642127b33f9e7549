#include "png/TranslucentPng.h"

#include <memory>

#include "classlib/WinApi.h"
#include "png/PngCodec.h"

namespace {

// The loader's own message.
constexpr const char* NoTranslucencyMessage = "LoadTranslucentPng: image has no transparency information";

}  // namespace

void* LoadTranslucentPng(const char* Name) {
  auto image = std::make_unique<TPNGObject>();
  HINSTANCE self = GetModuleHandleA(nullptr);
  if (IS_INTRESOURCE(Name))
    image->LoadFromResourceID(self, static_cast<int>(reinterpret_cast<uintptr_t>(Name)));
  else
    image->LoadFromResourceName(self, Name);
  if (image->TransparencyMode() != ptPartial) throw Exception(NoTranslucencyMessage);
  return CreatePremultipliedBitmap(image.get());
}

void* CreatePremultipliedBitmap(TPNGObject* Image) {
  TChunkIHDR* h = Image->Header();
  const uint32_t width = h->Width(), height = h->Height();
  HDC dc = CreateCompatibleDC(nullptr);
  if (!dc) RaisePng<EPNGOutMemory>(TPngMessage::OutMemory);
  BITMAPINFO bi{};
  bi.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  bi.bmiHeader.biWidth = static_cast<LONG>(width);
  bi.bmiHeader.biHeight = -static_cast<LONG>(height);
  bi.bmiHeader.biPlanes = 1;
  bi.bmiHeader.biBitCount = 32;
  bi.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  HBITMAP dib = CreateDIBSection(dc, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
  if (!dib || !bits) {
    if (dib) DeleteObject(dib);
    DeleteDC(dc);
    RaisePng<EPNGOutMemory>(TPngMessage::OutMemory);
  }
  auto* out = static_cast<uint8_t*>(bits);
  memset(out, 0, static_cast<size_t>(width) * height * 4);
  const int storage = h->DIBBits();
  const TPngRGBQuad* colors = h->BitmapInfo().bmiColors;
  TChunktRNS* trns = Image->Chunks().ItemFromClass<TChunktRNS>();
  for (uint32_t y = 0; y < height; ++y) {
    const uint8_t* src = h->Scanline(y);  // the image's top row is the DIB's last
    const uint8_t* alpha = h->AlphaScanline(y);
    uint8_t* d = out + static_cast<size_t>(y) * width * 4;
    for (uint32_t x = 0; x < width; ++x, d += 4) {
      if (storage == 24) {
        const uint32_t a = alpha ? alpha[x] : 255;
        d[0] = static_cast<uint8_t>(a * src[3 * x] >> 8);
        d[1] = static_cast<uint8_t>(a * src[3 * x + 1] >> 8);
        d[2] = static_cast<uint8_t>(a * src[3 * x + 2] >> 8);
        d[3] = static_cast<uint8_t>(a);
      } else if (h->ColorType() == COLOR_GRAYSCALEALPHA) {
        const uint32_t a = alpha[x], g = src[x];
        d[0] = d[1] = d[2] = static_cast<uint8_t>(a * g >> 8);
        d[3] = static_cast<uint8_t>(a);
      } else {
        uint8_t index;
        if (storage == 1) index = (src[x >> 3] >> (7 - (x & 7))) & 1;
        else if (storage == 4) index = (x & 1) ? (src[x >> 1] & 0x0F) : (src[x >> 1] >> 4);
        else index = src[x];
        const uint32_t a = trns ? trns->PaletteValues()[index] : 255;
        d[0] = static_cast<uint8_t>((colors[index].Blue * a + 255) >> 8);
        d[1] = static_cast<uint8_t>((colors[index].Green * a + 255) >> 8);
        d[2] = static_cast<uint8_t>((colors[index].Red * a + 255) >> 8);
        d[3] = static_cast<uint8_t>(a);
      }
    }
  }
  DeleteDC(dc);
  return dib;
}
