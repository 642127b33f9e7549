// The conversion worker end to end on the bus: real files in, the peers' view of the outputs.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <functional>
#include <memory>

#include "platform/DoubleFormat.h"
#include "tasks/SampleMorphThread.h"
#include "tasks/TaskTestUtil.h"
#include "unicode/UniClasses.h"
#include "unicode/UniSysUtils.h"

using namespace tasktest;

namespace {

// Starts a worker over Files and serves the user-interface thread until it has ended; OnCancel,
// when set, runs at each bus line and may cancel the worker.
struct Batch {
  BusLog Log;
  bool Ended = false;

  void Run(const std::vector<WideString>& Files, const TOutputParams& Params,
           const std::function<void(TSampleMorphThread*, const std::string&)>& Watch = nullptr) {
    TUniStringList list;
    for (const auto& f : Files) list.Add(f);
    auto* t = new TSampleMorphThread(list, Params);
    t->OnTerminate = [this](TObject*) { Ended = true; };
    size_t seen = 0;
    t->Resume();
    ASSERT_TRUE(ServeUntil([&] {
      while (Watch && !Ended && seen < Log.Lines.size()) Watch(t, Log.Lines[seen++]);
      return Ended;
    })) << "the worker did not end";
  }
};

// A file of the Monkey's Audio test double: its header, then the PCM.
void WriteDoubleApe(const std::wstring& File, const std::string& Pcm, int Rate, int Bits, int Channels) {
  double_header h{};
  memcpy(h.magic, DOUBLE_MAGIC_MAC, 8);
  h.sample_rate = (uint32_t)Rate;
  h.bits = (uint16_t)Bits;
  h.channels = (uint16_t)Channels;
  h.frames = Pcm.size() / (Bits / 8 * Channels);
  ASSERT_TRUE(testfiles::WriteBytes(File, std::string((const char*)&h, sizeof h) + Pcm));
}

TOutputParams Params(const TempDir& Out, uint8_t Format, uint8_t Quality, int Channels = 2) {
  TOutputParams p;
  p.Format = Format;
  p.Quality = Quality;
  p.Channels = Channels;
  // The presets as the convert window applies them.
  struct Preset {
    uint8_t Rate, Bitrate;
  } presets[] = {{0, 9}, {0, 11}, {3, 9}, {2, 5}, {1, 1}, {4, 12}};
  p.SampleRateIndex = presets[Quality].Rate;
  p.BitrateIndex = presets[Quality].Bitrate;
  p.OutputFolder = Out.Folder();
  return p;
}

const char* CodecOf(uint8_t Format) {
  switch (Format) {
    case ftWAV: return "pcm_s16le";
    case ftMP3: return "mp3";
    case ftOGG: return "vorbis";
    case ftFLAC: return "flac";
    case ftTTA: return "tta";
    case ftWV: return "wavpack";
    case ftMPC: return "musepack8";
  }
  return "?";
}

}  // namespace

// Each source (rates 44100 and 48000, mono and stereo, 16 and 24 bits, WAVE, FLAC and Vorbis) to
// each writable format at each preset: the output has the preset's rate and channels and the
// source's length within a frame; the lossless outputs hold exactly what the WAVE output of the
// same preset holds, and with the source's format kept, exactly the source.
class ConversionPreset : public testing::TestWithParam<int> {};

TEST_P(ConversionPreset, EveryFormatGivesWhatThePresetAsksFor) {
  TempDir src;
  MakeTones(src.U(L"s44.wav"), 1.0, 44100, 2, 16);
  MakeTones(src.U(L"m48.flac"), 1.25, 48000, 1, 16);
  MakeTones(src.U(L"d24.wav"), 0.75, 22050, 2, 24);
  Encode(src.U(L"s44.wav"), src.U(L"v44.ogg"), "-c:a libvorbis -q:a 5");
  Peer("wavpack -q -y " + peer::Quote(src.U(L"d24.wav")) + " -o " + peer::Quote(src.U(L"w24.wv")));
  Encode(src.U(L"m48.flac"), src.U(L"t48.tta"));
  Peer("mpcenc --silent " + peer::Quote(src.U(L"s44.wav")) + " " + peer::Quote(src.U(L"c44.mpc")));
  WriteDoubleApe(src.W(L"a48.ape"), Pcm(src.U(L"m48.flac"), "s16le"), 48000, 16, 1);
  Encode(src.U(L"s44.wav"), src.U(L"l44.mp3"), "-c:a libmp3lame -b:a 128k");
  Encode(src.U(L"m48.flac"), src.U(L"x48.wma"), "-c:a wmav2 -b:a 64k");
  const std::vector<std::pair<WideString, double>> sources = {
      {L"s44.wav", 1.0}, {L"m48.flac", 1.25}, {L"d24.wav", 0.75}, {L"v44.ogg", 1.0},
      {L"w24.wv", 0.75}, {L"t48.tta", 1.25}, {L"c44.mpc", 1.0},  {L"a48.ape", 1.25},
      {L"l44.mp3", 1.0}, {L"x48.wma", 1.25}};
  std::vector<WideString> files;
  for (const auto& s : sources) files.push_back(src.W(s.first));

  const uint8_t quality = (uint8_t)GetParam();
  {
    for (int channels : {2, 1}) {
      if (quality != oqCustom && channels == 1) continue;
      std::map<uint8_t, TempDir> outs;
      for (uint8_t format : {ftWAV, ftFLAC, ftTTA, ftWV, ftMP3, ftOGG, ftMPC, ftAPE}) {
        SCOPED_TRACE(testing::Message() << "quality " << (int)quality << " format " << (int)format);
        TempDir& out = outs[format];
        Batch b;
        b.Run(files, Params(out, format, quality, quality == oqCustom ? channels : 2));
        std::vector<std::string> expected;
        for (int i = 0; i < (int)files.size(); ++i) {
          expected.push_back("START " + std::to_string(i));
          expected.push_back("DONE " + std::to_string(i) + " ok");
        }
        EXPECT_EQ(b.Log.Milestones(), expected);
        for (size_t i = 0; i < sources.size(); ++i) {
          const WideString base = sources[i].first.substr(0, sources[i].first.find(L'.'));
          const std::string file = out.U(base + TAudioTools::OutputExtension(format));
          const std::string srcFile = src.U(sources[i].first);
          auto in = sources[i].first == L"a48.ape" ? std::map<std::string, std::string>() : Probe(srcFile);
          if (sources[i].first == L"a48.ape") in = {{"sample_rate", "48000"}, {"channels", "1"}, {"bits_per_raw_sample", "16"}};
          SCOPED_TRACE(file);
          // The Windows Media reader (MP3 and WMA sources) under Wine does not give the same
          // length on every read: up to a few hundred frames of its decoder's delay and padding
          // come and go, so those sources get two codec frames of room and no identity checks.
          const bool wmSource = sources[i].first.find(L".mp3") != WideString::npos || sources[i].first.find(L".wma") != WideString::npos;
          const double wmRoom = wmSource ? 4096.0 / std::stoi(in["sample_rate"]) : 0.0;
          if (format == ftAPE) {
            // The test double's files: what our own input reads from them.
            TAudioInformation info;
            ASSERT_TRUE(TAudioTools::GetInformation(out.W(base + L".ape"), info));
            const int rate = quality == oqKeep ? std::stoi(in["sample_rate"]) : TAudioTools::GetSampleRate(Params(out, format, quality).SampleRateIndex);
            EXPECT_EQ(info.SampleRate, rate);
            EXPECT_EQ(info.Channels, quality == oqKeep ? std::stoi(in["channels"]) : channels);
            EXPECT_NEAR((double)info.TotalSamples / rate, sources[i].second, (quality == oqKeep ? 1.0 / rate : 8.0 / rate) + wmRoom);
            continue;
          }
          auto p = Probe(file);
          EXPECT_EQ(p["codec_name"], format == ftWAV && in["bits_per_raw_sample"] == "24" ? "pcm_s24le" : CodecOf(format));
          int rate = quality == oqKeep ? std::stoi(in["sample_rate"]) : TAudioTools::GetSampleRate(Params(out, format, quality).SampleRateIndex);
          if (format == ftMPC) rate = rate <= 32000 ? 32000 : rate <= 44100 ? 44100 : 48000;  // the encoder's rates
          EXPECT_EQ(std::stoi(p["sample_rate"]), rate);
          const int ch = quality == oqKeep ? std::stoi(in["channels"]) : channels;
          EXPECT_EQ(std::stoi(p["channels"]), ch);
          // Within one frame of the codec (MP3 1152, Vorbis up to 2048 samples, plus the
          // encoder's padding and the resampler's rounding).
          // The resampler may end a few frames early.
          const bool resampled = rate != std::stoi(in["sample_rate"]);
          const double frame = format == ftMP3 || format == ftMPC ? 2 * 1152.0 / rate : format == ftOGG ? 2048.0 / rate : (resampled ? 8.0 : 1.0) / rate;
          // ffprobe gives no stream length for Musepack: count the decoded frames.
          const double seconds = format == ftMPC ? Pcm(file, "s16le").size() / (2.0 * ch * rate) : std::stod(p["duration"]);
          EXPECT_NEAR(seconds, sources[i].second, frame + wmRoom);
          if ((format == ftFLAC || format == ftTTA || format == ftWV) && !wmSource) {
            const char* fmt = in["bits_per_raw_sample"] == "24" ? "s24le" : "s16le";
            const std::string got = Pcm(file, fmt);
            const std::string wav = Pcm(outs[ftWAV].U(base + L".wav"), fmt);
            EXPECT_LE(std::max(got.size(), wav.size()) - std::min(got.size(), wav.size()), 8u * 3 * ch);
            const size_t common = std::min(got.size(), wav.size());
            EXPECT_TRUE(got.compare(0, common, wav, 0, common) == 0) << "differs from the WAVE output";
            const bool lossySource = sources[i].first.find(L".ogg") != WideString::npos || sources[i].first.find(L".mpc") != WideString::npos ||
                                     sources[i].first.find(L".mp3") != WideString::npos || sources[i].first.find(L".wma") != WideString::npos;
            if (quality == oqKeep && !lossySource) {
              const std::string ref = sources[i].first == L"a48.ape" ? Pcm(src.U(L"m48.flac"), fmt) : Pcm(srcFile, fmt);
              EXPECT_TRUE(got == ref) << "not the source's samples";
            }
          }
        }
      }
    }
  }
}

INSTANTIATE_TEST_SUITE_P(ConversionWorker, ConversionPreset,
                         testing::Values(oqKeep, oqCD, oqHigh, oqMedium, oqLow, oqCustom));

// An existing output is never overwritten: the second and third runs write song(0) and song(1).
TEST(ConversionWorker, OutputNamesAreMadeUniqueAndTheSourceFolderIsDropped) {
  TempDir src, out;
  MakeTones(src.U(L"song.flac"), 0.2, 44100, 2, 16);
  ASSERT_TRUE(testfiles::WriteBytes(out.W(L"song.wav"), "keep me"));
  for (int run = 0; run < 2; ++run) {
    Batch b;
    b.Run({src.W(L"song.flac")}, Params(out, ftWAV, oqKeep));
    EXPECT_TRUE(b.Log.Has("DONE 0 ok"));
  }
  EXPECT_EQ(testfiles::ReadBytes(out.W(L"song.wav")), "keep me");
  EXPECT_EQ(Probe(out.U(L"song(0).wav"))["codec_name"], "pcm_s16le");
  EXPECT_EQ(Probe(out.U(L"song(1).wav"))["codec_name"], "pcm_s16le");
}

// Cancelling while file 2 of 5 converts stops it; its done message reports a failure and its
// partial output is gone; files 3 to 5 are never started.
TEST(ConversionWorker, CancelStopsTheCurrentFileAndStartsNoOther) {
  TempDir src, out;
  MakeTones(src.U(L"long.wav"), 60, 44100, 2, 16);
  std::vector<WideString> files;
  for (int i = 0; i < 5; ++i) {
    const WideString name = L"f" + std::to_wstring(i) + L".wav";
    ASSERT_TRUE(CopyFileW(src.W(L"long.wav").c_str(), src.W(name).c_str(), FALSE));
    files.push_back(src.W(name));
  }
  Batch b;
  b.Run(files, Params(out, ftFLAC, oqKeep), [](TSampleMorphThread* t, const std::string& line) {
    if (line.rfind("PROGRESS 1 ", 0) == 0 && !t->Cancelled()) t->SetCancelled(true);
  });
  EXPECT_EQ(b.Log.Milestones(), (std::vector<std::string>{"START 0", "DONE 0 ok", "START 1", "DONE 1 failed"}));
  EXPECT_EQ(Probe(out.U(L"f0.flac"))["codec_name"], "flac");
  for (int i = 1; i < 5; ++i) EXPECT_FALSE(WideFileExists(out.W(L"f" + std::to_wstring(i) + L".flac"))) << i;
}

// The canceller a window keeps stops the file being converted (its partial output goes, no other
// file starts), and may still be called once the worker has freed itself.
TEST(ConversionWorker, TheCancellerStopsTheRunAndOutlivesTheWorker) {
  TempDir src, out;
  MakeTones(src.U(L"long.wav"), 60, 44100, 2, 16);
  std::function<void()> cancel;
  std::shared_ptr<std::atomic<bool>> request;
  Batch b;
  b.Run({src.W(L"long.wav"), src.W(L"long.wav")}, Params(out, ftMP3, oqCD), [&](TSampleMorphThread* t, const std::string& line) {
    if (!cancel) {
      cancel = t->Canceller();
      request = t->CancelRequest();
    }
    if (line.rfind("PROGRESS 0 ", 0) == 0 && !*request) cancel();
  });
  EXPECT_EQ(b.Log.Milestones(), (std::vector<std::string>{"START 0", "DONE 0 failed"}));
  EXPECT_FALSE(WideFileExists(out.W(L"long.mp3")));
  ASSERT_TRUE(cancel);
  // The worker is gone: the request and the wake-up it shared are not.
  cancel();
  EXPECT_TRUE(*request);
}

// A damaged file, a file of a type without an input, and a format without an output each end in
// that file's error and its failed done message; the batch goes on. An empty list ends at once
// without a message.
TEST(ConversionWorker, FailuresAreReportedPerFileAndTheBatchGoesOn) {
  TempDir src, out;
  MakeTones(src.U(L"good.wav"), 0.3, 44100, 2, 16);
  ASSERT_TRUE(testfiles::WriteBytes(src.W(L"bad.flac"), std::string(3000, 'x')));
  ASSERT_TRUE(testfiles::WriteBytes(src.W(L"what.xyz"), std::string(3000, 'x')));
  {
    Batch b;
    b.Run({src.W(L"bad.flac"), src.W(L"what.xyz"), src.W(L"good.wav")}, Params(out, ftMP3, oqCD));
    const auto m = b.Log.Milestones();
    ASSERT_GE(m.size(), 5u);
    EXPECT_EQ(m[0], "START 0");
    EXPECT_TRUE(m[1] == "ERROR 0 0" || m[1] == "DONE 0 failed") << m[1];
    EXPECT_EQ(m.back(), "DONE 2 ok");
    EXPECT_TRUE(b.Log.Has("START 1") && b.Log.Has("ERROR 1 0") && b.Log.Has("DONE 1 failed"));
    EXPECT_TRUE(b.Log.Has("DONE 0 failed"));
    EXPECT_FALSE(b.Log.Has("DONE 0 ok"));
    EXPECT_EQ(Probe(out.U(L"good.mp3"))["codec_name"], "mp3");
  }
  {
    Batch b;
    b.Run({src.W(L"good.wav"), src.W(L"good.wav")}, Params(out, ftTAK, oqKeep));
    // Nothing runs for either file, and still each ends with its done message.
    EXPECT_EQ(b.Log.Milestones(), (std::vector<std::string>{"START 0", "ERROR 0 0", "DONE 0 failed", "START 1",
                                                             "ERROR 1 0", "DONE 1 failed"}));
  }
  {
    Batch b;
    b.Run({}, Params(out, ftWAV, oqKeep));
    EXPECT_TRUE(b.Log.Lines.empty());
  }
}

// A six-channel source kept as it is: the outputs that take six channels hold them all for the
// source's length; the encoders limited to mono and stereo (MP3, Musepack, Monkey's Audio) end the
// file with its failure and leave no file, never a file read in the wrong layout.
TEST(ConversionWorker, SixChannelSourcesAreKeptOrRefused) {
  TempDir src;
  MakeTones(src.U(L"six.wav"), 0.5, 48000, 6, 16);
  struct Case {
    uint8_t Format;
    bool Ok;
  } cases[] = {{ftWAV, true}, {ftFLAC, true}, {ftTTA, true}, {ftWV, true}, {ftOGG, true},
               {ftMP3, false}, {ftMPC, false}, {ftAPE, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "format " << (int)c.Format);
    TempDir out;
    Batch b;
    b.Run({src.W(L"six.wav")}, Params(out, c.Format, oqKeep));
    const std::string file = out.U(L"six" + TAudioTools::OutputExtension(c.Format));
    if (c.Ok) {
      EXPECT_EQ(b.Log.Milestones(), (std::vector<std::string>{"START 0", "DONE 0 ok"}));
      auto p = Probe(file);
      EXPECT_EQ(p["channels"], "6");
      EXPECT_NEAR(std::stod(p["duration"]), 0.5, 2048.0 / 48000);
    } else {
      EXPECT_FALSE(b.Log.Has("DONE 0 ok"));
      EXPECT_TRUE(b.Log.Has("DONE 0 failed") || b.Log.Has("ERROR 0 0"));
      EXPECT_FALSE(WideFileExists(out.W(L"six" + TAudioTools::OutputExtension(c.Format))));
    }
  }
}

// 32-bit sources (float and integer) into the outputs that take 24 bits at most: the file holds
// the source at 24 bits (within a step of rounding), never an unreadable file reported as done.
TEST(ConversionWorker, ThirtyTwoBitSourcesGiveTwentyFourBitFiles) {
  TempDir src;
  Peer("sox -D -n -r 44100 -c 2 -e floating-point -b 32 " + peer::Quote(src.U(L"flt.wav")) + " synth 0.5 sine 440 sine 660 vol 0.5");
  MakeTones(src.U(L"i32.wav"), 0.5, 44100, 2, 32);
  auto s24 = [](const std::string& Pcm) {
    std::vector<int32_t> v(Pcm.size() / 3);
    for (size_t i = 0; i < v.size(); ++i)
      v[i] = (int32_t)(((uint32_t)(uint8_t)Pcm[3 * i] << 8 | (uint32_t)(uint8_t)Pcm[3 * i + 1] << 16 | (uint32_t)(uint8_t)Pcm[3 * i + 2] << 24)) >> 8;
    return v;
  };
  for (uint8_t format : {ftFLAC, ftTTA, ftAPE}) {
    SCOPED_TRACE(testing::Message() << "format " << (int)format);
    TempDir out;
    Batch b;
    b.Run({src.W(L"flt.wav"), src.W(L"i32.wav")}, Params(out, format, oqKeep));
    EXPECT_EQ(b.Log.Milestones(), (std::vector<std::string>{"START 0", "DONE 0 ok", "START 1", "DONE 1 ok"}));
    for (const wchar_t* name : {L"flt", L"i32"}) {
      SCOPED_TRACE(testing::Message() << (name[0] == L'f' ? "float" : "integer"));
      const WideString file = name + TAudioTools::OutputExtension(format);
      if (format == ftAPE) {
        // The test double's files: what our own input reads from them.
        TAudioInformation info;
        ASSERT_TRUE(TAudioTools::GetInformation(out.W(file), info));
        EXPECT_EQ(info.BitsPerSample, 24);
        EXPECT_EQ(info.TotalSamples, 22050);
        continue;
      }
      const auto got = s24(Pcm(out.U(file), "s24le"));
      const auto want = s24(Pcm(src.U(WideString(name) + L".wav"), "s24le"));
      ASSERT_EQ(got.size(), want.size());
      size_t bad = 0;
      for (size_t i = 0; i < got.size(); ++i) bad += std::abs(got[i] - want[i]) > 1;
      EXPECT_EQ(bad, 0u);
    }
  }
}

namespace {

// Interleaved samples of little-endian PCM of 2 or 3 bytes, sign-extended.
std::vector<int32_t> Samples(const std::string& Pcm, int Bytes) {
  std::vector<int32_t> v(Pcm.size() / Bytes);
  for (size_t i = 0; i < v.size(); ++i) {
    uint32_t u = 0;
    for (int b = 0; b < Bytes; ++b) u |= (uint32_t)(uint8_t)Pcm[i * Bytes + b] << (8 * (4 - Bytes + b));
    v[i] = (int32_t)u >> (8 * (4 - Bytes));
  }
  return v;
}

// How many samples of Got differ from Want (and where the first one is), or that the lengths differ.
std::string Differences(const std::vector<int32_t>& Got, const std::vector<int32_t>& Want) {
  if (Got.size() != Want.size())
    return std::to_string(Got.size()) + " samples instead of " + std::to_string(Want.size());
  size_t n = 0, first = 0;
  for (size_t i = Got.size(); i-- > 0;)
    if (Got[i] != Want[i]) ++n, first = i;
  if (!n) return "";
  return std::to_string(n) + " of " + std::to_string(Got.size()) + " samples differ, the first at " + std::to_string(first) +
         ": " + std::to_string(Got[first]) + " instead of " + std::to_string(Want[first]);
}

}  // namespace

// Lossless to lossless at a preset whose rate, channels and width are the source's changes no
// sample: WAVE, FLAC, WavPack and TTA sources of 16 and 24 bits, stereo at the rate of each fixed
// preset and mono at a custom one, into each lossless format; ffmpeg's decoding of every output
// (and the flac tool's of the FLAC ones) equals the source's PCM sample for sample.
TEST(ConversionWorker, LosslessAtTheSourcesFormatIsBitExact) {
  struct Kind {
    const char* Name;
    int Rate, Channels;
    uint8_t Quality;
  } kinds[] = {{"cd", 44100, 2, oqCD},   {"high", 32000, 2, oqHigh}, {"medium", 22050, 2, oqMedium},
               {"low", 16000, 2, oqLow}, {"custom", 48000, 1, oqCustom}};
  const struct {
    WideString Ext;
    uint8_t Format;
    std::string Prefix;  // of the source files of this format
  } formats[] = {{L".wav", ftWAV, ""}, {L".flac", ftFLAC, "f"}, {L".wv", ftWV, "p"}, {L".tta", ftTTA, "t"}};
  auto wide = [](const std::string& S) { return WideString(S.begin(), S.end()); };
  TempDir src;
  for (const Kind& k : kinds) {
    std::vector<WideString> files;
    std::map<std::string, std::vector<int32_t>> want;  // by the source's base name
    for (int bits : {16, 24}) {
      const std::string stem = std::string(k.Name) + "_" + std::to_string(bits);
      const WideString wstem = wide(stem);
      MakeTones(src.U(wstem + L".wav"), 0.5, k.Rate, k.Channels, bits, 330);
      const std::string wav = src.U(wstem + L".wav");
      Peer("flac -s -f -o " + peer::Quote(src.U(L"f" + wstem + L".flac")) + " " + peer::Quote(wav));
      Peer("wavpack -q -y " + peer::Quote(wav) + " -o " + peer::Quote(src.U(L"p" + wstem + L".wv")));
      Encode(wav, src.U(L"t" + wstem + L".tta"));
      const auto pcm = Samples(Pcm(wav, bits == 16 ? "s16le" : "s24le"), bits / 8);
      ASSERT_EQ(pcm.size(), (size_t)k.Rate * k.Channels / 2);
      for (const auto& f : formats) {
        files.push_back(src.W(wide(f.Prefix + stem) + f.Ext));
        want[f.Prefix + stem] = pcm;
      }
    }
    for (const auto& f : formats) {
      SCOPED_TRACE(testing::Message() << k.Name << " into format " << (int)f.Format);
      TempDir out;
      Batch b;
      b.Run(files, Params(out, f.Format, k.Quality, k.Channels));
      std::vector<std::string> expected;
      for (size_t i = 0; i < files.size(); ++i) {
        expected.push_back("START " + std::to_string(i));
        expected.push_back("DONE " + std::to_string(i) + " ok");
      }
      EXPECT_EQ(b.Log.Milestones(), expected);
      for (const auto& w : want) {
        SCOPED_TRACE(w.first);
        const std::string file = out.U(wide(w.first) + f.Ext);
        const int bytes = w.first.find("_24") != std::string::npos ? 3 : 2;
        EXPECT_EQ(Differences(Samples(Pcm(file, bytes == 2 ? "s16le" : "s24le"), bytes), w.second), "");
        if (f.Format == ftFLAC) {
          EXPECT_EQ(Differences(Samples(Peer("flac -s -d -c --force-raw-format --endian=little --sign=signed " + peer::Quote(file)), bytes), w.second), "")
              << "flac -d";
        }
      }
    }
  }
}

// A six-channel (5.1) and a three-channel source at a preset asking for stereo (CD) and for mono
// (custom at the source's rate): every lossless output has the channels asked for (ffprobe), each
// side holds the fold of the source's channels (front whole, centre and surrounds at -3 dB, low
// frequency left out, the weights of a side summing to 1; mono the mean of the sides), the 5.1
// fold agrees with ffmpeg's, and a full-scale stretch stays at full scale with its sign, never
// wrapped.
TEST(ConversionWorker, MoreChannelsAreFoldedToThoseThePresetAsksFor) {
  const int rate = 44100, frames = rate / 2, half = frames / 2;
  const double pi = 3.14159265358979323846, r = std::sqrt(0.5);
  struct Source {
    const wchar_t* Name;
    int Channels;
    std::vector<double> Left, Right;  // the documented weights
  } sources[] = {{L"three", 3, {1 / (1 + r), 0, r / (1 + r)}, {0, 1 / (1 + r), r / (1 + r)}},
                 {L"six", 6, {1 / (1 + 2 * r), 0, r / (1 + 2 * r), 0, r / (1 + 2 * r), 0},
                  {0, 1 / (1 + 2 * r), r / (1 + 2 * r), 0, 0, r / (1 + 2 * r)}}};
  TempDir src;
  std::map<std::wstring, std::vector<int16_t>> pcm;
  std::vector<WideString> files;
  for (const Source& s : sources) {
    // A tone of its own in each channel, then all channels alike at full scale, 50 frames up
    // and 50 down in turn.
    std::vector<int16_t>& v = pcm[s.Name];
    for (int i = 0; i < frames; ++i)
      for (int c = 0; c < s.Channels; ++c)
        v.push_back(i < half ? (int16_t)std::lround(16000 * std::sin(2 * pi * (300 + 200 * c) * i / rate))
                             : (i / 50) % 2 ? (int16_t)-32768 : (int16_t)32767);
    ASSERT_TRUE(testfiles::WriteBytes(src.W(WideString(s.Name) + L".raw"), std::string((const char*)v.data(), v.size() * 2)));
    Peer("sox -D -t raw -r 44100 -e signed -b 16 -c " + std::to_string(s.Channels) + " " + peer::Quote(src.U(WideString(s.Name) + L".raw")) +
         " " + peer::Quote(src.U(WideString(s.Name) + L".wav")));
    files.push_back(src.W(WideString(s.Name) + L".wav"));
  }
  for (int channels : {2, 1}) {
    for (uint8_t format : {ftWAV, ftFLAC, ftWV, ftTTA}) {
      SCOPED_TRACE(testing::Message() << "to " << channels << " channels, format " << (int)format);
      TempDir out;
      TOutputParams p = Params(out, format, channels == 2 ? oqCD : oqCustom, channels);
      p.SampleRateIndex = 0;  // 44100 Hz: the source's rate
      Batch b;
      b.Run(files, p);
      EXPECT_EQ(b.Log.Milestones(), (std::vector<std::string>{"START 0", "DONE 0 ok", "START 1", "DONE 1 ok"}));
      for (const Source& s : sources) {
        SCOPED_TRACE(testing::Message() << s.Channels << " channels in");
        const std::string file = out.U(WideString(s.Name) + TAudioTools::OutputExtension(format));
        auto probe = Probe(file);
        EXPECT_EQ(probe["channels"], std::to_string(channels));
        EXPECT_EQ(probe["sample_rate"], "44100");
        const auto got = Samples(Pcm(file, "s16le"), 2);
        ASSERT_EQ(got.size(), (size_t)frames * channels);
        const std::vector<int16_t>& in = pcm[s.Name];
        size_t off = 0, wrapped = 0;
        for (int i = 0; i < frames; ++i) {
          double l = 0, rr = 0;
          for (int c = 0; c < s.Channels; ++c) {
            l += s.Left[c] * in[(size_t)i * s.Channels + c] / 32768.0;
            rr += s.Right[c] * in[(size_t)i * s.Channels + c] / 32768.0;
          }
          const double want[2] = {channels == 2 ? l : (l + rr) / 2, rr};
          for (int o = 0; o < channels; ++o) {
            const int32_t v = got[(size_t)i * channels + o];
            off += std::abs(v - want[o] * 32767) > 1.5;
            if (i >= half) wrapped += in[(size_t)i * s.Channels] > 0 ? v < 32000 : v > -32000;
          }
        }
        EXPECT_EQ(off, 0u) << "samples away from the fold";
        EXPECT_EQ(wrapped, 0u) << "full-scale samples not at full scale";
        if (s.Channels == 6 && channels == 2) {
          // ffmpeg's own fold of 5.1 to stereo: its integer weights round differently.
          const auto ref = Samples(Pcm(src.U(L"six.wav"), "s16le -ac 2"), 2);
          ASSERT_EQ(ref.size(), got.size());
          size_t apart = 0;
          for (size_t i = 0; i < ref.size(); ++i) apart += std::abs(ref[i] - got[i]) > 4;
          EXPECT_EQ(apart, 0u) << "samples away from ffmpeg's fold";
        }
      }
    }
  }
}

// A source without audio frames (a valid WAVE whose data chunk is empty), resampled and made
// stereo on the way, into every format: "done" only for a valid file without audio that the peers
// read as such; a format that cannot hold no audio reports the file's failure and leaves no file.
TEST(ConversionWorker, ASourceWithoutAudioGivesAValidEmptyFileOrTheFilesFailure) {
  TempDir src;
  Peer("sox -n -r 48000 -c 1 -b 16 " + peer::Quote(src.U(L"none.wav")) + " trim 0 0");
  ASSERT_EQ(testfiles::ReadBytes(src.W(L"none.wav")).size(), 44u);
  struct Case {
    uint8_t Format;
    int Ok;  // 1: a valid file, 0: the failure (see the codecs' empty-input test), -1: either
  } cases[] = {{ftWAV, 1}, {ftFLAC, 1}, {ftOGG, 1}, {ftAPE, 1}, {ftMP3, 0},
               {ftTTA, 0}, {ftMPC, 0}, {ftWV, 0}, {ftWMA, -1}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "format " << (int)c.Format);
    TempDir out;
    Batch b;
    b.Run({src.W(L"none.wav")}, Params(out, c.Format, oqCD));
    const WideString file = out.W(L"none" + TAudioTools::OutputExtension(c.Format));
    if (!b.Log.Has("DONE 0 ok")) {
      EXPECT_NE(c.Ok, 1);
      EXPECT_TRUE(b.Log.Has("DONE 0 failed") || b.Log.Has("ERROR 0 0"));
      EXPECT_FALSE(WideFileExists(file)) << "a failed file is left";
      continue;
    }
    EXPECT_NE(c.Ok, 0) << "reported done";
    EXPECT_EQ(b.Log.Milestones(), (std::vector<std::string>{"START 0", "DONE 0 ok"}));
    if (c.Format == ftAPE) {
      // The test double's files: what our own input reads from them.
      TAudioInformation info;
      ASSERT_TRUE(TAudioTools::GetInformation(file, info));
      EXPECT_EQ(info.SampleRate, 44100);
      EXPECT_EQ(info.Channels, 2);
      EXPECT_EQ(info.TotalSamples, -1);  // a file input of size 0 tells -1
      continue;
    }
    const std::string u = out.U(L"none" + TAudioTools::OutputExtension(c.Format));
    auto p = Probe(u);
    EXPECT_EQ(p["sample_rate"], "44100");
    EXPECT_EQ(p["channels"], "2");
    EXPECT_EQ(Peer("ffmpeg -nostdin -v error -xerror -i " + peer::Quote(u) + " -f s16le -"), "");
    if (c.Format == ftFLAC) Peer("flac -s -t " + peer::Quote(u));
  }
}
