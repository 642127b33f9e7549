// The mark-up rich-text element: short pieces of mark-up (bold, italic, underline, strike-out,
// fonts, colours, named styles, links, images, rules and line breaks) read into a list of items,
// laid out in rows of child elements as wide as the element, aligned on a common baseline and
// painted with their styles; links are clickable, blinking text blinks.
//
// Threads: the user-interface thread for every element and item; a formatter may measure off it
// on a device context of its own.
#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "toolkit/HyperlinkControl.h"
#include "toolkit/ImageCache.h"
#include "toolkit/TextStyles.h"
#include "toolkit/XMLParser.h"

class TCustomRichText;
class TRichTextFormatter;
class TRichTextItem;

// Flag bits of a formatting context and of a text item.
constexpr uint8_t rfShadow = 1 << 0, rfBlink = 1 << 2, rfNoCopy = 1 << 4, rfTruncate = 1 << 5,
                  rfTruncateFull = 1 << 6;
// Alignments of items and rows.
constexpr uint8_t raLeft = 0, raRight = 1, raCenter = 2;

// A custom tag's handler: gets the element, the tag name, the item it returned last for this
// element (null at first), the text and the attributes; returns the item to add (the list takes
// a new one over), the same item again, or null.
using TRichTextTagHandler = std::function<TRichTextItem*(TCustomRichText* Element, const WideString& Tag,
                                                         TRichTextItem* Current, const WideString& Text,
                                                         TUniStringList* Attributes)>;
// The process-wide registry, searched before an element's own tags (names without regard to
// letter case). An empty handler declares a tag whose `alt` attribute is shown as text.
// Threads: user interface.
void RegisterRichTextTag(const WideString& Name, TRichTextTagHandler Handler);
void UnregisterRichTextTag(const WideString& Name);

// The one process-wide handler of link clicks that an element does not handle itself; empty
// removes it. Threads: user interface.
void SetGlobalLinkHandler(std::function<void(TObject* Sender, const AnsiString& Href)> Handler);

// ---------------------------------------------------------------------------------------------
// Items

class TRichTextItem : public TObject {
 public:
  ~TRichTextItem() override = default;
  const char* ClassName() const override { return "TRichTextItem"; }
  // Adds the item's pieces to the formatter's rows.
  virtual void Format(TRichTextFormatter* Formatter) = 0;
  // The item has to be animated (blinking text).
  virtual bool Animates() const { return false; }
  uint8_t Alignment() const { return fAlignment; }
  void SetAlignment(uint8_t Value) { fAlignment = Value; }
  // The first row child that shows the item; null before the layout.
  TBaseHyperlink* Element() const { return fElement; }
  void SetElement(TBaseHyperlink* Value) { fElement = Value; }

 protected:
  uint8_t fAlignment = raLeft;
  TBaseHyperlink* fElement = nullptr;
};

// A run of text with a style (a reference is held) and the flags of its context.
class TTextRichTextItem : public TRichTextItem {
 public:
  TTextRichTextItem(const WideString& Text, TTextStyle* Style, uint8_t Flags);
  ~TTextRichTextItem() override;
  const char* ClassName() const override { return "TTextRichTextItem"; }
  void Format(TRichTextFormatter* Formatter) override;
  bool Animates() const override { return (fFlags & rfBlink) != 0; }
  // The state of the font a piece is painted with: 0 plain text, 1 a link, 2 a link under the mouse.
  virtual int LinkState(uint8_t ElementState) const { return 0; }

  const WideString& Text() const { return fText; }
  // Tabs become blanks; the break opportunities are computed again.
  void SetText(const WideString& Value);
  TTextStyle* Style() const { return fStyle; }
  uint8_t Flags() const { return fFlags; }
  bool RightToLeft() const { return fRightToLeft; }
  // A piece may end after character I / begin at character I (0-based).
  bool CanEnd(size_t I) const { return (fEnd[I >> 3] >> (I & 7)) & 1; }
  bool CanBegin(size_t I) const { return (fBegin[I >> 3] >> (I & 7)) & 1; }
  // Characters shown in clCaptionText (Length 0: none).
  void SetHighlight(int Start, int Length) { fHighlightStart = Start, fHighlightLength = Length; }
  int HighlightStart() const { return fHighlightStart; }
  int HighlightLength() const { return fHighlightLength; }
  // The style's font in a state, made once (0, 1 or 2).
  TFont* StateFont(int State);

 protected:
  WideString fText;
  TTextStyle* fStyle;
  uint8_t fFlags;
  bool fRightToLeft = false;
  std::vector<uint8_t> fEnd, fBegin;
  int fHighlightStart = 0, fHighlightLength = 0;
  std::unique_ptr<TFont> fFonts[3];
};

// A text run that is a link: an href (UTF-8) and an alternative text (the pieces' hint).
class TLinkRichTextItem : public TTextRichTextItem {
 public:
  TLinkRichTextItem(const WideString& Text, TTextStyle* Style, uint8_t Flags, const AnsiString& Href,
                    const WideString& Alt);
  const char* ClassName() const override { return "TLinkRichTextItem"; }
  int LinkState(uint8_t ElementState) const override { return ElementState == hsNormal ? 1 : 2; }
  const AnsiString& Href() const { return fHref; }
  const WideString& Alt() const { return fAlt; }

 private:
  AnsiString fHref;
  WideString fAlt;
};

// A picture of the image cache, shifted down by VShift pixels; clickable when it has an href.
class TImageRichTextItem : public TRichTextItem {
 public:
  TImageRichTextItem(TImageId Id, int Width, int Height, int VShift, const WideString& Alt, const AnsiString& Href);
  const char* ClassName() const override { return "TImageRichTextItem"; }
  void Format(TRichTextFormatter* Formatter) override;
  TImageId ImageId() const { return fImageId; }
  // The size asked for by the mark-up; 0 takes the picture's own.
  int Width() const { return fWidth; }
  int Height() const { return fHeight; }
  int VShift() const { return fVShift; }
  const WideString& Alt() const { return fAlt; }
  const AnsiString& Href() const { return fHref; }

 private:
  TImageId fImageId;
  int fWidth, fHeight, fVShift;
  WideString fAlt;
  AnsiString fHref;
};

// A horizontal rule across the rest of its row.
class TSeparatorRichTextItem : public TRichTextItem {
 public:
  explicit TSeparatorRichTextItem(TColor Color) : fColor(Color) {}
  const char* ClassName() const override { return "TSeparatorRichTextItem"; }
  void Format(TRichTextFormatter* Formatter) override;
  TColor Color() const { return fColor; }

 private:
  TColor fColor;
};

// A declared custom tag without a handler: its `alt` attribute shows as text.
class TUnknownRichTextItem : public TTextRichTextItem {
 public:
  TUnknownRichTextItem(const WideString& Tag, const WideString& Alt, TTextStyle* Style, uint8_t Flags);
  const char* ClassName() const override { return "TUnknownRichTextItem"; }
  const WideString& Tag() const { return fTag; }

 private:
  WideString fTag;
};

// ---------------------------------------------------------------------------------------------
// The mark-up reader

class TRichTextParser : public TXMLParser {
 public:
  // Items go to Items (owned by the caller); the bottom context is made of the defaults.
  TRichTextParser(TCustomRichText* Element, std::vector<std::unique_ptr<TRichTextItem>>* Items, TTextStyle* Style,
                  bool Shadow, uint8_t Alignment);
  ~TRichTextParser() override;
  const char* ClassName() const override { return "TRichTextParser"; }
  void OpenTag(const WideString& Name, TUniStringList* Attributes) override;
  WideString TextBeforeChild(const WideString& Name, TUniStringList* Attributes, const WideString& Text) override;
  WideString CloseTag(const WideString& Name, TUniStringList* Attributes, const WideString& Text) override;
  // The first character of the first `ks` text; 0 when none.
  wchar_t ShortCut() const { return fShortCut; }

 private:
  struct TContext;
  TContext& Top() { return *fStack.back(); }
  void Push(const WideString& Tag);
  void Pop();
  // The current style, made private to the top context.
  TTextStyle* ChangeStyle();
  void ReplaceStyle(TTextStyle* Style);
  void ApplyClass(TUniStringList* Attributes);
  void AddText(const WideString& Text);
  void AddItem(TRichTextItem* Item);
  bool CustomText(const WideString& Text, TUniStringList* Attributes);

  TCustomRichText* fElement;
  std::vector<std::unique_ptr<TRichTextItem>>* fItems;
  std::vector<std::unique_ptr<TContext>> fStack;
  wchar_t fShortCut = 0;
  // The open custom element.
  WideString fCustomTag;
  TRichTextTagHandler fCustomHandler;
  TRichTextItem* fCustomItem = nullptr;
  int fCustomDepth = 0;
};

// ---------------------------------------------------------------------------------------------
// Row children

// A part (first character, length) of a text item.
class TRTTextBaseHyperlink : public THyperlink {
 public:
  TRTTextBaseHyperlink(TTextRichTextItem* Item, int First, int Length);
  const char* ClassName() const override { return "TRTTextBaseHyperlink"; }
  void Paint(TCanvas* Canvas) override;
  TTextRichTextItem* Item() const { return fItem; }
  int First() const { return fFirst; }
  int Length() const { return fLength; }
  // Painted with "..." after the text.
  bool Ellipsis() const { return fEllipsis; }
  void SetEllipsis(bool Value) { fEllipsis = Value; }

 protected:
  TTextRichTextItem* fItem;
  int fFirst, fLength;
  bool fEllipsis = false;
};

// A part of a link item: clickable with the hand cursor; all parts of one link turn hot together.
class TRTLinkHyperlink : public TRTTextBaseHyperlink {
 public:
  TRTLinkHyperlink(TLinkRichTextItem* Item, int First, int Length);
  const char* ClassName() const override { return "TRTLinkHyperlink"; }
  void Changed() override;
  TLinkRichTextItem* LinkItem() const { return static_cast<TLinkRichTextItem*>(fItem); }
};

// A separator: a one-pixel line in its item's colour.
class TRectBaseHyperlink : public TBaseHyperlink {
 public:
  explicit TRectBaseHyperlink(TColor Color) : fColor(Color) {}
  const char* ClassName() const override { return "TRectBaseHyperlink"; }
  void Paint(TCanvas* Canvas) override;

 private:
  TColor fColor;
};

// An image item's bitmap element of the image cache (the mark-up's size when it gives one).
class TRTImageHyperlink : public TBitmapHyperlink {
 public:
  explicit TRTImageHyperlink(TImageRichTextItem* Item);
  const char* ClassName() const override { return "TRTImageHyperlink"; }
  void GetImageSize(TPoint& Size) override;
  TImageRichTextItem* Item() const { return fItem; }

 private:
  TImageRichTextItem* fItem;
};

// ---------------------------------------------------------------------------------------------
// Layout

class TRichTextFormatter : public TObject {
 public:
  // Measures on a memory device context of its own.
  explicit TRichTextFormatter(TCustomRichText* Element);
  ~TRichTextFormatter() override;
  const char* ClassName() const override { return "TRichTextFormatter"; }

  // Lays every item out; the element's children are the rows' pieces afterwards.
  void Run(const std::vector<std::unique_ptr<TRichTextItem>>& Items);
  // A piece of the given layout size joins the row (the row is finished first when it does not
  // fit and the row has pieces). Descent: the part below the baseline; MinHeight: the least
  // height of the row.
  void AddPiece(TBaseHyperlink* Piece, int Width, int Height, int Descent, int MinHeight, uint8_t Alignment);
  void FinishRow();
  bool RowEmpty() const { return fRow.empty(); }
  // The width left in the row.
  int Remaining() const { return fRemaining; }
  // The element's width follows the content: rows are never broken.
  bool AutoWidth() const;
  // The row at the current y is the last one the element's fixed height shows (the next row of
  // RowHeight would start at or below its bottom); never for an element that grows.
  bool LastRow(int RowHeight) const;
  void MarkTruncated() { fTruncated = true; }
  bool Truncated() const { return fTruncated; }
  TCustomRichText* Element() const { return fElement; }
  void* DC() const { return fDC; }
  // A reusable buffer for the partial extents of one run.
  std::vector<int>& Extents() { return fExtents; }

  int ContentWidth() const { return fWidest; }
  int ContentHeight() const { return fContentHeight; }
  int RowCount() const { return fRowCount; }
  int LeftIndent = 0, RightIndent = 0;

 private:
  struct TPiece {
    TBaseHyperlink* Link;
    int X, Width, Height, Descent;
  };
  void PlaceRow(int Top);

  TCustomRichText* fElement;
  void* fDC;
  int fWidth;
  int fX = 0, fY = 0;
  int fAscent = 0, fDescent = 0, fMinHeight = 0;
  int fRowWidth = 0, fWidest = 0, fRowCount = 0, fRemaining;
  uint8_t fAlignment = raLeft;
  bool fRightToLeft = false;
  bool fTruncated = false;
  int fContentHeight = 0;
  std::vector<TPiece> fRow;
  std::vector<int> fExtents;
};

// ---------------------------------------------------------------------------------------------
// The elements

class TCustomRichText : public TAnimatedHyperlink {
 public:
  // AutoHeight and ThirdMode must not both be set (asserted).
  TCustomRichText(bool AutoWidth, bool AutoHeight, bool ThirdMode);
  ~TCustomRichText() override;
  const char* ClassName() const override { return "TCustomRichText"; }

  // Threads: user interface (all below). Href as UTF-8; nothing happens here.
  virtual void DoLinkClick(const AnsiString& Href);
  // Called with the formatter after each layout.
  virtual void ItemsChanged(TRichTextFormatter* Formatter) {}
  // Lays out again when the width changed (or, without AutoHeight, the height).
  void SetBoundsRect(const TRect& R) override;
  void Attached() override;
  bool DoAnimate() override;
  // A click on a link piece (or an image with an href) ends in DoLinkClick and goes no further.
  void LinkClicked(THyperlink* Link) override;

  // When the mark-up differs from the stored one: stores it, builds the items, lays them out and
  // repaints. Mark-up that is not well formed shows as plain text.
  void SetText(const WideString& Markup);
  const WideString& Text() const { return fText; }
  TTextStyle* DefaultStyle() const { return fDefaultStyle; }
  // Holds a reference; the items are built again.
  void SetDefaultStyle(TTextStyle* Style);
  uint8_t DefaultAlignment() const { return fDefaultAlignment; }
  void SetDefaultAlignment(uint8_t Value);
  bool Shadow() const { return fShadow; }
  void SetShadow(bool Value);
  int LineSpacing() const { return fLineSpacing; }
  void SetLineSpacing(int Value);
  bool AutoWidth() const { return fFlagsByte & 1; }
  bool AutoHeight() const { return fFlagsByte & 2; }
  bool ThirdMode() const { return fFlagsByte & 4; }
  bool HasBlinking() const { return fFlagsByte & 16; }
  bool RightToLeft() const { return fFlagsByte & 32; }
  int ContentWidth() const { return fContentWidth; }
  int ContentHeight() const { return fContentHeight; }
  int RowCount() const { return fRowCount; }
  // The last layout cut text off.
  bool Truncated() const { return fTruncated; }
  int ItemCount() const { return static_cast<int>(fItems.size()); }
  TRichTextItem* Item(int Index) const { return fItems[static_cast<size_t>(Index)].get(); }
  // This element's own custom tags (after the process-wide ones).
  void RegisterTag(const WideString& Name, TRichTextTagHandler Handler);
  bool FindTag(const WideString& Name, TRichTextTagHandler& Handler) const;
  // Lays the items out now (for the current width).
  void Relayout();

  // Test seam: the tick count that blinking follows (empty: the system's).
  static void SetTickSource(std::function<uint32_t()> Source);
  static uint32_t Ticks();

 protected:
  friend class TRichTextFormatter;
  virtual void BuildItems();
  void Layout();
  std::vector<std::unique_ptr<TRichTextItem>> fItems;
  uint8_t fFlagsByte = 0;
  TTextStyle* fDefaultStyle = nullptr;
  uint8_t fDefaultAlignment = raLeft;
  bool fShadow = false;
  int fLineSpacing = 0;
  int fLayoutWidth = -1;
  int fContentWidth = 0, fContentHeight = 0, fRowCount = 0;
  bool fTruncated = false;
  bool fInLayout = false;
  bool fBlinkHidden = false;
  WideString fText;
  wchar_t fShortCut = 0;
  std::vector<std::pair<WideString, TRichTextTagHandler>> fTags;
};

// The element the program uses; default style: the predefined "Regular".
class TRichText : public TCustomRichText {
 public:
  TRichText(bool AutoWidth, bool AutoHeight, bool ThirdMode);
  const char* ClassName() const override { return "TRichText"; }
  // OnLinkClick when set, else the global link handler when there is one.
  void DoLinkClick(const AnsiString& Href) override;
  std::function<void(TObject* Sender, const AnsiString& Href)> OnLinkClick;
  wchar_t ShortCut() const { return fShortCut; }
};
