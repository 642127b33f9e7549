// The mixers: overlay and concatenation against sox, whole frames for any channel count, 8-bit
// silence, Input2's start frame, errors, and the real-time mixer's silence and live swap.
#include <gtest/gtest.h>

#include <cstdlib>

#include "audio/stages/AuAudioMix.h"
#include "audio/formats/wave/AuWave.h"
#include "audio/engine/AudioTestUtil.h"
#include "audio/formats/wave/WaveTestUtil.h"

using namespace wavetest;

namespace {

std::string Mixed(TAuInput& in, uint32_t ask = 16384) { return ReadAll(&in, ask); }

// The largest difference between two 16-bit sample streams; lengths must match.
int MaxDiff16(const std::string& a, const std::string& b) {
  auto x = As<int16_t>(a), y = As<int16_t>(b);
  int m = 0;
  for (size_t i = 0; i < x.size() && i < y.size(); ++i) m = std::max(m, std::abs(x[i] - y[i]));
  return m;
}

// The samples of a WAVE file as sox reads them (raw, same format).
std::string SoxRaw(const std::wstring& file) { return Peer("sox -D " + Q(file) + " -t raw -"); }

struct SoxCase {
  const char* name;
  TAudioMixerMode mode;
  const char* soxArgs;  // how sox combines A and B
};

class MixerVsSox : public ::testing::TestWithParam<SoxCase> {};

TEST_P(MixerVsSox, MatchesSoxWithinOneLsb) {
  TempDir dir;
  std::wstring a = dir.File(L"a.wav"), b = dir.File(L"b.wav"), ref = dir.File(L"ref.wav");
  Peer("sox -D -n -r 44100 -c 2 -b 16 " + Q(a) + " synth 1.3 sine 440 sine 550 vol 0.9");
  Peer("sox -D -n -r 44100 -c 2 -b 16 " + Q(b) + " synth 0.7 square 300 vol 0.8");
  Peer(std::string("sox -D ") + GetParam().soxArgs + " " + Q(a) + " " + Q(b) + " " + Q(ref));
  TWaveIn in1(nullptr), in2(nullptr);
  in1.SetWideFileName(a);
  in2.SetWideFileName(b);
  TAudioMixer mix(nullptr);
  mix.SetInput1(&in1);
  mix.SetInput2(&in2);
  mix.SetMode(GetParam().mode);
  std::string want = SoxRaw(ref);
  std::string got = Mixed(mix);
  ASSERT_FALSE(want.empty());
  EXPECT_EQ(got.size(), want.size());
  EXPECT_LE(MaxDiff16(got, want), 1);
}

INSTANTIATE_TEST_SUITE_P(Mixer, MixerVsSox,
                         ::testing::Values(SoxCase{"Overlay", amMix, "-m"}, SoxCase{"Concatenation", amConcatenate, ""}),
                         [](const auto& i) { return std::string(i.param.name); });

// Frame counts that do not divide 4096 samples: the inputs are pulled in whole frames to their end.
TEST(Mixer, AnyChannelCountIsMixedToTheEnd) {
  for (int ch : {3, 5, 6, 7}) {
    TempDir dir;
    std::wstring a = dir.File(L"a.wav"), b = dir.File(L"b.wav");
    std::string c = std::to_string(ch);
    Peer("sox -D -n -r 8000 -c " + c + " -b 16 " + Q(a) + " synth 1 sine 300 vol 0.5");
    Peer("sox -D -n -r 8000 -c " + c + " -b 16 " + Q(b) + " synth 1 sine 700 vol 0.5");
    for (TAudioMixerMode mode : {amMix, amConcatenate}) {
      TWaveIn in1(nullptr), in2(nullptr);
      in1.SetWideFileName(a);
      in2.SetWideFileName(b);
      TAudioMixer mix(nullptr);
      mix.SetInput1(&in1);
      mix.SetInput2(&in2);
      mix.SetMode(mode);
      std::string got = Mixed(mix);
      size_t frames = got.size() / (2 * ch);
      EXPECT_EQ(got.size() % (2 * ch), 0u) << ch;
      EXPECT_EQ(frames, mode == amMix ? 8000u : 16000u) << ch << " channels, mode " << mode;
    }
  }
}

TEST(Mixer, EightBitSilenceStaysSilent) {
  // Input1 is 8-bit silence and longer; Input2 ends early. A mix of silence is silence (0x80),
  // before and after Input2's end.
  TTestSource in1(8, 1, 8000, std::string(10000, '\x80'));
  TTestSource in2(8, 1, 8000, std::string(3000, '\x80'));
  TAudioMixer mix(nullptr);
  mix.SetInput1(&in1);
  mix.SetInput2(&in2);
  std::string got = Mixed(mix, 1000);
  ASSERT_EQ(got.size(), 10000u);
  EXPECT_EQ(got.find_first_not_of('\x80'), std::string::npos);
}

TEST(Mixer, FullScaleAndSilenceGiveHalfScale) {
  std::vector<int16_t> loud(2000, 32767);
  TTestSource in1(16, 1, 8000, std::string((const char*)loud.data(), 4000));
  TTestSource in2(16, 1, 8000, std::string(4000, '\0'));
  TAudioMixer mix(nullptr);
  mix.SetInput1(&in1);
  mix.SetInput2(&in2);
  auto v = As<int16_t>(Mixed(mix));
  ASSERT_EQ(v.size(), 2000u);
  for (int16_t s : v) ASSERT_NEAR(s, 16383, 1);
}

TEST(Mixer, Input2StartsAtItsFrame) {
  // Input1 silence of 1.5 s, Input2 a constant from frame 4410 on (stereo, 44100 Hz).
  TTestSource in1(16, 2, 44100, std::string(66150 * 4, '\0'));
  std::vector<int16_t> dc(2 * 22050, 20000);
  TTestSource in2(16, 2, 44100, std::string((const char*)dc.data(), dc.size() * 2));
  TAudioMixer mix(nullptr);
  mix.SetInput1(&in1);
  mix.SetInput2(&in2);
  mix.SetInput2StartSample(4410);
  auto v = As<int16_t>(Mixed(mix));
  ASSERT_EQ(v.size(), 66150u * 2);
  size_t first = 0;
  while (first < v.size() && v[first] == 0) ++first;
  EXPECT_EQ(first, 4410u * 2);
  EXPECT_NEAR(v[first], 10000, 1);
  EXPECT_NEAR(v[2 * (4410 + 22050) - 1], 10000, 1);
  EXPECT_EQ(v[2 * (4410 + 22050)], 0);
}

TEST(Mixer, Input2AfterTheEndOfInput1IsStillMixed) {
  TTestSource in1(16, 1, 8000, std::string(2000, '\0'));  // 1000 frames
  std::vector<int16_t> dc(500, 8000);
  TTestSource in2(16, 1, 8000, std::string((const char*)dc.data(), 1000));
  TAudioMixer mix(nullptr);
  mix.SetInput1(&in1);
  mix.SetInput2(&in2);
  mix.SetInput2StartSample(1500);
  auto v = As<int16_t>(Mixed(mix, 700));
  ASSERT_EQ(v.size(), 2000u);
  EXPECT_EQ(v[1499], 0);
  EXPECT_EQ(v[1500], 4000);
  EXPECT_EQ(v[1999], 4000);
}

TEST(Mixer, ConcatenationSizeAndWidths) {
  // 1 s of 16-bit and 2 s of 8-bit mono: Size is 3 s of 16-bit; the 8-bit part is widened.
  TTestSource in1(16, 1, 8000, std::string(16000, '\0'));
  TTestSource in2(8, 1, 8000, std::string(16000, '\xC0'));
  TAudioMixer mix(nullptr);
  mix.SetInput1(&in1);
  mix.SetInput2(&in2);
  mix.SetMode(amConcatenate);
  mix.Init();
  EXPECT_EQ(mix.Size(), 48000);
  mix.Flush();
  auto v = As<int16_t>(Mixed(mix));
  ASSERT_EQ(v.size(), 24000u);
  EXPECT_EQ(v[7999], 0);
  EXPECT_NEAR(v[8000], 16384, 1);
  EXPECT_NEAR(v[23999], 16384, 1);
}

TEST(Mixer, Errors) {
  TTestSource src(16, 1, 8000, std::string(100, '\0'));
  TAudioMixer mix(nullptr);
  EXPECT_EQ(MessageOf([&] { mix.Channels(); }), L"Input not assigned");
  EXPECT_EQ(MessageOf([&] { mix.Init(); }), L"Input1 is not assigned");
  mix.SetInput1(&src);
  EXPECT_EQ(MessageOf([&] { mix.Init(); }), L"Input2 is not assigned");
  EXPECT_EQ(src.Flushes, src.Inits);
  TTestSource src2(16, 1, 8000, std::string(100, '\0'));
  mix.SetInput2(&src2);
  mix.Init();
  EXPECT_EQ(MessageOf([&] { mix.SetInput1(&src2); }), L"The component is busy.");
  EXPECT_EQ(MessageOf([&] { mix.SetInput2(&src); }), L"The component is busy.");
  mix.Flush();
}

// ---------------------------------------------------------------------------------------------

TEST(RealTimeMixer, EndedAndAbsentSourcesAreSilenceAndItNeverEnds) {
  for (int bits : {8, 16}) {
    const char silence = bits == 8 ? '\x80' : '\0';
    TTestSource in1(bits, 1, 8000, std::string(1000, bits == 8 ? '\xA0' : '\x10'));
    TRealTimeMixer mix(nullptr);
    mix.SetInput1(&in1);  // Input2 stays absent
    mix.SetOutBitsPerSample((uint8_t)bits);
    mix.SetOutChannels(1);
    mix.SetOutSampleRate(8000);
    mix.Init();
    EXPECT_EQ(mix.Size(), -1);
    std::string got;
    for (int i = 0; i < 20; ++i) {
      void* p = nullptr;
      uint32_t n = 512;
      mix.GetData(p, n);
      ASSERT_GT(n, 0u) << "the real-time mixer never ends";
      got.append((const char*)p, n);
    }
    mix.Flush();
    EXPECT_EQ(got.find_first_not_of(silence, 1000), std::string::npos) << bits << "-bit silence after the end";
  }
}

TEST(RealTimeMixer, SwapIsHeardFromTheNextPull) {
  std::vector<int16_t> a(100000, 1000), b(100000, 3000);
  TTestSource in1(16, 1, 8000, std::string((const char*)a.data(), a.size() * 2));
  TTestSource in2(16, 1, 8000, std::string((const char*)b.data(), b.size() * 2));
  TTestSource short2(16, 1, 8000, std::string(200, '\0'));
  TRealTimeMixer mix(nullptr);
  mix.SetInput1(&in1);
  mix.SetOutBitsPerSample(16);
  mix.SetOutChannels(1);
  mix.SetOutSampleRate(8000);
  auto pull = [&] {
    void* p = nullptr;
    uint32_t n = 200;
    mix.GetData(p, n);
    return As<int16_t>(std::string((const char*)p, n));
  };
  mix.Init();
  EXPECT_EQ(pull()[0], 500);
  mix.SetInput2(&in2);
  EXPECT_EQ(in2.Inits, 1);
  EXPECT_EQ(pull()[0], 2000);
  // A slot whose source has ended stays silent when a new source takes it.
  mix.SetInput2(&short2);
  EXPECT_EQ(in2.Flushes, 1);
  pull();
  pull();  // short2 ends here
  EXPECT_EQ(pull()[0], 500);
  mix.SetInput2(&in2);
  EXPECT_EQ(pull()[0], 500);
  mix.Flush();
}

}  // namespace
