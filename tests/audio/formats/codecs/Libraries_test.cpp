// Missing codec libraries and missing entry points: the components report the message through
// their events or the input, never call a nil pointer, and the program goes on. Each case runs
// a helper program in a folder holding only some of the libraries.
#include <gtest/gtest.h>

#include <map>
#include <sstream>

#include "classlib/WinApi.h"
#include "audio/formats/codecs/CodecTestUtil.h"

using namespace codectest;

namespace {

std::wstring ProgramFolder() {
  wchar_t exe[MAX_PATH];
  DWORD n = GetModuleFileNameW(nullptr, exe, MAX_PATH);
  std::wstring p(exe, n);
  return p.substr(0, p.find_last_of(L"\\/") + 1);
}

// Runs the helper in Dir; the lines of its report by scenario.
std::map<std::string, std::string> RunChild(const TempDir& Dir) {
  std::map<std::string, std::string> m;
  std::wstring exe = Dir.W(L"codecs_child.exe"), report = Dir.W(L"report.txt");
  std::wstring cmd = L"\"" + exe + L"\" all \"" + report + L"\"";
  STARTUPINFOW si = {};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi = {};
  if (!CreateProcessW(exe.c_str(), &cmd[0], nullptr, nullptr, FALSE, 0, nullptr, Dir.Path().c_str(), &si, &pi)) {
    ADD_FAILURE() << "the helper did not start: " << GetLastError();
    return m;
  }
  EXPECT_EQ(WaitForSingleObject(pi.hProcess, 120000), WAIT_OBJECT_0);
  DWORD code = 1;
  GetExitCodeProcess(pi.hProcess, &code);
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
  EXPECT_EQ(code, 0u) << "the helper did not end normally";
  std::istringstream in(testfiles::ReadBytes(report));
  std::string line;
  while (std::getline(in, line)) {
    size_t tab = line.find('\t');
    if (tab != std::string::npos) m[line.substr(0, tab)] = line.substr(tab + 1);
  }
  return m;
}

void Copy(const std::wstring& From, const TempDir& Dir, const std::wstring& As) {
  ASSERT_TRUE(CopyFileW((ProgramFolder() + From).c_str(), Dir.W(As).c_str(), FALSE)) << WideToAnsi(From);
}

void MakeInputs(const TempDir& Dir) {
  testfiles::WriteBytes(Dir.W(L"src.raw"), Signal(20000, 2, 16));
  Peer("ffmpeg -nostdin -v error -f s16le -ar 44100 -ac 2 -i " + peer::Quote(Dir.U(L"src.raw")) +
       " -c:a libvorbis -y " + peer::Quote(Dir.U(L"in.ogg")));
  Peer("flac -s -f --force-raw-format --endian=little --sign=signed --channels=2 --bps=16 --sample-rate=44100 -o " +
       peer::Quote(Dir.U(L"in.flac")) + " " + peer::Quote(Dir.U(L"src.raw")));
}

TEST(CodecLibraries, MissingLibrariesAreReported) {
  TempDir dir;
  Copy(L"codecs_child.exe", dir, L"codecs_child.exe");
  MakeInputs(dir);
  auto r = RunChild(dir);
  EXPECT_EQ(r["flac-out"], "1\tlibFLAC.dll library could not be loaded.\t\tno file");
  EXPECT_EQ(r["vorbis-out"], "1\togg.dll library could not be loaded.\t");
  EXPECT_EQ(r["mp3-out"], "1\tlame_enc.dll library could not be loaded.\t\tno file");
  EXPECT_EQ(r["flac-in"], "invalid\tlibFLAC.dll library could not be loaded.");
  EXPECT_EQ(r["vorbis-in"], "invalid\togg.dll library could not be loaded.");
}

TEST(CodecLibraries, MissingEntryPointsAreNamed) {
  TempDir dir;
  Copy(L"codecs_child.exe", dir, L"codecs_child.exe");
  for (const wchar_t* real : {L"ogg.dll", L"vorbis.dll", L"vorbisfile.dll"}) Copy(real, dir, real);
  for (const wchar_t* fake : {L"libFLAC.dll", L"vorbisenc.dll", L"lame_enc.dll"}) Copy(L"codecs_fake.dll", dir, fake);
  MakeInputs(dir);
  auto r = RunChild(dir);
  EXPECT_EQ(r["flac-out"], "1\tFunction \"FLAC__stream_encoder_new\" not found in libFLAC.dll\t\tno file");
  EXPECT_EQ(r["vorbis-out"], "1\tFunction \"vorbis_encode_setup_vbr\" not found in vorbisenc.dll\t");
  EXPECT_EQ(r["mp3-out"], "1\tFunction \"beInitStream\" not found in lame_enc.dll\t\tno file");
  EXPECT_EQ(r["flac-in"], "invalid\tFunction \"FLAC__stream_decoder_new\" not found in libFLAC.dll");
  EXPECT_EQ(r["vorbis-in"], "valid\tread") << "decoding needs no encoder entry point";
}

// Without the tag library the MP3 file is written all the same: no ID3v2 tag, our ID3v1 block
// with "no genre".
TEST(CodecLibraries, Mp3WithoutTagLibrary) {
  TempDir dir;
  Copy(L"codecs_child.exe", dir, L"codecs_child.exe");
  Copy(L"lame_enc.dll", dir, L"lame_enc.dll");
  MakeInputs(dir);
  auto r = RunChild(dir);
  EXPECT_EQ(r["mp3-out"].substr(0, 3), "1\t\t");
  EXPECT_NE(r["mp3-out"].find("start=\xFF"), std::string::npos) << r["mp3-out"];
  EXPECT_NE(r["mp3-out"].find("end=TAG title=Latin genre=255"), std::string::npos) << r["mp3-out"];
  EXPECT_EQ(Samples(FfmpegPcm(dir.U(L"o.mp3"), "s16le"), 16).size() / 2 >= 20000, true);
}

}  // namespace
