// The byte layer: values in both byte orders, reads past the end, back-filled sizes, and the
// RIFF chunk walk over pad bytes and cut-off chunks, in memory and on a stream.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "audio/engine/AuBinary.h"
#include "classlib/Classes.h"

namespace {
std::vector<uint8_t> B(const std::string& S) { return std::vector<uint8_t>(S.begin(), S.end()); }
}  // namespace

TEST(ByteLayer, ReadsBothByteOrders) {
  auto b = B(std::string("\x01\x02\x03\x04\x7F\x7F\x7F\x7F\xFF", 9));
  TByteReader r(b);
  EXPECT_EQ(r.LE16(), 0x0201);
  r.Seek(0);
  EXPECT_EQ(r.LE32(), 0x04030201u);
  r.Seek(0);
  EXPECT_EQ(r.BE16(), 0x0102);
  EXPECT_EQ(r.BE24(), 0x03047Fu);
  r.Seek(0);
  EXPECT_EQ(r.BE32(), 0x01020304u);
  EXPECT_EQ(r.Syncsafe32(), 0x0FFFFFFFu);
  EXPECT_EQ(r.U8(), 0xFF);
  EXPECT_TRUE(r.Ok());
  EXPECT_EQ(r.Left(), 0u);
}

TEST(ByteLayer, AReadPastTheEndGivesZerosAndStaysFailed) {
  auto b = B("abc");
  struct Case {
    const char* Name;
    std::function<uint32_t(TByteReader&)> Read;
  } cases[] = {
      {"LE32", [](TByteReader& r) { return r.LE32(); }},
      {"BE32", [](TByteReader& r) { return r.BE32(); }},
      {"Syncsafe32", [](TByteReader& r) { return r.Syncsafe32(); }},
      {"Take", [](TByteReader& r) { return (uint32_t)(r.Take(4) != nullptr); }},
      {"Text", [](TByteReader& r) { return (uint32_t)r.Text(4).size(); }},
      {"Seek", [](TByteReader& r) {
         r.Seek(4);
         return 0u;
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    TByteReader r(b);
    EXPECT_EQ(c.Read(r), 0u);
    EXPECT_FALSE(r.Ok());
    EXPECT_EQ(r.Left(), 0u);
    EXPECT_EQ(r.U8(), 0);  // still failed, still nothing read
    EXPECT_FALSE(r.Ok());
  }
  TByteReader r(b);
  uint8_t dest[5] = {9, 9, 9, 9, 9};
  r.Bytes(dest, 5);
  EXPECT_EQ(std::string((char*)dest, 5), std::string(5, '\0'));
  EXPECT_FALSE(r.Ok());
  TByteReader exact(b);
  EXPECT_TRUE(exact.Has(3));
  EXPECT_EQ(exact.Text(3), "abc");
  EXPECT_TRUE(exact.Ok());
}

TEST(ByteLayer, WriterBackFillsSizes) {
  TByteWriter w;
  w.Id("RIFF");
  w.LE32(0);
  w.LE16(0xABCD);
  w.BE32(0x01020304);
  w.Syncsafe32(0x0FFFFFFF);
  w.Zeros(2);
  w.Fixed("abcdef", 3);
  w.Fixed("gh", 4);
  w.PatchLE32(4, (uint32_t)w.Size() - 8);
  EXPECT_EQ(std::string((const char*)w.Bytes(), w.Size()),
            std::string("RIFF\x13\0\0\0\xCD\xAB\x01\x02\x03\x04\x7F\x7F\x7F\x7F\0\0abcgh\0\0", 27));
  EXPECT_THROW(w.PatchLE32(24, 1), Exception);
}

TEST(ByteLayer, RiffWalkerSkipsPadBytesAndStopsAtCutChunks) {
  // "odd " has 3 bytes and its pad, "nopd" 1 byte without one (the next id follows at once),
  // "lows" is in lower case, "tail" claims more than there is.
  std::string bytes = std::string("odd \x03\0\0\0xyz\0", 12) + std::string("nopd\x01\0\0\0q", 9) +
                      std::string("LOWS\0\0\0\0", 8) + std::string("tail\x64\0\0\0abc", 11);
  auto b = B(bytes);
  TRiffWalker w(b.data(), b.size(), 0);
  TRiffChunk c;
  ASSERT_TRUE(w.Next(c));
  EXPECT_TRUE(c.Is("odd "));
  EXPECT_EQ(c.Size, 3u);
  EXPECT_EQ(c.BodyAt, 8u);
  EXPECT_TRUE(c.Whole);
  ASSERT_TRUE(w.Next(c));
  EXPECT_TRUE(c.Is("nopd"));
  EXPECT_EQ(c.HeaderAt, 12u);
  ASSERT_TRUE(w.Next(c));
  EXPECT_TRUE(c.Is("lows"));
  EXPECT_EQ(c.HeaderAt, 21u);
  ASSERT_TRUE(w.Next(c));
  EXPECT_TRUE(c.Is("tail"));
  EXPECT_FALSE(c.Whole);
  EXPECT_FALSE(w.Next(c));
  // A header cut short is no chunk.
  TRiffWalker cut(b.data(), 7, 0);
  EXPECT_FALSE(cut.Next(c));
}

TEST(ByteLayer, RiffWalkOnAStreamFindsWhatTheWalkInMemoryFinds) {
  // Pads of zero and not, a chunk without its pad, a stray zero, and a cut chunk at the end.
  const std::string bytes = std::string("JUNK", 4) + std::string("odd \x03\0\0\0xyz\0", 12) +
                            std::string("bad \x01\0\0\0qZ", 10) + std::string("\0fmt \x02\0\0\0ab", 11) +
                            std::string("tail\x64\0\0\0abc", 11);
  auto b = B(bytes);
  for (size_t size : {b.size(), (size_t)20, (size_t)33, (size_t)4}) {
    SCOPED_TRACE(size);
    TMemoryStream s;
    s.WriteBuffer(b.data(), (int32_t)size);
    TRiffWalker mem(b.data(), size, 4), onStream(&s, 4, (int64_t)size);
    TRiffChunk a, c;
    for (int i = 0; i < 8; ++i) {
      const bool more = mem.Next(a);
      ASSERT_EQ(onStream.Next(c), more);
      if (!more) break;
      EXPECT_EQ(std::string((const char*)c.Id, 4), std::string((const char*)a.Id, 4));
      EXPECT_EQ(c.Size, a.Size);
      EXPECT_EQ(c.HeaderAt, a.HeaderAt);
      EXPECT_EQ(c.BodyAt, a.BodyAt);
      EXPECT_EQ(c.Whole, a.Whole);
      EXPECT_EQ(onStream.SkipZero(), mem.SkipZero());
    }
  }
}
