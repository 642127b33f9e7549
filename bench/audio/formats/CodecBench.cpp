// FLAC, MP3 and Ogg Vorbis through our chain against a tight loop that calls the same DLL
// directly, beside the native command-line tools, on one WAVE file in the same run; then the
// memory a run takes for a short and a long file.
//
//   wine codec_bench.exe [minutes] [repeats] [long minutes]
//
// Chain: TWaveIn -> TFLACOut / TMP3Out / TVorbisOut, and TFLACIn / TVorbisIn -> an output that
// drops the data, in this thread (BlockingRun). Direct: the same settings driven by a plain loop
// over the same file with file reads (and, encoding, writes) and nothing else. Overhead = chain / direct (target
// at most 1.05). The native tools (flac, lame, oggenc, oggdec) run natively with comparable
// settings and are shown for scale. Memory: the growth of the process's private bytes during a
// run, sampled every 5 ms, for a 1-minute and a long file.
#include "classlib/WinApi.h"

#include <psapi.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "audio/engine/AuClasses.h"
#include "audio/formats/flac/AuFLAC.h"
#include "audio/formats/mp3/AuLAME.h"
#include "audio/formats/vorbis/AuVorbis.h"
#include "audio/formats/wave/AuWave.h"
#include "audio/formats/vorbis/Codec.h"
#include "audio/formats/flac/FLAC.h"
#include "audio/formats/vorbis/VorbisEnc.h"
#include "audio/formats/vorbis/VorbisFile.h"
#include "audio/formats/mp3/lame.h"
#include "audio/formats/vorbis/ogg.h"
#include "classlib/Forms.h"
#include "bench/BenchUtil.h"
#include "common/Peer.h"

namespace {

using bench::Best;
using bench::Fail;
using bench::Native;
using bench::Now;
using bench::RunPeer;

// Plain file access for the direct loops.
struct File {
  HANDLE H = INVALID_HANDLE_VALUE;
  File(const std::wstring& Name, bool Write) {
    H = CreateFileW(Name.c_str(), Write ? GENERIC_READ | GENERIC_WRITE : GENERIC_READ, FILE_SHARE_READ, nullptr,
                    Write ? CREATE_ALWAYS : OPEN_EXISTING, 0, nullptr);
    if (H == INVALID_HANDLE_VALUE) Fail("open");
  }
  ~File() { CloseHandle(H); }
  uint32_t Read(void* B, uint32_t N) {
    DWORD got = 0;
    ReadFile(H, B, N, &got, nullptr);
    return got;
  }
  void Write(const void* B, uint32_t N) {
    DWORD put = 0;
    if (!WriteFile(H, B, N, &put, nullptr) || put != N) Fail("write");
  }
  int64_t Seek(int64_t Off, DWORD From) {
    LARGE_INTEGER d, r;
    d.QuadPart = Off;
    if (!SetFilePointerEx(H, d, &r, From)) return -1;
    return r.QuadPart;
  }
  int64_t Size() {
    LARGE_INTEGER s;
    GetFileSizeEx(H, &s);
    return s.QuadPart;
  }
};

// The WAVE's data window.
void DataWindow(const std::wstring& Wav, int64_t& Offset, int64_t& Bytes) {
  TAuFileStream s(Wav, 0x20);
  TWaveHeader h;
  if (!ScanWaveHeader(&s, h, false)) Fail("wave header");
  Offset = h.DataOffset;
  Bytes = std::min<int64_t>(h.DataSize, s.Size() - h.DataOffset);
}

// ---------------------------------------------------------------------------------------------
// Our chains

void OursEncode(TAuFileOut& Out, const std::wstring& Wav, const std::wstring& Dest) {
  TWaveIn in(nullptr);
  in.SetWideFileName(Wav);
  Out.SetInput(&in);
  Out.SetWideFileName(Dest);
  Out.BlockingRun();
  Out.SetInput(nullptr);
}

// An output that pulls and drops the data: decoding is timed without a writer.
class TNullOut : public TAuOutput {
 public:
  TNullOut() : TAuOutput(nullptr) {}
  ~TNullOut() override { Shutdown(); }

 protected:
  void Prepare() override { Input()->Init(); }
  bool DoOutput(bool Abort) override {
    if (Abort) return false;
    void* p = nullptr;
    uint32_t n = 16384;
    Input()->GetData(p, n);
    return n > 0;
  }
  void Done() override { Input()->Flush(); }
};

void OursDecode(TAuFileIn& In, const std::wstring& Src) {
  In.SetWideFileName(Src);
  TNullOut out;
  out.SetInput(&In);
  out.BlockingRun();
}

// ---------------------------------------------------------------------------------------------
// Direct loops

constexpr uint32_t Chunk = 4096;  // frames per read

FLAC__StreamEncoderWriteStatus EncWrite(const FLAC__StreamEncoder*, const FLAC__byte B[], size_t N, uint32_t,
                                        uint32_t, void* C) {
  static_cast<File*>(C)->Write(B, (uint32_t)N);
  return FLAC__STREAM_ENCODER_WRITE_STATUS_OK;
}
FLAC__StreamEncoderSeekStatus EncSeek(const FLAC__StreamEncoder*, FLAC__uint64 O, void* C) {
  return static_cast<File*>(C)->Seek((int64_t)O, FILE_BEGIN) < 0 ? FLAC__STREAM_ENCODER_SEEK_STATUS_ERROR
                                                                  : FLAC__STREAM_ENCODER_SEEK_STATUS_OK;
}
FLAC__StreamEncoderTellStatus EncTell(const FLAC__StreamEncoder*, FLAC__uint64* O, void* C) {
  *O = (FLAC__uint64)static_cast<File*>(C)->Seek(0, FILE_CURRENT);
  return FLAC__STREAM_ENCODER_TELL_STATUS_OK;
}

void DirectFlacEncode(const std::wstring& Wav, const std::wstring& Dest) {
  int64_t off, bytes;
  DataWindow(Wav, off, bytes);
  File in(Wav, false), out(Dest, true);
  in.Seek(off, FILE_BEGIN);
  auto& F = flac::Entries;
  FLAC__StreamEncoder* e = F.FLAC__stream_encoder_new();
  F.FLAC__stream_encoder_set_channels(e, 2);
  F.FLAC__stream_encoder_set_bits_per_sample(e, 16);
  F.FLAC__stream_encoder_set_sample_rate(e, 44100);
  F.FLAC__stream_encoder_set_compression_level(e, 5);
  F.FLAC__stream_encoder_set_total_samples_estimate(e, (FLAC__uint64)(bytes / 4));
  if (F.FLAC__stream_encoder_init_stream(e, EncWrite, EncSeek, EncTell, nullptr, &out) != 0) Fail("flac init");
  std::vector<int16_t> pcm(Chunk * 2);
  std::vector<int32_t> s(Chunk * 2);
  for (int64_t left = bytes; left > 0;) {
    uint32_t n = in.Read(pcm.data(), (uint32_t)std::min<int64_t>(left, Chunk * 4));
    if (n < 4) break;
    left -= n;
    for (uint32_t i = 0; i < n / 2; ++i) s[i] = pcm[i];
    F.FLAC__stream_encoder_process_interleaved(e, s.data(), n / 4);
  }
  F.FLAC__stream_encoder_finish(e);
  F.FLAC__stream_encoder_delete(e);
}

struct DecodeCtx {
  File* In;
  std::vector<uint8_t> Buf;
};
FLAC__StreamDecoderReadStatus DecRead(const FLAC__StreamDecoder*, FLAC__byte B[], size_t* N, void* C) {
  *N = static_cast<DecodeCtx*>(C)->In->Read(B, (uint32_t)*N);
  return *N ? FLAC__STREAM_DECODER_READ_STATUS_CONTINUE : FLAC__STREAM_DECODER_READ_STATUS_END_OF_STREAM;
}
FLAC__StreamDecoderWriteStatus DecWrite(const FLAC__StreamDecoder*, const FLAC__Frame* Fr, const FLAC__int32* const B[],
                                        void* C) {
  auto* c = static_cast<DecodeCtx*>(C);
  uint32_t n = Fr->header.blocksize;
  c->Buf.resize((size_t)n * 4);
  auto* d = reinterpret_cast<int16_t*>(c->Buf.data());
  for (uint32_t i = 0; i < n; ++i) {
    d[2 * i] = (int16_t)B[0][i];
    d[2 * i + 1] = (int16_t)B[1][i];
  }
  return FLAC__STREAM_DECODER_WRITE_STATUS_CONTINUE;
}
void DecError(const FLAC__StreamDecoder*, FLAC__StreamDecoderErrorStatus, void*) {}

void DirectFlacDecode(const std::wstring& Src) {
  File in(Src, false);
  DecodeCtx c{&in, {}};
  auto& F = flac::Entries;
  FLAC__StreamDecoder* d = F.FLAC__stream_decoder_new();
  if (F.FLAC__stream_decoder_init_stream(d, DecRead, nullptr, nullptr, nullptr, nullptr, DecWrite, nullptr, DecError,
                                         &c) != 0)
    Fail("flac decoder");
  while (F.FLAC__stream_decoder_get_state(d) < FLAC__STREAM_DECODER_END_OF_STREAM)
    if (!F.FLAC__stream_decoder_process_single(d)) break;
  F.FLAC__stream_decoder_finish(d);
  F.FLAC__stream_decoder_delete(d);
}

void DirectMp3Encode(const std::wstring& Wav, const std::wstring& Dest) {
  int64_t off, bytes;
  DataWindow(Wav, off, bytes);
  File in(Wav, false), out(Dest, true);
  in.Seek(off, FILE_BEGIN);
  TMP3Out cfg(nullptr);  // the same configuration record
  std::vector<uint8_t> rec = cfg.BuildConfig(2, 44100);
  uint32_t samples = 0, outSize = 0;
  void* h = nullptr;
  if (lame::Entries.beInitStream(rec.data(), &samples, &outSize, &h) != 0) Fail("lame init");
  std::vector<int16_t> pcm(samples);
  std::vector<uint8_t> mp3(outSize);
  for (int64_t left = bytes; left > 0;) {
    uint32_t n = in.Read(pcm.data(), (uint32_t)std::min<int64_t>(left, samples * 2));
    if (n < 4) break;
    left -= n;
    uint32_t got = 0;
    lame::Entries.beEncodeChunk(h, n / 2, pcm.data(), mp3.data(), &got);
    out.Write(mp3.data(), got);
  }
  uint32_t got = 0;
  lame::Entries.beDeinitStream(h, mp3.data(), &got);
  out.Write(mp3.data(), got);
  lame::Entries.beCloseStream(h);
}

void DirectVorbisEncode(const std::wstring& Wav, const std::wstring& Dest) {
  int64_t off, bytes;
  DataWindow(Wav, off, bytes);
  File in(Wav, false), out(Dest, true);
  in.Seek(off, FILE_BEGIN);
  auto& V = codec::Entries;
  auto& O = ogg::Entries;
  vorbis_info vi;
  vorbis_comment vc;
  vorbis_dsp_state vd;
  vorbis_block vb;
  ogg_stream_state os;
  ogg_page og;
  ogg_packet op, h1, h2, h3;
  V.vorbis_info_init(&vi);
  vorbisenc::Entries.vorbis_encode_setup_vbr(&vi, 2, 44100, 0.2f);
  vorbisenc::Entries.vorbis_encode_setup_init(&vi);
  V.vorbis_comment_init(&vc);
  V.vorbis_analysis_init(&vd, &vi);
  V.vorbis_block_init(&vd, &vb);
  O.ogg_stream_init(&os, 0);
  V.vorbis_analysis_headerout(&vd, &vc, &h1, &h2, &h3);
  O.ogg_stream_packetin(&os, &h1);
  O.ogg_stream_packetin(&os, &h2);
  O.ogg_stream_packetin(&os, &h3);
  while (O.ogg_stream_flush(&os, &og)) {
    out.Write(og.header, og.header_len);
    out.Write(og.body, og.body_len);
  }
  std::vector<int16_t> pcm(Chunk * 2);
  bool eos = false;
  int64_t left = bytes;
  while (!eos) {
    uint32_t n = left > 0 ? in.Read(pcm.data(), (uint32_t)std::min<int64_t>(left, Chunk * 4)) : 0;
    left -= n;
    uint32_t frames = n / 4;
    float** b = V.vorbis_analysis_buffer(&vd, Chunk);
    for (uint32_t i = 0; i < frames; ++i) {
      b[0][i] = pcm[2 * i] / 32768.0f;
      b[1][i] = pcm[2 * i + 1] / 32768.0f;
    }
    V.vorbis_analysis_wrote(&vd, (int)frames);
    while (V.vorbis_analysis_blockout(&vd, &vb) == 1) {
      V.vorbis_analysis(&vb, nullptr);
      V.vorbis_bitrate_addblock(&vb);
      while (V.vorbis_bitrate_flushpacket(&vd, &op)) {
        O.ogg_stream_packetin(&os, &op);
        while (O.ogg_stream_pageout(&os, &og)) {
          out.Write(og.header, og.header_len);
          out.Write(og.body, og.body_len);
          if (O.ogg_page_eos(&og)) eos = true;
        }
      }
    }
  }
  O.ogg_stream_clear(&os);
  V.vorbis_block_clear(&vb);
  V.vorbis_dsp_clear(&vd);
  V.vorbis_comment_clear(&vc);
  V.vorbis_info_clear(&vi);
}

size_t OvRead(void* P, size_t S, size_t N, void* C) { return static_cast<File*>(C)->Read(P, (uint32_t)(S * N)) / S; }
int OvSeek(void* C, ogg_int64_t O, int W) {
  return static_cast<File*>(C)->Seek(O, W == 1 ? FILE_CURRENT : W == 2 ? FILE_END : FILE_BEGIN) < 0 ? -1 : 0;
}
long OvTell(void* C) { return (long)static_cast<File*>(C)->Seek(0, FILE_CURRENT); }

void DirectVorbisDecode(const std::wstring& Src) {
  File in(Src, false);
  OggVorbis_File vf;
  ov_callbacks cb = {OvRead, OvSeek, nullptr, OvTell};
  auto& F = vorbisfile::Entries;
  if (F.ov_test_callbacks(&in, &vf, nullptr, 0, cb) != 0 || F.ov_test_open(&vf) != 0) Fail("vorbisfile");
  std::vector<char> buf(12288);
  int section = 0;
  for (;;) {
    long r = F.ov_read(&vf, buf.data(), (int)buf.size(), 0, 2, 1, &section);
    if (r <= 0) break;
  }
  F.ov_clear(&vf);
}

// ---------------------------------------------------------------------------------------------
// Memory

int64_t PrivateBytes() {
  PROCESS_MEMORY_COUNTERS_EX m = {};
  m.cb = sizeof m;
  GetProcessMemoryInfo(GetCurrentProcess(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&m), sizeof m);
  return (int64_t)(m.PrivateUsage ? m.PrivateUsage : m.PagefileUsage);
}

// The most the private bytes grew while Work ran, in KiB.
int64_t Growth(const std::function<void()>& Work) {
  const int64_t base = PrivateBytes();
  std::atomic<int64_t> peak{base};
  HANDLE stop = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  std::thread sampler([&] {
    while (WaitForSingleObject(stop, 5) == WAIT_TIMEOUT) peak = std::max<int64_t>(peak, PrivateBytes());
  });
  Work();
  SetEvent(stop);
  sampler.join();
  CloseHandle(stop);
  return (std::max<int64_t>(peak, PrivateBytes()) - base) / 1024;
}

}  // namespace

int main(int argc, char** argv) {
  ClasslibInitialize();
  AuClassesInitialize();
  int minutes = argc > 1 ? std::max(1, std::atoi(argv[1])) : 10;
  int repeats = argc > 2 ? std::max(1, std::atoi(argv[2])) : 3;
  int longMinutes = argc > 3 ? std::max(1, std::atoi(argv[3])) : 60;
  if (!flac::Load() || !lame::Load()) Fail("codec libraries");
  LoadVorbisLibraries();

  wchar_t tmp[MAX_PATH];
  GetTempPathW(MAX_PATH, tmp);
  std::wstring dir = std::wstring(tmp) + L"codec_bench";
  CreateDirectoryW(dir.c_str(), nullptr);
  auto F = [&](const wchar_t* n) { return dir + L"\\" + n; };
  const std::wstring wav = F(L"in.wav");
  auto makeWav = [&](const std::wstring& Name, int Minutes) {
    RunPeer("sox -R -n -r 44100 -c 2 -b 16 " + Native(Name) + " synth " + std::to_string(Minutes * 60) +
              " sine 220-880 sine 330-1320 pinknoise vol 0.3", 7200);
  };
  std::printf("Making a %d-minute 44100 Hz 16-bit stereo WAVE with sox...\n", minutes);
  makeWav(wav, minutes);

  TFLACOut flacOut(nullptr);
  flacOut.SetCompressionLevel(5);
  TMP3Out mp3Out(nullptr);
  TVorbisOut vorbisOut(nullptr);
  // The outputs keep their Tags between runs except Vorbis, which clears its comments: none set.

  struct Row {
    const char* name;
    std::function<void()> ours, direct;
    std::string native;
  } rows[] = {
      {"FLAC encode", [&] { OursEncode(flacOut, wav, F(L"o.flac")); }, [&] { DirectFlacEncode(wav, F(L"d.flac")); },
       "flac -s -f -5 -o " + Native(F(L"n.flac")) + " " + Native(wav)},
      {"FLAC decode",
       [&] {
         TFLACIn in(nullptr);
         OursDecode(in, F(L"o.flac"));
       },
       [&] { DirectFlacDecode(F(L"o.flac")); }, "flac -s -d -c " + Native(F(L"o.flac")) + " >/dev/null"},
      {"MP3 encode 128k", [&] { OursEncode(mp3Out, wav, F(L"o.mp3")); }, [&] { DirectMp3Encode(wav, F(L"d.mp3")); },
       "lame --silent -b 128 --cbr --nores " + Native(wav) + " " + Native(F(L"n.mp3"))},
      {"Vorbis encode q2", [&] { OursEncode(vorbisOut, wav, F(L"o.ogg")); },
       [&] { DirectVorbisEncode(wav, F(L"d.ogg")); },
       "oggenc -Q -q 2 -o " + Native(F(L"n.ogg")) + " " + Native(wav)},
      {"Vorbis decode",
       [&] {
         TVorbisIn in(nullptr);
         OursDecode(in, F(L"o.ogg"));
       },
       [&] { DirectVorbisDecode(F(L"o.ogg")); }, "oggdec -Q -o /dev/null " + Native(F(L"o.ogg"))},
  };
  std::printf("%-18s %9s %9s %9s %10s %10s\n", "path", "chain s", "direct s", "native s", "overhead", "vs native");
  bool all = true;
  for (Row& r : rows) {
    double tOurs = 0, tDirect = 0;
    try {
      // Interleaved so that a change of machine load touches both alike.
      tOurs = Best(repeats, r.ours);
      tDirect = Best(repeats, r.direct);
      tOurs = std::min(tOurs, Best(repeats, r.ours));
      tDirect = std::min(tDirect, Best(repeats, r.direct));
    } catch (const Exception& e) {
      Fail(std::string(r.name) + ": " + e.what());
    }
    double tNative = Best(repeats, [&] { RunPeer(r.native, 7200); });
    double overhead = tOurs / tDirect;
    all = all && overhead <= 1.05;
    std::printf("%-18s %9.3f %9.3f %9.3f %9.3fx %9.2fx\n", r.name, tOurs, tDirect, tNative, overhead, tNative / tOurs);
    std::fflush(stdout);
  }
  std::printf(all ? "Overhead target (<= 1.05x) met on every path.\n" : "Overhead target (<= 1.05x) missed.\n");

  std::printf("\nMemory growth during a run (KiB), 1-minute vs %d-minute file:\n", longMinutes);
  const std::wstring shortWav = F(L"short.wav"), longWav = F(L"long.wav");
  makeWav(shortWav, 1);
  makeWav(longWav, longMinutes);
  struct MemRow {
    const char* name;
    std::function<void(const std::wstring&)> run;
  } mem[] = {
      {"FLAC encode+decode",
       [&](const std::wstring& W) {
         OursEncode(flacOut, W, F(L"m.flac"));
         TFLACIn in(nullptr);
         OursDecode(in, F(L"m.flac"));
       }},
      {"MP3 encode", [&](const std::wstring& W) { OursEncode(mp3Out, W, F(L"m.mp3")); }},
      {"Vorbis encode+decode",
       [&](const std::wstring& W) {
         OursEncode(vorbisOut, W, F(L"m.ogg"));
         TVorbisIn in(nullptr);
         OursDecode(in, F(L"m.ogg"));
       }},
  };
  for (MemRow& m : mem) {
    m.run(shortWav);  // warm: libraries and first-use allocations
    int64_t a = Growth([&] { m.run(shortWav); });
    int64_t b = Growth([&] { m.run(longWav); });
    std::printf("%-22s %8lld %8lld   (private bytes now %lld KiB)\n", m.name, (long long)a, (long long)b,
                (long long)(PrivateBytes() / 1024));
    std::fflush(stdout);
  }
  for (const wchar_t* n : {L"in.wav", L"short.wav", L"long.wav", L"o.flac", L"d.flac", L"n.flac", L"o_flac.wav",
                           L"d_flac.raw", L"n_flac.wav", L"o.mp3", L"d.mp3", L"n.mp3", L"o.ogg", L"d.ogg", L"n.ogg",
                           L"o_ogg.wav", L"d_ogg.raw", L"n_ogg.wav", L"m.flac", L"m_flac.wav", L"m.mp3", L"m.ogg",
                           L"m_ogg.wav"})
    DeleteFileW(F(n).c_str());
  RemoveDirectoryW(dir.c_str());
  AuClassesFinalize();
  ClasslibFinalize();
  return 0;
}
