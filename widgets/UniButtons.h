// Unicode bitmap button: an owner-drawn button with a glyph and a wide caption.
#pragma once
#include "classlib/Buttons.h"
#include "widgets/UniStdCtrls.h"

// The silent exception that ends a paint that must be redone.
class EAbortPaint : public EAbort {
 public:
  using EAbort::EAbort;
  const char* ClassName() const override { return "EAbortPaint"; }
};

// A button whose glyph the painter below can draw.
class IUniGlyphButton {
 public:
  virtual ~IUniGlyphButton() = default;
  virtual TButtonGlyph* GetButtonGlyph() = 0;
  // Has the button make its missing glyph images; ends the current paint (EAbortPaint).
  virtual void UpdateInternalGlyphList() = 0;
};

// Lays out and draws a button's glyph and wide caption in Client; Offset moves both (pressed).
// With visual styles the push-button theme draws the glyph; without them the image list draws it,
// on the button face unless Transparent (or the state is bsExclusive).
// Raises EUniInternalError for a control without IUniGlyphButton.
void PaintUniGlyphButton(TControl* Control, HDC DC, const RECT& Client, TButtonState State, POINT Offset,
                         TButtonLayout Layout, int Margin, int Spacing, bool WordWrap, bool Transparent = false);

class TUniBitBtn : public TBitBtn, public IUniGlyphButton {
 public:
  using TBitBtn::TBitBtn;
  const char* ClassName() const override { return "TUniBitBtn"; }
  WideString Caption() { return GetControlWideText(this); }
  void SetCaption(const WideString& Value) { SetControlWideText(this, Value); }
  WideString Text() { return GetControlWideText(this); }
  void SetText(const WideString& Value) { SetControlWideText(this, Value); }
  WideString Hint() { return GetControlWideHint(this); }
  void SetHint(const WideString& Value) { SetControlWideHint(this, Value); }
  void DefineProperties(TFiler* Filer) override;
  std::unique_ptr<TControlActionLink> CreateActionLink() override { return SelectWideActionLinkClass(this); }
  TButtonGlyph* GetButtonGlyph() override { return FButtonGlyph.get(); }
  void UpdateInternalGlyphList() override;
  // Paints since the window was made (for tests of the repaint rule).
  int PaintCount() const { return FPaintCount; }

 protected:
  // The wide texts and the library's step; then an empty glyph takes the action's image from
  // its action list's images.
  void ActionChange(TObject* Sender, bool CheckDefaults) override;
  void CreateWindowHandle(const TCreateParams& Params) override;
  void WndProc(TMessage& Message) override;
  void DrawUniItem(const DRAWITEMSTRUCT& D);
  void DrawThemedItem(void* Theme, const DRAWITEMSTRUCT& D);
  bool FPaintInherited = false;
  bool FMouseInControl = false;
  int FPaintCount = 0;
  // A completion of the glyph list was asked for since the last glyph image was found: a second
  // request would only repaint for ever, so the paint goes on without the glyph.
  bool FCompletionAsked = false;
  friend int UniGlyphIndex(TUniBitBtn* Button, TButtonState State);
};
