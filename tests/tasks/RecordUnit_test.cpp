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

// A device that is not listed is refused before anything is sent or written; a device that is
// listed but fails to open ends the run at once: the stop is reported, the recording is marked
// failed and no file is left.
TEST(RecorderLive, ADeviceThatIsNotThereOrFailsLeavesNoFile) {
  devtest::DeviceLock lock;
  int gone = -1;
  {
    // Listed while it lives; the recorder keeps the list it made.
    devtest::PipeSource source(44100);
    ASSERT_TRUE(source.Ok());
    RecordUnitInitialize();
    gone = devtest::FindDevice(*Recorder->Capture(), source.Fifo());
  }
  ASSERT_GE(gone, 0) << "the pipe source is listed";
  TempDir d;
  for (int device : {-1, Recorder->Capture()->DeviceCount()}) {
    SCOPED_TRACE(device);
    BusLog log;
    EXPECT_THROW(Recorder->Start(L"", d.W(L"none.wav"), device, 65535, 65535), EAuException);
    ServeUntil([] { return false; }, 200);
    EXPECT_FALSE(Recorder->Recording());
    EXPECT_TRUE(log.Milestones().empty()) << "nothing is sent";
    EXPECT_EQ(GetFileAttributesW(d.W(L"none.wav").c_str()), INVALID_FILE_ATTRIBUTES);
  }
  BusLog log;
  Recorder->Start(L"", d.W(L"failed.wav"), gone, 65535, 65535);
  EXPECT_TRUE(ServeUntil([&] { return log.Has("RSTOPPED"); }, 30000)) << "the failed run is reported";
  EXPECT_FALSE(Recorder->Recording());
  EXPECT_TRUE(Recorder->Failed());
  EXPECT_EQ(log.Milestones(), (std::vector<std::string>{"RSTARTED", "RSTOPPED"}));
  EXPECT_EQ(GetFileAttributesW(d.W(L"failed.wav").c_str()), INVALID_FILE_ATTRIBUTES);
  RecordUnitFinalize();
}

// A new recording right after a stop, while the stopped run may still be writing its end: the
// start waits for it, and both files are whole recordings that did not fail.
TEST(RecorderLive, StartRightAfterStopRecordsAgain) {
  LiveSource live;
  ASSERT_GE(live.Device, 0) << "the pipe source is listed";
  TempDir d;
  BusLog log;
  int loud = 0;
  Recorder->OnGain = [&](TObject*, uint16_t Level) { loud += Level > 0; };
  Recorder->Start(L"", d.W(L"one.wav"), live.Device, 65535, 65535);
  ASSERT_TRUE(ServeUntil([&] { return loud > 0; }, 30000)) << "the tone never arrived";
  Recorder->Stop();
  EXPECT_NO_THROW(Recorder->Start(L"", d.W(L"two.wav"), live.Device, 65535, 65535));
  EXPECT_TRUE(Recorder->Recording());
  const DWORD t0 = GetTickCount();
  ServeUntil([&] { return GetTickCount() - t0 > 1000; }, 5000);
  Recorder->OnGain = nullptr;
  Recorder->Stop();
  EXPECT_TRUE(ServeUntil([&] { return Recorder->CurrentOutput()->Status() == osIdle; }, 30000));
  EXPECT_FALSE(Recorder->Failed());
  EXPECT_EQ(log.Milestones(), (std::vector<std::string>{"RSTARTED", "RSTOPPED", "RSTARTED", "RSTOPPED"}));
  for (const wchar_t* name : {L"one.wav", L"two.wav"}) {
    auto p = Probe(d.U(name));
    EXPECT_EQ(p["sample_rate"], "44100");
    EXPECT_EQ(p["codec_name"], "pcm_s16le");
  }
  EXPECT_GT(Samples(Pcm(d.U(L"two.wav"), "s16le")).size() / 2, 44100u / 2);
}

// Over a long background the recording runs at the capture's pace, in the background's format:
// stopped after about 1.5 s it holds about 1.5 s, whatever the background's rate, channels and
// sample width.
TEST(RecorderLive, OverABackgroundTheRecordingKeepsTheCapturesPace) {
  LiveSource live;
  ASSERT_GE(live.Device, 0) << "the pipe source is listed";
  TempDir d;
  struct TCase {
    int Rate, Channels, Bits;
  } cases[] = {{22050, 1, 8}, {44100, 2, 16}, {22050, 1, 16}, {44100, 2, 8}};
  for (const TCase& c : cases) {
    const std::string tag = std::to_string(c.Rate) + "-" + std::to_string(c.Channels) + "-" + std::to_string(c.Bits);
    SCOPED_TRACE(tag);
    const std::wstring bg = d.W(std::wstring(tag.begin(), tag.end()) + L"bg.wav");
    const std::wstring out = d.W(std::wstring(tag.begin(), tag.end()) + L"out.wav");
    MakeTones(peer::UnixPath(bg), 30, c.Rate, c.Channels, c.Bits, 300);
    int loud = 0;
    Recorder->OnGain = [&](TObject*, uint16_t Level) { loud += Level > 0; };
    Recorder->Start(bg, out, live.Device, 32768, 65535);
    ASSERT_TRUE(ServeUntil([&] { return loud > 0; }, 30000)) << "the tone never arrived";
    const DWORD t0 = GetTickCount();
    ServeUntil([&] { return GetTickCount() - t0 > 1500; }, 5000);
    Recorder->OnGain = nullptr;
    Recorder->Stop();
    EXPECT_TRUE(ServeUntil([&] { return Recorder->CurrentOutput()->Status() == osIdle; }, 30000));
    auto p = Probe(peer::UnixPath(out));
    EXPECT_EQ(p["sample_rate"], std::to_string(c.Rate));
    EXPECT_EQ(p["channels"], std::to_string(c.Channels));
    EXPECT_EQ(p["codec_name"], c.Bits == 8 ? "pcm_u8" : "pcm_s16le");
    EXPECT_NEAR(atof(p["duration"].c_str()), 1.5, 1.0) << "not at the capture's pace";
  }
}
