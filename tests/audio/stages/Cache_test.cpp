// The ring buffer and the read-ahead cache: regions, pulls served from the filler, the end, a
// failing input, Flush during a chunk and Jump.
#include <gtest/gtest.h>

#include <cstring>

#include "audio/stages/AuCache.h"
#include "audio/engine/AudioTestUtil.h"
#include "classlib/WinApi.h"

namespace {

TEST(CircularBuffer, Regions) {
  // A 100-byte ring after writing w1, reading r and writing w2 bytes.
  struct Case {
    uint32_t w1, r, w2;
    uint32_t writeOff, writeLen, readOff, readLen;
  } cases[] = {
      {0, 0, 0, 0, 100, 0, 0},       // empty
      {30, 0, 0, 30, 70, 0, 30},     // reader behind
      {100, 0, 0, 0, 0, 0, 100},     // full
      {100, 60, 30, 30, 30, 60, 40}, // writer wrapped: reader ahead
      {100, 100, 50, 50, 50, 0, 50}, // refilled from the start... up to 50
      {90, 90, 100, 90, 0, 90, 10},  // full from the middle: reads stop at the end of the area
      {90, 90, 0, 90, 10, 90, 0},    // empty in the middle: writes stop at the end of the area
  };
  for (const Case& c : cases) {
    TCircularBuffer b(100);
    uint8_t *base = nullptr, *p = nullptr;
    uint32_t len = 0;
    b.GetReadRegion(base, len);
    uint8_t tmp[100];
    b.AddWritten(c.w1);
    for (uint32_t r = c.r; r;) r -= b.Read(tmp, r);
    b.AddWritten(c.w2);
    b.GetWriteRegion(p, len);
    EXPECT_EQ(p - base, (int)c.writeOff) << c.w1 << "/" << c.r << "/" << c.w2;
    EXPECT_EQ(len, c.writeLen) << c.w1 << "/" << c.r << "/" << c.w2;
    b.GetReadRegion(p, len);
    EXPECT_EQ(p - base, (int)c.readOff) << c.w1 << "/" << c.r << "/" << c.w2;
    EXPECT_EQ(len, c.readLen) << c.w1 << "/" << c.r << "/" << c.w2;
    EXPECT_EQ(b.FreeSpace(), 100 - (c.w1 + c.w2 - c.r));
  }
}

DWORD WINAPI WriteFiveThenEnd(void* P) {
  auto* buf = static_cast<TCircularBuffer*>(P);
  uint8_t* p;
  uint32_t len;
  buf->GetWriteRegion(p, len);
  std::memset(p, 7, 5);
  buf->AddWritten(5);
  buf->SetEOF(true);
  return 0;
}

TEST(CircularBuffer, ReadWaitsForDataAndEndsAtEofOrAbort) {
  TCircularBuffer b(64);
  uint8_t out[64];
  b.SetEOF(true);
  EXPECT_EQ(b.Read(out, 10), 0u);
  b.Reset();
  // A writer on another thread: the reader waits for its bytes.
  HANDLE t = CreateThread(nullptr, 0, WriteFiveThenEnd, &b, 0, nullptr);
  EXPECT_EQ(b.Read(out, 10), 5u);
  EXPECT_EQ(out[4], 7);
  EXPECT_EQ(b.Read(out, 10), 0u);
  EXPECT_EQ(b.WriteCount(), 0u);  // the end resets both counts
  WaitForSingleObject(t, INFINITE);
  CloseHandle(t);
  b.Reset();
  b.SetAbort(true);
  EXPECT_EQ(b.Read(out, 10), 0u);
  b.Reset();
  b.AddWritten(20);
  b.Discard();
  EXPECT_EQ(b.FreeSpace(), 64u);
}

// A counting source: each 16-bit stereo frame holds its own index as a 32-bit number,
// with Jump (thousandths of the length), a per-pull delay and a pull that fails.
class TCountIn : public TAuInput {
 public:
  TCountIn(uint32_t Frames, TComponent* Owner = nullptr) : TAuInput(Owner), FFrames(Frames) {}
  int DelayMs = 0;
  int FailAtPull = -1;
  std::atomic<int> Pulls{0}, PullsAfterFlush{0}, Flushes{0};
  std::atomic<bool> InPull{false};
  void Jump(int32_t Offset) override {
    TLock l(DataCS);
    FFrame = (uint32_t)((uint64_t)FFrames * Offset / 1000);
    FPosition = (int64_t)FFrame * 4;
  }

 protected:
  int GetBPS() override { return 16; }
  int GetCh() override { return 2; }
  int GetSR() override { return 44100; }
  void InitInternal() override {
    FFrame = 0;
    FPosition = 0;
    FSize = (int64_t)FFrames * 4;
    FBusy = true;
  }
  void FlushInternal() override {
    ++Flushes;
    FBusy = false;
  }
  void GetDataInternal(void*& Buffer, uint32_t& Bytes) override {
    InPull = true;
    int n = ++Pulls;
    if (!FBusy) ++PullsAfterFlush;
    if (DelayMs) Sleep(DelayMs);
    if (n == FailAtPull) {
      InPull = false;
      throw EAuException("decoder failed");
    }
    uint32_t frames = std::min<uint32_t>(Bytes / 4, FFrames - FFrame);
    frames = std::min<uint32_t>(frames, 16384);
    FBuf.resize(frames * 4);
    for (uint32_t i = 0; i < frames; ++i) {
      uint32_t v = FFrame + i;
      std::memcpy(&FBuf[i * 4], &v, 4);
    }
    FFrame += frames;
    FPosition += frames * 4;
    Buffer = frames ? FBuf.data() : nullptr;
    Bytes = frames * 4;
    InPull = false;
  }

 private:
  uint32_t FFrames, FFrame = 0;
  std::vector<uint8_t> FBuf;
};

bool Counting(const void* p, uint32_t Bytes, uint32_t First) {
  for (uint32_t i = 0; i < Bytes / 4; ++i) {
    uint32_t v;
    std::memcpy(&v, (const uint8_t*)p + 4 * i, 4);
    if (v != First + i) return false;
  }
  return true;
}

TEST(AudioCache, DeliversTheWholeInputInPullsOfAtMost768KiB) {
  TCountIn in(3 * 1024 * 1024);  // 12 MiB: more than the ring holds
  TAudioCache cache(nullptr);
  cache.SetInput(&in);
  cache.Init();
  EXPECT_EQ(cache.Size(), 12 * 1024 * 1024);
  std::vector<uint8_t> all;
  for (;;) {
    void* p = nullptr;
    uint32_t n = 1024 * 1024;
    cache.GetData(p, n);
    ASSERT_LE(n, 786432u);
    if (!n) break;
    all.insert(all.end(), (uint8_t*)p, (uint8_t*)p + n);
  }
  void* p = nullptr;
  uint32_t n = 4096;
  cache.GetData(p, n);
  EXPECT_EQ(n, 0u);
  cache.Flush();
  ASSERT_EQ(all.size(), 12u * 1024 * 1024);
  EXPECT_TRUE(Counting(all.data(), (uint32_t)all.size(), 0));
  EXPECT_EQ(in.Flushes, 1);
}

TEST(AudioCache, AFailingInputEndsTheStream) {
  TCountIn in(2 * 1024 * 1024);
  in.FailAtPull = 3;
  TAudioCache cache(nullptr);
  cache.SetInput(&in);
  std::vector<uint8_t> got = Drain(&cache, 65536);  // returns: the reader is not left waiting
  EXPECT_GT(got.size(), 0u);
  EXPECT_LT(got.size(), 2u * 1024 * 1024 * 4);
  EXPECT_TRUE(Counting(got.data(), (uint32_t)got.size(), 0));
}

TEST(AudioCache, FlushWaitsForTheChunkUnderWay) {
  TCountIn in(4 * 1024 * 1024);
  in.DelayMs = 20;  // a chunk takes several slow pulls
  TAudioCache cache(nullptr);
  cache.SetInput(&in);
  cache.Init();
  void* p = nullptr;
  uint32_t n = 4096;
  cache.GetData(p, n);  // the filler has delivered and is inside a chunk
  ASSERT_GT(n, 0u);
  cache.Flush();
  EXPECT_FALSE(in.InPull);
  EXPECT_EQ(in.PullsAfterFlush, 0);
  int pulls = in.Pulls;
  Sleep(50);  // the filler is gone: no pull follows
  EXPECT_EQ(in.Pulls, pulls);
}

TEST(AudioCache, JumpDropsWhatWasBuffered) {
  TCountIn in(4 * 1024 * 1024);
  TAudioCache cache(nullptr);
  cache.SetInput(&in);
  cache.Init();
  void* p = nullptr;
  uint32_t n = 4096;
  cache.GetData(p, n);
  ASSERT_TRUE(Counting(p, n, 0));
  cache.Jump(250);  // to frame 1 Mi
  EXPECT_EQ(cache.Position(), 1024 * 1024 * 4);
  n = 4096;
  cache.GetData(p, n);
  ASSERT_EQ(n, 4096u);
  EXPECT_TRUE(Counting(p, n, 1024 * 1024));
  cache.Flush();
}

}  // namespace
