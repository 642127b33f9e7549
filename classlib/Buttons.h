// Bitmap buttons: a push button that paints a glyph beside its caption.
#pragma once
#include <memory>

#include "classlib/Graphics.h"
#include "classlib/StdCtrls.h"

enum TButtonState { bsUp = 0, bsDisabled = 1, bsDown = 2, bsExclusive = 3 };
enum TButtonLayout { blGlyphLeft, blGlyphRight, blGlyphTop, blGlyphBottom };

// The glyph of a button: the bitmap with NumGlyphs images side by side (up, disabled, down,
// exclusive), and an image list with one image per state, made on first use by the drawing.
class TButtonGlyph : public TObject {
 public:
  TButtonGlyph();
  ~TButtonGlyph() override;
  const char* ClassName() const override { return "TButtonGlyph"; }
  TBitmap* Glyph() const { return FGlyph.get(); }
  // Clears the images made so far (after the bitmap changed).
  void Invalidate();
  int NumGlyphs() const { return FNumGlyphs; }
  void SetNumGlyphs(int Value);
  void* ImageList() const { return FImageList; }
  // The image of a state, -1 while it is not made.
  int Index(TButtonState State) const { return FIndexes[State]; }
  // Makes the image of a state (the library's drawing does so before it draws).
  int CreateButtonGlyph(TButtonState State);

 private:
  std::unique_ptr<TBitmap> FGlyph;
  int FNumGlyphs = 1;
  void* FImageList = nullptr;
  int FIndexes[4] = {-1, -1, -1, -1};
};

class TBitBtn : public TButton {
 public:
  explicit TBitBtn(TComponent* AOwner);
  const char* ClassName() const override { return "TBitBtn"; }
  TBitmap* Glyph() const { return FButtonGlyph->Glyph(); }
  // Call after changing the glyph bitmap.
  void GlyphChanged();
  int NumGlyphs() const { return FButtonGlyph->NumGlyphs(); }
  void SetNumGlyphs(int Value);
  TButtonLayout Layout() const { return FLayout; }
  void SetLayout(TButtonLayout Value) { FLayout = Value; Invalidate(); }
  int Margin() const { return FMargin; }
  void SetMargin(int Value) { FMargin = Value; Invalidate(); }
  int Spacing() const { return FSpacing; }
  void SetSpacing(int Value) { FSpacing = Value; Invalidate(); }
  bool WordWrap() const { return FWordWrap; }
  void SetWordWrap(bool Value) { FWordWrap = Value; Invalidate(); }
  TButtonGlyph* ButtonGlyph() const { return FButtonGlyph.get(); }

 protected:
  void CreateParams(TCreateParams& Params) override;
  void WndProc(TMessage& Message) override;
  std::unique_ptr<TControlActionLink> CreateActionLink() override;
  // The library's own face: frame, glyph of the state (made here when missing) and 8-bit caption.
  virtual void DrawItem(const DRAWITEMSTRUCT& DrawItemStruct);
  std::unique_ptr<TButtonGlyph> FButtonGlyph;
  TButtonLayout FLayout = blGlyphLeft;
  int FMargin = -1;
  int FSpacing = 4;
  bool FWordWrap = false;
};
