#include "classlib/Graphics.h"

#include <cstring>
#include <vector>

#include "classlib/WinApi.h"

TColor ColorToRGB(TColor Color) {
  if (Color < 0) return static_cast<TColor>(GetSysColor(Color & 0xFF));
  return Color;
}

// ---- TFont

TFont::~TFont() {
  if (FHandle) DeleteObject(static_cast<HFONT>(FHandle));
}

void TFont::Changed() {
  // The owner deselects the old object first, then it can go.
  if (OnChange) OnChange(this);
  if (FHandle) {
    DeleteObject(static_cast<HFONT>(FHandle));
    FHandle = nullptr;
  }
}

void TFont::SetName(const AnsiString& Value) {
  if (Value == FName) return;
  FName = Value;
  Changed();
}

void TFont::SetHeight(int Value) {
  if (Value == FHeight) return;
  FHeight = Value;
  Changed();
}

static int ScreenPixelsPerInch() {
  HDC dc = GetDC(nullptr);
  int ppi = dc ? GetDeviceCaps(dc, LOGPIXELSY) : 96;
  if (dc) ReleaseDC(nullptr, dc);
  return ppi > 0 ? ppi : 96;
}

int TFont::Size() const { return -MulDiv(FHeight, 72, ScreenPixelsPerInch()); }

void TFont::SetSize(int Value) { SetHeight(-MulDiv(Value, ScreenPixelsPerInch(), 72)); }

void TFont::SetStyle(TFontStyles Value) {
  if (Value == FStyle) return;
  FStyle = Value;
  Changed();
}

void TFont::SetCharset(TFontCharset Value) {
  if (Value == FCharset) return;
  FCharset = Value;
  Changed();
}

void TFont::SetColor(TColor Value) {
  if (Value == FColor) return;
  FColor = Value;
  if (OnChange) OnChange(this);
}

void* TFont::Handle() {
  if (!FHandle) {
    FHandle = CreateFontA(FHeight, 0, 0, 0, (FStyle & fsBold) ? FW_BOLD : FW_NORMAL, (FStyle & fsItalic) != 0,
                          (FStyle & fsUnderline) != 0, (FStyle & fsStrikeOut) != 0, FCharset, OUT_DEFAULT_PRECIS,
                          CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH, FName.c_str());
    if (!FHandle) FHandle = GetStockObject(DEFAULT_GUI_FONT);
  }
  return FHandle;
}

void TFont::Assign(TPersistent* Source) {
  if (auto* f = dynamic_cast<TFont*>(Source)) {
    FName = f->FName;
    FHeight = f->FHeight;
    FStyle = f->FStyle;
    FCharset = f->FCharset;
    FColor = f->FColor;
    Changed();
    return;
  }
  TPersistent::Assign(Source);
}

// ---- TBrush

TBrush::~TBrush() {
  if (FHandle) DeleteObject(static_cast<HBRUSH>(FHandle));
}

void TBrush::Changed() {
  // The owner deselects the old object first, then it can go.
  if (OnChange) OnChange(this);
  if (FHandle) {
    DeleteObject(static_cast<HBRUSH>(FHandle));
    FHandle = nullptr;
  }
}

void TBrush::SetColor(TColor Value) {
  if (Value == FColor) return;
  FColor = Value;
  Changed();
}

void TBrush::SetStyle(TBrushStyle Value) {
  if (Value == FStyle) return;
  FStyle = Value;
  Changed();
}

void* TBrush::Handle() {
  if (!FHandle) {
    LOGBRUSH lb{FStyle == bsClear ? (UINT)BS_HOLLOW : (UINT)BS_SOLID, (COLORREF)FColor, 0};
    FHandle = CreateBrushIndirect(&lb);
  }
  return FHandle;
}

// ---- TCanvas

TCanvas::TCanvas() : FFont(new TFont), FBrush(new TBrush) {
  FFont->OnChange = [this](TObject*) {
    if (FHandle && FOldFont) SelectObject(static_cast<HDC>(FHandle), static_cast<HGDIOBJ>(FOldFont));
    FOldFont = nullptr;
    FState &= ~csFontValid;
  };
  FBrush->OnChange = [this](TObject*) {
    if (FHandle && FOldBrush) SelectObject(static_cast<HDC>(FHandle), static_cast<HGDIOBJ>(FOldBrush));
    FOldBrush = nullptr;
    FState &= ~csBrushValid;
  };
}

TCanvas::~TCanvas() {
  SetHandle(nullptr);
  delete FFont;
  delete FBrush;
}

void TCanvas::DeselectHandles() {
  HDC dc = static_cast<HDC>(FHandle);
  if (dc && FOldFont) SelectObject(dc, static_cast<HGDIOBJ>(FOldFont));
  if (dc && FOldBrush) SelectObject(dc, static_cast<HGDIOBJ>(FOldBrush));
  FOldFont = FOldBrush = nullptr;
  FState &= ~(csFontValid | csBrushValid | csPenValid);
}

void TCanvas::SetHandle(void* Value) {
  if (Value == FHandle) return;
  DeselectHandles();
  FHandle = Value;
  if (FHandle) FState |= csHandleValid;
  else FState &= ~csHandleValid;
}

void* TCanvas::Handle() {
  RequiredState(csHandleValid);
  return FHandle;
}

TCanvasOrientation TCanvas::CanvasOrientation() const {
  return (FTextFlags & ETO_RTLREADING) ? coRightToLeft : coLeftToRight;
}

TPoint TCanvas::PenPos() {
  POINT p{0, 0};
  GetCurrentPositionEx(static_cast<HDC>(Handle()), &p);
  return TPoint{p.x, p.y};
}

void TCanvas::MoveTo(int X, int Y) { MoveToEx(static_cast<HDC>(Handle()), X, Y, nullptr); }

void TCanvas::RequiredState(uint32_t ReqState) {
  if (!FHandle) {
    CreateHandle();
    if (!FHandle) throw EInvalidOperation("Canvas does not allow drawing");
    FState |= csHandleValid;
  }
  HDC dc = static_cast<HDC>(FHandle);
  if ((ReqState & csFontValid) && !(FState & csFontValid)) {
    HGDIOBJ old = SelectObject(dc, static_cast<HFONT>(FFont->Handle()));
    if (!FOldFont) FOldFont = old;
    SetTextColor(dc, (COLORREF)FFont->Color());
    FState |= csFontValid;
  }
  if ((ReqState & csBrushValid) && !(FState & csBrushValid)) {
    HGDIOBJ old = SelectObject(dc, static_cast<HBRUSH>(FBrush->Handle()));
    if (!FOldBrush) FOldBrush = old;
    SetBkColor(dc, (COLORREF)FBrush->Color());
    SetBkMode(dc, FBrush->Style() == bsClear ? TRANSPARENT : OPAQUE);
    FState |= csBrushValid;
  }
}

void TCanvas::Changing() {
  if (OnChanging) OnChanging(this);
}

void TCanvas::Changed() {
  if (OnChange) OnChange(this);
}

// ---- TGraphic

void TGraphic::SetTransparent(bool Value) {
  if (Value == FTransparent) return;
  FTransparent = Value;
  Changed();
}

void TGraphic::Changed() {
  if (OnChange) OnChange(this);
}

void TGraphic::LoadFromFile(const AnsiString& FileName) {
  TFileStream Stream(FileName, fmOpenRead | fmShareDenyWrite);
  LoadFromStream(&Stream);
}

void TGraphic::SaveToFile(const AnsiString& FileName) {
  TFileStream Stream(FileName, fmCreate);
  SaveToStream(&Stream);
}

// ---- TPicture

namespace {

struct TFileFormat {
  AnsiString Extension;
  AnsiString Description;
  TGraphicClass GraphicClass;
};

std::vector<TFileFormat>& FileFormats() {
  static std::vector<TFileFormat> Formats;
  return Formats;
}

const TFileFormat* FindFormat(const AnsiString& Extension) {
  for (const auto& F : FileFormats())
    if (SameText(F.Extension, Extension)) return &F;
  return nullptr;
}

}  // namespace

void TPicture::RegisterFileFormat(const AnsiString& Extension, const AnsiString& Description,
                                  TGraphicClass GraphicClass) {
  FileFormats().push_back({LowerCase(Extension), Description, GraphicClass});
}

void TPicture::UnregisterGraphicClass(TGraphicClass GraphicClass) {
  auto& F = FileFormats();
  std::erase_if(F, [&](const TFileFormat& E) { return E.GraphicClass == GraphicClass; });
}

TGraphicClass TPicture::GraphicClassOf(const AnsiString& Extension) {
  const TFileFormat* F = FindFormat(Extension);
  return F ? F->GraphicClass : nullptr;
}

AnsiString TPicture::DescriptionOf(const AnsiString& Extension) {
  const TFileFormat* F = FindFormat(Extension);
  return F ? F->Description : AnsiString();
}

// ---- TBitmapCanvas

TBitmapCanvas::~TBitmapCanvas() { FreeContext(); }

void TBitmapCanvas::CreateHandle() {
  HBITMAP bmp = static_cast<HBITMAP>(FBitmap->Handle());
  HDC dc = CreateCompatibleDC(nullptr);
  if (!dc) throw EOutOfResources(SysErrorMessage(GetLastError()));
  if (bmp) FOldBitmap = SelectObject(dc, bmp);
  if (HPALETTE pal = static_cast<HPALETTE>(FBitmap->Palette())) {
    FOldPalette = SelectPalette(dc, pal, TRUE);
    RealizePalette(dc);
  }
  SetHandle(dc);
}

void TBitmapCanvas::FreeContext() {
  HDC dc = static_cast<HDC>(HandleAllocated() ? Handle() : nullptr);
  if (!dc) return;
  SetHandle(nullptr);
  if (FOldBitmap) SelectObject(dc, static_cast<HGDIOBJ>(FOldBitmap));
  if (FOldPalette) SelectPalette(dc, static_cast<HPALETTE>(FOldPalette), TRUE);
  FOldBitmap = FOldPalette = nullptr;
  DeleteDC(dc);
}

// ---- TBitmap

namespace {

int BitsOf(TPixelFormat F) {
  switch (F) {
    case pf1bit: return 1;
    case pf4bit: return 4;
    case pf8bit: return 8;
    case pf15bit:
    case pf16bit: return 16;
    case pf24bit: return 24;
    case pf32bit: return 32;
    default: return 0;
  }
}

TPixelFormat FormatOf(int Bits) {
  switch (Bits) {
    case 1: return pf1bit;
    case 4: return pf4bit;
    case 8: return pf8bit;
    case 16: return pf16bit;
    case 24: return pf24bit;
    case 32: return pf32bit;
    default: return pfCustom;
  }
}

// A BITMAPINFO with room for a 256-entry colour table.
struct TBitmapInfo256 {
  BITMAPINFOHEADER Header;
  RGBQUAD Colors[256];
};

}  // namespace

TBitmap::TBitmap() : FCanvas(std::make_unique<TBitmapCanvas>(this)) {}

TBitmap::~TBitmap() {
  FreeImage();
  FCanvas.reset();
  if (FPalette) DeleteObject(static_cast<HPALETTE>(FPalette));
}

void TBitmap::FreeImage() {
  FCanvas->FreeContext();
  if (FHandle) DeleteObject(static_cast<HBITMAP>(FHandle));
  FHandle = nullptr;
}

void TBitmap::NewImage(int AWidth, int AHeight, TPixelFormat Format, bool KeepPicture) {
  HBITMAP made = nullptr;
  if (AWidth > 0 && AHeight > 0) {
    HDC screen = GetDC(nullptr);
    int bits = BitsOf(Format);
    if (bits == 0) {
      made = CreateCompatibleBitmap(screen, AWidth, AHeight);
    } else {
      TBitmapInfo256 bi{};
      bi.Header.biSize = sizeof(BITMAPINFOHEADER);
      bi.Header.biWidth = AWidth;
      bi.Header.biHeight = AHeight;
      bi.Header.biPlanes = 1;
      bi.Header.biBitCount = static_cast<WORD>(bits);
      bi.Header.biCompression = BI_RGB;
      if (bits <= 8) {
        int n = 1 << bits;
        PALETTEENTRY pe[256]{};
        HPALETTE pal = static_cast<HPALETTE>(FPalette);
        int got = pal ? GetPaletteEntries(pal, 0, n, pe) : 0;
        if (got == 0 && bits == 1) {
          pe[1] = PALETTEENTRY{255, 255, 255, 0};
        } else if (got == 0) {
          // No palette of its own: the halftone colours, which cover the colour cube evenly.
          if (HPALETTE halftone = CreateHalftonePalette(screen)) {
            got = GetPaletteEntries(halftone, 0, n, pe);
            DeleteObject(halftone);
          }
        }
        for (int i = 0; i < n; ++i) bi.Colors[i] = RGBQUAD{pe[i].peBlue, pe[i].peGreen, pe[i].peRed, 0};
        bi.Header.biClrUsed = n;
      }
      void* bits_ptr = nullptr;
      made = CreateDIBSection(screen, reinterpret_cast<BITMAPINFO*>(&bi), DIB_RGB_COLORS, &bits_ptr, nullptr, 0);
    }
    ReleaseDC(nullptr, screen);
    if (!made) throw EOutOfResources(SysErrorMessage(GetLastError()));
    if (KeepPicture && FHandle) {
      // The canvas lets go of the old bitmap first: one selected elsewhere cannot be selected here.
      FCanvas->FreeContext();
      HDC src = CreateCompatibleDC(nullptr), dst = CreateCompatibleDC(nullptr);
      HGDIOBJ os = SelectObject(src, static_cast<HBITMAP>(FHandle));
      HGDIOBJ od = SelectObject(dst, made);
      BitBlt(dst, 0, 0, AWidth, AHeight, src, 0, 0, SRCCOPY);
      SelectObject(src, os);
      SelectObject(dst, od);
      DeleteDC(src);
      DeleteDC(dst);
    }
  }
  FreeImage();
  FHandle = made;
  FWidth = AWidth;
  FHeight = AHeight;
  FPixelFormat = Format;
  Changed();
}

void TBitmap::SetSize(int AWidth, int AHeight) {
  if (AWidth < 0) AWidth = 0;
  if (AHeight < 0) AHeight = 0;
  if (AWidth == FWidth && AHeight == FHeight) return;
  NewImage(AWidth, AHeight, FPixelFormat, true);
}

void TBitmap::SetPixelFormat(TPixelFormat Value) {
  if (Value == FPixelFormat) return;
  NewImage(FWidth, FHeight, Value, true);
}

void* TBitmap::Handle() { return FHandle; }

void TBitmap::SetHandle(void* Value) {
  if (Value == FHandle) return;
  FreeImage();
  FHandle = Value;
  FWidth = FHeight = 0;
  FPixelFormat = pfDevice;
  if (FHandle) {
    DIBSECTION ds{};
    int got = ::GetObjectA(static_cast<HBITMAP>(FHandle), sizeof(ds), &ds);
    if (got >= static_cast<int>(sizeof(BITMAP))) {
      FWidth = ds.dsBm.bmWidth;
      FHeight = ds.dsBm.bmHeight;
      if (got == static_cast<int>(sizeof(DIBSECTION))) FPixelFormat = FormatOf(ds.dsBmih.biBitCount);
    }
  }
  Changed();
}

void* TBitmap::ReleaseHandle() {
  FCanvas->FreeContext();
  void* h = FHandle;
  FHandle = nullptr;
  FWidth = FHeight = 0;
  return h;
}

TCanvas* TBitmap::Canvas() { return FCanvas.get(); }

void TBitmap::SetPalette(void* Value) {
  HPALETTE copy = nullptr;
  if (Value) {
    PALETTEENTRY pe[256]{};
    int n = GetPaletteEntries(static_cast<HPALETTE>(Value), 0, 256, pe);
    if (n > 0) {
      TBitmapInfo256 lp{};
      LOGPALETTE* lpal = reinterpret_cast<LOGPALETTE*>(&lp);
      lpal->palVersion = 0x300;
      lpal->palNumEntries = static_cast<WORD>(n);
      for (int i = 0; i < n; ++i) lpal->palPalEntry[i] = pe[i];
      copy = CreatePalette(lpal);
    }
  }
  FCanvas->FreeContext();
  if (FPalette) DeleteObject(static_cast<HPALETTE>(FPalette));
  FPalette = copy;
  int bits = BitsOf(FPixelFormat);
  if (copy && FHandle && bits > 0 && bits <= 8) {
    PALETTEENTRY pe[256]{};
    int n = GetPaletteEntries(copy, 0, 1 << bits, pe);
    RGBQUAD table[256];
    for (int i = 0; i < n; ++i) table[i] = RGBQUAD{pe[i].peBlue, pe[i].peGreen, pe[i].peRed, 0};
    HDC dc = CreateCompatibleDC(nullptr);
    HGDIOBJ old = SelectObject(dc, static_cast<HBITMAP>(FHandle));
    SetDIBColorTable(dc, 0, n, table);
    SelectObject(dc, old);
    DeleteDC(dc);
  }
  Changed();
}

TColor TBitmap::TransparentColor() {
  if (FTransparentColorSet || !FHandle || FHeight == 0) return FTransparentColor;
  return static_cast<TColor>(GetPixel(static_cast<HDC>(Canvas()->Handle()), 0, FHeight - 1) & 0xFFFFFF);
}

void TBitmap::Draw(TCanvas* ACanvas, const TRect& R) {
  if (!FHandle) return;
  HDC src = static_cast<HDC>(Canvas()->Handle());
  HDC dst = static_cast<HDC>(ACanvas->Handle());
  SetStretchBltMode(dst, COLORONCOLOR);
  StretchBlt(dst, R.Left, R.Top, R.Width(), R.Height(), src, 0, 0, FWidth, FHeight, SRCCOPY);
}

void TBitmap::Assign(TPersistent* Source) {
  if (auto* b = dynamic_cast<TBitmap*>(Source)) {
    b->FCanvas->FreeContext();
    HBITMAP copy = b->FHandle ? static_cast<HBITMAP>(CopyImage(static_cast<HBITMAP>(b->FHandle), IMAGE_BITMAP, 0, 0,
                                                                 b->FPixelFormat == pfDevice ? 0 : LR_CREATEDIBSECTION))
                              : nullptr;
    if (b->FHandle && !copy) throw EOutOfResources(SysErrorMessage(GetLastError()));
    SetPalette(b->FPalette);
    SetHandle(copy);
    if (!copy) {
      FWidth = b->FWidth;
      FHeight = b->FHeight;
    }
    FTransparent = b->FTransparent;
    FTransparentColor = b->FTransparentColor;
    FTransparentColorSet = b->FTransparentColorSet;
    return;
  }
  if (!Source) {
    FreeImage();
    FWidth = FHeight = 0;
    Changed();
    return;
  }
  TGraphic::Assign(Source);
}

void TBitmap::LoadFromStream(TStream* Stream) {
  BITMAPFILEHEADER fh{};
  Stream->ReadBuffer(&fh, sizeof(fh));
  int64_t rest = Stream->Size() - Stream->Position();
  if (fh.bfType != 0x4D42 || rest < static_cast<int64_t>(sizeof(BITMAPINFOHEADER)) || rest > 0x7FFFFFFF)
    throw EInvalidGraphic("Bitmap image is not valid");
  std::vector<uint8_t> data(static_cast<size_t>(rest));
  Stream->ReadBuffer(data.data(), static_cast<int32_t>(rest));
  auto* bi = reinterpret_cast<BITMAPINFO*>(data.data());
  const BITMAPINFOHEADER& h = bi->bmiHeader;
  int bits = h.biBitCount;
  if (h.biSize < sizeof(BITMAPINFOHEADER) || h.biSize > rest || h.biWidth <= 0 || h.biHeight == 0 ||
      h.biWidth > 0x7FFF || h.biHeight > 0x7FFF || h.biHeight < -0x7FFF || h.biCompression != BI_RGB ||
      (bits != 1 && bits != 4 && bits != 8 && bits != 16 && bits != 24 && bits != 32))
    throw EInvalidGraphic("Bitmap image is not valid");
  uint32_t colors = bits <= 8 ? (h.biClrUsed && h.biClrUsed <= (1u << bits) ? h.biClrUsed : 1u << bits) : 0;
  uint64_t rowBytes = ((static_cast<uint64_t>(h.biWidth) * bits + 31) / 32) * 4;
  uint64_t height = h.biHeight < 0 ? -static_cast<int64_t>(h.biHeight) : h.biHeight;
  uint64_t bitsAt = fh.bfOffBits >= sizeof(fh) ? fh.bfOffBits - sizeof(fh) : h.biSize + colors * 4;
  if (h.biSize + colors * 4ull > static_cast<uint64_t>(rest) || bitsAt + rowBytes * height > static_cast<uint64_t>(rest))
    throw EInvalidGraphic("Bitmap image is not valid");
  TBitmapInfo256 info{};
  info.Header = h;
  info.Header.biSize = sizeof(BITMAPINFOHEADER);
  info.Header.biClrUsed = colors;
  memcpy(info.Colors, data.data() + h.biSize, colors * 4);
  void* pixels = nullptr;
  HBITMAP made = CreateDIBSection(nullptr, reinterpret_cast<BITMAPINFO*>(&info), DIB_RGB_COLORS, &pixels, nullptr, 0);
  if (!made) throw EOutOfResources(SysErrorMessage(GetLastError()));
  memcpy(pixels, data.data() + bitsAt, static_cast<size_t>(rowBytes * height));
  SetHandle(made);
}

void TBitmap::SaveToStream(TStream* Stream) {
  if (!FHandle) return;
  FCanvas->FreeContext();
  TBitmapInfo256 info{};
  info.Header.biSize = sizeof(BITMAPINFOHEADER);
  int bits = BitsOf(FPixelFormat);
  if (bits == 0 || bits == 16) bits = 24;
  info.Header.biWidth = FWidth;
  info.Header.biHeight = FHeight;
  info.Header.biPlanes = 1;
  info.Header.biBitCount = static_cast<WORD>(bits);
  info.Header.biCompression = BI_RGB;
  uint32_t colors = bits <= 8 ? 1u << bits : 0;
  uint32_t rowBytes = ((static_cast<uint32_t>(FWidth) * bits + 31) / 32) * 4;
  std::vector<uint8_t> pixels(static_cast<size_t>(rowBytes) * FHeight);
  HDC dc = GetDC(nullptr);
  int got = GetDIBits(dc, static_cast<HBITMAP>(FHandle), 0, FHeight, pixels.data(),
                      reinterpret_cast<BITMAPINFO*>(&info), DIB_RGB_COLORS);
  ReleaseDC(nullptr, dc);
  if (got == 0) throw EOutOfResources(SysErrorMessage(GetLastError()));
  info.Header.biClrUsed = colors;
  info.Header.biSizeImage = static_cast<DWORD>(pixels.size());
  BITMAPFILEHEADER fh{};
  fh.bfType = 0x4D42;
  fh.bfOffBits = sizeof(fh) + sizeof(BITMAPINFOHEADER) + colors * 4;
  fh.bfSize = fh.bfOffBits + static_cast<DWORD>(pixels.size());
  Stream->WriteBuffer(&fh, sizeof(fh));
  Stream->WriteBuffer(&info.Header, sizeof(BITMAPINFOHEADER));
  if (colors) Stream->WriteBuffer(info.Colors, static_cast<int32_t>(colors * 4));
  Stream->WriteBuffer(pixels.data(), static_cast<int32_t>(pixels.size()));
}

void TBitmap::LoadFromClipboardFormat(uint16_t AFormat, void* AData, void* APalette) {
  if (AFormat != CF_BITMAP || !AData) throw EInvalidGraphic("Unsupported clipboard format");
  HBITMAP copy = static_cast<HBITMAP>(CopyImage(static_cast<HBITMAP>(AData), IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION));
  if (!copy) throw EOutOfResources(SysErrorMessage(GetLastError()));
  SetPalette(APalette);
  SetHandle(copy);
}

void TBitmap::SaveToClipboardFormat(uint16_t& AFormat, void*& AData, void*& APalette) {
  AFormat = CF_BITMAP;
  AData = nullptr;
  APalette = nullptr;
  if (!FHandle) return;
  FCanvas->FreeContext();
  AData = CopyImage(static_cast<HBITMAP>(FHandle), IMAGE_BITMAP, 0, 0, 0);
  if (!AData) throw EOutOfResources(SysErrorMessage(GetLastError()));
  if (FPalette) {
    PALETTEENTRY pe[256]{};
    int n = GetPaletteEntries(static_cast<HPALETTE>(FPalette), 0, 256, pe);
    TBitmapInfo256 lp{};
    LOGPALETTE* lpal = reinterpret_cast<LOGPALETTE*>(&lp);
    lpal->palVersion = 0x300;
    lpal->palNumEntries = static_cast<WORD>(n);
    for (int i = 0; i < n; ++i) lpal->palPalEntry[i] = pe[i];
    APalette = CreatePalette(lpal);
  }
}

// ---------------------------------------------------------------------------------------------
// Reading order

namespace {
std::function<bool()>& MiddleEastSource() {
  static std::function<bool()> source;
  return source;
}
}  // namespace

bool MiddleEastLocale() { return MiddleEastSource() ? MiddleEastSource()() : SysLocale().MiddleEast; }

void SetMiddleEastLocaleSource(std::function<bool()> Source) { MiddleEastSource() = std::move(Source); }
