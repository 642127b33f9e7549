// Panels.
#pragma once
#include "classlib/StdCtrls.h"

enum TBevelCut { bvNone, bvLowered, bvRaised, bvSpace };
enum TAlignment { taLeftJustify, taRightJustify, taCenter };

class TCustomPanel : public TCustomControl {
 public:
  explicit TCustomPanel(TComponent* AOwner);
  const char* ClassName() const override { return "TCustomPanel"; }
  TBevelCut BevelOuter() const { return FBevelOuter; }
  void SetBevelOuter(TBevelCut Value) { FBevelOuter = Value; Invalidate(); }
  TBevelCut BevelInner() const { return FBevelInner; }
  void SetBevelInner(TBevelCut Value) { FBevelInner = Value; Invalidate(); }
  int BevelWidth() const { return FBevelWidth; }
  int BorderWidth() const { return FBorderWidth; }
  TAlignment Alignment() const { return FAlignment; }
  void SetAlignment(TAlignment Value) { FAlignment = Value; Invalidate(); }

 protected:
  void Paint(HDC DC) override;
  // Frames and background; returns the rectangle left for the caption.
  RECT PaintFrame(HDC DC);
  TBevelCut FBevelOuter = bvRaised;
  TBevelCut FBevelInner = bvNone;
  int FBevelWidth = 1;
  int FBorderWidth = 0;
  TAlignment FAlignment = taCenter;
};

class TPanel : public TCustomPanel {
 public:
  using TCustomPanel::TCustomPanel;
  const char* ClassName() const override { return "TPanel"; }
};

// A timer: OnTimer every Interval milliseconds while Enabled, on the thread that made the timer
// (its hidden window's WM_TIMER). An exception that escapes OnTimer goes to the application.
class TTimer : public TComponent {
 public:
  explicit TTimer(TComponent* AOwner);
  ~TTimer() override;
  const char* ClassName() const override { return "TTimer"; }
  // Threads: the thread that made the timer, as every call below.
  bool Enabled() const { return FEnabled; }
  void SetEnabled(bool Value);
  // A change restarts a running timer with the new interval; 0 stops it.
  uint32_t Interval() const { return FInterval; }
  void SetInterval(uint32_t Value);
  std::function<void(TObject* Sender)> OnTimer;

 private:
  void UpdateTimer();
  void WndProc(TMessage& Message);
  void* FWindow = nullptr;
  bool FEnabled = true;
  uint32_t FInterval = 1000;
};
