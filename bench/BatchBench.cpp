// A batch of WAVE files converted to FLAC and to MP3 through the conversion worker, beside a
// shell loop of the native command-line encoders over the same files, in the same run.
//
//   wine batch_bench.exe [files] [seconds per file] [repeats]
//
// Worker: one TSampleMorphThread per batch, format kept (no resampling), FLAC at the output's
// default settings and MP3 at 128 kbit/s stereo; the time runs from the start of the worker to
// the end of its last file on the bus. Native: "flac -5" and "lame -b 128 -m s" in a /bin/sh
// loop. Ratio = worker / native (below 1: the worker is faster). The best of the repeats counts.
#include "classlib/WinApi.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "audio/engine/AuClasses.h"
#include "classlib/Forms.h"
#include "common/Peer.h"
#include "tasks/AudioUnit.h"
#include "tasks/EventsManager.h"
#include "tasks/SampleMorphThread.h"
#include "unicode/UniClasses.h"
#include "unicode/UniSystem.h"
#include "unicode/UniSysUtils.h"

namespace {

double Now() {
  LARGE_INTEGER f, c;
  QueryPerformanceFrequency(&f);
  QueryPerformanceCounter(&c);
  return (double)c.QuadPart / (double)f.QuadPart;
}

[[noreturn]] void Fail(const std::string& What) {
  std::fprintf(stderr, "batch_bench: %s\n", What.c_str());
  std::exit(1);
}

std::string Native(const std::wstring& Name) { return peer::Quote(peer::UnixPath(Name)); }

void RunNative(const std::string& Command) {
  peer::Result r = peer::Run(Command, 3600);
  if (r.exitCode != 0) Fail(Command + "\n" + r.err);
}

// Runs one batch through the worker and serves this (the user-interface) thread until it ends;
// returns the seconds taken and fails when a file did not convert.
double RunWorker(const TUniStringList& Files, const TOutputParams& Params) {
  int ok = 0, failed = 0;
  bool ended = false;
  TEventSource source(nullptr);
  source.OnConvertFileDone = [&](TObject*, int, bool Succeeded) { ++(Succeeded ? ok : failed); };
  source.OnConvertFileError = [&](TObject*, int, int) { ++failed; };
  const double t0 = Now();
  auto* t = new TSampleMorphThread(Files, Params);
  t->OnTerminate = [&](TObject*) { ended = true; };
  t->Resume();
  while (!ended) {
    HANDLE h = static_cast<HANDLE>(SyncEvent());
    MsgWaitForMultipleObjectsEx(1, &h, INFINITE, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
    Application->ProcessMessages();
  }
  const double took = Now() - t0;
  if (failed || ok != Files.Count()) Fail("the worker did not convert every file");
  return took;
}

}  // namespace

int main(int argc, char** argv) {
  ClasslibInitialize();
  UniSysUtilsInitialize();
  UniSystemInitialize();
  EventsManagerInitialize();
  AuClassesInitialize();
  AudioUnitInitialize();
  const int files = argc > 1 ? std::max(1, std::atoi(argv[1])) : 20;
  const int seconds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 60;
  const int repeats = argc > 3 ? std::max(1, std::atoi(argv[3])) : 2;

  wchar_t tmp[MAX_PATH];
  GetTempPathW(MAX_PATH, tmp);
  const std::wstring dir = std::wstring(tmp) + L"batch_bench";
  const std::wstring out = dir + L"\\out";
  CreateDirectoryW(dir.c_str(), nullptr);
  std::printf("Making %d WAVE files of %d s (44100 Hz, 16-bit stereo) with sox...\n", files, seconds);
  TUniStringList list;
  std::string names;
  for (int i = 0; i < files; ++i) {
    const std::wstring f = dir + L"\\in" + std::to_wstring(i) + L".wav";
    RunNative("sox -R -n -r 44100 -c 2 -b 16 " + Native(f) + " synth " + std::to_string(seconds) + " sine " +
              std::to_string(200 + 20 * i) + "-" + std::to_string(900 + 30 * i) + " pinknoise vol 0.3");
    list.Add(f);
    names += " " + Native(f);
  }
  std::fflush(stdout);

  struct Row {
    const char* Name;
    uint8_t Format;
    std::string Native;
  } rows[] = {
      {"FLAC", ftFLAC, "for f in" + names + "; do flac -s -f -5 -o \"$0/$(basename \"$f\" .wav).flac\" \"$f\" || exit 1; done"},
      {"MP3", ftMP3, "for f in" + names + "; do lame --silent -b 128 -m s \"$f\" \"$0/$(basename \"$f\" .wav).mp3\" || exit 1; done"},
  };
  for (const Row& r : rows) {
    double worker = 1e30, native = 1e30;
    for (int k = 0; k < repeats; ++k) {
      RunNative("rm -rf " + Native(out) + " && mkdir -p " + Native(out));
      TOutputParams p;
      p.Format = r.Format;
      p.Quality = oqKeep;
      p.BitrateIndex = 9;  // 128 kbit/s
      p.OutputFolder = out + L"\\";
      worker = std::min(worker, RunWorker(list, p));
      RunNative("rm -rf " + Native(out) + " && mkdir -p " + Native(out));
      const double t0 = Now();
      RunNative("sh -c " + peer::Quote(r.Native) + " " + Native(out));
      native = std::min(native, Now() - t0);
    }
    std::printf("%-5s %d x %d s: worker %.2f s, native loop %.2f s, ratio %.2f\n", r.Name, files, seconds, worker,
                native, worker / native);
    std::fflush(stdout);
  }
  RunNative("rm -rf " + Native(dir));
  AudioUnitFinalize();
  AuClassesFinalize();
  EventsManagerFinalize();
  UniSystemFinalize();
  UniSysUtilsFinalize();
  ClasslibFinalize();
  return 0;
}
