// Musepack against Debian's mpcdec and mpcenc on the same file in the same run:
// decoding (TMPCIn -> TWaveOut) and encoding (TWaveIn -> TMPCOut).
//
//   wine mpc_bench.exe [minutes] [repeats]   (libmpdec.dll and libmppenc.dll beside it)
//
// Both sides run the same codec sources; the ratio (peer time / our time, above 1: we are faster)
// shows what our stream path and the DLL adapters cost on top of them. Best of the repeats.
#include "classlib/WinApi.h"

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>

#include "audio/engine/AuClasses.h"
#include "audio/formats/mpc/AuMPC.h"
#include "audio/formats/wave/AuWave.h"
#include "classlib/Forms.h"
#include "bench/BenchUtil.h"
#include "common/Peer.h"

namespace {

using bench::Best;
using bench::Native;
using bench::Now;

void RunPeerQuiet(const std::string& Command) { bench::RunPeer(Command + " 2>/dev/null", 3600); }

template <class In, class Out>
void RunOurs(const std::wstring& From, const std::wstring& To) {
  try {
    In in(nullptr);
    in.SetWideFileName(From);
    Out out(nullptr);
    out.SetInput(&in);
    out.SetWideFileName(To);
    out.BlockingRun();
  } catch (const Exception& e) {
    std::fprintf(stderr, "ours failed: %s\n", e.what());
    std::exit(1);
  }
}

}  // namespace

int main(int argc, char** argv) {
  ClasslibInitialize();
  AuClassesInitialize();
  int minutes = argc > 1 ? std::atoi(argv[1]) : 5;
  int repeats = argc > 2 ? std::atoi(argv[2]) : 3;
  if (minutes < 1) minutes = 1;
  if (repeats < 1) repeats = 1;

  wchar_t tmp[MAX_PATH];
  GetTempPathW(MAX_PATH, tmp);
  std::wstring dir = std::wstring(tmp) + L"mpc_bench";
  CreateDirectoryW(dir.c_str(), nullptr);
  std::wstring wav = dir + L"\\in.wav", mpc = dir + L"\\in.mpc", peerOut = dir + L"\\peer.wav",
               ourOut = dir + L"\\ours.wav", peerMpc = dir + L"\\peer.mpc", ourMpc = dir + L"\\ours.mpc";
  std::printf("Making a %d-minute 44100 Hz stereo source with sox and mpcenc...\n", minutes);
  RunPeerQuiet("sox -n -r 44100 -c 2 -b 16 " + Native(wav) + " synth " + std::to_string(minutes * 60) +
          " pinknoise vol 0.3");
  RunPeerQuiet("mpcenc --silent --overwrite " + Native(wav) + " " + Native(mpc));

  std::printf("%-10s %10s %10s %8s\n", "path", "peer s", "ours s", "ratio");
  double tPeer = Best(repeats, [&] { RunPeerQuiet("mpcdec " + Native(mpc) + " " + Native(peerOut)); });
  double tOurs = Best(repeats, [&] { RunOurs<TMPCIn, TWaveOut>(mpc, ourOut); });
  std::printf("%-10s %10.3f %10.3f %7.2fx\n", "decode", tPeer, tOurs, tPeer / tOurs);
  tPeer = Best(repeats, [&] { RunPeerQuiet("mpcenc --silent --overwrite " + Native(wav) + " " + Native(peerMpc)); });
  tOurs = Best(repeats, [&] { RunOurs<TWaveIn, TMPCOut>(wav, ourMpc); });
  std::printf("%-10s %10.3f %10.3f %7.2fx\n", "encode", tPeer, tOurs, tPeer / tOurs);

  for (const auto& f : {wav, mpc, peerOut, ourOut, peerMpc, ourMpc}) DeleteFileW(f.c_str());
  RemoveDirectoryW(dir.c_str());
  AuClassesFinalize();
  ClasslibFinalize();
  return 0;
}
