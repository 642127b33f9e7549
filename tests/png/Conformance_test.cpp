// The PNG conformance images of Debian's libpng source package (scripts/png-suite.sh): every valid
// image decodes as the reference decoder decodes it, every damaged one raises its error.
#include <gtest/gtest.h>

#include <windows.h>

#include "PngTestUtil.h"

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
