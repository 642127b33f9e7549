// The chunk layer: CRC, the read loop's errors, and the ancillary chunks.
#include <gtest/gtest.h>

#include "PngTestUtil.h"

using namespace pngtest;

namespace {

std::string Gray8(const std::string& Extra = "") { return SimplePng(5, 3, 8, 0, Extra); }

TEST(PngCrc, KnownVectors) {
  EXPECT_EQ(PngCrc(reinterpret_cast<const uint8_t*>("IEND"), 4), 0xAE426082u);
  EXPECT_EQ(PngCrc(reinterpret_cast<const uint8_t*>("123456789"), 9), 0xCBF43926u);
}

TEST(PngMessages, TextsAsUsersKnowThem) {
  struct Case {
    std::string Bytes;
    const char* Expected;
  } cases[] = {
      {std::string("\x89PNG\r\n\x1a", 7) + std::string(1, '\0') + Gray8().substr(8),
       "EPNGInvalidFileHeader: The file being readed is not a valid \"Portable Network Graphics\" image because it "
       "contains an invalid header. This file may be corruped, try obtaining it again."},
      {Signature() + Chunk("gAMA", Be32(45455)) + Gray8().substr(8),
       "EPNGIHDRNotFirst: This \"Portable Network Graphics\" image is not supported or it might be invalid.\r\n(IHDR "
       "chunk is not the first)"},
      {Signature() + Ihdr(65536, 1, 8, 0) + Gray8().substr(33),
       "EPNGSizeExceeds: This \"Portable Network Graphics\" image is not supported because either it's width or "
       "height exceeds the maximum size, which is 65535 pixels length."},
      {Gray8().substr(0, 33) + Chunk("ABCD", "x") + Gray8().substr(33),
       "EPNGUnknownCriticalChunk: This \"Portable Network Graphics\" image contains an unknown critical part which "
       "could not be decoded."},
      {Signature() + Chunk("IHDR", Be32(1) + Be32(1) + std::string{8, 0, 1, 0, 0}) + Gray8().substr(33),
       "EPNGUnknownCompression: This \"Portable Network Graphics\" image is encoded with an unknown compression "
       "scheme which could not be decoded."},
      {Signature() + Ihdr(1, 1, 8, 0, 2) + Gray8().substr(33),
       "EPNGUnknownInterlace: This \"Portable Network Graphics\" image uses an unknown interlace scheme which could "
       "not be decoded."},
      {Gray8().substr(0, Gray8().size() - 12),
       "EPngUnexpectedEnd: This \"Portable Network Graphics\" image is invalid because the decoder found an "
       "unexpected end of the file."},
      {Signature() + Ihdr(1, 1, 8, 0) + Chunk("IEND", ""),
       "EPNGNoImageData: This \"Portable Network Graphics\" image contains no data."},
      {Signature() + Ihdr(1, 1, 8, 3) + Chunk("PLTE", std::string(10, 'x')) + Gray8().substr(33),
       "EPNGInvalidPalette: The \"Portable Network Graphics\" image contains an invalid palette."},
      {Signature() + Chunk("IHDR", Be32(1) + Be32(1) + std::string{8, 0, 0, 0}) + Gray8().substr(33),
       "EPngInvalidIHDR: The \"Portable Network Graphics\" image could not be loaded because one of its main piece "
       "of data (ihdr) might be corrupted"},
      {[] {
         std::string s = Gray8(Chunk("tEXt", std::string("Title\0Hi", 8)));
         s[33 + 8 + 8 + 2] ^= 1;  // a CRC byte of the tEXt chunk
         return s;
       }(),
       "EPngInvalidCRC: This \"Portable Network Graphics\" image is not valid because it contains invalid pieces of "
       "data (crc error)"},
      {Signature() + Ihdr(16, 16, 8, 0) + Chunk("IDAT", Zlib(RawImage(16, 16, 8, 0, false, {0}, 7)).substr(0, 5)) +
           Chunk("tEXt", std::string("a\0b", 3)) + Chunk("IDAT", Zlib(RawImage(16, 16, 8, 0, false, {0}, 7)).substr(5)) +
           Chunk("IEND", ""),
       "EPNGMissingMultipleIDAT: This \"Portable Network Graphics\" image is invalid because it has missing image "
       "parts."},
      {Signature() + Ihdr(1, 1, 8, 0) + Chunk("IDAT", "\x78\x9c\xff\xff\xff\xff") + Chunk("IEND", ""),
       "EPNGZLIBError: Could not decompress the image because it contains invalid compressed data.\r\n "
       "Description: data error"},
  };
  for (const auto& c : cases) EXPECT_EQ(LoadError(c.Bytes), c.Expected);
}

// Damaged files: each raises its class, before any allocation sized by the damage.
TEST(PngReader, DamagedFilesRaiseTheirError) {
  const std::string good = Gray8();
  const std::string idat = Chunk("IDAT", Zlib(RawImage(5, 3, 8, 0, false, {0}, 1)));
  auto withIhdrByte = [&](int Offset, char Value) {
    std::string ihdr = Be32(5) + Be32(3) + std::string{8, 0, 0, 0, 0};
    ihdr[Offset] = Value;
    return Signature() + Chunk("IHDR", ihdr) + idat + Chunk("IEND", "");
  };
  auto flip = [](std::string S, size_t At) {
    S[At] ^= 0x40;
    return S;
  };
  struct Case {
    const char* Name;
    std::string Bytes;
    const char* Class;
  } cases[] = {
      {"empty file", "", "EPNGInvalidFileHeader"},
      {"signature only", Signature(), "EPngUnexpectedEnd"},
      {"length cut after two bytes", Signature() + std::string("\0\0", 2), "EPngUnexpectedEnd"},
      {"width 0", withIhdrByte(3, 0), "EPngInvalidIHDR"},
      {"colour type 1", withIhdrByte(9, 1), "EPngInvalidIHDR"},
      {"colour type 5", withIhdrByte(9, 5), "EPngInvalidIHDR"},
      {"RGB of depth 4", Signature() + Ihdr(1, 1, 4, 2) + idat + Chunk("IEND", ""), "EPngInvalidIHDR"},
      {"palette of depth 16", Signature() + Ihdr(1, 1, 16, 3) + idat + Chunk("IEND", ""), "EPngInvalidIHDR"},
      {"depth 3", withIhdrByte(8, 3), "EPngInvalidIHDR"},
      {"PLTE of 769 bytes", Signature() + Ihdr(1, 1, 8, 3) + Chunk("PLTE", std::string(769, 'x')) + idat, "EPNGInvalidPalette"},
      {"tRNS of 257 bytes", Signature() + Ihdr(1, 1, 8, 3) + Chunk("PLTE", Palette(4)) + Chunk("tRNS", std::string(257, 'x')) + idat,
       "EPNGInvalidPalette"},
      {"IHDR CRC", flip(good, 29), "EPngInvalidCRC"},
      {"IDAT CRC", flip(good, good.size() - 13), "EPngInvalidCRC"},
      {"second IDAT CRC",
       [&] {
         std::string z = Zlib(RawImage(5, 3, 8, 0, false, {0}, 1));
         std::string s = Signature() + Ihdr(5, 3, 8, 0) + Chunk("IDAT", z.substr(0, 4)) + Chunk("IDAT", z.substr(4)) +
                         Chunk("IEND", "");
         return flip(s, s.size() - 13);
       }(),
       "EPngInvalidCRC"},
      {"corrupt zlib header", Signature() + Ihdr(1, 1, 8, 0) + Chunk("IDAT", "\x12\x34" + Zlib(std::string(2, '\0')).substr(2)) + Chunk("IEND", ""),
       "EPNGZLIBError"},
      {"tEXt length 0xFFFFFFF0", good.substr(0, 33) + Be32(0xFFFFFFF0) + "tEXt" + good.substr(33), "EPngUnexpectedEnd"},
      {"tEXt length 0x80000000", good.substr(0, 33) + Be32(0x80000000) + "tEXt" + good.substr(33), "EPngUnexpectedEnd"},
      {"IDAT longer than the file", good.substr(0, 33) + Be32(0x7FFFFFF0) + "IDAT" + good.substr(41), "EPngUnexpectedEnd"},
      {"cHRM longer than the file", good.substr(0, 33) + Be32(0x40000000) + "cHRM" + good.substr(33), "EPngUnexpectedEnd"},
      {"ends after IDAT", good.substr(0, good.size() - 12), "EPngUnexpectedEnd"},
      {"ends inside IDAT", good.substr(0, good.size() - 20), "EPngUnexpectedEnd"},
      {"image larger than the file could hold", Signature() + Ihdr(65535, 65535, 8, 6) + idat + Chunk("IEND", ""),
       "EPngUnexpectedEnd"},
      {"second IHDR", good.substr(0, 33) + Ihdr(9000, 9000, 8, 6) + good.substr(33), "EPngInvalidIHDR"},
  };
  for (const auto& c : cases) {
    std::string e = LoadError(c.Bytes);
    EXPECT_EQ(e.substr(0, e.find(':')), c.Class) << c.Name << ": " << e;
  }
}

TEST(PngReader, UnknownAncillaryChunkIsKeptAndWrittenBackUnchanged) {
  const std::string prvt = Chunk("prVt", std::string("\x01\x02\0\x04\x05", 5));
  auto png = Load(Gray8(prvt + Chunk("cHRM", std::string(32, '\x11'))));
  EXPECT_EQ(ChunkNames(*png), "IHDR prVt IDAT IEND");  // cHRM is dropped
  std::string saved = Save(*png);
  EXPECT_EQ(saved.substr(33, prvt.size()), prvt);
  EXPECT_EQ(saved.find("cHRM"), std::string::npos);
}

TEST(PngReader, ManyAncillaryChunks) {
  std::string extra;
  for (int i = 0; i < 25; ++i) extra += Chunk("tEXt", "k" + std::to_string(i) + std::string(1, '\0') + "v");
  auto png = Load(Gray8(extra));
  EXPECT_EQ(png->Chunks().Count(), 28);
  EXPECT_EQ(static_cast<TChunktEXt*>(png->Chunks().Item(25))->Keyword, "k24");
}

TEST(PngChunks, TextChunks) {
  auto textOf = [](const std::string& Name, const std::string& Data) {
    auto png = Load(Gray8(Chunk(Name, Data)));
    auto* t = static_cast<TChunktEXt*>(png->Chunks().Item(1));
    return t->Keyword + "|" + t->Text;
  };
  EXPECT_EQ(textOf("tEXt", std::string("Title\0Hello", 11)), "Title|Hello");
  EXPECT_EQ(textOf("tEXt", "ab"), "|");  // too short to be parsed
  EXPECT_EQ(textOf("tEXt", "abcdef"), "abcdef|");
  EXPECT_EQ(textOf("zTXt", std::string("Comment\0\0", 9) + Zlib("packed words")), "Comment|packed words");
  EXPECT_EQ(textOf("zTXt", std::string("Comment\0\0", 9) + "garbage!"), "Comment|");
  EXPECT_EQ(textOf("zTXt", std::string("Comment\0\1", 9) + Zlib("other method")), "Comment|");
  EXPECT_EQ(textOf("zTXt", "no separator here"), "no separator here|");
  EXPECT_EQ(textOf("zTXt", std::string("Key\0", 4)), "Key|");
  // A text that would expand past 16 MiB is taken as damaged.
  EXPECT_EQ(textOf("zTXt", std::string("Bomb\0\0", 6) + Zlib(std::string(17u << 20, ' '))), "Bomb|");

  // Saving: tEXt as keyword, 0, text; zTXt with an empty text holds a compressed single space.
  auto png = Load(Gray8(Chunk("tEXt", std::string("A\0B", 3)) + Chunk("zTXt", std::string("Z\0\0", 3) + Zlib("x"))));
  static_cast<TChunktEXt*>(png->Chunks().Item(1))->Text = "long text";
  static_cast<TChunktEXt*>(png->Chunks().Item(2))->Text = "";
  auto again = Load(Save(*png));
  EXPECT_EQ(static_cast<TChunktEXt*>(again->Chunks().Item(1))->Text, "long text");
  auto* z = static_cast<TChunkzTXt*>(again->Chunks().Item(2));
  EXPECT_EQ(z->Text, " ");
  EXPECT_EQ(Inflate(std::string(reinterpret_cast<const char*>(z->Data()) + 3, z->DataSize() - 3)), " ");
}

TEST(PngChunks, TimeAndPhysicalSize) {
  auto png = Load(Gray8(Chunk("tIME", std::string("\x07\xE9\x0C\x0A\x11\x2A\x3B", 7)) +
                        Chunk("tIME", std::string("\x07\xE9\x0C\x0A\x11\x2A\x3B\x00", 8)) +
                        Chunk("pHYs", Be32(2835) + Be32(1417) + std::string(1, '\1'))));
  auto* t = static_cast<TChunktIME*>(png->Chunks().Item(1));
  EXPECT_EQ(t->Year, 2025);
  EXPECT_EQ(t->Month, 12);
  EXPECT_EQ(t->Second, 59);
  EXPECT_EQ(static_cast<TChunktIME*>(png->Chunks().Item(2))->Year, 0);  // 8 bytes: not parsed
  auto* p = static_cast<TChunkpHYs*>(png->Chunks().Item(3));
  EXPECT_EQ(p->PPUnitX, 2835u);
  EXPECT_EQ(p->PPUnitY, 1417u);
  EXPECT_EQ(p->UnitType, 1);
  p->PPUnitX = 100;
  auto again = Load(Save(*png));
  EXPECT_EQ(static_cast<TChunkpHYs*>(again->Chunks().Item(3))->PPUnitX, 100u);
}

}  // namespace
