// A stream that raises inside the libraries' callbacks: the callbacks answer with the library's
// error value, the component reports its own error or ends the data, and nothing escapes into
// the library.
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "audio/formats/flac/AuFLAC.h"
#include "audio/formats/mp3/AuLAME.h"
#include "audio/formats/vorbis/AuVorbis.h"
#include "audio/formats/codecs/CodecTestUtil.h"

using namespace codectest;

namespace {

// A memory stream whose reads and writes raise once Limit bytes have passed.
class TFailingStream : public TMemoryStream {
 public:
  int64_t Limit = 0;
  bool Short = false;  // a write past the limit stores nothing and says so, as on a full disk
  int32_t Read(void* Buffer, int32_t Count) override {
    if (Position() + Count > Limit) throw Exception("read failed on purpose");
    return TMemoryStream::Read(Buffer, Count);
  }
  int32_t Write(const void* Buffer, int32_t Count) override {
    if (Position() + Count > Limit) {
      if (Short) return 0;
      throw Exception("write failed on purpose");
    }
    return TMemoryStream::Write(Buffer, Count);
  }
};

TEST(Callbacks, FlacEncoderWriteThatRaises) {
  for (int64_t limit : {0, 2000}) {
    SCOPED_TRACE(limit);
    TBytesIn src(Signal(30000, 2, 16), 16, 2, 44100);
    TFailingStream s;
    s.Limit = limit;
    TFLACOut out(nullptr);
    out.SetInput(&src);
    out.SetStream(&s);
    const std::wstring m = RunBlocking(out);
    EXPECT_TRUE(m == L"Failed to initialize FLAC encoder." || m == L"Failed to encode data.") << WideToAnsi(m);
    EXPECT_FALSE(src.Busy());
  }
}

// A disk that fills up: each output reports its own write error, also when only the last
// frames written while finishing do not fit.
TEST(Callbacks, OutputsReportShortWrites) {
  const std::string pcm = Signal(30000, 2, 16);
  TFLACOut flac(nullptr);
  TVorbisOut vorbis(nullptr);
  TMP3Out mp3(nullptr);
  struct Case {
    const char* name;
    TAuFileOut* out;
    std::vector<std::wstring> messages;
  } cases[] = {
      {"flac", &flac, {L"Failed to initialize FLAC encoder.", L"Failed to encode data.", L"Failed to finish the FLAC file."}},
      {"vorbis", &vorbis, {L"Error writing ogg file"}},
      {"mp3", &mp3, {L"Error writing down mp3 file"}},
  };
  for (Case& c : cases) {
    SCOPED_TRACE(c.name);
    TMemoryStream whole;
    TBytesIn src(pcm, 16, 2, 44100);
    c.out->SetInput(&src);
    c.out->SetStream(&whole);
    ASSERT_EQ(RunBlocking(*c.out), L"");
    const int64_t limits[] = {0, whole.Size() / 2, whole.Size() - 1};
    for (size_t k = 0; k < 3; ++k) {
      SCOPED_TRACE(limits[k]);
      TFailingStream s;
      s.Short = true;
      s.Limit = limits[k];
      c.out->SetStream(&s);
      const std::wstring m = RunBlocking(*c.out);
      EXPECT_EQ(m, c.messages[std::min(k, c.messages.size() - 1)]);
      EXPECT_FALSE(src.Busy());
    }
    c.out->SetStream(nullptr);
  }
}

// Inputs over a file whose stream raises part-way: the decoder stops, no exception of the
// stream passes through the library.
TEST(Callbacks, DecoderReadsThatRaise) {
  TempDir dir;
  const std::string pcm = Signal(60000, 2, 16);
  for (int kind = 0; kind < 2; ++kind) {
    SCOPED_TRACE(kind ? "vorbis" : "flac");
    TMemoryStream file;
    {
      TBytesIn src(pcm, 16, 2, 44100);
      TFLACOut flac(nullptr);
      TVorbisOut vorbis(nullptr);
      TAuFileOut& out = kind ? (TAuFileOut&)vorbis : (TAuFileOut&)flac;
      out.SetInput(&src);
      out.SetStream(&file);
      ASSERT_EQ(RunBlocking(out), L"");
    }
    for (int64_t limit : {(int64_t)0, (int64_t)100, file.Size() / 2}) {
      SCOPED_TRACE(limit);
      TFailingStream s;
      s.Limit = file.Size() + 1;
      file.SaveToStream(&s);
      s.SetPosition(0);
      s.Limit = limit;
      TFLACIn flacIn(nullptr);
      TVorbisIn vorbisIn(nullptr);
      TAuFileIn& in = kind ? (TAuFileIn&)vorbisIn : (TAuFileIn&)flacIn;
      in.SetStream(&s);
      std::string got;
      try {
        if (in.Valid()) got = ReadAll(&in);
      } catch (const EAuException&) {
        in.Reset();
      }
      EXPECT_LT(got.size(), pcm.size());
      EXPECT_FALSE(in.Busy());
    }
  }
}

}  // namespace
