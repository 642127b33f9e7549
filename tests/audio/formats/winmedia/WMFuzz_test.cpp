// Damaged and truncated MP3 and WMA files end cleanly: not valid, or an early end; never a
// crash, a hang or more data than the file promised.
#include <gtest/gtest.h>

#include <memory>
#include <cstdio>
#include <random>

#include "WMTestUtil.h"
#include "audio/formats/winmedia/AuMpegAudio.h"
#include "audio/formats/winmedia/AuWinMedia.h"

using namespace wmtest;

namespace {

// Opens the bytes as the input would a file of its own and reads them through.
void ReadDamaged(bool mp3, const std::string& bytes, const std::string& what) {
  SCOPED_TRACE(what);
  TMemoryStream ms;
  if (!bytes.empty()) ms.Write(bytes.data(), (int32_t)bytes.size());
  ms.SetPosition(0);
  std::unique_ptr<TWMIn> in(mp3 ? new TMP3In(nullptr) : new TWMIn(nullptr));
  in->SetStream(&ms);
  if (!in->Valid()) return;
  const int frame = in->Channels() * in->BitsPerSample() / 8;
  ASSERT_GT(frame, 0);
  // A window inside, then the whole: each ends, in whole frames, within what its open promised
  // (a damaged file's length may differ between opens: the runtime estimates it).
  const int64_t total = std::max<int64_t>(0, in->TotalSamples());
  in->SetStartSample(total / 3);
  in->SetEndSample(total / 2);
  for (int pass = 0; pass < 2; ++pass) {
    in->Init();
    const int64_t promised = in->Size();
    int64_t got = 0;
    for (;;) {
      void* p = nullptr;
      uint32_t n = 4099;
      in->GetData(p, n);
      if (n == 0) break;
      got += n;
    }
    in->Flush();
    EXPECT_EQ(got % frame, 0);
    if (promised >= 0) {
      EXPECT_LE(got, promised);
    }
  }
  in->SetStream(nullptr);
}

void Mutate(bool mp3, const std::wstring& file, unsigned seed) {
  const std::string good = testfiles::ReadBytes(file);
  ASSERT_GT(good.size(), 1000u);
  // Cut at many points: densely through the headers, then evenly through the data.
  for (size_t cut = 0; cut < good.size(); cut += cut < 400 ? 13 : good.size() / 40)
    ReadDamaged(mp3, good.substr(0, cut), "cut at " + std::to_string(cut));
  std::mt19937 rng(seed);
  for (int round = 0; round < 60; ++round) {
    std::string bad = good;
    const int hits = 1 + (int)(rng() % 12);
    // Most damage lands in the headers, where the parsers are.
    const size_t span = round % 2 ? std::min<size_t>(bad.size(), 600) : bad.size();
    for (int h = 0; h < hits; ++h) bad[rng() % span] = (char)rng();
    ReadDamaged(mp3, bad, "seed " + std::to_string(seed) + " round " + std::to_string(round));
  }
}

}  // namespace

TEST(WMFuzz, DamagedMp3FilesEndCleanly) {
  Mutate(true, MakeFile(L"fuzz.mp3", 44100, 2, 1, "-c:a libmp3lame -b:a 64k -id3v2_version 3 -write_id3v1 1",
                        "-metadata title=Fuzz -metadata artist=Someone"), 1234);
  Mutate(true, MakeFile(L"fuzzvbr.mp3", 22050, 1, 1, "-c:a libmp3lame -q:a 5"), 99);
}

TEST(WMFuzz, DamagedWmaFilesEndCleanly) {
  Mutate(false, MakeFile(L"fuzz.wma", 44100, 2, 1, "-c:a wmav2 -b:a 64k", "-metadata title=Fuzz"), 4321);
  Mutate(false, MakeFile(L"fuzzv1.wma", 22050, 1, 1, "-c:a wmav1 -b:a 32k"), 7);
}
