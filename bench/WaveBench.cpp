// WAVE to WAVE against sox on the same 10-minute files in the same run: a 16-bit stereo copy,
// 24 to 16 bits, stereo to mono and 44100 to 48000 Hz.
//
//   wine wave_bench.exe [minutes] [repeats]
//
// Each path is timed from opening the source to closing the written file, best of the repeats.
// sox runs natively (started from here) without dither, so that both do the same work; ours
// runs TWaveIn -> converters -> TWaveOut in this thread. Ratio = sox time / our time (above 1:
// we are faster).
#include "classlib/WinApi.h"

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>

#include "audio/AuClasses.h"
#include "audio/AuConverters.h"
#include "audio/AuWave.h"
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

// Source -> (converter) -> WAVE file, in this thread.
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
  std::wstring dir = std::wstring(tmp) + L"wave_bench";
  CreateDirectoryW(dir.c_str(), nullptr);
  std::wstring in16 = dir + L"\\in16.wav", in24 = dir + L"\\in24.wav";
  std::wstring soxOut = dir + L"\\sox.wav", ourOut = dir + L"\\ours.wav";
  std::string secs = std::to_string(minutes * 60);
  std::printf("Making %d-minute 44100 Hz stereo sources with sox...\n", minutes);
  RunSox("sox -n -r 44100 -c 2 -b 16 " + Native(in16) + " synth " + secs + " sine 440 sine 660 vol 0.5");
  RunSox("sox -n -r 44100 -c 2 -b 24 " + Native(in24) + " synth " + secs + " sine 440 sine 660 vol 0.5");

  struct Path {
    const char* name;
    std::wstring in;
    std::string soxArgs;  // between the input and the output
    int bits, ch, rate;
    double target;
  } paths[] = {
      {"16-bit stereo copy", in16, "", 0, 0, 0, 1.0},
      {"24 -> 16 bit", in24, "-b 16", 16, 0, 0, 1.0},
      {"stereo -> mono", in16, "-c 1", 0, 1, 0, 1.0},
      {"44100 -> 48000 Hz", in16, "-r 48000", 0, 0, 48000, 2.0},
  };
  std::printf("%-20s %10s %10s %8s %8s\n", "path", "sox s", "ours s", "ratio", "target");
  bool all = true;
  for (auto& p : paths) {
    std::string cmd = "sox -D " + Native(p.in) + " " + p.soxArgs + " " + Native(soxOut);
    double tSox = Best(repeats, [&] { RunSox(cmd); });
    double tOurs = Best(repeats, [&] {
      try {
        RunOurs(p.in, ourOut, p.bits, p.ch, p.rate);
      } catch (const Exception& e) {
        std::fprintf(stderr, "ours failed: %s\n", e.what());
        std::exit(1);
      }
    });
    double ratio = tSox / tOurs;
    all = all && ratio >= p.target;
    std::printf("%-20s %10.3f %10.3f %7.2fx %7.1fx   (sizes %lld / %lld)\n", p.name, tSox, tOurs, ratio, p.target,
                (long long)FileSize(soxOut), (long long)FileSize(ourOut));
    std::fflush(stdout);
  }
  DeleteFileW(in16.c_str());
  DeleteFileW(in24.c_str());
  DeleteFileW(soxOut.c_str());
  DeleteFileW(ourOut.c_str());
  RemoveDirectoryW(dir.c_str());
  std::printf(all ? "All targets met.\n" : "Some targets missed.\n");
  AuClassesFinalize();
  ClasslibFinalize();
  return 0;
}
