// WAVE to WAVE against sox and ffmpeg on the same files in the same run: a 16-bit stereo copy
// (with cp as the floor), 24 to 16 bits, stereo to mono, and 44100 to 48000 Hz (sox's default
// resampler and its quick one, `rate -q`, the fair peer of ours).
//
//   wine wave_bench.exe [minutes] [rounds]
//   wine wave_bench.exe --convert IN OUT BITS CHANNELS RATE    (one conversion; 0 = as the input)
//
// Every round runs each contender once, in an order that rotates from round to round, and the
// medians are reported. Times:
// - ours, in-process: TWaveIn -> converters -> TWaveOut in this thread, from opening the source
//   to closing the written file;
// - ours, whole process: this program's --convert started natively as a new Wine process while
//   the Wine server is warm (what a user's command line costs);
// - the peers: started natively and timed on the native side, so that the bridge from Wine to
//   the native shell is not counted.
// Ratio = peer time / our time (above 1: we are faster). The peak working set shows that memory
// stays flat however long the file.
#include "classlib/WinApi.h"

#include <psapi.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "audio/engine/AuClasses.h"
#include "audio/engine/AuConverters.h"
#include "audio/formats/wave/AuWave.h"
#include "classlib/Forms.h"
#include "common/Peer.h"

namespace {

double Now() {
  LARGE_INTEGER f, c;
  QueryPerformanceFrequency(&f);
  QueryPerformanceCounter(&c);
  return (double)c.QuadPart / (double)f.QuadPart;
}

double Median(std::vector<double> V) {
  std::sort(V.begin(), V.end());
  size_t n = V.size();
  return n % 2 ? V[n / 2] : (V[n / 2 - 1] + V[n / 2]) / 2;
}

[[noreturn]] void Fail(const std::string& What, const std::string& Detail) {
  std::fprintf(stderr, "failed: %s\n%s\n", What.c_str(), Detail.c_str());
  std::exit(1);
}

// Runs Command under the native shell and returns its wall time in seconds, measured there.
double NativeSeconds(const std::string& Command) {
  std::string script = "t0=$(date +%s%N); { " + Command + "; } >/dev/null; rc=$?; t1=$(date +%s%N); " +
                       "echo $((t1 - t0)); exit $rc";
  peer::Result r = peer::Run(script, 3600);
  if (r.exitCode != 0) Fail(Command, r.err);
  return std::atof(r.out.c_str()) / 1e9;
}

std::string Native(const std::wstring& File) { return peer::Quote(peer::UnixPath(File)); }

std::string Utf8(const std::wstring& W) {
  int n = WideCharToMultiByte(CP_UTF8, 0, W.c_str(), -1, nullptr, 0, nullptr, nullptr);
  std::string s(n > 1 ? n - 1 : 0, '\0');
  if (n > 1) WideCharToMultiByte(CP_UTF8, 0, W.c_str(), -1, &s[0], n, nullptr, nullptr);
  return s;
}

// Source -> (converters) -> WAVE file, in this thread.
void RunOurs(const std::wstring& In, const std::wstring& Out, int Bits, int Channels, int Rate) {
  TWaveIn src(nullptr);
  src.SetWideFileName(In);
  TSampleMorpher morph(nullptr);
  TFastResampler resample(nullptr);
  TAuInput* last = &src;
  if (Bits || Channels) {
    morph.SetInput(last);
    morph.SetOutBitsPerSample(Bits);
    morph.SetOutChannels(Channels);
    last = &morph;
  }
  if (Rate) {
    resample.SetInput(last);
    resample.SetOutSampleRate((uint32_t)Rate);
    last = &resample;
  }
  TWaveOut out(nullptr);
  out.SetInput(last);
  out.SetWideFileName(Out);
  out.BlockingRun();
}

int64_t FileSize(const std::wstring& Name) {
  WIN32_FILE_ATTRIBUTE_DATA d;
  if (!GetFileAttributesExW(Name.c_str(), GetFileExInfoStandard, &d)) return -1;
  return ((int64_t)d.nFileSizeHigh << 32) | d.nFileSizeLow;
}

std::wstring Widen(const char* S) {
  int n = MultiByteToWideChar(CP_UTF8, 0, S, -1, nullptr, 0);
  std::wstring w(n > 1 ? n - 1 : 0, L'\0');
  if (n > 1) MultiByteToWideChar(CP_UTF8, 0, S, -1, &w[0], n);
  return w;
}

int ConvertOnce(char** Argv) {
  try {
    RunOurs(Widen(Argv[2]), Widen(Argv[3]), std::atoi(Argv[4]), std::atoi(Argv[5]), std::atoi(Argv[6]));
  } catch (const Exception& e) {
    std::fprintf(stderr, "%s\n", e.what());
    return 1;
  }
  return 0;
}

struct TContender {
  std::string Name;
  std::function<double()> Time;  // one run, seconds
  std::vector<double> Times;
};

}  // namespace

int main(int argc, char** argv) {
  ClasslibInitialize();
  AuClassesInitialize();
  if (argc == 7 && std::string(argv[1]) == "--convert") {
    int rc = ConvertOnce(argv);
    AuClassesFinalize();
    ClasslibFinalize();
    return rc;
  }
  int minutes = argc > 1 ? std::atoi(argv[1]) : 10;
  int rounds = argc > 2 ? std::atoi(argv[2]) : 5;
  if (minutes < 1) minutes = 1;
  if (rounds < 1) rounds = 1;

  wchar_t exe[MAX_PATH];
  GetModuleFileNameW(nullptr, exe, MAX_PATH);
  wchar_t tmp[MAX_PATH];
  GetTempPathW(MAX_PATH, tmp);
  std::wstring dir = std::wstring(tmp) + L"wave_bench";
  CreateDirectoryW(dir.c_str(), nullptr);
  std::wstring in16 = dir + L"\\in16.wav", in24 = dir + L"\\in24.wav";
  std::wstring peerOut = dir + L"\\peer.wav", ourOut = dir + L"\\ours.wav";
  std::string secs = std::to_string(minutes * 60);
  std::printf("Making %d-minute 44100 Hz stereo sources with sox; %d rounds, medians in seconds.\n", minutes, rounds);
  NativeSeconds("sox -n -r 44100 -c 2 -b 16 " + Native(in16) + " synth " + secs + " sine 440 sine 660 vol 0.5");
  NativeSeconds("sox -n -r 44100 -c 2 -b 24 " + Native(in24) + " synth " + secs + " sine 440 sine 660 vol 0.5");

  struct Path {
    const char* Name;
    std::wstring In;
    int Bits, Ch, Rate;
    std::vector<std::pair<std::string, std::string>> Peers;  // name, command with IN and OUT
  };
  const std::string ff = "ffmpeg -v error -y -i IN ";
  std::vector<Path> paths = {
      {"16-bit stereo copy", in16, 0, 0, 0,
       {{"cp", "cp IN OUT"}, {"sox", "sox -D IN OUT"}, {"ffmpeg", ff + "-c:a pcm_s16le OUT"}}},
      {"24 -> 16 bit", in24, 16, 0, 0, {{"sox", "sox -D IN -b 16 OUT"}, {"ffmpeg", ff + "-c:a pcm_s16le OUT"}}},
      {"stereo -> mono", in16, 0, 1, 0, {{"sox", "sox -D IN -c 1 OUT"}, {"ffmpeg", ff + "-ac 1 OUT"}}},
      {"44100 -> 48000 Hz", in16, 0, 0, 48000,
       {{"sox rate -q", "sox -D IN OUT rate -q 48000"},
        {"sox", "sox -D IN -r 48000 OUT"},
        {"ffmpeg", ff + "-ar 48000 OUT"}}},
  };

  auto replace = [](std::string S, const std::string& From, const std::string& To) {
    for (size_t at = S.find(From); at != std::string::npos; at = S.find(From, at + To.size()))
      S.replace(at, From.size(), To);
    return S;
  };
  const std::string wine = "WINEDEBUG=-all wine " + Native(exe);
  for (Path& p : paths) {
    std::vector<TContender> all;
    all.push_back({"ours", [&] {
                     double t0 = Now();
                     try {
                       RunOurs(p.In, ourOut, p.Bits, p.Ch, p.Rate);
                     } catch (const Exception& e) {
                       Fail("ours", e.what());
                     }
                     return Now() - t0;
                   }, {}});
    all.push_back({"ours, process", [&] {
                     return NativeSeconds(wine + " --convert " + peer::Quote(Utf8(p.In)) + " " +
                                          peer::Quote(Utf8(ourOut)) + " " + std::to_string(p.Bits) + " " +
                                          std::to_string(p.Ch) + " " + std::to_string(p.Rate));
                   }, {}});
    for (auto& [name, cmd] : p.Peers) {
      std::string c = replace(replace(cmd, "IN", Native(p.In)), "OUT", Native(peerOut));
      all.push_back({name, [c] { return NativeSeconds(c); }, {}});
    }
    for (int r = 0; r < rounds; ++r)
      for (size_t k = 0; k < all.size(); ++k) {
        TContender& c = all[(k + (size_t)r) % all.size()];
        c.Times.push_back(c.Time());
      }
    double ours = Median(all[0].Times), process = Median(all[1].Times);
    std::printf("\n%s (output %lld bytes)\n", p.Name, (long long)FileSize(ourOut));
    std::printf("  %-14s %8.3f s\n", "ours", ours);
    std::printf("  %-14s %8.3f s\n", "ours, process", process);
    for (size_t k = 2; k < all.size(); ++k) {
      double t = Median(all[k].Times);
      std::printf("  %-14s %8.3f s   ratio %5.2fx in-process, %5.2fx whole process\n", all[k].Name.c_str(), t,
                  t / ours, t / process);
    }
    std::fflush(stdout);
  }
  PROCESS_MEMORY_COUNTERS mem = {};
  mem.cb = sizeof mem;
  if (GetProcessMemoryInfo(GetCurrentProcess(), &mem, sizeof mem))
    std::printf("\nPeak working set of the in-process runs: %.1f MB\n", mem.PeakWorkingSetSize / 1048576.0);
  for (const std::wstring& f : {in16, in24, peerOut, ourOut}) DeleteFileW(f.c_str());
  RemoveDirectoryW(dir.c_str());
  AuClassesFinalize();
  ClasslibFinalize();
  return 0;
}
