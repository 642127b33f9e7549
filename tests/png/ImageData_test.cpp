// Image data: every colour type and depth, interlaced or not, against the reference decoder; our
// encoder's files checked by the format checkers and the reference decoder; IDAT layouts, gamma
// and transparency keys.
#include <gtest/gtest.h>

#include <sstream>

#include "PngTestUtil.h"
#include "common/Peer.h"
#include "common/TestFiles.h"

using namespace pngtest;

namespace {

struct TKind {
  uint8_t ColorType, Depth;
};
constexpr TKind AllKinds[] = {{0, 1}, {0, 2}, {0, 4}, {0, 8}, {0, 16}, {2, 8}, {2, 16}, {3, 1},
                              {3, 2}, {3, 4}, {3, 8}, {4, 8}, {4, 16}, {6, 8}, {6, 16}};

std::string KindName(const TKind& K, bool Interlace) {
  return "ct" + std::to_string(K.ColorType) + "d" + std::to_string(K.Depth) + (Interlace ? "i" : "");
}

// Writes each file into Dir and decodes them all with the reference decoder.
std::map<std::string, TReference> DecodeAll(const testfiles::TempDir& Dir, const std::map<std::string, std::string>& Files,
                                            std::map<std::string, std::string>& NativeOf) {
  std::vector<std::string> paths;
  for (const auto& [name, bytes] : Files) {
    std::wstring win = Dir.File(std::wstring(name.begin(), name.end()) + L".png");
    EXPECT_TRUE(testfiles::WriteBytes(win, bytes));
    NativeOf[name] = peer::UnixPath(win);
    paths.push_back(NativeOf[name]);
  }
  return ReferenceDecode(paths);
}

TEST(PngDecode, EveryKindMatchesTheReferenceDecoder) {
  testfiles::TempDir dir(L"pngdec");
  std::map<std::string, std::string> files;
  for (const auto& k : AllKinds)
    for (bool interlace : {false, true}) {
      std::string extra = k.ColorType == 3 ? Chunk("tRNS", std::string("\x00\x80", 2)) : "";
      files[KindName(k, interlace)] = SimplePng(13, 7, k.Depth, k.ColorType, extra, interlace, k.ColorType * 31 + k.Depth);
    }
  // Adam7 corner sizes: empty passes and passes without rows.
  const uint32_t sizes[][2] = {{1, 1}, {2, 2}, {7, 7}, {8, 8}, {9, 9}, {1, 33}, {33, 1}};
  for (const auto& s : sizes) {
    files["adam7_" + std::to_string(s[0]) + "x" + std::to_string(s[1])] = SimplePng(s[0], s[1], 8, 6, "", true, s[0]);
    files["adam7g1_" + std::to_string(s[0]) + "x" + std::to_string(s[1])] = SimplePng(s[0], s[1], 1, 0, "", true, s[1]);
  }
  // With gAMA the colours go through the decode table.
  files["gamma_rgb"] = SimplePng(13, 7, 8, 2, Chunk("gAMA", Be32(100000)));
  files["gamma_palette"] = SimplePng(13, 7, 4, 3, Chunk("gAMA", Be32(70000)) + Chunk("PLTE", Palette(16)));
  files["gamma_grey"] = SimplePng(13, 7, 4, 0, Chunk("gAMA", Be32(70000)));
  std::map<std::string, std::string> native;
  auto refs = DecodeAll(dir, files, native);
  for (const auto& [name, bytes] : files) {
    SCOPED_TRACE(name);
    auto png = Load(bytes);
    EXPECT_EQ(CompareWithReference(*png, refs[native[name]]), "");
  }
}

TEST(PngEncode, OurFilesPassTheCheckersAndDecodeTheSame) {
  testfiles::TempDir dir(L"pngenc");
  const struct {
    const char* Name;
    TFilters Set;
  } filterSets[] = {{"none", pfNone}, {"sub", pfSub}, {"up", pfUp}, {"avg", pfAverage}, {"paeth", pfPaeth}, {"all", pfAll}};
  std::map<std::string, std::string> files;
  std::map<std::string, std::unique_ptr<TPNGObject>> sources;
  for (const auto& k : AllKinds)
    for (bool interlace : {false, true})
      for (const auto& f : filterSets) {
        // Decoded from a generated file, then written by our encoder.
        std::string extra = k.ColorType == 3 ? Chunk("tRNS", std::string("\x00\x80", 2)) : "";
        auto png = Load(SimplePng(21, 9, k.Depth, k.ColorType, extra, false, k.Depth * 7 + k.ColorType));
        png->SetInterlaceMode(interlace ? 1 : 0);
        png->SetFilterSet(f.Set);
        std::string name = KindName(k, interlace) + "_" + f.Name;
        files[name] = Save(*png);
        sources[name] = std::move(png);
      }
  std::map<std::string, std::string> native;
  auto refs = DecodeAll(dir, files, native);
  std::string all;
  for (const auto& [name, path] : native) all += " " + peer::Quote(path);
  peer::Result check = peer::Run("pngcheck -q" + all);
  EXPECT_EQ(check.exitCode, 0) << check.out << check.err;
  for (const auto& [name, path] : native) {
    peer::Result fix = peer::Run("pngfix " + peer::Quote(path));
    EXPECT_EQ(fix.exitCode, 0) << name << ": " << fix.out << fix.err;
  }
  for (const auto& [name, bytes] : files) {
    SCOPED_TRACE(name);
    EXPECT_EQ(CompareWithReference(*sources[name], refs[native[name]]), "");
    // And our own reader gets back what it wrote.
    auto again = Load(bytes);
    EXPECT_EQ(CompareWithReference(*again, refs[native[name]]), "");
  }
}

// The zlib stream split at other places: every layout decodes as one IDAT does.
TEST(PngDecode, IdatLayouts) {
  const std::string raw = RawImage(300, 300, 8, 2, false, {0, 1, 2, 3, 4}, 9);
  const std::string z = Zlib(raw, 0);  // stored: larger than 65535 bytes
  ASSERT_GT(z.size(), 65535u * 4);
  const std::string head = Signature() + Ihdr(300, 300, 8, 2), tail = Chunk("IEND", "");
  auto reference = Load(head + Chunk("IDAT", z) + tail);
  auto pixelsOf = [](TPNGObject& P) {
    TChunkIHDR* h = P.Header();
    return std::string(reinterpret_cast<char*>(h->ImageData()), size_t(h->BytesPerRow()) * h->Height());
  };
  const std::string want = pixelsOf(*reference);
  std::string everyByte, empty, adlerAlone, padded;
  for (size_t i = 0; i < 3000; ++i) everyByte += Chunk("IDAT", z.substr(i, 1));
  everyByte += Chunk("IDAT", z.substr(3000));
  empty = Chunk("IDAT", "") + Chunk("IDAT", z.substr(0, 100)) + Chunk("IDAT", "") + Chunk("IDAT", z.substr(100));
  adlerAlone = Chunk("IDAT", z.substr(0, z.size() - 4)) + Chunk("IDAT", z.substr(z.size() - 4));
  // A single chunk whose length leaves 2 bytes after the last full 65535-byte block.
  padded = z + std::string((65535 + 2 - z.size() % 65535) % 65535, '\0');
  ASSERT_EQ(padded.size() % 65535, 2u);
  padded = Chunk("IDAT", padded) + Chunk("tEXt", std::string("after\0idat", 10));
  for (const auto& [name, chunks] : std::map<std::string, std::string>{
           {"every byte", everyByte}, {"empty chunks", empty}, {"Adler-32 alone", adlerAlone}, {"padding after the stream", padded}}) {
    SCOPED_TRACE(name);
    std::unique_ptr<TPNGObject> png;
    ASSERT_NO_THROW(png = Load(head + chunks + tail));
    EXPECT_EQ(pixelsOf(*png), want);
  }
  // Data that ends before the image does: the rows not decoded stay zero.
  const std::string shortZ = Zlib(raw.substr(0, raw.size() / 2));
  auto half = Load(head + Chunk("IDAT", shortZ) + tail);
  TChunkIHDR* h = half->Header();
  EXPECT_EQ(memcmp(h->Scanline(0), reference->Header()->Scanline(0), 900), 0);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(h->Scanline(299)), 900), std::string(900, '\0'));
  // A damaged check value at the end of the data is an error too.
  std::string badAdler = z;
  badAdler[badAdler.size() - 1] ^= 1;
  EXPECT_EQ(LoadError(head + Chunk("IDAT", badAdler) + tail).substr(0, 13), "EPNGZLIBError");
}

TEST(PngDecode, GammaTables) {
  auto png = Load(SimplePng(3, 3, 8, 2, Chunk("gAMA", Be32(45455))));
  for (int i = 0; i < 256; ++i) ASSERT_EQ(png->GammaTable()[i], i);
  png = Load(SimplePng(3, 3, 8, 2, Chunk("gAMA", Be32(100000))));
  const uint8_t* d = png->GammaTable();
  EXPECT_EQ(d[0], 0);
  EXPECT_EQ(d[1], 21);
  EXPECT_EQ(d[64], 136);
  EXPECT_EQ(d[128], 186);
  EXPECT_EQ(d[200], 228);
  EXPECT_EQ(d[255], 255);
  int identity = 0;
  for (int i = 0; i < 256; ++i) {
    bool hit = false;
    for (int k = 0; k < 256; ++k) hit = hit || d[k] == i;
    if (!hit) identity += png->InverseGamma()[i] == i;
    else EXPECT_EQ(d[png->InverseGamma()[i]], i);
  }
  EXPECT_EQ(identity, 72);
  // gAMA 0 changes nothing; clearing the image resets the tables.
  png = Load(SimplePng(3, 3, 8, 2, Chunk("gAMA", Be32(0))));
  EXPECT_EQ(png->GammaTable()[1], 1);
}

TEST(PngTransparency, ModesAndKeys) {
  struct Case {
    const char* Name;
    std::string Bytes;
    TPngTransparency Mode;
  } cases[] = {
      {"RGBA", SimplePng(4, 2, 8, 6), ptPartial},
      {"grey + alpha", SimplePng(4, 2, 16, 4), ptPartial},
      {"RGB", SimplePng(4, 2, 8, 2), ptNone},
      {"RGB + tRNS", SimplePng(4, 2, 8, 2, Chunk("tRNS", std::string("\0\1\0\2\0\3", 6))), ptBit},
      {"grey + tRNS", SimplePng(4, 2, 4, 0, Chunk("tRNS", std::string("\0\7", 2))), ptBit},
      {"palette", SimplePng(4, 2, 4, 3), ptNone},
      {"palette [255,255,255,0]", SimplePng(4, 2, 4, 3, Chunk("tRNS", std::string("\xff\xff\xff\x00", 4))), ptBit},
      {"palette [0,128]", SimplePng(4, 2, 4, 3, Chunk("tRNS", std::string("\0\x80", 2))), ptPartial},
      {"palette [128] alone", SimplePng(4, 2, 4, 3, Chunk("tRNS", "\x80")), ptPartial},
      {"palette [255,128,255]", SimplePng(4, 2, 4, 3, Chunk("tRNS", "\xff\x80\xff")), ptPartial},
  };
  for (const auto& c : cases) {
    auto png = Load(c.Bytes);
    EXPECT_EQ(png->TransparencyMode(), c.Mode) << c.Name;
    EXPECT_EQ(png->GetTransparent(), c.Mode != ptNone) << c.Name;
  }
  // Keys compare the byte the pixels keep: the high byte of 16-bit samples.
  auto grey16 = Load(SimplePng(4, 2, 16, 0, Chunk("tRNS", "\x12\x34")));
  EXPECT_EQ(grey16->TransparentColor(), Rgb(0x12, 0x12, 0x12));
  auto rgb16 = Load(SimplePng(4, 2, 16, 2, Chunk("tRNS", "\x12\x34\x56\x78\x9a\xbc")));
  EXPECT_EQ(rgb16->TransparentColor(), Rgb(0x12, 0x56, 0x9a));
  auto rgb8 = Load(SimplePng(4, 2, 8, 2, Chunk("tRNS", std::string("\0\x34\0\x78\0\xbc", 6))));
  EXPECT_EQ(rgb8->TransparentColor(), Rgb(0x34, 0x78, 0xbc));
  auto grey2 = Load(SimplePng(4, 2, 2, 0, Chunk("tRNS", std::string("\0\2", 2))));
  EXPECT_EQ(grey2->TransparentColor(), Rgb(170, 170, 170));
  auto pal = Load(SimplePng(4, 2, 4, 3, Chunk("tRNS", std::string("\xff\xff\x00", 3))));
  TPngRGBQuad c2 = pal->Header()->BitmapInfo().bmiColors[2];
  EXPECT_EQ(pal->TransparentColor(), Rgb(c2.Red, c2.Green, c2.Blue));
  // A 16-bit key written back is found again in the pixels' byte.
  rgb16->Chunks().ItemFromClass<TChunktRNS>()->SetTransparentColor(Rgb(1, 2, 3));
  EXPECT_EQ(Load(Save(*rgb16))->TransparentColor(), Rgb(1, 2, 3));
}

TEST(PngPixels, GreyScalesByTheStoredDepth) {
  // One row with the darkest and the lightest level of each depth.
  auto greyRow = [](uint8_t Depth, const std::string& Row) {
    return Load(Signature() + Ihdr(2, 1, Depth, 0) + Chunk("IDAT", Zlib(std::string(1, '\0') + Row)) + Chunk("IEND", ""));
  };
  EXPECT_EQ(greyRow(1, "\x40")->GetPixelColor(1, 0), Rgb(255, 255, 255));
  EXPECT_EQ(greyRow(2, "\x3e")->GetPixelColor(1, 0), Rgb(255, 255, 255));
  EXPECT_EQ(greyRow(2, "\x80")->GetPixelColor(0, 0), Rgb(170, 170, 170));
  EXPECT_EQ(greyRow(4, "\x0f")->GetPixelColor(1, 0), Rgb(255, 255, 255));
  EXPECT_EQ(greyRow(16, std::string("\x00\xff\xfe\x01", 4))->GetPixelColor(1, 0), Rgb(254, 254, 254));
}

// The inflated image data of a saved file: every IDAT chunk's data, joined.
std::string InflatedIdat(const std::string& File) {
  std::string data;
  for (size_t at = 8; at + 8 <= File.size();) {
    uint32_t n = (uint32_t(uint8_t(File[at])) << 24) | (uint32_t(uint8_t(File[at + 1])) << 16) |
                 (uint32_t(uint8_t(File[at + 2])) << 8) | uint8_t(File[at + 3]);
    if (File.compare(at + 4, 4, "IDAT") == 0) data += File.substr(at + 8, n);
    at += 12 + n;
  }
  return Inflate(data);
}

// Reads the filter type byte of every row of a saved non-interlaced image.
std::string FilterBytes(const std::string& File, uint32_t RowBytes) {
  std::string raw = InflatedIdat(File), types;
  for (size_t i = 0; i < raw.size(); i += RowBytes + 1) types += char('0' + raw[i]);
  return types;
}

TEST(PngEncode, WriterChoices) {
  auto png = Load(SimplePng(40, 6, 8, 2));
  EXPECT_EQ(png->FilterSet(), pfSub);
  EXPECT_EQ(FilterBytes(Save(*png), 120), "111111");
  // Rows that repeat the row above: Up turns them into zeros and wins; the first row has no row above.
  std::string raw;
  std::string row;
  for (int i = 0; i < 40 * 3; ++i) row += char(i * 7 % 251);
  for (int y = 0; y < 4; ++y) raw += std::string(1, '\0') + row;
  auto repeat = Load(Signature() + Ihdr(40, 4, 8, 2) + Chunk("IDAT", Zlib(raw)) + Chunk("IEND", ""));
  repeat->SetFilterSet(pfAll);
  EXPECT_EQ(FilterBytes(Save(*repeat), 120).substr(1), "222");

  // A 16-bit RGB image is written at depth 16 with every low byte 0; 2-bit images as 4-bit ones.
  auto deep = Load(SimplePng(5, 3, 16, 2));
  std::string saved = Save(*deep);
  EXPECT_EQ(saved[24], 16);
  std::string samples = InflatedIdat(saved);
  ASSERT_EQ(samples.size(), 3u * 31);
  for (size_t y = 0; y < 3; ++y)
    for (size_t i = 1; i < 30; i += 2) EXPECT_EQ(samples[y * 31 + 1 + i], 0) << y << "," << i;
  auto two = Load(SimplePng(5, 3, 2, 3));
  EXPECT_EQ(Save(*two)[24], 4);
  EXPECT_EQ(two->Header()->BitDepth(), 4);

  // Large images: every IDAT but the last has exactly MaxIdatChunkSize bytes.
  auto big = Load(Signature() + Ihdr(300, 300, 8, 2) + Chunk("IDAT", Zlib(RawImage(300, 300, 8, 2, false, {0}, 3))) + Chunk("IEND", ""));
  big->SetMaxIdatChunkSize(1000);
  EXPECT_EQ(big->MaxIdatChunkSize(), 65535);
  big->SetDeflateLevel(0);
  std::string out = Save(*big);
  EXPECT_EQ(out.substr(33, 8), Be32(65535) + "IDAT");
  EXPECT_EQ(ChunkNames(*Load(out)), "IHDR IDAT IEND");
}

}  // namespace

// Every filter predictor against bytes worked out by hand, on two-row images whose second row
// puts the predictor where its choices differ: Paeth's nearest neighbour and each of its
// tie-breaks, sums beyond 255, wrap-around, the first pixel (no left neighbour) and the left
// neighbour one whole pixel back. The first row is stored unfiltered and is the second's prior.
TEST(PngFilters, EveryPredictorAgainstHandComputedBytes) {
  struct Case {
    const char* Name;
    uint8_t ColorType, Depth;
    uint8_t Filter;
    std::vector<uint8_t> Row0, Row1, Filtered1;  // raw rows; the second row filtered
  };
  // Grey, two pixels: Row0 = {c, b}, Row1 = {a, x}. The first byte's prediction has a = c = 0.
  const Case Cases[] = {
      {"sub wraps", 0, 8, 1, {0, 0}, {10, 5}, {10, 251}},
      {"up wraps", 0, 8, 2, {250, 3}, {4, 1}, {10, 254}},
      // (200 + 201) / 2 = 200, not (401 mod 256) / 2; the first byte predicts 255 / 2 = 127.
      {"average sums beyond a byte", 0, 8, 3, {255, 201}, {200, 210}, {73, 10}},
      {"average rounds down", 0, 8, 3, {0, 4}, {7, 20}, {7, 15}},
      // Paeth: p = a + b - c, the nearest of a, b, c to p; ties go to a, then to b.
      {"paeth a nearest", 0, 8, 4, {50, 50}, {10, 15}, {216, 5}},
      {"paeth b nearest", 0, 8, 4, {50, 10}, {50, 15}, {0, 5}},
      {"paeth c nearest", 0, 8, 4, {50, 100}, {10, 55}, {216, 5}},
      {"paeth tie a and c takes a", 0, 8, 4, {30, 40}, {10, 15}, {236, 5}},
      {"paeth tie b and c takes b", 0, 8, 4, {30, 10}, {40, 15}, {10, 5}},
      {"paeth p beyond a byte", 0, 8, 4, {20, 200}, {100, 205}, {80, 5}},  // p = 280, b nearest
      {"paeth first byte takes the byte above", 0, 8, 4, {7, 0}, {9, 9}, {2, 9}},
      // RGB: the left neighbour is three bytes back; channels as the first three Paeth rows.
      {"paeth rgb", 2, 8, 4, {50, 50, 50, 50, 10, 100}, {10, 50, 10, 15, 15, 55}, {216, 0, 216, 5, 5, 5}},
      {"sub rgb", 2, 8, 1, {0, 0, 0, 0, 0, 0}, {1, 2, 3, 0, 2, 9}, {1, 2, 3, 255, 0, 6}},
      {"average rgb", 2, 8, 3, {2, 4, 6, 8, 10, 12}, {1, 1, 1, 20, 20, 20}, {0, 255, 254, 16, 15, 14}},
      // 16-bit grey: two bytes back.
      {"sub grey16", 0, 16, 1, {0, 0, 0, 0}, {0x12, 0x34, 0x10, 0x30}, {0x12, 0x34, 0xFE, 0xFC}},
  };
  for (const Case& C : Cases) {
    SCOPED_TRACE(C.Name);
    const uint32_t Bpp = PixelBits(C.ColorType, C.Depth) / 8;
    const uint32_t W = uint32_t(C.Row0.size()) / Bpp;
    auto Bytes = [](const std::vector<uint8_t>& V) { return std::string(V.begin(), V.end()); };
    std::string Stored = std::string(1, '\0') + Bytes(C.Row0) + std::string(1, char(C.Filter)) + Bytes(C.Filtered1);
    // Decoding undoes the filter.
    auto Png = Load(Signature() + Ihdr(W, 2, C.Depth, C.ColorType) + Chunk("IDAT", Zlib(Stored)) + Chunk("IEND", ""));
    for (uint32_t X = 0; X < W; ++X) {
      const uint8_t* P = &C.Row1[X * Bpp];
      TColor Want = C.ColorType == 2 ? Rgb(P[0], P[1], P[2]) : Rgb(P[0], P[0], P[0]);  // 16-bit: the high byte
      EXPECT_EQ(Png->GetPixelColor(int(X), 1), Want) << "pixel " << X;
    }
    if (C.Depth != 8) continue;  // the writer keeps only the high bytes of 16-bit samples
    // Encoding with only this filter gives the same bytes.
    Png->SetFilterSet(TFilters(1u << C.Filter));
    std::string Saved = Save(*Png);
    ASSERT_EQ(uint8_t(Saved[24]), C.Depth);
    ASSERT_EQ(uint8_t(Saved[25]), C.ColorType);
    std::string Raw = InflatedIdat(Saved);
    ASSERT_EQ(Raw.size(), 2 * (C.Row0.size() + 1));
    EXPECT_EQ(Raw.substr(C.Row0.size() + 1), std::string(1, char(C.Filter)) + Bytes(C.Filtered1));
  }
}
