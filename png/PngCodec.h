// PNG images: the chunk model, the image data codec and the graphic object TPNGObject.
//
// A PNG file is kept as the list of its chunks. The header chunk (TChunkIHDR) also holds the decoded
// picture: a bottom-up Windows DIB section selected into a memory DC, plus a top-down alpha plane for
// images with an alpha channel. Image data is decoded straight from the stream while the IDAT chunks
// are read, and encoded from the DIB when the image is saved.
//
// Threads: an image and its chunks belong to the thread that uses them; the only shared state is the
// chunk registry and the CRC table, both filled by PngCodecInitialize before any image is made.
#pragma once
#include <cstdint>
#include <memory>
#include <typeinfo>
#include <vector>

#include "classlib/Graphics.h"
#include "png/PngMessages.h"

class TPNGObject;

// Unit start-up and end: registers the chunk classes and the "PNG" file format of the picture class.
void PngCodecInitialize();
void PngCodecFinalize();

// CRC-32 of the PNG format. UpdateCrc continues a register that starts at 0xFFFFFFFF; the CRC of a
// chunk is the inverted register.
uint32_t UpdateCrc(uint32_t Crc, const uint8_t* Data, size_t Count);
uint32_t PngCrc(const uint8_t* Data, size_t Count);

// ---------------------------------------------------------------------------------------------
// Chunks

// A chunk of a PNG file: its 4-byte name and raw data. Unknown chunks stay plain TChunks.
class TChunk : public TObject {
 public:
  // Name: the chunk type; a registered class passes its own.
  TChunk(TPNGObject* Owner, const char* Name);
  const char* ClassName() const override { return "TChunk"; }
  AnsiString GetName() const { return AnsiString(FName, 4); }
  const char* Name() const { return FName; }
  TPNGObject* Owner() const { return FOwner; }
  // Copies name, size and data; a chunk class that keeps more overrides it.
  virtual void Assign(TChunk* Source);
  // Reads Size bytes of data and the CRC that follows (EPngInvalidCRC when it does not match);
  // Size has been checked against the stream by the reader.
  virtual bool LoadFromStream(TStream* Stream, const char* ChunkName, uint32_t Size);
  // Writes length, name, data and CRC.
  virtual bool SaveToStream(TStream* Stream);
  uint32_t DataSize() const { return FSize; }
  const uint8_t* Data() const { return FData.data(); }
  uint8_t* Data() { return FData.data(); }
  // Size bytes of data (plus the one spare zero byte after them), the old bytes kept.
  void ResizeData(uint32_t Size);

 protected:
  TPNGObject* FOwner;
  std::vector<uint8_t> FData = std::vector<uint8_t>(1, 0);
  uint32_t FSize = 0;
  char FName[4];
};

class TChunkIEND : public TChunk {
 public:
  explicit TChunkIEND(TPNGObject* Owner) : TChunk(Owner, "IEND") {}
  const char* ClassName() const override { return "TChunkIEND"; }
};

// The header's colour table entry and its 40-byte DIB header, laid out as the system's.
struct TPngRGBQuad {
  uint8_t Blue, Green, Red, Reserved;
};
struct TPngBitmapInfo {
  uint32_t biSize;
  int32_t biWidth;
  int32_t biHeight;
  uint16_t biPlanes;
  uint16_t biBitCount;
  uint32_t biCompression;
  uint32_t biSizeImage;
  int32_t biXPelsPerMeter;
  int32_t biYPelsPerMeter;
  uint32_t biClrUsed;
  uint32_t biClrImportant;
  TPngRGBQuad bmiColors[256];
};

// Colour types of the header.
constexpr uint8_t COLOR_GRAYSCALE = 0;
constexpr uint8_t COLOR_RGB = 2;
constexpr uint8_t COLOR_PALETTE = 3;
constexpr uint8_t COLOR_GRAYSCALEALPHA = 4;
constexpr uint8_t COLOR_RGBALPHA = 6;

// The header and the decoded pixels.
class TChunkIHDR : public TChunk {
 public:
  explicit TChunkIHDR(TPNGObject* Owner) : TChunk(Owner, "IHDR") {}
  ~TChunkIHDR() override;
  const char* ClassName() const override { return "TChunkIHDR"; }
  // Copies the header, the pixels, the alpha plane and the palette of another header.
  void Assign(TChunk* Source) override;
  bool LoadFromStream(TStream* Stream, const char* ChunkName, uint32_t Size) override;
  bool SaveToStream(TStream* Stream) override;

  uint32_t Width() const { return FWidth; }
  uint32_t Height() const { return FHeight; }
  uint8_t BitDepth() const { return FBitDepth; }
  uint8_t ColorType() const { return FColorType; }
  uint8_t CompressionMethod() const { return FCompressionMethod; }
  uint8_t FilterMethod() const { return FFilterMethod; }
  uint8_t InterlaceMethod() const { return FInterlaceMethod; }
  // Sets the header values without touching the storage (PrepareImageData makes it).
  void SetHeader(uint32_t Width, uint32_t Height, uint8_t BitDepth, uint8_t ColorType, uint8_t Interlace);

  // Frees any old storage and makes new storage for the header values: a zeroed DIB section, the
  // colour table (grey ramp or placeholder palette) and, for alpha colour types, a zeroed alpha plane.
  // Raises EPngInvalidIHDR for colour type / bit depth pairs that are not decoded and for a zero size,
  // EPNGOutMemory when the storage cannot be made.
  void PrepareImageData();
  // Bits per pixel of the DIB (1, 4, 8 or 24).
  int DIBBits() const { return FBitmapInfo.biBitCount; }
  uint32_t BytesPerRow() const { return FBytesPerRow; }
  // The DIB's pixel bits (bottom-up rows of BytesPerRow bytes).
  uint8_t* ImageData() const { return FImageData; }
  // Image row Y (counted from the top) of the DIB.
  uint8_t* Scanline(uint32_t Y) const { return FImageData + static_cast<size_t>(FHeight - 1 - Y) * FBytesPerRow; }
  // The alpha plane (Width × Height, top-down) or null.
  uint8_t* ImageAlpha() { return FImageAlpha.empty() ? nullptr : FImageAlpha.data(); }
  uint8_t* AlphaScanline(uint32_t Y) { return ImageAlpha() ? ImageAlpha() + static_cast<size_t>(Y) * FWidth : nullptr; }
  TPngBitmapInfo& BitmapInfo() { return FBitmapInfo; }
  bool HasPalette() const { return FHasPalette; }
  void* ImageHandle() const { return FImageHandle; }
  void* ImageDC() const { return FImageDC; }
  void* ImagePalette() const { return FImagePalette; }
  // Takes ownership of Palette (an HPALETTE), selects it into the image's DC and copies its entries
  // into the colour table.
  void SetImagePalette(void* Palette);
  // Rebuilds the grey ramp (2^DIBBits entries) through the owner's decode gamma table.
  void BuildGreyRamp();
  // A new DIB of CX × CY with the overlapping top-left pixels (and alpha) of the old one.
  void Resize(uint32_t CX, uint32_t CY);

 private:
  void FreeImageData();
  void* FImageHandle = nullptr;
  void* FImageDC = nullptr;
  void* FOldBitmap = nullptr;
  void* FImagePalette = nullptr;
  bool FHasPalette = false;
  TPngBitmapInfo FBitmapInfo{};
  uint8_t* FImageData = nullptr;
  std::vector<uint8_t> FImageAlpha;
  uint32_t FWidth = 0;
  uint32_t FHeight = 0;
  uint8_t FBitDepth = 0;
  uint8_t FColorType = 0;
  uint8_t FCompressionMethod = 0;
  uint8_t FFilterMethod = 0;
  uint8_t FInterlaceMethod = 0;
  uint32_t FBytesPerRow = 0;
};

class TChunkPLTE : public TChunk {
 public:
  explicit TChunkPLTE(TPNGObject* Owner) : TChunk(Owner, "PLTE") {}
  const char* ClassName() const override { return "TChunkPLTE"; }
  void Assign(TChunk* Source) override;
  bool LoadFromStream(TStream* Stream, const char* ChunkName, uint32_t Size) override;
  bool SaveToStream(TStream* Stream) override;
  // Number of entries (0 to 256).
  int Count() const { return FCount; }
  void SetCount(int Value) { FCount = Value; }
  // The colour table entry Index; EPngError "There is no such palette entry." past the count.
  TPngRGBQuad Item(int Index);

 private:
  int FCount = 0;
};

class TChunktRNS : public TChunk {
 public:
  explicit TChunktRNS(TPNGObject* Owner) : TChunk(Owner, "tRNS") {}
  const char* ClassName() const override { return "TChunktRNS"; }
  void Assign(TChunk* Source) override;
  bool LoadFromStream(TStream* Stream, const char* ChunkName, uint32_t Size) override;
  bool SaveToStream(TStream* Stream) override;
  // Grey and RGB images, and palette images with one fully transparent entry: one colour is keyed out.
  bool BitTransparency() const { return FBitTransparency; }
  // The raw bytes; for palette images the alpha of each index (255 where the chunk gives none).
  const uint8_t* PaletteValues() const { return FPaletteValues; }
  // The colour keyed out, 0x00BBGGRR.
  TColor TransparentColor();
  void SetTransparentColor(TColor Value);

 private:
  bool FBitTransparency = false;
  uint8_t FPaletteValues[256];
};

// The image data: decoded on load straight into the header's storage, encoded from it on save.
class TChunkIDAT : public TChunk {
 public:
  explicit TChunkIDAT(TPNGObject* Owner) : TChunk(Owner, "IDAT") {}
  const char* ClassName() const override { return "TChunkIDAT"; }
  bool LoadFromStream(TStream* Stream, const char* ChunkName, uint32_t Size) override;
  bool SaveToStream(TStream* Stream) override;
};

class TChunkgAMA : public TChunk {
 public:
  explicit TChunkgAMA(TPNGObject* Owner);
  const char* ClassName() const override { return "TChunkgAMA"; }
  bool LoadFromStream(TStream* Stream, const char* ChunkName, uint32_t Size) override;
  // Gamma × 100000 (0 when the data is too short).
  uint32_t Gamma() const;
  void SetGamma(uint32_t Value);
};

class TChunkpHYs : public TChunk {
 public:
  explicit TChunkpHYs(TPNGObject* Owner) : TChunk(Owner, "pHYs") {}
  const char* ClassName() const override { return "TChunkpHYs"; }
  void Assign(TChunk* Source) override;
  bool LoadFromStream(TStream* Stream, const char* ChunkName, uint32_t Size) override;
  bool SaveToStream(TStream* Stream) override;
  uint32_t PPUnitX = 0;
  uint32_t PPUnitY = 0;
  uint8_t UnitType = 0;
};

class TChunktIME : public TChunk {
 public:
  explicit TChunktIME(TPNGObject* Owner) : TChunk(Owner, "tIME") {}
  const char* ClassName() const override { return "TChunktIME"; }
  void Assign(TChunk* Source) override;
  bool LoadFromStream(TStream* Stream, const char* ChunkName, uint32_t Size) override;
  bool SaveToStream(TStream* Stream) override;
  uint16_t Year = 0;
  uint8_t Month = 0, Day = 0, Hour = 0, Minute = 0, Second = 0;
};

class TChunktEXt : public TChunk {
 public:
  explicit TChunktEXt(TPNGObject* Owner) : TChunk(Owner, "tEXt") {}
  const char* ClassName() const override { return "TChunktEXt"; }
  void Assign(TChunk* Source) override;
  bool LoadFromStream(TStream* Stream, const char* ChunkName, uint32_t Size) override;
  bool SaveToStream(TStream* Stream) override;
  AnsiString Keyword;
  AnsiString Text;

 protected:
  TChunktEXt(TPNGObject* Owner, const char* Name) : TChunk(Owner, Name) {}
};

class TChunkzTXt : public TChunktEXt {
 public:
  explicit TChunkzTXt(TPNGObject* Owner) : TChunktEXt(Owner, "zTXt") {}
  const char* ClassName() const override { return "TChunkzTXt"; }
  bool LoadFromStream(TStream* Stream, const char* ChunkName, uint32_t Size) override;
  // False (nothing written) when the text cannot be compressed.
  bool SaveToStream(TStream* Stream) override;
};

// Makes a chunk of one registered class.
using TChunkClass = std::unique_ptr<TChunk> (*)(TPNGObject* Owner);
// The chunk of the first registered class named Name, else a plain TChunk with that name.
std::unique_ptr<TChunk> CreateChunk(TPNGObject* Owner, const char* Name);

// The chunks of an image in file order; owns them.
class TPNGList : public TObject {
 public:
  TPNGList() { FItems.reserve(10); }
  const char* ClassName() const override { return "TPNGList"; }
  int Count() const { return static_cast<int>(FItems.size()); }
  TChunk* Item(int Index) const { return FItems[Index].get(); }
  TChunk* Add(std::unique_ptr<TChunk> Chunk);
  void Clear() { FItems.clear(); }
  // The first chunk of exactly class T, or null.
  template <class T>
  T* ItemFromClass() const {
    for (const auto& C : FItems)
      if (typeid(*C) == typeid(T)) return static_cast<T*>(C.get());
    return nullptr;
  }

 private:
  std::vector<std::unique_ptr<TChunk>> FItems;
};

// ---------------------------------------------------------------------------------------------
// The graphic object

enum TPngTransparency { ptNone = 0, ptBit = 1, ptPartial = 2 };

// The filters an encoder may choose per row (bit i = filter type i).
using TFilters = uint8_t;
constexpr TFilters pfNone = 1, pfSub = 2, pfUp = 4, pfAverage = 8, pfPaeth = 16;
constexpr TFilters pfAll = pfNone | pfSub | pfUp | pfAverage | pfPaeth;

class TPNGObject : public TGraphic {
 public:
  TPNGObject();
  ~TPNGObject() override;
  const char* ClassName() const override { return "TPNGObject"; }

  void Assign(TPersistent* Source) override;
  void Draw(TCanvas* ACanvas, const TRect& Rect) override;
  bool GetEmpty() const override { return FChunkList.Count() == 0; }
  int GetWidth() const override;
  int GetHeight() const override;
  void SetWidth(int Value) override;
  void SetHeight(int Value) override;
  void* GetPalette() const override;
  // Takes ownership of Value (an HPALETTE).
  void SetPalette(void* Value) override;
  bool GetTransparent() const override { return TransparencyMode() != ptNone; }
  void LoadFromStream(TStream* Stream) override;
  void SaveToStream(TStream* Stream) override;
  void LoadFromClipboardFormat(uint16_t AFormat, void* AData, void* APalette) override;
  void SaveToClipboardFormat(uint16_t& AFormat, void*& AData, void*& APalette) override;
  // The colour of pixel (X, Y), 0x00BBGGRR; rows count from the top. Out of range: 0.
  TColor GetPixelColor(int X, int Y);
  void SetPixelColor(int X, int Y, TColor Value);

  // An RT_RCDATA resource of the module Instance (EPNGCouldNotLoadResource when there is none).
  void LoadFromResourceName(void* Instance, const AnsiString& Name);
  void LoadFromResourceID(void* Instance, int ResID);
  void AssignPNG(TPNGObject* Source);
  // Builds the image from a bitmap (an HBITMAP): palette images below 16 bits per pixel, else RGB.
  void AssignHandle(void* Bitmap, bool Transparent, TColor TransparentColor);
  // EPNGInvalidNewSize unless both are above 0.
  void Resize(int CX, int CY);

  TPngTransparency TransparencyMode() const;
  // The tRNS chunk's colour, or 0 without one.
  TColor TransparentColor() const;
  // The header; EPNGHeaderNotPresent when the image has none.
  TChunkIHDR* Header() const;
  TPNGList& Chunks() { return FChunkList; }

  TFilters FilterSet() const { return FFilters; }
  void SetFilterSet(TFilters Value) { FFilters = Value & pfAll; }
  uint8_t DeflateLevel() const { return FCompressionLevel; }
  void SetDeflateLevel(uint8_t Value) { FCompressionLevel = Value > 9 ? 9 : Value; }
  int32_t MaxIdatChunkSize() const { return FMaxIdatSize; }
  void SetMaxIdatChunkSize(int32_t Value) { FMaxIdatSize = Value < 65535 ? 65535 : Value; }
  uint8_t InterlaceMode() const { return FInterlaceMethod; }
  void SetInterlaceMode(uint8_t Value) { FInterlaceMethod = Value ? 1 : 0; }

  // The gamma tables: decode for reading, encode for writing (identity without gAMA).
  const uint8_t* GammaTable() const { return FGammaTable; }
  const uint8_t* InverseGamma() const { return FInverseGamma; }
  // Rebuilds both tables from gAMA value Gamma (× 100000); 0 changes nothing.
  void BuildGammaTables(uint32_t Gamma);
  // Removes every chunk and resets both gamma tables.
  void ClearChunks();

 protected:
  void AssignTo(TPersistent* Dest) override;

 private:
  void DrawPartialTrans(void* DC, const TRect& Rect);
  void DrawTransparentBitmap(void* DC, const TRect& Rect);
  uint8_t FInverseGamma[256];
  TFilters FFilters = pfSub;
  uint8_t FCompressionLevel = 7;
  int32_t FMaxIdatSize = 65535;
  uint8_t FInterlaceMethod = 0;
  TPNGList FChunkList;
  uint8_t FGammaTable[256];
};
