#include "widgets/UniActnList.h"

#include <typeinfo>

#include "classlib/Buttons.h"
#include "classlib/ComCtrls.h"
#include "classlib/StdCtrls.h"
#include "unicode/UniClasses.h"
#include "widgets/UniControls.h"

namespace {
const char kUnit[] = "UniActnList";

bool CaptionChanging(TCustomActionHelper* H) {
  return H->SettingNewCaption && H->Action->Caption() != H->NewAnsiCaption;
}
bool HintChanging(TCustomActionHelper* H) { return H->SettingNewHint && H->Action->Hint() != H->NewAnsiHint; }
}  // namespace

TCustomActionHelper* FindActionWideHelper(TBasicAction* Action) {
  UniAssert(Action != nullptr, kUnit, 375);
  auto* action = dynamic_cast<TCustomAction*>(Action);
  if (!action || !dynamic_cast<IWideCaptionAction*>(Action)) return nullptr;
  for (int i = 0; i < action->ComponentCount(); ++i)
    if (auto* h = dynamic_cast<TCustomActionHelper*>(action->Components(i))) return h;
  return new TCustomActionHelper(action);
}

WideString GetActionWideCaption(TBasicAction* Action) {
  auto* action = dynamic_cast<TCustomAction*>(Action);
  if (!action) return L"";
  TCustomActionHelper* h = FindActionWideHelper(Action);
  if (!h) return AnsiToWide(action->Caption());
  if (CaptionChanging(h)) return h->OldWideCaption;
  return ReadWideShadow(h->WideCaption, action->Caption());
}

void SetActionWideCaption(TBasicAction* Action, const WideString& Value) {
  auto* action = dynamic_cast<TCustomAction*>(Action);
  if (!action) return;
  TCustomActionHelper* h = FindActionWideHelper(Action);
  if (!h) {
    action->SetCaption(WideToAnsi(Value));
    return;
  }
  h->OldWideCaption = GetActionWideCaption(Action);
  h->NewAnsiCaption = WideToAnsi(Value);
  h->SettingNewCaption = true;
  try {
    WriteWideShadow(Value, h->WideCaption, action->Caption(), [h, action](const AnsiString& S) {
      action->SetCaption(S);
      if (action->Caption().empty() && !h->NewAnsiCaption.empty()) h->OldWideCaption.clear();
    });
  } catch (...) {
    h->SettingNewCaption = false;
    throw;
  }
  h->SettingNewCaption = false;
}

WideString GetActionWideHint(TBasicAction* Action) {
  auto* action = dynamic_cast<TCustomAction*>(Action);
  if (!action) return L"";
  TCustomActionHelper* h = FindActionWideHelper(Action);
  if (!h) return AnsiToWide(action->Hint());
  if (HintChanging(h)) return h->OldWideHint;
  return ReadWideShadow(h->WideHint, action->Hint());
}

void SetActionWideHint(TBasicAction* Action, const WideString& Value) {
  auto* action = dynamic_cast<TCustomAction*>(Action);
  if (!action) return;
  TCustomActionHelper* h = FindActionWideHelper(Action);
  if (!h) {
    action->SetHint(WideToAnsi(Value));
    return;
  }
  h->OldWideHint = GetActionWideHint(Action);
  h->NewAnsiHint = WideToAnsi(Value);
  h->SettingNewHint = true;
  try {
    WriteWideShadow(Value, h->WideHint, action->Hint(), [h, action](const AnsiString& S) {
      action->SetHint(S);
      if (action->Hint().empty() && !h->NewAnsiHint.empty()) h->OldWideHint.clear();
    });
  } catch (...) {
    h->SettingNewHint = false;
    throw;
  }
  h->SettingNewHint = false;
}

WideString GetActionPendingWideCaption(TBasicAction* Action, const WideString& Default) {
  TCustomActionHelper* h = Action ? FindActionWideHelper(Action) : nullptr;
  return h && CaptionChanging(h) ? h->WideCaption : Default;
}

WideString GetActionPendingWideHint(TBasicAction* Action, const WideString& Default) {
  TCustomActionHelper* h = Action ? FindActionWideHelper(Action) : nullptr;
  return h && HintChanging(h) ? h->WideHint : Default;
}

void AssignActionWideTexts(TBasicAction* Action, TPersistent* Source) {
  auto* dest = dynamic_cast<TCustomAction*>(Action);
  if (!dest) return;
  if (auto* src = dynamic_cast<TCustomAction*>(Source)) {
    SetActionWideCaption(dest, GetActionWideCaption(src));
    SetActionWideHint(dest, GetActionWideHint(src));
  } else if (auto* control = dynamic_cast<TControl*>(Source)) {
    SetActionWideCaption(dest, GetControlWideText(control));
    SetActionWideHint(dest, GetControlWideHint(control));
  }
}

void ApplyActionWideTexts(TControl* Control, TObject* Sender, bool CheckDefaults) {
  auto* action = dynamic_cast<TCustomAction*>(Sender);
  if (!action || !dynamic_cast<IWideCaptionAction*>(Sender)) return;
  WideString text = GetControlWideText(Control);
  if (!CheckDefaults || text.empty() || text == AnsiToWide(Control->Name()))
    SetControlWideText(Control, GetActionWideCaption(action));
  if (!CheckDefaults || GetControlWideHint(Control).empty()) SetControlWideHint(Control, GetActionWideHint(action));
}

namespace {
template <class UniLink, class LibraryLink>
std::unique_ptr<TControlActionLink> MakeWideLink(TControl* Control, const TControlActionLink* Inherited) {
  UniAssert(!Inherited || typeid(*Inherited) == typeid(LibraryLink), kUnit, 483);
  return std::make_unique<UniLink>(Control);
}
}  // namespace

std::unique_ptr<TControlActionLink> SelectWideActionLinkClass(TControl* Control, const TControlActionLink* Inherited) {
  if (dynamic_cast<TCustomListView*>(Control))
    return MakeWideLink<TUniListViewActionLink, TListViewActionLink>(Control, Inherited);
  if (dynamic_cast<TSpeedButton*>(Control))
    return MakeWideLink<TUniSpeedButtonActionLink, TSpeedButtonActionLink>(Control, Inherited);
  if (dynamic_cast<TBitBtn*>(Control)) return MakeWideLink<TUniBitBtnActionLink, TBitBtnActionLink>(Control, Inherited);
  if (dynamic_cast<TToolButton*>(Control))
    return MakeWideLink<TUniToolButtonActionLink, TToolButtonActionLink>(Control, Inherited);
  if (dynamic_cast<TButtonControl*>(Control))
    return MakeWideLink<TUniButtonActionLink, TButtonActionLink>(Control, Inherited);
  if (dynamic_cast<TWinControl*>(Control))
    return MakeWideLink<TUniWinControlActionLink, TWinControlActionLink>(Control, Inherited);
  return MakeWideLink<TUniControlActionLink, TControlActionLink>(Control, Inherited);
}

void TUniAction::Assign(TPersistent* Source) {
  TAction::Assign(Source);
  AssignActionWideTexts(this, Source);
}

void TUniAction::DefineProperties(TFiler* Filer) {
  TAction::DefineProperties(Filer);
  DefineWideProperties(Filer, this);
}

void TUniHintAction::Assign(TPersistent* Source) {
  THintAction::Assign(Source);
  AssignActionWideTexts(this, Source);
}

void TUniHintAction::DefineProperties(TFiler* Filer) {
  THintAction::DefineProperties(Filer);
  DefineWideProperties(Filer, this);
}

#define UNI_ACTION_LINK_STEPS(Name, Base)                                                          \
  bool Name::IsCaptionLinked() {                                                                   \
    return Base::IsCaptionLinked() && GetActionWideCaption(FAction) == GetControlWideText(FClient); \
  }                                                                                                \
  bool Name::IsHintLinked() {                                                                      \
    return Base::IsHintLinked() && GetActionWideHint(FAction) == GetControlWideHint(FClient);      \
  }                                                                                                \
  void Name::SetCaption(const AnsiString& Value) {                                                 \
    if (IsCaptionLinked())                                                                         \
      SetControlWideText(FClient, GetActionPendingWideCaption(FAction, AnsiToWide(Value)));        \
  }                                                                                                \
  void Name::SetHint(const AnsiString& Value) {                                                    \
    if (IsHintLinked()) SetControlWideHint(FClient, GetActionPendingWideHint(FAction, AnsiToWide(Value))); \
  }

UNI_ACTION_LINK_STEPS(TUniControlActionLink, TControlActionLink)
UNI_ACTION_LINK_STEPS(TUniWinControlActionLink, TWinControlActionLink)
UNI_ACTION_LINK_STEPS(TUniButtonActionLink, TButtonActionLink)
UNI_ACTION_LINK_STEPS(TUniListViewActionLink, TListViewActionLink)
UNI_ACTION_LINK_STEPS(TUniBitBtnActionLink, TBitBtnActionLink)
UNI_ACTION_LINK_STEPS(TUniSpeedButtonActionLink, TSpeedButtonActionLink)
UNI_ACTION_LINK_STEPS(TUniToolButtonActionLink, TToolButtonActionLink)

bool TUniMenuActionLink::IsCaptionLinked() {
  return TActionLink::IsCaptionLinked() && SameCaptionIgnoringHotKeys(GetActionWideCaption(FAction), FUniClient->Caption());
}

bool TUniMenuActionLink::IsHintLinked() {
  return TActionLink::IsHintLinked() && GetActionWideHint(FAction) == FUniClient->Hint();
}

void TUniMenuActionLink::SetCaption(const AnsiString& Value) {
  if (IsCaptionLinked()) FUniClient->SetCaption(GetActionPendingWideCaption(FAction, AnsiToWide(Value)));
}

void TUniMenuActionLink::SetHint(const AnsiString& Value) {
  if (IsHintLinked()) FUniClient->SetHint(GetActionPendingWideHint(FAction, AnsiToWide(Value)));
}
