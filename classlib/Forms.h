// The application object: message loop, exception reporting and the hidden application window.
#pragma once
#include <functional>

#include "classlib/Classes.h"
#include "classlib/Controls.h"

// A form: a top-level window of the program. The widget layer gives it its real window,
// caption and borders; here it is the window that the application's main form is.
class TCustomForm : public TWinControl {
 public:
  explicit TCustomForm(TComponent* AOwner);
  const char* ClassName() const override { return "TCustomForm"; }
  void Show();
  void Hide() { SetVisible(false); }

 protected:
  // A top-level window owned by the application window, hidden until shown.
  void CreateParams(TCreateParams& Params) override;
};

class TApplication : public TComponent {
 public:
  explicit TApplication(TComponent* AOwner);
  ~TApplication() override;
  const char* ClassName() const override { return "TApplication"; }

  void Initialize() {}
  // Runs the message loop until Terminate (or WM_QUIT); returns at once when there is no main form.
  void Run();
  // Handles every waiting message, then returns.
  void ProcessMessages();
  // Handles one message, or waits for one when none is waiting.
  void HandleMessage();
  void Terminate();
  bool Terminated() const { return FTerminated; }
  // Reports the exception being handled (call inside a catch block): OnException when it is set,
  // otherwise a message box; EAbort is dropped silently.
  void HandleException(TObject* Sender);
  // Shows an exception's message in a message box with the application title.
  void ShowException(const Exception& E);
  // The hidden application window.
  void* Handle() const { return FHandle; }
  TCustomForm* MainForm() const { return FMainForm; }
  void SetMainForm(TCustomForm* Form) { FMainForm = Form; }
  const WideString& Title() const { return FTitle; }
  void SetTitle(const WideString& Value) { FTitle = Value; }

  std::function<void(TObject* Sender, const Exception& E)> OnException;
  std::function<void(TObject* Sender, bool& Done)> OnIdle;

 private:
  bool ProcessMessage();
  void Idle();
  void WndProc(TMessage& Message);
  void* FHandle = nullptr;
  bool FTerminated = false;
  TCustomForm* FMainForm = nullptr;
  WideString FTitle;
};

extern TApplication* Application;

// The class library's start-up and shutdown: the first and last units of the program.
void ClasslibInitialize();
void ClasslibFinalize();
