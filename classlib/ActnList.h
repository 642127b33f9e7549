// Actions and the links that carry an action's caption and hint to its client controls.
#pragma once
#include <memory>
#include <vector>

#include "classlib/Classes.h"
#include "classlib/Menus.h"

class TControl;
class TActionLink;
class TCustomImageList;
class TCustomActionList;

class TBasicAction : public TComponent {
 public:
  explicit TBasicAction(TComponent* AOwner) : TComponent(AOwner) {}
  ~TBasicAction() override;
  const char* ClassName() const override { return "TBasicAction"; }
  // Runs OnExecute; without one the application offers the action to its targets
  // (CM_ACTIONEXECUTE). False when nobody took it.
  virtual bool Execute();
  virtual bool Update();
  std::function<void(TObject* Sender)> OnExecute;
  std::function<void(TObject* Sender)> OnUpdate;

  void RegisterLink(TActionLink* Link);
  void UnRegisterLink(TActionLink* Link);

 protected:
  std::vector<TActionLink*> FClients;
};

class TCustomAction : public TBasicAction {
 public:
  using TBasicAction::TBasicAction;
  const char* ClassName() const override { return "TCustomAction"; }
  const AnsiString& Caption() const { return FCaption; }
  // Tells every linked client first (they see the old caption), then changes.
  void SetCaption(const AnsiString& Value);
  const AnsiString& Hint() const { return FHint; }
  void SetHint(const AnsiString& Value);
  TShortCut ShortCut() const { return FShortCut; }
  void SetShortCut(TShortCut Value) { FShortCut = Value; }
  // The image of the action list's Images that clients show, -1 for none.
  int ImageIndex() const { return FImageIndex; }
  void SetImageIndex(int Value) { FImageIndex = Value; }
  // The list the action belongs to (it supplies the images), or null.
  TCustomActionList* ActionList() const { return FActionList; }
  void SetActionList(TCustomActionList* Value);
  void Assign(TPersistent* Source) override;

 protected:
  void Notification(TComponent* AComponent, TOperation Operation) override;

 private:
  int FImageIndex = -1;
  TCustomActionList* FActionList = nullptr;
  AnsiString FCaption;
  AnsiString FHint;
  TShortCut FShortCut = 0;
};

// A list of actions that share one image list.
class TCustomActionList : public TComponent {
 public:
  using TComponent::TComponent;
  const char* ClassName() const override { return "TCustomActionList"; }
  TCustomImageList* Images() const { return FImages; }
  void SetImages(TCustomImageList* Value);

 protected:
  void Notification(TComponent* AComponent, TOperation Operation) override;

 private:
  TCustomImageList* FImages = nullptr;
};

class TActionList : public TCustomActionList {
 public:
  using TCustomActionList::TCustomActionList;
  const char* ClassName() const override { return "TActionList"; }
};

class TAction : public TCustomAction {
 public:
  using TCustomAction::TCustomAction;
  const char* ClassName() const override { return "TAction"; }
};

// The status-bar hint action the application runs when its hint changes.
class THintAction : public TCustomAction {
 public:
  using TCustomAction::TCustomAction;
  const char* ClassName() const override { return "THintAction"; }
};

class TActionLink : public TObject {
 public:
  TActionLink() = default;
  ~TActionLink() override;
  const char* ClassName() const override { return "TActionLink"; }
  TBasicAction* Action() const { return FAction; }
  void SetAction(TBasicAction* Value);
  virtual bool IsCaptionLinked() { return dynamic_cast<TCustomAction*>(FAction) != nullptr; }
  virtual bool IsHintLinked() { return dynamic_cast<TCustomAction*>(FAction) != nullptr; }
  virtual void SetCaption(const AnsiString& Value) {}
  virtual void SetHint(const AnsiString& Value) {}
  // Image indexes: the library's actions carry none, so no link passes one on.
  virtual bool IsImageIndexLinked() { return false; }
  virtual void SetImageIndex(int Value) {}

 protected:
  TBasicAction* FAction = nullptr;
};

// The link between an action and one client control.
class TControlActionLink : public TActionLink {
 public:
  explicit TControlActionLink(TControl* AClient) : FClient(AClient) {}
  const char* ClassName() const override { return "TControlActionLink"; }
  TControl* Client() const { return FClient; }
  bool IsCaptionLinked() override;
  bool IsHintLinked() override;
  void SetCaption(const AnsiString& Value) override;
  void SetHint(const AnsiString& Value) override;

 protected:
  TControl* FClient;
};

class TWinControlActionLink : public TControlActionLink {
 public:
  using TControlActionLink::TControlActionLink;
  const char* ClassName() const override { return "TWinControlActionLink"; }
};

class TButtonActionLink : public TWinControlActionLink {
 public:
  using TWinControlActionLink::TWinControlActionLink;
  const char* ClassName() const override { return "TButtonActionLink"; }
};

class TListViewActionLink : public TWinControlActionLink {
 public:
  using TWinControlActionLink::TWinControlActionLink;
  const char* ClassName() const override { return "TListViewActionLink"; }
};

class TBitBtnActionLink : public TButtonActionLink {
 public:
  using TButtonActionLink::TButtonActionLink;
  const char* ClassName() const override { return "TBitBtnActionLink"; }
};

class TSpeedButtonActionLink : public TControlActionLink {
 public:
  using TControlActionLink::TControlActionLink;
  const char* ClassName() const override { return "TSpeedButtonActionLink"; }
};

class TToolButtonActionLink : public TControlActionLink {
 public:
  using TControlActionLink::TControlActionLink;
  const char* ClassName() const override { return "TToolButtonActionLink"; }
};

// The link between an action and one menu item.
class TMenuActionLink : public TActionLink {
 public:
  explicit TMenuActionLink(TMenuItem* AClient) : FClient(AClient) {}
  const char* ClassName() const override { return "TMenuActionLink"; }
  TMenuItem* Client() const { return FClient; }
  bool IsCaptionLinked() override;
  bool IsHintLinked() override;
  void SetCaption(const AnsiString& Value) override;
  void SetHint(const AnsiString& Value) override;

 protected:
  TMenuItem* FClient;
};
