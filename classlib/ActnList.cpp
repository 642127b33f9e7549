#include "classlib/ActnList.h"

#include <algorithm>

#include "classlib/Controls.h"
#include "classlib/Forms.h"
#include "classlib/ImgList.h"

TBasicAction::~TBasicAction() {
  auto clients = FClients;
  for (TActionLink* l : clients) l->SetAction(nullptr);
}

bool TBasicAction::Execute() {
  if (!OnExecute) return Application && Application->ExecuteAction(this);
  OnExecute(this);
  return true;
}

bool TBasicAction::Update() {
  if (!OnUpdate) return false;
  OnUpdate(this);
  return true;
}

void TBasicAction::RegisterLink(TActionLink* Link) { FClients.push_back(Link); }

void TBasicAction::UnRegisterLink(TActionLink* Link) {
  FClients.erase(std::remove(FClients.begin(), FClients.end(), Link), FClients.end());
}

void TCustomAction::SetCaption(const AnsiString& Value) {
  if (Value == FCaption) return;
  auto clients = FClients;
  for (TActionLink* l : clients) l->SetCaption(Value);
  FCaption = Value;
}

void TCustomAction::SetHint(const AnsiString& Value) {
  if (Value == FHint) return;
  auto clients = FClients;
  for (TActionLink* l : clients) l->SetHint(Value);
  FHint = Value;
}

void TCustomAction::SetActionList(TCustomActionList* Value) {
  FActionList = Value;
  if (Value) FreeNotification(Value);
}

void TCustomAction::Notification(TComponent* AComponent, TOperation Operation) {
  TBasicAction::Notification(AComponent, Operation);
  if (Operation == opRemove && AComponent == FActionList) FActionList = nullptr;
}

void TCustomActionList::SetImages(TCustomImageList* Value) {
  FImages = Value;
  if (Value) FreeNotification(Value);
}

void TCustomActionList::Notification(TComponent* AComponent, TOperation Operation) {
  TComponent::Notification(AComponent, Operation);
  if (Operation == opRemove && AComponent == FImages) FImages = nullptr;
}

void TCustomAction::Assign(TPersistent* Source) {
  auto* a = dynamic_cast<TCustomAction*>(Source);
  if (!a) {
    TBasicAction::Assign(Source);
    return;
  }
  SetCaption(a->Caption());
  SetHint(a->Hint());
  SetShortCut(a->ShortCut());
  SetImageIndex(a->ImageIndex());
  OnExecute = a->OnExecute;
  OnUpdate = a->OnUpdate;
}

TActionLink::~TActionLink() {
  if (FAction) FAction->UnRegisterLink(this);
}

void TActionLink::SetAction(TBasicAction* Value) {
  if (Value == FAction) return;
  if (FAction) FAction->UnRegisterLink(this);
  FAction = Value;
  if (FAction) FAction->RegisterLink(this);
}

bool TControlActionLink::IsCaptionLinked() {
  auto* a = dynamic_cast<TCustomAction*>(FAction);
  return TActionLink::IsCaptionLinked() && a && FClient->Caption() == a->Caption();
}

bool TControlActionLink::IsHintLinked() {
  auto* a = dynamic_cast<TCustomAction*>(FAction);
  return TActionLink::IsHintLinked() && a && FClient->Hint() == a->Hint();
}

void TControlActionLink::SetCaption(const AnsiString& Value) {
  if (IsCaptionLinked()) FClient->SetCaption(Value);
}

void TControlActionLink::SetHint(const AnsiString& Value) {
  if (IsHintLinked()) FClient->SetHint(Value);
}

bool TMenuActionLink::IsCaptionLinked() {
  auto* a = dynamic_cast<TCustomAction*>(FAction);
  return TActionLink::IsCaptionLinked() && a && FClient->Caption() == a->Caption();
}

bool TMenuActionLink::IsHintLinked() {
  auto* a = dynamic_cast<TCustomAction*>(FAction);
  return TActionLink::IsHintLinked() && a && FClient->Hint() == a->Hint();
}

void TMenuActionLink::SetCaption(const AnsiString& Value) {
  if (IsCaptionLinked()) FClient->SetCaption(Value);
}

void TMenuActionLink::SetHint(const AnsiString& Value) {
  if (IsHintLinked()) FClient->SetHint(Value);
}
