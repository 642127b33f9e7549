// The recorder end to end on the bus: the test's pipe capture source fed with a tone, recorded
// over a background file.
#include <gtest/gtest.h>
#include <windows.h>

#include <cmath>
#include <cstdlib>

#include "audio/devices/DeviceTestUtil.h"
#include "tasks/RecordUnit.h"
#include "tasks/TaskTestUtil.h"
#include "unicode/UniSysUtils.h"

using namespace tasktest;

namespace {

// Power of one frequency in a 16-bit channel (Goertzel), relative to the signal's power.
double Share(const std::vector<int16_t>& S, int Channels, int Channel, double Freq, int Rate) {
  const double w = 2 * 3.14159265358979323846 * Freq / Rate, c = 2 * std::cos(w);
  double s1 = 0, s2 = 0, total = 0;
  size_t n = 0;
  for (size_t i = Channel; i < S.size(); i += Channels, ++n) {
    const double x = S[i];
    const double s0 = x + c * s1 - s2;
    s2 = s1;
    s1 = s0;
    total += x * x;
  }
  if (total == 0 || n == 0) return 0;
  const double power = s1 * s1 + s2 * s2 - c * s1 * s2;
  return 2 * power / (n * total);
}

std::vector<int16_t> Samples(const std::string& Pcm) {
  std::vector<int16_t> v(Pcm.size() / 2);
  for (size_t i = 0; i < v.size(); ++i) v[i] = (int16_t)((uint8_t)Pcm[2 * i] | ((uint8_t)Pcm[2 * i + 1] << 8));
  return v;
}

}  // namespace

// A capture source of the test's own fed with a 1000 Hz tone; the global recorder is made again
// so that its capture lists the source.
struct LiveSource {
  devtest::DeviceLock Lock;
  devtest::PipeSource Source{44100};
  int Device = -1;
  LiveSource() {
    EXPECT_TRUE(Source.Ok());
    const std::string raw = devtest::NativeTemp("tone.raw");
    Peer("sox -D -n -r 44100 -c 2 -b 16 -e signed -t raw " + peer::Quote(raw) + " synth 30 sine 1000 gain -6");
    // The first device enumeration of the process must see the source: the recorder is made
    // here, not at start-up.
    RecordUnitInitialize();
    Device = devtest::FindDevice(*Recorder->Capture(), Source.Fifo());
    Source.Feed(raw);
  }
  ~LiveSource() { RecordUnitFinalize(); }
};

// 3 s of a 300 Hz background with the capture fed a 1000 Hz tone, into WAVE, FLAC and MP3: the
// recording ends with the background, has its format, holds both tones, and the level reports
// arrive; started and stopped reach the bus once each.
TEST(RecorderLive, RecordsTheCaptureOverTheBackgroundUntilItsEnd) {
  LiveSource live;
  ASSERT_GE(live.Device, 0) << "the pipe source is listed";
  TempDir d;
  MakeTones(d.U(L"bg.wav"), 3, 44100, 2, 16, 300);
  for (const wchar_t* ext : {L".wav", L".flac", L".mp3"}) {
    SCOPED_TRACE(std::string(ext, ext + wcslen(ext)));
    BusLog log;
    int gains = 0, loud = 0;
    Recorder->OnGain = [&](TObject*, uint16_t Level) {
      ++gains;
      loud += Level > 0;
    };
    const WideString out = d.W(std::wstring(L"rec") + ext);
    Recorder->Start(d.W(L"bg.wav"), out, live.Device, 65535, 65535);
    EXPECT_TRUE(Recorder->Recording());
    EXPECT_TRUE(ServeUntil([&] { return !Recorder->Recording() && log.Has("RSTOPPED"); }, 60000)) << "the recording did not end";
    Recorder->OnGain = nullptr;
    EXPECT_EQ(log.Milestones(), (std::vector<std::string>{"RSTARTED", "RSTOPPED"}));
    EXPECT_GT(gains, 5);
    EXPECT_GT(loud, 0);
    auto p = Probe(d.U(std::wstring(L"rec") + ext));
    EXPECT_EQ(p["sample_rate"], "44100");
    EXPECT_EQ(p["channels"], "2");
    const auto s = Samples(Pcm(d.U(std::wstring(L"rec") + ext), "s16le"));
    EXPECT_NEAR(s.size() / 2 / 44100.0, 3.0, 0.1);
    EXPECT_GT(Share(s, 2, 0, 300, 44100), 0.1) << "no background in the recording";
    EXPECT_GT(Share(s, 2, 0, 1000, 44100), 0.1) << "no capture in the recording";
  }
}

// Without a background the capture is written alone at 44100 Hz, 16-bit stereo, until Stop.
TEST(RecorderLive, WithoutBackgroundRecordsTheCaptureUntilStop) {
  LiveSource live;
  ASSERT_GE(live.Device, 0) << "the pipe source is listed";
  TempDir d;
  BusLog log;
  int loud = 0;
  Recorder->OnGain = [&](TObject*, uint16_t Level) { loud += Level > 0; };
  Recorder->Start(L"", d.W(L"alone.wav"), live.Device, 65535, 65535);
  // The feeder is a process of its own that may start late on a busy machine: 1.5 s from the
  // first captured sound of the tone.
  ASSERT_TRUE(ServeUntil([&] { return loud > 0; }, 30000)) << "the tone never arrived";
  const DWORD t0 = GetTickCount();
  ServeUntil([&] { return GetTickCount() - t0 > 1500; }, 5000);
  Recorder->OnGain = nullptr;
  Recorder->Stop();
  EXPECT_TRUE(ServeUntil([&] { return !Recorder->Recording(); }, 30000));
  // The run finishes writing.
  EXPECT_TRUE(ServeUntil([&] { return Recorder->CurrentOutput()->Status() == osIdle; }, 30000));
  EXPECT_EQ(log.Milestones(), (std::vector<std::string>{"RSTARTED", "RSTOPPED"}));
  auto p = Probe(d.U(L"alone.wav"));
  EXPECT_EQ(p["sample_rate"], "44100");
  EXPECT_EQ(p["channels"], "2");
  EXPECT_EQ(p["codec_name"], "pcm_s16le");
  const auto s = Samples(Pcm(d.U(L"alone.wav"), "s16le"));
  EXPECT_GT(s.size() / 2, 44100u / 2);
  EXPECT_GT(Share(s, 2, 0, 1000, 44100), 0.3) << "not the captured tone";
}
