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
  virtual void SetSize(int AWidth, int AHeight);
  int Count() const;
  // How many images the list grows by when it is full.
  int AllocBy() const { return FAllocBy; }
  void SetAllocBy(int Value) { FAllocBy = Value > 0 ? Value : 1; }
  // The system image list (an HIMAGELIST), made on first use.
  void* Handle();
  // Adds Image (as many images as fit across it), Mask (may be null) giving the see-through
  // pixels. Returns the index of the first one, -1 for a missing or empty image.
  virtual int Add(TBitmap* Image, TBitmap* Mask);
  // Adds Image (as many images as fit across it); pixels of MaskColor stay transparent. Returns
  // the index of the first one.
  int AddMasked(TBitmap* Image, TColor MaskColor);
  // Draws an image (through DoDraw); a disabled one is drawn blended with the background.
  void Draw(TCanvas* Canvas, int X, int Y, int Index, bool Enabled = true);
  // Copies an image into Image (sized to the list's images), on the button face colour.
  void GetBitmap(int Index, TBitmap* Image);

 protected:
  // Draws image Index at (X, Y) with the ILD_ drawing style Style.
  virtual void DoDraw(int Index, TCanvas* Canvas, int X, int Y, uint32_t Style, bool Enabled);

 private:
  int FAllocBy = 4;
  int FWidth = 16;
  int FHeight = 16;
  void* FHandle = nullptr;
};

class TImageList : public TCustomImageList {
 public:
  using TCustomImageList::TCustomImageList;
  const char* ClassName() const override { return "TImageList"; }
};
