// Unicode forms and the application's wide title and hint.
#pragma once
#include "classlib/Forms.h"

// The base of every form: a Unicode window with a wide caption and hint.
class TUniForm : public TForm {
 public:
  explicit TUniForm(TComponent* AOwner);
  const char* ClassName() const override { return "TUniForm"; }
  WideString Caption();
  void SetCaption(const WideString& Value);
  WideString Hint();
  void SetHint(const WideString& Value);
  // Loads the form resource named after the actual class (RCDATA); raises EResNotFound
  // "Resource %s not found" when there is none. Runs OnCreate afterwards when OldCreateOrder is set.
  void LoadFormResource();
  void DefineProperties(TFiler* Filer) override;
  std::unique_ptr<TControlActionLink> CreateActionLink() override;
  void ActionChange(TObject* Sender, bool CheckDefaults) override;
  // Inherited, then the application's wide hint follows the control under the mouse.
  void UpdateActions() override;

 protected:
  // An MDI child: a Unicode window made by CreateMDIWindowW under the main form's client window.
  void CreateWindowHandle(const TCreateParams& Params) override;
  void DestroyWindowHandle() override;
  // An MDI frame: wide default handling through DefFrameProcW (WM_SIZE through DefWindowProcW,
  // the library sizes the client window); after WM_DESTROY the window is un-subclassed.
  void DefaultHandler(TMessage& Message) override;
  // A dock site that uses a dock manager has its window before the manager is made.
  std::unique_ptr<TDockManager> CreateDockManager() override;
  // WM_MENUSELECT: the application's hint becomes the long part of the item's wide hint.
  void WndProc(TMessage& Message) override;
};

class TUniAction;
class TUniAppIdleEventControl;

// The application's wide title and hint. One instance, UniApplication.
class TUniApplication : public TComponent {
 public:
  TUniApplication();
  ~TUniApplication() override;
  const char* ClassName() const override { return "TUniApplication"; }
  // Threads: user-interface thread only, as every call below.
  WideString Hint();
  void SetHint(const WideString& Value);
  WideString Title();
  void SetTitle(const WideString& Value);
  // Takes the hint of the control under the mouse when the application's 8-bit hint is its form.
  void UpdateHint();
  // A WM_CHAR of a character beyond 8 bits for a Unicode window: dispatched whole here (true).
  bool ProcessMessage(MSG& Msg);
  bool IsDlgMsg(MSG& Msg);

 private:
  bool WindowHook(TMessage& Message);
  friend class TUniAppIdleEventControl;
  bool FMainFormChecked = false;
  // Made on a main form that is not a Unicode form; owned by that form.
  TUniAppIdleEventControl* FIdleEventControl = nullptr;
  WideString FHint;
  WideString FTitle;
};

extern TUniApplication* UniApplication;

// A bare control whose action's updates keep the application's wide hint in step on a main form
// that is not a Unicode form.
class TUniAppIdleEventControl : public TControl {
 public:
  explicit TUniAppIdleEventControl(TComponent* AOwner);
  ~TUniAppIdleEventControl() override;
  const char* ClassName() const override { return "TUniAppIdleEventControl"; }

 private:
  std::unique_ptr<TUniAction> FAction;
};

// Unit start: the application helper and, on NT, the thread's message hook; unit end undoes both.
void UniFormsInitialize();
void UniFormsFinalize();
