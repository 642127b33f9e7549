// A device context with lazily selected GDI objects (font and brush), as much as text output needs;
// graphics (TGraphic), bitmaps (TBitmap) and the picture class's file-format registry.
#pragma once
#include <cstdint>
#include <functional>
#include <memory>

#include "classlib/Classes.h"

// Reading order of controls and menus: right to left takes effect only on a system that reads
// right to left (a Middle-Eastern locale).
enum TBiDiMode { bdLeftToRight, bdRightToLeft, bdRightToLeftNoAlign, bdRightToLeftReadingOnly };
// True on a Middle-Eastern system (SysLocale().MiddleEast), unless another source was set.
bool MiddleEastLocale();
// Replaces the source of MiddleEastLocale (tests draw right to left on any system); empty: the
// system's own again.
void SetMiddleEastLocaleSource(std::function<bool()> Source);

using TColor = int32_t;
constexpr TColor clBlack = 0x000000;
constexpr TColor clWhite = 0xFFFFFF;
// No colour: the default of whatever the colour is for.
constexpr TColor clNone = 0x1FFFFFFF;
// System colours: selected items, and selected menu items in flat menus.
constexpr TColor clHighlight = static_cast<TColor>(0x8000000D);
constexpr TColor clMenuHighlight = static_cast<TColor>(0x8000001D);
// System colours: a window's background and text, and the face of buttons.
constexpr TColor clWindow = static_cast<TColor>(0x80000005);
constexpr TColor clWindowText = static_cast<TColor>(0x80000008);
constexpr TColor clBtnFace = static_cast<TColor>(0x8000000F);
// A system colour (0x80000000 or its index) as the RGB value it stands for; others unchanged.
TColor ColorToRGB(TColor Color);

// Font styles as bit flags (a set of bold, italic, underline, strike-out).
using TFontStyles = uint8_t;
constexpr TFontStyles fsBold = 1, fsItalic = 2, fsUnderline = 4, fsStrikeOut = 8;
using TFontCharset = uint8_t;

// The state of an owner-drawn item as Windows reports it (the ODS_ bits).
using TOwnerDrawState = uint32_t;
constexpr TOwnerDrawState odSelected = 0x1, odGrayed = 0x2, odDisabled = 0x4, odChecked = 0x8, odFocused = 0x10,
                          odDefault = 0x20, odHotLight = 0x40, odInactive = 0x80, odNoAccel = 0x100,
                          odNoFocusRect = 0x200, odComboBoxEdit = 0x1000;

// A font described by face name, height in pixels (negative: character height), style, character
// set and colour.
class TFont : public TPersistent {
 public:
  ~TFont() override;
  const char* ClassName() const override { return "TFont"; }
  const AnsiString& Name() const { return FName; }
  void SetName(const AnsiString& Value);
  int Height() const { return FHeight; }
  void SetHeight(int Value);
  // The size in points at the screen's resolution.
  int Size() const;
  void SetSize(int Value);
  TFontStyles Style() const { return FStyle; }
  void SetStyle(TFontStyles Value);
  TFontCharset Charset() const { return FCharset; }
  void SetCharset(TFontCharset Value);
  TColor Color() const { return FColor; }
  void SetColor(TColor Value);
  // The GDI font, made on first use.
  void* Handle();
  void Assign(TPersistent* Source) override;
  TNotifyEvent OnChange;

 private:
  void Changed();
  AnsiString FName = "MS Sans Serif";
  int FHeight = -11;
  TFontStyles FStyle = 0;
  TFontCharset FCharset = 1;  // DEFAULT_CHARSET
  TColor FColor = clBlack;
  void* FHandle = nullptr;
};

enum TBrushStyle { bsSolid, bsClear };

class TBrush : public TPersistent {
 public:
  ~TBrush() override;
  const char* ClassName() const override { return "TBrush"; }
  TColor Color() const { return FColor; }
  void SetColor(TColor Value);
  TBrushStyle Style() const { return FStyle; }
  void SetStyle(TBrushStyle Value);
  void* Handle();
  TNotifyEvent OnChange;

 private:
  void Changed();
  TColor FColor = clWhite;
  TBrushStyle FStyle = bsSolid;
  void* FHandle = nullptr;
};

enum TCanvasStates : uint32_t { csHandleValid = 1, csFontValid = 2, csPenValid = 4, csBrushValid = 8 };
enum TCanvasOrientation { coLeftToRight, coRightToLeft };

struct TPoint {
  int32_t X, Y;
};
struct TSize {
  int32_t cx, cy;
};
struct TRect {
  int32_t Left, Top, Right, Bottom;
  int32_t Width() const { return Right - Left; }
  int32_t Height() const { return Bottom - Top; }
};
inline TRect Rect(int32_t Left, int32_t Top, int32_t Right, int32_t Bottom) {
  return TRect{Left, Top, Right, Bottom};
}

// Draws on a device context handed in by its owner (SetHandle); the canvas does not free it.
class TCanvas : public TPersistent {
 public:
  TCanvas();
  ~TCanvas() override;
  const char* ClassName() const override { return "TCanvas"; }
  // Raises EInvalidOperation "Canvas does not allow drawing" when there is no device context.
  void* Handle();
  void SetHandle(void* Value);
  bool HandleAllocated() const { return FHandle != nullptr; }
  TFont* Font() const { return FFont; }
  TBrush* Brush() const { return FBrush; }
  // Flags for ExtTextOut (ETO_...).
  int TextFlags() const { return FTextFlags; }
  void SetTextFlags(int Value) { FTextFlags = Value; }
  // Right to left when the text flags ask for right-to-left reading.
  TCanvasOrientation CanvasOrientation() const;
  TPoint PenPos();
  void SetPenPos(TPoint Value) { MoveTo(Value.X, Value.Y); }
  void MoveTo(int X, int Y);
  // Makes sure the handle exists and the font and brush asked for are selected.
  void RequiredState(uint32_t ReqState);
  void Changing();
  void Changed();
  TNotifyEvent OnChange;
  TNotifyEvent OnChanging;

 protected:
  // Called when a handle is needed and none is set; the plain canvas has none to make.
  virtual void CreateHandle() {}

 private:
  void DeselectHandles();
  void* FHandle = nullptr;
  TFont* FFont;
  TBrush* FBrush;
  uint32_t FState = 0;
  int FTextFlags = 0;
  void* FOldFont = nullptr;
  void* FOldBrush = nullptr;
};

// ---------------------------------------------------------------------------------------------
// Graphics

class TStream;

CLASSLIB_EXCEPTION(EInvalidGraphic, Exception);

// A picture that can load, save and draw itself. Handles (palette, clipboard data) are GDI handles.
class TGraphic : public TPersistent {
 public:
  const char* ClassName() const override { return "TGraphic"; }
  virtual void Draw(TCanvas* ACanvas, const TRect& Rect) = 0;
  virtual bool GetEmpty() const = 0;
  virtual int GetWidth() const = 0;
  virtual int GetHeight() const = 0;
  virtual void SetWidth(int Value) = 0;
  virtual void SetHeight(int Value) = 0;
  virtual void* GetPalette() const { return nullptr; }
  virtual void SetPalette(void* Value) {}
  virtual bool GetTransparent() const { return FTransparent; }
  virtual void SetTransparent(bool Value);
  virtual void LoadFromStream(TStream* Stream) = 0;
  virtual void SaveToStream(TStream* Stream) = 0;
  virtual void LoadFromClipboardFormat(uint16_t AFormat, void* AData, void* APalette) = 0;
  virtual void SaveToClipboardFormat(uint16_t& AFormat, void*& AData, void*& APalette) = 0;
  bool Empty() const { return GetEmpty(); }
  int Width() const { return GetWidth(); }
  int Height() const { return GetHeight(); }
  void* Palette() const { return GetPalette(); }
  bool Transparent() const { return GetTransparent(); }
  void LoadFromFile(const AnsiString& FileName);
  void SaveToFile(const AnsiString& FileName);
  TNotifyEvent OnChange;

 protected:
  void Changed();
  bool FTransparent = false;
};

// Makes a new, empty graphic of one class.
using TGraphicClass = TGraphic* (*)();

// The file formats the picture class knows: extension (without the dot), description, class.
class TPicture {
 public:
  static void RegisterFileFormat(const AnsiString& Extension, const AnsiString& Description,
                                 TGraphicClass GraphicClass);
  static void UnregisterGraphicClass(TGraphicClass GraphicClass);
  // The class registered for Extension (any case), or null.
  static TGraphicClass GraphicClassOf(const AnsiString& Extension);
  static AnsiString DescriptionOf(const AnsiString& Extension);
};

enum TPixelFormat { pfDevice, pf1bit, pf4bit, pf8bit, pf15bit, pf16bit, pf24bit, pf32bit, pfCustom };

class TBitmap;

// The canvas of a bitmap: a memory device context with the bitmap (and its palette) selected.
class TBitmapCanvas : public TCanvas {
 public:
  explicit TBitmapCanvas(TBitmap* Bitmap) : FBitmap(Bitmap) {}
  ~TBitmapCanvas() override;
  const char* ClassName() const override { return "TBitmapCanvas"; }
  // Deselects the bitmap and frees the device context (the bitmap is about to change).
  void FreeContext();

 protected:
  void CreateHandle() override;

 private:
  TBitmap* FBitmap;
  void* FOldBitmap = nullptr;
  void* FOldPalette = nullptr;
};

// A bitmap held as a DIB section (or a device bitmap for pfDevice). Owns its handle and palette.
// Draw stretches it opaquely; Transparent and TransparentColor are kept for those who read them.
class TBitmap : public TGraphic {
 public:
  TBitmap();
  ~TBitmap() override;
  const char* ClassName() const override { return "TBitmap"; }
  void Assign(TPersistent* Source) override;
  void Draw(TCanvas* ACanvas, const TRect& Rect) override;
  bool GetEmpty() const override { return FHandle == nullptr && (FWidth == 0 || FHeight == 0); }
  int GetWidth() const override { return FWidth; }
  int GetHeight() const override { return FHeight; }
  void SetWidth(int Value) override { SetSize(Value, FHeight); }
  void SetHeight(int Value) override { SetSize(FWidth, Value); }
  void SetSize(int AWidth, int AHeight);
  void* GetPalette() const override { return FPalette; }
  // Takes a copy of Value and puts its entries into the colour table of a DIB.
  void SetPalette(void* Value) override;
  // Reads and writes the Windows bitmap file format (BMP).
  void LoadFromStream(TStream* Stream) override;
  void SaveToStream(TStream* Stream) override;
  // CF_BITMAP.
  void LoadFromClipboardFormat(uint16_t AFormat, void* AData, void* APalette) override;
  void SaveToClipboardFormat(uint16_t& AFormat, void*& AData, void*& APalette) override;
  // The bitmap (made on first use; 0 when empty).
  void* Handle();
  // Takes ownership of Value (an HBITMAP); its size and pixel format are read from it.
  void SetHandle(void* Value);
  // Gives up ownership of the handle and returns it; the bitmap is empty afterwards.
  void* ReleaseHandle();
  TPixelFormat PixelFormat() const { return FPixelFormat; }
  // A new bitmap of that format, the old picture drawn into it.
  void SetPixelFormat(TPixelFormat Value);
  TCanvas* Canvas();
  // Frees the canvas's device context, so that the bitmap can be selected into another one.
  void ReleaseContext() {
    if (FCanvas) FCanvas->FreeContext();
  }
  // The colour that Transparent draws as see-through: set, or else the bottom-left pixel's.
  TColor TransparentColor();
  void SetTransparentColor(TColor Value) { FTransparentColor = Value; FTransparentColorSet = true; }

 private:
  void NewImage(int AWidth, int AHeight, TPixelFormat Format, bool KeepPicture);
  void FreeImage();
  void* FHandle = nullptr;
  void* FPalette = nullptr;
  int FWidth = 0;
  int FHeight = 0;
  TPixelFormat FPixelFormat = pfDevice;
  std::unique_ptr<TBitmapCanvas> FCanvas;
  TColor FTransparentColor = 0;
  bool FTransparentColorSet = false;
};
