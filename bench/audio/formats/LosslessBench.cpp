// WavPack and True Audio through our chain against a tight loop over the same DLL, beside the
// native peers (wavpack/wvunpack; ffmpeg for TTA), on the same 10-minute 44.1 kHz stereo WAV in
// the same run; then the memory of a 1-minute and a 60-minute encode and decode.
//
//   wine lossless_bench.exe [minutes] [repeats] [long-minutes]
//
// Chain: TWaveIn -> TWVOut / TTTAOut (encode) and TWVIn / TTTAIn -> TWaveOut (decode), run in
// this thread. Loop: the same library calls on 1024-frame blocks from and to files, with no
// framework around them. Overhead = chain / loop (target <= 1.05). The peers run natively.
// Memory: the process's peak commit after the short and after the long runs (flat when equal).
// Each figure is the best of the repeats, taken in turns.
#include "classlib/WinApi.h"

#include <psapi.h>
#include <wavpack/wavpack.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "audio/engine/AuClasses.h"
#include "audio/formats/tta/AuTTA.h"
#include "audio/formats/wavpack/AuWavPack.h"
#include "audio/formats/wave/AuWave.h"
#include "classlib/Forms.h"
#include "bench/BenchUtil.h"
#include "common/Peer.h"

namespace {

using bench::Best;
using bench::Fail;
using bench::Native;
using bench::Now;
using bench::RunPeer;

int64_t PeakCommit() {
  PROCESS_MEMORY_COUNTERS pmc{};
  pmc.cb = sizeof pmc;
  GetProcessMemoryInfo(GetCurrentProcess(), &pmc, sizeof pmc);
  return (int64_t)pmc.PeakPagefileUsage;
}

HMODULE LoadBeside(const wchar_t* Name) {
  wchar_t path[MAX_PATH];
  DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring p(path, n);
  p = p.substr(0, p.find_last_of(L"\\/") + 1) + Name;
  HMODULE h = LoadLibraryW(p.c_str());
  if (!h) Fail("cannot load the library beside the benchmark");
  return h;
}

template <class F>
F Get(HMODULE H, const char* Name) {
  F f = reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(H, Name)));
  if (!f) Fail(std::string("missing ") + Name);
  return f;
}

// The PCM of a 16-bit stereo WAVE file, read block by block.
struct WavReader {
  HANDLE h;
  int64_t left;
  explicit WavReader(const std::wstring& Name) {
    TAuFileStream s(Name, 0x20);
    TWaveHeader hd;
    if (!ScanWaveHeader(&s, hd, false) || hd.BitsPerSample != 16 || hd.Channels != 2) Fail("source header");
    h = CreateFileW(Name.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    LARGE_INTEGER p;
    p.QuadPart = hd.DataOffset;
    SetFilePointerEx(h, p, nullptr, FILE_BEGIN);
    left = hd.DataSize;
  }
  ~WavReader() { CloseHandle(h); }
  uint32_t Read(void* Buf, uint32_t Bytes) {
    if (left <= 0) return 0;
    DWORD got = 0;
    ReadFile(h, Buf, (DWORD)std::min<int64_t>(Bytes, left), &got, nullptr);
    left -= got;
    return got;
  }
};

HANDLE CreateOut(const std::wstring& Name) {
  HANDLE h = CreateFileW(Name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (h == INVALID_HANDLE_VALUE) Fail("cannot create an output");
  return h;
}

void WriteAll(HANDLE h, const void* p, uint32_t n) {
  DWORD put = 0;
  if (!WriteFile(h, p, n, &put, nullptr) || put != n) Fail("write");
}

// --- WavPack, straight on the library --------------------------------------------------------

struct WvLib {
  HMODULE h = LoadBeside(L"WavpackDLL.dll");
  decltype(&WavpackOpenFileOutput) OpenOut = Get<decltype(&WavpackOpenFileOutput)>(h, "WavpackOpenFileOutput");
  decltype(&WavpackSetConfiguration) SetConfig = Get<decltype(&WavpackSetConfiguration)>(h, "WavpackSetConfiguration");
  decltype(&WavpackPackInit) PackInit = Get<decltype(&WavpackPackInit)>(h, "WavpackPackInit");
  decltype(&WavpackPackSamples) Pack = Get<decltype(&WavpackPackSamples)>(h, "WavpackPackSamples");
  decltype(&WavpackFlushSamples) FlushSamples = Get<decltype(&WavpackFlushSamples)>(h, "WavpackFlushSamples");
  decltype(&WavpackCloseFile) Close = Get<decltype(&WavpackCloseFile)>(h, "WavpackCloseFile");
  decltype(&WavpackOpenFileInputEx) OpenIn = Get<decltype(&WavpackOpenFileInputEx)>(h, "WavpackOpenFileInputEx");
  decltype(&WavpackUnpackSamples) Unpack = Get<decltype(&WavpackUnpackSamples)>(h, "WavpackUnpackSamples");
};

int BlockToHandle(void* id, void* data, int32_t n) {
  DWORD put = 0;
  return WriteFile((HANDLE)id, data, (DWORD)n, &put, nullptr) && put == (DWORD)n;
}

int32_t HRead(void* id, void* data, int32_t n) {
  DWORD got = 0;
  return ReadFile((HANDLE)id, data, (DWORD)n, &got, nullptr) ? (int32_t)got : -1;
}
uint32_t HGetPos(void* id) { return SetFilePointer((HANDLE)id, 0, nullptr, FILE_CURRENT); }
int HSetAbs(void* id, uint32_t pos) { return SetFilePointer((HANDLE)id, (LONG)pos, nullptr, FILE_BEGIN) == INVALID_SET_FILE_POINTER; }
int HSetRel(void* id, int32_t d, int mode) {
  return SetFilePointer((HANDLE)id, d, nullptr, mode == SEEK_CUR ? FILE_CURRENT : mode == SEEK_END ? FILE_END : FILE_BEGIN) ==
         INVALID_SET_FILE_POINTER;
}
int HPushBack(void* id, int c) {
  SetFilePointer((HANDLE)id, -1, nullptr, FILE_CURRENT);
  return c;
}
uint32_t HLength(void* id) { return GetFileSize((HANDLE)id, nullptr); }
int HCanSeek(void*) { return 1; }
int32_t HWrite(void*, void*, int32_t) { return -1; }

void WvEncodeLoop(WvLib& L, const std::wstring& In, const std::wstring& Out) {
  WavReader r(In);
  HANDLE out = CreateOut(Out);
  WavpackContext* c = L.OpenOut(BlockToHandle, out, nullptr);
  WavpackConfig cfg{};
  cfg.bits_per_sample = 16;
  cfg.bytes_per_sample = 2;
  cfg.num_channels = 2;
  cfg.channel_mask = 3;
  cfg.sample_rate = 44100;
  cfg.flags = 0x200;
  if (!L.SetConfig(c, &cfg, (uint32_t)(r.left / 4)) || !L.PackInit(c)) Fail("wavpack init");
  std::vector<int16_t> pcm(2048);
  std::vector<int32_t> s(2048);
  uint32_t n;
  while ((n = r.Read(pcm.data(), 4096)) > 0) {
    for (uint32_t i = 0; i < n / 2; ++i) s[i] = pcm[i];
    if (!L.Pack(c, s.data(), n / 4)) Fail("pack");
  }
  if (!L.FlushSamples(c)) Fail("flush");
  L.Close(c);
  CloseHandle(out);
}

void WvDecodeLoop(WvLib& L, const std::wstring& In, const std::wstring& Out) {
  HANDLE in = CreateFileW(In.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  WavpackStreamReader rd = {HRead, HGetPos, HSetAbs, HSetRel, HPushBack, HLength, HCanSeek, HWrite};
  char err[256];
  WavpackContext* c = L.OpenIn(&rd, in, nullptr, err, 2, 0);
  if (!c) Fail(err);
  HANDLE out = CreateOut(Out);
  std::vector<int32_t> s(2048);
  std::vector<int16_t> pcm(2048);
  uint32_t got;
  while ((got = L.Unpack(c, s.data(), 1024)) > 0) {
    for (uint32_t i = 0; i < got * 2; ++i) pcm[i] = (int16_t)s[i];
    WriteAll(out, pcm.data(), got * 4);
  }
  L.Close(c);
  CloseHandle(in);
  CloseHandle(out);
}

// --- TTA, straight on our library ------------------------------------------------------------

struct TtaLib {
  HMODULE h = LoadBeside(L"TTALib.dll");
  using EncCreate = void*(__cdecl*)(void*, int, int, int, int, int, uint32_t, char*, int);
  using EncCompress = int(__cdecl*)(void*, const void*, int);
  using EncDestroy = int(__cdecl*)(void*, char*, int);
  using DecCreate = void*(__cdecl*)(void*, char*, int);
  using DecBlock = int(__cdecl*)(void*, void**);
  using DecDestroy = void(__cdecl*)(void*);
  EncCreate ECreate = Get<EncCreate>(h, "TTAEncoder_Create");
  EncCompress ECompress = Get<EncCompress>(h, "TTAEncoder_CompressBlock");
  EncDestroy EDestroy = Get<EncDestroy>(h, "TTAEncoder_Destroy");
  DecCreate DCreate = Get<DecCreate>(h, "TTADecoder_Create");
  DecBlock DBlock = Get<DecBlock>(h, "TTADecoder_GetBlock");
  DecDestroy DDestroy = Get<DecDestroy>(h, "TTADecoder_Destroy");
};

void TtaEncodeLoop(TtaLib& L, const std::wstring& In, const std::wstring& Out) {
  WavReader r(In);
  HANDLE out = CreateOut(Out);
  char err[256];
  void* e = L.ECreate(out, 0, 1, 2, 16, 44100, (uint32_t)(r.left / 4), err, sizeof err);
  if (!e) Fail(err);
  std::vector<int16_t> pcm(2048);
  std::vector<int32_t> s(2048);
  uint32_t n;
  while ((n = r.Read(pcm.data(), 4096)) > 0) {
    for (uint32_t i = 0; i < n / 2; ++i) s[i] = pcm[i];
    if (!L.ECompress(e, s.data(), (int)(n / 4))) Fail("compress");
  }
  if (!L.EDestroy(e, err, sizeof err)) Fail(err);
  CloseHandle(out);
}

void TtaDecodeLoop(TtaLib& L, const std::wstring& In, const std::wstring& Out) {
  HANDLE in = CreateFileW(In.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  char err[256];
  void* d = L.DCreate(in, err, sizeof err);
  if (!d) Fail(err);
  HANDLE out = CreateOut(Out);
  std::vector<int16_t> pcm;
  void* buf;
  int got;
  while ((got = L.DBlock(d, &buf)) > 0) {
    pcm.resize((size_t)got * 2);
    const int32_t* s = static_cast<const int32_t*>(buf);
    for (int i = 0; i < got * 2; ++i) pcm[i] = (int16_t)s[i];
    WriteAll(out, pcm.data(), (uint32_t)got * 4);
  }
  if (got < 0) Fail("decode");
  L.DDestroy(d);
  CloseHandle(in);
  CloseHandle(out);
}

// --- Our chain -------------------------------------------------------------------------------

void ChainEncode(bool Tta, const std::wstring& In, const std::wstring& Out) {
  TWaveIn src(nullptr);
  src.SetWideFileName(In);
  TTTAOut tta(nullptr);
  TWVOut wv(nullptr);
  TAuFileOut* out = Tta ? (TAuFileOut*)&tta : (TAuFileOut*)&wv;
  out->SetInput(&src);
  out->SetWideFileName(Out);
  out->BlockingRun();
}

void ChainDecode(bool Tta, const std::wstring& In, const std::wstring& Out) {
  TTTAIn tta(nullptr);
  TWVIn wv(nullptr);
  TAuFileIn* src = Tta ? (TAuFileIn*)&tta : (TAuFileIn*)&wv;
  src->SetWideFileName(In);
  TWaveOut out(nullptr);
  out.SetInput(src);
  out.SetWideFileName(Out);
  out.BlockingRun();
}

void Guard(const std::function<void()>& F) {
  try {
    F();
  } catch (const Exception& e) {
    Fail(e.what());
  }
}

}  // namespace

int main(int argc, char** argv) {
  ClasslibInitialize();
  AuClassesInitialize();
  int minutes = argc > 1 ? std::max(1, std::atoi(argv[1])) : 10;
  int repeats = argc > 2 ? std::max(1, std::atoi(argv[2])) : 3;
  int longMinutes = argc > 3 ? std::max(1, std::atoi(argv[3])) : 60;

  wchar_t tmp[MAX_PATH];
  GetTempPathW(MAX_PATH, tmp);
  const std::wstring dir = std::wstring(tmp) + L"lossless_bench";
  CreateDirectoryW(dir.c_str(), nullptr);
  const std::wstring src = dir + L"\\src.wav", enc = dir + L"\\enc", dec = dir + L"\\dec.wav";
  auto makeSource = [&](int Minutes) {
    RunPeer("sox -n -r 44100 -c 2 -b 16 " + Native(src) + " synth " + std::to_string(Minutes * 60) +
            " sine 440 pinknoise vol 0.5", 3600);
  };
  std::printf("%d-minute 44100 Hz 16-bit stereo source (a sine and pink noise), best of %d\n", minutes, repeats);
  makeSource(minutes);
  if (!LoadWavpackLib() || !LoadTTALib()) Fail("codec libraries");
  WvLib wvl;
  TtaLib ttl;

  struct Row {
    const char* name;
    std::function<void()> chain, loop;
    std::string peer;
  };
  const std::wstring wvFile = enc + L".wv", ttaFile = enc + L".tta";
  const std::wstring wvLoop = enc + L"_loop.wv", ttaLoop = enc + L"_loop.tta";
  Row rows[] = {
      {"WavPack encode", [&] { ChainEncode(false, src, wvFile); }, [&] { WvEncodeLoop(wvl, src, wvLoop); },
       "wavpack -f -q -y " + Native(src) + " -o " + Native(dir + L"\\peer.wv")},
      {"WavPack decode", [&] { ChainDecode(false, wvFile, dec); }, [&] { WvDecodeLoop(wvl, wvFile, dec); },
       "wvunpack -q -y " + Native(wvFile) + " -o " + Native(dir + L"\\peer.wav")},
      {"TTA encode", [&] { ChainEncode(true, src, ttaFile); }, [&] { TtaEncodeLoop(ttl, src, ttaLoop); },
       "ffmpeg -nostdin -v error -y -i " + Native(src) + " -c:a tta " + Native(dir + L"\\peer.tta")},
      {"TTA decode", [&] { ChainDecode(true, ttaFile, dec); }, [&] { TtaDecodeLoop(ttl, ttaFile, dec); },
       "ffmpeg -nostdin -v error -y -i " + Native(ttaFile) + " " + Native(dir + L"\\peer.wav")},
  };
  std::printf("%-16s %9s %9s %9s %10s %9s\n", "", "chain s", "loop s", "peer s", "overhead", "peer/ours");
  for (auto& r : rows) {
    // Interleaved, so that a change in the machine's load touches all three alike.
    double tChain = 1e30, tLoop = 1e30, tPeer = 1e30;
    for (int i = 0; i < repeats; ++i) {
      tChain = std::min(tChain, Best(1, [&] { Guard(r.chain); }));
      tLoop = std::min(tLoop, Best(1, [&] { Guard(r.loop); }));
      tPeer = std::min(tPeer, Best(1, [&] { RunPeer(r.peer, 3600); }));
    }
    std::printf("%-16s %9.3f %9.3f %9.3f %9.3fx %8.2fx\n", r.name, tChain, tLoop, tPeer, tChain / tLoop, tPeer / tChain);
    std::fflush(stdout);
  }
  WIN32_FILE_ATTRIBUTE_DATA a{}, b{}, c{};
  GetFileAttributesExW(src.c_str(), GetFileExInfoStandard, &a);
  GetFileAttributesExW(wvFile.c_str(), GetFileExInfoStandard, &b);
  GetFileAttributesExW(ttaFile.c_str(), GetFileExInfoStandard, &c);
  std::printf("sizes: source %lu, WavPack %lu (%.1f%%), TTA %lu (%.1f%%)\n", a.nFileSizeLow, b.nFileSizeLow,
              100.0 * b.nFileSizeLow / a.nFileSizeLow, c.nFileSizeLow, 100.0 * c.nFileSizeLow / a.nFileSizeLow);

  // Memory: peak commit after a 1-minute and after a long encode and decode through the chain.
  auto both = [&] {
    Guard([&] { ChainEncode(false, src, wvFile); });
    Guard([&] { ChainDecode(false, wvFile, dec); });
    Guard([&] { ChainEncode(true, src, ttaFile); });
    Guard([&] { ChainDecode(true, ttaFile, dec); });
  };
  makeSource(1);
  both();
  const int64_t shortPeak = PeakCommit();
  makeSource(longMinutes);
  both();
  const int64_t longPeak = PeakCommit();
  std::printf("peak commit: %.1f MiB after 1 minute, %.1f MiB after %d minutes\n", shortPeak / 1048576.0,
              longPeak / 1048576.0, longMinutes);

  for (const std::wstring& f : {src, dec, wvFile, ttaFile, wvLoop, ttaLoop, dir + L"\\peer.wv", dir + L"\\peer.wav",
                                dir + L"\\peer.tta"})
    DeleteFileW(f.c_str());
  RemoveDirectoryW(dir.c_str());
  AuClassesFinalize();
  ClasslibFinalize();
  return 0;
}
