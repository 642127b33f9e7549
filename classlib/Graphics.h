// A device context with lazily selected GDI objects (font and brush), as much as text output needs.
#pragma once
#include <cstdint>

#include "classlib/Classes.h"

using TColor = int32_t;
constexpr TColor clBlack = 0x000000;
constexpr TColor clWhite = 0xFFFFFF;

// Font styles as bit flags (a set of bold, italic, underline, strike-out).
using TFontStyles = uint8_t;
constexpr TFontStyles fsBold = 1, fsItalic = 2, fsUnderline = 4, fsStrikeOut = 8;
using TFontCharset = uint8_t;

// A font described by face name, height in pixels (negative: character height), style, character
// set and colour.
class TFont : public TPersistent {
 public:
  ~TFont() override;
  const char* ClassName() const override { return "TFont"; }
  const AnsiString& Name() const { return FName; }
  void SetName(const AnsiString& Value);
  int Height() const { return FHeight; }
  void SetHeight(int Value);
  // The size in points at the screen's resolution.
  int Size() const;
  void SetSize(int Value);
  TFontStyles Style() const { return FStyle; }
  void SetStyle(TFontStyles Value);
  TFontCharset Charset() const { return FCharset; }
  void SetCharset(TFontCharset Value);
  TColor Color() const { return FColor; }
  void SetColor(TColor Value);
  // The GDI font, made on first use.
  void* Handle();
  void Assign(TPersistent* Source) override;
  TNotifyEvent OnChange;

 private:
  void Changed();
  AnsiString FName = "MS Sans Serif";
  int FHeight = -11;
  TFontStyles FStyle = 0;
  TFontCharset FCharset = 1;  // DEFAULT_CHARSET
  TColor FColor = clBlack;
  void* FHandle = nullptr;
};

enum TBrushStyle { bsSolid, bsClear };

class TBrush : public TPersistent {
 public:
  ~TBrush() override;
  const char* ClassName() const override { return "TBrush"; }
  TColor Color() const { return FColor; }
  void SetColor(TColor Value);
  TBrushStyle Style() const { return FStyle; }
  void SetStyle(TBrushStyle Value);
  void* Handle();
  TNotifyEvent OnChange;

 private:
  void Changed();
  TColor FColor = clWhite;
  TBrushStyle FStyle = bsSolid;
  void* FHandle = nullptr;
};

enum TCanvasStates : uint32_t { csHandleValid = 1, csFontValid = 2, csPenValid = 4, csBrushValid = 8 };
enum TCanvasOrientation { coLeftToRight, coRightToLeft };

struct TPoint {
  int32_t X, Y;
};
struct TSize {
  int32_t cx, cy;
};
struct TRect {
  int32_t Left, Top, Right, Bottom;
  int32_t Width() const { return Right - Left; }
  int32_t Height() const { return Bottom - Top; }
};

// Draws on a device context handed in by its owner (SetHandle); the canvas does not free it.
class TCanvas : public TPersistent {
 public:
  TCanvas();
  ~TCanvas() override;
  const char* ClassName() const override { return "TCanvas"; }
  // Raises EInvalidOperation "Canvas does not allow drawing" when there is no device context.
  void* Handle();
  void SetHandle(void* Value);
  bool HandleAllocated() const { return FHandle != nullptr; }
  TFont* Font() const { return FFont; }
  TBrush* Brush() const { return FBrush; }
  // Flags for ExtTextOut (ETO_...).
  int TextFlags() const { return FTextFlags; }
  void SetTextFlags(int Value) { FTextFlags = Value; }
  // Right to left when the text flags ask for right-to-left reading.
  TCanvasOrientation CanvasOrientation() const;
  TPoint PenPos();
  void SetPenPos(TPoint Value) { MoveTo(Value.X, Value.Y); }
  void MoveTo(int X, int Y);
  // Makes sure the handle exists and the font and brush asked for are selected.
  void RequiredState(uint32_t ReqState);
  void Changing();
  void Changed();
  TNotifyEvent OnChange;
  TNotifyEvent OnChanging;

 protected:
  // Called when a handle is needed and none is set; the plain canvas has none to make.
  virtual void CreateHandle() {}

 private:
  void DeselectHandles();
  void* FHandle = nullptr;
  TFont* FFont;
  TBrush* FBrush;
  uint32_t FState = 0;
  int FTextFlags = 0;
  void* FOldFont = nullptr;
  void* FOldBrush = nullptr;
};
