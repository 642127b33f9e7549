// The preview player through the real playback device: what it plays is found in the null
// sink's monitor.
#include <gtest/gtest.h>
#include <windows.h>

#include <cmath>
#include <cstdlib>

#include "audio/devices/DeviceTestUtil.h"
#include "tasks/AudioPlayer.h"
#include "tasks/TaskTestUtil.h"

using namespace tasktest;

namespace {

// Power of one frequency in the left channel (Goertzel), relative to the signal's power.
double Share(const std::vector<int16_t>& S, double Freq) {
  const double w = 2 * 3.14159265358979323846 * Freq / 44100, c = 2 * std::cos(w);
  double s1 = 0, s2 = 0, total = 0;
  size_t n = 0;
  for (size_t i = 0; i < S.size(); i += 2, ++n) {
    const double s0 = S[i] + c * s1 - s2;
    s2 = s1;
    s1 = s0;
    total += (double)S[i] * S[i];
  }
  if (total == 0 || n == 0) return 0;
  return 2 * (s1 * s1 + s2 * s2 - c * s1 * s2) / (n * total);
}

int64_t NativeSize(const std::string& File) {
  peer::Result r = peer::Run("stat -c %s " + peer::Quote(File) + " 2>/dev/null || echo 0");
  return std::atoll(r.out.c_str());
}

}  // namespace

// A file of 440 Hz with 1000 Hz between 2 s and 3 s. A short range first, then the 1000 Hz range
// (a later start after a short range): each play reports started, then stopped twice, and the
// monitor holds the range's tone.
TEST(PlayerLive, PlaysARangeAndReportsStartAndStop) {
  devtest::DeviceLock lock;
  TempDir d;
  Peer("sox -D -n -r 44100 -c 2 -b 16 " + peer::Quote(d.U(L"a.wav")) + " synth 2 sine 440 : synth 1 sine 1000 : synth 2 sine 440");
  TAudioPlayer player(d.W(L"a.wav"));
  struct Range {
    uint32_t From, To;
    double Tone, Other;
  } ranges[] = {{0, 1000, 440, 1000}, {2000, 3000, 1000, 440}};
  for (const Range& r : ranges) {
    SCOPED_TRACE(r.From);
    BusLog log;
    const std::string file = devtest::NativeTemp("monitor.raw");
    devtest::MonitorRecorder monitor(file);
    ASSERT_TRUE(monitor.Ok());
    // The monitor records once its file grows.
    ASSERT_TRUE(ServeUntil([&] { return NativeSize(file) >= 4410 * 4; }, 10000));
    player.PlayRange(r.From, r.To);
    EXPECT_TRUE(ServeUntil([&] { return log.Lines.size() >= 3; }, 30000)) << "no end of playback";
    // A further 300 ms of the sink's time, so that the end of the range has reached the monitor.
    const int64_t atEnd = NativeSize(file);
    ServeUntil([&] { return NativeSize(file) >= atEnd + 52920; }, 10000);
    EXPECT_EQ(log.Lines, (std::vector<std::string>{"PSTARTED", "PSTOPPED", "PSTOPPED"}));
    EXPECT_FALSE(player.IsPlaying());
    const auto s = monitor.Stop();
    EXPECT_GT(Share(s, r.Tone), 5 * Share(s, r.Other)) << "not the range's tone";
  }
}

TEST(AudioPlayer, RefusesAnUnknownType) {
  try {
    TAudioPlayer p(L"C:\\x.abc");
    FAIL() << "no exception";
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message(), L"Invalid Audio Format!");
  }
}
