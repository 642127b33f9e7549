// Timing and peer helpers shared by the benchmarks: a clock, the best of some repeats, a loud
// stop, and native peers run on our files.
#pragma once
#include "classlib/WinApi.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>

#include "common/Peer.h"

namespace bench {

// Seconds on the performance counter.
inline double Now() {
  LARGE_INTEGER f, c;
  QueryPerformanceFrequency(&f);
  QueryPerformanceCounter(&c);
  return (double)c.QuadPart / (double)f.QuadPart;
}

// The shortest of Repeats runs of Work, in seconds.
inline double Best(int Repeats, const std::function<void()>& Work) {
  double best = 1e30;
  for (int i = 0; i < Repeats; ++i) {
    double t0 = Now();
    Work();
    best = std::min(best, Now() - t0);
  }
  return best;
}

// Ends the benchmark, saying what failed.
[[noreturn]] inline void Fail(const std::string& What) {
  std::fprintf(stderr, "failed: %s\n", What.c_str());
  std::exit(1);
}

// Runs a native command; a non-zero exit ends the benchmark with the command and its errors.
inline void RunPeer(const std::string& Command, unsigned TimeoutSeconds) {
  peer::Result r = peer::Run(Command, TimeoutSeconds);
  if (r.exitCode != 0) Fail(Command + "\n" + r.err);
}

// A file of ours as a quoted native path, for a peer's command line.
inline std::string Native(const std::wstring& File) { return peer::NativeArg(File); }

}  // namespace bench
