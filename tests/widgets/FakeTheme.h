// A recording stand-in of the visual-styles functions: a theme is active for the "menu" and
// "BUTTON" classes, sizes and margins are fixed, and every drawing call is noted.
#pragma once
#include <vector>

#include "classlib/Themes.h"
#include "classlib/SysUtils.h"

struct ThemeCall {
  enum Kind { Background, ParentBackground, DrawnText, Icon } What;
  int Part, State;
  RECT R;
  WideString Text;
  DWORD Flags = 0;
  TThemeTextOptions Options{};
  int ImageIndex = -1;
};

// Installs the stand-in for its lifetime and puts the real entry points back afterwards.
// Sizes: check 16 x 15 (content margins 1, 2, 0, 3), gutter 3 x 3 (sizing margins 4, 5),
// menu item sizing margins 6, 7, sub-menu arrow 9 x 9; a button's content is its rectangle inset
// by 3. Menu text colours: RGB(10, 20, 30), disabled RGB(1, 2, 3). Measured text is 7 pixels a
// character and 13 high.
struct FakeTheme {
  FakeTheme();
  ~FakeTheme();
  static std::vector<ThemeCall> Calls;
  static bool Active;
  std::vector<ThemeCall> Of(ThemeCall::Kind Kind) const;
  TThemeApi Saved;
};
