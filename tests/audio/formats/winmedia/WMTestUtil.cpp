#include "WMTestUtil.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <mutex>

#include "classlib/WinApi.h"
#include "common/Peer.h"

namespace wmtest {

const testfiles::TempDir& Scratch() {
  static testfiles::TempDir dir(L"wmtest");
  return dir;
}

std::wstring ScratchFile(const std::wstring& name) { return Scratch().File(name); }

std::string Peer(const std::string& command) {
  peer::Result r = peer::Run(command, 300);
  EXPECT_EQ(r.exitCode, 0) << command << "\n" << r.err;
  return r.exitCode == 0 ? r.out : std::string();
}

std::string Q(const std::wstring& file) { return peer::Quote(peer::UnixPath(file)); }

std::wstring MakeFile(const std::wstring& name, int rate, int channels, double seconds, const std::string& codecArgs,
                      const std::string& extraArgs) {
  std::wstring file = ScratchFile(name);
  if (GetFileAttributesW(file.c_str()) != INVALID_FILE_ATTRIBUTES) return file;
  char src[400];
  // Two chirps: no lag matches the signal but the true one.
  if (channels == 1)
    std::snprintf(src, sizeof src, "aevalsrc=0.5*sin(2*PI*(150+120*t)*t):s=%d:d=%g", rate, seconds);
  else
    std::snprintf(src, sizeof src, "aevalsrc=0.5*sin(2*PI*(150+120*t)*t)|0.4*sin(2*PI*(900-40*t)*t):s=%d:d=%g", rate,
                  seconds);
  Peer("ffmpeg -v error -y -f lavfi -i " + peer::Quote(src) + " " + extraArgs + " " + codecArgs + " " + Q(file));
  return file;
}

std::vector<int16_t> PeerDecode(const std::wstring& file) {
  return As<int16_t>(Peer("ffmpeg -v error -i " + Q(file) + " -f s16le -c:a pcm_s16le -"));
}

Match BestMatch(const std::vector<int16_t>& ours, const std::vector<int16_t>& ref, int channels, int maxLag) {
  Match best;
  best.corr = -2;
  const int64_t no = (int64_t)ours.size() / channels, nr = (int64_t)ref.size() / channels;
  for (int lag = -maxLag; lag <= maxLag; ++lag) {
    // ours[i + lag] against ref[i]; a coarse pass over every 4th frame.
    double sxy = 0, sxx = 0, syy = 0;
    for (int64_t i = 0; i < nr; i += 4) {
      int64_t j = i + lag;
      if (j < 0 || j >= no) continue;
      for (int c = 0; c < channels; ++c) {
        double x = ours[j * channels + c], y = ref[i * channels + c];
        sxy += x * y;
        sxx += x * x;
        syy += y * y;
      }
    }
    double corr = (sxx > 0 && syy > 0) ? sxy / std::sqrt(sxx * syy) : 0;
    if (corr > best.corr) {
      best.corr = corr;
      best.lag = lag;
    }
  }
  return best;
}

}  // namespace wmtest
