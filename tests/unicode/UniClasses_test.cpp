// Wide string lists: loading with byte-order marks, saving, sorting, duplicates, notifications,
// the 8-bit view, and the file stream opened by a wide name.
#include <gtest/gtest.h>

#include <memory>
#include <random>

#include "classlib/WinApi.h"
#include "unicode/TestConfig.h"
#include "unicode/UniClasses.h"
#include "unicode/UniSysUtils.h"
#include "unicode/UniSystem.h"

namespace {
std::vector<WideString> Lines(const TWideStrings& L) {
  std::vector<WideString> r;
  for (int i = 0; i < L.Count(); ++i) r.push_back(L.Get(i));
  return r;
}

std::string StreamBytes(TMemoryStream& M) {
  return std::string(static_cast<const char*>(M.Memory()), (size_t)M.Size());
}

template <class E, class F>
void ExpectError(F Fn, const WideString& Message) {
  try {
    Fn();
    ADD_FAILURE() << "nothing raised";
  } catch (const E& e) {
    EXPECT_EQ(e.Message(), Message);
  }
}
}  // namespace

TEST(StringListFiles, EncodingsAreDetectedFromTheByteOrderMark) {
  using V = std::vector<WideString>;
  struct { std::string bytes; V lines; TUniTextEncoding enc; } cases[] = {
      {std::string("\xFF\xFE" "A\0\r\0\n\0B\0", 10), V{L"A", L"B"}, encUtf16LE},
      {std::string("\xFE\xFF\0A", 4), V{L"A"}, encUtf16BE},
      {std::string("\xFE\xFF\0a\0\0\0b", 8), V{L"a"}, encUtf16BE},
      {std::string("\xFF\xFE" "a\0\0\0b\0", 8), V{L"a"}, encUtf16LE},
      {std::string("\xFF\xFE" "a\0b", 5), V{L"a"}, encUtf16LE},  // an odd last byte is dropped
      {"\xFF\xFE", V{}, encUtf16LE},
      {"\xFF\xFE" "a", V{}, encUtf16LE},
      {"\xEF\xBB\xBF\xE4\xB8\xAD\r\nx", V{L"\u4e2d", L"x"}, encUtf8},
      {"\xEF\xBB\xBF", V{}, encUtf8},
      {"x", V{L"x"}, encAnsi},
      {"", V{}, encAnsi},
      {"a\rb\nc\r\nd", V{L"a", L"b", L"c", L"d"}, encAnsi},
      {std::string("ab\0cd", 5), V{L"ab"}, encAnsi},
      {"\xE4\xB8\xAD", V{AnsiToWide("\xE4\xB8\xAD")}, encAnsi},  // no mark: the system code page
      {"\xEF\xBB", V{AnsiToWide("\xEF\xBB")}, encAnsi},
  };
  TempDir dir(L"encodings");
  int n = 0;
  for (auto& c : cases) {
    WideString name = dir / (L"f" + std::to_wstring(n++) + L".txt");
    WriteFileBytes(name, c.bytes);
    TUniStringList list;
    list.Add(L"old");
    list.LoadFromFile(name);
    EXPECT_EQ(Lines(list), c.lines) << n;
    EXPECT_EQ(list.LastLoadedEncoding(), c.enc) << n;
  }
}

TEST(StringListFiles, SavingWritesUtf16WithAMark) {
  TUniStringList list;
  EXPECT_EQ(list.LastLoadedEncoding(), encUtf16LE);
  TMemoryStream empty;
  list.SaveToStream(&empty);
  EXPECT_EQ(StreamBytes(empty), "\xFF\xFE");
  list.Add(L"a");
  list.Add(L"b");
  TMemoryStream m;
  list.SaveToStream(&m);
  EXPECT_EQ(StreamBytes(m), std::string("\xFF\xFE" "a\0\r\0\n\0b\0\r\0\n\0", 14));
  TMemoryStream bare;
  list.SaveToStreamEx(&bare, false);
  EXPECT_EQ(StreamBytes(bare), std::string("a\0\r\0\n\0b\0\r\0\n\0", 12));
  bare.SetPosition(0);
  TUniStringList back;
  back.LoadFromStreamEx(&bare, false);
  EXPECT_EQ(Lines(back), Lines(list));
}

TEST(StringListFiles, ChineseFileNameSaveAndLoad) {
  TempDir dir(L"listfile");
  WideString name = dir / L"\u5217\u8868.txt";
  TUniStringList list;
  list.Add(L"\u4e2d\u6587");
  list.Add(L"line two");
  if (!TestConfig().NT() && TestConfig().CodePage != 936) {
    ExpectError<EFCreateError>([&] { list.SaveToFile(name); },
                               L"Cannot create file \"" + WideExpandFileName(name) + L"\". " +
                                   WideSysErrorMessage(ERROR_INVALID_NAME));
    return;
  }
  list.SaveToFile(name);
  EXPECT_TRUE(WideFileExists(name));
  TUniStringList back;
  back.LoadFromFile(name);
  EXPECT_EQ(Lines(back), Lines(list));
  EXPECT_EQ(back.LastLoadedEncoding(), encUtf16LE);
}

TEST(StringListFiles, OpenAndCreateErrorsNameTheFullPath) {
  TempDir dir(L"errors");
  WideString missing = dir / L"missing.txt";
  try {
    TUniFileStream s(missing, fmOpenRead);
    ADD_FAILURE() << "opened a missing file";
  } catch (const EFOpenError& e) {
    WideString head = L"Cannot open file \"" + WideExpandFileName(missing) + L"\". ";
    EXPECT_EQ(e.Message().substr(0, head.size()), head);
    EXPECT_GT(e.Message().size(), head.size()) << "the system's message follows";
  }
  EXPECT_THROW(TUniFileStream(dir / L"no\\such\\f.txt", fmUniCreate), EFCreateError);
  EXPECT_THROW(TUniFileStream(missing, 0x50), EFOpenError) << "a mode outside the tables";

  // Loading denies writing, so it fails while another handle writes the file.
  WideString busy = dir / L"busy.txt";
  WriteFileBytes(busy, "x");
  HANDLE w = CreateFileW(busy.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                         nullptr);
  ASSERT_NE(w, INVALID_HANDLE_VALUE);
  TUniStringList list;
  EXPECT_THROW(list.LoadFromFile(busy), EFOpenError);
  CloseHandle(w);
  list.LoadFromFile(busy);
  EXPECT_EQ(Lines(list), std::vector<WideString>{L"x"});
}

TEST(SortedLists, DuplicatesAndForbiddenOperations) {
  TUniStringList list;
  list.SetSorted(true);
  EXPECT_EQ(list.Add(L"b"), 0);
  EXPECT_EQ(list.Add(L"a"), 0);
  EXPECT_EQ(list.Add(L"B"), 1) << "ignored: the index of the line already there";
  EXPECT_EQ(list.Count(), 2);
  list.SetDuplicates(dupError);
  ExpectError<EStringListError>([&] { list.Add(L"A"); }, L"String list does not allow duplicates");
  EXPECT_EQ(list.Count(), 2);
  list.SetDuplicates(dupAccept);
  list.Add(L"c");
  EXPECT_EQ(list.Add(L"B"), 1) << "accepted at the leftmost equal line";
  EXPECT_EQ(Lines(list), (std::vector<WideString>{L"a", L"B", L"b", L"c"}));
  ExpectError<EStringListError>([&] { list.Insert(0, L"z"); }, L"Operation not allowed on sorted list");
  ExpectError<EStringListError>([&] { list.Put(0, L"z"); }, L"Operation not allowed on sorted list");
  EXPECT_EQ(list.IndexOf(L"C"), 3);
  EXPECT_EQ(list.IndexOf(L"d"), -1);
  int at;
  EXPECT_FALSE(list.Find(L"bb", at));
  EXPECT_EQ(at, 3);

  // Turning case sensitivity on re-sorts, so that searching still finds every line.
  TUniStringList mixed;
  mixed.SetSorted(true);
  mixed.SetDuplicates(dupAccept);
  for (const wchar_t* w : {L"b", L"A", L"a", L"B"}) mixed.Add(w);
  mixed.SetCaseSensitive(true);
  EXPECT_EQ(Lines(mixed), (std::vector<WideString>{L"A", L"B", L"a", L"b"}));
  EXPECT_EQ(mixed.IndexOf(L"a"), 2);
  EXPECT_EQ(mixed.IndexOf(L"B"), 1);

  TUniStringList values;
  values.Add(L"b=2");
  values.Add(L"a=1");
  values.Add(L"ab=3");
  values.SetSorted(true);
  EXPECT_EQ(values.IndexOfName(L"B"), values.IndexOf(L"b=2"));
  EXPECT_EQ(values.IndexOfName(L"c"), -1);
  EXPECT_EQ(values.Values(L"ab"), L"3");
}

TEST(UnsortedLists, IndexesCaseAndCapacity) {
  TUniStringList list;
  list.Add(L"abc");
  list.Add(L"x");
  list.Add(L"y");
  EXPECT_EQ(list.IndexOf(L"ABC"), 0) << "case-insensitive by default";
  list.SetCaseSensitive(true);
  EXPECT_EQ(list.IndexOf(L"ABC"), -1);
  ExpectError<EStringListError>([&] { list.Get(5); }, L"List index out of bounds (5)");
  ExpectError<EStringListError>([&] { list.Delete(-1); }, L"List index out of bounds (-1)");
  ExpectError<EStringListError>([&] { list.Exchange(0, 3); }, L"List index out of bounds (3)");
  ExpectError<EStringListError>([&] { list.InsertObject(4, L"z", nullptr); }, L"List index out of bounds (4)");
  list.InsertObject(3, L"end", &list);
  EXPECT_EQ(list.GetObject(3), &list);
  list.Exchange(0, 3);
  EXPECT_EQ(list.Get(0), L"end");
  EXPECT_EQ(list.GetObject(0), &list);
  EXPECT_EQ(list.Count(), 4);
  // A capacity below the count would drop lines: refused, the list unchanged.
  EXPECT_THROW(list.SetCapacity(2), EStringListError);
  EXPECT_EQ(Lines(list), (std::vector<WideString>{L"end", L"x", L"y", L"abc"}));

  TUniStringList grow;
  std::vector<int> capacities;
  for (int i = 0; i < 80; ++i) {
    grow.Add(L"l");
    if (capacities.empty() || capacities.back() != grow.GetCapacity()) capacities.push_back(grow.GetCapacity());
  }
  EXPECT_EQ(capacities, (std::vector<int>{4, 8, 12, 28, 44, 60, 76, 95}));
  grow.Clear();
  EXPECT_EQ(grow.GetCapacity(), 0);
}

TEST(UnsortedLists, SortAndCustomSort) {
  std::mt19937 rng(7);
  TUniStringList list;
  for (int i = 0; i < 300; ++i) list.AddObject(std::to_wstring(rng() % 100), reinterpret_cast<TObject*>(i + 1));
  std::vector<std::pair<WideString, TObject*>> before;
  for (int i = 0; i < list.Count(); ++i) before.push_back({list.Get(i), list.GetObject(i)});
  list.Sort();
  for (int i = 1; i < list.Count(); ++i) ASSERT_LE(WideCompareText(list.Get(i - 1), list.Get(i)), 0) << i;
  // Lines keep their objects.
  std::vector<std::pair<WideString, TObject*>> after;
  for (int i = 0; i < list.Count(); ++i) after.push_back({list.Get(i), list.GetObject(i)});
  std::sort(before.begin(), before.end());
  std::sort(after.begin(), after.end());
  EXPECT_EQ(before, after);

  TUniStringList words;
  for (const wchar_t* w : {L"b", L"c", L"a"}) words.Add(w);
  words.CustomSort([](TUniStringList* L, int A, int B) { return -WideCompareStr(L->Get(A), L->Get(B)); });
  EXPECT_EQ(Lines(words), (std::vector<WideString>{L"c", L"b", L"a"}));
  words.SetSorted(true);
  EXPECT_EQ(Lines(words), (std::vector<WideString>{L"a", L"b", L"c"}));
}

TEST(UnsortedLists, NotificationsWaitForTheEndOfAnUpdate) {
  int changes = 0, changings = 0;
  auto* list = new TUniStringList;
  list->OnChange = [&](TObject* Sender) {
    EXPECT_EQ(Sender, list);
    ++changes;
  };
  list->OnChanging = [&](TObject*) { ++changings; };
  list->Add(L"a");
  EXPECT_EQ(changes, 1);
  EXPECT_EQ(changings, 1);
  list->BeginUpdate();
  list->Add(L"b");
  list->Add(L"c");
  list->Delete(0);
  EXPECT_EQ(changes, 1);
  EXPECT_EQ(changings, 1) << "no Changing at BeginUpdate: the list is already updating";
  list->EndUpdate();
  EXPECT_EQ(changes, 2);
  list->SetText(L"x\r\ny");
  EXPECT_EQ(changes, 3) << "the whole text is one change";
  delete list;
  EXPECT_EQ(changes, 3) << "nothing while the list goes away";
}

TEST(AnsiView, LinesThroughTheCodePage) {
  TUniStringList list;
  list.Add(NameInCodePage());
  TAnsiStrings* ansi = list.AnsiStrings();
  EXPECT_EQ(ansi->Count(), 1);
  EXPECT_EQ(ansi->Get(0), WideToCodePage(NameInCodePage(), DefaultCodePage()));
  ansi->Add(WideToAnsi(L"caf\u00e9"));
  EXPECT_EQ(list.Get(1), AnsiToWide(WideToAnsi(L"caf\u00e9")));
  ansi->Delete(0);
  EXPECT_EQ(list.Count(), 1);

  TStringList source;
  source.Add("p");
  source.Add("q");
  list.SetAnsiStrings(&source);
  EXPECT_EQ(Lines(list), (std::vector<WideString>{L"p", L"q"}));

  TMemoryStream utf8;
  utf8.WriteBuffer("\xE4\xB8\xAD\r\nz", 6);
  utf8.SetPosition(0);
  ansi->LoadFromStreamEx(&utf8, 65001);
  EXPECT_EQ(Lines(list), (std::vector<WideString>{L"\u4e2d", L"z"}));
  TMemoryStream utf7;
  ansi->SaveToStreamEx(&utf7, 65000);
  EXPECT_EQ(StreamBytes(utf7), "+Ti0\r\nz\r\n");
}
