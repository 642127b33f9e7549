#include "toolkit/TextStyles.h"

#include <vector>

#include "toolkit/DbgUtils.h"

namespace {

// Builds a table row: a parentless row gives every field; a child row only those it sets.
struct Row {
  TTextStyleRec R;
  const char* Name;
  Row(const char* N, uint8_t Parent) : Name(N) { R.Parent = Parent; }
  Row& Font(const char* Face) { R.FontName = Face; R.Mask |= tsmFontName; return *this; }
  Row& Size(int32_t V) { R.Size = V; R.Mask |= tsmSize; return *this; }
  Row& Delta(int32_t V) { R.SizeDelta = V; R.Mask |= tsmSizeDelta; return *this; }
  Row& Style(TFontStyles V) { R.FontStyle = V; R.Mask |= tsmFontStyle; return *this; }
  Row& Color(TColor V) { R.Color = V; R.Mask |= tsmColor; return *this; }
  Row& Link(TColor C, TFontStyles S) {
    R.LinkColor = C; R.LinkStyle = S; R.Mask |= tsmLinkColor | tsmLinkStyle; return *this;
  }
  Row& Hot(TColor C, TFontStyles S) {
    R.HotColor = C; R.HotStyle = S; R.Mask |= tsmHotColor | tsmHotStyle; return *this;
  }
  Row& Shadow(TColor C, int32_t X, int32_t Y, uint8_t Alpha) {
    R.ShadowColor = C; R.ShadowX = X; R.ShadowY = Y; R.ShadowAlpha = Alpha;
    R.Mask |= tsmShadowColor | tsmShadowXY | tsmShadowAlpha; return *this;
  }
  Row& ShadowColor(TColor C) { R.ShadowColor = C; R.Mask |= tsmShadowColor; return *this; }
  Row& Always() { R.Shadowed = 1; R.Mask |= tsmShadowed; return *this; }
};

// A parentless row: every field, links in the text's colour unless given, no background.
Row Full(const char* Name, const char* Face, int32_t Size, TFontStyles Style, TColor Color, TColor Link,
         TFontStyles LinkStyle, TColor Hot, TFontStyles HotStyle, TColor Shadow, int32_t X, int32_t Y,
         uint8_t Alpha, bool Always = false) {
  Row W(Name, 0);
  W.Font(Face).Size(Size).Delta(0).Style(Style).Color(Color).Link(Link, LinkStyle).Hot(Hot, HotStyle);
  W.R.BgColor = clStyleNone;
  W.R.ThirdColor = Link;
  W.R.ThirdStyle = LinkStyle;
  W.Shadow(Shadow, X, Y, Alpha);
  W.R.Shadowed = Always ? 1 : 0;
  W.R.Mask = tsmAll;
  return W;
}

constexpr TColor Grey = 0x333333, Dark = 0x483A39, Light = 0x585347, Lighter = 0x999999, White = 0xFFFFFF,
                 Black = 0x000000, Orange = 0xFF6600, Red = 0x0000CC, Blue = 0xB07A3D, Faint = 0xE0E0E0,
                 Green = 0x0AC887;
constexpr TFontStyles Plain = 0, Bold = fsBold, Under = fsUnderline;

// Index order matters: a parent always comes before its children.
std::vector<Row> BuildTable() {
  std::vector<Row> T;
  T.reserve(PredefStyleCount);
  T.push_back(Row(nullptr, 0));  // 0: no style, "no parent"
  T.push_back(Full("Regular", "Tahoma", 11, Plain, Black, Orange, Plain, Orange, Under, White, 1, 0, 255));
  T.push_back(Row("RegularMedium", 1).Color(Grey));
  T.push_back(Row("RegularBlackLink", 1).Link(Black, Under).Hot(Black, Plain));
  T.push_back(Row("RegularBold", 1).Style(Bold).Color(Grey).Link(Grey, Bold).Hot(Grey, Bold));
  T.push_back(Row("RegularBoldInvert", 4).Color(White).Link(White, Bold).Hot(White, Bold).Shadow(Black, 0, -1, 100));
  T.push_back(Row("RegularBoldAlternative", 4).Color(Dark));
  T.push_back(Row("RegularLight", 1).Color(Light));
  T.push_back(Row("RegularLighter", 1).Color(Lighter));
  T.push_back(Row("RegularDisabled", 1).Color(Lighter).Link(Lighter, Plain).Hot(Lighter, Plain));
  T.push_back(Row("RegularInvert", 1).Color(White).Link(White, Plain).Hot(White, Under).Shadow(Black, 0, -1, 100));
  T.push_back(Row("RegularInvertLighter", 10).Color(Faint));
  T.push_back(Row("RegularRed", 1).Color(Red));
  T.push_back(Full("DialpadDisplay", "Arial", 20, Plain, Grey, Orange, Plain, Orange, Under, White, 0, 1, 150));
  T.push_back(Full("DialpadDisplayPlaceholderLarge", "Arial", 20, Plain, Lighter, Lighter, Plain, Lighter, Plain,
                   White, 0, 1, 150));
  T.push_back(Row("DialpadDisplayPlaceholderMedium", 14).Delta(-4));
  T.push_back(Full("DialpadDisplayLarge", "Arial", 20, Bold, Grey, Grey, Bold, Grey, Bold, White, 0, 1, 150));
  T.push_back(Row("DialpadDisplayMedium", 16).Delta(-4));
  T.push_back(Row("TransferStatus", 1).Color(Light));
  Row Selected = Full("ContactSelected", "Tahoma", 11, Plain, White, White, Plain, White, Plain, Black, 0, 1, 255);
  Selected.R.Mask &= static_cast<uint16_t>(~(tsmLinkColor | tsmLinkStyle | tsmHotColor | tsmHotStyle));
  T.push_back(Selected);
  T.push_back(Row("MoodBlue", 1).Color(Blue));
  T.push_back(Row("MoodOrange", 1).Color(Orange));
  T.push_back(Row("Small", 1).Delta(-2));                          // 22
  T.push_back(Row("HistoryScale", 22).Delta(-1).Color(Lighter));   // two deltas: 8
  T.push_back(Row("SmallMedium", 22).Color(Grey));
  T.push_back(Row("SmallLight", 22).Color(Light));
  T.push_back(Row("SmallDisabled", 22).Color(Lighter));
  T.push_back(Row("SmallInvert", 22).Color(White).ShadowColor(Black));
  T.push_back(Full("HeadingAlternative", "Arial", 18, Bold, Dark, Orange, Under, 0xF4C340, Plain, White, 0, 1, 150));
  T.push_back(Full("Heading", "Arial", 18, Bold, Grey, Orange, Under, 0xF4C340, Plain, White, 0, 1, 150));  // 29
  T.push_back(Full("MediumHeading", "Arial", 13, Bold, Grey, Grey, Bold, Grey, Bold, White, 0, 1, 150));     // 30
  T.push_back(Row("MediumHeadingLight", 30).Color(Light));
  T.push_back(Row("MediumHeadingDown", 30).Color(Dark));
  T.push_back(Row("MediumHeadingDisabled", 30).Color(Lighter).Link(Lighter, Bold).Hot(Lighter, Bold));
  T.push_back(Row("HeadingAlternativeLight", 28).Color(Light));
  T.push_back(Row("MediumHeadingInvert", 30).Color(White).ShadowColor(Black));
  T.push_back(Full("HeadingInvert", "Arial", 18, Bold, White, White, Plain, White, Under, Black, 0, -1, 150));
  T.push_back(Row("HeadingLight", 29).Color(Light));               // 37
  T.push_back(Row("HeadingLightDisabled", 37).Color(Lighter));
  T.push_back(Row("SecondaryHeading", 29).Delta(-3));              // 39
  T.push_back(Row("SecondaryHeadingLight", 39).Color(Light));
  T.push_back(Row("SecondaryHeadingInvert", 39).Color(White).ShadowColor(Black));
  T.push_back(Full("ProfileHeading", "Arial", 16, Bold, Grey, Grey, Bold, Orange, Bold, White, 0, 1, 150));
  T.push_back(Full("LightHeading", "Arial", 16, Plain, Light, Orange, Plain, Orange, Under, White, 0, 1, 150));
  T.push_back(Row("SubHeading", 39).Style(Plain));
  T.push_back(Full("ChatBody", "Tahoma", 11, Plain, Grey, Orange, Plain, Orange, Under, White, 0, 1, 255));  // 45
  T.push_back(Row("ChatBodyGray", 45).Color(Lighter));
  T.push_back(Row("ChatBodyBlue", 45).Color(Blue));
  T.push_back(Row("ChatHistory", 45).Color(Light));
  T.push_back(Row("ChatTime", 45).Delta(-2).Color(Light));         // 49
  T.push_back(Row("ChatTimeGray", 49).Color(Lighter));
  T.push_back(Row("ChatPosterMe", 45).Style(Bold).Color(Dark));    // 51
  T.push_back(Row("ChatPosterOther", 45).Style(Bold).Color(Grey));
  T.push_back(Row("ChatPosterHighlight", 45).Style(Bold).Color(Orange));
  T.push_back(Row("ChatPosterGray", 45).Style(Bold).Color(Lighter));  // 54
  T.push_back(Row("ChatPosterCompactMe", 51).Delta(-1));
  T.push_back(Row("ChatPosterCompactOther", 52).Delta(-1));
  T.push_back(Row("ChatPosterCompactGray", 54).Delta(-1));
  T.push_back(Row("CallToolbar", 1).Color(White).Link(White, Plain).Hot(White, Under).Shadow(Black, 0, -1, 100));  // 58
  T.push_back(Row("CallToolbarInvert", 58).Color(Grey).Link(Grey, Plain).Hot(Grey, Under).Shadow(White, 0, 1, 150));
  T.push_back(Row("CallToolbarRed", 58).Color(Red));
  T.push_back(Full("ButtonHugeAction", "Arial", 20, Plain, White, White, Plain, White, Under, Black, 0, -1, 50, true));
  T.push_back(Full("ButtonHugeText", "Arial", 20, Plain, Grey, Grey, Plain, Grey, Under, White, 0, 1, 150));
  T.push_back(Full("ButtonBigText", "Arial", 16, Plain, Grey, Grey, Plain, Grey, Under, White, 0, 1, 150));
  T.push_back(Full("ButtonBigAction", "Arial", 16, Plain, White, White, Plain, White, Under, Black, 0, -1, 50, true));
  T.push_back(Row("ButtonBigActionGreenDisabled", 64).Color(Faint).Shadow(Green, 0, -1, 100));
  T.push_back(Full("ButtonMediumText", "Arial", 13, Plain, Grey, Grey, Plain, Grey, Under, White, 0, 1, 150));
  T.push_back(Full("ButtonMediumTextLarge", "Arial", 14, Plain, Grey, Grey, Plain, Grey, Under, White, 0, 1, 150));
  T.push_back(Full("ButtonMediumTextInvert", "Arial", 13, Plain, White, White, Plain, White, Under, Black, 0, -1, 150));
  T.push_back(Full("ButtonMediumAction", "Arial", 13, Bold, White, White, Bold, White, Bold, Black, 0, -1, 50, true));
  T.push_back(Row("ButtonMediumActionDisabled", 69).Color(Faint));
  T.push_back(Full("ButtonMediumNr", "Arial", 13, Bold, Grey, Grey, Bold, Grey, Bold, White, 0, 1, 150));
  T.push_back(Full("ButtonSmallAction", "Tahoma", 11, Bold, White, White, Bold, White, Bold, Black, 0, -1, 50, true));
  T.push_back(Full("ButtonCallToolbar", "Tahoma", 11, Plain, White, White, Plain, White, Under, Black, 0, -1, 100));
  T.push_back(Full("ButtonCallToolbarActive", "Tahoma", 11, Bold, White, White, Bold, White, Bold, Black, 0, -1, 100));
  T.push_back(Full("ButtonSmallText", "Tahoma", 11, Plain, Grey, Grey, Plain, Grey, Under, White, 0, 1, 255));
  T.push_back(Full("ButtonLauncher", "Tahoma", 11, Plain, Grey, Orange, Plain, Orange, Under, White, 0, 1, 255));
  T.push_back(Full("GreenButtonHugeAction", "Arial", 20, Plain, White, White, Plain, White, Under, Green, 0, -1, 100, true));
  return T;
}

std::unique_ptr<TPredefTextStyle> GStyles[PredefStyleCount];
bool GFinalizing = false;

}  // namespace

void MergeTextStyleRec(TTextStyleRec& E, const TTextStyleRec& R) {
  uint16_t M = R.Mask;
  if (M & tsmFontName) E.FontName = R.FontName;
  if (M & tsmSize) E.Size = R.Size;
  if (M & tsmSizeDelta) {
    if (E.Mask & tsmSizeDelta)
      E.SizeDelta += R.SizeDelta;
    else
      E.SizeDelta = R.SizeDelta;
    if (E.Mask & tsmSize) E.Size += R.SizeDelta;
  }
  if (M & tsmFontStyle) E.FontStyle = R.FontStyle;
  if (M & tsmColor) E.Color = R.Color;
  if (M & tsmBgColor) E.BgColor = R.BgColor;
  if (M & tsmLinkColor) E.LinkColor = R.LinkColor;
  if (M & tsmLinkStyle) E.LinkStyle = R.LinkStyle;
  if (M & tsmHotColor) E.HotColor = R.HotColor;
  if (M & tsmHotStyle) E.HotStyle = R.HotStyle;
  if (M & tsmThirdColor) E.ThirdColor = R.ThirdColor;
  if (M & tsmThirdStyle) E.ThirdStyle = R.ThirdStyle;
  if (M & tsmShadowed) E.Shadowed = R.Shadowed;
  if (M & tsmShadowColor) E.ShadowColor = R.ShadowColor;
  if (M & tsmShadowXY) {
    E.ShadowX = R.ShadowX;
    E.ShadowY = R.ShadowY;
  }
  if (M & tsmShadowAlpha) E.ShadowAlpha = R.ShadowAlpha;
  E.Mask |= M;
}

TTextStyle::~TTextStyle() = default;

void TTextStyle::Update() {
  if (FParent) {
    FEffective = FParent->Effective();
    FEffective.Parent = FOwn.Parent;
    MergeTextStyleRec(FEffective, FOwn);
  } else {
    FEffective = FOwn;
  }
  FFont.SetName(FEffective.FontName);
  FFont.SetHeight(-FEffective.Size);
  FFont.SetStyle(FEffective.FontStyle);
  FFont.SetColor(FEffective.Color);
}

void TTextStyle::ApplyLinkState(TFont* Target, int State) const {
  Target->Assign(const_cast<TFont*>(&FFont));
  const TTextStyleRec& E = FEffective;
  switch (State) {
    case 1:
      if (E.Mask & tsmLinkColor) Target->SetColor(E.LinkColor);
      if (E.Mask & tsmLinkStyle) Target->SetStyle(E.LinkStyle);
      break;
    case 2:
      if (E.Mask & tsmHotColor)
        Target->SetColor(E.HotColor);
      else if (E.Mask & tsmLinkColor)
        Target->SetColor(E.LinkColor);
      if (E.Mask & tsmHotStyle)
        Target->SetStyle(E.HotStyle);
      else if (E.Mask & tsmLinkStyle)
        Target->SetStyle(E.LinkStyle);
      break;
    case 3:
      Target->SetColor(E.ThirdColor);
      Target->SetStyle(E.ThirdStyle);
      break;
    default:
      break;
  }
}

TPredefTextStyle::TPredefTextStyle(const TTextStyleRec& Rec, TTextStyle* Parent, const char* Name) : FName(Name) {
  FOwn = Rec;
  FParent = Parent;
  Update();
}

bool TPredefTextStyle::IsInUse() const { return !GFinalizing; }

TLocalTextStyle::TLocalTextStyle(TTextStyle* From) {
  FParent = From;
  FParent->AddRef();
  Update();
}

TLocalTextStyle::~TLocalTextStyle() {
  if (FRefCount > 0) Log("TLocalTextStyle", "freed while in use");
  if (!FParent->Release() && dynamic_cast<TLocalTextStyle*>(FParent)) delete FParent;
}

bool TLocalTextStyle::Release() {
  Assert(FRefCount >= 1);
  --FRefCount;
  return IsInUse();
}

TTextStyle* PredefStyle(int Index) {
  Index &= 127;
  return Index < PredefStyleCount ? GStyles[Index].get() : nullptr;
}

TTextStyle* FindPredefStyle(const AnsiString& Name) {
  for (int I = 1; I < PredefStyleCount; ++I)
    if (GStyles[I] && SameText(GStyles[I]->Name(), Name)) return GStyles[I].get();
  return nullptr;
}

TTextStyle* MakePrivate(TTextStyle*& Style) {
  if (Style->IsInUse()) Style = new TLocalTextStyle(Style);
  return Style;
}

void TextStylesInitialize() {
  GFinalizing = false;
  std::vector<Row> Table = BuildTable();
  Assert(static_cast<int>(Table.size()) == PredefStyleCount);
  for (int I = 0; I < PredefStyleCount; ++I) {
    const Row& W = Table[static_cast<size_t>(I)];
    TTextStyle* Parent = W.R.Parent ? GStyles[W.R.Parent].get() : nullptr;
    Assert(W.R.Parent == 0 || W.R.Parent < I);
    GStyles[I] = std::make_unique<TPredefTextStyle>(W.R, Parent, W.Name ? W.Name : "");
  }
}

void TextStylesFinalize() {
  GFinalizing = true;
  for (int I = PredefStyleCount - 1; I >= 0; --I) GStyles[I].reset();
}
