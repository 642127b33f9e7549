// An input that delivers nothing still gives a valid file: the encoder's last frames only (and
// for MP3 the ID3v1 block when it has values), which the peers and our inputs read as empty.
#include <gtest/gtest.h>

#include "audio/AuFLAC.h"
#include "audio/AuLAME.h"
#include "audio/AuVorbis.h"
#include "codecs/CodecTestUtil.h"

using namespace codectest;

namespace {

TEST(EmptyInput, GivesAValidEmptyFile) {
  TempDir dir;
  TBytesIn src("", 16, 2, 44100);
  TFLACOut flac(nullptr);
  TVorbisOut vorbis(nullptr);
  TMP3Out mp3(nullptr);
  mp3.Id3v1Tags()->SetTitle("Empty");
  struct Case {
    const wchar_t* file;
    TAuFileOut* out;
    const char* codec;
  } cases[] = {{L"e.flac", &flac, "flac"}, {L"e.ogg", &vorbis, "vorbis"}, {L"e.mp3", &mp3, "mp3"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(WideToAnsi(c.file));
    c.out->SetInput(&src);
    c.out->SetWideFileName(dir.W(c.file));
    ASSERT_EQ(RunBlocking(*c.out), L"");
    if (c.out == &mp3) continue;  // below: the encoder gives no frame for no audio
    EXPECT_EQ(Probe(dir.U(c.file))["codec_name"], c.codec);
    EXPECT_EQ(FfmpegPcm(dir.U(c.file), "s16le"), "");
  }
  const std::string m = testfiles::ReadBytes(dir.W(L"e.mp3"));
  ASSERT_GE(m.size(), 128u);
  EXPECT_EQ(m.substr(m.size() - 128, 8), std::string("TAGEmpty"));
  TFLACIn flacIn(nullptr);
  flacIn.SetWideFileName(dir.W(L"e.flac"));
  EXPECT_TRUE(flacIn.Valid());
  EXPECT_EQ(Drain(&flacIn), "");
  TVorbisIn vorbisIn(nullptr);
  vorbisIn.SetWideFileName(dir.W(L"e.ogg"));
  EXPECT_TRUE(vorbisIn.Valid());
  EXPECT_EQ(Drain(&vorbisIn), "");
}

}  // namespace
