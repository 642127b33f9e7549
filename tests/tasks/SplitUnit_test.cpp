// The split worker end to end on the bus: segment files against the source's samples.
#include <gtest/gtest.h>

#include <cmath>
#include <cwchar>

#include "tasks/SplitUnit.h"
#include "tasks/TaskTestUtil.h"
#include "unicode/UniSysUtils.h"

using namespace tasktest;

namespace {

struct Split {
  BusLog Log;
  bool Ended = false;

  void Run(const WideString& File, const WideString& Folder, const std::vector<std::pair<int, int>>& Ranges,
           const std::function<void(TSplitThread*, const std::string&)>& Watch = nullptr) {
    std::vector<TAudioCutParam> list;
    for (const auto& r : Ranges) list.emplace_back(r.first, r.second);
    auto* t = new TSplitThread(File, Folder, list);
    // The worker has its own copy: the caller's list may change or go at once (the window
    // clears it on Stop).
    for (auto& p : list) p = TAudioCutParam(-7777, 3);
    list.clear();
    list.shrink_to_fit();
    // Started already: OnTerminate is called through the user-interface thread, which serves
    // only below, so it cannot be missed.
    t->OnTerminate = [this](TObject*) { Ended = true; };
    size_t seen = 0;
    ASSERT_TRUE(ServeUntil([&] {
      while (Watch && !Ended && seen < Log.Lines.size()) Watch(t, Log.Lines[seen++]);
      return Ended;
    })) << "the worker did not end";
  }
};

std::vector<std::pair<int, int>> Even(int DurationMs, int Parts) {
  std::vector<std::pair<int, int>> r;
  for (int i = 0; i < Parts; ++i) r.push_back({DurationMs * i / Parts, DurationMs * (i + 1) / Parts});
  return r;
}

}  // namespace

// A 10.4-s source (not a whole number of seconds) cut evenly into 2, 7 and 20 parts and by
// irregular marks on the window's scale, its 10 whole seconds: the marks are stretched over every
// frame, so each lossless segment holds exactly the source's frames of its stretched range (the
// last one up to the file's end), each lossy one lasts it within a codec frame.
TEST(SplitWorker, SegmentsHoldTheirRangeOfTheSource) {
  TempDir src;
  MakeTones(src.U(L"talk.wav"), 10.4, 44100, 2, 16);
  MakeTones(src.U(L"talk.flac"), 10.4, 48000, 1, 24);
  Encode(src.U(L"talk.wav"), src.U(L"talk.tta"));
  Peer("wavpack -q -y " + peer::Quote(src.U(L"talk.wav")) + " -o " + peer::Quote(src.U(L"talk.wv")));
  Encode(src.U(L"talk.wav"), src.U(L"talk.ogg"), "-c:a libvorbis -q:a 4");
  Encode(src.U(L"talk.wav"), src.U(L"talk.mp3"), "-c:a libmp3lame -b:a 128k");
  const std::vector<std::vector<std::pair<int, int>>> plans = {
      Even(10000, 2), Even(10000, 7), Even(10000, 20), {{0, 1234}, {1234, 1235}, {3333, 9999}, {9999, 10000}}};

  for (const wchar_t* ext : {L".wav", L".flac", L".tta", L".wv", L".ogg", L".mp3"}) {
    const std::string srcFile = src.U(std::wstring(L"talk") + ext);
    auto info = Probe(srcFile);
    const int rate = std::stoi(info["sample_rate"]), ch = std::stoi(info["channels"]);
    const bool wide = ext == std::wstring(L".flac");
    const std::string fmt = wide ? "s24le" : "s16le";
    const size_t frameBytes = (wide ? 3 : 2) * ch;
    const std::string whole = Pcm(srcFile, fmt);
    for (const auto& plan : plans) {
      SCOPED_TRACE(testing::Message() << std::string(ext, ext + wcslen(ext)) << " " << plan.size() << " parts");
      TempDir out;
      Split s;
      s.Run(src.W(std::wstring(L"talk") + ext), out.Folder(), plan);
      std::vector<std::string> expected;
      for (size_t i = 0; i < plan.size(); ++i) {
        expected.push_back("SSTART " + std::to_string(i));
        expected.push_back("SDONE " + std::to_string(i) + " ok");
      }
      EXPECT_EQ(s.Log.Milestones(), expected);
      for (size_t i = 0; i < plan.size(); ++i) {
        const std::string seg = out.U(L"talk_Segment" + std::to_wstring(i) + ext);
        // The scale's 10000 ms over the 10.4 s of frames, rounded half to even.
        const long double frames = 10.4L * rate;
        const int64_t a = (int64_t)std::nearbyint(plan[i].first / 10000.0L * frames);
        const int64_t b = (int64_t)std::nearbyint(plan[i].second / 10000.0L * frames);
        if (std::wstring(ext) == L".ogg") {
          EXPECT_NEAR(std::stod(Probe(seg)["duration"]), (b - a) / (double)rate, 2048.0 / rate) << i;
          continue;
        }
        if (std::wstring(ext) == L".mp3") {
          // Lossy both ways: the length, within two codec frames and the Windows Media reader's
          // decoder delay.
          EXPECT_NEAR(std::stod(Probe(seg)["duration"]), (b - a) / (double)rate, (2 * 1152.0 + 4096.0) / rate) << i;
          continue;
        }
        const std::string got = Pcm(seg, fmt);
        EXPECT_EQ(got.size(), (size_t)(b - a) * frameBytes) << "segment " << i;
        EXPECT_TRUE(got == whole.substr(a * frameBytes, (b - a) * frameBytes)) << "segment " << i;
      }
    }
  }
}

// Names: the base name ends at the first occurrence of the extension, the extension keeps its
// case, an existing segment file is never overwritten.
TEST(SplitWorker, SegmentNamesAreUnique) {
  TempDir src, out;
  MakeTones(src.U(L"x.WAV.WAV"), 1, 22050, 1, 16);
  ASSERT_TRUE(testfiles::WriteBytes(out.W(L"x_Segment0.WAV"), "keep"));
  Split s;
  s.Run(src.W(L"x.WAV.WAV"), out.Folder(), {{0, 500}, {500, 1000}});
  EXPECT_EQ(testfiles::ReadBytes(out.W(L"x_Segment0.WAV")), "keep");
  EXPECT_EQ(Probe(out.U(L"x_Segment0(0).WAV"))["codec_name"], "pcm_s16le");
  EXPECT_EQ(Probe(out.U(L"x_Segment1.WAV"))["codec_name"], "pcm_s16le");
}

// Stop during segment 1 of 5, through the canceller the window keeps: that segment ends as a
// failure and leaves no file, and no further segment starts; the canceller may still be called
// once the worker has freed itself.
TEST(SplitWorker, StopStartsNoFurtherSegment) {
  TempDir src, out;
  MakeTones(src.U(L"long.flac"), 100, 44100, 2, 16);
  std::function<void()> cancel;
  std::shared_ptr<std::atomic<bool>> request;
  Split s;
  s.Run(src.W(L"long.flac"), out.Folder(), Even(100000, 5), [&](TSplitThread* t, const std::string& line) {
    if (!cancel) {
      cancel = t->Canceller();
      request = t->CancelRequest();
    }
    if (line.rfind("SPROGRESS 1 ", 0) == 0 && !*request) cancel();
  });
  EXPECT_EQ(s.Log.Milestones(), (std::vector<std::string>{"SSTART 0", "SDONE 0 ok", "SSTART 1", "SDONE 1 failed"}));
  EXPECT_TRUE(WideFileExists(out.W(L"long_Segment0.flac")));
  for (int i = 1; i < 5; ++i) EXPECT_FALSE(WideFileExists(out.W(L"long_Segment" + std::to_wstring(i) + L".flac"))) << i;
  ASSERT_TRUE(cancel);
  cancel();
  EXPECT_TRUE(*request);
}

// A source of a type without an output pair, or one its codec rejects, gives each segment an
// error and no file.
TEST(SplitWorker, SourcesWithoutAPairOrUnreadableAreRefusedPerSegment) {
  TempDir src, out;
  ASSERT_TRUE(testfiles::WriteBytes(src.W(L"a.tak"), std::string(4000, 'x')));
  ASSERT_TRUE(testfiles::WriteBytes(src.W(L"b.flac"), std::string(4000, 'x')));
  for (const wchar_t* f : {L"a.tak", L"b.flac"}) {
    Split s;
    s.Run(src.W(f), out.Folder(), {{0, 100}, {100, 200}});
    EXPECT_EQ(s.Log.Milestones(),
              (std::vector<std::string>{"SSTART 0", "SERROR 0 0", "SDONE 0 failed", "SSTART 1", "SERROR 1 0", "SDONE 1 failed"}));
  }
  EXPECT_FALSE(WideFileExists(out.W(L"b_Segment0.flac")));
}

// Marks a user may leave: a zero-length segment at the very start, one at its middle, an end
// before its start, and an end past the file's end. The empty ones give files with no audio
// (never the whole file); the long one ends with the file.
TEST(SplitWorker, EmptyAndOverlongSegments) {
  TempDir src;
  MakeTones(src.U(L"one.wav"), 1.0, 44100, 2, 16);
  MakeTones(src.U(L"one.flac"), 1.0, 44100, 2, 16);
  const std::vector<std::pair<int, int>> plan = {{0, 0}, {300, 300}, {500, 200}, {0, -5}, {800, 5000}};
  const size_t frameBytes = 4;
  for (const wchar_t* ext : {L".wav", L".flac"}) {
    SCOPED_TRACE(testing::Message() << std::string(ext, ext + wcslen(ext)));
    const std::string whole = Pcm(src.U(std::wstring(L"one") + ext), "s16le");
    TempDir out;
    Split s;
    s.Run(src.W(std::wstring(L"one") + ext), out.Folder(), plan);
    std::vector<std::string> expected;
    for (size_t i = 0; i < plan.size(); ++i) {
      expected.push_back("SSTART " + std::to_string(i));
      expected.push_back("SDONE " + std::to_string(i) + " ok");
    }
    EXPECT_EQ(s.Log.Milestones(), expected);
    for (size_t i = 0; i + 1 < plan.size(); ++i)
      EXPECT_EQ(Pcm(out.U(L"one_Segment" + std::to_wstring(i) + ext), "s16le").size(), 0u) << "segment " << i;
    const std::string tail = Pcm(out.U(L"one_Segment4" + std::wstring(ext)), "s16le");
    EXPECT_TRUE(tail == whole.substr(35280 * frameBytes)) << tail.size() / frameBytes << " frames";
  }
}
