// Controls: the base classes of everything that appears on screen.
#pragma once
#include "classlib/Classes.h"

class TWinControl;

// A visual component. The widget layer adds bounds, parent, text and painting.
class TControl : public TComponent {
 public:
  explicit TControl(TComponent* AOwner) : TComponent(AOwner) {}
  const char* ClassName() const override { return "TControl"; }
};

// A control with a window of its own. The window is made on first use of Handle() (never during
// construction, so that derived classes are whole when their window procedure first runs) and
// destroyed with the control.
class TWinControl : public TControl {
 public:
  explicit TWinControl(TComponent* AOwner) : TControl(AOwner) {}
  ~TWinControl() override;
  const char* ClassName() const override { return "TWinControl"; }

  // The window (an HWND); made when it does not exist yet.
  void* Handle();
  bool HandleAllocated() const { return FHandle != nullptr; }
  void HandleNeeded() { Handle(); }

 protected:
  // Makes the window. The default is a hidden window whose messages reach WndProc.
  virtual void CreateHandle();
  virtual void DestroyHandle();
  // Answers one message; the default leaves it to the system's default window procedure.
  virtual void WndProc(TMessage& Message);
  void DefaultHandler(TMessage& Message);

  void* FHandle = nullptr;
};
