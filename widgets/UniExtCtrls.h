// Unicode panels.
#pragma once
#include "classlib/ExtCtrls.h"
#include "widgets/UniControls.h"
#include "widgets/UniStdCtrls.h"

class TUniCustomPanel : public TCustomPanel {
 public:
  using TCustomPanel::TCustomPanel;
  const char* ClassName() const override { return "TUniCustomPanel"; }
  UNI_WIDE_TEXT_PROPERTIES

 protected:
  void CreateWindowHandle(const TCreateParams& Params) override;
  void Paint(HDC DC) override;
};

class TUniPanel : public TUniCustomPanel {
 public:
  using TUniCustomPanel::TUniCustomPanel;
  const char* ClassName() const override { return "TUniPanel"; }
};
