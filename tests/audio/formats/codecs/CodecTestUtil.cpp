#include "audio/formats/codecs/CodecTestUtil.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>

#include "classlib/Forms.h"
#include "classlib/WinApi.h"

namespace codectest {

std::string Signal(int Frames, int Channels, int Bits, int Rate, double Amplitude) {
  const int bytes = Bits / 8;
  std::string out((size_t)Frames * Channels * bytes, '\0');
  const double full = Bits == 8 ? 127.0 : std::ldexp(1.0, Bits - 1) - 1;
  const double pi = 3.14159265358979323846;
  uint32_t seed = 12345;
  size_t k = 0;
  for (int i = 0; i < Frames; ++i) {
    const double t = (double)i / Rate;
    for (int c = 0; c < Channels; ++c) {
      seed = seed * 1664525u + 1013904223u;
      const double noise = ((double)(seed >> 8) / 16777216.0 - 0.5) * 0.02;
      double v = Amplitude * (0.6 * std::sin(2 * pi * (440.0 + 110.0 * c) * t) + 0.35 * std::sin(2 * pi * 3150.0 * t + c)) + noise;
      v = std::max(-1.0, std::min(1.0, v));
      int64_t s = std::llround(v * full);
      if (Bits == 8) s += 128;
      for (int b = 0; b < bytes; ++b) out[k++] = (char)(uint8_t)((uint64_t)s >> (8 * b));
    }
  }
  return out;
}

std::vector<int32_t> Samples(const std::string& Pcm, int Bits) {
  const int n = Bits / 8;
  std::vector<int32_t> out(Pcm.size() / n);
  for (size_t i = 0; i < out.size(); ++i) {
    uint32_t v = 0;
    for (int b = 0; b < n; ++b) v |= (uint32_t)(uint8_t)Pcm[i * n + b] << (8 * b);
    if (Bits == 8) {
      out[i] = (int32_t)v - 128;
    } else {
      const int shift = 32 - Bits;
      out[i] = (int32_t)(v << shift) >> shift;
    }
  }
  return out;
}

std::wstring RunBlocking(TAuOutput& Out) {
  try {
    Out.BlockingRun();
  } catch (const Exception& e) {
    return e.Message();
  }
  return L"";
}

TRunEvents RunWithEvents(TAuOutput& Out) {
  TRunEvents ev;
  Out.OnDone = [&ev](TComponent*) { ev.Done = true; };
  Out.OnThreadException = [&ev, &Out](TComponent*) { ev.Errors.push_back(Out.ExceptionMessage()); };
  Out.Run();
  DWORD start = GetTickCount();
  while (!ev.Done && GetTickCount() - start < 60000) {
    Application->ProcessMessages();
    if (ev.Done) break;
    HANDLE h = SyncEvent();
    MsgWaitForMultipleObjectsEx(1, &h, 50, QS_ALLINPUT, 0);
  }
  Application->ProcessMessages();
  Out.OnDone = nullptr;
  Out.OnThreadException = nullptr;
  return ev;
}

std::string Peer(const std::string& Command) {
  peer::Result r = peer::Run(Command, 300);
  EXPECT_EQ(r.exitCode, 0) << Command << "\n" << r.err;
  return r.exitCode == 0 ? r.out : std::string();
}

std::string FfmpegPcm(const std::string& UnixFile, const std::string& Format) {
  return Peer("ffmpeg -nostdin -v error -i " + peer::Quote(UnixFile) + " -f " + Format + " -");
}

std::map<std::string, std::string> Probe(const std::string& UnixFile) {
  return peer::ProbeFields(Peer("ffprobe -v error -select_streams a:0 -show_entries "
                                "stream=codec_name,channels,sample_rate,bit_rate,duration,duration_ts:stream_tags:format_tags "
                                "-of default=nw=1 " + peer::Quote(UnixFile)));
}

double Correlation(const std::vector<int32_t>& Ref, const std::vector<int32_t>& Got, int Channels, int MaxLag) {
  const long refFrames = (long)Ref.size() / Channels, gotFrames = (long)Got.size() / Channels;
  const long start = refFrames / 4, window = std::min<long>(16384, refFrames / 2);
  double best = -1;
  for (int l = 0; l <= MaxLag; ++l) {
    if (start + l + window > gotFrames) break;
    double ab = 0, aa = 0, bb = 0;
    for (long i = start * Channels; i < (start + window) * Channels; ++i) {
      const double a = Ref[i], b = Got[i + (long)l * Channels];
      ab += a * b;
      aa += a * a;
      bb += b * b;
    }
    if (aa > 0 && bb > 0) best = std::max(best, ab / std::sqrt(aa * bb));
  }
  return best;
}

std::string FirstDifference(const std::string& A, const std::string& B) {
  const size_t n = std::min(A.size(), B.size());
  for (size_t i = 0; i < n; ++i)
    if (A[i] != B[i]) return "byte " + std::to_string(i) + " of " + std::to_string(A.size()) + "/" + std::to_string(B.size());
  if (A.size() != B.size()) return "sizes " + std::to_string(A.size()) + " and " + std::to_string(B.size());
  return "";
}

}  // namespace codectest
