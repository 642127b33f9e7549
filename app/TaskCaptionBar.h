// The task windows' caption bar: the main window's board with the logo, a title the task window
// sets, and Minimize and Close, whose commands go straight to the task window.
#pragma once
#include "app/CaptionBar.h"

// The board of the task windows: the main window's board that shows its texts once more at the
// end of its construction.
class TTaskMainBoard : public TMainBoard {
 public:
  // Threads: user interface (every method).
  explicit TTaskMainBoard(TComponent* AOwner);
  const char* ClassName() const override { return "TTaskMainBoard"; }
  // Repaints.
  void LanguageChanged() override;
};

class TTaskCaptionBar : public TTaskMainBoard {
 public:
  // CommandWindow: the task window's HWND, which gets the caption commands.
  // Threads: user interface (every method).
  TTaskCaptionBar(TComponent* AOwner, void* CommandWindow);
  const char* ClassName() const override { return "TTaskCaptionBar"; }
  const WideString& Caption() const { return fCaption; }
  // Stores the title and repaints when it differs.
  void SetCaption(const WideString& Text);
  void PaintCopy(TCanvas* Canvas, const TRect& Rect) override;
  void RealignRoot() override;
  // Close sends WM_CAPTION_COMMAND with SC_CLOSE, Minimize with SC_MINIMIZE, to the command
  // window, while the event bus exists.
  void DoLinkClick(THyperlink* Link) override;
  void LanguageChanged() override;
  void* CommandWindow() const { return fCommandWindow; }
  const TCaptionParts& Parts() const { return fParts; }

 protected:
  void Paint(TCanvas* Canvas) override;

 private:
  void* fCommandWindow;
  WideString fCaption;
  TCaptionParts fParts;
};
