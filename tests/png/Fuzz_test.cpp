// Damaged files: a handful of images cut at every point and changed by seeded random edits (half
// of them with every chunk's CRC made right again, so the damage reaches the parsers). Loading must
// end in one of the codec's errors or in an image that can be used; never a crash, a hang, another
// kind of error or an allocation out of proportion to the file.
#include <gtest/gtest.h>

#include <windows.h>
#include <psapi.h>

#include <random>

#include "PngTestUtil.h"
#include "png/TranslucentPng.h"

using namespace pngtest;

namespace {

size_t PeakMemory() {
  PROCESS_MEMORY_COUNTERS pmc{};
  pmc.cb = sizeof(pmc);
  GetProcessMemoryInfo(GetCurrentProcess(), &pmc, sizeof(pmc));
  return pmc.PeakPagefileUsage;
}

// Recomputes the CRC of every chunk whose length stays inside the file.
std::string FixCrcs(std::string S) {
  size_t at = 8;
  while (at + 12 <= S.size()) {
    uint32_t n = (uint32_t(uint8_t(S[at])) << 24) | (uint32_t(uint8_t(S[at + 1])) << 16) |
                 (uint32_t(uint8_t(S[at + 2])) << 8) | uint8_t(S[at + 3]);
    if (n > S.size() - at - 12) break;
    std::string fixed = Chunk(S.substr(at + 4, 4), S.substr(at + 8, n));
    S.replace(at, fixed.size(), fixed);
    at += 12 + n;
  }
  return S;
}

// Loads Bytes; an image that loads is saved, drawn, read pixel by pixel and premultiplied.
void Exercise(const std::string& Bytes, TBitmap& Target, const std::string& What) {
  std::unique_ptr<TPNGObject> png;
  try {
    png = Load(Bytes);
  } catch (const Exception& E) {
    const std::string cls = E.ClassName();
    if (cls.rfind("EPNG", 0) != 0 && cls.rfind("EPng", 0) != 0) ADD_FAILURE() << What << ": " << ErrorText(E);
    return;
  } catch (const std::exception& E) {
    ADD_FAILURE() << What << ": " << E.what();
    return;
  }
  try {
    Save(*png);
    png->Draw(Target.Canvas(), Rect(0, 0, 7, 5));
    for (int y = 0; y < png->Height(); y += 3)
      for (int x = 0; x < png->Width(); x += 3) png->GetPixelColor(x, y);
    if (png->TransparencyMode() == ptPartial) DeleteObject(static_cast<HBITMAP>(CreatePremultipliedBitmap(png.get())));
  } catch (const Exception& E) {
    const std::string cls = E.ClassName();
    if (cls.rfind("EPNG", 0) != 0 && cls.rfind("EPng", 0) != 0) ADD_FAILURE() << What << " (use): " << ErrorText(E);
  }
}

TEST(PngFuzz, CutAndDamagedFilesFailCleanly) {
  const std::string z = Zlib(RawImage(40, 30, 16, 0, false, {0, 1, 2, 3, 4}, 5));
  const std::vector<std::pair<std::string, std::string>> images = {
      {"RGBA interlaced + text",
       SimplePng(13, 7, 8, 6,
                 Chunk("gAMA", Be32(45455)) + Chunk("tEXt", std::string("Title\0x", 7)) +
                     Chunk("zTXt", std::string("Note\0\0", 6) + Zlib("some text")),
                 true, 3)},
      {"palette + tRNS + pHYs + tIME",
       SimplePng(17, 9, 4, 3,
                 Chunk("tRNS", std::string("\0\x80\xff", 3)) + Chunk("pHYs", Be32(1) + Be32(1) + std::string(1, '\1')) +
                     Chunk("tIME", std::string(7, '\1')),
                 false, 4)},
      {"grey 16 over three IDATs", Signature() + Ihdr(40, 30, 16, 0) + Chunk("IDAT", z.substr(0, 50)) +
                                       Chunk("IDAT", z.substr(50, 100)) + Chunk("IDAT", z.substr(150)) + Chunk("IEND", "")},
      {"grey 2 interlaced", SimplePng(11, 13, 2, 0, Chunk("tRNS", std::string("\0\1", 2)), true, 6)},
      {"RGB 16", SimplePng(9, 9, 16, 2, Chunk("tRNS", std::string(6, '\0')), false, 7)},
  };
  TBitmap target;
  target.SetPixelFormat(pf24bit);
  target.SetSize(7, 5);
  const size_t before = PeakMemory();
  // PNGFUZZ_ROUNDS runs a deeper search with fresh seeds.
  const char* deep = getenv("PNGFUZZ_ROUNDS");
  const int rounds = deep ? atoi(deep) : 600;
  std::mt19937 rng(deep ? GetTickCount() : 20261210);
  for (const auto& [name, file] : images) {
    ASSERT_EQ(LoadError(file), "") << name;
    for (size_t cut = 0; cut < file.size(); ++cut) Exercise(file.substr(0, cut), target, name + " cut at " + std::to_string(cut));
    for (int round = 0; round < rounds; ++round) {
      std::string s = file;
      const int edits = 1 + int(rng() % 4);
      for (int e = 0; e < edits; ++e) {
        size_t at = 8 + rng() % (s.size() - 8);
        switch (rng() % 3) {
          case 0: s[at] = char(rng()); break;          // any byte
          case 1: s[at] ^= char(1 << (rng() % 8)); break;  // one bit
          default: s[at] = char(rng() % 2 ? 0xFF : 0);  break;  // an extreme
        }
      }
      if (round % 2) s = FixCrcs(s);
      Exercise(s, target, name + " round " + std::to_string(round) + " (seeded edits)");
    }
  }
  // The largest image here decodes to a few kilobytes; damaged headers must not make the codec
  // reserve much more than that.
  EXPECT_LT(PeakMemory() - before, size_t(64) << 20);
}

}  // namespace
