#include "PngTestUtil.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <cstring>
#include <random>
#include <sstream>

#include "common/Peer.h"
#include "common/TestFiles.h"

namespace pngtest {

std::string Be32(uint32_t V) {
  return std::string{char(V >> 24), char(V >> 16), char(V >> 8), char(V)};
}

std::string Chunk(const std::string& Name, const std::string& Data) {
  std::string body = Name + Data;
  uint32_t crc = static_cast<uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(body.data()), static_cast<uInt>(body.size())));
  return Be32(static_cast<uint32_t>(Data.size())) + body + Be32(crc);
}

std::string Signature() { return std::string("\x89PNG\r\n\x1a\n", 8); }

std::string Ihdr(uint32_t W, uint32_t H, uint8_t Depth, uint8_t ColorType, uint8_t Interlace) {
  return Chunk("IHDR", Be32(W) + Be32(H) + std::string{char(Depth), char(ColorType), 0, 0, char(Interlace)});
}

std::string Zlib(const std::string& Raw, int Level) {
  uLongf n = compressBound(static_cast<uLong>(Raw.size()));
  std::string out(n, '\0');
  compress2(reinterpret_cast<Bytef*>(out.data()), &n, reinterpret_cast<const Bytef*>(Raw.data()),
            static_cast<uLong>(Raw.size()), Level);
  out.resize(n);
  return out;
}

std::string Inflate(const std::string& Packed) {
  z_stream z{};
  inflateInit(&z);
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(Packed.data()));
  z.avail_in = static_cast<uInt>(Packed.size());
  std::string out;
  char buf[4096];
  int rc;
  do {
    z.next_out = reinterpret_cast<Bytef*>(buf);
    z.avail_out = sizeof(buf);
    rc = inflate(&z, Z_NO_FLUSH);
    out.append(buf, sizeof(buf) - z.avail_out);
  } while (rc == Z_OK);
  inflateEnd(&z);
  return out;
}

int PixelBits(uint8_t ColorType, uint8_t Depth) {
  switch (ColorType) {
    case 2: return 3 * Depth;
    case 4: return 2 * Depth;
    case 6: return 4 * Depth;
    default: return Depth;
  }
}

namespace {

uint8_t PaethPredictor(int a, int b, int c) {
  int p = a + b - c, pa = std::abs(p - a), pb = std::abs(p - b), pc = std::abs(p - c);
  if (pa <= pb && pa <= pc) return uint8_t(a);
  return uint8_t(pb <= pc ? b : c);
}

// Filters one raw row (forward).
std::string FilterForward(uint8_t Type, const std::string& Raw, const std::string& Prior, size_t Bpp) {
  std::string out(1, char(Type));
  for (size_t i = 0; i < Raw.size(); ++i) {
    int x = uint8_t(Raw[i]), a = i >= Bpp ? uint8_t(Raw[i - Bpp]) : 0, b = uint8_t(Prior[i]),
        c = i >= Bpp ? uint8_t(Prior[i - Bpp]) : 0;
    int pred = 0;
    switch (Type) {
      case 1: pred = a; break;
      case 2: pred = b; break;
      case 3: pred = (a + b) / 2; break;
      case 4: pred = PaethPredictor(a, b, c); break;
    }
    out += char(uint8_t(x - pred));
  }
  return out;
}

}  // namespace

std::string RawImage(uint32_t W, uint32_t H, uint8_t Depth, uint8_t ColorType, bool Interlace,
                     const std::vector<uint8_t>& Filters, uint32_t Seed) {
  std::mt19937 rng(Seed);
  const int bits = PixelBits(ColorType, Depth);
  const size_t bpp = bits >= 8 ? size_t(bits / 8) : 1;
  // A mix of smooth runs and noise, so that every filter has work.
  auto sampleRow = [&](uint32_t Width) {
    std::string row((size_t(Width) * bits + 7) / 8, '\0');
    for (size_t i = 0; i < row.size(); ++i) row[i] = char((rng() % 4 == 0) ? rng() : (i * 3 + Seed));
    if (ColorType == 3 && Depth == 8)
      for (auto& c : row) c = char(uint8_t(c) % 16);  // indexes inside a 16-entry palette
    if (ColorType == 3 && Depth < 8) {
      // keep indexes below 2^depth (always true) but mask the padding bits of the last byte
    }
    return row;
  };
  std::string out;
  size_t f = 0;
  const int passes = Interlace ? 7 : 1;
  static const uint32_t xs[7] = {0, 4, 0, 2, 0, 1, 0}, ys[7] = {0, 0, 4, 0, 2, 0, 1}, xi[7] = {8, 8, 4, 4, 2, 2, 1},
                        yi[7] = {8, 8, 8, 4, 4, 2, 2};
  for (int p = 0; p < passes; ++p) {
    uint32_t x0 = Interlace ? xs[p] : 0, y0 = Interlace ? ys[p] : 0, xinc = Interlace ? xi[p] : 1,
             yinc = Interlace ? yi[p] : 1;
    uint32_t pw = W > x0 ? (W - x0 + xinc - 1) / xinc : 0;
    if (pw == 0) continue;
    std::string prior((size_t(pw) * bits + 7) / 8, '\0');
    for (uint32_t y = y0; y < H; y += yinc) {
      std::string raw = sampleRow(pw);
      out += FilterForward(Filters[f++ % Filters.size()], raw, prior, bpp);
      prior = raw;
    }
  }
  return out;
}

std::string Palette(int N) {
  std::string p;
  for (int i = 0; i < N; ++i) p += std::string{char(i * 37 + 5), char(255 - i * 11), char(i * 91)};
  return p;
}

std::string SimplePng(uint32_t W, uint32_t H, uint8_t Depth, uint8_t ColorType, const std::string& Extra,
                      bool Interlace, uint32_t Seed) {
  std::string plte = (ColorType == 3 && Extra.find("PLTE") == std::string::npos)
                         ? Chunk("PLTE", Palette(Depth == 8 ? 16 : 1 << Depth))
                         : "";
  return Signature() + Ihdr(W, H, Depth, ColorType, Interlace ? 1 : 0) + plte + Extra +
         Chunk("IDAT", Zlib(RawImage(W, H, Depth, ColorType, Interlace, {0, 1, 2, 3, 4}, Seed))) + Chunk("IEND", "");
}

namespace {

class TStringStream : public TMemoryStream {
 public:
  explicit TStringStream(const std::string& S) {
    if (!S.empty()) Write(S.data(), static_cast<int32_t>(S.size()));
    SetPosition(0);
  }
};

}  // namespace

std::unique_ptr<TPNGObject> Load(const std::string& Bytes) {
  auto png = std::make_unique<TPNGObject>();
  TStringStream s(Bytes);
  png->LoadFromStream(&s);
  return png;
}

std::string Save(TPNGObject& Png) {
  TMemoryStream s;
  Png.SaveToStream(&s);
  return std::string(static_cast<const char*>(s.Memory()), static_cast<size_t>(s.Size()));
}

std::string ErrorText(const Exception& E) { return std::string(E.ClassName()) + ": " + E.what(); }

std::string LoadError(const std::string& Bytes) {
  try {
    Load(Bytes);
    return "";
  } catch (const Exception& E) {
    return ErrorText(E);
  }
}

std::string ChunkNames(TPNGObject& Png) {
  std::string s;
  for (int i = 0; i < Png.Chunks().Count(); ++i) s += (i ? " " : "") + Png.Chunks().Item(i)->GetName();
  return s;
}

void PixelRGBA(TPNGObject& Png, uint32_t X, uint32_t Y, uint8_t Out[4]) {
  TColor c = Png.GetPixelColor(int(X), int(Y));
  Out[0] = uint8_t(c);
  Out[1] = uint8_t(c >> 8);
  Out[2] = uint8_t(c >> 16);
  TChunkIHDR* h = Png.Header();
  if (const uint8_t* a = h->AlphaScanline(Y)) {
    Out[3] = a[X];
  } else if (auto* t = Png.Chunks().ItemFromClass<TChunktRNS>(); t && h->ColorType() == COLOR_PALETTE) {
    const uint8_t* row = h->Scanline(Y);
    int bits = h->DIBBits();
    uint8_t index = bits == 8 ? row[X] : uint8_t((row[X * bits / 8] >> (8 - bits - (X * bits) % 8)) & ((1 << bits) - 1));
    Out[3] = t->PaletteValues()[index];
  } else {
    Out[3] = 255;
  }
}

std::map<std::string, TReference> ReferenceDecode(const std::vector<std::string>& UnixPaths) {
  std::map<std::string, TReference> result;
  const char* src = getenv("TEST_SOURCE_DIR");
  std::string cmd = "/usr/bin/python3 " + peer::Quote(std::string(src ? src : ".") + "/tests/png/pngref.py");
  for (const auto& p : UnixPaths) cmd += " " + peer::Quote(p);
  peer::Result r = peer::Run(cmd, 300);
  if (r.exitCode != 0) {
    ADD_FAILURE() << "reference decoder failed: " << r.err;
    return result;
  }
  std::istringstream lines(r.out);
  std::string line;
  while (std::getline(lines, line)) {
    size_t t1 = line.find('\t');
    if (t1 == std::string::npos) continue;
    TReference ref;
    std::string rest = line.substr(t1 + 1);
    if (rest.rfind("error ", 0) == 0) {
      ref.Error = rest.substr(6);
    } else {
      size_t t2 = rest.find('\t');
      std::istringstream head(rest.substr(0, t2));
      head >> ref.Width >> ref.Height >> ref.ColorType >> ref.Depth;
      const std::string hex = rest.substr(t2 + 1);
      ref.RGBA.resize(hex.size() / 2);
      for (size_t i = 0; i < ref.RGBA.size(); ++i) ref.RGBA[i] = uint8_t(std::stoi(hex.substr(2 * i, 2), nullptr, 16));
    }
    result[line.substr(0, t1)] = std::move(ref);
  }
  return result;
}

std::string CompareWithReference(TPNGObject& Png, const TReference& Ref) {
  if (!Ref.Error.empty()) return "reference decoder failed: " + Ref.Error;
  TChunkIHDR* h = Png.Header();
  if (h->Width() != Ref.Width || h->Height() != Ref.Height) return "size differs";
  if (Ref.RGBA.size() != size_t(Ref.Width) * Ref.Height * 4) return "reference data short";
  const uint8_t* decode = Png.GammaTable();
  const bool raw = h->ColorType() == COLOR_GRAYSCALEALPHA;  // kept as stored, without gamma
  const bool hasAlpha = h->ColorType() == COLOR_GRAYSCALEALPHA || h->ColorType() == COLOR_RGBALPHA ||
                        (h->ColorType() == COLOR_PALETTE && Png.Chunks().ItemFromClass<TChunktRNS>());
  for (uint32_t y = 0; y < Ref.Height; ++y)
    for (uint32_t x = 0; x < Ref.Width; ++x) {
      uint8_t ours[4];
      PixelRGBA(Png, x, y, ours);
      const uint8_t* ref = &Ref.RGBA[(size_t(y) * Ref.Width + x) * 4];
      for (int c = 0; c < 4; ++c) {
        uint8_t want = c == 3 ? (hasAlpha ? ref[3] : 255) : (raw ? ref[c] : decode[ref[c]]);
        if (ours[c] != want) {
          std::ostringstream o;
          o << "pixel (" << x << "," << y << ") channel " << c << ": ours " << int(ours[c]) << ", reference "
            << int(want) << " (raw " << int(ref[c]) << ")";
          return o.str();
        }
      }
    }
  return "";
}

std::wstring WinPath(const std::string& UnixPath) {
  std::wstring w = L"Z:";
  for (char c : UnixPath) w += c == '/' ? L'\\' : wchar_t(uint8_t(c));
  return w;
}

std::string ReadNative(const std::string& UnixPath) { return testfiles::ReadBytes(WinPath(UnixPath)); }

}  // namespace pngtest
