// Wide text properties in form resources, wide shadows and component helpers.
#include <gtest/gtest.h>

#include <memory>
#include <new>
#include <random>

#include "classlib/TypInfo.h"
#include "classlib/WinApi.h"
#include "unicode/TestConfig.h"
#include "unicode/UniClasses.h"
#include "unicode/UniSysUtils.h"

namespace {
class TTestControl : public TComponent {
 public:
  explicit TTestControl(TComponent* AOwner) : TComponent(AOwner), FLines(new TUniStringList) {}
  ~TTestControl() override { delete FLines; }
  WideString Caption() const { return FCaption; }
  void SetCaption(const WideString& V) { FCaption = V; }
  wchar_t PasswordChar() const { return FPasswordChar; }
  void SetPasswordChar(wchar_t V) { FPasswordChar = V; }
  int Width() const { return FWidth; }
  void SetWidth(int V) { FWidth = V; }
  TUniStringList* Lines() const { return FLines; }
  void DefineProperties(TFiler* Filer) override {
    TComponent::DefineProperties(Filer);
    DefineWideProperties(Filer, this);
  }

 private:
  WideString FCaption;
  wchar_t FPasswordChar = 0;
  int FWidth = 0;
  TUniStringList* FLines;
};

void RegisterTestControl() {
  RegisterPublished<TTestControl, TComponent>(
      "TTestControl", {IntProp("Width", &TTestControl::Width, &TTestControl::SetWidth),
                       WideStrProp("Caption", &TTestControl::Caption, &TTestControl::SetCaption),
                       WideCharProp("PasswordChar", &TTestControl::PasswordChar, &TTestControl::SetPasswordChar),
                       ObjProp("Lines", &TTestControl::Lines)});
}

// A form of one TTestControl named Form1 whose properties Props writes.
std::string Form(const std::function<void(TWriter&)>& Props) {
  TMemoryStream m;
  TWriter w(&m);
  w.WriteSignature();
  w.WriteStr("TTestControl");
  w.WriteStr("Form1");
  Props(w);
  w.WriteListEnd();
  w.WriteListEnd();
  return std::string(static_cast<const char*>(m.Memory()), (size_t)m.Size());
}

std::unique_ptr<TTestControl> Load(const std::string& Bytes) {
  TMemoryStream m;
  m.WriteBuffer(Bytes.data(), (int32_t)Bytes.size());
  m.SetPosition(0);
  auto c = std::make_unique<TTestControl>(nullptr);
  TReader r(&m);
  r.ReadRootComponent(c.get());
  return c;
}

WideString LoadError(const std::string& Bytes) {
  try {
    Load(Bytes);
  } catch (const Exception& e) {
    return e.Message();
  }
  return L"<loaded>";
}

std::vector<WideString> Lines(const TWideStrings& L) {
  std::vector<WideString> r;
  for (int i = 0; i < L.Count(); ++i) r.push_back(L.Get(i));
  return r;
}

class WideProperties : public ::testing::Test {
 protected:
  void SetUp() override { RegisterTestControl(); }
};
}  // namespace

TEST_F(WideProperties, WrittenFormsLoadBackWithoutTheExtraProperties) {
  TTestControl c(nullptr);
  c.SetName("Form1");
  c.SetWidth(300);
  c.SetCaption(L"\u4e2d\u6587 caption");
  c.SetPasswordChar(L'\u2022');
  c.Lines()->Add(L"a");
  c.Lines()->Add(L"\u97f3");
  TMemoryStream m;
  TWriter(&m).WriteRootComponent(&c);
  std::string bytes(static_cast<const char*>(m.Memory()), (size_t)m.Size());
  EXPECT_EQ(bytes.find("CaptionW"), std::string::npos);
  EXPECT_EQ(bytes.find("_UTF7"), std::string::npos);
  EXPECT_EQ(bytes.find("WideStrings"), std::string::npos);
  EXPECT_NE(bytes.find("Lines.Strings"), std::string::npos);
  auto back = Load(bytes);
  EXPECT_EQ(back->Width(), 300);
  EXPECT_EQ(back->Caption(), c.Caption());
  EXPECT_EQ(back->PasswordChar(), L'\u2022');
  EXPECT_EQ(Lines(*back->Lines()), Lines(*c.Lines()));
  EXPECT_EQ(back->Name(), "Form1");
}

TEST_F(WideProperties, TheWAndUtf7PropertiesOfATextAreReadAndDropped) {
  for (bool wFirst : {false, true}) {
    auto c = Load(Form([&](TWriter& w) {
      if (!wFirst) {
        w.WriteStr("Caption");
        w.WriteWideString(L"\u4e2d plain");
      }
      w.WriteStr("CaptionW");
      w.WriteString("other");
      w.WriteStr("Caption_UTF7");
      w.WriteString("+Ti0-");
      if (wFirst) {
        w.WriteStr("Caption");
        w.WriteWideString(L"\u4e2d plain");
      }
    }));
    EXPECT_EQ(c->Caption(), L"\u4e2d plain") << wFirst;
  }
  // An owned control of the form: its W property is dropped the same way.
  TMemoryStream m;
  TWriter w(&m);
  w.WriteSignature();
  w.WriteStr("TTestControl");
  w.WriteStr("Form1");
  w.WriteListEnd();
  w.WriteStr("TTestControl");
  w.WriteStr("Button1");
  w.WriteStr("CaptionW");
  w.WriteWideString(L"\u6587 W");
  w.WriteStr("Caption");
  w.WriteWideString(L"\u6309\u94ae");
  w.WriteListEnd();
  w.WriteListEnd();
  w.WriteListEnd();
  auto form = Load(std::string(static_cast<const char*>(m.Memory()), (size_t)m.Size()));
  ASSERT_EQ(form->ComponentCount(), 1);
  auto* button = dynamic_cast<TTestControl*>(form->Components(0));
  ASSERT_NE(button, nullptr);
  EXPECT_EQ(button->Name(), "Button1");
  EXPECT_EQ(button->Caption(), L"\u6309\u94ae");
  EXPECT_EQ(button->ComponentState() & csLoading, 0u) << "loaded";

  EXPECT_EQ(LoadError(Form([](TWriter& w) {
              w.WriteStr("CaptionX");
              w.WriteString("x");
            })),
            L"Property CaptionX does not exist");
}

TEST_F(WideProperties, TheWPropertyOfACharacterNeedsExactlyOneCharacter) {
  struct { std::function<void(TWriter&)> value; wchar_t ch; const wchar_t* error; } cases[] = {
      {[](TWriter& w) { w.WriteString("A"); }, L'A', nullptr},
      {[](TWriter& w) { w.WriteWideString(L"\u4e2d"); }, L'\u4e2d', nullptr},
      {[](TWriter& w) { w.WriteString("AB"); }, 0, L"Invalid property value"},
      {[](TWriter& w) { w.WriteWideString(L"\u4e2d\u6587"); }, 0, L"Invalid property value"},
      {[](TWriter& w) { w.WriteWideString(L""); }, 0, L"Invalid property value"},
      {[](TWriter& w) { w.WriteString(""); }, 0, L"Invalid property value"},
      {[](TWriter& w) { w.WriteInteger(65); }, 0, L"Invalid property value"},
      {[](TWriter& w) { w.WriteString(AnsiString(300, 'x')); }, 0, L"Invalid property value"},
  };
  int n = 0;
  for (auto& c : cases) {
    std::string form = Form([&](TWriter& w) {
      w.WriteStr("PasswordCharW");
      c.value(w);
    });
    if (c.error) {
      EXPECT_EQ(LoadError(form), c.error) << n;
    } else {
      EXPECT_EQ(Load(form)->PasswordChar(), c.ch) << n;
    }
    ++n;
  }
}

TEST_F(WideProperties, TheUtf7PropertyOfACharacter) {
  auto load = [](const char* utf7) {
    return Load(Form([&](TWriter& w) {
             w.WriteStr("PasswordChar");
             w.WriteString("x");
             w.WriteStr("PasswordChar_UTF7");
             w.WriteString(utf7);
           }))->PasswordChar();
  };
  EXPECT_EQ(load("+Ti0"), L'\u4e2d');
  EXPECT_EQ(load("+Ti0-a"), L'\u4e2d');
  EXPECT_EQ(load(""), L'\0');
  EXPECT_EQ(LoadError(Form([](TWriter& w) {
              w.WriteStr("PasswordChar_UTF7");
              w.WriteString("+");
            })),
            L"Invalid UTF7");
}

TEST_F(WideProperties, ListPropertiesOfWideStringLists) {
  // "WideStrings" as one text, 8-bit or wide.
  auto c = Load(Form([](TWriter& w) {
    w.WriteStr("Lines.WideStrings");
    w.WriteString("a\r\nb");
  }));
  EXPECT_EQ(Lines(*c->Lines()), (std::vector<WideString>{L"a", L"b"}));
  c = Load(Form([](TWriter& w) {
    w.WriteStr("Lines.WideStrings");
    w.WriteWideString(L"\u4e2d\r\n\u6587");
  }));
  EXPECT_EQ(Lines(*c->Lines()), (std::vector<WideString>{L"\u4e2d", L"\u6587"}));
  // As a list of mixed items.
  c = Load(Form([](TWriter& w) {
    w.WriteStr("Lines.WideStrings");
    w.WriteListBegin();
    w.WriteString("short");
    w.WriteString(AnsiString(300, 'L'));
    w.WriteWideString(L"\u4e2d");
    w.WriteListEnd();
  }));
  EXPECT_EQ(Lines(*c->Lines()), (std::vector<WideString>{L"short", WideString(300, L'L'), L"\u4e2d"}));
  // "WideStringsW" (UTF-8) fills an empty list and leaves a filled one alone; the UTF-7 list
  // is read and dropped.
  auto utf8 = [](TWriter& w) {
    w.WriteStr("Lines.WideStringsW");
    w.WriteListBegin();
    w.WriteString("\xE4\xB8\xAD");
    w.WriteString("z");
    w.WriteListEnd();
    w.WriteStr("Lines.WideStrings_UTF7");
    w.WriteListBegin();
    w.WriteString("+Ti0");
    w.WriteListEnd();
  };
  c = Load(Form(utf8));
  EXPECT_EQ(Lines(*c->Lines()), (std::vector<WideString>{L"\u4e2d", L"z"}));
  c = Load(Form([&](TWriter& w) {
    w.WriteStr("Lines.Strings");
    w.WriteListBegin();
    w.WriteString("kept");
    w.WriteListEnd();
    utf8(w);
  }));
  EXPECT_EQ(Lines(*c->Lines()), (std::vector<WideString>{L"kept"}));
}

TEST_F(WideProperties, MalformedFormsRaiseReadErrors) {
  std::string good = Form([](TWriter& w) {
    w.WriteStr("Caption");
    w.WriteWideString(L"\u4e2d\u6587");
    w.WriteStr("PasswordCharW");
    w.WriteWideString(L"*");
    w.WriteStr("Lines.WideStrings");
    w.WriteListBegin();
    w.WriteString("a");
    w.WriteListEnd();
  });
  ASSERT_EQ(LoadError(good), L"<loaded>");
  for (size_t cut = 0; cut < good.size(); ++cut) EXPECT_NE(LoadError(good.substr(0, cut)), L"<loaded>") << cut;
  // A wide string claiming two billion characters.
  std::string huge = Form([](TWriter& w) {
    w.WriteStr("Caption");
    w.WriteValue(vaWString);
    uint32_t n = 0x7FFFFFFF;
    w.Stream()->WriteBuffer(&n, 4);
  });
  EXPECT_EQ(LoadError(huge), L"Stream read error");
  // Random damage: every form either loads or raises a class-library exception.
  std::mt19937 rng(11);
  for (int i = 0; i < 500; ++i) {
    std::string bad = good;
    for (int k = 0; k < 3; ++k) bad[4 + rng() % (bad.size() - 4)] = (char)rng();
    LoadError(bad);
  }
  // Lists nested beyond any form's depth.
  std::string deep = Form([](TWriter& w) {
    w.WriteStr("Width");
    for (int i = 0; i < 100000; ++i) w.WriteListBegin();
  });
  EXPECT_NE(LoadError(deep), L"<loaded>");
}

TEST(WideShadows, TheShadowFollowsChangesBehindItAndSignalsLossyWrites) {
  const WideString lossy1 = L"\u0e01", lossy2 = L"\u0e02";  // Thai: neither code page has them
  WideString shadow = L"x";
  EXPECT_EQ(ReadWideShadow(shadow, "x"), L"x");
  EXPECT_EQ(ReadWideShadow(shadow, "y"), L"y") << "changed behind the shadow";
  EXPECT_EQ(shadow, L"y");

  AnsiString ansi = WideToAnsi(lossy2);
  ASSERT_EQ(ansi, "?");
  shadow = lossy2;
  std::vector<AnsiString> calls;
  auto setAnsi = [&](const AnsiString& V) {
    calls.push_back(V);
    ansi = V;
  };
  WriteWideShadow(lossy1, shadow, ansi, setAnsi);
  EXPECT_EQ(calls, (std::vector<AnsiString>{"", "?"})) << "the 8-bit value changes visibly";
  EXPECT_EQ(shadow, lossy1);
  EXPECT_EQ(ReadWideShadow(shadow, ansi), lossy1);
  calls.clear();
  WriteWideShadow(lossy1, shadow, ansi, setAnsi);
  EXPECT_TRUE(calls.empty());
  WriteWideShadow(L"plain", shadow, ansi, setAnsi);
  EXPECT_EQ(calls, std::vector<AnsiString>{"plain"});
  EXPECT_EQ(shadow, L"plain");
}

// Components whose addresses agree in their low 32 bits (in a 64-bit process; 256 MB apart in a
// 32-bit one) each keep their own helper.
TEST(ComponentHelpers, AddressesAreComparedAtTheirFullWidth) {
  const uint64_t apart = sizeof(void*) == 8 ? 0x100000000ull : 0x10000000ull;
  const uint64_t step = sizeof(void*) == 8 ? 0x1000000000ull : 0x1000000ull;
  void* blocks[2] = {};
  for (uint64_t base = step; base < (sizeof(void*) == 8 ? 64 * step : 0x60000000ull) && !blocks[1]; base += step) {
    blocks[0] = VirtualAlloc(reinterpret_cast<void*>((uintptr_t)base), 65536, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
    blocks[1] = blocks[0] ? VirtualAlloc(reinterpret_cast<void*>((uintptr_t)(base + apart)), 65536,
                                         MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE)
                          : nullptr;
    if (blocks[0] && !blocks[1]) VirtualFree(blocks[0], 0, MEM_RELEASE);
  }
  ASSERT_NE(blocks[1], nullptr) << "no two free blocks " << apart << " bytes apart";
  static_assert(sizeof(TComponent) <= 65536);
  TComponent* a = ::new (blocks[0]) TComponent(nullptr);
  TComponent* b = ::new (blocks[1]) TComponent(nullptr);
  auto* list = new TWideComponentHelperList;
  new TWideComponentHelper(b, list);
  EXPECT_EQ(FindWideComponentHelper(list, a), nullptr);
  new TWideComponentHelper(a, list);
  ASSERT_EQ(list->Count(), 2);
  EXPECT_EQ(list->Items(0)->Component(), a);
  EXPECT_EQ(FindWideComponentHelper(list, a)->Component(), a);
  EXPECT_EQ(FindWideComponentHelper(list, b)->Component(), b);
  delete list;
  a->~TComponent();
  b->~TComponent();
  for (void* p : blocks) VirtualFree(p, 0, MEM_RELEASE);
}

TEST(ComponentHelpers, SortedByAddressAndFreedWithTheirComponents) {
  auto* list = new TWideComponentHelperList;
  std::vector<TComponent*> comps;
  for (int i = 0; i < 6; ++i) comps.push_back(new TComponent(nullptr));
  for (int i : {3, 0, 5, 1, 4, 2}) new TWideComponentHelper(comps[i], list);
  ASSERT_EQ(list->Count(), 6);
  for (int i = 1; i < list->Count(); ++i)
    EXPECT_LT(reinterpret_cast<intptr_t>(list->Items(i - 1)->Component()),
              reinterpret_cast<intptr_t>(list->Items(i)->Component()));
  for (TComponent* c : comps) {
    ASSERT_NE(FindWideComponentHelper(list, c), nullptr);
    EXPECT_EQ(FindWideComponentHelper(list, c)->Component(), c);
  }
  delete comps[2];
  EXPECT_EQ(list->Count(), 5);
  EXPECT_EQ(FindWideComponentHelper(list, comps[2]), nullptr);
  TComponent stranger(nullptr);
  EXPECT_EQ(FindWideComponentHelper(list, &stranger), nullptr);
  // The list frees the helpers left; their components go on without them.
  delete list;
  for (int i : {0, 1, 3, 4, 5}) delete comps[i];

  try {
    TWideComponentHelper plain(nullptr);
    ADD_FAILURE() << "constructed";
  } catch (const EUniInternalError& e) {
    EXPECT_EQ(e.Message(), L"Internal Error: TWideComponentHelper.Create should never be encountered.");
  }
}
