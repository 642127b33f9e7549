#include "toolkit/ImageCache.h"

#include <algorithm>
#include <map>

#include "classlib/WinApi.h"
#include "png/TranslucentPng.h"
#include "toolkit/DbgUtils.h"
#include "toolkit/e_useful.h"

TImageCache* ImageCache = nullptr;

namespace {

// The fixed texts of this unit.
struct {
  const char* LogSource = "ImageCache";
  const char* NoResource = "image %u: no bitmap or PNG resource of this id";
  const char* InvalidId = "image %u: not an image id (a resource id has 16 bits)";
  const char* LoadFailed = "image %u: %s";
  const char* RenderFailed = "generated image %u: %s";
  const char* SupplyFailed = "dynamic image \"%s\": %s";
  const char* DrawFailed = "image %u: drawing failed";
  const wchar_t* MarkerText = L"MI: %d";
  const wchar_t* PlaceholderText = L"?";
  const wchar_t* PlaceholderFace = L"Tahoma";
} const Msg;

constexpr int MarkerDefaultWidth = 100, MarkerDefaultHeight = 20;
constexpr int PlaceholderMin = 10, PlaceholderMax = 96;
constexpr COLORREF PlaceholderFrame = 0xD9D9D9, PlaceholderFill = 0xF7F7F7, PlaceholderInk = 0x999999;

HDC DC(TCanvas* C) { return static_cast<HDC>(C->Handle()); }

void LogImage(const char* Fmt, TImageId Id, const char* Text = "") {
  Log(Msg.LogSource, Format(Fmt, static_cast<unsigned>(Id), Text));
}

// The caches whose retry timer runs, by timer id (thread timers carry no window to find them by).
std::map<uintptr_t, TImageCache*>& Timers() {
  static std::map<uintptr_t, TImageCache*> M;
  return M;
}

// Objects of the name lists are ids.
TObject* IdObject(TImageId Id) { return reinterpret_cast<TObject*>(static_cast<uintptr_t>(Id)); }
TImageId ObjectId(TObject* O) { return static_cast<TImageId>(reinterpret_cast<uintptr_t>(O)); }

std::unique_ptr<TStringList> NewNameList() {
  auto L = std::make_unique<TStringList>();
  L->SetCaseSensitive(false);
  L->SetDuplicates(dupIgnore);
  L->SetSorted(true);
  return L;
}

}  // namespace

TImageIdKind ImageIdKind(TImageId Id) {
  if (Id & ImageIdDynamic) return ikDynamic;
  if (Id & ImageIdGenerated) return ikGenerated;
  if (Id == 0 || Id > ImageIdMaxResource) return ikInvalid;
  return ikResource;
}

// ---------------------------------------------------------------------------------------------
// Entries

TCachedImage::~TCachedImage() {
  if (Image) DeleteObject(static_cast<HGDIOBJ>(Image));
}

void TCachedImage::SetImage(void* Bitmap) {
  if (Image && Image != Bitmap) DeleteObject(static_cast<HGDIOBJ>(Image));
  Image = Bitmap;
  Width = Height = 0;
  BITMAP Bm;
  if (Image && GetObjectW(static_cast<HGDIOBJ>(Image), sizeof Bm, &Bm)) {
    Width = Bm.bmWidth;
    Height = Bm.bmHeight < 0 ? -Bm.bmHeight : Bm.bmHeight;
  }
}

void TCachedImage::Load(TImageId Id) {
  // Only a 16-bit id may reach the resource functions: a larger value would be taken for the
  // address of a name.
  if (ImageIdKind(Id) != ikResource) {
    if (ImageIdKind(Id) == ikInvalid) LogImage(Msg.InvalidId, Id);
    return;
  }
  try {
    void* Bmp = LoadBitmapResource32(MAKEINTRESOURCEW(Id));
    if (!Bmp && FindResourceW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(Id), MAKEINTRESOURCEW(10) /* RT_RCDATA */))
      Bmp = LoadTranslucentPng(MAKEINTRESOURCEA(Id));
    if (Bmp)
      SetImage(Bmp);
    else
      LogImage(Msg.NoResource, Id);
  } catch (const std::exception& E) {
    // A damaged or opaque skin picture must not break the painting that asked for it: the entry
    // stays without an image and draws the marker.
    LogImage(Msg.LoadFailed, Id, E.what());
  } catch (...) {
    LogImage(Msg.LoadFailed, Id, "unknown error");
  }
}

void TInternalImage::Load(TImageId Id) {
  SetImage(nullptr);
  int W = 0, H = 0;
  if (SizeProc) {
    SizeProc(Id, W, H);
  } else {
    W = GeneratedWidth(Id) > 0 ? GeneratedWidth(Id) : NaturalWidth;
    H = GeneratedHeight(Id) > 0 ? GeneratedHeight(Id) : NaturalHeight;
  }
  if (W <= 0 || H <= 0 || !PaintProc) return;
  try {
    SetImage(RenderSupersampled(W, H, PaintProc, reinterpret_cast<void*>(static_cast<uintptr_t>(Id)), Scale));
  } catch (const std::exception& E) {
    LogImage(Msg.RenderFailed, Id, E.what());
  } catch (...) {
    LogImage(Msg.RenderFailed, Id, "unknown error");
  }
}

TDynConImage::TDynConImage(const AnsiString& Name, int Width, int Height)
    : FName(Name), FRequestedWidth(Width), FRequestedHeight(Height) {}

TDynConImage::~TDynConImage() {
  Image = nullptr;  // the bitmap object owns it
}

void TDynConImage::Update(TImageCache* Cache) {
  if (!Cache->OnSupplyImage) return;
  auto Fresh = std::make_unique<TBitmap>();
  try {
    Cache->OnSupplyImage(Cache, this, Fresh.get());
  } catch (const std::exception& E) {
    Log(Msg.LogSource, Format(Msg.SupplyFailed, FName.c_str(), E.what()));
    Fresh = std::make_unique<TBitmap>();
  } catch (...) {
    Log(Msg.LogSource, Format(Msg.SupplyFailed, FName.c_str(), "unknown error"));
    Fresh = std::make_unique<TBitmap>();
  }
  FPending = Fresh->Empty();
  if (FPending) {
    if (!FBitmap || FBitmap->Empty()) DrawPlaceholder();
    return;
  }
  Image = nullptr;  // owned by the bitmap about to go
  FBitmap = std::move(Fresh);
  FBitmap->ReleaseContext();
  Image = FBitmap->Handle();
  Width = FBitmap->Width();
  Height = FBitmap->Height();
}

void TDynConImage::DrawPlaceholder() {
  int W = std::clamp(FRequestedWidth, PlaceholderMin, PlaceholderMax);
  int H = std::clamp(FRequestedHeight, PlaceholderMin, PlaceholderMax);
  Image = nullptr;
  FBitmap = std::make_unique<TBitmap>();
  FBitmap->SetPixelFormat(pf32bit);
  FBitmap->SetSize(W, H);
  TCanvas* C = FBitmap->Canvas();
  HDC Dc = DC(C);
  int Saved = SaveDC(Dc);
  HPEN Pen = CreatePen(PS_SOLID, 1, PlaceholderFrame);
  HBRUSH Brush = CreateSolidBrush(PlaceholderFill);
  SelectObject(Dc, Pen);
  SelectObject(Dc, Brush);
  Rectangle(Dc, 0, 0, W, H);
  HFONT Font = CreateFontW(-(H - 2), 0, 0, 0, FW_BOLD, 0, 0, 0, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                           CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH, Msg.PlaceholderFace);
  SelectObject(Dc, Font);
  SetBkMode(Dc, TRANSPARENT);
  SetTextColor(Dc, PlaceholderInk);
  RECT R{0, 0, W, H};
  DrawTextW(Dc, Msg.PlaceholderText, 1, &R, DT_CENTER | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
  RestoreDC(Dc, Saved);
  DeleteObject(Font);
  DeleteObject(Brush);
  DeleteObject(Pen);
  SetRectAlpha(C, Rect(0, 0, W, H), 255);
  FBitmap->ReleaseContext();
  Image = FBitmap->Handle();
  Width = W;
  Height = H;
}

// ---------------------------------------------------------------------------------------------
// The cache

class TImageCache::TSelection {
 public:
  TSelection(TImageCache& Cache, void* Image) : FCache(Cache) {
    HDC Dc = static_cast<HDC>(Cache.FDC);
    if (Cache.FBatchDepth > 0) {
      if (Cache.FSelected == Image) return;
      HGDIOBJ Old = static_cast<HGDIOBJ>(CheckHandle(SelectObject(Dc, static_cast<HGDIOBJ>(Image))));
      if (!Cache.FSelected) Cache.FDCBitmap = Old;
      Cache.FSelected = Image;
      return;
    }
    FOld = static_cast<HGDIOBJ>(CheckHandle(SelectObject(Dc, static_cast<HGDIOBJ>(Image))));
  }
  ~TSelection() {
    if (FOld) SelectObject(static_cast<HDC>(FCache.FDC), FOld);
  }
  TSelection(const TSelection&) = delete;
  TSelection& operator=(const TSelection&) = delete;

 private:
  TImageCache& FCache;
  HGDIOBJ FOld = nullptr;  // outside a batch: what to put back
};

void TImageCache::Unselect() {
  if (!FSelected) return;
  SelectObject(static_cast<HDC>(FDC), static_cast<HGDIOBJ>(FDCBitmap));
  FSelected = FDCBitmap = nullptr;
}

void TImageCache::EndBatch() {
  if (FBatchDepth > 0 && --FBatchDepth == 0) Unselect();
}

TImageCache::TImageCache()
    : FMap(std::make_unique<THashMap>()), FDynamicNames(NewNameList()), FRegisteredNames(NewNameList()) {
  FMap->SetOwnsValues(true);
  FDC = CheckHandle(CreateCompatibleDC(nullptr));
}

TImageCache::~TImageCache() {
  SetRetryTimer(false);
  Unselect();
  FMap.reset();
  if (FDC) DeleteDC(static_cast<HDC>(FDC));
}

TCachedImage* TImageCache::GetImage(TImageId Id) {
  auto* Entry = static_cast<TCachedImage*>(FMap->GetValue(Id));
  if (!Entry && ImageIdKind(Id) == ikGenerated) {
    auto* Base = dynamic_cast<TInternalImage*>(FMap->GetValue(GeneratedBase(Id) | ImageIdGenerated));
    if (Base) {
      int W = GeneratedWidth(Id), H = GeneratedHeight(Id);
      if (Base->Base && Base->Image && (W == 0 || W == Base->Width) && (H == 0 || H == Base->Height)) {
        Entry = Base;
      } else {
        // Another size gets an entry of its own: the base keeps its size for its other users.
        auto* Sized = new TInternalImage;
        Sized->PaintProc = Base->PaintProc;
        Sized->SizeProc = Base->SizeProc;
        Sized->Scale = Base->Scale;
        Sized->NaturalWidth = Base->NaturalWidth;
        Sized->NaturalHeight = Base->NaturalHeight;
        FMap->Add({Id, Sized});
        Sized->Load(Id);
        Entry = Sized;
      }
    }
  }
  if (!Entry) {
    Entry = new TCachedImage;
    FMap->Add({Id, Entry});
    Entry->Load(Id);
  }
  Entry->LastUse = GetTickCount();
  if (!Entry->Image) {
    if (auto* Internal = dynamic_cast<TInternalImage*>(Entry)) Internal->Load(Id);
  }
  return Entry;
}

int TImageCache::GetWidth(TImageId Id) { return GetImage(Id)->Width; }

int TImageCache::GetHeight(TImageId Id) { return GetImage(Id)->Height; }

void TImageCache::Draw(TCanvas* Canvas, TImageId Id, int X, int Y, int SrcWidth, int SrcHeight, int SrcX, int SrcY,
                       int Width, int Height, uint8_t Alpha) {
  TCachedImage* E = GetImage(Id);
  if (!E->Image) {
    DrawMissingImage(Canvas, Id, X, Y, SrcWidth, SrcHeight);
    return;
  }
  if (SrcWidth == -1) SrcWidth = E->Width;
  if (SrcHeight == -1) SrcHeight = E->Height;
  if (Width == -1) Width = SrcWidth;
  if (Height == -1) Height = SrcHeight;
  // A source reaching past the image makes the blend fail as a whole: cut it to the image, and
  // the destination with it where the picture is not stretched.
  bool Stretched = Width != SrcWidth || Height != SrcHeight;
  if (SrcX < 0) {
    if (!Stretched) X -= SrcX, Width += SrcX;
    SrcWidth += SrcX;
    SrcX = 0;
  }
  if (SrcY < 0) {
    if (!Stretched) Y -= SrcY, Height += SrcY;
    SrcHeight += SrcY;
    SrcY = 0;
  }
  if (SrcX + SrcWidth > E->Width) {
    SrcWidth = E->Width - SrcX;
    if (!Stretched) Width = SrcWidth;
  }
  if (SrcY + SrcHeight > E->Height) {
    SrcHeight = E->Height - SrcY;
    if (!Stretched) Height = SrcHeight;
  }
  if (SrcWidth <= 0 || SrcHeight <= 0 || Width <= 0 || Height <= 0) return;
  TSelection S(*this, E->Image);
  if (!AlphaDraw(Canvas->Handle(), X, Y, Alpha, Width, Height, SrcX, SrcY, FDC, SrcWidth, SrcHeight))
    LogImage(Msg.DrawFailed, Id);
}

void TImageCache::DrawAt(TCanvas* Canvas, TImageId Id, int X, int Y, uint8_t Alpha) {
  Draw(Canvas, Id, X, Y, -1, -1, 0, 0, -1, -1, Alpha);
}

void TImageCache::StretchDraw(TCanvas* Canvas, TImageId Id, int X, int Y, int Width, int Height, int SrcX, int SrcY,
                              int SrcWidth, int SrcHeight) {
  TCachedImage* E = GetImage(Id);
  if (!E->Image) {
    DrawMissingImage(Canvas, Id, X, Y, Width, Height);
    return;
  }
  if (SrcWidth == -1) SrcWidth = E->Width;
  if (SrcHeight == -1) SrcHeight = E->Height;
  if (Width == -1) Width = E->Width;
  if (Height == -1) Height = E->Height;
  TSelection S(*this, E->Image);
  HDC Dst = DC(Canvas);
  int OldMode = SetStretchBltMode(Dst, COLORONCOLOR);
  StretchBlt(Dst, X, Y, Width, Height, static_cast<HDC>(FDC), SrcX, SrcY, SrcWidth, SrcHeight, SRCCOPY);
  SetStretchBltMode(Dst, OldMode);
}

void TImageCache::TileDraw(TCanvas* Canvas, const TRect& Dst, const TRect& Src, bool UseAlpha, uint8_t Alpha) {
  int SW = Src.Width(), SH = Src.Height();
  if (SW <= 0 || SH <= 0) return;
  for (int Y = Dst.Top; Y < Dst.Bottom; Y += SH) {
    int H = std::min(SH, Dst.Bottom - Y);
    for (int X = Dst.Left; X < Dst.Right; X += SW) {
      int W = std::min(SW, Dst.Right - X);
      if (UseAlpha)
        AlphaDraw(Canvas->Handle(), X, Y, Alpha, W, H, Src.Left, Src.Top, FDC, W, H);
      else
        BitBlt(DC(Canvas), X, Y, W, H, static_cast<HDC>(FDC), Src.Left, Src.Top, SRCCOPY);
    }
  }
}

void TImageCache::DrawFrame(TCanvas* Canvas, const TRect& R, TImageId Id, int Left, int Top, int Right, int Bottom,
                            int SrcY, int SrcHeight, TColor Center, bool UseAlpha, uint8_t Alpha) {
  TCachedImage* E = GetImage(Id);
  if (!E->Image) {
    DrawMissingImage(Canvas, Id, R.Left, R.Top, R.Width(), R.Height());
    return;
  }
  const int IW = E->Width;
  // The rows from SrcY to the bottom when no height is given (the band of a taller picture).
  if (SrcHeight <= 0) SrcHeight = E->Height - SrcY;
  SrcHeight = std::min(SrcHeight, E->Height - SrcY);
  const int SB = SrcY + SrcHeight;  // source bottom
  const int L = R.Left, T = R.Top, Rt = R.Right, B = R.Bottom;
  TSelection S(*this, E->Image);
  auto Piece = [&](TRect Dst, TRect Src) { TileDraw(Canvas, Dst, Src, UseAlpha, Alpha); };
  if (Top > 0) {
    Piece(Rect(L, T, L + Left, T + Top), Rect(0, SrcY, Left, SrcY + Top));
    Piece(Rect(L + Left, T, Rt - Right, T + Top), Rect(Left, SrcY, IW - Right, SrcY + Top));
    Piece(Rect(Rt - Right, T, Rt, T + Top), Rect(IW - Right, SrcY, IW, SrcY + Top));
  }
  if (Left > 0) Piece(Rect(L, T + Top, L + Left, B - Bottom), Rect(0, SrcY + Top, Left, SB - Bottom));
  TRect Mid = Rect(L + Left, T + Top, Rt - Right, B - Bottom);
  if (Center == FrameCenterTiled) {
    Piece(Mid, Rect(Left, SrcY + Top, IW - Right, SB - Bottom));
  } else if (Center != FrameCenterNone && Mid.Width() > 0 && Mid.Height() > 0) {
    HBRUSH Brush = CreateSolidBrush(static_cast<COLORREF>(Center));
    RECT M{Mid.Left, Mid.Top, Mid.Right, Mid.Bottom};
    FillRect(DC(Canvas), &M, Brush);
    DeleteObject(Brush);
    if (!UseAlpha) SetRectAlpha(Canvas, Mid, 255);
  }
  if (Right > 0) Piece(Rect(Rt - Right, T + Top, Rt, B - Bottom), Rect(IW - Right, SrcY + Top, IW, SB - Bottom));
  if (Bottom > 0) {
    Piece(Rect(L, B - Bottom, L + Left, B), Rect(0, SB - Bottom, Left, SB));
    Piece(Rect(L + Left, B - Bottom, Rt - Right, B), Rect(Left, SB - Bottom, IW - Right, SB));
    Piece(Rect(Rt - Right, B - Bottom, Rt, B), Rect(IW - Right, SB - Bottom, IW, SB));
  }
}

void TImageCache::DrawMissingImage(TCanvas* Canvas, TImageId Id, int X, int Y, int Width, int Height) {
  if (Width == -1) Width = MarkerDefaultWidth;
  if (Height == -1) Height = MarkerDefaultHeight;
  Canvas->RequiredState(csHandleValid | csFontValid);
  HDC Dc = DC(Canvas);
  int Saved = SaveDC(Dc);
  HBRUSH Hatch = CreateHatchBrush(HS_DIAGCROSS, RGB(0, 0, 0));
  SelectObject(Dc, GetStockObject(NULL_PEN));
  SelectObject(Dc, Hatch);
  SetBkMode(Dc, TRANSPARENT);
  // Without an outline a rectangle fills one pixel less on the right and the bottom.
  Rectangle(Dc, X, Y, X + Width + 1, Y + Height + 1);
  SetTextColor(Dc, static_cast<COLORREF>(ColorToRGB(Canvas->Font()->Color())));
  WideString Text = WideFormat(Msg.MarkerText, static_cast<int>(Id));
  TextOutW(Dc, X, Y, Text.c_str(), static_cast<int>(Text.size()));
  RestoreDC(Dc, Saved);
  DeleteObject(Hatch);
}

// ---------------------------------------------------------------------------------------------
// Named pictures

TImageId TImageCache::GetDynamicImageId(const AnsiString& Name, TImageId Default, int Width, int Height) {
  if (!OnSupplyImage) return Default;
  TImageId Id;
  int Index;
  if (FDynamicNames->Find(Name, Index)) {
    Id = ObjectId(FDynamicNames->Objects(Index));
  } else {
    Id = static_cast<TImageId>(FDynamicNames->Count()) | ImageIdDynamic;
    auto* Entry = new TDynConImage(Name, Width, Height);
    FMap->Add({Id, Entry});
    FDynamicNames->AddObject(Name, IdObject(Id));
    Unselect();
    Entry->Update(this);
    if (Entry->Pending()) SetRetryTimer(true);
  }
  auto* Entry = dynamic_cast<TDynConImage*>(GetImage(Id));
  if (Default != 0 && (!Entry || !Entry->Image || Entry->Pending())) return Default;
  return Id;
}

TImageId TImageCache::IdFromString(const AnsiString& S) {
  int Value = StrToIntDef(S, 0);
  if (Value != 0) return static_cast<TImageId>(Value);
  int Index;
  return FRegisteredNames->Find(S, Index) ? ObjectId(FRegisteredNames->Objects(Index)) : 0;
}

void TImageCache::RegisterImageName(const AnsiString& Name, TImageId Id) {
  int Index;
  if (FRegisteredNames->Find(Name, Index))
    FRegisteredNames->PutObject(Index, IdObject(Id));
  else
    FRegisteredNames->AddObject(Name, IdObject(Id));
}

void TImageCache::RegisterGeneratedImage(uint32_t Base, int Width, int Height, TPaintProc PaintProc, int Scale,
                                         TImageSizeProc SizeProc) {
  TImageId Key = GeneratedImageId(Base);
  Unselect();
  FMap->Remove(Key);
  auto* Entry = new TInternalImage;
  Entry->PaintProc = std::move(PaintProc);
  Entry->SizeProc = std::move(SizeProc);
  Entry->Scale = std::max(Scale, 1);
  Entry->Base = true;
  Entry->NaturalWidth = Width;
  Entry->NaturalHeight = Height;
  FMap->Add({Key, Entry});
  Entry->Load(Key);
}

void TImageCache::RetryPending() {
  SetRetryTimer(false);
  bool Arrived = false, StillPending = false;
  for (int I = 0; I < FDynamicNames->Count(); ++I) {
    auto* Entry = dynamic_cast<TDynConImage*>(FMap->GetValue(ObjectId(FDynamicNames->Objects(I))));
    if (!Entry || !Entry->Pending()) continue;
    Unselect();
    Entry->Update(this);
    if (Entry->Pending())
      StillPending = true;
    else
      Arrived = true;
  }
  if (Arrived && OnChange) OnChange(this);
  if (StillPending) SetRetryTimer(true);
}

void TImageCache::SetRetryTimer(bool Enabled) {
  if (Enabled == (FTimerId != 0)) return;
  if (Enabled) {
    FTimerId = SetTimer(nullptr, 0, RetryInterval, reinterpret_cast<TIMERPROC>(&TimerProc));
    if (FTimerId) Timers()[FTimerId] = this;
  } else {
    KillTimer(nullptr, FTimerId);
    Timers().erase(FTimerId);
    FTimerId = 0;
  }
}

void __stdcall TImageCache::TimerProc(void*, unsigned, uintptr_t Id, unsigned long) {
  // Called from the message loop: nothing may leave it.
  try {
    auto It = Timers().find(Id);
    if (It != Timers().end()) It->second->RetryPending();
  } catch (const std::exception& E) {
    Log(Msg.LogSource, E.what());
  } catch (...) {
    Log(Msg.LogSource, "retry failed");
  }
}

// ---------------------------------------------------------------------------------------------

void ImageCacheInitialize() {
  if (!ImageCache) ImageCache = new TImageCache;
}

void ImageCacheFinalize() {
  delete ImageCache;
  ImageCache = nullptr;
}
