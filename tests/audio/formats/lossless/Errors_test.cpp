// Failures of the WavPack and True Audio components: a missing library or entry point, garbage
// files, unwritable folders, missing names and streams. Each reaches the caller (or the output's
// OnThreadException) with its message; nothing is left busy, and the program runs on.
//
// The missing-library cases run this executable again in a folder without the libraries (or
// with libraries that export nothing), since a library once loaded stays loaded. The child's
// tests exist only in a process started with LOSSLESS_CHILD set.
#include <gtest/gtest.h>

#include "audio/formats/tta/AuTTA.h"
#include "audio/formats/wavpack/AuWavPack.h"
#include "audio/engine/AudioTestUtil.h"
#include "classlib/WinApi.h"
#include "common/TestFiles.h"
#include "audio/formats/lossless/LosslessTestUtil.h"

using namespace lossless;
using testfiles::TempDir;

namespace {

bool Exists(const std::wstring& f) { return GetFileAttributesW(f.c_str()) != INVALID_FILE_ATTRIBUTES; }

std::wstring ExeFolder() {
  wchar_t path[MAX_PATH];
  DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring p(path, n);
  return p.substr(0, p.find_last_of(L"\\/") + 1);
}

std::wstring ExePath() {
  wchar_t path[MAX_PATH];
  DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
  return std::wstring(path, n);
}

// Runs a copy of this executable in Folder with a filter over the disabled child tests; returns
// its exit code and output.
int RunChild(const std::wstring& Folder, const std::string& Filter, std::string& Output) {
  const std::wstring exe = Folder + L"\\lossless_test.exe";
  if (!CopyFileW(ExePath().c_str(), exe.c_str(), FALSE)) return -2;
  const std::wstring log = Folder + L"\\child.log";
  SECURITY_ATTRIBUTES sa{sizeof sa, nullptr, TRUE};
  HANDLE out = CreateFileW(log.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &sa, CREATE_ALWAYS, 0, nullptr);
  if (out == INVALID_HANDLE_VALUE) return -3;
  std::wstring cmd = L"\"" + exe + L"\" --gtest_filter=" + std::wstring(Filter.begin(), Filter.end());
  STARTUPINFOW si{};
  si.cb = sizeof si;
  si.dwFlags = STARTF_USESTDHANDLES;
  si.hStdOutput = out;
  si.hStdError = out;
  si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  PROCESS_INFORMATION pi{};
  SetEnvironmentVariableW(L"LOSSLESS_CHILD", L"1");
  BOOL ok = CreateProcessW(exe.c_str(), cmd.data(), nullptr, nullptr, TRUE, 0, nullptr, Folder.c_str(), &si, &pi);
  SetEnvironmentVariableW(L"LOSSLESS_CHILD", nullptr);
  CloseHandle(out);
  if (!ok) return -4;
  DWORD code = (DWORD)-5;
  if (WaitForSingleObject(pi.hProcess, 120000) == WAIT_OBJECT_0) GetExitCodeProcess(pi.hProcess, &code);
  else TerminateProcess(pi.hProcess, 99);
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
  Output = testfiles::ReadBytes(log);
  return (int)code;
}

std::string Utf8(const std::wstring& s) { return WideToUtf8Basic(s); }

// A valid file of each format, for the components to fail on something other than the file.
void WriteSomeFile(const std::wstring& file) { testfiles::WriteBytes(file, std::string(5000, '\x11')); }

TEST(LibraryFailures, MissingLibrariesAreReportedByEveryComponent) {
  TempDir dir;
  std::string out;
  EXPECT_EQ(RunChild(dir.Path(), "ChildWithoutLibraries.*", out), 0) << out;
  EXPECT_NE(out.find("[  PASSED  ] 1 test"), std::string::npos) << out;
}

TEST(LibraryFailures, MissingEntryPointsNameThemselves) {
  TempDir dir;
  for (const wchar_t* dll : {L"TTALib.dll", L"WavpackDLL.dll"})
    ASSERT_TRUE(CopyFileW((ExeFolder() + L"stubs\\" + dll).c_str(), dir.File(dll).c_str(), FALSE));
  std::string out;
  EXPECT_EQ(RunChild(dir.Path(), "ChildWithEmptyLibraries.*", out), 0) << out;
  EXPECT_NE(out.find("[  PASSED  ] 1 test"), std::string::npos) << out;
}

// Run in the child, in a folder without the codec libraries.
void EveryComponentReportsTheMissingLibrary() {
  TempDir dir;
  WriteSomeFile(dir.File(L"a.tta"));
  WriteSomeFile(dir.File(L"a.wv"));
  auto pcm = Signal(16, 2, 3000);

  TTTAIn tin(nullptr);
  tin.SetWideFileName(dir.File(L"a.tta"));
  EXPECT_FALSE(tin.Valid());
  EXPECT_EQ(Utf8(MessageOf([&] { tin.Init(); })), "TTALib.dll library could not be loaded.");
  tin.Flush();
  TWVIn win(nullptr);
  win.SetWideFileName(dir.File(L"a.wv"));
  EXPECT_FALSE(win.Valid());
  EXPECT_EQ(Utf8(MessageOf([&] { win.Init(); })), "WavpackDLL.dll library could not be loaded");
  win.Flush();

  TMemIn in(pcm, 16, 2, 44100);
  TTTAOut tout(nullptr);
  tout.SetInput(&in);
  tout.SetWideFileName(dir.File(L"o.tta"));
  EXPECT_EQ(RunToDone(&tout), "TTALib.dll library could not be loaded.");
  TWVOut wout(nullptr);
  wout.SetInput(&in);
  wout.SetWideFileName(dir.File(L"o.wv"));
  EXPECT_EQ(RunToDone(&wout), "WavpackDLL.dll library could not be loaded");
  EXPECT_FALSE(Exists(dir.File(L"o.tta")));
  EXPECT_FALSE(Exists(dir.File(L"o.wv")));
  EXPECT_FALSE(in.Busy());

  // The wrappers check the library themselves.
  TMemoryStream mem;
  EXPECT_EQ(Utf8(MessageOf([&] { TWavpackDecoder d(&mem, 0, 2, nullptr); })),
            "WavPack library \"WavpackDLL.dll\" not loaded!");
  HANDLE h = CreateFileW(dir.File(L"a.tta").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  EXPECT_EQ(Utf8(MessageOf([&] { TTTADecoder d(h); })), "TrueAudio library \"TTALib.dll\" not loaded!");
  CloseHandle(h);
}

// Run in the child, in a folder whose codec libraries export nothing.
void EveryCallNamesItsEntryPoint() {
  TempDir dir;
  WriteSomeFile(dir.File(L"a.tta"));
  WriteSomeFile(dir.File(L"a.wv"));
  auto pcm = Signal(16, 2, 3000);

  TTTAIn tin(nullptr);
  tin.SetWideFileName(dir.File(L"a.tta"));
  EXPECT_EQ(Utf8(MessageOf([&] { tin.Init(); })), "Function \"TTADecoder::TTADecoder\" not found in TrueAudio library!");
  tin.Flush();
  TWVIn win(nullptr);
  win.SetWideFileName(dir.File(L"a.wv"));
  EXPECT_EQ(Utf8(MessageOf([&] { win.Init(); })), "Function \"WavpackOpenFileInputEx\" not found in WavPack library!");
  win.Flush();

  TMemIn in(pcm, 16, 2, 44100);
  TTTAOut tout(nullptr);
  tout.SetInput(&in);
  tout.SetWideFileName(dir.File(L"o.tta"));
  EXPECT_EQ(RunToDone(&tout), "Function \"TTAEncoder::TTAEncoder\" not found in TrueAudio library!");
  TWVOut wout(nullptr);
  wout.SetInput(&in);
  wout.SetWideFileName(dir.File(L"o.wv"));
  EXPECT_EQ(RunToDone(&wout), "Function \"WavpackOpenFileOutput\" not found in WavPack library!");
  EXPECT_FALSE(Exists(dir.File(L"o.tta")));
  EXPECT_FALSE(Exists(dir.File(L"o.wv")));
  EXPECT_FALSE(in.Busy());
}

class ChildTest : public ::testing::Test {
 public:
  explicit ChildTest(void (*Body)()) : FBody(Body) {}
  void TestBody() override { FBody(); }

 private:
  void (*FBody)();
};

const bool ChildTestsRegistered = [] {
  wchar_t v[4];
  if (GetEnvironmentVariableW(L"LOSSLESS_CHILD", v, 4) == 0) return false;
  ::testing::RegisterTest("ChildWithoutLibraries", "EveryComponentReportsTheMissingLibrary", nullptr, nullptr, __FILE__,
                          __LINE__, []() -> ::testing::Test* { return new ChildTest(&EveryComponentReportsTheMissingLibrary); });
  ::testing::RegisterTest("ChildWithEmptyLibraries", "EveryCallNamesItsEntryPoint", nullptr, nullptr, __FILE__, __LINE__,
                          []() -> ::testing::Test* { return new ChildTest(&EveryCallNamesItsEntryPoint); });
  return true;
}();

// Failures of a run: the output's events carry the message, no file is left behind and the
// input can be used again at once.
TEST(OutputFailures, GarbageInputsUnwritableFoldersAndMissingNames) {
  TempDir dir;
  WriteSomeFile(dir.File(L"junk.tta"));
  WriteSomeFile(dir.File(L"junk.wv"));
  auto pcm = Signal(16, 2, 3000);
  TMemIn good(pcm, 16, 2, 44100);
  TTTAIn tta(nullptr);
  TWVIn wv(nullptr);
  TTTAOut tout(nullptr);
  TWVOut wout(nullptr);

  struct Case {
    const char* name;
    TAuOutput* out;
    TAuInput* in;
    std::wstring inFile;  // for the file inputs
    std::wstring outFile;
    std::string message;  // prefix
  } cases[] = {
      {"garbage .wv into TTA", &tout, &wv, dir.File(L"junk.wv"), dir.File(L"o1.tta"), "Unable to open WavPack-stream! Error: \""},
      {"garbage .tta into WavPack", &wout, &tta, dir.File(L"junk.tta"), dir.File(L"o2.wv"),
       "Unable to open TrueAudio-file! Error: \""},
      {"missing .tta", &wout, &tta, dir.File(L"none.tta"), dir.File(L"o3.wv"), "Unable to open file for input!"},
      {"TTA to a missing folder", &tout, &good, L"", dir.File(L"no\\o4.tta"), "Unable to create file for output!"},
      {"WavPack to a missing folder", &wout, &good, L"", dir.File(L"no\\o5.wv"), ""},
      {"TTA without a name", &tout, &good, L"", L"", "File name is not defined!"},
      {"WavPack without a name", &wout, &good, L"", L"", "File name is not assigned"},
  };
  for (auto& c : cases) {
    SCOPED_TRACE(c.name);
    if (!c.inFile.empty()) static_cast<TAuFileIn*>(c.in)->SetWideFileName(c.inFile);
    c.out->SetInput(c.in);
    static_cast<TAuFileOut*>(c.out)->SetWideFileName(c.outFile);
    const std::string msg = RunToDone(c.out);
    EXPECT_FALSE(msg.empty()) << "a failed run is reported";
    EXPECT_EQ(msg.rfind(c.message, 0), 0u) << msg;
    if (!c.outFile.empty()) {
      EXPECT_FALSE(Exists(c.outFile));
    }
    EXPECT_FALSE(c.in->Busy());
  }
  // Everything is usable again.
  TTTAOut again(nullptr);
  again.SetInput(&good);
  again.SetWideFileName(dir.File(L"ok.tta"));
  EXPECT_EQ(RunToDone(&again), "");
  wv.SetWideFileName(L"");
  wout.SetInput(&good);
  wout.SetWideFileName(dir.File(L"ok.wv"));
  EXPECT_EQ(RunToDone(&wout), "");
}

TEST(InputFailures, PullsBeforeInitAndWrappersWithoutStreams) {
  TempDir dir;
  TTTAIn tta(nullptr);
  TWVIn wv(nullptr);
  uint8_t b[16];
  EXPECT_EQ(Utf8(MessageOf([&] { tta.CopyData(b, sizeof b); })), "File for input is not opened!");
  EXPECT_EQ(Utf8(MessageOf([&] { wv.CopyData(b, sizeof b); })), "The Stream is not opened");
  ASSERT_TRUE(LoadWavpackLib());
  ASSERT_TRUE(LoadTTALib());
  EXPECT_EQ(Utf8(MessageOf([&] { TWavpackDecoder d(nullptr, 0, 2, nullptr); })), "AStream is nil!");
  EXPECT_EQ(Utf8(MessageOf([&] { TWavpackEncoder e(nullptr, nullptr); })), "AStream is nil!");
  EXPECT_EQ(Utf8(MessageOf([&] { TTTADecoder d(nullptr); })), "AHandle is zero!");
  EXPECT_EQ(Utf8(MessageOf([&] { TTTAEncoder e(INVALID_HANDLE_VALUE, false, 1, 2, 16, 44100, 0); })),
            "AHandle is invalid!");
  TMemoryStream junk;
  junk.WriteBuffer("not a wavpack stream at all, not at all", 40);
  EXPECT_EQ(Utf8(MessageOf([&] { TWavpackDecoder d(&junk, 0, 2, nullptr); })).rfind("Unable to open WavPack-stream! Error: \"", 0),
            0u);
}

}  // namespace

namespace {

// A run stopped part-way leaves a complete file of what was written: header, seek table and
// sample counts tell the truth.
TEST(OutputStops, AStoppedRunLeavesACompleteFile) {
  TempDir dir;
  const int frames = 441000;
  auto pcm = Signal(16, 2, frames);
  for (int k = 0; k < 2; ++k) {
    SCOPED_TRACE(k ? "WavPack" : "TTA");
    const std::wstring file = dir.File(k ? L"s.wv" : L"s.tta");
    TMemIn in(pcm, 16, 2, 44100);
    in.MaxChunk = 4096;
    in.DelayMs = 1;  // a slow source, so that the stop comes early
    TTTAOut tout(nullptr);
    TWVOut wout(nullptr);
    TAuFileOut* out = k ? (TAuFileOut*)&wout : (TAuFileOut*)&tout;
    out->SetInput(&in);
    out->SetWideFileName(file);
    bool done = false;
    out->OnProgress = [&](TComponent*) { out->Stop(true); };
    out->OnDone = [&](TComponent*) { done = true; };
    out->Run();
    ASSERT_TRUE(PumpUntil([&] { return done; }, 120000));
    std::unique_ptr<TAuFileIn> back;
    if (k)
      back = std::make_unique<TWVIn>(nullptr);
    else
      back = std::make_unique<TTTAIn>(nullptr);
    back->SetWideFileName(file);
    const int64_t got = back->TotalSamples();
    EXPECT_GT(got, 0);  // (a loaded machine may let the run end before the stop arrives)
    auto data = Drain(back.get(), 8192);
    EXPECT_EQ((int64_t)data.size(), got * 4);
    EXPECT_EQ(FirstDifference(data, std::vector<uint8_t>(pcm.begin(), pcm.begin() + data.size())), -1);
    std::string err;
    EXPECT_EQ(FirstDifference(FfmpegDecode(file, 16, err), data), -1) << err;
  }
}

}  // namespace
