#include "png/PngCodec.h"

#include <zlib.h>

#include <algorithm>
#include <cmath>
#include <cstring>

#include "audio/engine/AuBinary.h"
#include "classlib/WinApi.h"

static_assert(sizeof(TPngBitmapInfo) == sizeof(BITMAPINFOHEADER) + 256 * sizeof(RGBQUAD));

namespace {

// ---- Reading binary fields

constexpr uint8_t PngSignature[8] = {0x89, 0x50, 0x4E, 0x47, 0x0D, 0x0A, 0x1A, 0x0A};
// The largest chunk length the format allows.
constexpr uint32_t MaxChunkLength = 0x7FFFFFFF;
// Deflate expands its input at most about 1032 times; image data that could not come from what is
// left of the stream means the file has been cut.
constexpr uint64_t MaxInflateRatio = 1040;
// The longest compressed text chunk the reader expands.
constexpr size_t MaxInflatedText = 16u << 20;

// Fields are read and written through the byte layer (GetBE32, PutBE32, ReadExact...).
void ReadOrEnd(TStream* Stream, void* Buffer, uint32_t Count) {
  if (!ReadExact(Stream, Buffer, Count)) RaisePng<EPngUnexpectedEnd>(TPngMessage::UnexpectedEnd);
}

uint32_t ReadBE32(TStream* Stream) {
  uint8_t b[4];
  ReadOrEnd(Stream, b, 4);
  return GetBE32(b);
}

// A chunk's length and name, the length checked against the format's limit and the rest of the
// stream before anything is allocated or skipped by it.
struct TChunkHeader {
  uint32_t Length;
  char Name[4];
};

TChunkHeader ReadChunkHeader(TStream* Stream) {
  uint8_t b[8];
  ReadOrEnd(Stream, b, 8);
  TChunkHeader h;
  h.Length = GetBE32(b);
  memcpy(h.Name, b + 4, 4);
  if (h.Length > MaxChunkLength) RaisePng<EPngUnexpectedEnd>(TPngMessage::UnexpectedEnd);
  int64_t left = Stream->Size() - Stream->Position();
  if (left < 0 || static_cast<uint64_t>(h.Length) + 4 > static_cast<uint64_t>(left))
    RaisePng<EPngUnexpectedEnd>(TPngMessage::UnexpectedEnd);
  return h;
}

void WriteChunk(TStream* Stream, const char* Name, const uint8_t* Data, uint32_t Size) {
  uint8_t head[8];
  PutBE32(head, Size);
  memcpy(head + 4, Name, 4);
  uint32_t crc = UpdateCrc(0xFFFFFFFF, head + 4, 4);
  crc = ~UpdateCrc(crc, Data, Size);
  uint8_t tail[4];
  PutBE32(tail, crc);
  Stream->WriteBuffer(head, 8);
  if (Size) Stream->WriteBuffer(Data, static_cast<int32_t>(Size));
  Stream->WriteBuffer(tail, 4);
}

[[noreturn]] void RaiseZlib(int Code) {
  throw EPNGZLIBError(AnsiString(PngMessage(TPngMessage::ZLIBError)) + zError(Code));
}

// ---- CRC

// CrcTable[0] is the classic byte table; tables 1-7 advance it by further zero bytes, so that
// eight bytes are folded in per step.
uint32_t CrcTable[8][256];
bool CrcTableComputed = false;

void MakeCrcTable() {
  for (uint32_t n = 0; n < 256; ++n) {
    uint32_t c = n;
    for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
    CrcTable[0][n] = c;
  }
  for (uint32_t n = 0; n < 256; ++n)
    for (int t = 1; t < 8; ++t) CrcTable[t][n] = CrcTable[0][CrcTable[t - 1][n] & 0xFF] ^ (CrcTable[t - 1][n] >> 8);
  CrcTableComputed = true;
}

// ---- Registry

struct TRegisteredChunk {
  char Name[4];
  TChunkClass Make;
};
std::vector<TRegisteredChunk> ChunkClasses;

template <class T>
std::unique_ptr<TChunk> MakeChunk(TPNGObject* Owner) {
  return std::make_unique<T>(Owner);
}

template <class T>
void RegisterChunk(const char* Name) {
  TRegisteredChunk r;
  memcpy(r.Name, Name, 4);
  r.Make = &MakeChunk<T>;
  ChunkClasses.push_back(r);
}

TGraphic* NewPngGraphic() { return new TPNGObject; }

// ---- Pixel layout

// Bits per pixel of the PNG samples, 0 for a pair this codec does not decode.
int PngPixelBits(uint8_t ColorType, uint8_t BitDepth) {
  switch (ColorType) {
    case COLOR_GRAYSCALE:
      return (BitDepth == 1 || BitDepth == 2 || BitDepth == 4 || BitDepth == 8 || BitDepth == 16) ? BitDepth : 0;
    case COLOR_RGB: return (BitDepth == 8 || BitDepth == 16) ? 3 * BitDepth : 0;
    case COLOR_PALETTE: return (BitDepth == 1 || BitDepth == 2 || BitDepth == 4 || BitDepth == 8) ? BitDepth : 0;
    case COLOR_GRAYSCALEALPHA: return (BitDepth == 8 || BitDepth == 16) ? 2 * BitDepth : 0;
    case COLOR_RGBALPHA: return (BitDepth == 8 || BitDepth == 16) ? 4 * BitDepth : 0;
    default: return 0;
  }
}

int DIBBitsFor(uint8_t ColorType, uint8_t BitDepth) {
  switch (ColorType) {
    case COLOR_GRAYSCALE:
    case COLOR_PALETTE:
      if (BitDepth == 2) return 4;
      return BitDepth == 16 ? 8 : BitDepth;
    case COLOR_GRAYSCALEALPHA: return 8;
    default: return 24;
  }
}

// Adam7.
constexpr uint8_t RowStart[7] = {0, 0, 4, 0, 2, 0, 1};
constexpr uint8_t ColumnStart[7] = {0, 4, 0, 2, 0, 1, 0};
constexpr uint8_t RowIncrement[7] = {8, 8, 8, 4, 4, 2, 2};
constexpr uint8_t ColumnIncrement[7] = {8, 8, 4, 4, 2, 2, 1};

uint32_t PassSize(uint32_t Size, uint32_t Start, uint32_t Increment) {
  return Size > Start ? (Size - Start + Increment - 1) / Increment : 0;
}

// One pass (or the whole image when not interlaced): its geometry and the row buffers.
struct TRowGeometry {
  uint32_t Width;         // pixels in one row of the pass
  uint32_t RowBytes;      // PNG bytes of one row, without the filter type byte
  uint32_t PixelOffset;   // bytes per complete pixel (at least 1)
  uint32_t ColumnStart;
  uint32_t ColumnIncrement;
};

uint8_t Paeth(uint8_t A, uint8_t B, uint8_t C) {
  int p = int(A) + B - C;
  int pa = std::abs(p - A), pb = std::abs(p - B), pc = std::abs(p - C);
  if (pa <= pb && pa <= pc) return A;
  return pb <= pc ? B : C;
}

// Undoes the filter of Row (its type byte at Row[0]) against the previous raw row Prior.
void Unfilter(uint8_t* Row, const uint8_t* Prior, uint32_t Bytes, uint32_t Offset) {
  uint8_t* r = Row + 1;
  const uint8_t* p = Prior + 1;
  switch (Row[0]) {
    case 1:
      for (uint32_t i = Offset; i < Bytes; ++i) r[i] = uint8_t(r[i] + r[i - Offset]);
      break;
    case 2:
      for (uint32_t i = 0; i < Bytes; ++i) r[i] = uint8_t(r[i] + p[i]);
      break;
    case 3:
      for (uint32_t i = 0; i < Offset && i < Bytes; ++i) r[i] = uint8_t(r[i] + (p[i] >> 1));
      for (uint32_t i = Offset; i < Bytes; ++i) r[i] = uint8_t(r[i] + ((r[i - Offset] + p[i]) >> 1));
      break;
    case 4:
      for (uint32_t i = 0; i < Offset && i < Bytes; ++i) r[i] = uint8_t(r[i] + p[i]);
      for (uint32_t i = Offset; i < Bytes; ++i) r[i] = uint8_t(r[i] + Paeth(r[i - Offset], p[i], p[i - Offset]));
      break;
    default:
      break;
  }
}

// Filters Raw (row bytes without type byte) with filter Type into Out (type byte at Out[0]).
void FilterRow(uint8_t Type, const uint8_t* Raw, const uint8_t* Prior, uint8_t* Out, uint32_t Bytes, uint32_t Offset) {
  Out[0] = Type;
  uint8_t* o = Out + 1;
  for (uint32_t i = 0; i < Bytes; ++i) {
    uint8_t a = i >= Offset ? Raw[i - Offset] : 0;
    uint8_t b = Prior[i];
    uint8_t c = i >= Offset ? Prior[i - Offset] : 0;
    switch (Type) {
      case 1: o[i] = uint8_t(Raw[i] - a); break;
      case 2: o[i] = uint8_t(Raw[i] - b); break;
      case 3: o[i] = uint8_t(Raw[i] - ((a + b) >> 1)); break;
      case 4: o[i] = uint8_t(Raw[i] - Paeth(a, b, c)); break;
      default: o[i] = Raw[i]; break;
    }
  }
}

// Sample K of a row of Bits-bit samples.
inline uint8_t SubSample(const uint8_t* Row, uint32_t K, int Bits) {
  uint32_t bit = K * Bits;
  return uint8_t((Row[bit >> 3] >> (8 - Bits - (bit & 7))) & ((1 << Bits) - 1));
}
inline void PutSubSample(uint8_t* Row, uint32_t X, int Bits, uint8_t V) {
  uint32_t bit = X * Bits;
  int shift = 8 - Bits - int(bit & 7);
  uint8_t mask = uint8_t(((1 << Bits) - 1) << shift);
  Row[bit >> 3] = uint8_t((Row[bit >> 3] & ~mask) | ((V << shift) & mask));
}

// Converts one unfiltered PNG row into the header's storage (DIB row Dst, alpha row Alpha).
void StoreRow(TChunkIHDR* H, const uint8_t* Src, uint8_t* Dst, uint8_t* Alpha, const TRowGeometry& G,
              const uint8_t* Decode) {
  const uint8_t depth = H->BitDepth();
  const uint32_t c0 = G.ColumnStart, inc = G.ColumnIncrement, n = G.Width;
  switch (H->ColorType()) {
    case COLOR_GRAYSCALE:
    case COLOR_PALETTE:
      if (depth == 8) {
        for (uint32_t k = 0; k < n; ++k) Dst[c0 + k * inc] = Src[k];
      } else if (depth == 16) {
        for (uint32_t k = 0; k < n; ++k) Dst[c0 + k * inc] = Src[2 * k];
      } else if (depth == 2) {
        // Two-bit samples go one per nibble; grey levels 0..3 become ramp entries 0, 5, 10, 15.
        const uint8_t scale = H->ColorType() == COLOR_GRAYSCALE ? 5 : 1;
        for (uint32_t k = 0; k < n; ++k) PutSubSample(Dst, c0 + k * inc, 4, uint8_t(SubSample(Src, k, 2) * scale));
      } else if (inc == 1 && c0 == 0) {
        memcpy(Dst, Src, G.RowBytes);
      } else {
        for (uint32_t k = 0; k < n; ++k) PutSubSample(Dst, c0 + k * inc, depth, SubSample(Src, k, depth));
      }
      break;
    case COLOR_RGB:
      if (depth == 8) {
        for (uint32_t k = 0; k < n; ++k) {
          uint8_t* d = Dst + 3 * (c0 + k * inc);
          const uint8_t* s = Src + 3 * k;
          d[0] = Decode[s[2]];
          d[1] = Decode[s[1]];
          d[2] = Decode[s[0]];
        }
      } else {
        for (uint32_t k = 0; k < n; ++k) {
          uint8_t* d = Dst + 3 * (c0 + k * inc);
          const uint8_t* s = Src + 6 * k;
          d[0] = Decode[s[4]];
          d[1] = Decode[s[2]];
          d[2] = Decode[s[0]];
        }
      }
      break;
    case COLOR_GRAYSCALEALPHA: {
      const uint32_t step = depth == 8 ? 2 : 4, alphaAt = depth == 8 ? 1 : 2;
      for (uint32_t k = 0; k < n; ++k) {
        Dst[c0 + k * inc] = Src[step * k];
        Alpha[c0 + k * inc] = Src[step * k + alphaAt];
      }
      break;
    }
    case COLOR_RGBALPHA: {
      const uint32_t step = depth == 8 ? 4 : 8, w = depth == 8 ? 1 : 2;
      for (uint32_t k = 0; k < n; ++k) {
        uint8_t* d = Dst + 3 * (c0 + k * inc);
        const uint8_t* s = Src + step * k;
        d[0] = Decode[s[2 * w]];
        d[1] = Decode[s[w]];
        d[2] = Decode[s[0]];
        Alpha[c0 + k * inc] = s[3 * w];
      }
      break;
    }
  }
}

// The reverse of StoreRow: one PNG row (without type byte) from the storage.
void FetchRow(TChunkIHDR* H, const uint8_t* Src, const uint8_t* Alpha, uint8_t* Out, const TRowGeometry& G,
              const uint8_t* Encode) {
  const uint8_t depth = H->BitDepth();
  const uint32_t c0 = G.ColumnStart, inc = G.ColumnIncrement, n = G.Width;
  switch (H->ColorType()) {
    case COLOR_GRAYSCALE:
    case COLOR_PALETTE:
      if (depth == 8) {
        for (uint32_t k = 0; k < n; ++k) Out[k] = Src[c0 + k * inc];
      } else if (depth == 16) {
        for (uint32_t k = 0; k < n; ++k) {
          Out[2 * k] = Src[c0 + k * inc];
          Out[2 * k + 1] = 0;
        }
      } else if (inc == 1 && c0 == 0) {
        memcpy(Out, Src, G.RowBytes);
      } else {
        memset(Out, 0, G.RowBytes);
        for (uint32_t k = 0; k < n; ++k) PutSubSample(Out, k, depth, SubSample(Src, c0 + k * inc, depth));
      }
      break;
    case COLOR_RGB:
    case COLOR_RGBALPHA: {
      const bool alpha = H->ColorType() == COLOR_RGBALPHA;
      const uint32_t w = depth == 8 ? 1 : 2, step = (alpha ? 4 : 3) * w;
      memset(Out, 0, G.RowBytes);
      for (uint32_t k = 0; k < n; ++k) {
        const uint8_t* s = Src + 3 * (c0 + k * inc);
        uint8_t* o = Out + step * k;
        o[0] = Encode[s[2]];
        o[w] = Encode[s[1]];
        o[2 * w] = Encode[s[0]];
        if (alpha) o[3 * w] = Alpha[c0 + k * inc];
      }
      break;
    }
    case COLOR_GRAYSCALEALPHA: {
      const uint32_t w = depth == 8 ? 1 : 2;
      memset(Out, 0, G.RowBytes);
      for (uint32_t k = 0; k < n; ++k) {
        Out[2 * w * k] = Src[c0 + k * inc];
        Out[2 * w * k + w] = Alpha[c0 + k * inc];
      }
      break;
    }
  }
}

TRowGeometry Geometry(TChunkIHDR* H, uint32_t PassWidth, uint32_t ColumnStart, uint32_t ColumnIncrement) {
  int bits = PngPixelBits(H->ColorType(), H->BitDepth());
  TRowGeometry g;
  g.Width = PassWidth;
  g.RowBytes = static_cast<uint32_t>((static_cast<uint64_t>(PassWidth) * bits + 7) / 8);
  g.PixelOffset = bits >= 8 ? static_cast<uint32_t>(bits / 8) : 1;
  g.ColumnStart = ColumnStart;
  g.ColumnIncrement = ColumnIncrement;
  return g;
}

// ---- Reading image data across IDAT chunks

class TIdatReader {
 public:
  TIdatReader(TStream* Stream, uint32_t Size) : FStream(Stream), FLeft(Size), FInput(65535) {
    static const uint8_t name[4] = {'I', 'D', 'A', 'T'};
    FCrc = UpdateCrc(0xFFFFFFFF, name, 4);
    memset(&FZ, 0, sizeof(FZ));
    int rc = inflateInit(&FZ);
    if (rc != Z_OK) RaiseZlib(rc);
  }
  ~TIdatReader() { inflateEnd(&FZ); }

  // Fills Out with Count bytes of image data; false when the compressed data ended first.
  bool Read(uint8_t* Out, uint32_t Count) {
    if (FEnded) return false;
    FZ.next_out = Out;
    FZ.avail_out = Count;
    while (FZ.avail_out > 0) {
      if (FZ.avail_in == 0 && !Refill(true)) return false;
      int rc = inflate(&FZ, Z_NO_FLUSH);
      if (rc == Z_STREAM_END) {
        FEnded = true;
        return FZ.avail_out == 0;
      }
      if (rc != Z_OK) RaiseZlib(rc);
    }
    return true;
  }

  // Runs the rest of the current chunk through the inflater (so that a damaged end of the data
  // is noticed) and the CRC, then checks the chunk's CRC.
  void Finish() {
    uint8_t scratch[1024];
    while (FLeft > 0 || FZ.avail_in > 0) {
      if (FZ.avail_in == 0 && !Refill(false)) break;
      if (FEnded) {
        FZ.avail_in = 0;
        continue;
      }
      FZ.next_out = scratch;
      FZ.avail_out = sizeof(scratch);
      int rc = inflate(&FZ, Z_NO_FLUSH);
      if (rc == Z_STREAM_END) FEnded = true;
      else if (rc != Z_OK && rc != Z_BUF_ERROR) RaiseZlib(rc);
    }
    CheckCrc();
  }

 private:
  void CheckCrc() {
    if (ReadBE32(FStream) != ~FCrc) RaisePng<EPngInvalidCRC>(TPngMessage::InvalidCRC);
  }

  // More input: the next block of this chunk or, at its end, the next IDAT chunk (NextChunk).
  bool Refill(bool NextChunk) {
    while (FLeft == 0) {
      if (!NextChunk) return false;
      CheckCrc();
      TChunkHeader h = ReadChunkHeader(FStream);
      if (memcmp(h.Name, "IDAT", 4) != 0) RaisePng<EPNGMissingMultipleIDAT>(TPngMessage::MissingMultipleIDAT);
      FCrc = UpdateCrc(0xFFFFFFFF, reinterpret_cast<const uint8_t*>(h.Name), 4);
      FLeft = h.Length;
    }
    uint32_t want = std::min<uint32_t>(FLeft, static_cast<uint32_t>(FInput.size()));
    int32_t n = FStream->Read(FInput.data(), static_cast<int32_t>(want));
    if (n <= 0) {
      FEnded = true;
      return false;
    }
    FCrc = UpdateCrc(FCrc, FInput.data(), static_cast<uint32_t>(n));
    FLeft -= static_cast<uint32_t>(n);
    FZ.next_in = FInput.data();
    FZ.avail_in = static_cast<uInt>(n);
    return true;
  }

  TStream* FStream;
  uint32_t FLeft;  // bytes of the current chunk not yet read
  uint32_t FCrc;
  std::vector<uint8_t> FInput;
  z_stream FZ;
  bool FEnded = false;
};

// ---- Writing image data into IDAT chunks

class TIdatWriter {
 public:
  TIdatWriter(TStream* Stream, int Level, uint32_t ChunkSize) : FStream(Stream), FOut(ChunkSize) {
    memset(&FZ, 0, sizeof(FZ));
    int rc = deflateInit(&FZ, Level);
    if (rc != Z_OK) RaiseZlib(rc);
    FZ.next_out = FOut.data();
    FZ.avail_out = static_cast<uInt>(FOut.size());
  }
  ~TIdatWriter() { deflateEnd(&FZ); }

  void Write(const uint8_t* Data, uint32_t Count) {
    FZ.next_in = const_cast<uint8_t*>(Data);
    FZ.avail_in = Count;
    while (FZ.avail_in > 0) {
      int rc = deflate(&FZ, Z_NO_FLUSH);
      if (rc != Z_OK && rc != Z_BUF_ERROR) RaiseZlib(rc);
      if (FZ.avail_out == 0) Flush();
    }
  }

  void Finish() {
    for (;;) {
      int rc = deflate(&FZ, Z_FINISH);
      if (rc == Z_STREAM_END) break;
      if (rc != Z_OK && rc != Z_BUF_ERROR) RaiseZlib(rc);
      if (FZ.avail_out == 0) Flush();
    }
    uint32_t used = static_cast<uint32_t>(FOut.size() - FZ.avail_out);
    if (used > 0) WriteChunk(FStream, "IDAT", FOut.data(), used);
  }

 private:
  void Flush() {
    WriteChunk(FStream, "IDAT", FOut.data(), static_cast<uint32_t>(FOut.size()));
    FZ.next_out = FOut.data();
    FZ.avail_out = static_cast<uInt>(FOut.size());
  }
  TStream* FStream;
  std::vector<uint8_t> FOut;
  z_stream FZ;
};

// The filter for a row from the set (Candidates[t] = the row filtered with type t, type byte first).
uint8_t ChooseFilter(TFilters Set, std::vector<uint8_t>* Candidates, uint32_t Bytes) {
  if (Set == 0 || Set == pfNone) return 0;
  for (uint8_t t = 0; t < 5; ++t)
    if (Set == (1 << t)) return t;
  uint8_t best = 0;
  uint32_t bestScore = 0;
  for (uint8_t t = 0; t < 5; ++t) {
    if (!(Set & (1 << t))) continue;
    const uint8_t* r = Candidates[t].data() + 1;
    uint32_t score = 0;
    for (uint32_t i = 2; i < Bytes; ++i)
      if (r[i] == r[i - 1] || r[i] == r[i - 2]) ++score;
    if (score > bestScore) {
      bestScore = score;
      best = t;
    }
  }
  return best;
}

}  // namespace

// ---------------------------------------------------------------------------------------------

uint32_t UpdateCrc(uint32_t Crc, const uint8_t* Data, size_t Count) {
  if (!CrcTableComputed) MakeCrcTable();
  const auto& T = CrcTable;
  for (; Count >= 8; Count -= 8, Data += 8) {
    uint32_t lo = Crc ^ (uint32_t(Data[0]) | (uint32_t(Data[1]) << 8) | (uint32_t(Data[2]) << 16) | (uint32_t(Data[3]) << 24));
    uint32_t hi = uint32_t(Data[4]) | (uint32_t(Data[5]) << 8) | (uint32_t(Data[6]) << 16) | (uint32_t(Data[7]) << 24);
    Crc = T[7][lo & 0xFF] ^ T[6][(lo >> 8) & 0xFF] ^ T[5][(lo >> 16) & 0xFF] ^ T[4][lo >> 24] ^ T[3][hi & 0xFF] ^
          T[2][(hi >> 8) & 0xFF] ^ T[1][(hi >> 16) & 0xFF] ^ T[0][hi >> 24];
  }
  for (; Count > 0; --Count, ++Data) Crc = T[0][(Crc ^ *Data) & 0xFF] ^ (Crc >> 8);
  return Crc;
}

uint32_t PngCrc(const uint8_t* Data, size_t Count) { return ~UpdateCrc(0xFFFFFFFF, Data, Count); }

void PngCodecInitialize() {
  if (!CrcTableComputed) MakeCrcTable();
  ChunkClasses.clear();
  RegisterChunk<TChunkIEND>("IEND");
  RegisterChunk<TChunkIHDR>("IHDR");
  RegisterChunk<TChunkIDAT>("IDAT");
  RegisterChunk<TChunkPLTE>("PLTE");
  RegisterChunk<TChunkgAMA>("gAMA");
  RegisterChunk<TChunktRNS>("tRNS");
  RegisterChunk<TChunkpHYs>("pHYs");
  RegisterChunk<TChunktIME>("tIME");
  RegisterChunk<TChunktEXt>("tEXt");
  RegisterChunk<TChunkzTXt>("zTXt");
  TPicture::RegisterFileFormat("PNG", "Portable Network Graphics", &NewPngGraphic);
}

void PngCodecFinalize() {
  TPicture::UnregisterGraphicClass(&NewPngGraphic);
  ChunkClasses.clear();
}

std::unique_ptr<TChunk> CreateChunk(TPNGObject* Owner, const char* Name) {
  for (const auto& c : ChunkClasses)
    if (memcmp(c.Name, Name, 4) == 0) return c.Make(Owner);
  return std::make_unique<TChunk>(Owner, Name);
}

TChunk* TPNGList::Add(std::unique_ptr<TChunk> Chunk) {
  FItems.push_back(std::move(Chunk));
  return FItems.back().get();
}

// ---- TChunk

TChunk::TChunk(TPNGObject* Owner, const char* Name) : FOwner(Owner) { memcpy(FName, Name, 4); }

void TChunk::ResizeData(uint32_t Size) {
  FData.resize(static_cast<size_t>(Size) + 1);
  FData[Size] = 0;
  FSize = Size;
}

void TChunk::Assign(TChunk* Source) {
  memcpy(FName, Source->FName, 4);
  FSize = Source->FSize;
  FData = Source->FData;
}

bool TChunk::LoadFromStream(TStream* Stream, const char* ChunkName, uint32_t Size) {
  ResizeData(Size);
  ReadOrEnd(Stream, FData.data(), Size);
  uint32_t crc = UpdateCrc(0xFFFFFFFF, reinterpret_cast<const uint8_t*>(ChunkName), 4);
  crc = ~UpdateCrc(crc, FData.data(), Size);
  if (ReadBE32(Stream) != crc) RaisePng<EPngInvalidCRC>(TPngMessage::InvalidCRC);
  return true;
}

bool TChunk::SaveToStream(TStream* Stream) {
  WriteChunk(Stream, FName, FData.data(), FSize);
  return true;
}

// ---- TChunkIHDR

TChunkIHDR::~TChunkIHDR() { FreeImageData(); }

void TChunkIHDR::FreeImageData() {
  HDC dc = static_cast<HDC>(FImageDC);
  if (dc && FOldBitmap) SelectObject(dc, static_cast<HGDIOBJ>(FOldBitmap));
  if (FImageHandle) DeleteObject(static_cast<HBITMAP>(FImageHandle));
  if (dc) DeleteDC(dc);
  if (FImagePalette) DeleteObject(static_cast<HPALETTE>(FImagePalette));
  FImageHandle = FImageDC = FOldBitmap = FImagePalette = nullptr;
  FImageData = nullptr;
  FImageAlpha.clear();
  FImageAlpha.shrink_to_fit();
  FHasPalette = false;
}

void TChunkIHDR::SetHeader(uint32_t Width, uint32_t Height, uint8_t BitDepth, uint8_t ColorType, uint8_t Interlace) {
  FWidth = Width;
  FHeight = Height;
  FBitDepth = BitDepth;
  FColorType = ColorType;
  FCompressionMethod = 0;
  FFilterMethod = 0;
  FInterlaceMethod = Interlace;
}

bool TChunkIHDR::LoadFromStream(TStream* Stream, const char* ChunkName, uint32_t Size) {
  TChunk::LoadFromStream(Stream, ChunkName, Size);
  if (FSize < 13) RaisePng<EPngInvalidIHDR>(TPngMessage::InvalidIHDR);
  const uint8_t* d = FData.data();
  FWidth = GetBE32(d);
  FHeight = GetBE32(d + 4);
  FBitDepth = d[8];
  FColorType = d[9];
  FCompressionMethod = d[10];
  FFilterMethod = d[11];
  FInterlaceMethod = d[12];
  if (FWidth >= 65536 || FHeight >= 65536) RaisePng<EPNGSizeExceeds>(TPngMessage::SizeExceeds);
  if (FCompressionMethod != 0) RaisePng<EPNGUnknownCompression>(TPngMessage::UnknownCompression);
  if (FInterlaceMethod > 1) RaisePng<EPNGUnknownInterlace>(TPngMessage::UnknownInterlace);
  if (FWidth == 0 || FHeight == 0 || PngPixelBits(FColorType, FBitDepth) == 0)
    RaisePng<EPngInvalidIHDR>(TPngMessage::InvalidIHDR);
  // Image data larger than the rest of the stream could inflate to: the file has been cut.
  uint64_t rowBytes = (static_cast<uint64_t>(FWidth) * PngPixelBits(FColorType, FBitDepth)) / 8;
  int64_t left = Stream->Size() - Stream->Position();
  if (left < 0 || rowBytes * FHeight > MaxInflateRatio * static_cast<uint64_t>(left) + 65536)
    RaisePng<EPngUnexpectedEnd>(TPngMessage::UnexpectedEnd);
  FOwner->SetInterlaceMode(FInterlaceMethod);
  PrepareImageData();
  return true;
}

bool TChunkIHDR::SaveToStream(TStream* Stream) {
  if (FBitDepth == 2) FBitDepth = 4;  // two-bit images are kept, and written, as four-bit ones
  ResizeData(13);
  uint8_t* d = FData.data();
  PutBE32(d, FWidth);
  PutBE32(d + 4, FHeight);
  d[8] = FBitDepth;
  d[9] = FColorType;
  d[10] = FCompressionMethod;
  d[11] = FFilterMethod;
  d[12] = FOwner->InterlaceMode();
  return TChunk::SaveToStream(Stream);
}

void TChunkIHDR::BuildGreyRamp() {
  int entries = 1 << DIBBits();
  LOGPALETTE* lp = reinterpret_cast<LOGPALETTE*>(new uint8_t[sizeof(LOGPALETTE) + 256 * sizeof(PALETTEENTRY)]);
  lp->palVersion = 0x300;
  lp->palNumEntries = static_cast<WORD>(entries);
  const uint8_t* decode = FOwner->GammaTable();
  for (int i = 0; i < entries; ++i) {
    uint8_t v = decode[MulDiv(i, 255, entries - 1)];
    lp->palPalEntry[i] = PALETTEENTRY{v, v, v, 0};
  }
  HPALETTE pal = CreatePalette(lp);
  delete[] reinterpret_cast<uint8_t*>(lp);
  if (!pal) RaisePng<EPNGOutMemory>(TPngMessage::OutMemory);
  SetImagePalette(pal);
}

void TChunkIHDR::SetImagePalette(void* Palette) {
  HDC dc = static_cast<HDC>(FImageDC);
  HPALETTE pal = static_cast<HPALETTE>(Palette);
  if (dc && pal) {
    int entries = 1 << DIBBits();
    PALETTEENTRY pe[256]{};
    UINT got = GetPaletteEntries(pal, 0, 256, pe);
    if (static_cast<int>(got) != entries) ResizePalette(pal, entries);
    got = GetPaletteEntries(pal, 0, entries, pe);
    SelectPalette(dc, pal, FALSE);
    RealizePalette(dc);
    for (int i = 0; i < 256; ++i)
      FBitmapInfo.bmiColors[i] = i < static_cast<int>(got) ? TPngRGBQuad{pe[i].peBlue, pe[i].peGreen, pe[i].peRed, 0}
                                                            : TPngRGBQuad{0, 0, 0, 0};
    if (FImageHandle) SetDIBColorTable(dc, 0, entries, reinterpret_cast<RGBQUAD*>(FBitmapInfo.bmiColors));
  }
  if (FImagePalette && FImagePalette != Palette) {
    if (dc) SelectPalette(dc, static_cast<HPALETTE>(GetStockObject(DEFAULT_PALETTE)), FALSE);
    DeleteObject(static_cast<HPALETTE>(FImagePalette));
    if (dc && pal) SelectPalette(dc, pal, FALSE);
  }
  FImagePalette = Palette;
}

void TChunkIHDR::PrepareImageData() {
  FreeImageData();
  if (FWidth == 0 || FHeight == 0 || PngPixelBits(FColorType, FBitDepth) == 0)
    RaisePng<EPngInvalidIHDR>(TPngMessage::InvalidIHDR);
  int bits = DIBBitsFor(FColorType, FBitDepth);
  uint64_t bpr = ((static_cast<uint64_t>(bits) * FWidth + 31) & ~uint64_t(31)) >> 3;
  if (bpr * FHeight > 0x7FFFFFFF) RaisePng<EPNGOutMemory>(TPngMessage::OutMemory);
  memset(&FBitmapInfo, 0, sizeof(FBitmapInfo));
  FBitmapInfo.biSize = 40;
  FBitmapInfo.biWidth = static_cast<int32_t>(FWidth);
  FBitmapInfo.biHeight = static_cast<int32_t>(FHeight);
  FBitmapInfo.biPlanes = 1;
  FBitmapInfo.biBitCount = static_cast<uint16_t>(bits);
  FBitmapInfo.biCompression = BI_RGB;
  FBytesPerRow = static_cast<uint32_t>(bpr);
  if (FColorType == COLOR_GRAYSCALEALPHA || FColorType == COLOR_RGBALPHA) {
    try {
      FImageAlpha.assign(static_cast<size_t>(FWidth) * FHeight, 0);
    } catch (const std::bad_alloc&) {
      RaisePng<EPNGOutMemory>(TPngMessage::OutMemory);
    }
  }
  HDC screen = GetDC(nullptr);
  HDC dc = CreateCompatibleDC(screen);
  if (!dc) {
    ReleaseDC(nullptr, screen);
    RaisePng<EPNGOutMemory>(TPngMessage::OutMemory);
  }
  FImageDC = dc;
  FHasPalette = bits <= 8;
  if (FHasPalette) {
    FBitmapInfo.biClrUsed = 1u << bits;
    if (FColorType == COLOR_PALETTE) {
      HPALETTE pal = CreateHalftonePalette(dc);
      if (!pal) {
        ReleaseDC(nullptr, screen);
        RaisePng<EPNGOutMemory>(TPngMessage::OutMemory);
      }
      SetImagePalette(pal);
    } else {
      BuildGreyRamp();
    }
  }
  ReleaseDC(nullptr, screen);
  void* pixels = nullptr;
  HBITMAP bmp = CreateDIBSection(dc, reinterpret_cast<BITMAPINFO*>(&FBitmapInfo), DIB_RGB_COLORS, &pixels, nullptr, 0);
  if (!bmp || !pixels) {
    if (bmp) DeleteObject(bmp);
    RaisePng<EPNGOutMemory>(TPngMessage::OutMemory);
  }
  FImageHandle = bmp;
  FOldBitmap = SelectObject(dc, bmp);
  FImageData = static_cast<uint8_t*>(pixels);
  memset(FImageData, 0, static_cast<size_t>(bpr * FHeight));
}

void TChunkIHDR::Assign(TChunk* Source) {
  auto* src = dynamic_cast<TChunkIHDR*>(Source);
  if (!src) RaisePng<EPngError>(TPngMessage::CannotAssignChunk);
  TChunk::Assign(Source);
  FWidth = src->FWidth;
  FHeight = src->FHeight;
  FBitDepth = src->FBitDepth;
  FColorType = src->FColorType;
  FCompressionMethod = src->FCompressionMethod;
  FFilterMethod = src->FFilterMethod;
  FInterlaceMethod = src->FInterlaceMethod;
  if (!src->FImageData) {
    FreeImageData();
    return;
  }
  PrepareImageData();
  memcpy(FImageData, src->FImageData, static_cast<size_t>(FBytesPerRow) * FHeight);
  if (!src->FImageAlpha.empty()) FImageAlpha = src->FImageAlpha;
  memcpy(FBitmapInfo.bmiColors, src->FBitmapInfo.bmiColors, sizeof(FBitmapInfo.bmiColors));
  if (FHasPalette && src->FImagePalette) {
    PALETTEENTRY pe[256]{};
    UINT n = GetPaletteEntries(static_cast<HPALETTE>(src->FImagePalette), 0, 256, pe);
    std::vector<uint8_t> buf(sizeof(LOGPALETTE) + 256 * sizeof(PALETTEENTRY));
    auto* lp = reinterpret_cast<LOGPALETTE*>(buf.data());
    lp->palVersion = 0x300;
    lp->palNumEntries = static_cast<WORD>(n);
    memcpy(lp->palPalEntry, pe, n * sizeof(PALETTEENTRY));
    if (HPALETTE pal = CreatePalette(lp)) SetImagePalette(pal);
  }
}

void TChunkIHDR::Resize(uint32_t CX, uint32_t CY) {
  HDC dc = static_cast<HDC>(FImageDC);
  if (!dc || !FImageData) RaisePng<EPNGHeaderNotPresent>(TPngMessage::HeaderNotPresent);
  int bits = DIBBits();
  uint64_t bpr = ((static_cast<uint64_t>(bits) * CX + 31) & ~uint64_t(31)) >> 3;
  if (bpr * CY > 0x7FFFFFFF) RaisePng<EPNGOutMemory>(TPngMessage::OutMemory);
  TPngBitmapInfo info = FBitmapInfo;
  info.biWidth = static_cast<int32_t>(CX);
  info.biHeight = static_cast<int32_t>(CY);
  void* pixels = nullptr;
  HBITMAP bmp = CreateDIBSection(dc, reinterpret_cast<BITMAPINFO*>(&info), DIB_RGB_COLORS, &pixels, nullptr, 0);
  if (!bmp || !pixels) {
    if (bmp) DeleteObject(bmp);
    RaisePng<EPNGOutMemory>(TPngMessage::OutMemory);
  }
  auto* newData = static_cast<uint8_t*>(pixels);
  memset(newData, 0, static_cast<size_t>(bpr * CY));
  uint32_t rows = std::min(CY, FHeight), cols = std::min(CX, FWidth);
  uint32_t copyBytes = static_cast<uint32_t>((static_cast<uint64_t>(cols) * bits + 7) / 8);
  for (uint32_t y = 0; y < rows; ++y)
    memcpy(newData + static_cast<size_t>(CY - 1 - y) * bpr, Scanline(y), copyBytes);
  if (bits < 8 && (cols * bits) % 8 != 0) {
    // The last byte copied may hold pixels past the new width: clear them.
    uint8_t keep = uint8_t(0xFF << (8 - (cols * bits) % 8));
    for (uint32_t y = 0; y < rows; ++y) newData[static_cast<size_t>(CY - 1 - y) * bpr + copyBytes - 1] &= keep;
  }
  if (!FImageAlpha.empty()) {
    std::vector<uint8_t> alpha(static_cast<size_t>(CX) * CY, 0);
    for (uint32_t y = 0; y < rows; ++y) memcpy(&alpha[static_cast<size_t>(y) * CX], AlphaScanline(y), cols);
    FImageAlpha.swap(alpha);
  }
  SelectObject(dc, bmp);
  DeleteObject(static_cast<HBITMAP>(FImageHandle));
  FImageHandle = bmp;
  FImageData = newData;
  FBitmapInfo = info;
  FBytesPerRow = static_cast<uint32_t>(bpr);
  FWidth = CX;
  FHeight = CY;
}

// ---- TChunkPLTE

void TChunkPLTE::Assign(TChunk* Source) {
  TChunk::Assign(Source);
  if (auto* p = dynamic_cast<TChunkPLTE*>(Source)) FCount = p->FCount;
}

bool TChunkPLTE::LoadFromStream(TStream* Stream, const char* ChunkName, uint32_t Size) {
  TChunk::LoadFromStream(Stream, ChunkName, Size);
  if (FSize % 3 != 0 || FSize / 3 > 256) RaisePng<EPNGInvalidPalette>(TPngMessage::InvalidPalette);
  FCount = static_cast<int>(FSize / 3);
  TChunkIHDR* h = FOwner->Header();
  const uint8_t* decode = FOwner->GammaTable();
  std::vector<uint8_t> buf(sizeof(LOGPALETTE) + 256 * sizeof(PALETTEENTRY));
  auto* lp = reinterpret_cast<LOGPALETTE*>(buf.data());
  lp->palVersion = 0x300;
  lp->palNumEntries = static_cast<WORD>(std::max(FCount, 1));
  for (int i = 0; i < FCount; ++i)
    lp->palPalEntry[i] = PALETTEENTRY{decode[FData[3 * i]], decode[FData[3 * i + 1]], decode[FData[3 * i + 2]], 0};
  if (!h->HasPalette()) return true;  // a suggested palette of an RGB image
  HPALETTE pal = CreatePalette(lp);
  if (!pal) RaisePng<EPNGOutMemory>(TPngMessage::OutMemory);
  h->SetImagePalette(pal);
  return true;
}

bool TChunkPLTE::SaveToStream(TStream* Stream) {
  TChunkIHDR* h = FOwner->Header();
  int count = FCount;
  if (count == 0) count = h->HasPalette() ? static_cast<int>(h->BitmapInfo().biClrUsed) : 0;
  count = std::clamp(count, 0, 256);
  if (h->HasPalette()) {
    const uint8_t* encode = FOwner->InverseGamma();
    ResizeData(static_cast<uint32_t>(count * 3));
    for (int i = 0; i < count; ++i) {
      const TPngRGBQuad& c = h->BitmapInfo().bmiColors[i];
      FData[3 * i] = encode[c.Red];
      FData[3 * i + 1] = encode[c.Green];
      FData[3 * i + 2] = encode[c.Blue];
    }
  }
  return TChunk::SaveToStream(Stream);
}

TPngRGBQuad TChunkPLTE::Item(int Index) {
  TChunkIHDR* h = FOwner->Header();
  int count = FCount ? FCount : (h->HasPalette() ? static_cast<int>(h->BitmapInfo().biClrUsed) : 0);
  if (Index < 0 || Index >= count || Index > 255) RaisePng<EPngError>(TPngMessage::NoSuchPaletteEntry);
  return h->BitmapInfo().bmiColors[Index];
}

// ---- TChunktRNS

void TChunktRNS::Assign(TChunk* Source) {
  TChunk::Assign(Source);
  if (auto* t = dynamic_cast<TChunktRNS*>(Source)) {
    FBitTransparency = t->FBitTransparency;
    memcpy(FPaletteValues, t->FPaletteValues, 256);
  }
}

bool TChunktRNS::LoadFromStream(TStream* Stream, const char* ChunkName, uint32_t Size) {
  TChunk::LoadFromStream(Stream, ChunkName, Size);
  if (FSize > 256) RaisePng<EPNGInvalidPalette>(TPngMessage::InvalidPalette);
  memset(FPaletteValues, 255, 256);
  memcpy(FPaletteValues, FData.data(), FSize);
  TChunkIHDR* h = FOwner->Header();
  if (h->ColorType() == COLOR_PALETTE) {
    // One colour keyed out only when a single entry is given as fully transparent; any graded
    // alpha is partial transparency.
    int below = 0, zero = 0;
    for (uint32_t i = 0; i < FSize; ++i) {
      if (FData[i] < 255) ++below;
      if (FData[i] == 0) ++zero;
    }
    FBitTransparency = below == 1 && zero == 1;
  } else {
    FBitTransparency = true;
  }
  return true;
}

bool TChunktRNS::SaveToStream(TStream* Stream) {
  uint32_t size = std::min<uint32_t>(FSize, 256);
  std::vector<uint8_t> keep(FPaletteValues, FPaletteValues + size);
  ResizeData(size);
  memcpy(FData.data(), keep.data(), size);
  return TChunk::SaveToStream(Stream);
}

TColor TChunktRNS::TransparentColor() {
  TChunkIHDR* h = FOwner->Header();
  const uint8_t* decode = FOwner->GammaTable();
  // The byte the pixels keep: the high byte of 16-bit samples, the low byte otherwise.
  const int at = h->BitDepth() == 16 ? 0 : 1;
  switch (h->ColorType()) {
    case COLOR_GRAYSCALE: {
      if (FSize < 2) return 0;
      uint8_t index = FData[at];
      if (h->BitDepth() == 2) index = uint8_t((index & 3) * 5);  // two-bit levels are kept as 0, 5, 10, 15
      const TPngRGBQuad& c = h->BitmapInfo().bmiColors[index];
      return RGB(c.Red, c.Green, c.Blue);
    }
    case COLOR_RGB:
      if (FSize < 6) return 0;
      return RGB(decode[FData[at]], decode[FData[2 + at]], decode[FData[4 + at]]);
    case COLOR_PALETTE:
      for (uint32_t i = 0; i < FSize; ++i)
        if (FPaletteValues[i] == 0) {
          const TPngRGBQuad& c = h->BitmapInfo().bmiColors[i];
          return RGB(c.Red, c.Green, c.Blue);
        }
      return 0;
    default:
      return 0;
  }
}

void TChunktRNS::SetTransparentColor(TColor Value) {
  TChunkIHDR* h = FOwner->Header();
  memset(FPaletteValues, 0, 256);
  FBitTransparency = true;
  const uint8_t r = GetRValue(Value), g = GetGValue(Value), b = GetBValue(Value);
  // Samples are stored as written: 16-bit ones in their high byte, sub-byte grey as levels.
  auto sample = [&](uint8_t V) -> uint16_t {
    switch (h->BitDepth()) {
      case 16: return uint16_t(V << 8);
      case 1:
      case 2:
      case 4: return uint16_t((V * ((1 << h->BitDepth()) - 1) + 127) / 255);
      default: return V;
    }
  };
  switch (h->ColorType()) {
    case COLOR_GRAYSCALE:
      ResizeData(2);
      PutBE16(FPaletteValues, sample(r));
      break;
    case COLOR_RGB:
      ResizeData(6);
      PutBE16(FPaletteValues, sample(r));
      PutBE16(FPaletteValues + 2, sample(g));
      PutBE16(FPaletteValues + 4, sample(b));
      break;
    case COLOR_PALETTE: {
      int count = static_cast<int>(h->BitmapInfo().biClrUsed);
      ResizeData(0);
      for (int i = 0; i < count && i < 256; ++i) {
        const TPngRGBQuad& c = h->BitmapInfo().bmiColors[i];
        if (c.Red == r && c.Green == g && c.Blue == b) {
          memset(FPaletteValues, 255, i);
          FPaletteValues[i] = 0;
          ResizeData(static_cast<uint32_t>(i + 1));
          break;
        }
      }
      break;
    }
    default:
      ResizeData(0);
      break;
  }
  memcpy(FData.data(), FPaletteValues, FSize);
}

// ---- TChunkIDAT

bool TChunkIDAT::LoadFromStream(TStream* Stream, const char* ChunkName, uint32_t Size) {
  TChunkIHDR* h = FOwner->Header();
  if (!h->ImageData()) RaisePng<EPNGHeaderNotPresent>(TPngMessage::HeaderNotPresent);
  if (h->HasPalette() && (h->ColorType() == COLOR_GRAYSCALE || h->ColorType() == COLOR_GRAYSCALEALPHA))
    h->BuildGreyRamp();
  TIdatReader reader(Stream, Size);
  const uint8_t* decode = FOwner->GammaTable();
  const bool interlaced = h->InterlaceMethod() == 1;
  TRowGeometry full = Geometry(h, h->Width(), 0, 1);
  std::vector<uint8_t> row(full.RowBytes + 1), prior(full.RowBytes + 1);
  for (int pass = interlaced ? 0 : 6; pass < 7; ++pass) {
    const uint32_t r0 = interlaced ? RowStart[pass] : 0, rinc = interlaced ? RowIncrement[pass] : 1;
    TRowGeometry g = interlaced ? Geometry(h, PassSize(h->Width(), ColumnStart[pass], ColumnIncrement[pass]),
                                           ColumnStart[pass], ColumnIncrement[pass])
                                : full;
    if (g.Width == 0) continue;
    std::fill(prior.begin(), prior.end(), 0);
    for (uint32_t y = r0; y < h->Height(); y += rinc) {
      if (!reader.Read(row.data(), g.RowBytes + 1)) {
        reader.Finish();
        return true;  // the image data ended early: the rest stays zero
      }
      Unfilter(row.data(), prior.data(), g.RowBytes, g.PixelOffset);
      StoreRow(h, row.data() + 1, h->Scanline(y), h->AlphaScanline(y), g, decode);
      row.swap(prior);
    }
  }
  reader.Finish();
  return true;
}

bool TChunkIDAT::SaveToStream(TStream* Stream) {
  TChunkIHDR* h = FOwner->Header();
  if (!h->ImageData()) RaisePng<EPNGHeaderNotPresent>(TPngMessage::HeaderNotPresent);
  TIdatWriter writer(Stream, FOwner->DeflateLevel(), static_cast<uint32_t>(FOwner->MaxIdatChunkSize()));
  const uint8_t* encode = FOwner->InverseGamma();
  const TFilters set = FOwner->FilterSet();
  const bool interlaced = FOwner->InterlaceMode() == 1;
  TRowGeometry full = Geometry(h, h->Width(), 0, 1);
  std::vector<uint8_t> raw(full.RowBytes + 1), prior(full.RowBytes + 1);
  std::vector<uint8_t> candidates[5];
  for (auto& c : candidates) c.resize(full.RowBytes + 1);
  for (int pass = interlaced ? 0 : 6; pass < 7; ++pass) {
    const uint32_t r0 = interlaced ? RowStart[pass] : 0, rinc = interlaced ? RowIncrement[pass] : 1;
    TRowGeometry g = interlaced ? Geometry(h, PassSize(h->Width(), ColumnStart[pass], ColumnIncrement[pass]),
                                           ColumnStart[pass], ColumnIncrement[pass])
                                : full;
    if (g.Width == 0) continue;
    std::fill(prior.begin(), prior.end(), 0);
    for (uint32_t y = r0; y < h->Height(); y += rinc) {
      FetchRow(h, h->Scanline(y), h->AlphaScanline(y), raw.data(), g, encode);
      for (uint8_t t = 1; t < 5; ++t)
        if (set & (1 << t)) FilterRow(t, raw.data(), prior.data(), candidates[t].data(), g.RowBytes, g.PixelOffset);
      candidates[0][0] = 0;
      memcpy(candidates[0].data() + 1, raw.data(), g.RowBytes);
      uint8_t t = ChooseFilter(set, candidates, g.RowBytes);
      writer.Write(candidates[t].data(), g.RowBytes + 1);
      raw.swap(prior);
    }
  }
  writer.Finish();
  return true;
}

// ---- Ancillary chunks

TChunkgAMA::TChunkgAMA(TPNGObject* Owner) : TChunk(Owner, "gAMA") { SetGamma(1); }

uint32_t TChunkgAMA::Gamma() const { return FSize >= 4 ? GetBE32(FData.data()) : 0; }

void TChunkgAMA::SetGamma(uint32_t Value) {
  ResizeData(4);
  PutBE32(FData.data(), Value);
}

bool TChunkgAMA::LoadFromStream(TStream* Stream, const char* ChunkName, uint32_t Size) {
  TChunk::LoadFromStream(Stream, ChunkName, Size);
  if (uint32_t g = Gamma()) FOwner->BuildGammaTables(g);
  return true;
}

void TChunkpHYs::Assign(TChunk* Source) {
  TChunk::Assign(Source);
  if (auto* p = dynamic_cast<TChunkpHYs*>(Source)) {
    PPUnitX = p->PPUnitX;
    PPUnitY = p->PPUnitY;
    UnitType = p->UnitType;
  }
}

bool TChunkpHYs::LoadFromStream(TStream* Stream, const char* ChunkName, uint32_t Size) {
  TChunk::LoadFromStream(Stream, ChunkName, Size);
  if (FSize == 9) {
    PPUnitX = GetBE32(FData.data());
    PPUnitY = GetBE32(FData.data() + 4);
    UnitType = FData[8];
  }
  return true;
}

bool TChunkpHYs::SaveToStream(TStream* Stream) {
  ResizeData(9);
  PutBE32(FData.data(), PPUnitX);
  PutBE32(FData.data() + 4, PPUnitY);
  FData[8] = UnitType;
  return TChunk::SaveToStream(Stream);
}

void TChunktIME::Assign(TChunk* Source) {
  TChunk::Assign(Source);
  if (auto* t = dynamic_cast<TChunktIME*>(Source)) {
    Year = t->Year;
    Month = t->Month;
    Day = t->Day;
    Hour = t->Hour;
    Minute = t->Minute;
    Second = t->Second;
  }
}

bool TChunktIME::LoadFromStream(TStream* Stream, const char* ChunkName, uint32_t Size) {
  TChunk::LoadFromStream(Stream, ChunkName, Size);
  if (FSize == 7) {
    Year = GetBE16(FData.data());
    Month = FData[2];
    Day = FData[3];
    Hour = FData[4];
    Minute = FData[5];
    Second = FData[6];
  }
  return true;
}

bool TChunktIME::SaveToStream(TStream* Stream) {
  ResizeData(7);
  PutBE16(FData.data(), Year);
  FData[2] = Month;
  FData[3] = Day;
  FData[4] = Hour;
  FData[5] = Minute;
  FData[6] = Second;
  return TChunk::SaveToStream(Stream);
}

void TChunktEXt::Assign(TChunk* Source) {
  TChunk::Assign(Source);
  if (auto* t = dynamic_cast<TChunktEXt*>(Source)) {
    Keyword = t->Keyword;
    Text = t->Text;
  }
}

bool TChunktEXt::LoadFromStream(TStream* Stream, const char* ChunkName, uint32_t Size) {
  TChunk::LoadFromStream(Stream, ChunkName, Size);
  if (FSize >= 3) {
    const char* d = reinterpret_cast<const char*>(FData.data());
    const char* zero = static_cast<const char*>(memchr(d, 0, FSize));
    if (zero) {
      Keyword.assign(d, zero);
      Text.assign(zero + 1, d + FSize);
    } else {
      // No separator: all keyword.
      Keyword.assign(d, FSize);
      Text.clear();
    }
  }
  return true;
}

bool TChunktEXt::SaveToStream(TStream* Stream) {
  ResizeData(static_cast<uint32_t>(Keyword.size() + 1 + Text.size()));
  memcpy(FData.data(), Keyword.data(), Keyword.size());
  FData[Keyword.size()] = 0;
  memcpy(FData.data() + Keyword.size() + 1, Text.data(), Text.size());
  return TChunk::SaveToStream(Stream);
}

bool TChunkzTXt::LoadFromStream(TStream* Stream, const char* ChunkName, uint32_t Size) {
  TChunk::LoadFromStream(Stream, ChunkName, Size);
  Keyword.clear();
  Text.clear();
  if (FSize < 4) return true;
  const uint8_t* d = FData.data();
  const uint8_t* zero = static_cast<const uint8_t*>(memchr(d, 0, FSize));
  // No separator, or no method byte after it: the text stays empty.
  if (!zero || zero + 1 >= d + FSize) {
    Keyword.assign(reinterpret_cast<const char*>(d), zero ? zero - d : FSize);
    return true;
  }
  Keyword.assign(reinterpret_cast<const char*>(d), static_cast<size_t>(zero - d));
  if (zero[1] != 0) return true;
  const uint8_t* in = zero + 2;
  z_stream z;
  memset(&z, 0, sizeof(z));
  if (inflateInit(&z) != Z_OK) return true;
  z.next_in = const_cast<uint8_t*>(in);
  z.avail_in = static_cast<uInt>(d + FSize - in);
  std::string out;
  uint8_t step[256];
  int rc;
  do {
    z.next_out = step;
    z.avail_out = sizeof(step);
    rc = inflate(&z, Z_NO_FLUSH);
    out.append(reinterpret_cast<char*>(step), sizeof(step) - z.avail_out);
    // A text this long is not a comment but an attempt to exhaust memory: treated as damaged.
    if (out.size() > MaxInflatedText) rc = Z_MEM_ERROR;
  } while (rc == Z_OK && z.avail_out == 0);
  inflateEnd(&z);
  if (rc == Z_STREAM_END || (rc == Z_OK && z.avail_in == 0)) Text = std::move(out);
  return true;
}

bool TChunkzTXt::SaveToStream(TStream* Stream) {
  if (Text.empty()) Text = " ";
  uLongf bound = compressBound(static_cast<uLong>(Text.size()));
  std::vector<uint8_t> packed(bound);
  z_stream z;
  memset(&z, 0, sizeof(z));
  if (deflateInit(&z, FOwner->DeflateLevel()) != Z_OK) return false;
  z.next_in = reinterpret_cast<Bytef*>(Text.data());
  z.avail_in = static_cast<uInt>(Text.size());
  z.next_out = packed.data();
  z.avail_out = static_cast<uInt>(packed.size());
  int rc = deflate(&z, Z_FINISH);
  uint32_t used = static_cast<uint32_t>(packed.size() - z.avail_out);
  deflateEnd(&z);
  if (rc != Z_STREAM_END) return false;
  ResizeData(static_cast<uint32_t>(Keyword.size() + 2 + used));
  memcpy(FData.data(), Keyword.data(), Keyword.size());
  FData[Keyword.size()] = 0;
  FData[Keyword.size() + 1] = 0;
  memcpy(FData.data() + Keyword.size() + 2, packed.data(), used);
  return TChunk::SaveToStream(Stream);
}

// ---------------------------------------------------------------------------------------------
// TPNGObject

TPNGObject::TPNGObject() {
  for (int i = 0; i < 256; ++i) FGammaTable[i] = FInverseGamma[i] = static_cast<uint8_t>(i);
}

TPNGObject::~TPNGObject() { FChunkList.Clear(); }

void TPNGObject::ClearChunks() {
  FChunkList.Clear();
  for (int i = 0; i < 256; ++i) FGammaTable[i] = FInverseGamma[i] = static_cast<uint8_t>(i);
}

void TPNGObject::BuildGammaTables(uint32_t Gamma) {
  if (Gamma == 0) return;
  const double exponent = 1.0 / ((Gamma / 100000.0) * 2.2);
  for (int i = 0; i < 256; ++i) {
    FGammaTable[i] = i == 0 ? 0 : static_cast<uint8_t>(std::clamp<int64_t>(Round(255.0 * std::pow(i / 255.0, exponent)), 0, 255));
  }
  for (int i = 0; i < 256; ++i) FInverseGamma[FGammaTable[i]] = static_cast<uint8_t>(i);
}

TChunkIHDR* TPNGObject::Header() const {
  if (FChunkList.Count() == 0) RaisePng<EPNGHeaderNotPresent>(TPngMessage::HeaderNotPresent);
  auto* h = dynamic_cast<TChunkIHDR*>(FChunkList.Item(0));
  if (!h) RaisePng<EPNGHeaderNotPresent>(TPngMessage::HeaderNotPresent);
  return h;
}

int TPNGObject::GetWidth() const { return GetEmpty() ? 0 : static_cast<int>(Header()->Width()); }
int TPNGObject::GetHeight() const { return GetEmpty() ? 0 : static_cast<int>(Header()->Height()); }
void TPNGObject::SetWidth(int Value) { Resize(Value, GetHeight()); }
void TPNGObject::SetHeight(int Value) { Resize(GetWidth(), Value); }
void* TPNGObject::GetPalette() const { return GetEmpty() ? nullptr : Header()->ImagePalette(); }

void TPNGObject::SetPalette(void* Value) {
  TChunkIHDR* h = Header();
  if (!h->HasPalette()) {
    if (Value) DeleteObject(static_cast<HPALETTE>(Value));
    return;
  }
  h->SetImagePalette(Value);
  Changed();
}

void TPNGObject::LoadFromStream(TStream* Stream) {
  ClearChunks();
  uint8_t sig[8];
  if (!ReadExact(Stream, sig, 8) || memcmp(sig, PngSignature, 8) != 0)
    RaisePng<EPNGInvalidFileHeader>(TPngMessage::InvalidFileHeader);
  bool haveIdat = false;
  for (;;) {
    TChunkHeader head = ReadChunkHeader(Stream);
    if (FChunkList.Count() == 0 && memcmp(head.Name, "IHDR", 4) != 0)
      RaisePng<EPNGIHDRNotFirst>(TPngMessage::IHDRNotFirst);
    if (memcmp(head.Name, "cHRM", 4) == 0 || (haveIdat && memcmp(head.Name, "IDAT", 4) == 0)) {
      Stream->Seek(static_cast<int64_t>(head.Length) + 4, soCurrent);
      continue;
    }
    TChunk* chunk = FChunkList.Add(CreateChunk(this, head.Name));
    if (typeid(*chunk) == typeid(TChunk) && !(head.Name[0] & 0x20))
      RaisePng<EPNGUnknownCriticalChunk>(TPngMessage::UnknownCriticalChunk);
    if (FChunkList.Count() > 1 && typeid(*chunk) == typeid(TChunkIHDR))
      RaisePng<EPngInvalidIHDR>(TPngMessage::InvalidIHDR);  // a second header would replace the storage
    if (memcmp(head.Name, "IDAT", 4) == 0) haveIdat = true;
    if (!chunk->LoadFromStream(Stream, head.Name, head.Length)) break;
    if (memcmp(head.Name, "IEND", 4) == 0) break;
  }
  if (!haveIdat) RaisePng<EPNGNoImageData>(TPngMessage::NoImageData);
  Changed();
}

void TPNGObject::SaveToStream(TStream* Stream) {
  Stream->WriteBuffer(PngSignature, 8);
  for (int i = 0; i < FChunkList.Count(); ++i) FChunkList.Item(i)->SaveToStream(Stream);
}

void TPNGObject::LoadFromResourceName(void* Instance, const AnsiString& Name) {
  std::unique_ptr<TResourceStream> res;
  try {
    res = std::make_unique<TResourceStream>(Instance, Name, MAKEINTRESOURCEA(10));
  } catch (const Exception&) {
    RaisePng<EPNGCouldNotLoadResource>(TPngMessage::CouldNotLoadResource);
  }
  LoadFromStream(res.get());
}

void TPNGObject::LoadFromResourceID(void* Instance, int ResID) {
  std::unique_ptr<TResourceStream> res;
  try {
    res = std::make_unique<TResourceStream>(Instance, ResID, MAKEINTRESOURCEA(10));
  } catch (const Exception&) {
    RaisePng<EPNGCouldNotLoadResource>(TPngMessage::CouldNotLoadResource);
  }
  LoadFromStream(res.get());
}

TPngTransparency TPNGObject::TransparencyMode() const {
  if (GetEmpty()) return ptNone;
  TChunkIHDR* h = Header();
  TChunktRNS* trns = FChunkList.ItemFromClass<TChunktRNS>();
  switch (h->ColorType()) {
    case COLOR_GRAYSCALE:
    case COLOR_RGB: return trns ? ptBit : ptNone;
    case COLOR_PALETTE:
      if (!trns) return ptNone;
      return trns->BitTransparency() ? ptBit : ptPartial;
    case COLOR_GRAYSCALEALPHA:
    case COLOR_RGBALPHA: return ptPartial;
    default: return ptNone;
  }
}

TColor TPNGObject::TransparentColor() const {
  TChunktRNS* trns = FChunkList.ItemFromClass<TChunktRNS>();
  return trns ? trns->TransparentColor() : 0;
}

void TPNGObject::Draw(TCanvas* ACanvas, const TRect& Rect) {
  if (GetEmpty()) return;
  HDC dc = static_cast<HDC>(ACanvas->Handle());
  switch (TransparencyMode()) {
    case ptPartial: DrawPartialTrans(dc, Rect); break;
    case ptBit: DrawTransparentBitmap(dc, Rect); break;
    default: {
      TChunkIHDR* h = Header();
      SetStretchBltMode(dc, COLORONCOLOR);
      StretchDIBits(dc, Rect.Left, Rect.Top, Rect.Width(), Rect.Height(), 0, 0, h->Width(), h->Height(),
                    h->ImageData(), reinterpret_cast<BITMAPINFO*>(&h->BitmapInfo()), DIB_RGB_COLORS, SRCCOPY);
      break;
    }
  }
}

void TPNGObject::DrawTransparentBitmap(void* DestDC, const TRect& Rect) {
  TChunkIHDR* h = Header();
  HDC dest = static_cast<HDC>(DestDC);
  const int w = Rect.Width(), hgt = Rect.Height(), iw = static_cast<int>(h->Width()), ih = static_cast<int>(h->Height());
  if (w <= 0 || hgt <= 0) return;
  HDC imageDC = CreateCompatibleDC(dest), maskDC = CreateCompatibleDC(dest), invDC = CreateCompatibleDC(dest),
      workDC = CreateCompatibleDC(dest);
  HBITMAP image = CreateCompatibleBitmap(dest, iw, ih);
  HBITMAP mask = CreateBitmap(w, hgt, 1, 1, nullptr), inv = CreateBitmap(w, hgt, 1, 1, nullptr);
  HBITMAP work = CreateCompatibleBitmap(dest, w, hgt);
  bool ok = imageDC && maskDC && invDC && workDC && image && mask && inv && work;
  if (ok) {
    HGDIOBJ o1 = SelectObject(imageDC, image), o2 = SelectObject(maskDC, mask), o3 = SelectObject(invDC, inv),
            o4 = SelectObject(workDC, work);
    // The image as a device bitmap.
    SetStretchBltMode(imageDC, COLORONCOLOR);
    StretchDIBits(imageDC, 0, 0, iw, ih, 0, 0, iw, ih, h->ImageData(), reinterpret_cast<BITMAPINFO*>(&h->BitmapInfo()),
                  DIB_RGB_COLORS, SRCCOPY);
    // Mask: white where the image has the transparent colour; the inverted mask the other way round.
    SetBkColor(imageDC, static_cast<COLORREF>(TransparentColor()));
    SetStretchBltMode(maskDC, COLORONCOLOR);
    StretchBlt(maskDC, 0, 0, w, hgt, imageDC, 0, 0, iw, ih, SRCCOPY);
    BitBlt(invDC, 0, 0, w, hgt, maskDC, 0, 0, NOTSRCCOPY);
    // Monochrome sources map white to the background colour and black to the text colour.
    for (HDC d : {workDC, imageDC}) {
      SetBkColor(d, RGB(255, 255, 255));
      SetTextColor(d, RGB(0, 0, 0));
    }
    BitBlt(workDC, 0, 0, w, hgt, dest, Rect.Left, Rect.Top, SRCCOPY);
    BitBlt(workDC, 0, 0, w, hgt, maskDC, 0, 0, SRCAND);
    SetStretchBltMode(imageDC, COLORONCOLOR);
    StretchBlt(imageDC, 0, 0, iw, ih, invDC, 0, 0, w, hgt, SRCAND);
    SetStretchBltMode(workDC, COLORONCOLOR);
    StretchBlt(workDC, 0, 0, w, hgt, imageDC, 0, 0, iw, ih, SRCPAINT);
    BitBlt(dest, Rect.Left, Rect.Top, w, hgt, workDC, 0, 0, SRCCOPY);
    SelectObject(imageDC, o1);
    SelectObject(maskDC, o2);
    SelectObject(invDC, o3);
    SelectObject(workDC, o4);
  }
  for (HBITMAP b : {image, mask, inv, work})
    if (b) DeleteObject(b);
  for (HDC d : {imageDC, maskDC, invDC, workDC})
    if (d) DeleteDC(d);
  if (!ok) RaisePng<EPNGOutMemory>(TPngMessage::OutMemory);
}

void TPNGObject::DrawPartialTrans(void* DestDC, const TRect& Rect) {
  TChunkIHDR* h = Header();
  HDC dest = static_cast<HDC>(DestDC);
  const int w = Rect.Width(), hgt = Rect.Height();
  if (w <= 0 || hgt <= 0) return;
  BITMAPINFO bi{};
  bi.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  bi.bmiHeader.biWidth = w;
  bi.bmiHeader.biHeight = -hgt;  // top-down: row 0 is the rectangle's top
  bi.bmiHeader.biPlanes = 1;
  bi.bmiHeader.biBitCount = 24;
  bi.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  HBITMAP dib = CreateDIBSection(dest, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
  HDC work = CreateCompatibleDC(dest);
  if (!dib || !work || !bits) {
    if (dib) DeleteObject(dib);
    if (work) DeleteDC(work);
    RaisePng<EPNGOutMemory>(TPngMessage::OutMemory);
  }
  HGDIOBJ old = SelectObject(work, dib);
  BitBlt(work, 0, 0, w, hgt, dest, Rect.Left, Rect.Top, SRCCOPY);
  GdiFlush();
  const uint32_t iw = h->Width(), ih = h->Height();
  const uint32_t stride = (static_cast<uint32_t>(w) * 3 + 3) & ~3u;
  const TPngRGBQuad* colors = h->BitmapInfo().bmiColors;
  TChunktRNS* trns = FChunkList.ItemFromClass<TChunktRNS>();
  const int bitsPerPixel = h->DIBBits();
  const bool paletted = h->ColorType() == COLOR_PALETTE;
  for (int y = 0; y < hgt; ++y) {
    const uint32_t sy = static_cast<uint32_t>(static_cast<uint64_t>(y) * ih / static_cast<uint32_t>(hgt));
    const uint8_t* src = h->Scanline(sy);
    const uint8_t* alpha = h->AlphaScanline(sy);
    uint8_t* d = static_cast<uint8_t*>(bits) + static_cast<size_t>(y) * stride;
    for (int x = 0; x < w; ++x, d += 3) {
      const uint32_t sx = static_cast<uint32_t>(static_cast<uint64_t>(x) * iw / static_cast<uint32_t>(w));
      uint8_t b, g, r, a;
      if (bitsPerPixel == 24) {
        b = src[3 * sx];
        g = src[3 * sx + 1];
        r = src[3 * sx + 2];
        a = alpha ? alpha[sx] : 255;
      } else {
        uint8_t index = bitsPerPixel == 8 ? src[sx] : SubSample(src, sx, bitsPerPixel);
        b = colors[index].Blue;
        g = colors[index].Green;
        r = colors[index].Red;
        a = alpha ? alpha[sx] : (paletted && trns ? trns->PaletteValues()[index] : 255);
      }
      d[0] = static_cast<uint8_t>((b * a + 255 + (255 - a) * d[0]) >> 8);
      d[1] = static_cast<uint8_t>((g * a + 255 + (255 - a) * d[1]) >> 8);
      d[2] = static_cast<uint8_t>((r * a + 255 + (255 - a) * d[2]) >> 8);
    }
  }
  BitBlt(dest, Rect.Left, Rect.Top, w, hgt, work, 0, 0, SRCCOPY);
  SelectObject(work, old);
  DeleteDC(work);
  DeleteObject(dib);
}

void TPNGObject::Assign(TPersistent* Source) {
  if (!Source) {
    ClearChunks();
    Changed();
    return;
  }
  if (auto* png = dynamic_cast<TPNGObject*>(Source)) {
    AssignPNG(png);
    return;
  }
  if (auto* bmp = dynamic_cast<TBitmap*>(Source)) {
    AssignHandle(bmp->Handle(), bmp->Transparent(), ColorToRGB(bmp->TransparentColor()));
    return;
  }
  TGraphic::Assign(Source);
}

void TPNGObject::AssignPNG(TPNGObject* Source) {
  if (Source == this) return;
  FInterlaceMethod = Source->FInterlaceMethod;
  FMaxIdatSize = Source->FMaxIdatSize;
  FCompressionLevel = Source->FCompressionLevel;
  FFilters = Source->FFilters;
  ClearChunks();
  for (int i = 0; i < Source->FChunkList.Count(); ++i) {
    TChunk* src = Source->FChunkList.Item(i);
    TChunk* dst = FChunkList.Add(CreateChunk(this, src->Name()));
    dst->Assign(src);
  }
  // The tables follow the copied gAMA chunk.
  memcpy(FGammaTable, Source->FGammaTable, 256);
  memcpy(FInverseGamma, Source->FInverseGamma, 256);
  Changed();
}

void TPNGObject::AssignHandle(void* Bitmap, bool Transparent, TColor TransparentColor) {
  ClearChunks();
  HBITMAP bmp = static_cast<HBITMAP>(Bitmap);
  BITMAP bm{};
  if (!bmp || ::GetObjectA(bmp, sizeof(bm), &bm) == 0 || bm.bmWidth <= 0 || bm.bmHeight == 0) {
    Changed();
    return;
  }
  const uint32_t width = static_cast<uint32_t>(bm.bmWidth);
  const uint32_t height = static_cast<uint32_t>(bm.bmHeight < 0 ? -bm.bmHeight : bm.bmHeight);
  const int bpp = bm.bmBitsPixel * bm.bmPlanes;
  const bool paletted = bpp < 16;
  uint8_t depth = paletted ? static_cast<uint8_t>(bpp) : 8;
  if (paletted && depth != 1 && depth != 4 && depth != 8) depth = 8;
  if (width >= 65536 || height >= 65536) RaisePng<EPNGSizeExceeds>(TPngMessage::SizeExceeds);
  auto* h = static_cast<TChunkIHDR*>(FChunkList.Add(std::make_unique<TChunkIHDR>(this)));
  h->SetHeader(width, height, depth, paletted ? COLOR_PALETTE : COLOR_RGB, 0);
  FInterlaceMethod = 0;
  h->PrepareImageData();
  // The bitmap's pixels (and colour table) in the storage's layout.
  TPngBitmapInfo info = h->BitmapInfo();
  HDC screen = GetDC(nullptr);
  int got = GetDIBits(screen, bmp, 0, height, h->ImageData(), reinterpret_cast<BITMAPINFO*>(&info), DIB_RGB_COLORS);
  ReleaseDC(nullptr, screen);
  if (got == 0) RaisePng<EPNGOutMemory>(TPngMessage::OutMemory);
  if (paletted) {
    const int entries = 1 << depth;
    std::vector<uint8_t> buf(sizeof(LOGPALETTE) + 256 * sizeof(PALETTEENTRY));
    auto* lp = reinterpret_cast<LOGPALETTE*>(buf.data());
    lp->palVersion = 0x300;
    lp->palNumEntries = static_cast<WORD>(entries);
    for (int i = 0; i < entries; ++i)
      lp->palPalEntry[i] = PALETTEENTRY{info.bmiColors[i].Red, info.bmiColors[i].Green, info.bmiColors[i].Blue, 0};
    HPALETTE pal = CreatePalette(lp);
    if (!pal) RaisePng<EPNGOutMemory>(TPngMessage::OutMemory);
    h->SetImagePalette(pal);
    auto* plte = static_cast<TChunkPLTE*>(FChunkList.Add(std::make_unique<TChunkPLTE>(this)));
    plte->SetCount(entries);
  }
  if (Transparent) {
    auto trns = std::make_unique<TChunktRNS>(this);
    trns->SetTransparentColor(TransparentColor);
    // A palette without the colour keys nothing out: no tRNS then.
    if (trns->DataSize() > 0) FChunkList.Add(std::move(trns));
  }
  FChunkList.Add(std::make_unique<TChunkIDAT>(this));
  FChunkList.Add(std::make_unique<TChunkIEND>(this));
  Changed();
}

void TPNGObject::AssignTo(TPersistent* Dest) {
  if (auto* png = dynamic_cast<TPNGObject*>(Dest)) {
    png->AssignPNG(this);
    return;
  }
  auto* bmp = dynamic_cast<TBitmap*>(Dest);
  if (!bmp) {
    TGraphic::AssignTo(Dest);
    return;
  }
  if (GetEmpty()) {
    bmp->Assign(nullptr);
    return;
  }
  TChunkIHDR* h = Header();
  const TPngTransparency mode = TransparencyMode();
  TPixelFormat format;
  if (mode == ptPartial) format = pf24bit;
  else if (h->BitDepth() == 1) format = pf1bit;
  else if (h->BitDepth() == 2 || h->BitDepth() == 4) format = pf4bit;
  else if (h->BitDepth() == 8 || h->BitDepth() == 16) format = h->ColorType() == COLOR_PALETTE ? pf8bit : pf24bit;
  else throw Exception("Invalid bit depth");
  bmp->SetSize(0, 0);
  // The bitmap gets the image's palette first, so that drawing keeps the image's colours.
  if (format != pf24bit) bmp->SetPalette(h->ImagePalette());
  bmp->SetPixelFormat(format);
  bmp->SetSize(static_cast<int>(h->Width()), static_cast<int>(h->Height()));
  Draw(bmp->Canvas(), Rect(0, 0, static_cast<int>(h->Width()), static_cast<int>(h->Height())));
  if (mode == ptBit) bmp->SetTransparentColor(TransparentColor());
}

void TPNGObject::SaveToClipboardFormat(uint16_t& AFormat, void*& AData, void*& APalette) {
  TBitmap bmp;
  bmp.Assign(this);
  bmp.SaveToClipboardFormat(AFormat, AData, APalette);
}

void TPNGObject::LoadFromClipboardFormat(uint16_t AFormat, void* AData, void* APalette) {
  TBitmap bmp;
  bmp.LoadFromClipboardFormat(AFormat, AData, APalette);
  Assign(&bmp);
}

void TPNGObject::Resize(int CX, int CY) {
  if (CX <= 0 || CY <= 0) RaisePng<EPNGInvalidNewSize>(TPngMessage::InvalidNewSize);
  if (CX >= 65536 || CY >= 65536) RaisePng<EPNGSizeExceeds>(TPngMessage::SizeExceeds);
  Header()->Resize(static_cast<uint32_t>(CX), static_cast<uint32_t>(CY));
  Changed();
}

TColor TPNGObject::GetPixelColor(int X, int Y) {
  TChunkIHDR* h = Header();
  if (X < 0 || Y < 0 || static_cast<uint32_t>(X) >= h->Width() || static_cast<uint32_t>(Y) >= h->Height()) return 0;
  const uint8_t* row = h->Scanline(static_cast<uint32_t>(Y));
  const int bits = h->DIBBits();
  if (bits == 24) return RGB(row[3 * X + 2], row[3 * X + 1], row[3 * X]);
  const uint8_t stored = bits == 8 ? row[X] : SubSample(row, static_cast<uint32_t>(X), bits);
  switch (h->ColorType()) {
    case COLOR_GRAYSCALE: {
      // The sample scaled by the depth it is stored at, then through the decode table.
      uint8_t v = bits == 1 ? uint8_t(stored * 255) : bits == 4 ? uint8_t(stored * 17) : stored;
      v = FGammaTable[v];
      return RGB(v, v, v);
    }
    case COLOR_PALETTE: {
      const TPngRGBQuad& c = h->BitmapInfo().bmiColors[stored];
      return RGB(c.Red, c.Green, c.Blue);
    }
    default:
      return RGB(stored, stored, stored);
  }
}

void TPNGObject::SetPixelColor(int X, int Y, TColor Value) {
  TChunkIHDR* h = Header();
  if (X < 0 || Y < 0 || static_cast<uint32_t>(X) >= h->Width() || static_cast<uint32_t>(Y) >= h->Height()) return;
  uint8_t* row = h->Scanline(static_cast<uint32_t>(Y));
  const int bits = h->DIBBits();
  const uint8_t r = GetRValue(Value), g = GetGValue(Value), b = GetBValue(Value);
  if (bits == 24) {
    row[3 * X] = b;
    row[3 * X + 1] = g;
    row[3 * X + 2] = r;
    return;
  }
  uint8_t v;
  if (h->ColorType() == COLOR_PALETTE) {
    v = static_cast<uint8_t>(GetNearestPaletteIndex(static_cast<HPALETTE>(h->ImagePalette()), RGB(r, g, b)));
  } else {
    // Grey: the red component at the stored depth.
    v = bits == 1 ? uint8_t(r >= 128) : bits == 4 ? uint8_t((r + 8) / 17) : r;
  }
  if (bits == 8) row[X] = v;
  else PutSubSample(row, static_cast<uint32_t>(X), bits, v);
}
