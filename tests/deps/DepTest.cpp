#include "deps/DepTest.h"

#include <windows.h>

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace deptest {

std::wstring TempDir::W(const char* file) const {
  std::wstring w = Path() + L"\\";
  for (const char* p = file; *p; ++p) w += static_cast<wchar_t>(static_cast<unsigned char>(*p));
  return w;
}

std::string TempDir::A(const char* file) const {
  std::wstring w = W(file);
  return std::string(w.begin(), w.end());
}

std::string TempDir::U(const char* file) const { return peer::UnixPath(W(file)); }

std::vector<int32_t> MakeSignal(int frames, int channels, int bits) {
  std::vector<int32_t> s(static_cast<size_t>(frames) * channels);
  const double full = static_cast<double>((1 << (bits - 1)) - 1);
  const double pi = 3.14159265358979323846;
  uint32_t seed = 12345;
  for (int i = 0; i < frames; ++i) {
    const double t = static_cast<double>(i) / kRate;
    for (int c = 0; c < channels; ++c) {
      seed = seed * 1664525u + 1013904223u;
      const double noise = (static_cast<double>(seed >> 8) / 16777216.0 - 0.5) * 0.02;
      const double v = 0.45 * std::sin(2 * pi * (440.0 + 110.0 * c) * t) + 0.25 * std::sin(2 * pi * 3150.0 * t + c) + noise;
      s[static_cast<size_t>(i) * channels + c] = static_cast<int32_t>(std::lround(v * full));
    }
  }
  return s;
}

std::string ToPcm(const std::vector<int32_t>& samples, int bits) {
  const int bytes = bits / 8;
  std::string out(samples.size() * bytes, '\0');
  for (size_t i = 0; i < samples.size(); ++i)
    for (int b = 0; b < bytes; ++b) out[i * bytes + b] = static_cast<char>((static_cast<uint32_t>(samples[i]) >> (8 * b)) & 0xFF);
  return out;
}

std::vector<int32_t> FromPcm(const std::string& bytes, int bits) {
  const int n = bits / 8;
  std::vector<int32_t> out(bytes.size() / n);
  for (size_t i = 0; i < out.size(); ++i) {
    uint32_t v = 0;
    for (int b = 0; b < n; ++b) v |= static_cast<uint32_t>(static_cast<unsigned char>(bytes[i * n + b])) << (8 * b);
    const int shift = 32 - bits;
    out[i] = static_cast<int32_t>(v << shift) >> shift;
  }
  return out;
}

bool WriteBinary(const std::string& path, const std::string& bytes) {
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return false;
  bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  return std::fclose(f) == 0 && ok;
}

std::string ReadBinary(const std::string& path) {
  std::string data;
  FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return data;
  char buf[65536];
  size_t got;
  while ((got = std::fread(buf, 1, sizeof buf, f)) > 0) data.append(buf, got);
  std::fclose(f);
  return data;
}

Decoded FfmpegDecode(const std::string& unixFile, int bits) {
  Decoded d;
  peer::Result r = peer::Run("ffmpeg -nostdin -v error -i " + peer::Quote(unixFile) + " -f " +
                             (bits == 24 ? "s24le" : "s16le") + " -");
  d.exitCode = r.exitCode;
  d.err = r.err;
  if (r.exitCode == 0) d.samples = FromPcm(r.out, bits);
  return d;
}

std::map<std::string, std::string> Probe(const std::string& unixFile) {
  peer::Result r = peer::Run("ffprobe -v error -select_streams a:0 -show_entries "
                             "stream=codec_name,channels,sample_rate,bit_rate:stream_tags:format_tags -of default=nw=1 " +
                             peer::Quote(unixFile));
  if (r.exitCode != 0) return {{"error", r.err.empty() ? "ffprobe failed" : r.err}};
  return peer::ProbeFields(r.out);
}

double BestSnr(const std::vector<int32_t>& ref, const std::vector<int32_t>& got, int channels, int maxLag, int* lag) {
  const long refFrames = static_cast<long>(ref.size()) / channels;
  const long gotFrames = static_cast<long>(got.size()) / channels;
  const long start = refFrames / 4, window = std::min<long>(8192, refFrames / 2);
  double best = -1e9;
  int bestLag = 0;
  for (int l = 0; l <= maxLag; ++l) {
    if (start + l + window > gotFrames) break;
    double sig = 0, noise = 0;
    for (long i = start * channels; i < (start + window) * channels; ++i) {
      const double a = ref[i], e = a - got[i + static_cast<long>(l) * channels];
      sig += a * a;
      noise += e * e;
    }
    const double snr = noise == 0 ? 200.0 : 10.0 * std::log10(sig / noise);
    if (snr > best) {
      best = snr;
      bestLag = l;
    }
  }
  if (lag) *lag = bestLag;
  return best;
}

long FirstDifference(const std::vector<int32_t>& a, const std::vector<int32_t>& b) {
  const size_t n = std::min(a.size(), b.size());
  for (size_t i = 0; i < n; ++i)
    if (a[i] != b[i]) return static_cast<long>(i);
  return a.size() == b.size() ? -1 : static_cast<long>(n);
}

std::vector<int32_t> Frames(const std::vector<int32_t>& v, int channels, long from, long frames) {
  const size_t b = std::min(v.size(), static_cast<size_t>(from) * channels);
  const size_t e = std::min(v.size(), b + static_cast<size_t>(frames) * channels);
  return std::vector<int32_t>(v.begin() + b, v.begin() + e);
}

}  // namespace deptest
