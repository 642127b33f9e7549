// The step strip of the wizard windows: a 45-pixel band that names the page ("Title:") and what
// to do on it (the step text, cut with an ellipsis when the band is too narrow). Both texts are
// language strings, read whenever the band paints.
//
// Threads: user-interface thread only.
#pragma once
#include <cstdint>

#include "toolkit/HyperlinkControl.h"
#include "toolkit/ImageCache.h"

constexpr TImageId StepCaptionImage = 5027;
// The point size of the strip's texts.
constexpr int StepCaptionFontSize = 9;
constexpr int StepStripHeight = 45;

// The band itself: skin picture 5027 nine-slice from 8 pixels below its top, the title in bold
// $666666 with a colon, the step text in regular weight 10 pixels after it.
class TNavigateTabCaption : public THyperlink {
 public:
  const char* ClassName() const override { return "TNavigateTabCaption"; }
  // Threads: user interface (every method).
  void Paint(TCanvas* Canvas) override;
  // The texts are read when painting: a language change repaints.
  void ApplyTexts() override;
  uint8_t TitleId() const { return fTitleId; }
  uint8_t StepId() const { return fStepId; }
  void SetIds(uint8_t TitleId, uint8_t StepId) {
    fTitleId = TitleId;
    fStepId = StepId;
  }

 private:
  uint8_t fTitleId = 0;
  uint8_t fStepId = 0;
};

// The window holding the band; 45 pixels high and never lower.
class TNavigateTabCaptionControl : public THyperlinkControl {
 public:
  // Threads: user interface (every method). The band is neither clickable nor enabled; the
  // background is the shared one, fully opaque.
  explicit TNavigateTabCaptionControl(TComponent* AOwner);
  const char* ClassName() const override { return "TNavigateTabCaptionControl"; }
  // Stores both ids in the band and repaints it.
  void SetCaptionIds(uint8_t TitleId, uint8_t StepId);
  // The band takes the whole client rectangle.
  void RealignRoot() override;
  // A height below MinHeight becomes MinHeight.
  void SetBounds(int ALeft, int ATop, int AWidth, int AHeight) override;
  int MinHeight() const { return fMinHeight; }
  TNavigateTabCaption* Caption() const { return fCaption; }

 private:
  TNavigateTabCaption* fCaption;  // belongs to the root
  int fMinHeight = StepStripHeight;
};
