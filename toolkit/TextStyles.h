// Named text styles: a font (name, size, style, colour) with a background, the look of a link and
// of a link under the mouse, and a shadow. A style may name a parent and override some of its
// fields; 78 predefined styles are built at start-up, and mark-up changes private copies of them.
#pragma once
#include <cstdint>
#include <memory>

#include "classlib/Graphics.h"

// "No colour" for a background or a shadow.
constexpr TColor clStyleNone = 0x1FFFFFFF;

// Mask bits: the fields a record gives.
enum : uint16_t {
  tsmFontName = 1 << 0, tsmSize = 1 << 1, tsmSizeDelta = 1 << 2, tsmFontStyle = 1 << 3,
  tsmColor = 1 << 4, tsmBgColor = 1 << 5, tsmLinkColor = 1 << 6, tsmLinkStyle = 1 << 7,
  tsmHotColor = 1 << 8, tsmHotStyle = 1 << 9, tsmThirdColor = 1 << 10, tsmThirdStyle = 1 << 11,
  tsmShadowed = 1 << 12, tsmShadowColor = 1 << 13, tsmShadowXY = 1 << 14, tsmShadowAlpha = 1 << 15,
  tsmAll = 0xFFFF,
};

struct TTextStyleRec {
  uint8_t Parent = 0;  // table index of the parent; 0: none
  AnsiString FontName;
  int32_t Size = 0;  // character height in pixels
  int32_t SizeDelta = 0;
  TFontStyles FontStyle = 0;
  TColor Color = 0;
  TColor BgColor = clStyleNone;
  TColor LinkColor = 0;
  TFontStyles LinkStyle = 0;
  TColor HotColor = 0;
  TFontStyles HotStyle = 0;
  TColor ThirdColor = 0;
  TFontStyles ThirdStyle = 0;
  uint8_t Shadowed = 0;
  TColor ShadowColor = clStyleNone;
  int32_t ShadowX = 0, ShadowY = 0;
  uint8_t ShadowAlpha = 255;
  uint16_t Mask = 0;
};

// Copies the fields of Rec's mask into Effective: SizeDelta adds to an effective delta (and to an
// effective size) that is already there; ShadowX and ShadowY go together.
void MergeTextStyleRec(TTextStyleRec& Effective, const TTextStyleRec& Rec);

// Threads (all styles): the user-interface thread.
class TTextStyle {
 public:
  virtual ~TTextStyle();
  TTextStyle(const TTextStyle&) = delete;
  TTextStyle& operator=(const TTextStyle&) = delete;
  // Recomputes the effective record (the parent's merged with this one's) and the font.
  virtual void Update();
  virtual void AddRef() = 0;
  // Returns whether the style is still in use.
  virtual bool Release() = 0;
  virtual bool IsInUse() const = 0;

  TFont* Font() { return &FFont; }
  // This style's own fields; call Update after changing them.
  TTextStyleRec& Own() { return FOwn; }
  const TTextStyleRec& Effective() const { return FEffective; }
  TTextStyle* Parent() const { return FParent; }
  // Gives Font this style's font for a piece of text: 0 plain, 1 a link, 2 a link under the
  // mouse, 3 the third link state.
  void ApplyLinkState(TFont* Target, int State) const;

 protected:
  TTextStyle() = default;
  TFont FFont;
  TTextStyleRec FOwn;
  TTextStyleRec FEffective;
  TTextStyle* FParent = nullptr;
};

// One row of the predefined table; in use until the table is finalised.
class TPredefTextStyle : public TTextStyle {
 public:
  TPredefTextStyle(const TTextStyleRec& Rec, TTextStyle* Parent, const char* Name);
  void AddRef() override {}
  bool Release() override { return IsInUse(); }
  bool IsInUse() const override;
  const char* Name() const { return FName; }

 private:
  const char* FName;
};

// A private, reference-counted style layered on another: its own record starts empty, so it looks
// like its parent until fields are set.
class TLocalTextStyle : public TTextStyle {
 public:
  explicit TLocalTextStyle(TTextStyle* From);
  ~TLocalTextStyle() override;
  void AddRef() override { ++FRefCount; }
  // Frees nothing: the last holder deletes a style that is no longer in use.
  bool Release() override;
  bool IsInUse() const override { return FRefCount > 0; }

 private:
  int FRefCount = 0;
};

constexpr int PredefStyleCount = 78;
// The style of a table index (taken modulo 128); nullptr for an index past the table.
TTextStyle* PredefStyle(int Index);
// The predefined style named Name (letter case ignored); nullptr when none.
TTextStyle* FindPredefStyle(const AnsiString& Name);
// When Style is in use, replaces it by a new local style made from it. Returns the style to change.
TTextStyle* MakePrivate(TTextStyle*& Style);

void TextStylesInitialize();
void TextStylesFinalize();
