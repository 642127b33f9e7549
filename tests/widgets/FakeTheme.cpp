#include "FakeTheme.h"

#include <cwchar>

std::vector<ThemeCall> FakeTheme::Calls;
bool FakeTheme::Active = true;

namespace {
BOOL WINAPI FakeActive() { return FakeTheme::Active; }
HTHEME_ WINAPI FakeOpen(HWND, LPCWSTR Class) {
  if (_wcsicmp(Class, L"menu") == 0) return reinterpret_cast<HTHEME_>(1);
  if (_wcsicmp(Class, L"button") == 0) return reinterpret_cast<HTHEME_>(2);
  return nullptr;
}
HRESULT WINAPI FakeClose(HTHEME_) { return S_OK; }
HRESULT WINAPI FakeBackground(HTHEME_, HDC, int Part, int State, const RECT* R, const RECT*) {
  FakeTheme::Calls.push_back({ThemeCall::Background, Part, State, *R});
  return S_OK;
}
HRESULT WINAPI FakeParentBackground(HWND, HDC, const RECT* R) {
  FakeTheme::Calls.push_back({ThemeCall::ParentBackground, 0, 0, R ? *R : RECT{}});
  return S_OK;
}
HRESULT WINAPI FakeContentRect(HTHEME_, HDC, int, int, const RECT* R, RECT* Content) {
  *Content = *R;
  InflateRect(Content, -3, -3);
  return S_OK;
}
HRESULT WINAPI FakePartSize(HTHEME_, HDC, int Part, int, const RECT*, int, SIZE* S) {
  switch (Part) {
    case 11: *S = {16, 15}; break;
    case 13: *S = {3, 3}; break;
    case 16: *S = {9, 9}; break;
    default: *S = {0, 0};
  }
  return S_OK;
}
HRESULT WINAPI FakeMargins(HTHEME_, HDC, int Part, int, int Prop, const RECT*, TThemeMargins* M) {
  if (Part == 11 && Prop == 3602) *M = {1, 2, 0, 3};
  else if (Part == 13 && Prop == 3601) *M = {4, 5, 0, 0};
  else if (Part == 14 && Prop == 3601) *M = {6, 7, 0, 0};
  else *M = {0, 0, 0, 0};
  return S_OK;
}
HRESULT WINAPI FakeColor(HTHEME_, int, int State, int, COLORREF* C) {
  *C = State == 3 ? RGB(1, 2, 3) : RGB(10, 20, 30);
  return S_OK;
}
HRESULT WINAPI FakeText(HTHEME_, HDC, int Part, int State, LPCWSTR Text, int Count, DWORD Flags, RECT* R,
                        const TThemeTextOptions* O) {
  if (Flags & DT_CALCRECT) {
    R->right = R->left + 7 * Count;
    R->bottom = R->top + 13;
  }
  ThemeCall c{ThemeCall::DrawnText, Part, State, *R, WideString(Text, Count), Flags, *O};
  FakeTheme::Calls.push_back(c);
  return S_OK;
}
HRESULT WINAPI FakeIcon(HTHEME_, HDC, int Part, int State, const RECT* R, void*, int Index) {
  ThemeCall c{ThemeCall::Icon, Part, State, *R};
  c.ImageIndex = Index;
  FakeTheme::Calls.push_back(c);
  return S_OK;
}
}  // namespace

FakeTheme::FakeTheme() : Saved(ThemeApi()) {
  Calls.clear();
  Active = true;
  TThemeApi& a = ThemeApi();
  a.IsThemeActive = a.IsAppThemed = FakeActive;
  a.OpenThemeData = FakeOpen;
  a.CloseThemeData = FakeClose;
  a.DrawThemeBackground = FakeBackground;
  a.DrawThemeParentBackground = FakeParentBackground;
  a.GetThemeBackgroundContentRect = FakeContentRect;
  a.GetThemePartSize = FakePartSize;
  a.GetThemeMargins = FakeMargins;
  a.GetThemeColor = FakeColor;
  a.DrawThemeTextEx = FakeText;
  a.DrawThemeIcon = FakeIcon;
}

FakeTheme::~FakeTheme() { ThemeApi() = Saved; }

std::vector<ThemeCall> FakeTheme::Of(ThemeCall::Kind Kind) const {
  std::vector<ThemeCall> r;
  for (auto& c : Calls)
    if (c.What == Kind) r.push_back(c);
  return r;
}
