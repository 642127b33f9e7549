#include <gtest/gtest.h>

#include <random>

#include "toolkit/XMLParser.h"
#include "unicode/UniSystem.h"

namespace {

// Records every callback as a line, and keeps/returns texts in brackets so the reduction shows.
class Recorder : public TXMLParser {
 public:
  std::wstring Events;
  void OpenTag(const WideString& Name, TUniStringList* Attributes) override {
    Events += L"open(" + Name;
    for (int I = 0; I < Attributes->Count(); ++I) Events += L" " + Attributes->Get(I);
    Events += L") ";
  }
  WideString TextBeforeChild(const WideString& Name, TUniStringList*, const WideString& Text) override {
    Events += L"before(" + Name + L"," + Text + L") ";
    return L"[" + Text + L"]";
  }
  WideString CloseTag(const WideString& Name, TUniStringList*, const WideString& Text) override {
    Events += L"close(" + Name + L"," + Text + L") ";
    return L"{" + Text + L"}";
  }
};

std::string Narrow(const std::wstring& W) { return WideToUtf8(W); }

TEST(XMLParser, RootTextAndEntities) {
  struct Case {
    const wchar_t* Input;
    const wchar_t* Root;
  } Cases[] = {
      {L"a&lt;b", L"a<b"},  // the inserted "<" is not read as a tag
      {L"&foo;", L"?foo?"},
      {L"&#65;&#x41;&AMP;&Quot;&apos;&gt;", L"AA&\"'>"},
      {L"&#x1F600;", L"\xD83D\xDE00"},  // above U+FFFF: a surrogate pair
      {L"<![CDATA[<b>&amp;]]>x", L"<b>&amp;x"},
      {L"a<![CDATA[]]>b", L"ab"},
      {L"<!-- c -->x", L"x"},
      {L"<!---->x", L"x"},
      {L"<?xml v?>x", L"x"},
      {L"plain", L"plain"},
      {L"", L""},
  };
  for (const Case& C : Cases) {
    TXMLParser P;
    EXPECT_EQ(Narrow(P.Parse(C.Input)), Narrow(C.Root)) << Narrow(C.Input);
  }
}

TEST(XMLParser, ElementsReduceBottomUp) {
  struct Case {
    const wchar_t* Input;
    const wchar_t* Events;
    const wchar_t* Root;
  } Cases[] = {
      {L"<br/>", L"open(br) close(br,) close(,{}) ", L"{}"},
      {L"<b>x</B>", L"open(b) close(B,x) close(,{x}) ", L"{x}"},
      {L"<b>x<i>y</i>z</b>", L"open(b) before(b,x) open(i) close(i,y) close(b,[x]{y}z) close(,{[x]{y}z}) ", L"{[x]{y}z}"},
      {L"t<a href=\"u&amp;v\" alt=\" w \">x</a>", L"before(,t) open(a href=u&v alt=w) close(a,x) close(,[t]{x}) ", L"[t]{x}"},
      {L"<a b=\"1\"/>", L"open(a b=1) close(a,) close(,{}) ", L"{}"},
  };
  for (const Case& C : Cases) {
    Recorder R;
    WideString Root = R.Parse(C.Input);
    EXPECT_EQ(Narrow(R.Events), Narrow(C.Events)) << Narrow(C.Input);
    EXPECT_EQ(Narrow(Root), Narrow(C.Root)) << Narrow(C.Input);
  }
}

TEST(XMLParser, ErrorsCarryTheirTexts) {
  struct Case {
    const wchar_t* Input;
    const char* Error;
  } Cases[] = {
      {L"<a href= \"x\">", "Invalid attribute (href) of tag a"},
      {L"<a href='x'>", "Invalid attribute (href) of tag a"},
      {L"<a b>", "Invalid attribute (b) of tag a"},
      {L"</b>", "Unexpected end tag: b"},
      {L"<a></b>", "Unexpected end tag: expected \"a\", actual \"b\""},
      {L"<b>x", "Unterminated tag: b"},
      {L"<b", "Unterminated tag"},
      {L"<a x=\"1", "Unterminated attribute"},
      {L"&amp", "Unterminated entity"},
      {L"<!-- x", "Unterminated comment"},
      {L"<!-->", "Unterminated comment"},
      {L"<?x", "Unterminated header"},
      {L"<![CDATA[x", "Unterminated cdata"},
      {L"&#zz;", "Invalid character reference: &#zz;"},
      {L"&#;", "Invalid character reference: &#;"},
      {L"&#x110000;", "Invalid character reference: &#x110000;"},
      {L"&#99999999999;", "Invalid character reference: &#99999999999;"},
  };
  for (const Case& C : Cases) {
    TXMLParser P;
    try {
      P.Parse(C.Input);
      ADD_FAILURE() << "no error for " << Narrow(C.Input);
    } catch (const EXMLError& E) {
      EXPECT_EQ(std::string(E.what()), C.Error) << Narrow(C.Input);
    }
  }
}

TEST(XMLParser, NestingIsBoundedAtNinetyNine) {
  auto Nested = [](int N) {
    std::wstring S;
    for (int I = 0; I < N; ++I) S += L"<a>";
    S += L"x";
    for (int I = 0; I < N; ++I) S += L"</a>";
    return S;
  };
  TXMLParser P;
  EXPECT_NO_THROW(P.Parse(Nested(99)));
  try {
    P.Parse(Nested(100));
    ADD_FAILURE() << "100 levels parsed";
  } catch (const EXMLError& E) {
    EXPECT_STREQ(E.what(), "Too deep nesting");
  }
}

TEST(XMLParser, EscapeIsTheReverse) {
  EXPECT_EQ(Narrow(XMLEscape(L"\"&<>'")), "&quot;&amp;&lt;&gt;'");
  TXMLParser P;
  std::wstring Text = L"a<b>&\"c'";
  EXPECT_EQ(Narrow(P.Parse(XMLEscape(Text))), Narrow(Text));
}

// Every predefined entity and every form of character reference, in text and in attribute
// values (which are decoded the same way), and the escaping that reverses them.
TEST(XMLParser, EveryEntityAndCharacterReferenceForm) {
  struct Case {
    const wchar_t* Reference;
    const wchar_t* Text;  // nullptr: an error naming the reference
  } Cases[] = {
      {L"&lt;", L"<"},          {L"&LT;", L"<"},          {L"&Lt;", L"<"},
      {L"&gt;", L">"},          {L"&GT;", L">"},          {L"&gT;", L">"},
      {L"&quot;", L"\""},      {L"&QUOT;", L"\""},      {L"&qUoT;", L"\""},
      {L"&amp;", L"&"},         {L"&AMP;", L"&"},         {L"&Amp;", L"&"},
      {L"&apos;", L"'"},        {L"&APOS;", L"'"},        {L"&aPos;", L"'"},
      {L"&nbsp;", L"?nbsp?"},   {L"&;", L"??"},           {L"&lt ;", L"?lt ?"},
      {L"&#65;", L"A"},         {L"&#0065;", L"A"},       {L"&#9;", L"\t"},
      {L"&#x41;", L"A"},        {L"&#x6a;", L"j"},        {L"&#x6A;", L"j"},
      {L"&#x00e9;", L"\u00e9"}, {L"&#xFFFD;", L"\uFFFD"}, {L"&#65535;", L"\uFFFF"},
      {L"&#x10000;", L"\xD800\xDC00"},                   {L"&#1114111;", L"\xDBFF\xDFFF"},
      {L"&#x10FFFF;", L"\xDBFF\xDFFF"},
      {L"&#X41;", nullptr},     {L"&#x;", nullptr},       {L"&#0;", nullptr},
      {L"&#xD800;", nullptr},   {L"&#57343;", nullptr},   {L"&#1114112;", nullptr},
      {L"&#-1;", nullptr},      {L"&#4a;", nullptr},      {L"&#xg;", nullptr},
  };
  for (const Case& C : Cases) {
    std::wstring Ref = C.Reference;
    for (bool InAttribute : {false, true}) {
      Recorder P;
      std::wstring Input = InAttribute ? L"<t v=\"x" + Ref + L"y\"/>" : L"x" + Ref + L"y";
      try {
        WideString Root = P.Parse(Input);
        ASSERT_NE(C.Text, nullptr) << Narrow(Input) << " gave " << Narrow(Root);
        std::wstring Want = std::wstring(L"x") + C.Text + L"y";
        if (InAttribute)
          EXPECT_EQ(Narrow(P.Events), Narrow(L"open(t v=" + Want + L") close(t,) close(,{}) ")) << Narrow(Input);
        else
          EXPECT_EQ(Narrow(Root), Narrow(Want)) << Narrow(Input);
      } catch (const EXMLError& E) {
        EXPECT_EQ(C.Text, nullptr) << Narrow(Input) << ": " << E.what();
        EXPECT_EQ(std::string(E.what()), "Invalid character reference: " + Narrow(Ref)) << Narrow(Input);
      }
    }
  }
  // Escaping writes each of the four as its reference, keeps everything else, and parses back.
  struct Escape {
    const wchar_t* Text;
    const char* Escaped;
  } Escapes[] = {{L"\"", "&quot;"}, {L"&", "&amp;"}, {L"<", "&lt;"}, {L">", "&gt;"}, {L"'", "'"},
                 {L"a\u00e9\xD83D\xDE00;#", "a\xC3\xA9\xF0\x9F\x98\x80;#"}};
  for (const Escape& E : Escapes) {
    EXPECT_EQ(Narrow(XMLEscape(E.Text)), E.Escaped);
    TXMLParser P;
    EXPECT_EQ(Narrow(P.Parse(XMLEscape(E.Text))), Narrow(E.Text));
  }
}

// Cut at every point and damaged at random: either a root text or the parser's own error.
TEST(XMLParser, MalformedInputOnlyEverGivesItsError) {
  const std::wstring Seeds[] = {
      L"<b>bold <i a=\"1\" c=\"&lt;x&#x41;\">it</i></b> &amp; <![CDATA[<raw>]]> <!-- note --> <?h?> t<br/>",
      L"<span class=\"Regular\">\x5BF9\x97F3\x9891</span><a href=\"kvplug?url:x\">x</a>",
  };
  const wchar_t Alphabet[] = L"<>/&;#x=\" ![]-?CDATAab1\xD800";
  std::mt19937 Rng(1234);
  int Parsed = 0, Errors = 0;
  auto Try = [&](const std::wstring& S) {
    Recorder R;
    try {
      R.Parse(S);
      ++Parsed;
    } catch (const EXMLError&) {
      ++Errors;
    }
  };
  for (const std::wstring& Seed : Seeds) {
    for (size_t Cut = 0; Cut <= Seed.size(); ++Cut) Try(Seed.substr(0, Cut));
    for (int Round = 0; Round < 2000; ++Round) {
      std::wstring S = Seed;
      int Edits = 1 + static_cast<int>(Rng() % 4);
      for (int E = 0; E < Edits && !S.empty(); ++E) {
        size_t At = Rng() % S.size();
        switch (Rng() % 3) {
          case 0: S[At] = Alphabet[Rng() % (sizeof Alphabet / sizeof *Alphabet - 1)]; break;
          case 1: S.erase(At, 1 + Rng() % 3); break;
          default: S.insert(At, 1, Alphabet[Rng() % (sizeof Alphabet / sizeof *Alphabet - 1)]);
        }
      }
      Try(S);
    }
  }
  EXPECT_GT(Parsed, 0);
  EXPECT_GT(Errors, 0);
}

}  // namespace
