// The ready-made skinned pieces the application's panels are built from: the tool tile (an image
// with a caption under it and a hover frame), the caption-bar button drawn from a strip of five
// frames stacked top to bottom, and the white body of the confirmation dialog (icon, title,
// message and check-box text).
//
// Threads: every element and control here is touched on the user-interface thread only.
#pragma once
#include <cstdint>

#include "toolkit/HyperlinkControl.h"
#include "toolkit/ImageCache.h"

class TCustomForm;
class TRichText;

// Skin pictures these pieces draw.
constexpr TImageId HoverFrameImage = 8040;
constexpr TImageId QuestionIconImage = 8044;
constexpr TImageId WarningIconImage = 8045;
constexpr TImageId InfoIconImage = 8046;

// A tool tile: the tile picture with 8 pixels of room on each side, the caption (a language
// string) centred under it, a translucent frame while under the mouse.
class TSimpleButton : public TAnimatedHyperlink {
 public:
  // Threads: user interface (every method). Clickable; the picture's size plus 16 each way.
  TSimpleButton(uint8_t CaptionId, TImageId ImageId);
  const char* ClassName() const override { return "TSimpleButton"; }
  // Children; the hover frame when hot or pressed; the picture, one pixel right and down and at
  // alpha 221 while pressed, at 90 while disabled; the focus rectangle; the caption at Top + 120.
  void Paint(TCanvas* Canvas) override;
  // Steps the frame counter round three times the frame count; false while no frame count is set.
  bool DoAnimate() override;
  // The caption is read when painting: a language change repaints.
  void ApplyTexts() override;

  uint8_t CaptionId() const { return fCaptionId; }
  TImageId ImageId() const { return fImageId; }
  uint32_t FrameCount() const { return fFrameCount; }
  void SetFrameCount(uint32_t Value) { fFrameCount = Value; }
  uint32_t FrameCounter() const { return fFrameCounter; }

 private:
  TImageId fImageId;
  uint32_t fFrameCounter = 0;
  uint32_t fFrameCount = 0;
  uint8_t fCaptionId;
};

// A caption-bar button. With FiveFrames its picture is a strip of five equal frames from top to
// bottom (normal, hot, pressed, ...), the button as wide as the picture and one frame high;
// without, it is the three-frame bitmap button.
class TShrStaticBitmapButton : public TBitmapHyperlink {
 public:
  // Threads: user interface (every method). Height below 1: one fifth of the picture's height.
  TShrStaticBitmapButton(TImageId ImageId, bool FiveFrames, int Height, int SrcOffset, int Tag);
  const char* ClassName() const override { return "TShrStaticBitmapButton"; }
  void GetImageSize(TPoint& Size) override;
  // The state's frame (source y 0, one and two frame heights) at the element's top-left, as high
  // as the element, at alpha 255 (90 disabled); then the focus rectangle.
  void Paint(TCanvas* Canvas) override;
  bool FiveFrames() const { return fFiveFrames; }

 private:
  bool fFiveFrames;
};

// Hands a drag on Control, at (X, Y) of its client area, to the system's move loop of Form: the
// mouse is released and Form gets a posted WM_NCLBUTTONDOWN / HTCAPTION at that screen point, so
// that the window follows the mouse until the button is up. False, and nothing posted, without a
// form or its window. Threads: user interface.
bool PostFormMove(TWinControl* Control, TCustomForm* Form, int X, int Y);

// The body of the confirmation dialog: a white surface with the icon of its kind at (11, 18), the
// title (70, 20), the message under it and the check-box text at (40, 176). Dragging it with the
// left button moves the form it is on.
class TConfirmControl : public THyperlinkControl {
 public:
  // Threads: user interface (every method).
  explicit TConfirmControl(TComponent* AOwner);
  ~TConfirmControl() override;
  const char* ClassName() const override { return "TConfirmControl"; }
  // The background, then the icon: kind 0 information, 1 warning, 2 question, others none.
  void PaintCopy(TCanvas* Canvas, const TRect& Rect) override;
  void RealignRoot() override;

  // The text is shown as the plain text of a Regular span (it must not hold mark-up).
  void SetTitle(const WideString& Text);
  void SetMessage(const WideString& Text);
  // Mark-up, as given.
  void SetCheckText(const WideString& MarkUp);
  uint8_t IconKind() const { return fIconKind; }
  void SetIconKind(uint8_t Kind);
  // The picture of a kind; 0 for a kind without one.
  static TImageId IconImage(uint8_t Kind);
  TRichText* TitlePart() const { return fTitle; }
  TRichText* MessagePart() const { return fMessage; }
  TRichText* CheckPart() const { return fCheck; }

 protected:
  // With the left button held the form gets WM_NCLBUTTONDOWN / HTCAPTION at the mouse's place,
  // once a press.
  void MouseMove(TShiftState Shift, int X, int Y) override;
  void MouseDown(TMouseButton Button, TShiftState Shift, int X, int Y) override;

 private:
  uint8_t fIconKind = 0;
  bool fMovePosted = false;
  TRichText* fTitle;  // the three parts belong to the root
  TRichText* fMessage;
  TRichText* fCheck;
};
