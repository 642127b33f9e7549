#include "classlib/Themes.h"

namespace {
template <class F>
void Resolve(HMODULE Lib, const char* Name, F& Fn) {
  Fn = reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(Lib, Name)));
}
}  // namespace

TThemeApi& ThemeApi() {
  static TThemeApi api = [] {
    TThemeApi a;
    HMODULE lib = LoadLibraryW(L"uxtheme.dll");
    if (!lib) return a;
    Resolve(lib, "IsThemeActive", a.IsThemeActive);
    Resolve(lib, "IsAppThemed", a.IsAppThemed);
    Resolve(lib, "OpenThemeData", a.OpenThemeData);
    Resolve(lib, "CloseThemeData", a.CloseThemeData);
    Resolve(lib, "DrawThemeBackground", a.DrawThemeBackground);
    Resolve(lib, "DrawThemeParentBackground", a.DrawThemeParentBackground);
    Resolve(lib, "GetThemeBackgroundContentRect", a.GetThemeBackgroundContentRect);
    Resolve(lib, "GetThemePartSize", a.GetThemePartSize);
    Resolve(lib, "GetThemeMargins", a.GetThemeMargins);
    Resolve(lib, "GetThemeColor", a.GetThemeColor);
    Resolve(lib, "DrawThemeText", a.DrawThemeText);
    Resolve(lib, "DrawThemeTextEx", a.DrawThemeTextEx);
    Resolve(lib, "DrawThemeIcon", a.DrawThemeIcon);
    return a;
  }();
  return api;
}

bool ThemesEnabled() {
  TThemeApi& a = ThemeApi();
  return a.IsThemeActive && a.IsAppThemed && a.OpenThemeData && a.CloseThemeData && a.IsThemeActive() &&
         a.IsAppThemed();
}

TThemeHandle::TThemeHandle(HWND Wnd, const wchar_t* ClassName) {
  if (ThemesEnabled()) FHandle = ThemeApi().OpenThemeData(Wnd, ClassName);
}

TThemeHandle::~TThemeHandle() {
  if (FHandle) ThemeApi().CloseThemeData(FHandle);
}
