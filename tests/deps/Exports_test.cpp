// Every codec DLL loads by name from the executable's folder and has every entry point the
// program resolves.
#include <gtest/gtest.h>

#include <ostream>

#include <cctype>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "deps/DepLibs.h"

namespace {

struct LibCase {
  const char* dll;
  std::function<std::unique_ptr<DepLib>()> make;
};

void PrintTo(const LibCase& c, std::ostream* os) { *os << c.dll; }

template <class L>
LibCase Case(const char* dll) {
  return {dll, [] { return std::unique_ptr<DepLib>(new L); }};
}

class DepExports : public ::testing::TestWithParam<LibCase> {};

TEST_P(DepExports, LoadsByNameAndResolvesEveryEntryPoint) {
  std::unique_ptr<DepLib> lib = GetParam().make();
  ASSERT_NE(lib->Handle(), nullptr) << lib->Missing();
  EXPECT_EQ(lib->Missing(), "") << "missing in " << GetParam().dll;
}

INSTANTIATE_TEST_SUITE_P(Dlls, DepExports,
                         ::testing::Values(Case<LameLib>("lame_enc.dll"), Case<TagLibC>("libtag_c.dll"),
                                           Case<OggLib>("ogg.dll"), Case<VorbisLib>("vorbis.dll"),
                                           Case<VorbisFileLib>("vorbisfile.dll"), Case<VorbisEncLib>("vorbisenc.dll"),
                                           Case<FlacLib>("libFLAC.dll"), Case<WavpackLib>("WavpackDLL.dll")),
                         [](const ::testing::TestParamInfo<LibCase>& info) {
                           std::string n = info.param.dll;
                           return n.substr(0, n.find('.'));
                         });

// The DLLs carry their compiler runtime inside: each imports only system DLLs and the other codec
// DLLs (read from the import directory of the loaded image).
std::vector<std::string> Imports(HMODULE h) {
  std::vector<std::string> names;
  auto* base = reinterpret_cast<const unsigned char*>(h);
  auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
  auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);  // this process's own image kind
  const IMAGE_DATA_DIRECTORY& dir = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
  if (dir.VirtualAddress == 0) return names;
  for (auto* d = reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(base + dir.VirtualAddress); d->Name; ++d) {
    std::string n(reinterpret_cast<const char*>(base + d->Name));
    for (char& ch : n) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    names.push_back(n);
  }
  return names;
}

TEST(DepRuntime, DllsImportOnlySystemAndCodecDlls) {
  const std::set<std::string> allowed = {"kernel32.dll", "msvcrt.dll", "user32.dll", "advapi32.dll",
                                         "ogg.dll", "vorbis.dll", "vorbisfile.dll", "vorbisenc.dll",
                                         "libflac.dll", "wavpackdll.dll", "lame_enc.dll", "libtag_c.dll"};
  LameLib lame;
  TagLibC tag;
  OggLib ogg;
  VorbisLib vorbis;
  VorbisFileLib vf;
  VorbisEncLib ve;
  FlacLib flac;
  WavpackLib wv;
  for (const DepLib* lib : std::initializer_list<const DepLib*>{&lame, &tag, &ogg, &vorbis, &vf, &ve, &flac, &wv}) {
    ASSERT_NE(lib->Handle(), nullptr) << lib->Missing();
    const std::vector<std::string> imports = Imports(lib->Handle());
    EXPECT_FALSE(imports.empty());
    for (const std::string& dll : imports) EXPECT_EQ(allowed.count(dll), 1u) << "unexpected import " << dll;
  }
}

}  // namespace
