// The PNG conformance images of Debian's libpng source package (scripts/png-suite.sh): every valid
// image decodes as the reference decoder decodes it, every damaged one raises its error.
#include <gtest/gtest.h>

#include <windows.h>

#include "PngTestUtil.h"
#include "common/Peer.h"
#include "common/TestFiles.h"

using namespace pngtest;

namespace {

// The native paths of the *.png files in Folder (a native path under the conformance folder).
std::vector<std::string> PngFiles(const std::string& Folder) {
  std::vector<std::string> out;
  WIN32_FIND_DATAW fd;
  HANDLE h = FindFirstFileW((WinPath(Folder) + L"\\*.png").c_str(), &fd);
  if (h == INVALID_HANDLE_VALUE) return out;
  do {
    std::string name;
    for (const wchar_t* p = fd.cFileName; *p; ++p) name += char(*p);
    out.push_back(Folder + "/" + name);
  } while (FindNextFileW(h, &fd));
  FindClose(h);
  std::sort(out.begin(), out.end());
  return out;
}

std::string Base(const std::string& Path) { return Path.substr(Path.rfind('/') + 1); }

TEST(PngConformance, ValidImagesDecodeAsTheReferenceDecoderDoes) {
  const std::string root = PNG_CONFORMANCE_DIR;
  ASSERT_FALSE(root.empty()) << "scripts/png-suite.sh could not fetch the conformance images";
  std::vector<std::string> files;
  for (const char* sub : {"/pngsuite", "/pngsuite/interlaced", "/testpngs"})
    for (auto& f : PngFiles(root + sub)) files.push_back(f);
  ASSERT_GT(files.size(), 150u) << "conformance images missing under " << root;
  auto refs = ReferenceDecode(files);
  int interlaced = 0, kinds[7][17] = {};
  for (const auto& f : files) {
    SCOPED_TRACE(f);
    const std::string bytes = ReadNative(f);
    ASSERT_FALSE(bytes.empty());
    std::unique_ptr<TPNGObject> png;
    try {
      png = Load(bytes);
    } catch (const Exception& E) {
      ADD_FAILURE() << ErrorText(E);
      continue;
    }
    EXPECT_EQ(CompareWithReference(*png, refs[f]), "");
    interlaced += png->InterlaceMode();
    ++kinds[png->Header()->ColorType()][png->Header()->BitDepth()];
  }
  // The set covers every colour type and depth, interlaced and not.
  EXPECT_GT(interlaced, 20);
  for (const auto& k : {std::pair{0, 1}, {0, 2}, {0, 4}, {0, 8}, {0, 16}, {2, 8}, {2, 16}, {3, 1}, {3, 2}, {3, 4},
                        {3, 8}, {4, 8}, {4, 16}, {6, 8}, {6, 16}})
    EXPECT_GT(kinds[k.first][k.second], 0) << k.first << "/" << k.second;
}

// Files of another encoder (ImageMagick over libpng): its chunk layout (IDATs of 8 KiB, gAMA,
// cHRM, bKGD, tEXt, tIME...) in every output type it offers.
TEST(PngConformance, FilesOfANativeEncoderDecodeAsTheReferenceDecoderDoes) {
  testfiles::TempDir dir(L"pngim");
  const std::string src = "-seed 3 -size 301x203 plasma:fractal ", grey = src + "-colorspace Gray ";
  auto type = [](int ColorType, int Depth) {
    return "-define png:color-type=" + std::to_string(ColorType) + " -define png:bit-depth=" + std::to_string(Depth) + " ";
  };
  const std::pair<const char*, std::string> kinds[] = {
      {"rgb8", src + type(2, 8)},
      {"rgb16", src + type(2, 16)},
      {"rgba16i", src + "-alpha set -channel A -fx i/w -interlace PNG " + type(6, 16)},
      {"rgba8", src + "-alpha set -channel A -fx j/h " + type(6, 8)},
      {"palette8", src + "-colors 200 PNG8:"},
      {"palette4i", src + "-colors 12 -define png:bit-depth=4 -interlace PNG PNG8:"},
      {"grey8", grey + type(0, 8)},
      {"grey16i", grey + "-interlace PNG " + type(0, 16)},
      {"grey4i", grey + "-posterize 16 -interlace PNG " + type(0, 4)},
      {"grey2", grey + "-posterize 4 " + type(0, 2)},
      {"grey1", grey + "-threshold 50% " + type(0, 1)},
      {"greyalpha16", grey + "-alpha set -channel A -fx i/w " + type(4, 16)},
  };
  std::vector<std::string> files;
  for (const auto& [name, args] : kinds) {
    const std::string path = peer::UnixPath(dir.File(std::wstring(name, name + strlen(name)) + L".png"));
    peer::Result r = peer::Run("convert " + args + (args.back() == ':' ? "" : "png:") + peer::Quote(path));
    ASSERT_EQ(r.exitCode, 0) << name << ": " << r.err;
    files.push_back(path);
  }
  auto refs = ReferenceDecode(files);
  for (const auto& f : files) {
    SCOPED_TRACE(f);
    std::unique_ptr<TPNGObject> png;
    ASSERT_NO_THROW(png = Load(ReadNative(f)));
    EXPECT_EQ(CompareWithReference(*png, refs[f]), "");
  }
}

TEST(PngConformance, DamagedImagesRaiseTheirError) {
  const std::string root = PNG_CONFORMANCE_DIR;
  ASSERT_FALSE(root.empty()) << "scripts/png-suite.sh could not fetch the conformance images";
  const auto files = PngFiles(root + "/testpngs/crashers");
  ASSERT_GE(files.size(), 20u);
  const std::map<std::string, std::string> expected = {
      {"bad_iCCP.png", "EPngInvalidCRC"},  // its header's CRC is wrong
      {"badadler.png", "EPNGZLIBError"},
      {"badcrc.png", "EPngInvalidCRC"},
      // Only empty ancillary chunks: none of them is one the codec reads, so the image loads.
      {"empty_ancillary_chunks.png", ""},
  };
  for (const auto& f : files) {
    const std::string name = Base(f);
    auto it = expected.find(name);
    // huge_*: a chunk length far past the end of the file.
    const std::string want = it != expected.end() ? it->second : "EPngUnexpectedEnd";
    std::string e = LoadError(ReadNative(f));
    EXPECT_EQ(e.substr(0, e.find(':')), want) << name << ": " << e;
  }
}

}  // namespace
