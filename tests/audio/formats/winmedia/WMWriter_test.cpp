// The WMA outputs and the layer's writer path against the double of the runtime's writer, and
// the real runtime's refusal here.
#include <gtest/gtest.h>

#include <memory>

#include "WMDouble.h"
#include "WMTestUtil.h"
#include "audio/formats/winmedia/AuWinMedia.h"
#include "classlib/SysUtils.h"

using namespace wmtest;

namespace {

// An input delivering given bytes in a given format, in pulls of at most 3000 bytes.
class TBytesIn : public TAuInput {
 public:
  TBytesIn(int bits, int ch, int rate, std::string data)
      : TAuInput(nullptr), bits_(bits), ch_(ch), rate_(rate), data_(std::move(data)) {}
  const char* ClassName() const override { return "TBytesIn"; }

 protected:
  int GetBPS() override { return bits_; }
  int GetCh() override { return ch_; }
  int GetSR() override { return rate_; }
  void InitInternal() override {
    pos_ = 0;
    FPosition = 0;
    FSize = (int64_t)data_.size();
    FBusy = true;
  }
  void FlushInternal() override { FBusy = false; }
  void GetDataInternal(void*& Buffer, uint32_t& Bytes) override {
    Bytes = (uint32_t)std::min<size_t>({Bytes, 3000, data_.size() - pos_});
    Buffer = Bytes ? &data_[pos_] : nullptr;
    pos_ += Bytes;
    FPosition += Bytes;
  }

 private:
  int bits_, ch_, rate_;
  std::string data_;
  size_t pos_ = 0;
};

std::string Pcm(size_t bytes) {
  std::string s(bytes, '\0');
  for (size_t i = 0; i < bytes; ++i) s[i] = (char)(i * 31 + i / 7);
  return s;
}

// Runs the output to the end in this thread; the exception's message, or "" when none.
std::string RunToEnd(TAuOutput& out) {
  try {
    out.BlockingRun();
  } catch (const Exception& e) {
    return e.what();
  }
  return "";
}

}  // namespace

TEST(WMAOut, HandsTheWriterItsProfileTagsAndEverySample) {
  wmdouble::Installed dbl;
  auto& st = dbl.state();
  const std::string pcm = Pcm(176400 * 2 + 4 * 1001);  // two seconds and 1001 frames
  TBytesIn src(16, 2, 44100, pcm);
  TWMAOut out(nullptr);
  EXPECT_EQ(out.Codecs()->Count(), 2);
  out.SetInput(&src);
  out.SetWideFileName(L"C:\\music\\out.wma");
  out.SetDesiredBitrate(128);
  TId3v2Tags* t = out.Id3v2Tags();
  t->SetArtist(L"Artist 歌手");
  t->SetTitle(L"Title");
  t->SetAlbum(L"Album");
  t->SetGenre(L"Rock");
  t->SetYear("2020");
  t->SetTrack("3");
  t->SetComment(L"(c) someone");
  ASSERT_EQ(RunToEnd(out), "");

  EXPECT_EQ(st.sinkFile, L"C:\\music\\out.wma");
  // The profile: the constant-rate format nearest 128 kbit/s with the input's shape.
  EXPECT_EQ(st.chosenCodec, 0);
  EXPECT_EQ(st.chosenFormat, 2);
  EXPECT_EQ(st.streamNumber, 1);
  EXPECT_EQ(st.streamName, L"NAAudioStream");
  EXPECT_EQ(st.connectionName, L"NAAudioConnection");
  EXPECT_TRUE(st.Called("CreateEmptyProfile(9.0)"));
  // The PCM input.
  EXPECT_EQ(st.input.wFormatTag, 1);
  EXPECT_EQ(st.input.nChannels, 2);
  EXPECT_EQ(st.input.nSamplesPerSec, 44100u);
  EXPECT_EQ(st.input.wBitsPerSample, 16);
  EXPECT_EQ(st.input.nBlockAlign, 4);
  EXPECT_EQ(st.input.nAvgBytesPerSec, 176400u);
  // The tags as header attributes.
  std::map<std::wstring, std::wstring> want = {
      {L"Author", L"Artist 歌手"}, {L"Title", L"Title"},   {L"WM/AlbumTitle", L"Album"}, {L"WM/Genre", L"Rock"},
      {L"WM/Year", L"2020"},       {L"WM/Track", L"3"},    {L"Copyright", L"(c) someone"}};
  EXPECT_EQ(st.attributes, want);
  // Every sample, in order, in blocks of 80 ms stamped with their end.
  EXPECT_EQ(st.samples, pcm);
  ASSERT_FALSE(st.times.empty());
  EXPECT_EQ(st.times[0], 800000u);
  EXPECT_EQ(st.times.back(), (QWORD)Round((double)pcm.size() / 176400 / 0.0000001));
  // The order of the calls that matter.
  auto at = [&](const std::string& c) { return std::find(st.calls.begin(), st.calls.end(), c) - st.calls.begin(); };
  EXPECT_LT(at("WMCreateWriterFileSink"), at("AddSink"));
  EXPECT_LT(at("FileSink.Open"), at("SetProfile"));
  EXPECT_LT(at("SetProfile"), at("SetInputProps"));
  EXPECT_LT(at("SetAttribute"), at("BeginWriting"));
  EXPECT_EQ(st.calls.back(), "EndWriting");
  EXPECT_EQ(st.Count("Advise"), 1);
  EXPECT_EQ(wmdouble::Live(), 0);
}

TEST(WMAOut, EmptyTagsAreNotWritten) {
  wmdouble::Installed dbl;
  TBytesIn src(16, 1, 22050, Pcm(22050 * 2));
  TWMAOut out(nullptr);
  out.SetInput(&src);
  out.SetWideFileName(L"x.wma");
  out.Id3v2Tags()->SetTitle(L"Only");
  ASSERT_EQ(RunToEnd(out), "");
  EXPECT_EQ(dbl.state().attributes.size(), 1u);
  EXPECT_EQ(dbl.state().attributes[L"Title"], L"Only");
  // A target of 0 takes the first format with the input's shape.
  EXPECT_EQ(dbl.state().chosenFormat, 7);
}

TEST(WMALayer, ChoosesTheProfile) {
  struct Case {
    int channels, bits, rate;
    bool lossless, vbr;
    uint32_t target;
    int codec, format;  // -1: "Failed to init codec"
  } cases[] = {
      {2, 16, 44100, false, false, 96, 0, 1},       // kbit/s
      {2, 16, 44100, false, false, 96000, 0, 1},    // the same in bit/s
      {2, 16, 44100, false, false, 128, 0, 2},
      {2, 16, 44100, false, false, 1000000, 0, 3},  // the highest there is
      {1, 16, 44100, false, false, 128, 0, 4},      // the input's channels before a nearer rate
      {2, 16, 48000, false, false, 128, 0, 2},      // a tie in bit rate keeps the first
      {2, 16, 44100, true, false, 0, 1, 3},         // lossless
      {2, 16, 44100, false, true, 75, 1, 1},        // the nearest quality
      {2, 16, 44100, false, true, 97, 1, 2},
      {1, 16, 44100, false, true, 90, 1, 4},        // mono, and nearest
      {1, 16, 44100, false, true, 10, 1, 0},        // no mono format qualifies: the first that did
      {2, 24, 44100, false, false, 128, -1, -1},    // nothing for 24 bits
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.channels << "ch " << c.rate << " lossless " << c.lossless << " vbr " << c.vbr
                                    << " target " << c.target);
    wmdouble::Installed dbl;
    wma_writer w;
    lwma_writer_open_file(w, L"x.wma", nullptr, nullptr);
    ASSERT_TRUE(w.initialised);
    std::string error;
    try {
      lwma_writer_set_profile(w, c.channels, c.bits, c.rate, c.lossless, c.vbr, c.target);
    } catch (const EAuException& e) {
      error = e.what();
    }
    if (c.codec < 0) {
      EXPECT_EQ(error, "Failed to init codec");
    } else {
      EXPECT_EQ(error, "");
      EXPECT_EQ(dbl.state().chosenCodec, c.codec);
      EXPECT_EQ(dbl.state().chosenFormat, c.format);
    }
    lwma_writer_close_file(w);
  }
}

TEST(WMALayer, SampleTimeAdvancesByTheBytesWritten) {
  wmdouble::Installed dbl;
  wma_writer w;
  lwma_writer_open_file(w, L"x.wma", nullptr, nullptr);
  lwma_writer_set_profile(w, 2, 16, 44100, false, false, 128);
  lwma_writer_begin(w);
  std::string second = Pcm(176400);
  lwma_writer_write(w, second.data(), (uint32_t)second.size());
  EXPECT_EQ(w.sample_time, 10000000);
  lwma_writer_write(w, second.data(), 4410 * 4);
  EXPECT_EQ(w.sample_time, 11000000);
  lwma_writer_close_file(w);
  EXPECT_FALSE(w.initialised);
  EXPECT_EQ(w.writer, nullptr);
}

TEST(WMAOut, FailuresGiveTheirMessages) {
  struct Case {
    const char* what;
    std::function<void(wmdouble::State&, TWMAOut&)> setup;
    const char* message;
  } cases[] = {
      {"no file name", [](wmdouble::State&, TWMAOut& o) { o.SetWideFileName(L""); }, "File name is not assigned."},
      {"sink cannot open", [](wmdouble::State& s, TWMAOut&) { s.openResult = E_ACCESSDENIED; }, "Cannot create file"},
      {"no sink", [](wmdouble::State&, TWMAOut&) {
         TWMVCoreApi api = WMVCore;
         api.CreateWriterFileSink = nullptr;
         WMVCoreReplaceApi(api);
       }, "Cannot create file"},
      {"no codec", [](wmdouble::State& s, TWMAOut&) { s.codecs.clear(); }, "Failed to init codec"},
      {"begin", [](wmdouble::State& s, TWMAOut&) { s.beginResult = E_FAIL; },
       "Filed to set data writer, possible reason: required WMA codec not installed."},
      {"write", [](wmdouble::State& s, TWMAOut&) {
         s.failWriteAt = 3;
         s.writeResult = (HRESULT)0xC00D0011;
       }, "Failed to write data: C00D0011"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    wmdouble::Installed dbl;
    TBytesIn src(16, 2, 44100, Pcm(176400));
    TWMAOut out(nullptr);
    out.SetInput(&src);
    out.SetWideFileName(L"x.wma");
    c.setup(dbl.state(), out);
    EXPECT_EQ(RunToEnd(out), c.message);
    EXPECT_FALSE(src.Busy());  // the input was flushed
    EXPECT_EQ(wmdouble::Live(), 0);  // and nothing of the runtime's is held
  }
}

TEST(WMAOut, AnErrorReportedByTheRuntimeEndsTheRun) {
  for (int status : {0, 9, 26, 30, 1, 37}) {
    SCOPED_TRACE(status);
    wmdouble::Installed dbl;
    auto& st = dbl.state();
    const std::string pcm = Pcm(176400);
    TBytesIn src(16, 2, 44100, pcm);
    TWMAOut out(nullptr);
    out.SetInput(&src);
    out.SetWideFileName(L"x.wma");
    // The runtime reports the status while the second sample is written.
    st.onWrite = [&](int sample) {
      if (sample == 1) st.callback->OnStatus((WMT_STATUS)status, E_FAIL, WMT_TYPE_DWORD, nullptr, nullptr);
    };
    const bool error = status == 0 || status == 9 || status == 26 || status == 30;
    EXPECT_EQ(RunToEnd(out), error ? "Windows Media output error" : "");
    if (error) {
      EXPECT_EQ(st.times.size(), 2u);
    } else {
      EXPECT_EQ(st.samples, pcm);
    }
  }
}

TEST(WMStreamedOut, ServesTheStreamOnItsPort) {
  wmdouble::Installed dbl;
  auto& st = dbl.state();
  const std::string pcm = Pcm(176400);
  TBytesIn src(16, 2, 44100, pcm);
  TWMStreamedOut out(nullptr);
  out.SetInput(&src);
  out.SetPort(8080);
  out.SetMaxClients(3);
  ASSERT_EQ(RunToEnd(out), "");
  EXPECT_EQ(st.port, 8080u);
  EXPECT_EQ(st.maxClients, 3u);
  EXPECT_EQ(st.protocol, (int)WMT_PROTOCOL_HTTP);
  EXPECT_EQ(st.samples, pcm);
  EXPECT_TRUE(st.Called("NetworkSink.Close"));
  EXPECT_TRUE(st.Called("RemoveSink"));
  EXPECT_FALSE(st.Called("WMCreateWriterFileSink"));
}

TEST(WMAOut, TheRuntimeHereCannotWriteAndSaysSo) {
  // No double: the platform's own runtime, whose writer sinks are not implemented.
  TBytesIn src(16, 2, 44100, Pcm(17640));
  TWMAOut out(nullptr);
  out.SetInput(&src);
  out.SetWideFileName(ScratchFile(L"real.wma"));
  EXPECT_EQ(RunToEnd(out), "Cannot create file");
  TWMStreamedOut net(nullptr);
  net.SetInput(&src);
  EXPECT_EQ(RunToEnd(net), "Cannot create file");
  // Without the runtime at all, the same.
  TWMVCoreApi old = WMVCoreReplaceApi(TWMVCoreApi());
  EXPECT_EQ(RunToEnd(out), "Cannot create file");
  WMVCoreReplaceApi(old);
}
