// Actions and the links that carry an action's properties to its client controls.
#pragma once
#include "classlib/Classes.h"

class TControl;

// The link between an action and one client control. The class library's links answer whether
// a client property follows the action; the widget layer's links refine that for wide text.
class TControlActionLink : public TObject {
 public:
  explicit TControlActionLink(TControl* AClient) : FClient(AClient) {}
  const char* ClassName() const override { return "TControlActionLink"; }
  TControl* Client() const { return FClient; }
  virtual bool IsCaptionLinked() { return FCaptionLinked; }
  virtual bool IsHintLinked() { return FHintLinked; }

 protected:
  TControl* FClient;
  bool FCaptionLinked = true;
  bool FHintLinked = true;
};
