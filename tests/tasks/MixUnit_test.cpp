// The mix worker end to end on the bus: mixes and joins against sox.
#include <gtest/gtest.h>
#include <windows.h>

#include <cmath>
#include <cwchar>

#include "tasks/MixUnit.h"
#include "tasks/TaskTestUtil.h"
#include "unicode/UniClasses.h"
#include "unicode/UniSysUtils.h"

using namespace tasktest;

namespace {

struct Mix {
  BusLog Log;
  bool Ended = false;
  void Run(const std::vector<WideString>& Files, const WideString& Output, TAudioMixerMode Mode) {
    TUniStringList list;
    for (const auto& f : Files) list.Add(f);
    auto* t = new TMixedThread(list, Output, Mode);
    t->OnTerminate = [this](TObject*) { Ended = true; };
    t->Resume();
    ASSERT_TRUE(ServeUntil([&] { return Ended; })) << "the worker did not end";
  }
};

std::vector<int32_t> S16(const std::string& Pcm) {
  std::vector<int32_t> v(Pcm.size() / 2);
  for (size_t i = 0; i < v.size(); ++i) v[i] = (int16_t)((uint8_t)Pcm[2 * i] | ((uint8_t)Pcm[2 * i + 1] << 8));
  return v;
}

// Points the process's temporary folder at a private one for a test and lists what is left in
// it (the worker's temporary files would be left there).
class PrivateTemp {
 public:
  PrivateTemp() {
    GetEnvironmentVariableW(L"TMP", FOldTmp, MAX_PATH);
    GetEnvironmentVariableW(L"TEMP", FOldTemp, MAX_PATH);
    SetEnvironmentVariableW(L"TMP", FDir.Path().c_str());
    SetEnvironmentVariableW(L"TEMP", FDir.Path().c_str());
  }
  ~PrivateTemp() {
    SetEnvironmentVariableW(L"TMP", FOldTmp[0] ? FOldTmp : nullptr);
    SetEnvironmentVariableW(L"TEMP", FOldTemp[0] ? FOldTemp : nullptr);
  }
  std::vector<std::wstring> Listing() const {
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW fd;
    HANDLE h = FindFirstFileW((FDir.Path() + L"\\*").c_str(), &fd);
    if (h == INVALID_HANDLE_VALUE) return names;
    do {
      if (!(fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) names.push_back(fd.cFileName);
    } while (FindNextFileW(h, &fd));
    FindClose(h);
    return names;
  }

 private:
  TempDir FDir;
  wchar_t FOldTmp[MAX_PATH] = {0}, FOldTemp[MAX_PATH] = {0};
};

}  // namespace

// Two and three inputs of equal and of different rates and channel counts, mixed and joined
// into WAVE: against sox's mix (-m, each input halved per pair as the mixer does) and sox's
// concatenation of the inputs brought to the first one's format. Messages: start 1, done 1 for
// two files; start/done per step and the final done for three.
TEST(MixWorker, MixesAndJoinsMatchSox) {
  TempDir d;
  MakeTones(d.U(L"a.wav"), 1.0, 44100, 2, 16, 300);
  MakeTones(d.U(L"b.wav"), 1.5, 44100, 2, 16, 500);
  MakeTones(d.U(L"c.flac"), 0.5, 22050, 1, 16, 700);
  struct Case {
    std::vector<const wchar_t*> In;
    TAudioMixerMode Mode;
  } cases[] = {{{L"a.wav", L"b.wav"}, amMix},          {{L"a.wav", L"b.wav"}, amConcatenate},
               {{L"a.wav", L"c.flac"}, amConcatenate}, {{L"a.wav", L"b.wav", L"c.flac"}, amConcatenate},
               {{L"a.wav", L"b.wav", L"c.flac"}, amMix}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.In.size() << " files, mode " << (int)c.Mode);
    std::vector<WideString> files;
    std::string soxIn;
    for (size_t i = 0; i < c.In.size(); ++i) {
      files.push_back(d.W(c.In[i]));
      // sox takes every input to the first one's rate and channels, as the worker does.
      soxIn += " " + peer::Quote(d.U(c.In[i]));
    }
    PrivateTemp temp;
    Mix m;
    m.Run(files, d.W(L"out.wav"), c.Mode);
    std::vector<std::string> expected;
    if (c.In.size() == 2) {
      expected = {"MSTART 1", "MDONE 1 ok"};
    } else {
      expected = {"MSTART 1", "MDONE 1 ok", "MSTART 2", "MDONE 2 ok", "MDONE 2 ok"};
    }
    EXPECT_EQ(m.Log.Milestones(), expected);
    EXPECT_TRUE(temp.Listing().empty()) << "temporary files left behind";
    auto p = Probe(d.U(L"out.wav"));
    EXPECT_EQ(p["sample_rate"], "44100");
    EXPECT_EQ(p["channels"], "2");
    // The reference, step by step like the worker: sox brings the second input to the first's
    // format (rate by its own resampler, so only lengths and, without resampling, the samples
    // are compared).
    std::string ref = d.U(c.In[0]);
    bool resampled = false;
    for (size_t i = 1; i < c.In.size(); ++i) {
      const std::string conv = d.U(L"conv" + std::to_wstring(i) + L".wav");
      Peer("sox -D " + peer::Quote(d.U(c.In[i])) + " -r 44100 -c 2 -b 16 " + peer::Quote(conv));
      resampled |= std::wstring(c.In[i]).find(L".flac") != std::wstring::npos;
      const std::string next = d.U(L"ref" + std::to_wstring(i) + L".wav");
      Peer(std::string("sox -D ") + (c.Mode == amMix ? "-m " : "") + peer::Quote(ref) + " " + peer::Quote(conv) + " " +
           peer::Quote(next));
      ref = next;
    }
    const auto got = S16(Pcm(d.U(L"out.wav"), "s16le"));
    const auto want = S16(Pcm(ref, "s16le"));
    ASSERT_NEAR((double)got.size(), (double)want.size(), resampled ? 16.0 : 0.0);
    if (!resampled) {
      size_t bad = 0;
      for (size_t i = 0; i < got.size(); ++i) bad += std::abs(got[i] - want[i]) > 1;
      EXPECT_EQ(bad, 0u) << "samples differ from sox's by more than rounding";
    }
  }
}

// An existing output chosen by the user is replaced; a failing step ends the task with a failure
// reported, uses no failed result and leaves no temporary file.
TEST(MixWorker, ResultReplacesTheTargetAndFailuresAreReported) {
  TempDir d;
  MakeTones(d.U(L"a.wav"), 0.5, 44100, 2, 16);
  MakeTones(d.U(L"b.wav"), 0.5, 44100, 2, 16, 600);
  ASSERT_TRUE(testfiles::WriteBytes(d.W(L"bad.flac"), std::string(4000, 'x')));
  ASSERT_TRUE(testfiles::WriteBytes(d.W(L"out.wav"), "old"));
  {
    Mix m;
    m.Run({d.W(L"a.wav"), d.W(L"b.wav")}, d.W(L"out.wav"), amConcatenate);
    EXPECT_EQ(m.Log.Milestones(), (std::vector<std::string>{"MSTART 1", "MDONE 1 ok"}));
    EXPECT_EQ(Probe(d.U(L"out.wav"))["duration"].substr(0, 3), "1.0");
  }
  PrivateTemp temp;
  {
    Mix m;
    m.Run({d.W(L"a.wav"), d.W(L"bad.flac"), d.W(L"b.wav")}, d.W(L"out2.wav"), amMix);
    EXPECT_EQ(m.Log.Milestones(), (std::vector<std::string>{"MSTART 1", "MDONE 1 failed", "MDONE 1 failed"}));
    EXPECT_FALSE(WideFileExists(d.W(L"out2.wav")));
  }
  EXPECT_TRUE(temp.Listing().empty()) << "temporary files left behind";
}

// Three files joined into each writable output of its own kind: every step succeeds (the MP3
// output tags its file by name, so a step's temporary file must carry the output's extension),
// the result holds the three lengths and no temporary file is left.
TEST(MixWorker, JoinsIntoEveryOutputFormat) {
  TempDir d;
  MakeTones(d.U(L"a.wav"), 0.5, 44100, 2, 16, 300);
  MakeTones(d.U(L"b.wav"), 0.7, 44100, 2, 16, 500);
  const std::vector<WideString> files = {d.W(L"a.wav"), d.W(L"b.wav"), d.W(L"a.wav")};
  for (const wchar_t* ext : {L".mp3", L".ogg", L".flac", L".tta", L".wv", L".mpc"}) {
    SCOPED_TRACE(testing::Message() << std::string(ext, ext + wcslen(ext)));
    PrivateTemp temp;
    Mix m;
    m.Run(files, d.W(std::wstring(L"joined") + ext), amConcatenate);
    EXPECT_EQ(m.Log.Milestones(), (std::vector<std::string>{"MSTART 1", "MDONE 1 ok", "MSTART 2", "MDONE 2 ok", "MDONE 2 ok"}));
    EXPECT_TRUE(temp.Listing().empty()) << "temporary files left behind";
    const std::string out = d.U(std::wstring(L"joined") + ext);
    // ffprobe gives no stream length for Musepack: count the decoded frames. Lossy outputs may
    // gain or lose up to two codec frames.
    const double seconds = std::wstring(ext) == L".mpc" ? Pcm(out, "s16le").size() / (4.0 * 44100) : std::stod(Probe(out)["duration"]);
    EXPECT_NEAR(seconds, 1.7, 2 * 2048.0 / 44100);
  }
}

// Inputs whose channel layouts the worker cannot bring together (stereo first, six channels
// second: the second is never made of more channels than it has) end their step as a failure and
// leave no output, instead of a garbled file; six channels after stereo are folded to stereo, and
// two six-channel inputs join.
TEST(MixWorker, LayoutsThatCannotMeetFailTheStep) {
  TempDir d;
  MakeTones(d.U(L"st.wav"), 0.5, 44100, 2, 16);
  MakeTones(d.U(L"six.wav"), 0.5, 44100, 6, 16);
  MakeTones(d.U(L"six2.wav"), 0.25, 44100, 6, 16, 700);
  struct Case {
    const wchar_t *A, *B;
    bool Ok;
    const char* Channels;
    double Seconds;
  } cases[] = {{L"st.wav", L"six.wav", true, "2", 1.0}, {L"six.wav", L"st.wav", false, "", 0}, {L"six.wav", L"six2.wav", true, "6", 0.75}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << (c.A == std::wstring(L"st.wav") ? "stereo first" : "six first") << " " << c.Ok);
    TempDir out;
    Mix m;
    m.Run({d.W(c.A), d.W(c.B)}, out.W(L"r.flac"), amConcatenate);
    EXPECT_EQ(m.Log.Milestones(), (std::vector<std::string>{"MSTART 1", c.Ok ? "MDONE 1 ok" : "MDONE 1 failed"}));
    EXPECT_EQ(WideFileExists(out.W(L"r.flac")), c.Ok);
    if (c.Ok) {
      auto p = Probe(out.U(L"r.flac"));
      EXPECT_EQ(p["channels"], c.Channels);
      EXPECT_NEAR(std::stod(p["duration"]), c.Seconds, 1e-3);
    }
  }
}

// Wide sources into outputs that take narrower samples: 32-bit float into FLAC and TTA (24 bits),
// 24-bit into Musepack (16 bits). Every step succeeds and the result is readable, of the narrower
// width and of the joined length.
TEST(MixWorker, WideSourcesAreNarrowedForTheOutput) {
  TempDir d;
  Peer("sox -D -n -r 44100 -c 2 -e floating-point -b 32 " + peer::Quote(d.U(L"f.wav")) + " synth 0.5 sine 440 vol 0.5");
  MakeTones(d.U(L"w.wav"), 0.5, 44100, 2, 24);
  struct Case {
    const wchar_t *In, *Out;
    const char* Bits;
  } cases[] = {{L"f.wav", L"r.flac", "24"}, {L"f.wav", L"r.tta", "24"}, {L"w.wav", L"r.mpc", ""}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << std::string(c.Out, c.Out + wcslen(c.Out)));
    TempDir out;
    Mix m;
    m.Run({d.W(c.In), d.W(c.In)}, out.W(c.Out), amConcatenate);
    EXPECT_EQ(m.Log.Milestones(), (std::vector<std::string>{"MSTART 1", "MDONE 1 ok"}));
    if (*c.Bits) {
      EXPECT_EQ(Probe(out.U(c.Out))["bits_per_raw_sample"], c.Bits);
    }
    // Musepack: no stream length from ffprobe; lossy, so within two codec frames.
    EXPECT_NEAR(Pcm(out.U(c.Out), "s16le").size() / (4.0 * 44100), 1.0, 2 * 1152.0 / 44100);
  }
}

// Progress within a step runs up to 100 for each step; a Stop during a step ends it at its next
// block: the task ends with a failure, the chosen output keeps what it held, and no temporary
// file is left. The request is shared, so setting it after the worker has gone is harmless.
TEST(MixWorker, ProgressAndAStopDuringAStep) {
  TempDir d;
  MakeTones(d.U(L"a.wav"), 3.0, 44100, 2, 16, 300);
  MakeTones(d.U(L"b.wav"), 3.0, 44100, 2, 16, 500);
  {
    PrivateTemp temp;
    Mix m;
    m.Run({d.W(L"a.wav"), d.W(L"b.wav"), d.W(L"a.wav")}, d.W(L"all.wav"), amConcatenate);
    EXPECT_TRUE(m.Log.Has("MPROGRESS 1 100"));
    EXPECT_TRUE(m.Log.Has("MPROGRESS 2 100"));
    int last = -1;
    for (const std::string& l : m.Log.Lines) {
      if (l.rfind("MPROGRESS 2 ", 0) != 0) continue;
      const int p = std::stoi(l.substr(12));
      EXPECT_GT(p, last) << "progress goes forward";
      last = p;
    }
  }
  for (int files : {2, 3}) {
    SCOPED_TRACE(testing::Message() << files << " files");
    ASSERT_TRUE(testfiles::WriteBytes(d.W(L"out.wav"), "old"));
    PrivateTemp temp;
    TUniStringList list;
    for (int i = 0; i < files; ++i) list.Add(d.W(i % 2 ? L"b.wav" : L"a.wav"));
    auto* t = new TMixedThread(list, d.W(L"out.wav"), amMix);
    std::shared_ptr<std::atomic<bool>> request = t->CancelRequest();
    std::vector<std::string> seen;
    bool ended = false;
    TEventSource source(nullptr);
    // Stop in the middle of the last step.
    source.OnMixProgress = [&](TObject*, int Index, int Percent) {
      if (Index == files - 1 && Percent >= 30) *request = true;
    };
    source.OnMixStepStart = [&](TObject*, int Index) { seen.push_back("start " + std::to_string(Index)); };
    source.OnMixStepDone = [&](TObject*, int Index, bool Ok) {
      seen.push_back("done " + std::to_string(Index) + (Ok ? " ok" : " failed"));
    };
    t->OnTerminate = [&](TObject*) { ended = true; };
    t->Resume();
    ASSERT_TRUE(ServeUntil([&] { return ended; })) << "the worker did not end";
    std::vector<std::string> want = files == 2 ? std::vector<std::string>{"start 1", "done 1 failed"}
                                               : std::vector<std::string>{"start 1", "done 1 ok", "start 2", "done 2 failed", "done 2 failed"};
    EXPECT_EQ(seen, want);
    EXPECT_EQ(testfiles::ReadBytes(d.W(L"out.wav")), "old");
    EXPECT_TRUE(temp.Listing().empty()) << "temporary files left behind";
    *request = false;  // the worker is gone; its request is still there
  }
}
