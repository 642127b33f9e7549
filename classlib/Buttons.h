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

// A windowless button its parent paints: a raised face (pressed while Down, flat until the mouse
// is over it when Flat), the glyph of its state and the 8-bit caption beside it. A button of a
// group (GroupIndex > 0) stays down when clicked; AllowAllUp lets a second click raise it again.
class TSpeedButton : public TGraphicControl {
 public:
  explicit TSpeedButton(TComponent* AOwner);
  const char* ClassName() const override { return "TSpeedButton"; }
  TBitmap* Glyph() const { return FButtonGlyph->Glyph(); }
  // Call after changing the glyph bitmap.
  void GlyphChanged();
  int NumGlyphs() const { return FButtonGlyph->NumGlyphs(); }
  void SetNumGlyphs(int Value);
  bool Down() const { return FDown; }
  // Only a button of a group can be down; lowering one raises the others of its group.
  void SetDown(bool Value);
  bool Flat() const { return FFlat; }
  void SetFlat(bool Value);
  int GroupIndex() const { return FGroupIndex; }
  void SetGroupIndex(int Value) { FGroupIndex = Value < 0 ? 0 : Value; }
  bool AllowAllUp() const { return FAllowAllUp; }
  void SetAllowAllUp(bool Value) { FAllowAllUp = Value; }
  int Spacing() const { return FSpacing; }
  void SetSpacing(int Value) { FSpacing = Value; Invalidate(); }
  // True while the mouse is over the button (flat buttons show their face then).
  bool MouseInControl() const { return FMouseInControl; }
  TButtonGlyph* ButtonGlyph() const { return FButtonGlyph.get(); }
  void Click() override;
  void Paint(HDC DC) override;
  // The state the face shows: up, down or disabled.
  TButtonState State() const;

 protected:
  void WndProc(TMessage& Message) override;
  std::unique_ptr<TControlActionLink> CreateActionLink() override;
  // The face and the content area left inside it.
  virtual void DrawFace(HDC DC, RECT& Rect);
  // The caption of the button into Rect, 8-bit.
  virtual void DrawCaption(HDC DC, RECT& Rect, UINT Flags);
  // Where the glyph (GlyphWidth wide, 0 for none) and the caption go within the content area.
  void LayoutContent(HDC DC, const RECT& Content, int GlyphWidth, int GlyphHeight, POINT& GlyphPos,
                     RECT& TextRect);
  std::unique_ptr<TButtonGlyph> FButtonGlyph;
  bool FDown = false;
  bool FFlat = false;
  bool FAllowAllUp = false;
  bool FMouseInControl = false;
  int FGroupIndex = 0;
  int FSpacing = 4;
};
