// Several outputs of each format running at once on their own workers: each file comes out whole.
#include <gtest/gtest.h>

#include <memory>

#include "audio/AuFLAC.h"
#include "audio/AuLAME.h"
#include "audio/AuVorbis.h"
#include "classlib/Forms.h"
#include "classlib/WinApi.h"
#include "codecs/CodecTestUtil.h"

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
