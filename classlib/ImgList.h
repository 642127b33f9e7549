// Image lists: equal-sized images in one system image list, drawn by index.
#pragma once
#include "classlib/Graphics.h"

class TCustomImageList : public TComponent {
 public:
  explicit TCustomImageList(TComponent* AOwner);
  ~TCustomImageList() override;
  const char* ClassName() const override { return "TCustomImageList"; }
  int Width() const { return FWidth; }
  int Height() const { return FHeight; }
  // A new size empties the list.
  void SetSize(int AWidth, int AHeight);
  int Count() const;
  // The system image list (an HIMAGELIST), made on first use.
  void* Handle();
  // Adds Image (as many images as fit across it); pixels of MaskColor stay transparent. Returns
  // the index of the first one.
  int AddMasked(TBitmap* Image, TColor MaskColor);
  // Draws an image; a disabled one is drawn blended with the background.
  void Draw(TCanvas* Canvas, int X, int Y, int Index, bool Enabled = true);
  // Copies an image into Image (sized to the list's images), on the button face colour.
  void GetBitmap(int Index, TBitmap* Image);

 private:
  int FWidth = 16;
  int FHeight = 16;
  void* FHandle = nullptr;
};

class TImageList : public TCustomImageList {
 public:
  using TCustomImageList::TCustomImageList;
  const char* ClassName() const override { return "TImageList"; }
};
