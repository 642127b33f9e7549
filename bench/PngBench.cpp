// PNG decode and encode against zlib on the same image data, and beside the native PNG tools.
//
//   wine png_bench.exe [repeats]
//
// Two large images are made here: "photo" (2048 x 1536 RGB, smooth shading with sensor-like
// noise) and "flat" (2048 x 1536 RGBA, large single-colour areas and hard edges, as a skin).
// For each, best of the repeats:
//   decode: TPNGObject::LoadFromStream of the file, beside zlib's inflate of the same IDAT data
//           alone (the floor no PNG decoder can beat); ratio = ours / inflate;
//   encode: TPNGObject::SaveToStream (default settings: level 7, Sub filter), beside zlib's deflate
//           of the same filtered rows at the same level; ratio = ours / deflate;
//   native: pngfix (libpng; reads and inflates the whole file) and ImageMagick's convert (libpng)
//           decoding to raw RGB and encoding raw RGB to PNG, run natively on the same files and
//           timed as a loop of 5 from the shell (process start included).
#include "classlib/WinApi.h"

#include <zlib.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <random>
#include <string>

#include "classlib/Forms.h"
#include "bench/BenchUtil.h"
#include "common/Peer.h"
#include "png/PngCodec.h"

namespace {

using bench::Best;
using bench::Now;

std::string Be32(uint32_t V) { return std::string{char(V >> 24), char(V >> 16), char(V >> 8), char(V)}; }

std::string Chunk(const std::string& Name, const std::string& Data) {
  std::string body = Name + Data;
  uint32_t crc = crc32(0, reinterpret_cast<const Bytef*>(body.data()), body.size());
  return Be32(static_cast<uint32_t>(Data.size())) + body + Be32(crc);
}

// Raw rows (filter type 0) of the image.
std::string MakeRaw(bool Photo, uint32_t W, uint32_t H) {
  std::mt19937 rng(7);
  const int channels = Photo ? 3 : 4;
  std::string raw;
  raw.reserve(size_t(H) * (1 + W * channels));
  for (uint32_t y = 0; y < H; ++y) {
    raw += '\0';
    for (uint32_t x = 0; x < W; ++x) {
      if (Photo) {
        double v = 0.5 + 0.25 * std::sin(x * 0.003 + y * 0.002) + 0.2 * std::cos(x * 0.011 - y * 0.007);
        for (int c = 0; c < 3; ++c) {
          int s = int(255 * v * (0.8 + 0.1 * c)) + int(rng() % 9) - 4;
          raw += char(std::clamp(s, 0, 255));
        }
      } else {
        // Tiles of flat colour with borders; transparent gaps.
        uint32_t tx = x / 128, ty = y / 96;
        bool border = x % 128 < 2 || y % 96 < 2;
        bool gap = (tx + ty) % 5 == 0;
        uint8_t r = uint8_t(40 * tx), g = uint8_t(30 * ty), b = uint8_t(200 - 10 * tx);
        if (border) r = g = b = 20;
        raw += char(r);
        raw += char(g);
        raw += char(b);
        raw += char(gap ? 0 : (border ? 255 : 200));
      }
    }
  }
  return raw;
}

std::string MakeFile(bool Photo, uint32_t W, uint32_t H) {
  std::string raw = MakeRaw(Photo, W, H);
  uLongf n = compressBound(raw.size());
  std::string z(n, '\0');
  compress2(reinterpret_cast<Bytef*>(z.data()), &n, reinterpret_cast<const Bytef*>(raw.data()), raw.size(), 6);
  z.resize(n);
  std::string ihdr = Be32(W) + Be32(H) + std::string{8, char(Photo ? 2 : 6), 0, 0, 0};
  return std::string("\x89PNG\r\n\x1a\n", 8) + Chunk("IHDR", ihdr) + Chunk("IDAT", z) + Chunk("IEND", "");
}

// The concatenated IDAT data of a file.
std::string IdatData(const std::string& File) {
  std::string data;
  for (size_t at = 8; at + 12 <= File.size();) {
    uint32_t n = (uint32_t(uint8_t(File[at])) << 24) | (uint32_t(uint8_t(File[at + 1])) << 16) |
                 (uint32_t(uint8_t(File[at + 2])) << 8) | uint8_t(File[at + 3]);
    if (File.compare(at + 4, 4, "IDAT") == 0) data += File.substr(at + 8, n);
    at += 12 + n;
  }
  return data;
}

std::string InflateAll(const std::string& Z, size_t Expected) {
  std::string out(Expected, '\0');
  uLongf n = Expected;
  uncompress(reinterpret_cast<Bytef*>(out.data()), &n, reinterpret_cast<const Bytef*>(Z.data()), Z.size());
  out.resize(n);
  return out;
}

class TStringStream : public TMemoryStream {
 public:
  explicit TStringStream(const std::string& S) {
    Write(S.data(), static_cast<int32_t>(S.size()));
    SetPosition(0);
  }
};

// Milliseconds per run of Command (a loop of 5 in the native shell), or -1 when it fails.
double NativeMs(const std::string& Command) {
  std::string loop = "s=$(date +%s%N); for i in 1 2 3 4 5; do " + Command +
                     " >/dev/null 2>&1 || exit 1; done; e=$(date +%s%N); echo $(( (e - s) / 5000 ))";
  peer::Result r = peer::Run(loop, 600);
  if (r.exitCode != 0) return -1;
  return std::atof(r.out.c_str()) / 1000.0;
}

}  // namespace

int main(int argc, char** argv) {
  const int repeats = argc > 1 ? std::atoi(argv[1]) : 5;
  ClasslibInitialize();
  PngCodecInitialize();
  wchar_t tmp[MAX_PATH];
  GetTempPathW(MAX_PATH, tmp);
  std::printf("%-6s %9s %9s %6s | %9s %9s %6s | %8s %9s %9s\n", "image", "decode", "inflate", "ratio", "encode",
              "deflate", "ratio", "pngfix", "IM decode", "IM encode");
  for (bool photo : {true, false}) {
    const uint32_t W = 2048, H = 1536;
    const std::string file = MakeFile(photo, W, H);
    const std::wstring path = std::wstring(tmp) + (photo ? L"png_bench_photo.png" : L"png_bench_flat.png");
    {
      TStringStream s(file);
      s.SaveToFile(WideToAnsi(path));
    }
    // Decode: ours against inflate of the same data.
    TPNGObject png;
    double decode = Best(repeats, [&] {
      TStringStream s(file);
      png.LoadFromStream(&s);
    });
    const std::string idat = IdatData(file);
    const size_t rawSize = size_t(H) * (1 + W * (photo ? 3 : 4));
    double inflateFloor = Best(repeats, [&] { InflateAll(idat, rawSize); });
    // Encode: ours against deflate of our own filtered rows at our level.
    std::string ours;
    double encode = Best(repeats, [&] {
      TMemoryStream out;
      png.SaveToStream(&out);
      ours.assign(static_cast<const char*>(out.Memory()), static_cast<size_t>(out.Size()));
    });
    const std::string filtered = InflateAll(IdatData(ours), rawSize);
    double deflateFloor = Best(repeats, [&] {
      z_stream z{};
      deflateInit(&z, png.DeflateLevel());
      std::string out(deflateBound(&z, filtered.size()), '\0');
      z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(filtered.data()));
      z.avail_in = filtered.size();
      z.next_out = reinterpret_cast<Bytef*>(out.data());
      z.avail_out = out.size();
      deflate(&z, Z_FINISH);
      deflateEnd(&z);
    });
    const std::string native = peer::Quote(peer::UnixPath(path));
    const std::string rawNative = peer::Quote(peer::UnixPath(path) + ".rgb");
    double pngfix = NativeMs("pngfix " + native);
    double imDecode = NativeMs("convert " + native + " rgba:/dev/null");
    peer::Run("convert " + native + " rgba:" + rawNative);
    double imEncode = NativeMs("convert -size " + std::to_string(W) + "x" + std::to_string(H) + " -depth 8 rgba:" +
                               rawNative + " png:/dev/null");
    peer::Run("rm -f " + rawNative);
    std::printf("%-6s %7.1fms %7.1fms %6.2f | %7.1fms %7.1fms %6.2f | %6.1fms %7.1fms %7.1fms   (%zu -> %zu bytes)\n",
                photo ? "photo" : "flat", decode * 1e3, inflateFloor * 1e3, decode / inflateFloor, encode * 1e3,
                deflateFloor * 1e3, encode / deflateFloor, pngfix, imDecode, imEncode, file.size(), ours.size());
    DeleteFileW(path.c_str());
  }
  PngCodecFinalize();
  ClasslibFinalize();
  return 0;
}
