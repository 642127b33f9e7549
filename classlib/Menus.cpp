#include "classlib/Menus.h"

#include "classlib/WinApi.h"

namespace {
const char* const kMenuKeyCaps[] = {"BkSp", "Tab", "Esc", "Enter", "Space", "PgUp", "PgDn", "End", "Home",
                                    "Left", "Up",  "Right", "Down", "Ins", "Del",  "Shift+", "Ctrl+", "Alt+"};
enum { mkcBkSp, mkcTab, mkcEsc, mkcEnter, mkcSpace, mkcPgUp, mkcPgDn, mkcEnd, mkcHome, mkcLeft, mkcUp, mkcRight,
       mkcDown, mkcIns, mkcDel, mkcShift, mkcCtrl, mkcAlt };

AnsiString KeyName(uint8_t Key) {
  switch (Key) {
    case 0x08: return kMenuKeyCaps[mkcBkSp];
    case 0x09: return kMenuKeyCaps[mkcTab];
    case 0x0D: return kMenuKeyCaps[mkcEnter];
    case 0x1B: return kMenuKeyCaps[mkcEsc];
    case 0x2D: return kMenuKeyCaps[mkcIns];
    case 0x2E: return kMenuKeyCaps[mkcDel];
    default: break;
  }
  if (Key >= 0x20 && Key <= 0x28) return kMenuKeyCaps[mkcSpace + (Key - 0x20)];
  if ((Key >= '0' && Key <= '9') || (Key >= 'A' && Key <= 'Z')) return AnsiString(1, (char)Key);
  if (Key >= 0x60 && Key <= 0x69) return AnsiString(1, (char)('0' + Key - 0x60));
  if (Key >= 0x70 && Key <= 0x87) return "F" + IntToStr(Key - 0x6F);
  UINT scan = MapVirtualKeyA(Key, 0);
  if (!scan) return "";
  char name[256];
  int n = GetKeyNameTextA((LONG)(scan << 16), name, sizeof name);
  return n > 0 ? AnsiString(name, n) : AnsiString();
}
}  // namespace

AnsiString ShortCutToText(TShortCut ShortCut) {
  AnsiString name = KeyName((uint8_t)(ShortCut & 0xFF));
  if (name.empty()) return "";
  AnsiString result;
  if (ShortCut & scShift) result += kMenuKeyCaps[mkcShift];
  if (ShortCut & scCtrl) result += kMenuKeyCaps[mkcCtrl];
  if (ShortCut & scAlt) result += kMenuKeyCaps[mkcAlt];
  return result + name;
}
