// The skin's image cache: every picture the owner-drawn interface paints, named by a 32-bit id,
// loaded once on first use and kept as a premultiplied 32-bit DIB section until the program ends,
// drawn with per-pixel alpha, stretched, tiled or as a nine-slice frame. A picture that cannot be
// had draws a hatched marker "MI: <id>" instead; nothing raises out of painting.
// All of it runs on the user-interface thread (no lock).
#pragma once
#include <cstdint>
#include <functional>
#include <memory>

#include "classlib/Classes.h"
#include "classlib/Graphics.h"
#include "toolkit/AlphaGraphics.h"

class THashMap;
class TImageCache;

// Bits 29 and 30 clear: a resource id of 16 bits (an RT_BITMAP resource, else an RT_RCDATA PNG);
// a larger value without either bit names no image. Bit 29: a generated image, its base number in
// bits 0-5, requested height in bits 8-17 and width in bits 19-28 (0 = the base's own). Bit 30: a
// dynamically supplied image, its number in bits 0-29.
using TImageId = uint32_t;
constexpr TImageId ImageIdGenerated = 0x20000000;
constexpr TImageId ImageIdDynamic = 0x40000000;
constexpr TImageId ImageIdMaxResource = 0xFFFF;

enum TImageIdKind { ikResource, ikGenerated, ikDynamic, ikInvalid };
// ikInvalid: 0, or above 0xFFFF with neither bit 29 nor bit 30.
TImageIdKind ImageIdKind(TImageId Id);
// A generated image of base Base (0..63) at Width x Height (each 0..1023, 0 = the base's own).
constexpr TImageId GeneratedImageId(uint32_t Base, uint32_t Width = 0, uint32_t Height = 0) {
  return ImageIdGenerated | (Base & 0x3F) | (Height & 0x3FF) << 8 | (Width & 0x3FF) << 19;
}
constexpr uint32_t GeneratedBase(TImageId Id) { return Id & 0x3F; }
constexpr int GeneratedHeight(TImageId Id) { return static_cast<int>(Id >> 8 & 0x3FF); }
constexpr int GeneratedWidth(TImageId Id) { return static_cast<int>(Id >> 19 & 0x3FF); }

// The centre of DrawFrame: tiled from the image, left as it is, or else filled with that colour.
constexpr TColor FrameCenterTiled = 0x1FFFFFFF;
constexpr TColor FrameCenterNone = 0x20000000;

// One picture of the cache. Image is an HBITMAP of a 32-bit premultiplied DIB section (owned),
// nullptr when the picture could not be had; Width and Height are its natural size (0 then).
class TCachedImage : public TObject {
 public:
  TCachedImage() = default;
  ~TCachedImage() override;
  TCachedImage(const TCachedImage&) = delete;
  TCachedImage& operator=(const TCachedImage&) = delete;
  const char* ClassName() const override { return "TCachedImage"; }
  // Threads: user interface. Loads the resource Id; a missing, damaged or opaque picture is
  // logged and leaves the entry without an image (no exception leaves).
  virtual void Load(TImageId Id);
  void* Image = nullptr;
  int32_t Width = 0;
  int32_t Height = 0;
  uint32_t LastUse = 0;  // tick count of the last lookup

 protected:
  void SetImage(void* Bitmap);  // takes ownership; the size is read from the bitmap
};

// The size of a generated image for its full id.
using TImageSizeProc = std::function<void(TImageId Id, int& Width, int& Height)>;

// A picture painted at run time by a paint procedure (Data = the full id), supersampled Scale times.
class TInternalImage : public TCachedImage {
 public:
  const char* ClassName() const override { return "TInternalImage"; }
  // Threads: user interface. Size from SizeProc, else from the id's width and height when above 0,
  // else the size the entry has; rendered when that is not empty.
  void Load(TImageId Id) override;
  TPaintProc PaintProc;
  TImageSizeProc SizeProc;
  int Scale = 1;
  bool Base = false;  // the entry holding the generator of its base number
  // The size of an id whose width or height field is 0.
  int NaturalWidth = 0;
  int NaturalHeight = 0;
};

// A named picture handed in by the cache's supplier; a placeholder ("?") while none is there.
class TDynConImage : public TCachedImage {
 public:
  TDynConImage(const AnsiString& Name, int Width, int Height);
  ~TDynConImage() override;
  const char* ClassName() const override { return "TDynConImage"; }
  void Load(TImageId) override {}
  // Threads: user interface. Asks the cache's supplier for the picture (nothing without one).
  void Update(TImageCache* Cache);
  const AnsiString& Name() const { return FName; }
  bool Pending() const { return FPending; }
  int RequestedWidth() const { return FRequestedWidth; }
  int RequestedHeight() const { return FRequestedHeight; }

 private:
  void DrawPlaceholder();
  AnsiString FName;
  int FRequestedWidth, FRequestedHeight;
  std::unique_ptr<TBitmap> FBitmap;
  bool FPending = true;
};

class TImageCache : public TObject {
 public:
  // Threads: user interface. Raises EOutOfResources when no memory DC can be made.
  TImageCache();
  ~TImageCache() override;
  TImageCache(const TImageCache&) = delete;
  TImageCache& operator=(const TImageCache&) = delete;
  const char* ClassName() const override { return "TImageCache"; }

  // Threads: user interface (every method below). The entry of Id, made and loaded on a miss;
  // never nullptr. Entries live until the cache is freed.
  TCachedImage* GetImage(TImageId Id);
  // Natural size; 0 for a picture that cannot be had.
  int GetWidth(TImageId Id);
  int GetHeight(TImageId Id);

  // Blends the source rectangle (SrcX, SrcY, SrcWidth x SrcHeight) into (X, Y, Width x Height)
  // with per-pixel alpha and the constant Alpha; -1 sizes are the image's. A source reaching past
  // the image is cut to it (with the destination, when not stretched). Without an image: the
  // marker at (X, Y), SrcWidth x SrcHeight.
  void Draw(TCanvas* Canvas, TImageId Id, int X, int Y, int SrcWidth = -1, int SrcHeight = -1, int SrcX = 0,
            int SrcY = 0, int Width = -1, int Height = -1, uint8_t Alpha = 255);
  void DrawAt(TCanvas* Canvas, TImageId Id, int X, int Y, uint8_t Alpha = 255);
  // StretchBlt, SRCCOPY (no alpha); the marker at (X, Y), Width x Height without an image.
  void StretchDraw(TCanvas* Canvas, TImageId Id, int X, int Y, int Width = -1, int Height = -1, int SrcX = 0,
                   int SrcY = 0, int SrcWidth = -1, int SrcHeight = -1);
  // Nine-slice: corners of Left/Top/Right/Bottom copied, edges and centre tiled from the source
  // rows SrcY .. SrcY + SrcHeight (SrcHeight <= 0: to the image's bottom). Center: FrameCenterTiled,
  // FrameCenterNone or a colour (made opaque when UseAlpha is false). UseAlpha blends with Alpha,
  // else copies.
  void DrawFrame(TCanvas* Canvas, const TRect& R, TImageId Id, int Left, int Top, int Right, int Bottom, int SrcY = 0,
                 int SrcHeight = 0, TColor Center = FrameCenterTiled, bool UseAlpha = true, uint8_t Alpha = 255);
  // A black diagonal-cross hatched Width x Height (-1: 100 x 20) and "MI: <id>" in the canvas's font.
  void DrawMissingImage(TCanvas* Canvas, TImageId Id, int X, int Y, int Width = -1, int Height = -1);

  // The id of the named dynamic picture (ImageIdDynamic + its number), made and asked for on the
  // first call; Default while it has no picture (and always without a supplier).
  TImageId GetDynamicImageId(const AnsiString& Name, TImageId Default, int Width, int Height);
  // The decimal value of S; when that is 0, the id registered under S; else 0.
  TImageId IdFromString(const AnsiString& S);
  void RegisterImageName(const AnsiString& Name, TImageId Id);
  // Makes Base (0..63) a generated picture of Width x Height (or SizeProc's size per id).
  void RegisterGeneratedImage(uint32_t Base, int Width, int Height, TPaintProc PaintProc, int Scale = 1,
                              TImageSizeProc SizeProc = nullptr);

  // Fills Bitmap with the named entry's picture, or leaves it empty while there is none yet.
  std::function<void(TObject* Sender, TDynConImage* Entry, TBitmap* Bitmap)> OnSupplyImage;
  // Called once after a retry brought pictures that were pending.
  TNotifyEvent OnChange;
  // While a batch is open (nested batches count), the memory DC keeps the picture it drew last
  // selected for the next draw of the same picture: selecting a bitmap costs as much as blending
  // a small one, and a window's paint draws the same few pictures many times. A picture is never
  // selected outside a batch, so others may select it into their own DCs then. A host window
  // opens one for each paint (TImageBatch).
  void BeginBatch() { ++FBatchDepth; }
  void EndBatch();
  // The retry timer's work (every 30 s while a named picture is pending).
  void RetryPending();
  bool RetryTimerEnabled() const { return FTimerId != 0; }
  static constexpr uint32_t RetryInterval = 30000;

 private:
  void SetRetryTimer(bool Enabled);
  static void __stdcall TimerProc(void* Wnd, unsigned Msg, uintptr_t Id, unsigned long Time);
  // Selects the entry's image into the memory DC for the life of the object (within a batch:
  // until another picture is drawn or the batch ends).
  class TSelection;
  // Puts the memory DC's own bitmap back (before a picture is replaced or freed).
  void Unselect();
  void TileDraw(TCanvas* Canvas, const TRect& Dst, const TRect& Src, bool UseAlpha, uint8_t Alpha);
  std::unique_ptr<THashMap> FMap;
  void* FDC = nullptr;
  int FBatchDepth = 0;
  void* FSelected = nullptr;  // the picture kept selected in a batch
  void* FDCBitmap = nullptr;  // the memory DC's own bitmap while a picture is kept selected
  std::unique_ptr<TStringList> FDynamicNames;
  std::unique_ptr<TStringList> FRegisteredNames;
  uintptr_t FTimerId = 0;
};

extern TImageCache* ImageCache;

// A batch of the global cache for the life of the object. Threads: user interface.
class TImageBatch {
 public:
  TImageBatch() : FCache(ImageCache) {
    if (FCache) FCache->BeginBatch();
  }
  ~TImageBatch() {
    if (FCache) FCache->EndBatch();
  }
  TImageBatch(const TImageBatch&) = delete;
  TImageBatch& operator=(const TImageBatch&) = delete;

 private:
  TImageCache* FCache;
};

// Start-up (after the PNG codec's) and end of the unit: the global ImageCache.
void ImageCacheInitialize();
void ImageCacheFinalize();
