// Several outputs of each format running at once on their own workers: each file comes out whole.
#include <gtest/gtest.h>

#include <memory>

#include "audio/formats/flac/AuFLAC.h"
#include "audio/formats/mp3/AuLAME.h"
#include "audio/formats/vorbis/AuVorbis.h"
#include "classlib/Forms.h"
#include "classlib/WinApi.h"
#include "audio/formats/codecs/CodecTestUtil.h"

using namespace codectest;

namespace {

TEST(Concurrent, OutputsOfEveryFormatRunAtOnce) {
  TempDir dir;
  const std::string pcm = Signal(44100, 2, 16);
  std::vector<std::unique_ptr<TBytesIn>> inputs;
  std::vector<std::unique_ptr<TAuFileOut>> outputs;
  std::vector<std::wstring> names;
  int done = 0, errors = 0;
  for (int i = 0; i < 9; ++i) {
    inputs.push_back(std::make_unique<TBytesIn>(pcm, 16, 2, 44100));
    inputs.back()->MaxChunk = 1000 + 97 * i;
    TAuFileOut* o = i % 3 == 0 ? (TAuFileOut*)new TFLACOut(nullptr)
                  : i % 3 == 1 ? (TAuFileOut*)new TVorbisOut(nullptr)
                               : (TAuFileOut*)new TMP3Out(nullptr);
    outputs.emplace_back(o);
    names.push_back(dir.W(L"c" + std::to_wstring(i) + (i % 3 == 0 ? L".flac" : i % 3 == 1 ? L".ogg" : L".mp3")));
    o->SetInput(inputs.back().get());
    o->SetWideFileName(names.back());
    o->OnDone = [&done](TComponent*) { ++done; };
    o->OnThreadException = [&errors](TComponent*) { ++errors; };
  }
  for (auto& o : outputs) o->Run();
  DWORD start = GetTickCount();
  while (done < 9 && GetTickCount() - start < 120000) {
    Application->ProcessMessages();
    HANDLE h = SyncEvent();
    MsgWaitForMultipleObjectsEx(1, &h, 50, QS_ALLINPUT, 0);
  }
  EXPECT_EQ(done, 9);
  EXPECT_EQ(errors, 0);
  for (int i = 0; i < 9; ++i) {
    SCOPED_TRACE(i);
    std::string got = FfmpegPcm(peer::UnixPath(names[i]), "s16le");
    if (i % 3 == 0) {
      EXPECT_EQ(FirstDifference(got, pcm), "");
    } else {
      EXPECT_GT(Correlation(Samples(pcm, 16), Samples(got, 16), 2, 3000), 0.9);
    }
  }
}

}  // namespace

namespace {

// Delivers Gate bytes, then tells so and holds the next pull until released.
class TGateIn : public TBytesIn {
 public:
  using TBytesIn::TBytesIn;
  size_t Gate = 0;
  HANDLE Reached = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  HANDLE Release = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  ~TGateIn() override {
    CloseHandle(Reached);
    CloseHandle(Release);
  }

 protected:
  void GetDataInternal(void*& Buffer, uint32_t& Bytes) override {
    if (FGiven >= Gate) {
      SetEvent(Reached);
      WaitForSingleObject(Release, INFINITE);
    }
    TBytesIn::GetDataInternal(Buffer, Bytes);
    FGiven += Bytes;
  }

 private:
  size_t FGiven = 0;
};

// A run stopped part-way leaves a file the peers read (the encoder is finished), shorter than
// the input, and the input free for the next run.
TEST(Concurrent, StoppedRunsLeaveValidFiles) {
  TempDir dir;
  const std::string pcm = Signal(44100 * 10, 2, 16);
  TFLACOut flac(nullptr);
  TVorbisOut vorbis(nullptr);
  TMP3Out mp3(nullptr);
  struct Case {
    TAuFileOut* out;
    const wchar_t* name;
  } cases[] = {{&flac, L"s.flac"}, {&vorbis, L"s.ogg"}, {&mp3, L"s.mp3"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(WideToAnsi(c.name));
    TGateIn src(pcm, 16, 2, 44100);
    src.Gate = pcm.size() / 3;
    c.out->SetInput(&src);
    c.out->SetWideFileName(dir.W(c.name));
    bool done = false;
    c.out->OnDone = [&done](TComponent*) { done = true; };
    c.out->Run();
    ASSERT_EQ(WaitForSingleObject(src.Reached, 60000), WAIT_OBJECT_0);
    c.out->Stop(true);
    SetEvent(src.Release);
    DWORD start = GetTickCount();
    while (!done && GetTickCount() - start < 60000) {
      Application->ProcessMessages();
      HANDLE h = SyncEvent();
      MsgWaitForMultipleObjectsEx(1, &h, 20, QS_ALLINPUT, 0);
    }
    EXPECT_TRUE(done);
    c.out->OnDone = nullptr;
    EXPECT_FALSE(c.out->Busy());
    EXPECT_FALSE(src.Busy());
    const std::string got = FfmpegPcm(dir.U(c.name), "s16le");
    EXPECT_GT(got.size(), pcm.size() / 4);
    EXPECT_LT(got.size(), pcm.size() / 2);
    if (c.out == &flac) {
      Peer("flac -s -t " + peer::Quote(dir.U(c.name)));
      EXPECT_EQ(FirstDifference(got, pcm.substr(0, got.size())), "");
    }
    c.out->SetInput(nullptr);
  }
}

}  // namespace
