// Bit-depth and channel conversion, and resampling.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>

#include "AudioTestUtil.h"
#include "audio/engine/AuConverters.h"

namespace {

std::vector<uint8_t> Int16Bytes(std::initializer_list<int16_t> V) {
  std::vector<uint8_t> b(V.size() * 2);
  std::memcpy(b.data(), V.begin(), b.size());
  return b;
}

const double kPi = 3.14159265358979323846;

// Amplitude (of full scale) of the component at Freq in channel 0 of interleaved 16-bit samples.
double ToneLevel(const std::vector<int16_t>& S, int Channels, int Rate, double Freq, size_t From, size_t Count) {
  double re = 0, im = 0;
  for (size_t i = 0; i < Count; ++i) {
    double x = S[(From + i) * Channels] / 32768.0;
    re += x * std::cos(2 * kPi * Freq * (From + i) / Rate);
    im += x * std::sin(2 * kPi * Freq * (From + i) / Rate);
  }
  return 2 * std::sqrt(re * re + im * im) / Count;
}

double Rms(const std::vector<int16_t>& S, int Channels, size_t From, size_t Count) {
  double sum = 0;
  for (size_t i = 0; i < Count; ++i) sum += std::pow(S[(From + i) * Channels] / 32768.0, 2);
  return std::sqrt(sum / Count);
}

// Rising zero crossings per second in channel 0.
double Frequency(const std::vector<int16_t>& S, int Channels, int Rate, size_t From, size_t Count) {
  int first = -1, last = -1, n = 0;
  for (size_t i = From + 1; i < From + Count; ++i)
    if (S[(i - 1) * Channels] < 0 && S[i * Channels] >= 0) {
      if (first < 0) first = (int)i;
      else ++n;
      last = (int)i;
    }
  return n ? (double)n * Rate / (last - first) : 0;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// TSampleMorpher

TEST(SampleMorpher, ConvertsWidthAndChannels) {
  struct Case {
    const char* Name;
    std::vector<uint8_t> In;
    int InBits, InCh, OutBits, OutCh;
    std::vector<uint8_t> Expected;
    int ExpectedBits, ExpectedCh;
  } cases[] = {
      {"transparent", {1, 2, 3, 4, 5, 6, 7, 8}, 16, 2, 0, 0, {1, 2, 3, 4, 5, 6, 7, 8}, 16, 2},
      {"16 stereo to mono", Int16Bytes({1000, -1000, 32767, 32767, -32768, -32768}), 16, 2, 0, 1,
       Int16Bytes({0, 32766, -32767}), 16, 1},
      {"8 mono to 16 stereo", {128, 255, 0}, 8, 1, 16, 2, Int16Bytes({0, 0, 32511, 32511, -32767, -32767}), 16, 2},
      {"16 to 24", Int16Bytes({-32768, 16384}), 16, 1, 24, 0, {0x01, 0x00, 0x80, 0xFF, 0xFF, 0x3F}, 24, 1},
      {"16 to 8", Int16Bytes({0, 32767, -32768, -129}), 16, 1, 8, 0, {128, 255, 0, 127}, 8, 1},
      {"16 to 32", Int16Bytes({16384}), 16, 1, 32, 0, {0x00, 0x00, 0x00, 0x40}, 32, 1},  // 0.5 * 2147483647, to even
      {"6 channels to stereo", Int16Bytes({1, 2, 3, 4, 5, 6}), 16, 6, 16, 2, Int16Bytes({3, 3}), 16, 2},
      {"6 channels asked for 6 stay", Int16Bytes({1, 2, 3, 4, 5, 6}), 16, 6, 24, 6,
       {0xFF, 0, 0, 0xFF, 1, 0, 0xFF, 2, 0, 0xFF, 3, 0, 0xFF, 4, 0, 0xFF, 5, 0}, 24, 6},  // floored, as 16 to 24
  };
  for (Case& c : cases) {
    SCOPED_TRACE(c.Name);
    TMemIn in(c.In, c.InBits, c.InCh, 44100);
    TSampleMorpher m(nullptr);
    m.SetInput(&in);
    m.SetOutBitsPerSample(c.OutBits);
    m.SetOutChannels(c.OutCh);
    EXPECT_EQ(m.BitsPerSample(), c.ExpectedBits);
    EXPECT_EQ(m.Channels(), c.ExpectedCh);
    EXPECT_EQ(m.SampleRate(), 44100);
    EXPECT_EQ(Drain(&m, 4096), c.Expected);
    EXPECT_EQ(in.Flushes, 1);
  }
}

// Wherever the output's width and channels are the input's, however they were asked for, every
// byte passes untouched: full-range noise at each width, mono, stereo and six channels.
TEST(SampleMorpher, AnUnchangedFormatPassesEveryByte) {
  std::mt19937 rnd(7);
  std::vector<uint8_t> noise(6 * 4 * 3000);
  for (auto& b : noise) b = (uint8_t)rnd();
  // The extremes of every width at the front (little-endian: lowest and highest).
  for (size_t i = 0; i < 48; ++i) noise[i] = (i / 4) % 2 ? 0xFF : 0x00;
  for (int bits : {8, 16, 24, 32})
    for (int ch : {1, 2, 6})
      for (auto asked : {std::pair{bits, 0}, std::pair{0, ch}, std::pair{bits, ch}}) {
        if (asked.second > 2) continue;  // 1 and 2 are the channel counts one asks for
        SCOPED_TRACE(testing::Message() << bits << " bits, " << ch << " channels, asked " << asked.first << "/" << asked.second);
        std::vector<uint8_t> pcm(noise.begin(), noise.begin() + noise.size() / (4 * 6) * (bits / 8) * ch);
        TMemIn in(pcm, bits, ch, 44100);
        TSampleMorpher m(nullptr);
        m.SetInput(&in);
        m.SetOutBitsPerSample(asked.first);
        m.SetOutChannels(asked.second);
        EXPECT_EQ(m.BitsPerSample(), bits);
        EXPECT_EQ(m.Channels(), ch);
        const auto out = Drain(&m, 1000);
        ASSERT_EQ(out.size(), pcm.size());
        size_t differ = 0;
        for (size_t i = 0; i < out.size(); ++i) differ += out[i] != pcm[i];
        EXPECT_EQ(differ, 0u);
      }
}

// Mono and stereo asked of more than two channels: each input channel reaches the sides with its
// weight (front whole, centre and surrounds at -3 dB, back centre at -6 dB, low frequency not at
// all, every side summing to 1; mono the mean of the sides), and a full-scale input stays in
// range instead of wrapping.
TEST(SampleMorpher, MoreChannelsFoldToStereoAndMono) {
  const double k = 1 / (1 + std::sqrt(2.0));        // front, of a side with centre and one surround
  const double h = std::sqrt(0.5) / (1 + std::sqrt(2.0));  // centre and surround, likewise
  struct Case {
    int Ch;
    std::vector<double> Left, Right;  // the weight of each input channel
  } cases[] = {
      {3, {1 / (1 + std::sqrt(0.5)), 0, std::sqrt(0.5) / (1 + std::sqrt(0.5))},
       {0, 1 / (1 + std::sqrt(0.5)), std::sqrt(0.5) / (1 + std::sqrt(0.5))}},
      {4, {1 / (1 + std::sqrt(0.5)), 0, std::sqrt(0.5) / (1 + std::sqrt(0.5)), 0},
       {0, 1 / (1 + std::sqrt(0.5)), 0, std::sqrt(0.5) / (1 + std::sqrt(0.5))}},
      {5, {k, 0, h, h, 0}, {0, k, h, 0, h}},
      {6, {k, 0, h, 0, h, 0}, {0, k, h, 0, 0, h}},
      {7, {1 / 2.914213562, 0, 0.707106781 / 2.914213562, 0, 0.5 / 2.914213562, 0.707106781 / 2.914213562, 0},
       {0, 1 / 2.914213562, 0.707106781 / 2.914213562, 0, 0.5 / 2.914213562, 0, 0.707106781 / 2.914213562}},
      {8, {1 / 3.121320344, 0, 0.707106781 / 3.121320344, 0, 0.707106781 / 3.121320344, 0, 0.707106781 / 3.121320344, 0},
       {0, 1 / 3.121320344, 0.707106781 / 3.121320344, 0, 0, 0.707106781 / 3.121320344, 0, 0.707106781 / 3.121320344}},
      {9, {0.2, 0, 0.2, 0, 0.2, 0, 0.2, 0, 0.2}, {0, 0.25, 0, 0.25, 0, 0.25, 0, 0.25, 0}},
  };
  for (const Case& c : cases) {
    // One frame per input channel with only that channel at half scale, then a frame at full
    // scale up and one at full scale down.
    std::vector<int16_t> s;
    for (int i = 0; i < c.Ch; ++i)
      for (int j = 0; j < c.Ch; ++j) s.push_back(i == j ? 16384 : 0);
    s.insert(s.end(), c.Ch, 32767);
    s.insert(s.end(), c.Ch, -32768);
    std::vector<uint8_t> pcm(s.size() * 2);
    std::memcpy(pcm.data(), s.data(), pcm.size());
    for (int outCh : {2, 1}) {
      for (int outBits : {16, 24}) {
        SCOPED_TRACE(testing::Message() << c.Ch << " channels to " << outCh << ", " << outBits << " bits");
        TMemIn in(pcm, 16, c.Ch, 44100);
        TSampleMorpher m(nullptr);
        m.SetInput(&in);
        m.SetOutChannels(outCh);
        m.SetOutBitsPerSample(outBits);
        EXPECT_EQ(m.Channels(), outCh);
        const auto bytes = Drain(&m, 4096);
        ASSERT_EQ(bytes.size(), (size_t)(c.Ch + 2) * outCh * outBits / 8);
        auto at = [&](int Frame, int Side) {
          const size_t i = (size_t)Frame * outCh + Side;
          if (outBits == 16) return (double)AsInt16(bytes)[i] / 32767;
          const uint8_t* b = bytes.data() + 3 * i;
          return (double)((int32_t)((uint32_t)b[0] << 8 | (uint32_t)b[1] << 16 | (uint32_t)b[2] << 24) >> 8) / 8388607;
        };
        for (int i = 0; i < c.Ch; ++i) {
          const double l = c.Left[i] * 0.5, r = c.Right[i] * 0.5;
          if (outCh == 2) {
            EXPECT_NEAR(at(i, 0), l, 2e-4) << "channel " << i << " left";
            EXPECT_NEAR(at(i, 1), r, 2e-4) << "channel " << i << " right";
          } else {
            EXPECT_NEAR(at(i, 0), (l + r) / 2, 2e-4) << "channel " << i;
          }
        }
        for (int side = 0; side < outCh; ++side) {
          EXPECT_NEAR(at(c.Ch, side), 1.0, 2e-4) << "full scale up";
          EXPECT_NEAR(at(c.Ch + 1, side), -1.0, 2e-4) << "full scale down";
        }
      }
    }
  }
}

TEST(SampleMorpher, SizeFollowsTheFormat) {
  struct Case {
    int InBits, InCh, OutBits, OutCh;
    size_t InBytes;
    int64_t Size;
  } cases[] = {
      {16, 1, 24, 0, 1000, 1500},
      {16, 2, 8, 1, 1000, 250},
      {8, 1, 16, 2, 1001, 4004},
      {24, 2, 16, 1, 1002, 334},  // 1002 * 16 / 48 = 334
      {16, 2, 24, 1, 1002, 750},  // 751.5 rounds to 752, whole frames: 750
      {16, 2, 0, 0, 1002, 1002},
  };
  for (const Case& c : cases) {
    TMemIn in(std::vector<uint8_t>(c.InBytes), c.InBits, c.InCh, 44100);
    TSampleMorpher m(nullptr);
    m.SetInput(&in);
    m.SetOutBitsPerSample(c.OutBits);
    m.SetOutChannels(c.OutCh);
    m.Init();
    EXPECT_EQ(m.Size(), c.Size) << c.InBits << "/" << c.InCh << " to " << c.OutBits << "/" << c.OutCh;
    m.Flush();
  }
  // Unknown size stays unknown, and an output pulling it shows progress -1.
  TMemIn live(std::vector<uint8_t>(100), 16, 2, 44100);
  live.UnknownSize = true;
  TSampleMorpher m(nullptr);
  m.SetInput(&live);
  m.SetOutChannels(1);
  TCheckOut out;
  out.SetInput(&m);
  m.Init();
  EXPECT_EQ(m.Size(), -1);
  EXPECT_EQ(out.Progress(), -1);
  m.Flush();
}

TEST(SampleMorpher, AsksOfLessThanAFrameAndSplitFramesDoNotEndOrShiftTheStream) {
  auto pcm = Sine16(300, 44100, 3000, 2);
  TMemIn ref(pcm, 16, 2, 44100);
  TSampleMorpher whole(nullptr);
  whole.SetInput(&ref);
  whole.SetOutBitsPerSample(24);
  whole.SetOutChannels(1);
  auto expected = Drain(&whole, 1 << 20);
  ASSERT_EQ(expected.size(), 3000u * 3);

  // One byte at a time: CopyData and FillBuffer with sizes that are not whole frames.
  TMemIn in(pcm, 16, 2, 44100);
  TSampleMorpher m(nullptr);
  m.SetInput(&in);
  m.SetOutBitsPerSample(24);
  m.SetOutChannels(1);
  m.Init();
  std::vector<uint8_t> got;
  uint8_t buf[7];
  for (int i = 0; i < 100; ++i) {
    ASSERT_EQ(m.CopyData(buf, 1), 1u);
    got.push_back(buf[0]);
  }
  bool eof = false;
  uint32_t n;
  while ((n = m.FillBuffer(buf, 7, eof)) > 0) got.insert(got.end(), buf, buf + n);
  EXPECT_TRUE(eof);
  m.Flush();
  EXPECT_EQ(got, expected);

  // A source that hands out 3 bytes at a time (frames of 4 bytes split across pulls).
  TMemIn odd(pcm, 16, 2, 44100);
  odd.MaxChunk = 3;
  TSampleMorpher m2(nullptr);
  m2.SetInput(&odd);
  m2.SetOutBitsPerSample(24);
  m2.SetOutChannels(1);
  EXPECT_EQ(Drain(&m2, 4096), expected);
}

TEST(SampleMorpher, Errors) {
  TSampleMorpher m(nullptr);
  EXPECT_EQ(m.BitsPerSample(), 0);
  EXPECT_EQ(m.Channels(), 0);
  EXPECT_EQ(MessageOf([&] { m.Init(); }), L"Input is not assigned");
  TMemIn in(std::vector<uint8_t>(12), 12, 1, 44100);  // no 12-bit conversion
  m.SetInput(&in);
  m.SetOutChannels(2);
  EXPECT_EQ(MessageOf([&] { m.Init(); }), L"Unsupported sample format");
  EXPECT_FALSE(in.Busy());
}

// ---------------------------------------------------------------------------------------------
// TFastResampler

TEST(FastResampler, EqualRatesPassBytesThrough) {
  auto pcm = Sine16(1000, 44100, 10000, 2);
  TMemIn in(pcm, 16, 2, 44100);
  TFastResampler r(nullptr);
  r.SetInput(&in);
  r.SetOutSampleRate(44100);
  r.Init();
  EXPECT_EQ(r.Size(), (int64_t)pcm.size());
  r.Flush();
  EXPECT_EQ(Drain(&r, 3000), pcm);
}

TEST(FastResampler, DeliversTheFullLength) {
  struct Case {
    int In, Out;
  } cases[] = {{44100, 22050}, {48000, 44100}, {22050, 44100}, {44100, 16000}, {44100, 48000}, {8000, 96000},
               {96000, 8000}};
  for (const Case& c : cases) {
    for (double seconds : {1.0, 1.3}) {
      SCOPED_TRACE(testing::Message() << c.In << " -> " << c.Out << ", " << seconds << " s");
      int frames = (int)std::lround(c.In * seconds);
      TMemIn in(Sine16(1000, c.In, frames, 2, 0.3), 16, 2, c.In);
      TFastResampler r(nullptr);
      r.SetInput(&in);
      r.SetOutSampleRate(c.Out);
      TCheckOut out;
      out.Chunk = 4000;
      out.SetInput(&r);
      int last = 0;
      out.OnProgress = [&](TComponent*) { last = out.Progress(); };
      bool done = false;
      out.OnDone = [&](TComponent*) { done = true; };
      out.Run();
      ASSERT_TRUE(PumpUntil([&] { return done; }));
      int64_t expected = std::llround((double)frames * c.Out / c.In);
      int64_t got = (int64_t)out.Got.size() / 4;
      // Every block gives the whole output block, and the stream ends where Size says.
      EXPECT_LE(std::llabs(got - expected), 1) << "got " << got << " of " << expected;
      EXPECT_EQ((int64_t)out.Got.size(), r.Size());
      EXPECT_EQ(r.Size() % 4, 0);
      EXPECT_EQ(last, 100);
      // The tail is as loud as the middle.
      auto s = AsInt16(out.Got);
      double mid = Rms(s, 2, got / 2, c.Out / 20), tail = Rms(s, 2, got - c.Out / 20, c.Out / 20);
      EXPECT_NEAR(20 * std::log10(tail / mid), 0, 1.0);
    }
  }
}

TEST(FastResampler, KeepsTonesAndRemovesAliases) {
  // 1 kHz through 48000 -> 44100 keeps its pitch and level.
  TMemIn tone(Sine16(1000, 48000, 48000, 2, 0.5), 16, 2, 48000);
  TFastResampler r(nullptr);
  r.SetInput(&tone);
  r.SetOutSampleRate(44100);
  auto s = AsInt16(Drain(&r, 8192));
  ASSERT_EQ(s.size(), 44100u * 2);
  EXPECT_NEAR(Frequency(s, 2, 44100, 2000, 40000), 1000.0, 1.0);
  EXPECT_NEAR(ToneLevel(s, 2, 44100, 1000, 2000, 40000), 0.5, 0.06);

  // 15 kHz cannot pass to 22050 Hz: what comes out (an alias near 7 kHz) is far below it.
  TMemIn high(Sine16(15000, 44100, 44100, 1, 0.5), 16, 1, 44100);
  TFastResampler down(nullptr);
  down.SetInput(&high);
  down.SetOutSampleRate(22050);
  auto d = AsInt16(Drain(&down, 8192));
  ASSERT_EQ(d.size(), 22050u);
  double level = Rms(d, 1, 1000, 20000) * std::sqrt(2.0);
  EXPECT_LT(20 * std::log10(level / 0.5), -40) << level;
}

TEST(FastResampler, AllWidthsAndChannelCounts) {
  struct Case {
    int Bits, Channels;
  } cases[] = {{8, 1}, {16, 8}, {24, 2}, {32, 3}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.Bits << " bits, " << c.Channels << " channels");
    TMemIn src(Sine16(500, 32000, 32000, c.Channels, 0.5), 16, c.Channels, 32000);
    TSampleMorpher widen(nullptr);
    widen.SetInput(&src);
    widen.SetOutBitsPerSample(c.Bits);
    TFastResampler r(nullptr);
    r.SetInput(&widen);
    r.SetOutSampleRate(44100);
    TSampleMorpher back(nullptr);
    back.SetInput(&r);
    back.SetOutBitsPerSample(16);
    EXPECT_EQ(r.BitsPerSample(), c.Bits);
    EXPECT_EQ(r.Channels(), c.Channels);
    EXPECT_EQ(r.SampleRate(), 44100);
    auto s = AsInt16(Drain(&back, 10000));
    ASSERT_NEAR((double)s.size() / c.Channels, 44100, 10);
    for (int ch = 0; ch < c.Channels; ++ch) {
      std::vector<int16_t> one(s.size() / c.Channels);
      for (size_t i = 0; i < one.size(); ++i) one[i] = s[i * c.Channels + ch];
      EXPECT_NEAR(ToneLevel(one, 1, 44100, 500, 1000, 40000), 0.5, 0.06) << "channel " << ch;
    }
  }
}

TEST(FastResampler, StaysStableAtExtremeRatios) {
  std::mt19937 rnd(3);
  std::vector<int16_t> samples(96000);
  for (auto& v : samples) v = (int16_t)((int)(rnd() % 32768) - 16384);  // half scale
  std::vector<uint8_t> noise(samples.size() * 2);
  std::memcpy(noise.data(), samples.data(), noise.size());
  for (auto rates : {std::pair{8000, 96000}, std::pair{96000, 8000}, std::pair{11025, 96000}}) {
    SCOPED_TRACE(testing::Message() << rates.first << " -> " << rates.second);
    TMemIn in(noise, 16, 1, rates.first);
    TFastResampler r(nullptr);
    r.SetInput(&in);
    r.SetOutSampleRate(rates.second);
    auto s = AsInt16(Drain(&r, 65536));
    ASSERT_FALSE(s.empty());
    size_t clipped = 0;
    for (int16_t v : s) clipped += (v == 32767 || v == -32767);
    EXPECT_LT(clipped, s.size() / 1000);  // an unstable filter would pin the output to the rails
    double ratio = Rms(s, 1, 0, s.size()) / Rms(samples, 1, 0, samples.size());
    EXPECT_GT(ratio, 0.1);
    EXPECT_LT(ratio, 1.5);
  }
}

TEST(FastResampler, Errors) {
  TFastResampler r(nullptr);
  r.SetOutSampleRate(22050);
  for (auto f : std::vector<std::function<void()>>{[&] { r.BitsPerSample(); }, [&] { r.Channels(); },
                                                     [&] { r.SampleRate(); }, [&] { r.Init(); }})
    EXPECT_EQ(MessageOf(f), L"Input is not assigned");
  TMemIn in(std::vector<uint8_t>(1000), 16, 1, 44100);
  TFastResampler fresh(nullptr);
  fresh.SetInput(&in);
  EXPECT_EQ(MessageOf([&] {
              void* p;
              uint32_t n = 10;
              fresh.GetData(p, n);
            }),
            L"The Stream is not opened");
  TMemIn nine(std::vector<uint8_t>(1800), 16, 9, 44100);
  r.SetInput(&nine);
  EXPECT_EQ(MessageOf([&] { r.Init(); }), L"More than 8 channels are not supported");
  EXPECT_FALSE(nine.Busy());
  TMemIn slow(std::vector<uint8_t>(100), 16, 1, 4);
  r.SetInput(&slow);
  EXPECT_EQ(MessageOf([&] { r.Init(); }), L"Unsupported sample rate");
}
