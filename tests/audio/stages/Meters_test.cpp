// The level and spectrum meters: pass-through, levels of silence and a full-scale square, the
// report rate, a tone in its band, errors, and reports that never reach a freed meter.
#include <gtest/gtest.h>

#include <cmath>

#include "audio/stages/AuIndicators.h"
#include "audio/engine/AudioTestUtil.h"
#include "audio/formats/wave/WaveTestUtil.h"

using namespace wavetest;

namespace {

// A full-scale 16-bit square wave, Period frames long, all channels alike.
std::string Square16(int Frames, int Channels, int Period) {
  std::vector<int16_t> v((size_t)Frames * Channels);
  for (int i = 0; i < Frames; ++i)
    for (int c = 0; c < Channels; ++c) v[(size_t)i * Channels + c] = (i % Period) < Period / 2 ? 32767 : -32767;
  return std::string((const char*)v.data(), v.size() * 2);
}

// Pulls In to its end in pulls of Ask bytes, returning what came; the meter's reports are
// delivered by pumping afterwards.
std::string PullAll(TAuInput& In, uint32_t Ask) { return ReadAll(&In, Ask); }

TEST(GainIndicator, PassesThroughAndMeasures) {
  // The expected level of the square: 20 log10(10^6 * mean(d^2) + 1) with d = x[i] - x[i-3],
  // taken over each pull from its fourth sample on.
  const int period = 20, ask = 4410 * 4;  // one pull per report
  std::string square = Square16(44100, 2, period);
  auto x = As<int16_t>(square.substr(0, ask));
  double sum = 0;
  for (size_t i = 3; i < x.size(); ++i) {
    double d = (x[i] - x[i - 3]) / 32768.0;
    sum += d * d;
  }
  int expected = (int)std::lround(20 * std::log10(1e6 * sum / (x.size() - 3) + 1));
  struct Case {
    const char* name;
    std::string data;
    int level;
  } cases[] = {{"silence", std::string(44100 * 4, '\0'), 0}, {"square", square, expected}};
  for (auto& c : cases) {
    TTestSource src(16, 2, 44100, c.data);
    src.MaxChunk = ask;
    TFastGainIndicator meter(nullptr);
    meter.SetInput(&src);
    std::vector<int> levels;
    meter.OnGainData = [&](TComponent* Sender) {
      levels.push_back(static_cast<TFastGainIndicator*>(Sender)->GainValue());
    };
    meter.Init();
    std::string got;
    for (;;) {
      void* p = nullptr;
      uint32_t n = ask;
      meter.GetData(p, n);
      if (!n) break;
      got.append((const char*)p, n);
      size_t pulls = got.size() / ask;
      ASSERT_TRUE(PumpUntil([&] { return levels.size() == pulls; }, 5000)) << c.name;
      EXPECT_EQ(levels.back(), c.level) << c.name;
    }
    EXPECT_TRUE(got == c.data) << c.name << ": passed through byte for byte";
    EXPECT_EQ(levels.size(), 10u) << c.name << ": one report per 100 ms of audio";
    meter.Flush();
    EXPECT_EQ(meter.GainValue(), 0);
    ASSERT_TRUE(PumpUntil([&] { return levels.size() == 11; }, 5000)) << c.name << ": the report at Flush";
    EXPECT_EQ(levels.back(), 0);
  }
}

TEST(GainIndicator, ReportsEvery100MsAtPullGranularity) {
  TTestSource src(16, 1, 44100, std::string(44100 * 2, '\0'));
  src.MaxChunk = 1000;
  TFastGainIndicator meter(nullptr);
  meter.SetInput(&src);
  std::atomic<int> reports{0};
  meter.OnGainData = [&](TComponent*) { ++reports; };
  PullAll(meter, 1000);
  // Pulls of 500 frames add 1134 units of 10 us each: a report every 9 pulls (102 ms of audio),
  // nine in the second, and the one at Flush.
  EXPECT_TRUE(PumpUntil([&] { return reports >= 10; }, 5000));
  PumpFor(50);
  EXPECT_EQ(reports, 10);
}

TEST(GainIndicator, RefusesMoreThanTwoChannels) {
  TTestSource src(16, 6, 44100, std::string(1200, '\0'));
  TFastGainIndicator meter(nullptr);
  meter.SetInput(&src);
  EXPECT_EQ(MessageOf([&] { meter.Init(); }), L"Only mono or stereo soures are supported.");
  EXPECT_EQ(src.Flushes, 1);
  EXPECT_FALSE(meter.Busy());
}

TEST(GainIndicator, TheFinalReportNeverReachesAFreedMeter) {
  std::atomic<int> calls{0};
  for (int i = 0; i < 20; ++i) {
    TTestSource src(16, 2, 44100, std::string(8000, '\0'));
    auto* meter = new TFastGainIndicator(nullptr);
    meter->SetInput(&src);
    meter->OnGainData = [&calls, meter](TComponent* Sender) {
      EXPECT_EQ(Sender, meter);
      EXPECT_STREQ(Sender->ClassName(), "TFastGainIndicator");
      ++calls;
    };
    PullAll(*meter, 4000);  // Flush posts one more report
    delete meter;
  }
  PumpFor(300);  // anything still queued would run now, with a freed sender
  SUCCEED() << calls << " reports were delivered before their meters went";
}

// ---------------------------------------------------------------------------------------------

std::vector<float> Levels(TSpectrumIndicator& m) {
  std::vector<float> v;
  for (int k = 0; k < 9; ++k) v.push_back(m.GetLevel(k));
  return v;
}

TEST(SpectrumIndicator, SilenceAToneInItsBandAndPassThrough) {
  // A tone at 5/16 of the sample rate lands in band 5.
  std::vector<uint8_t> tone = Sine16(44100.0 * 5 / 16, 44100, 44100, 2, 0.8);
  struct Case {
    const char* name;
    std::string data;
  } cases[] = {{"silence", std::string(44100 * 4, '\0')}, {"tone", std::string(tone.begin(), tone.end())}};
  for (auto& c : cases) {
    TTestSource src(16, 2, 44100, c.data);
    TSpectrumIndicator meter(nullptr);
    meter.SetInput(&src);
    std::atomic<int> reports{0};
    meter.OnGainData = [&](TComponent*) { ++reports; };
    meter.Init();
    std::string got;
    for (;;) {
      void* p = nullptr;
      uint32_t n = 65536;
      meter.GetData(p, n);
      if (!n) break;
      EXPECT_LE(n, 6144u) << "at most 1536 samples a pull";
      got.append((const char*)p, n);
    }
    EXPECT_TRUE(got == c.data) << c.name;
    auto v = Levels(meter);
    meter.Flush();
    EXPECT_EQ(v[8], 0.0f);
    if (std::string(c.name) == "silence") {
      for (int k = 0; k < 8; ++k) EXPECT_NEAR(v[k], -40.0f, 1e-3) << k;
    } else {
      for (int k = 0; k < 8; ++k) {
        if (k != 5) {
          EXPECT_GT(v[5], v[k] + 10) << k;
        }
      }
    }
    // Pulls of 768 frames: a report every 6 pulls (104 ms of audio).
    EXPECT_TRUE(PumpUntil([&] { return reports >= 9; }, 5000)) << c.name;
  }
}

TEST(SpectrumIndicator, AStoppedRunLeavesNothingForTheNext) {
  std::vector<uint8_t> tone = Sine16(5000, 44100, 44100, 1, 0.9);
  TTestSource loud(16, 1, 44100, std::string(tone.begin(), tone.end()));
  TTestSource quiet(16, 1, 44100, std::string(44100 * 2, '\0'));
  TSpectrumIndicator meter(nullptr);
  meter.SetInput(&loud);
  meter.Init();
  void* p = nullptr;
  uint32_t n = 2000;  // 1000 frames: well inside the first interval
  meter.GetData(p, n);
  meter.Flush();
  meter.SetInput(&quiet);
  meter.Init();
  for (int i = 0; i < 5; ++i) {  // 5 x 1000 frames: past the first report
    n = 2000;
    meter.GetData(p, n);
  }
  for (int k = 0; k < 8; ++k) EXPECT_NEAR(meter.GetLevel(k), -40.0f, 1e-3) << k;
  meter.Flush();
}

}  // namespace
