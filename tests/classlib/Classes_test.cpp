#include "classlib/Classes.h"

#include <gtest/gtest.h>
#include "classlib/WinApi.h"

#include <string>
#include <vector>

namespace {
std::vector<std::string> gLog;

class TProbe : public TComponent {
 public:
  TProbe(TComponent* Owner, const char* N) : TComponent(Owner) { SetName(N); }
  ~TProbe() override { gLog.push_back("free " + Name()); }
  TComponent* Watched = nullptr;
  void Watch(TComponent* C) {
    Watched = C;
    C->FreeNotification(this);
  }

 protected:
  void Notification(TComponent* C, TOperation Op) override {
    TComponent::Notification(C, Op);
    if (Op == opRemove && C == Watched) {
      gLog.push_back(Name() + " lost " + C->Name());
      Watched = nullptr;
    }
  }
};
}  // namespace

TEST(Components, OwnerFreesOwnedLastFirstAndNotifies) {
  gLog.clear();
  auto* owner = new TProbe(nullptr, "owner");
  auto* a = new TProbe(owner, "a");
  new TProbe(owner, "b");
  auto* outsider = new TProbe(nullptr, "outsider");
  outsider->Watch(a);
  EXPECT_EQ(owner->ComponentCount(), 2);
  EXPECT_EQ(owner->FindComponent("B")->Name(), "b");
  delete owner;
  // Destructors run most-derived first, so each probe logs before its base tells the watchers.
  EXPECT_EQ(gLog, (std::vector<std::string>{"free owner", "free b", "free a", "outsider lost a"}));
  // The outsider was told and no longer refers to a.
  EXPECT_EQ(outsider->Watched, nullptr);
  delete outsider;
}

TEST(Components, WatcherDestroyedFirstIsForgotten) {
  gLog.clear();
  auto* src = new TProbe(nullptr, "src");
  auto* w = new TProbe(nullptr, "w");
  w->Watch(src);
  delete w;
  delete src;  // must not call into the freed watcher
  EXPECT_EQ(gLog, (std::vector<std::string>{"free w", "free src"}));
}

TEST(Lists, IndexErrorsAndOrder) {
  TList l;
  int a, b, c;
  l.Add(&a);
  l.Add(&b);
  l.Insert(0, &c);
  EXPECT_EQ(l.IndexOf(&a), 1);
  l.Move(0, 2);
  EXPECT_EQ(l.Items(2), &c);
  EXPECT_EQ(l.Remove(&b), 1);
  EXPECT_EQ(l.Count(), 2);
  EXPECT_THROW(l.Items(2), EListError);
  EXPECT_THROW(l.Delete(-1), EListError);
}

TEST(StringLists, SortedDuplicatesAndText) {
  TStringList s;
  s.SetText("b\r\na\nc\r\rlast");
  ASSERT_EQ(s.Count(), 5);
  EXPECT_EQ(s.Strings(3), "");
  EXPECT_EQ(s.Text(), "b\r\na\r\nc\r\n\r\nlast\r\n");
  s.Clear();
  s.SetSorted(true);
  for (const char* x : {"pear", "Apple", "fig", "apple"}) s.Add(x);
  EXPECT_EQ(s.Count(), 3);  // dupIgnore, case-insensitive by default
  EXPECT_EQ(s.Strings(0), "Apple");
  EXPECT_EQ(s.IndexOf("FIG"), 1);
  s.SetDuplicates(dupError);
  EXPECT_THROW(s.Add("PEAR"), EStringListError);
  EXPECT_THROW(s.Insert(0, "x"), EStringListError);
  s.SetDuplicates(dupAccept);
  s.Add("fig");
  EXPECT_EQ(s.Count(), 4);
  TStringList v;
  v.SetCommaText("a=1, \"b c=2\",\"q\"\"x\"");
  EXPECT_EQ(v.Values("B C"), "2");
  EXPECT_EQ(v.Strings(2), "q\"x");
  EXPECT_EQ(v.CommaText(), "a=1,\"b c=2\",\"q\"\"x\"");
}

TEST(Streams, MemoryStreamGrowsAndReads) {
  TMemoryStream m;
  const char text[] = "0123456789";
  m.WriteBuffer(text, 10);
  m.SetPosition(20);
  m.WriteBuffer(text, 5);
  EXPECT_EQ(m.Size(), 25);
  m.SetPosition(8);
  char buf[16] = {};
  EXPECT_EQ(m.Read(buf, 16), 16);
  EXPECT_EQ(std::string(buf, 4), std::string("89\0\0", 4));
  EXPECT_THROW(m.ReadBuffer(buf, 2), EReadError);
  m.SetSize(3);
  EXPECT_EQ(m.Position(), 3);
}

TEST(Streams, FileStreamModesAndErrors) {
  char dir[MAX_PATH];
  GetTempPathA(MAX_PATH, dir);
  AnsiString name = AnsiString(dir) + "classlib_stream_test.bin";
  {
    TFileStream f(name, fmCreate);
    std::vector<char> big(300000, 'z');
    f.WriteBuffer(big.data(), (int32_t)big.size());
    EXPECT_EQ(f.Size(), 300000);
  }
  {
    TFileStream f(name, fmOpenReadWrite | fmShareDenyWrite);
    EXPECT_EQ(f.Seek(-10, soEnd), 299990);
    f.SetSize(100);
    EXPECT_EQ(f.Size(), 100);
    TMemoryStream m;
    m.CopyFrom(&f, 0);
    EXPECT_EQ(m.Size(), 100);
  }
  DeleteFileA(name.c_str());
  try {
    TFileStream f(name, fmOpenRead);
    ADD_FAILURE();
  } catch (const EFOpenError& e) {
    EXPECT_EQ(e.Message().rfind(L"Cannot open file \"", 0), 0u);
  }
}
