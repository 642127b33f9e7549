#include "audio/formats/lossless/LosslessTestUtil.h"

#include <gtest/gtest.h>

#include "classlib/WinApi.h"

#include <cmath>
#include <cstring>

#include "audio/engine/AudioTestUtil.h"
#include "common/Peer.h"
#include "common/TestFiles.h"

namespace lossless {

std::vector<uint8_t> Signal(int Bits, int Channels, int Frames, uint32_t Seed) {
  const int bytes = Bits / 8;
  std::vector<uint8_t> out((size_t)Frames * Channels * bytes);
  uint32_t rnd = Seed * 2654435761u + 12345;
  const double maxv = std::ldexp(1.0, Bits - 1) - 1;
  uint8_t* p = out.data();
  for (int i = 0; i < Frames; ++i) {
    for (int c = 0; c < Channels; ++c) {
      rnd = rnd * 1664525u + 1013904223u;
      double t = (double)i / 44100.0;
      double x = 0.6 * std::sin(2 * M_PI * (200 + 3000 * t) * t + c) + 0.05 * ((double)(rnd >> 8) / 16777216.0 - 0.5);
      int64_t v = (int64_t)std::lrint(x * maxv);
      if (i % 997 == 13) v = (c & 1) ? (int64_t)maxv : -(int64_t)maxv - 1;  // the extremes
      if (i % 1499 == 7) v = (int64_t)(rnd % 0x7FFFFFFF) - 0x3FFFFFFF;         // jumps
      v = std::max<int64_t>(std::min<int64_t>(v, (int64_t)maxv), -(int64_t)maxv - 1);
      if (Bits == 8) {
        *p++ = (uint8_t)(v + 128);
      } else {
        for (int b = 0; b < bytes; ++b) *p++ = (uint8_t)((uint64_t)v >> (8 * b));
      }
    }
  }
  return out;
}

std::string RawFormat(int Bits) {
  switch (Bits) {
    case 8: return "u8";
    case 16: return "s16le";
    case 24: return "s24le";
    default: return "s32le";
  }
}

std::string Native(const std::wstring& File) { return peer::NativeArg(File); }

int PeerRun(const std::string& Command, std::string& Error, std::string* Out) {
  peer::Result r = peer::Run(Command, 300);
  Error = r.err;
  if (Out) *Out = r.out;
  return r.exitCode;
}

std::vector<uint8_t> FfmpegDecode(const std::wstring& File, int Bits, std::string& Error) {
  std::string out;
  int rc = PeerRun("ffmpeg -nostdin -v error -i " + Native(File) + " -f " + RawFormat(Bits) + " -", Error, &out);
  if (rc != 0) {
    Error = "ffmpeg exit " + std::to_string(rc) + ": " + Error;
    return {};
  }
  Error.clear();
  return std::vector<uint8_t>(out.begin(), out.end());
}

std::string FfmpegEncode(const std::vector<uint8_t>& Raw, int Bits, int Channels, int Rate, const std::string& Codec,
                         const std::wstring& File) {
  std::wstring raw = File + L".raw";
  if (!testfiles::WriteBytes(raw, std::string(Raw.begin(), Raw.end()))) return "cannot write the raw file";
  std::string err;
  int rc = PeerRun("ffmpeg -nostdin -v error -y -f " + RawFormat(Bits) + " -ar " + std::to_string(Rate) + " -ac " +
                       std::to_string(Channels) + " -i " + Native(raw) + " -c:a " + Codec + " " + Native(File),
                   err);
  DeleteFileW(raw.c_str());
  return rc == 0 ? "" : "ffmpeg exit " + std::to_string(rc) + ": " + err;
}

std::string RunToDone(TAuOutput* Out) {
  bool done = false;
  std::string error;
  Out->OnDone = [&](TComponent*) { done = true; };
  Out->OnThreadException = [&](TComponent* S) { error = static_cast<TAuOutput*>(S)->ExceptionMessage(); };
  Out->Run();
  EXPECT_TRUE(PumpUntil([&] { return done; }, 120000)) << "no OnDone";
  PumpFor(0);
  Out->OnDone = nullptr;
  Out->OnThreadException = nullptr;
  return error;
}

long FirstDifference(const std::vector<uint8_t>& A, const std::vector<uint8_t>& B) {
  size_t n = std::min(A.size(), B.size());
  for (size_t i = 0; i < n; ++i)
    if (A[i] != B[i]) return (long)i;
  return A.size() == B.size() ? -1 : (long)n;
}

}  // namespace lossless
