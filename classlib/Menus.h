// Menus: keyboard shortcuts and their texts.
#pragma once
#include <cstdint>

#include "classlib/SysUtils.h"

// A key code in the low byte with the modifier bits below.
using TShortCut = uint16_t;
constexpr TShortCut scShift = 0x2000;
constexpr TShortCut scCtrl = 0x4000;
constexpr TShortCut scAlt = 0x8000;
constexpr TShortCut scNone = 0;

// "Shift+", "Ctrl+" and "Alt+" (in that order) before the key's name; empty for a key without
// a name. Named keys have fixed English names; digits and letters are themselves; other keys take
// the keyboard layout's name for their scan code.
AnsiString ShortCutToText(TShortCut ShortCut);
