// DirectSound capture: a known signal fed into a pipe source of the private PulseAudio server
// arrives through TDXAudioIn sample for sample; device listing and restart. A scripted device
// shows what a real one cannot: an overrun, a stalled cursor, odd cursor steps, failures.
#include <gtest/gtest.h>

#include <deque>

#include "audio/stages/AuAudioMix.h"
#include "audio/devices/AuDXAudio.h"
#include "audio/formats/wave/AuWave.h"
#include "audio/engine/AudioTestUtil.h"
#include "classlib/WinApi.h"
#include "common/Peer.h"
#include "audio/devices/DeviceTestUtil.h"
#include "audio/formats/wave/WaveTestUtil.h"

using namespace devtest;

namespace {

// Pulls about Bytes bytes of captured data.
std::string Capture(TDXAudioIn& In, uint32_t Bytes) {
  std::string got;
  while (got.size() < Bytes) {
    void* p = nullptr;
    uint32_t n = 8192;
    In.GetData(p, n);
    if (!n) break;
    got.append((const char*)p, n);
  }
  return got;
}

// The samples of Captured, frame by frame, continue a counter that starts after the device's
// own start (silence); returns the number of frames checked, or -1 at the first mismatch.
long CheckCounter(const std::string& Captured, int Channels, std::string& Why) {
  std::vector<uint16_t> s(Captured.size() / 2);
  memcpy(s.data(), Captured.data(), s.size() * 2);
  size_t frames = s.size() / Channels;
  size_t first = 0;
  while (first < frames && s[first * Channels] == 0) ++first;
  if (first == frames) {
    Why = "only silence arrived";
    return -1;
  }
  uint32_t start = s[first * Channels];
  for (size_t f = first; f < frames; ++f) {
    uint16_t want = (uint16_t)(start + (f - first));
    for (int c = 0; c < Channels; ++c) {
      uint16_t v = s[f * Channels + c];
      uint16_t w = Channels == 1 || c == 0 ? want : s[f * Channels + c];
      if (v != w) {
        Why = "frame " + std::to_string(f) + " channel " + std::to_string(c) + ": " + std::to_string(v) +
              " where " + std::to_string(w) + " was due";
        return -1;
      }
    }
  }
  return (long)(frames - first);
}

// A counter in both channels (so that a mono capture gets it unchanged), from 1000 on.
std::string BothChannelsCounter(uint32_t Frames) {
  std::string s(Frames * 4, '\0');
  for (uint32_t i = 0; i < Frames; ++i) {
    uint16_t v = (uint16_t)(1000 + i);
    memcpy(&s[4 * i], &v, 2);
    memcpy(&s[4 * i + 2], &v, 2);
  }
  return s;
}

struct RealCase {
  int rate, channels;
};

class LiveCapture : public ::testing::TestWithParam<RealCase> {};

TEST_P(LiveCapture, AKnownSignalArrivesSampleForSample) {
  const int rate = GetParam().rate, ch = GetParam().channels;
  DeviceLock lock;
  PipeSource src(rate);
  ASSERT_TRUE(src.Ok());
  std::string raw = NativeTemp("counter.raw");
  ASSERT_TRUE(WriteNative(raw, BothChannelsCounter(rate * 6)));
  TDXAudioIn in(nullptr);
  int dev = FindDevice(in, src.Fifo());
  ASSERT_GE(dev, 0) << "the pipe source is listed";
  EXPECT_EQ(in.GetDeviceName(in.DeviceCount()), "");
  in.SetDeviceNumber(dev);
  in.SetInBitsPerSample(16);
  in.SetInChannels(ch);
  in.SetInSampleRate(rate);
  src.Feed(raw);
  // Twice: stop and restart on the same component.
  for (int run = 0; run < 2; ++run) {
    in.Init();
    std::string got = Capture(in, rate * ch * 2);  // one second
    in.Flush();
    std::string why;
    long frames = CheckCounter(got, ch, why);
    EXPECT_GT(frames, rate / 4) << "run " << run << ": " << why;
  }
  src.StopFeeding();
  peer::Run("rm -f " + peer::Quote(raw));
}

INSTANTIATE_TEST_SUITE_P(Formats, LiveCapture,
                         ::testing::Values(RealCase{44100, 2}, RealCase{44100, 1}, RealCase{22050, 2},
                                           RealCase{22050, 1}),
                         [](const auto& i) {
                           return std::to_string(i.param.rate) + (i.param.channels == 1 ? "Mono" : "Stereo");
                         });

TEST(LiveMixer, RealTimeMixerMixesACaptureWithAFile) {
  DeviceLock lock;
  PipeSource src(44100);
  ASSERT_TRUE(src.Ok());
  std::string raw = NativeTemp("counter.raw");
  ASSERT_TRUE(WriteNative(raw, BothChannelsCounter(44100 * 6)));
  // The file: 0.3 s of a constant 2000 in both channels.
  wavetest::TempDir dir;
  std::wstring wav = dir.File(L"dc.wav");
  wavetest::WriteBytes(wav, wavetest::PcmWav16(2, 44100, std::vector<int16_t>(2 * 13230, 2000)));
  TDXAudioIn capture(nullptr);
  int dev = FindDevice(capture, src.Fifo());
  ASSERT_GE(dev, 0);
  capture.SetDeviceNumber(dev);
  capture.SetInBitsPerSample(16);
  capture.SetInChannels(2);
  capture.SetInSampleRate(44100);
  TWaveIn file(nullptr);
  file.SetWideFileName(wav);
  TRealTimeMixer mix(nullptr);
  mix.SetInput1(&capture);
  mix.SetInput2(&file);
  mix.SetOutBitsPerSample(16);
  mix.SetOutChannels(2);
  mix.SetOutSampleRate(44100);
  src.Feed(raw);
  mix.Init();
  std::string got;
  while (got.size() < 44100 * 4 * 3 / 2) {
    void* p = nullptr;
    uint32_t n = 16384;
    mix.GetData(p, n);
    ASSERT_GT(n, 0u);
    got.append((const char*)p, n);
  }
  mix.Flush();
  src.StopFeeding();
  peer::Run("rm -f " + peer::Quote(raw));
  // Each output sample is (capture + file) / 2: while the file lasts the capture's counter is
  // 2 x out - 2000, afterwards 2 x out; it must go up by one a frame, both while the file plays
  // and after its end, which is silence.
  auto v = wavetest::As<int16_t>(got);
  size_t frames = v.size() / 2;
  long withFile = 0, afterFile = 0;
  int prev = -1;
  for (size_t f = 0; f < frames; ++f) {
    int d = f < 13230 ? 2000 : 0;
    int c = 2 * v[2 * f] - d;
    EXPECT_EQ(v[2 * f], v[2 * f + 1]) << f;
    if (std::abs(c) <= 2) {  // the capture's silence before the signal
      prev = -1;
      continue;
    }
    if (prev >= 0) {
      int step = ((c - prev) % 65536 + 65536) % 65536;  // the 16-bit counter wraps
      ASSERT_TRUE(step >= 0 && step <= 3) << "frame " << f << ": " << prev << " then " << c;
      (f < 13230 ? withFile : afterFile)++;
    }
    prev = c;
  }
  EXPECT_GT(withFile, 1000);
  EXPECT_GT(afterFile, 20000);
}

TEST(DXAudioIn, DeviceTable) {
  TDSDeviceTable t;
  std::string longName(200, 'x');
  for (int i = 0; i < 20; ++i) {
    uint8_t guid[16] = {(uint8_t)(i + 1)};
    bool more = DSAddDevice(t, i ? guid : nullptr, i == 3 ? longName.c_str() : "device");
    EXPECT_EQ(more, i < 15) << i;
    if (!more) break;
  }
  EXPECT_EQ(t.Count, 16);
  EXPECT_EQ(std::string(t.Devices[3].Description), longName.substr(0, 127));
  EXPECT_EQ(t.Devices[0].Guid.Data1, 0u);
  EXPECT_EQ(t.Devices[1].Guid.Data1, 2u);
}

// ---------------------------------------------------------------------------------------------
// The scripted device: the capture cursor advances by the next step of Steps at each look
// (a 0 step: it does not move); the bytes are a 16-bit counter of their own offset in the stream.

class TFakeCapture : public DSoundWrapper {
 public:
  struct Script {
    int Devices = 1;
    int32_t OpenResult = 0, CreateResult = 0, OutputResult = 0, PositionResult = 0;
    std::vector<uint32_t> Steps{4410 * 4};
    bool Cycle = true;
    int Starts = 0, Stops = 0, OutputWrites = 0;
    uint32_t BufferBytes = 0;
  };
  static Script* S;

  int32_t EnumerateCaptureDevices(TDSDeviceTable& T) override {
    T.Count = 0;
    for (int i = 0; i < S->Devices; ++i) DSAddDevice(T, nullptr, ("fake " + std::to_string(i)).c_str());
    return 0;
  }
  void Reset() override {}
  int32_t OpenCaptureDevice(const TDSGuid&) override { return S->OpenResult; }
  int32_t CreateCaptureBuffer(uint32_t, uint32_t, uint32_t Size, uint32_t) override {
    CaptureBufferSize = S->BufferBytes = Size;
    CaptureReadPosition = 0;
    produced_ = read_ = 0;
    step_ = 0;
    return S->CreateResult;
  }
  int32_t StartCapture() override { return ++S->Starts, 0; }
  int32_t StopCapture() override { return ++S->Stops, 0; }
  int32_t CapturedBytesAvailable(uint32_t& Available) override {
    if (S->PositionResult) return S->PositionResult;
    if (step_ < S->Steps.size()) produced_ += S->Steps[step_];
    if (++step_ >= S->Steps.size() && S->Cycle) step_ = 0;
    Available = (uint32_t)((produced_ - read_) % CaptureBufferSize);
    return 0;
  }
  int32_t ReadCaptured(void* Target, uint32_t& Count) override {
    auto* out = static_cast<uint8_t*>(Target);
    for (uint32_t i = 0; i < Count; ++i) {
      uint64_t at = read_ + i;
      uint16_t v = (uint16_t)(at / 2);
      out[i] = at % 2 ? (uint8_t)(v >> 8) : (uint8_t)v;
    }
    read_ += Count;
    CaptureReadPosition = (uint32_t)(read_ % CaptureBufferSize);
    return 0;
  }
  void SkipCaptured(uint32_t Count) override { read_ += Count; }
  void WaitForCapture(uint32_t) override {}
  int32_t OpenOutputDevice(const TDSGuid&) override { return S->OutputResult; }
  int32_t CreateOutputBuffer(void*, uint32_t, uint32_t, uint32_t, uint32_t) override { return 0; }
  int32_t StartOutput() override { return 0; }
  int32_t StopOutput() override { return 0; }
  uint32_t OutputSpace() override { return 1 << 20; }
  int32_t WriteToOutput(const void*, uint32_t) override { return ++S->OutputWrites, 0; }
  void ReleaseAll() override {}

 private:
  uint64_t produced_ = 0, read_ = 0;
  size_t step_ = 0;
};
TFakeCapture::Script* TFakeCapture::S = nullptr;

class DXAudioInFake : public ::testing::Test {
 protected:
  void SetUp() override {
    TFakeCapture::S = &script;
    DSoundWrapperFactory = [] { return std::unique_ptr<DSoundWrapper>(new TFakeCapture); };
  }
  void TearDown() override {
    DSoundWrapperFactory = [] { return std::make_unique<DSoundWrapper>(); };
    TFakeCapture::S = nullptr;
  }
  TFakeCapture::Script script;
};

// True when the 16-bit samples of Bytes count on from the stream's byte offset At.
bool CountsFrom(const void* Bytes, uint32_t Count, uint64_t At) {
  const auto* s = static_cast<const uint16_t*>(Bytes);
  for (uint32_t i = 0; i < Count / 2; ++i)
    if (s[i] != (uint16_t)(At / 2 + i)) return false;
  return true;
}

TEST_F(DXAudioInFake, RecTimeEndsAfterExactlyItsBytes) {
  script.Steps = {1000, 7, 17640};
  TDXAudioIn in(nullptr);
  in.SetInBitsPerSample(16);
  in.SetInChannels(2);
  in.SetInSampleRate(44100);
  in.SetRecTime(3);
  EXPECT_EQ(in.SamplesToRead(), 132300);
  EXPECT_EQ(in.TotalTime(), 3);
  in.Init();
  EXPECT_EQ(in.Size(), 529200);
  std::string got = Capture(in, 1 << 30);
  EXPECT_EQ(got.size(), 529200u);
  EXPECT_TRUE(CountsFrom(got.data(), (uint32_t)got.size(), 0)) << "captured bytes in order across the wrap";
  void* p = nullptr;
  uint32_t n = 100;
  in.GetData(p, n);
  EXPECT_EQ(n, 0u);
  in.Flush();
}

TEST_F(DXAudioInFake, AnOverrunIsReportedAndTheNewestBlockDeliveredWhole) {
  TDXAudioIn in(nullptr);
  in.SetLatency(0);
  in.SetFramesInBuffer(100);  // 200-byte blocks of 16-bit mono; the device buffer holds 8
  in.SetInBitsPerSample(16);
  script.Steps = {200, 1500, 200};
  script.Cycle = false;
  std::atomic<int> reported{0};
  in.OnOverrun = [&](TComponent* Sender) {
    EXPECT_EQ(Sender, &in);
    ++reported;
  };
  in.Init();
  EXPECT_EQ(script.BufferBytes, 1600u);
  void* p = nullptr;
  uint32_t n = 1000;
  in.GetData(p, n);
  ASSERT_EQ(n, 200u);
  EXPECT_TRUE(CountsFrom(p, n, 0));
  EXPECT_EQ(in.OverrunCount(), 0u);
  n = 1000;
  in.GetData(p, n);  // 1500 bytes behind: less than a block from being lapped
  ASSERT_EQ(n, 200u);
  EXPECT_TRUE(CountsFrom(p, n, 1500)) << "the newest block, whole";
  EXPECT_EQ(in.OverrunCount(), 1u);
  EXPECT_TRUE(PumpUntil([&] { return reported == 1; }, 5000));
  n = 1000;
  in.GetData(p, n);
  EXPECT_TRUE(CountsFrom(p, n, 1700)) << "and on from there";
  in.Flush();
}

TEST_F(DXAudioInFake, AStalledCursorEndsTheWaitWithAnError) {
  script.Steps = {0};
  TDXAudioIn in(nullptr);
  in.Init();
  EXPECT_EQ(MessageOf([&] {
              void* p;
              uint32_t n = 100;
              in.GetData(p, n);
            }),
            L"Input failed: DirectSound error 0x800705b4");
  in.Flush();
}

TEST_F(DXAudioInFake, Errors) {
  script.Devices = 2;
  TDXAudioIn in(nullptr);
  EXPECT_EQ(in.DeviceCount(), 2);
  EXPECT_EQ(in.GetDeviceName(1), "fake 1");
  EXPECT_EQ(MessageOf([&] {
              void* p;
              uint32_t n = 100;
              in.GetData(p, n);
            }),
            L"The Stream is not opened");
  for (int dev : {2, -1}) {
    in.SetDeviceNumber(dev);
    EXPECT_EQ(MessageOf([&] { in.Init(); }), L"Invalid device number") << dev;
  }
  in.SetDeviceNumber(1);
  struct {
    int32_t code;
    const wchar_t* name;
  } codes[] = {{(int32_t)0x8878000A, L"DSERR_ALLOCATED"},     {(int32_t)0x80070057, L"DSERR_INVALIDPARAM"},
               {(int32_t)0x88780032, L"DSERR_INVALIDCALL"},   {(int32_t)0x80004005, L"DSERR_GENERIC"},
               {(int32_t)0x88780064, L"DSERR_BADFORMAT"},     {(int32_t)0x80004001, L"DSERR_UNSUPPORTED"},
               {(int32_t)0x88780078, L"DSERR_NODRIVER"},      {(int32_t)0x88780082, L"DSERR_ALREADYINITIALIZED"},
               {(int32_t)0x12345678, L"Unknown"}};
  for (auto& c : codes) {
    script.OpenResult = c.code;
    EXPECT_EQ(MessageOf([&] { in.Init(); }), std::wstring(L"Failed to create DirectSound device: ") + c.name);
  }
  script.OpenResult = 0;
  script.CreateResult = (int32_t)0x88780064;
  EXPECT_EQ(MessageOf([&] { in.Init(); }), L"Failed to create DirectSound buffer");
  script.CreateResult = 0;
  in.Init();
  EXPECT_EQ(MessageOf([&] { in.Init(); }), L"The component is busy");
  script.PositionResult = (int32_t)0x8878000A;
  EXPECT_EQ(MessageOf([&] {
              void* p;
              uint32_t n = 100;
              in.GetData(p, n);
            }),
            L"Input failed: DirectSound error 0x8878000a");
  in.Flush();
  EXPECT_FALSE(in.Busy());
}

TEST_F(DXAudioInFake, LatencySizesTheBlockAndThePolling) {
  struct {
    uint32_t latency, rate, frames, polling;
  } cases[] = {{100, 8000, 800, 50}, {5, 8000, 80, 5}, {100, 44100, 4410, 50}, {0, 44100, 24576, 100}};
  for (auto& c : cases) {
    TDXAudioIn in(nullptr);
    in.SetLatency(c.latency);
    in.SetInSampleRate(c.rate);
    in.Init();
    EXPECT_EQ(in.FramesInBuffer(), c.frames) << c.latency << " ms at " << c.rate;
    EXPECT_EQ(in.PollingInterval(), c.polling) << c.latency << " ms at " << c.rate;
    EXPECT_EQ(script.BufferBytes, c.frames * 8) << "8 blocks of 8-bit mono";
    in.SetFramesInBuffer(1);  // ignored while busy
    EXPECT_EQ(in.FramesInBuffer(), c.frames);
    in.Flush();
  }
}

TEST_F(DXAudioInFake, EchoThatCannotOpenIsSwitchedOffAndRecordingGoesOn) {
  TDXAudioIn in(nullptr);
  in.SetEchoRecording(true);
  script.OutputResult = (int32_t)0x8878000A;
  in.Init();
  EXPECT_FALSE(in.EchoRecording());
  EXPECT_GE(Capture(in, 10000).size(), 10000u);
  in.Flush();
  script.OutputResult = 0;
  in.SetEchoRecording(true);
  in.Init();
  Capture(in, 10000);
  in.Flush();
  EXPECT_TRUE(in.EchoRecording());
  EXPECT_GT(script.OutputWrites, 0) << "what is captured is played back";
}

TEST_F(DXAudioInFake, PauseAndResumeStopAndStartTheCapture) {
  TDXAudioIn in(nullptr);
  in.Init();
  in.Pause();
  in.Resume();
  in.Flush();
  EXPECT_EQ(script.Starts, 2);
  EXPECT_EQ(script.Stops, 2);
}

}  // namespace
