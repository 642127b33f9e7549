// Unicode actions: wide captions and hints kept beside the 8-bit ones, and the links that carry
// them to client controls.
#pragma once
#include <memory>

#include "classlib/ActnList.h"
#include "classlib/Controls.h"
#include "widgets/UniMenus.h"

// An action that keeps wide texts.
class IWideCaptionAction {
 public:
  virtual ~IWideCaptionAction() = default;
};

// The wide shadows of one wide action, owned by the action.
class TCustomActionHelper : public TComponent {
 public:
  explicit TCustomActionHelper(TCustomAction* AAction) : TComponent(AAction), Action(AAction) {}
  const char* ClassName() const override { return "TCustomActionHelper"; }
  TCustomAction* Action;
  WideString WideCaption;
  bool SettingNewCaption = false;
  WideString OldWideCaption;
  AnsiString NewAnsiCaption;
  WideString WideHint;
  bool SettingNewHint = false;
  WideString OldWideHint;
  AnsiString NewAnsiHint;
};

// Threads: every operation below runs on the user-interface thread only; none waits.
TCustomActionHelper* FindActionWideHelper(TBasicAction* Action);
WideString GetActionWideCaption(TBasicAction* Action);
void SetActionWideCaption(TBasicAction* Action, const WideString& Value);
WideString GetActionWideHint(TBasicAction* Action);
void SetActionWideHint(TBasicAction* Action, const WideString& Value);
WideString GetActionPendingWideCaption(TBasicAction* Action, const WideString& Default);
WideString GetActionPendingWideHint(TBasicAction* Action, const WideString& Default);
void AssignActionWideTexts(TBasicAction* Action, TPersistent* Source);
// The control step before the library's ActionChange.
void ApplyActionWideTexts(TControl* Control, TObject* Sender, bool CheckDefaults);
// The link of the Unicode kind for a control's class. Inherited, when given, is the link the
// class library makes for the control; the Unicode link must derive from exactly its class.
std::unique_ptr<TControlActionLink> SelectWideActionLinkClass(TControl* Control,
                                                              const TControlActionLink* Inherited = nullptr);

class TUniAction : public TAction, public IWideCaptionAction {
 public:
  using TAction::TAction;
  const char* ClassName() const override { return "TUniAction"; }
  WideString Caption() { return GetActionWideCaption(this); }
  void SetCaption(const WideString& Value) { SetActionWideCaption(this, Value); }
  WideString Hint() { return GetActionWideHint(this); }
  void SetHint(const WideString& Value) { SetActionWideHint(this, Value); }
  void Assign(TPersistent* Source) override;
  void DefineProperties(TFiler* Filer) override;
};

class TUniHintAction : public THintAction, public IWideCaptionAction {
 public:
  using THintAction::THintAction;
  const char* ClassName() const override { return "TUniHintAction"; }
  WideString Hint() { return GetActionWideHint(this); }
  void SetHint(const WideString& Value) { SetActionWideHint(this, Value); }
  void Assign(TPersistent* Source) override;
  void DefineProperties(TFiler* Filer) override;
};

// The link steps of every Unicode link class.
#define UNI_ACTION_LINK(Name, Base)                                  \
  class Name : public Base {                                         \
   public:                                                           \
    using Base::Base;                                                \
    const char* ClassName() const override { return #Name; }         \
    bool IsCaptionLinked() override;                                 \
    bool IsHintLinked() override;                                    \
    void SetCaption(const AnsiString& Value) override;               \
    void SetHint(const AnsiString& Value) override;                  \
  };

UNI_ACTION_LINK(TUniControlActionLink, TControlActionLink)
UNI_ACTION_LINK(TUniWinControlActionLink, TWinControlActionLink)
UNI_ACTION_LINK(TUniButtonActionLink, TButtonActionLink)
UNI_ACTION_LINK(TUniListViewActionLink, TListViewActionLink)
UNI_ACTION_LINK(TUniToolButtonActionLink, TToolButtonActionLink)

// Bitmap and speed buttons take no image index from an action, yet count it as linked.
#define UNI_IMAGE_ACTION_LINK(Name, Base)                                                            \
  class Name : public Base {                                                                         \
   public:                                                                                           \
    using Base::Base;                                                                                \
    const char* ClassName() const override { return #Name; }                                         \
    bool IsCaptionLinked() override;                                                                 \
    bool IsHintLinked() override;                                                                    \
    void SetCaption(const AnsiString& Value) override;                                               \
    void SetHint(const AnsiString& Value) override;                                                  \
    bool IsImageIndexLinked() override { return dynamic_cast<TCustomAction*>(FAction) != nullptr; } \
    void SetImageIndex(int) override {}                                                              \
  };

UNI_IMAGE_ACTION_LINK(TUniBitBtnActionLink, TBitBtnActionLink)
UNI_IMAGE_ACTION_LINK(TUniSpeedButtonActionLink, TSpeedButtonActionLink)

// The link of a Unicode menu item: captions compare without their hot-key marks.
class TUniMenuActionLink : public TMenuActionLink {
 public:
  explicit TUniMenuActionLink(TUniMenuItem* AClient) : TMenuActionLink(AClient), FUniClient(AClient) {}
  const char* ClassName() const override { return "TUniMenuActionLink"; }
  bool IsCaptionLinked() override;
  bool IsHintLinked() override;
  void SetCaption(const AnsiString& Value) override;
  void SetHint(const AnsiString& Value) override;

 private:
  TUniMenuItem* FUniClient;
};
