// Mixing two WAVE files into one against sox in the same run: an overlay (sox -m) and a
// concatenation (sox a b out) of two 16-bit stereo files of the given length.
//
//   wine mix_bench.exe [minutes] [repeats]
//
// Each path is timed from opening the sources to closing the written file, best of the repeats.
// sox runs natively (started from here) without dither; ours runs two TWaveIn -> TAudioMixer ->
// TWaveOut in this thread. Ratio = sox time / our time (above 1: we are faster).
#include "classlib/WinApi.h"

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>

#include "audio/stages/AuAudioMix.h"
#include "audio/engine/AuClasses.h"
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

double Best(int Repeats, const std::function<void()>& Work) {
  double best = 1e30;
  for (int i = 0; i < Repeats; ++i) {
    double t0 = Now();
    Work();
    double t = Now() - t0;
    if (t < best) best = t;
  }
  return best;
}

void RunSox(const std::string& Command) {
  peer::Result r = peer::Run(Command, 3600);
  if (r.exitCode != 0) {
    std::fprintf(stderr, "failed: %s\n%s\n", Command.c_str(), r.err.c_str());
    std::exit(1);
  }
}

std::string Native(const std::wstring& File) { return peer::Quote(peer::UnixPath(File)); }

int64_t FileSize(const std::wstring& Name) {
  WIN32_FILE_ATTRIBUTE_DATA d;
  if (!GetFileAttributesExW(Name.c_str(), GetFileExInfoStandard, &d)) return -1;
  return ((int64_t)d.nFileSizeHigh << 32) | d.nFileSizeLow;
}

void RunOurs(const std::wstring& A, const std::wstring& B, const std::wstring& Out, TAudioMixerMode Mode) {
  TWaveIn a(nullptr), b(nullptr);
  a.SetWideFileName(A);
  b.SetWideFileName(B);
  TAudioMixer mix(nullptr);
  mix.SetInput1(&a);
  mix.SetInput2(&b);
  mix.SetMode(Mode);
  TWaveOut out(nullptr);
  out.SetInput(&mix);
  out.SetWideFileName(Out);
  out.BlockingRun();
}

}  // namespace

int main(int argc, char** argv) {
  ClasslibInitialize();
  AuClassesInitialize();
  int minutes = argc > 1 ? std::atoi(argv[1]) : 10;
  int repeats = argc > 2 ? std::atoi(argv[2]) : 3;
  if (minutes < 1) minutes = 1;
  if (repeats < 1) repeats = 1;
  wchar_t tmp[MAX_PATH];
  GetTempPathW(MAX_PATH, tmp);
  std::wstring dir = std::wstring(tmp) + L"mix_bench";
  CreateDirectoryW(dir.c_str(), nullptr);
  std::wstring a = dir + L"\\a.wav", b = dir + L"\\b.wav";
  std::wstring soxOut = dir + L"\\sox.wav", ourOut = dir + L"\\ours.wav";
  std::string secs = std::to_string(minutes * 60);
  std::printf("Making two %d-minute 44100 Hz 16-bit stereo sources with sox...\n", minutes);
  RunSox("sox -n -r 44100 -c 2 -b 16 " + Native(a) + " synth " + secs + " sine 440 sine 660 vol 0.5");
  RunSox("sox -n -r 44100 -c 2 -b 16 " + Native(b) + " synth " + secs + " square 300 vol 0.4");
  struct Path {
    const char* name;
    std::string soxArgs;
    TAudioMixerMode mode;
  } paths[] = {{"overlay", "-m", amMix}, {"concatenation", "", amConcatenate}};
  std::printf("%-16s %10s %10s %8s\n", "path", "sox s", "ours s", "ratio");
  for (auto& p : paths) {
    std::string cmd = "sox -D " + p.soxArgs + " " + Native(a) + " " + Native(b) + " " + Native(soxOut);
    double tSox = Best(repeats, [&] { RunSox(cmd); });
    double tOurs = Best(repeats, [&] {
      try {
        RunOurs(a, b, ourOut, p.mode);
      } catch (const Exception& e) {
        std::fprintf(stderr, "ours failed: %s\n", e.what());
        std::exit(1);
      }
    });
    std::printf("%-16s %10.3f %10.3f %7.2fx   (sizes %lld / %lld)\n", p.name, tSox, tOurs, tSox / tOurs,
                (long long)FileSize(soxOut), (long long)FileSize(ourOut));
    std::fflush(stdout);
  }
  for (auto* f : {&a, &b, &soxOut, &ourOut}) DeleteFileW(f->c_str());
  RemoveDirectoryW(dir.c_str());
  AuClassesFinalize();
  ClasslibFinalize();
  return 0;
}
