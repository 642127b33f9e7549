// The pull contract, converters' end handling, progress and the framework's errors.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>

#include "AudioTestUtil.h"
#include "audio/engine/AuClasses.h"

namespace {
std::vector<uint8_t> Ramp(size_t N) {
  std::vector<uint8_t> v(N);
  for (size_t i = 0; i < N; ++i) v[i] = (uint8_t)(i * 7);
  return v;
}
}  // namespace

TEST(AuInput, FillBufferAndCopyDataFollowThePullContract) {
  TMemIn in(Ramp(300), 16, 1, 44100);
  in.MaxChunk = 64;
  in.Init();
  std::vector<uint8_t> buf(1000);
  bool eof = false;
  EXPECT_EQ(in.FillBuffer(buf.data(), 1000, eof), 300u);
  EXPECT_TRUE(eof);
  EXPECT_EQ(std::vector<uint8_t>(buf.begin(), buf.begin() + 300), Ramp(300));
  in.Flush();

  TMemIn exact(Ramp(1000), 16, 1, 44100);
  exact.MaxChunk = 300;
  exact.Init();
  EXPECT_EQ(exact.FillBuffer(buf.data(), 1000, eof), 1000u);
  EXPECT_FALSE(eof);
  EXPECT_EQ(exact.CopyData(buf.data(), 10), 0u);  // nothing left
  exact.Flush();

  TMemIn raw(Ramp(500), 16, 1, 44100);
  raw.MaxChunk = 100;
  raw.Init();
  EXPECT_EQ(raw.FillBufferRaw(nullptr, 100, eof), 0u);
  EXPECT_EQ(raw.FillBufferRaw(buf.data(), 250, eof), 250u);
  EXPECT_EQ(raw.Position(), 500);  // the source counts 250, the raw fill 250 more
  raw.Flush();
}

TEST(AuInput, FailedInitEndsTheStreamAndRaisesItsMessage) {
  TMemIn in(Ramp(100), 16, 1, 44100);
  in.InitError = L"boom";
  TPassConverter conv(-1);
  conv.SetInput(&in);
  try {
    conv.Init();
    FAIL() << "Init did not raise";
  } catch (const EAuException& E) {
    EXPECT_EQ(E.Message(), L"boom");
  }
  void* p = &in;
  uint32_t n = 50;
  conv.GetData(p, n);
  EXPECT_EQ(n, 0u);
  EXPECT_EQ(p, nullptr);
}

TEST(AuConverter, CutsTheLastDeliveryBackToItsSizeAndLatchesTheEnd) {
  TMemIn in(Ramp(5000), 16, 1, 44100);
  in.MaxChunk = 600;
  TPassConverter conv(1000);
  conv.SetInput(&in);
  conv.Init();
  std::vector<uint32_t> sizes;
  for (int i = 0; i < 4; ++i) {
    void* p = nullptr;
    uint32_t n = 4096;
    conv.GetData(p, n);
    sizes.push_back(n);
  }
  EXPECT_EQ(sizes, (std::vector<uint32_t>{600, 400, 0, 0}));
  EXPECT_EQ(conv.Position(), 1000);  // counts what was delivered
  EXPECT_EQ(in.Pulls, 2);            // the end is latched: the source is not asked again
  conv.Flush();
  EXPECT_EQ(in.Flushes, 1);
}

TEST(AuConverter, InputChangesWhileBusy) {
  TMemIn a(Ramp(100), 16, 1, 44100), b(std::vector<uint8_t>(100, 9), 16, 1, 44100);
  TPassConverter conv(-1);
  conv.SetInput(&conv);  // itself: ignored
  EXPECT_EQ(conv.Input(), nullptr);
  conv.SetInput(&a);
  conv.Init();
  uint8_t buf[10];
  EXPECT_EQ(conv.CopyData(buf, 10), 10u);
  conv.SetInput(&b);  // a live swap
  EXPECT_EQ(a.Flushes, 1);
  EXPECT_EQ(b.Inits, 1);
  ASSERT_EQ(conv.CopyData(buf, 10), 10u);
  EXPECT_EQ(buf[0], 9);
  conv.SetInput(nullptr);  // busy without input: the end, no crash
  EXPECT_EQ(b.Flushes, 1);
  EXPECT_EQ(conv.CopyData(buf, 10), 0u);
  conv.Flush();
}

TEST(AuConverter, FreeingTheInputLeavesInputNil) {
  auto* in = new TMemIn(Ramp(100), 16, 2, 44100);
  TPassConverter conv(-1);
  TCheckOut out;
  conv.SetInput(in);
  out.SetInput(in);
  EXPECT_EQ(conv.Channels(), 2);
  delete in;
  EXPECT_EQ(conv.Input(), nullptr);
  EXPECT_EQ(out.Input(), nullptr);
  EXPECT_EQ(conv.Channels(), 0);
}

TEST(AuConverter, FormatComesFromTheInput) {
  TMemIn in(Ramp(10), 16 | 128, 2, 48000);
  TPassConverter conv(-1);
  EXPECT_EQ(conv.BitsPerSample(), 0);
  EXPECT_EQ(conv.SampleRate(), 0);
  conv.SetInput(&in);
  EXPECT_EQ(conv.BitsPerSample(), 16);  // bit 7 masked
  conv.SetUnmaskedBPS(true);
  EXPECT_EQ(conv.BitsPerSample(), 16 | 128);
  EXPECT_EQ(conv.SampleRate(), 48000);
  conv.Pause();
  conv.Resume();
  EXPECT_EQ(in.Pauses, 1);
  EXPECT_EQ(in.Resumes, 1);
}

TEST(AuOutput, ProgressIsTheRoundedShareOfTheInputConsumed) {
  TCheckOut out;
  EXPECT_EQ(out.Progress(), 0);  // no input
  TMemIn unknown(Ramp(10), 16, 1, 44100);
  unknown.UnknownSize = true;
  unknown.Init();
  out.SetInput(&unknown);
  EXPECT_EQ(out.Progress(), -1);
  unknown.Flush();
  TMemIn empty({}, 16, 1, 44100);
  empty.Init();
  out.SetInput(&empty);
  EXPECT_EQ(out.Progress(), 0);
  empty.Flush();

  TMemIn in(Ramp(1000), 16, 1, 44100);
  out.SetInput(&in);
  in.Init();
  struct Case { uint32_t Pull; int Expected; };
  // 125 bytes is 12.5 % and 375 bytes 37.5 %: halves go to the even neighbour.
  for (Case c : {Case{125, 12}, Case{250, 38}, Case{1, 38}, Case{624, 100}}) {
    void* p;
    uint32_t n = c.Pull;
    in.GetData(p, n);
    EXPECT_EQ(out.Progress(), c.Expected) << "after " << in.Position() << " bytes";
  }
  in.Flush();
}

TEST(AuOutput, ErrorsOfTheCaller) {
  TCheckOut out;
  EXPECT_EQ(MessageOf([&] { out.Run(); }), L"Input is not assigned");
  EXPECT_EQ(out.Status(), osIdle);
  EXPECT_EQ(MessageOf([&] { out.Pause(); }), L"Input is not assigned.");
  EXPECT_EQ(MessageOf([&] { out.BlockingRun(); }), L"Input is not assigned");
  out.Stop(true);  // idle: nothing visible
  out.Stop(false);
  EXPECT_EQ(out.Status(), osIdle);

  TMemIn in(Ramp(4000), 16, 1, 44100);
  in.DelayMs = 5;
  out.Chunk = 100;
  out.SetInput(&in);
  out.Run();  // assigned now: runs
  EXPECT_EQ(MessageOf([&] { out.Run(); }), L"Component is Busy");
  EXPECT_EQ(MessageOf([&] { out.BlockingRun(); }), L"Component is Busy");
  out.Stop(false);
  EXPECT_EQ(out.Status(), osIdle);
  EXPECT_EQ(out.Dones, 1);
}

TEST(AuClassesUnit, FloatingPointControlWordAndLibraryLock) {
  EXPECT_EQ(Get8087CW() & ~0x40, 0x133F);  // bit 6 is reserved and reads as set
  ASSERT_NE(LoadLibCS, nullptr);
  TLock l(*LoadLibCS);
  // Division by zero yields infinity instead of raising.
  volatile long double zero = 0;
  EXPECT_TRUE(std::isinf((long double)1 / zero));
}

namespace {
// A file input whose format hooks count their calls and do what the test says.
class TScriptedFileIn : public TAuFileIn {
 public:
  enum THook { LoadHook, OpenHook, ReopenHook, FailedHook, CloseHook, HookCount };
  explicit TScriptedFileIn(int* Calls) : TAuFileIn(nullptr), FCalls(Calls) {}
  ~TScriptedFileIn() override { CloseForDestruction(); }
  bool Raise = false;          // OpenDecoder raises
  bool Stays = true;           // OpenDecoder's answer
  bool FailedStaysOpen = false;  // OpenFailed's answer
  void Open() { OpenFile(); }
  void Close() { CloseFile(); }
  int Count() const { return OpenCount; }

 protected:
  void LoadDecoderLibrary() override { ++FCalls[LoadHook]; }
  bool OpenDecoder() override {
    ++FCalls[OpenHook];
    if (Raise) throw EAuException("not this file");
    return Stays;
  }
  void ReopenDecoder() override { ++FCalls[ReopenHook]; }
  bool OpenFailed() override {
    ++FCalls[FailedHook];
    return FailedStaysOpen;
  }
  void CloseDecoder() override { ++FCalls[CloseHook]; }
  void GetDataInternal(void*& Buffer, uint32_t& Bytes) override { Bytes = 0; }
  bool SeekInternal(int64_t&) override { return false; }

 private:
  int* FCalls;
};
}  // namespace

TEST(AuFileIn, OpenAndCloseStepsCallTheFormatsHooksOnce) {
  using H = TScriptedFileIn;
  struct Case {
    const char* Name;
    bool Raise, Stays, FailedStaysOpen;
    int OpenAfterTwoOpens;                 // the open count after two OpenFile calls
    int Calls[H::HookCount];               // after two opens, two closes and the destructor
  };
  const Case cases[] = {
      // Opened once: the second open only reopens; one close releases, the second finds it closed.
      {"Opens", false, true, false, 1, {2, 1, 1, 0, 1}},
      // Nothing stays open: each open tries again, nothing is closed.
      {"NothingStays", false, false, false, 0, {2, 2, 0, 0, 0}},
      // A raising open is released each time and not counted.
      {"Raises", true, true, false, 0, {2, 2, 0, 2, 0}},
      // A raising open that leaves the file open is counted, so the close releases it.
      {"RaisesButStaysOpen", true, true, true, 1, {2, 1, 1, 1, 1}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    int calls[H::HookCount] = {};
    {
      H in(calls);
      in.Raise = c.Raise;
      in.Stays = c.Stays;
      in.FailedStaysOpen = c.FailedStaysOpen;
      for (int i = 0; i < 2; ++i) {
        if (c.Raise && in.Count() == 0)
          EXPECT_THROW(in.Open(), EAuException);
        else
          in.Open();
      }
      EXPECT_EQ(in.Count(), c.OpenAfterTwoOpens);
      in.Close();
      in.Close();
      EXPECT_EQ(in.Count(), 0);
    }
    for (int h = 0; h < H::HookCount; ++h) EXPECT_EQ(calls[h], c.Calls[h]) << "hook " << h;
  }
  // The destructor closes a file still open.
  int calls[H::HookCount] = {};
  {
    H in(calls);
    in.Open();
  }
  EXPECT_EQ(calls[H::CloseHook], 1);
}
