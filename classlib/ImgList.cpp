#include "classlib/ImgList.h"

#include "classlib/WinApi.h"
#include <commctrl.h>

TCustomImageList::TCustomImageList(TComponent* AOwner) : TComponent(AOwner) {}

TCustomImageList::~TCustomImageList() {
  if (FHandle) ImageList_Destroy(static_cast<HIMAGELIST>(FHandle));
}

void TCustomImageList::SetSize(int AWidth, int AHeight) {
  if (AWidth < 1 || AHeight < 1) throw EInvalidOperation("Invalid image size");
  if (FHandle) ImageList_Destroy(static_cast<HIMAGELIST>(FHandle));
  FHandle = nullptr;
  FWidth = AWidth;
  FHeight = AHeight;
}

void* TCustomImageList::Handle() {
  if (!FHandle) {
    FHandle = ImageList_Create(FWidth, FHeight, ILC_COLOR24 | ILC_MASK, FAllocBy, FAllocBy);
    if (!FHandle) RaiseLastOSError();
  }
  return FHandle;
}

int TCustomImageList::Count() const { return FHandle ? ImageList_GetImageCount(static_cast<HIMAGELIST>(FHandle)) : 0; }

int TCustomImageList::Add(TBitmap* Image, TBitmap* Mask) {
  if (!Image || Image->GetEmpty()) return -1;
  Image->ReleaseContext();
  if (Mask) Mask->ReleaseContext();
  return ImageList_Add(static_cast<HIMAGELIST>(Handle()), static_cast<HBITMAP>(Image->Handle()),
                       Mask ? static_cast<HBITMAP>(Mask->Handle()) : nullptr);
}

int TCustomImageList::AddMasked(TBitmap* Image, TColor MaskColor) {
  if (!Image || Image->GetEmpty()) return -1;
  Image->ReleaseContext();
  return ImageList_AddMasked(static_cast<HIMAGELIST>(Handle()), static_cast<HBITMAP>(Image->Handle()),
                             (COLORREF)ColorToRGB(MaskColor));
}

void TCustomImageList::Draw(TCanvas* Canvas, int X, int Y, int Index, bool Enabled) {
  if (Index < 0 || Index >= Count()) return;
  DoDraw(Index, Canvas, X, Y, Enabled ? ILD_TRANSPARENT : (ILD_TRANSPARENT | ILD_BLEND50), Enabled);
}

void TCustomImageList::DoDraw(int Index, TCanvas* Canvas, int X, int Y, uint32_t Style, bool Enabled) {
  ImageList_DrawEx(static_cast<HIMAGELIST>(Handle()), Index, static_cast<HDC>(Canvas->Handle()), X, Y, 0, 0, CLR_NONE,
                   Enabled ? CLR_NONE : (COLORREF)GetSysColor(COLOR_BTNFACE), Style);
}

void TCustomImageList::GetBitmap(int Index, TBitmap* Image) {
  if (!Image || Index < 0 || Index >= Count()) return;
  Image->SetSize(FWidth, FHeight);
  HDC dc = static_cast<HDC>(Image->Canvas()->Handle());
  RECT r{0, 0, FWidth, FHeight};
  FillRect(dc, &r, GetSysColorBrush(COLOR_BTNFACE));
  ImageList_Draw(static_cast<HIMAGELIST>(FHandle), Index, dc, 0, 0, ILD_TRANSPARENT);
  Image->ReleaseContext();
}
