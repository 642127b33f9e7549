// Throughput of the sample converters, as a ratio to memcpy of the same bytes in the same run.
//
//   wine audio_bench.exe [seconds per in-cache measurement]
//
// Two measurements per path:
// - stream: the path converts a 64 MiB source once and the consumer copies every delivery into
//   its own destination buffer; the peer is one memcpy of as many bytes as the path delivered,
//   between buffers of that size.
// - in cache: 64 KiB pulls from a 4 MiB source that repeats, nothing kept; the peer copies the
//   delivered bytes 64 KiB at a time from the same 4 MiB buffer into one 64 KiB buffer.
#include "classlib/WinApi.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <utility>
#include <vector>

#include "audio/engine/AuClasses.h"
#include "audio/engine/AuConverters.h"
#include "classlib/Forms.h"

namespace {

const uint32_t kAsk = 64 * 1024;
const size_t kSourceBytes = 4 * 1024 * 1024;

// An endless source over a buffer in memory: every pull is a pointer into it.
class TLoopIn : public TAuInput {
 public:
  TLoopIn(const std::vector<uint8_t>& Data, int Bits, int Ch, int SR)
      : TAuInput(nullptr), FData(Data), FBits(Bits), FCh(Ch), FSR(SR) {}

 protected:
  int GetBPS() override { return FBits; }
  int GetCh() override { return FCh; }
  int GetSR() override { return FSR; }
  void InitInternal() override {
    FPos = 0;
    FSize = -1;
    FBusy = true;
  }
  void FlushInternal() override { FBusy = false; }
  void GetDataInternal(void*& Buffer, uint32_t& Bytes) override {
    if (FPos >= FData.size()) FPos = 0;
    size_t n = FData.size() - FPos;
    if (n > Bytes) n = Bytes;
    Buffer = const_cast<uint8_t*>(FData.data()) + FPos;
    FPos += n;
    Bytes = (uint32_t)n;
  }

 private:
  const std::vector<uint8_t>& FData;
  int FBits, FCh, FSR;
  size_t FPos = 0;
};

// A source that walks a buffer once.
class TOnceIn : public TAuInput {
 public:
  TOnceIn(const std::vector<uint8_t>& Data, int Bits, int Ch, int SR)
      : TAuInput(nullptr), FData(Data), FBits(Bits), FCh(Ch), FSR(SR) {}

 protected:
  int GetBPS() override { return FBits; }
  int GetCh() override { return FCh; }
  int GetSR() override { return FSR; }
  void InitInternal() override {
    FPos = 0;
    FPosition = 0;
    FSize = (int64_t)FData.size();
    FBusy = true;
  }
  void FlushInternal() override { FBusy = false; }
  void GetDataInternal(void*& Buffer, uint32_t& Bytes) override {
    size_t n = FData.size() - FPos;
    if (n > Bytes) n = Bytes;
    Buffer = n ? const_cast<uint8_t*>(FData.data()) + FPos : nullptr;
    FPos += n;
    Bytes = (uint32_t)n;
  }

 private:
  const std::vector<uint8_t>& FData;
  int FBits, FCh, FSR;
  size_t FPos = 0;
};

double Now() {
  LARGE_INTEGER f, c;
  QueryPerformanceFrequency(&f);
  QueryPerformanceCounter(&c);
  return (double)c.QuadPart / (double)f.QuadPart;
}

std::vector<uint8_t> Noise(size_t Bytes) {
  std::vector<uint8_t> v(Bytes);
  uint32_t x = 12345;
  for (auto& b : v) {
    x = x * 1103515245u + 12345u;
    b = (uint8_t)(x >> 16);
  }
  return v;
}

// memcpy of Bytes bytes in kAsk pieces from the source buffer into one destination.
double CopySeconds(const std::vector<uint8_t>& Src, uint64_t Bytes) {
  static std::vector<uint8_t> dst(kAsk);
  size_t pos = 0;
  double t0 = Now();
  for (uint64_t done = 0; done < Bytes;) {
    uint32_t n = (uint32_t)std::min<uint64_t>(kAsk, Bytes - done);
    if (pos + n > Src.size()) pos = 0;
    std::memcpy(dst.data(), Src.data() + pos, n);
    pos += n;
    done += n;
  }
  double t = Now() - t0;
  volatile uint8_t sink = dst[kAsk / 2];
  (void)sink;
  return t;
}

// The stream measurement: returns frames per second and the ratio to memcpy.
std::pair<double, double> MeasureStream(TAuConverter* Conv, TAuInput* Source, int OutFrameBytes) {
  Conv->SetInput(Source);
  Conv->Init();
  size_t expected = (size_t)std::max<int64_t>(Conv->Size(), 0) + kAsk;
  std::vector<uint8_t> dst(expected);
  Conv->Flush();
  double best = 1e9;
  uint64_t bytes = 0;
  for (int round = 0; round < 3; ++round) {
    Conv->Init();
    bytes = 0;
    double t0 = Now();
    for (;;) {
      void* p;
      uint32_t n = kAsk;
      Conv->GetData(p, n);
      if (!n) break;
      if (bytes + n > dst.size()) break;
      std::memcpy(dst.data() + bytes, p, n);
      bytes += n;
    }
    best = std::min(best, Now() - t0);
    Conv->Flush();
  }
  std::vector<uint8_t> peerSrc(dst.size(), 1);
  double copy = 1e9;
  for (int round = 0; round < 3; ++round) {
    double t0 = Now();
    std::memcpy(dst.data(), peerSrc.data(), (size_t)bytes);
    copy = std::min(copy, Now() - t0);
  }
  return {(double)(bytes / OutFrameBytes) / best, best / copy};
}

struct Result {
  double FramesPerSecond;
  double Ratio;
};

Result Measure(const char* Name, TAuInput* Path, int OutFrameBytes, const std::vector<uint8_t>& Src, double Seconds) {
  Path->Init();
  uint64_t bytes = 0;
  volatile uint8_t sink = 0;
  // Warm up, then pull for about Seconds.
  for (int i = 0; i < 32; ++i) {
    void* p;
    uint32_t n = kAsk;
    Path->GetData(p, n);
  }
  double t0 = Now(), t = 0;
  do {
    for (int i = 0; i < 16; ++i) {
      void* p;
      uint32_t n = kAsk;
      Path->GetData(p, n);
      if (n) sink = sink + static_cast<uint8_t*>(p)[n - 1];
      bytes += n;
    }
    t = Now() - t0;
  } while (t < Seconds);
  Path->Flush();
  // The peer in the same run; the best of three against scheduling noise.
  double copy = 1e9;
  for (int i = 0; i < 3; ++i) copy = std::min(copy, CopySeconds(Src, bytes));
  Result r{(double)(bytes / OutFrameBytes) / t, t / copy};
  std::printf("%-34s in cache: %11.0f frames/s %7.1f MB/s %7.2fx memcpy\n", Name, r.FramesPerSecond,
              bytes / t / 1e6, r.Ratio);
  return r;
}

}  // namespace

int main(int argc, char** argv) {
  ClasslibInitialize();
  AuClassesInitialize();
  double seconds = argc > 1 ? std::atof(argv[1]) : 1.0;
  if (seconds <= 0) seconds = 1.0;
  auto src = Noise(kSourceBytes);
  auto big = Noise(64 * 1024 * 1024);
  std::printf("Pulls of %u bytes; ratio = time of the path / time of memcpy of the bytes it delivered.\n", kAsk);
  auto stream = [&](const char* Name, TAuConverter* Conv, int Bits, int Ch, int SR, int OutFrameBytes) {
    TOnceIn once(big, Bits, Ch, SR);
    auto r = MeasureStream(Conv, &once, OutFrameBytes);
    std::printf("%-34s stream:   %11.0f frames/s %7.2fx memcpy\n", Name, r.first, r.second);
  };

  struct MorphCase {
    const char* Name;
    int InBits, InCh, OutBits, OutCh;
  } morphs[] = {
      {"TSampleMorpher 16->24 bit stereo", 16, 2, 24, 0},
      {"TSampleMorpher 24->16 bit stereo", 24, 2, 16, 0},
      {"TSampleMorpher mono->stereo 16 bit", 16, 1, 0, 2},
      {"TSampleMorpher stereo->mono 16 bit", 16, 2, 0, 1},
  };
  for (const MorphCase& c : morphs) {
    TLoopIn in(src, c.InBits, c.InCh, 44100);
    TSampleMorpher m(nullptr);
    m.SetInput(&in);
    m.SetOutBitsPerSample(c.OutBits);
    m.SetOutChannels(c.OutCh);
    int outBits = c.OutBits ? c.OutBits : c.InBits;
    int outCh = c.OutCh ? c.OutCh : c.InCh;
    Measure(c.Name, &m, outBits / 8 * outCh, src, seconds);
    stream(c.Name, &m, c.InBits, c.InCh, 44100, outBits / 8 * outCh);
  }
  struct RateCase {
    const char* Name;
    int In, Out;
  } rates[] = {
      {"TFastResampler 44100->48000 16/2", 44100, 48000},
      {"TFastResampler 48000->44100 16/2", 48000, 44100},
  };
  for (const RateCase& c : rates) {
    TLoopIn in(src, 16, 2, c.In);
    TFastResampler r(nullptr);
    r.SetInput(&in);
    r.SetOutSampleRate(c.Out);
    Measure(c.Name, &r, 4, src, seconds);
    stream(c.Name, &r, 16, 2, c.In, 4);
  }
  AuClassesFinalize();
  ClasslibFinalize();
  return 0;
}
