// An input that delivers nothing gives, for every output, either a valid file without audio that
// the peers and our own input read as empty, or the output's error and no file: never a file that
// claims audio it does not hold, or one that no reader takes, reported as a success.
#include <gtest/gtest.h>

#include <windows.h>

#include <functional>
#include <memory>

#include "audio/formats/flac/AuFLAC.h"
#include "audio/formats/mp3/AuLAME.h"
#include "audio/formats/mac/AuMAC.h"
#include "audio/formats/mpc/AuMPC.h"
#include "audio/formats/tta/AuTTA.h"
#include "audio/formats/vorbis/AuVorbis.h"
#include "audio/formats/wavpack/AuWavPack.h"
#include "audio/formats/wave/AuWave.h"
#include "audio/formats/winmedia/AuWinMedia.h"
#include "audio/formats/codecs/CodecTestUtil.h"

using namespace codectest;

namespace {

enum Outcome { Valid, Fails, Either };

TEST(EmptyInput, EveryOutputGivesAValidEmptyFileOrItsError) {
  TempDir dir;
  struct Case {
    const wchar_t* file;
    std::function<TAuFileOut*()> make;
    // Valid: a file without audio; Fails: the output's error and no file. The reasons for each:
    // MP3 has no frame without audio (tags alone are no file a reader takes); ffmpeg refuses a
    // TrueAudio header of 0 samples, mpcdec a Musepack stream of 0 samples (also mpcenc's own),
    // and the WavPack library a total of 0 samples; the Windows Media writer may be missing.
    Outcome expect;
    const char* codec;  // ffprobe's codec name of a valid file ("": ffmpeg cannot read the format)
    const char* tool;   // the format's own tool, taking the file name last ("": none)
    std::function<TAuFileIn*()> reader;
  } cases[] = {
      {L"e.wav", [] { return new TWaveOut(nullptr); }, Valid, "pcm_s16le", "", [] { return new TWaveIn(nullptr); }},
      {L"e.flac", [] { return new TFLACOut(nullptr); }, Valid, "flac", "flac -s -t", [] { return new TFLACIn(nullptr); }},
      {L"e.ogg", [] { return new TVorbisOut(nullptr); }, Valid, "vorbis", "", [] { return new TVorbisIn(nullptr); }},
      // The test double of Monkey's Audio: our own input is its only reader.
      {L"e.ape", [] { return new TMACOut(nullptr); }, Valid, "", "", [] { return new TMACIn(nullptr); }},
      {L"e.mp3", [] {
         auto* o = new TMP3Out(nullptr);
         o->Id3v1Tags()->SetTitle("Empty");
         return o;
       }, Fails, "mp3", "", nullptr},
      {L"e.tta", [] { return new TTTAOut(nullptr); }, Fails, "tta", "", [] { return new TTTAIn(nullptr); }},
      {L"e.mpc", [] { return new TMPCOut(nullptr); }, Fails, "musepack8", "mpcdec", [] { return new TMPCIn(nullptr); }},
      {L"e.wv", [] { return new TWVOut(nullptr); }, Fails, "wavpack", "wvunpack -q -v", [] { return new TWVIn(nullptr); }},
      {L"e.wma", [] { return new TWMAOut(nullptr); }, Either, "wmav2", "", nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(WideToAnsi(c.file));
    TBytesIn src("", 16, 2, 44100);
    std::unique_ptr<TAuFileOut> out(c.make());
    out->SetInput(&src);
    out->SetWideFileName(dir.W(c.file));
    const std::wstring err = RunBlocking(*out);
    const bool exists = GetFileAttributesW(dir.W(c.file).c_str()) != INVALID_FILE_ATTRIBUTES;
    if (!err.empty()) {
      EXPECT_NE(c.expect, Valid) << WideToAnsi(err);
      EXPECT_FALSE(exists) << "a failed run leaves its file";
      continue;
    }
    EXPECT_NE(c.expect, Fails) << "reported done";
    if (!exists) {
      ADD_FAILURE() << "reported done without a file";
      continue;
    }
    const std::string file = peer::Quote(dir.U(c.file));
    if (*c.codec) {
      EXPECT_EQ(Probe(dir.U(c.file))["codec_name"], c.codec);
      EXPECT_EQ(Peer("ffmpeg -nostdin -v error -xerror -i " + file + " -f s16le -"), "");
    }
    if (*c.tool) Peer(std::string(c.tool) + " " + file);
    if (c.reader) {
      std::unique_ptr<TAuFileIn> in(c.reader());
      in->SetWideFileName(dir.W(c.file));
      EXPECT_TRUE(in->Valid());
      EXPECT_EQ(in->Channels(), 2);
      EXPECT_EQ(in->SampleRate(), 44100);
      EXPECT_EQ(ReadAll(in.get()), "");
    }
  }
}

}  // namespace
