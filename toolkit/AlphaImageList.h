// An image list of 32-bit premultiplied images: every image added is kept in one strip bitmap,
// side by side at the list's width and height, and drawn from it with per-pixel alpha (the system
// image list it also goes into cannot blend).
#pragma once
#include <memory>

#include "classlib/ImgList.h"

class TAlphaImageList : public TCustomImageList {
 public:
  // Threads: user interface (every method).
  explicit TAlphaImageList(TComponent* AOwner);
  ~TAlphaImageList() override;
  const char* ClassName() const override { return "TAlphaImageList"; }

  // Copies Image (32-bit premultiplied; asserted not null and not empty) into the strip at the
  // next free cell, widening the strip by AllocBy cells when it is full, then adds it to the
  // system list as well. Returns the system list's index.
  int Add(TBitmap* Image, TBitmap* Mask) override;
  void SetSize(int AWidth, int AHeight) override;
  // The images in the strip.
  int ImageCount() const { return FCount; }
  TBitmap* Strip() const { return FStrip.get(); }

 protected:
  // On a canvas whose brush is clMenuHighlight the image's place (one pixel around it, three to
  // the right and two below) is first filled with clHighlight; then the image's cell of the strip
  // is blended at (X, Y) at alpha 255, or 90 when disabled.
  void DoDraw(int Index, TCanvas* Canvas, int X, int Y, uint32_t Style, bool Enabled) override;

 private:
  std::unique_ptr<TBitmap> FStrip;
  int FCount = 0;
};
