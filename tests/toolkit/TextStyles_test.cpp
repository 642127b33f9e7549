#include <gtest/gtest.h>

#include "toolkit/TextStyles.h"

namespace {

TEST(TextStyles, FoundByNameWhateverTheCase) {
  EXPECT_NE(FindPredefStyle("regularbold"), nullptr);
  EXPECT_EQ(FindPredefStyle("regularbold"), FindPredefStyle("RegularBold"));
  EXPECT_EQ(FindPredefStyle("Bold"), nullptr);
  EXPECT_EQ(FindPredefStyle(""), nullptr);  // row 0 has no name
  EXPECT_EQ(PredefStyle(1), FindPredefStyle("Regular"));
  EXPECT_EQ(PredefStyle(77), FindPredefStyle("GreenButtonHugeAction"));
  EXPECT_EQ(PredefStyle(128 + 1), PredefStyle(1));  // taken modulo 128
  for (int I : {78, 100, 127, -1}) EXPECT_EQ(PredefStyle(I), nullptr) << I;  // past the table: no style
}

TEST(TextStyles, EffectiveRecordsInheritAndMerge) {
  struct Case {
    const char* Name;
    const char* Face;
    int Size;
    TFontStyles Style;
    TColor Color;
  } Cases[] = {
      {"Regular", "Tahoma", 11, 0, 0x000000},
      {"RegularMedium", "Tahoma", 11, 0, 0x333333},
      {"RegularBold", "Tahoma", 11, fsBold, 0x333333},
      {"Small", "Tahoma", 9, 0, 0x000000},
      {"HistoryScale", "Tahoma", 8, 0, 0x999999},  // two deltas add up
      {"Heading", "Arial", 18, fsBold, 0x333333},
      {"SecondaryHeading", "Arial", 15, fsBold, 0x333333},
      {"SubHeading", "Arial", 15, 0, 0x333333},  // SecondaryHeading without bold
      {"MediumHeadingInvert", "Arial", 13, fsBold, 0xFFFFFF},
  };
  for (const Case& C : Cases) {
    TTextStyle* S = FindPredefStyle(C.Name);
    ASSERT_NE(S, nullptr) << C.Name;
    const TTextStyleRec& E = S->Effective();
    EXPECT_EQ(E.FontName, C.Face) << C.Name;
    EXPECT_EQ(E.Size, C.Size) << C.Name;
    EXPECT_EQ(E.FontStyle, C.Style) << C.Name;
    EXPECT_EQ(E.Color, C.Color) << C.Name;
    EXPECT_EQ(S->Font()->Height(), -C.Size) << C.Name;
    EXPECT_EQ(S->Font()->Style(), C.Style) << C.Name;
  }
  const TTextStyleRec& Invert = FindPredefStyle("MediumHeadingInvert")->Effective();
  EXPECT_EQ(Invert.ShadowColor, 0x000000);
  EXPECT_EQ(Invert.ShadowY, 1);  // the rest of the shadow comes from the parent
  EXPECT_EQ(Invert.ShadowAlpha, 150);
  const TTextStyleRec& Bold = FindPredefStyle("RegularBold")->Effective();
  EXPECT_EQ(Bold.LinkColor, 0x333333);
  EXPECT_EQ(Bold.LinkStyle, fsBold);
  EXPECT_EQ(Bold.HotStyle, fsBold);
  const TTextStyleRec& Huge = FindPredefStyle("ButtonHugeAction")->Effective();
  EXPECT_EQ(Huge.Shadowed, 1);
  EXPECT_EQ(Huge.ShadowY, -1);
  EXPECT_EQ(Huge.ShadowAlpha, 50);
}

TEST(TextStyles, LinkStates) {
  TFont F;
  TTextStyle* Regular = FindPredefStyle("Regular");
  Regular->ApplyLinkState(&F, 0);
  EXPECT_EQ(F.Color(), 0x000000);
  EXPECT_EQ(F.Name(), "Tahoma");
  Regular->ApplyLinkState(&F, 1);
  EXPECT_EQ(F.Color(), 0xFF6600);
  EXPECT_EQ(F.Style(), 0);
  Regular->ApplyLinkState(&F, 2);
  EXPECT_EQ(F.Color(), 0xFF6600);
  EXPECT_EQ(F.Style(), fsUnderline);
  // No link fields: links look like the text.
  TTextStyle* Selected = FindPredefStyle("ContactSelected");
  for (int State : {1, 2}) {
    Selected->ApplyLinkState(&F, State);
    EXPECT_EQ(F.Color(), 0xFFFFFF) << State;
    EXPECT_EQ(F.Style(), 0) << State;
  }
}

TEST(TextStyles, PrivateCopiesLeaveThePredefinedStyleAlone) {
  TTextStyle* S = FindPredefStyle("Small");
  TTextStyle* Mine = S;
  TTextStyle* Changed = MakePrivate(Mine);
  ASSERT_NE(Changed, S);
  EXPECT_EQ(Mine, Changed);
  EXPECT_FALSE(Mine->IsInUse());
  EXPECT_EQ(Mine->Effective().Size, 9);  // looks like its source until changed
  Mine->Own().SizeDelta = -1;
  Mine->Own().Mask |= tsmSizeDelta;
  Mine->Update();
  EXPECT_EQ(Mine->Effective().Size, 8);
  EXPECT_EQ(FindPredefStyle("Small")->Effective().Size, 9);
  // A local style that is not in use is changed in place; one in use is copied again.
  EXPECT_EQ(MakePrivate(Mine), Mine);
  Mine->AddRef();
  TTextStyle* Second = Mine;
  MakePrivate(Second);
  EXPECT_NE(Second, Mine);
  EXPECT_EQ(Second->Effective().Size, 8);
  delete Second;               // releases its hold on Mine
  EXPECT_TRUE(Mine->IsInUse());  // our own reference
  EXPECT_FALSE(Mine->Release());
  delete Mine;
}

}  // namespace
