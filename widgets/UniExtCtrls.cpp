#include "widgets/UniExtCtrls.h"

#include "unicode/UniSysUtils.h"
#include "unicode/UniWindows.h"

void TUniCustomPanel::DefineProperties(TFiler* Filer) {
  TCustomPanel::DefineProperties(Filer);
  DefineWideProperties(Filer, this);
}

void TUniCustomPanel::CreateWindowHandle(const TCreateParams& Params) { CreateUnicodeWindowHandle(this, Params, L""); }

void TUniCustomPanel::Paint(HDC DC) {
  if (!Win32PlatformIsNT()) {
    TCustomPanel::Paint(DC);
    return;
  }
  RECT r = PaintFrame(DC);
  SetBkMode(DC, TRANSPARENT);
  SelectObject(DC, GetStockObject(DEFAULT_GUI_FONT));
  SIZE sz{};
  GetTextExtentPoint32W(DC, L"W", 1, &sz);
  r.top = (r.top + r.bottom - sz.cy) / 2;
  r.bottom = r.top + sz.cy;
  static const UINT align[] = {DT_LEFT, DT_RIGHT, DT_CENTER};
  WideString text = GetControlWideText(this);
  WideDrawText(DC, text.c_str(), -1, r, DrawTextBiDiModeFlags(align[FAlignment] | DT_EXPANDTABS | DT_VCENTER));
}
