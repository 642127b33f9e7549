// Theme services: the visual-styles functions of "uxtheme.dll", looked up by name at first use.
// Where the library or a function is missing, or no visual style is active, nothing themed is
// drawn and callers take their classic path.
#pragma once
#include "classlib/WinApi.h"

// The options record of DrawThemeTextEx (64 bytes in a 32-bit process, 72 in a 64-bit one, where the
// callback and lParam are 8 bytes each and the callback is aligned to 8).
struct TThemeTextOptions {
  DWORD dwSize;
  DWORD dwFlags;
  COLORREF crText;
  COLORREF crBorder;
  COLORREF crShadow;
  int iTextShadowType;
  POINT ptShadowOffset;
  int iBorderSize;
  int iFontPropId;
  int iColorPropId;
  int iStateId;
  BOOL fApplyOverlay;
  int iGlowSize;
  void* pfnDrawTextCallback;
  LPARAM lParam;
};
static_assert(sizeof(TThemeTextOptions) == (sizeof(void*) == 8 ? 72 : 64), "DTTOPTS is 64 or 72 bytes");
constexpr DWORD DTT_TEXTCOLOR_ = 0x1, DTT_CALCRECT_ = 0x200, DTT_COMPOSITED_ = 0x2000;

struct TThemeMargins {
  int cxLeftWidth, cxRightWidth, cyTopHeight, cyBottomHeight;
};

using HTHEME_ = void*;

// The entry points; null where the library lacks one. Tests may put their own functions here.
struct TThemeApi {
  BOOL(WINAPI* IsThemeActive)() = nullptr;
  BOOL(WINAPI* IsAppThemed)() = nullptr;
  HTHEME_(WINAPI* OpenThemeData)(HWND, LPCWSTR) = nullptr;
  HRESULT(WINAPI* CloseThemeData)(HTHEME_) = nullptr;
  HRESULT(WINAPI* DrawThemeBackground)(HTHEME_, HDC, int, int, const RECT*, const RECT*) = nullptr;
  HRESULT(WINAPI* DrawThemeParentBackground)(HWND, HDC, const RECT*) = nullptr;
  HRESULT(WINAPI* GetThemeBackgroundContentRect)(HTHEME_, HDC, int, int, const RECT*, RECT*) = nullptr;
  HRESULT(WINAPI* GetThemePartSize)(HTHEME_, HDC, int, int, const RECT*, int, SIZE*) = nullptr;
  HRESULT(WINAPI* GetThemeMargins)(HTHEME_, HDC, int, int, int, const RECT*, TThemeMargins*) = nullptr;
  HRESULT(WINAPI* GetThemeColor)(HTHEME_, int, int, int, COLORREF*) = nullptr;
  HRESULT(WINAPI* DrawThemeText)(HTHEME_, HDC, int, int, LPCWSTR, int, DWORD, DWORD, const RECT*) = nullptr;
  HRESULT(WINAPI* DrawThemeTextEx)(HTHEME_, HDC, int, int, LPCWSTR, int, DWORD, RECT*, const TThemeTextOptions*) = nullptr;
  HRESULT(WINAPI* DrawThemeIcon)(HTHEME_, HDC, int, int, const RECT*, void*, int) = nullptr;
};

// The entry points, resolved on the first call. Threads: user-interface thread only.
TThemeApi& ThemeApi();

// True when a visual style is active for the program (the library and both queries exist).
bool ThemesEnabled();

// A theme handle of one class, closed with the object; empty when themes are off, the functions
// are missing or the style has no such class.
class TThemeHandle {
 public:
  TThemeHandle(HWND Wnd, const wchar_t* ClassName);
  ~TThemeHandle();
  TThemeHandle(const TThemeHandle&) = delete;
  TThemeHandle& operator=(const TThemeHandle&) = delete;
  HTHEME_ Handle() const { return FHandle; }
  explicit operator bool() const { return FHandle != nullptr; }

 private:
  HTHEME_ FHandle = nullptr;
};
