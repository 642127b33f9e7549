#include "audio/AuWave.h"

#include "classlib/WinApi.h"

#include <mmsystem.h>
#include <mmreg.h>
#include <msacm.h>

#include <algorithm>
#include <cstring>
#include <new>

#include "audio/AuUtils.h"
#include "audio/WaveConverter.h"

const int16_t ImaStepTable[89] = {
    7,     8,     9,     10,    11,    12,    13,    14,    16,    17,    19,    21,    23,    25,    28,
    31,    34,    37,    41,    45,    50,    55,    60,    66,    73,    80,    88,    97,    107,   118,
    130,   143,   157,   173,   190,   209,   230,   253,   279,   307,   337,   371,   408,   449,   494,
    544,   598,   658,   724,   796,   876,   963,   1060,  1166,  1282,  1411,  1552,  1707,  1878,  2066,
    2272,  2499,  2749,  3024,  3327,  3660,  4026,  4428,  4871,  5358,  5894,  6484,  7132,  7845,  8630,
    9493,  10442, 11487, 12635, 13899, 15289, 16818, 18500, 20350, 22385, 24623, 27086, 29794, 32767};

const int8_t ImaIndexTable[16] = {-1, -1, -1, -1, 2, 4, 6, 8, -1, -1, -1, -1, 2, 4, 6, 8};

namespace {

const int16_t MsAdaptTable[16] = {230, 230, 230, 230, 307, 409, 512, 614, 768, 614, 512, 409, 307, 230, 230, 230};

// Sub-format identifiers of the extensible header, in their stored byte order.
const uint8_t PcmGuid[16] = {0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x10, 0x00,
                             0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};
const uint8_t FloatGuid[16] = {0x03, 0x00, 0x00, 0x00, 0x00, 0x00, 0x10, 0x00,
                               0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};

constexpr uint32_t ScanLimit = 65535;
constexpr uint32_t DecodeBufSize = 16384;
constexpr uint32_t MaxFmtBody = 1024;

using riff::Get32;
using riff::IdIs;
using riff::Put32;
inline uint16_t Get16(const uint8_t* p) { return (uint16_t)(p[0] | (p[1] << 8)); }
inline void Put16(uint8_t* p, uint32_t v) {
  p[0] = (uint8_t)v;
  p[1] = (uint8_t)(v >> 8);
}

// One IMA ADPCM nibble applied to a channel's state.
inline int32_t ImaExpand(int32_t& Pred, int32_t& Index, uint32_t Nibble) {
  int32_t step = ImaStepTable[Index];
  int32_t diff = step >> 3;
  if (Nibble & 4) diff += step;
  if (Nibble & 2) diff += step >> 1;
  if (Nibble & 1) diff += step >> 2;
  Pred += (Nibble & 8) ? -diff : diff;
  if (Pred > 32767) Pred = 32767;
  else if (Pred < -32767) Pred = -32767;
  Index += ImaIndexTable[Nibble];
  if (Index < 0) Index = 0;
  else if (Index > 88) Index = 88;
  return Pred;
}

uint32_t ImaSamplesPerBlock(uint32_t BlockAlign, uint32_t Channels) {
  return Channels == 1 ? 2 * (BlockAlign - 4) + 1 : BlockAlign - 7;
}

// Bytes an ADPCM stream delivers: the "fact" count, but no more than its blocks decode to (the
// last one may be short), so that a damaged count promises no audio the file lacks.
int64_t AdpcmSize(uint32_t FactSamples, int64_t DataBytes, uint32_t BlockAlign, uint32_t SamplesPerBlock,
                  uint32_t Channels) {
  int64_t blocks = (DataBytes + BlockAlign - 1) / BlockAlign;
  return std::min<int64_t>(FactSamples, blocks * SamplesPerBlock) * 2 * Channels;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Header scan

bool ScanWaveHeader(TStream* S, TWaveHeader& H, bool PcmAndImaOnly) {
  H = TWaveHeader();
  int64_t base = S->Seek(0, soCurrent);
  if (base < 0) return false;
  std::vector<uint8_t> buf(ScanLimit);
  uint32_t n = 0;
  while (n < ScanLimit) {
    int32_t r = S->Read(buf.data() + n, (int32_t)(ScanLimit - n));
    if (r <= 0) break;
    n += (uint32_t)r;
  }
  uint64_t p = 0;
  auto need = [&](uint64_t k) { return p + k <= n; };
  auto win = [&]() { return buf.data() + p - 4; };
  // After a body of odd size: its pad byte, when there is one.
  auto skipPad = [&](uint32_t size) {
    if ((size & 1) && p < n && buf[p] == 0) ++p;
  };

  if (!need(4)) return false;
  p = 4;
  while (!IdIs(win(), "RIFF")) {
    if (!need(1)) return false;
    ++p;
  }
  if (!need(4)) return false;
  p += 4;  // the RIFF size, not used
  while (!IdIs(win(), "WAVE")) {
    if (!need(1)) return false;
    ++p;
  }
  if (!need(4)) return false;
  p += 4;

  enum { stFmt, stFact, stData } state = stFmt;
  for (;;) {
    if (state == stData && win()[0] == 0) {
      // A pad byte after an odd-sized chunk.
      if (!need(1)) return false;
      ++p;
    }
    const uint8_t* id = win();
    if (!need(4)) return false;
    uint32_t size = Get32(buf.data() + p);
    p += 4;
    if (state == stFmt && IdIs(id, "fmt ")) {
      if (size < 16 || size > MaxFmtBody || !need(size)) return false;
      const uint8_t* b = buf.data() + p;
      H.Fmt.assign(b, b + size);
      H.FormatTag = Get16(b);
      switch (H.FormatTag) {
        case 1: H.Type = wtPCM; break;
        case 2: H.Type = wtMSADPCM; break;
        case 3: H.Type = wtIEEEFloat; break;
        case 0x11: H.Type = wtDVIADPCM; break;
        case 0x55: H.Type = wtACM; break;
        case 0xFFFE: H.Type = wtExtPCM; break;
        default: return false;
      }
      if (PcmAndImaOnly && H.Type != wtPCM && H.Type != wtDVIADPCM) return false;
      H.Channels = Get16(b + 2);
      H.SampleRate = Get32(b + 4);
      H.BlockAlign = Get16(b + 12);
      H.BitsPerSample = Get16(b + 14);
      if (H.Type == wtExtPCM) {
        if (size < 40) return false;
        const uint8_t* g = b + size - 16;
        if (std::memcmp(g, FloatGuid, 16) == 0) H.Type = wtExtIEEEFloat;
        else if (std::memcmp(g, PcmGuid, 16) != 0) return false;
      }
      if (H.Type == wtDVIADPCM || H.Type == wtMSADPCM || H.Type == wtACM) {
        if (H.Type != wtACM && size < 20) return false;
        H.SamplesPerBlock = size >= 20 ? Get16(b + 18) : 0;
        if (H.Type == wtMSADPCM) {
          if (size < 22) return false;
          uint32_t nc = Get16(b + 20);
          if (nc == 0 || 22 + 4 * nc > size) return false;
          H.Coefs.resize(2 * nc);
          for (uint32_t i = 0; i < 2 * nc; ++i) H.Coefs[i] = (int16_t)Get16(b + 22 + 2 * i);
        }
        state = stFact;
      } else {
        state = stData;
      }
      p += size;
      skipPad(size);
      if (!need(4)) return false;
      p += 4;
      continue;
    }
    if (state == stFact && IdIs(id, "fact")) {
      if (size < 4 || !need(size)) return false;
      H.HasFact = true;
      H.FactSamples = Get32(buf.data() + p);
      H.FactField = base + (int64_t)p;
      state = stData;
      p += size;
      skipPad(size);
      if (!need(4)) return false;
      p += 4;
      continue;
    }
    if (IdIs(id, "data")) {
      if (state == stFact) return false;  // compressed data without a "fact" chunk
      if (state == stData) {
        H.DataSize = size;
        H.DataSizeField = base + (int64_t)p - 4;
        H.DataOffset = base + (int64_t)p;
        return true;
      }
    }
    // Any other chunk is skipped; its body must lie within the scanned bytes.
    if (!need(size)) return false;
    p += size;
    skipPad(size);
    if (!need(4)) return false;
    p += 4;
  }
}

// ---------------------------------------------------------------------------------------------
// TWaveIn

TWaveIn::TWaveIn(TComponent* AOwner) : TAuFileIn(AOwner) {}

TWaveIn::~TWaveIn() {
  TLock l(FileLock);
  CloseFile();
  if (FStream && !StreamAssigned) {
    delete FStream;
    FStream = nullptr;
  }
}

void TWaveIn::OpenFile() {
  TLock l(FileLock);
  if (OpenCount > 0) return;
  FValid = true;
  SingleFloat = false;
  FWavType = wtUnsupported;
  if (!StreamAssigned && !FStream) FStream = new TAuFileStream(FWideFileName, 0x20);
  try {
    ReadHeader(false);
  } catch (...) {
    FValid = false;
  }
  if (!FValid) FWavType = wtUnsupported;
  ++OpenCount;
}

bool TWaveIn::ConvertThroughAcm(const TWaveHeader& H) {
  // The source format record holds 129 bytes: its extra bytes must lie within it.
  if (H.Fmt.size() > TWaveConverter::FormatSize) return false;
  if (H.Fmt.size() >= 18 && 18u + Get16(H.Fmt.data() + 16) > TWaveConverter::FormatSize) return false;
  TWaveConverter conv;
  FStream->Seek(0, soBeginning);
  if (!conv.LoadWaveStream(FStream)) return false;
  // The manager gets the format the scan checked, or nothing: a damaged file may hold another
  // "fmt " chunk where the converter looks.
  if (std::memcmp(conv.CurrentFormat(), H.Fmt.data(), H.Fmt.size()) != 0) return false;
  // The codecs divide by these: a block align of 0 is refused, and a stream that declares no
  // byte rate (variable bit rate), or one no MPEG audio stream has, gets the mean rate of its
  // data, kept within what a stream can have (8 to 640 kbit/s).
  auto* src = reinterpret_cast<WAVEFORMATEX*>(conv.CurrentFormat());
  if (src->nBlockAlign == 0 || src->nChannels == 0 || src->nSamplesPerSec == 0) return false;
  constexpr DWORD MinByteRate = 1000, MaxByteRate = 80000;
  if (src->nAvgBytesPerSec < MinByteRate || src->nAvgBytesPerSec > MaxByteRate) {
    if (H.FactSamples == 0 || conv.Size() == 0) return false;
    double rate = (double)conv.Size() * src->nSamplesPerSec / H.FactSamples;
    src->nAvgBytesPerSec = (DWORD)std::max<double>(MinByteRate, std::min<double>(rate, MaxByteRate));
  }
  auto* dst = reinterpret_cast<WAVEFORMATEX*>(conv.NewFormat());
  dst->wFormatTag = WAVE_FORMAT_PCM;
  if (acmFormatSuggest(nullptr, reinterpret_cast<WAVEFORMATEX*>(conv.CurrentFormat()), dst,
                       TWaveConverter::FormatSize, ACM_FORMATSUGGESTF_WFORMATTAG) != 0)
    return false;
  if (dst->wFormatTag != WAVE_FORMAT_PCM) return false;
  if (conv.Convert() != 0) return false;
  auto* mem = new TMemoryStream();
  try {
    conv.SaveWaveStream(mem);
  } catch (...) {
    delete mem;
    throw;
  }
  mem->SetPosition(0);
  FFileStream = FStream;
  FConverted = mem;
  FStream = mem;
  return true;
}

void TWaveIn::ReadHeader(bool Converted) {
  FSize = 0;
  FBPS = FChan = FSR = 0;
  FWavType = wtUnsupported;
  FValid = false;
  Seekable = FStream->Seek(0, soCurrent) >= 0;
  if (!Seekable) return;  // the reader needs to go back from the header to the data
  TWaveHeader H;
  if (!ScanWaveHeader(FStream, H, false)) return;
  int64_t streamSize = FStream->Size();
  if (streamSize < H.DataOffset) return;
  uint32_t ch = H.Channels, bps = H.BitsPerSample;
  if (ch == 0 || H.SampleRate == 0 || H.SampleRate > 0x7FFFFFFF) return;
  int64_t dataBytes = std::min<int64_t>(H.DataSize, streamSize - H.DataOffset);
  FDataOffset = H.DataOffset;
  FDataEnd = H.DataOffset + dataBytes;
  switch (H.Type) {
    case wtPCM:
    case wtExtPCM:
      if (bps != 8 && bps != 16 && bps != 24 && bps != 32) return;
      if (ch * (bps / 8) > DecodeBufSize) return;
      FDiskFrame = ch * (bps / 8);
      dataBytes -= dataBytes % FDiskFrame;  // a cut-off last frame is not delivered
      FDataEnd = FDataOffset + dataBytes;
      FSize = dataBytes;
      FBuf.assign(DecodeBufSize, 0);
      break;
    case wtIEEEFloat:
    case wtExtIEEEFloat:
      if (bps != 32 && bps != 64) return;
      if (ch * 8 > DecodeBufSize) return;
      SingleFloat = bps == 32;
      FDiskFrame = ch * (bps / 8);
      dataBytes -= dataBytes % FDiskFrame;
      FDataEnd = FDataOffset + dataBytes;
      FSize = SingleFloat ? dataBytes : dataBytes / 2;
      bps = 32;
      FBuf.assign(DecodeBufSize, 0);
      break;
    case wtDVIADPCM: {
      if (bps != 4 || ch > 2 || H.BlockAlign <= 4 * ch) return;
      if (ch == 2 && (H.BlockAlign - 8) % 8 != 0) return;
      FBlockAlign = H.BlockAlign;
      FSamplesPerBlock = ImaSamplesPerBlock(FBlockAlign, ch);
      FFactSamples = H.FactSamples;
      bps = 16;
      FSize = AdpcmSize(H.FactSamples, dataBytes, FBlockAlign, FSamplesPerBlock, ch);
      FBlock.assign(FBlockAlign, 0);
      FBuf.assign(std::max<uint32_t>(DecodeBufSize, FSamplesPerBlock * 2 * ch), 0);
      break;
    }
    case wtMSADPCM: {
      if (bps != 4 || ch > 2 || H.BlockAlign < 7 * ch) return;
      uint32_t spb = H.SamplesPerBlock;
      if (spb < 2 || (spb - 2) * ch > 2u * (H.BlockAlign - 7 * ch)) return;
      FBlockAlign = H.BlockAlign;
      FSamplesPerBlock = spb;
      FFactSamples = H.FactSamples;
      FCoefs = H.Coefs;
      bps = 16;
      FSize = AdpcmSize(H.FactSamples, dataBytes, FBlockAlign, FSamplesPerBlock, ch);
      FBlock.assign(FBlockAlign, 0);
      FBuf.assign(std::max<uint32_t>(DecodeBufSize, spb * 2 * ch), 0);
      break;
    }
    case wtACM:
      if (Converted || !ConvertThroughAcm(H)) return;
      ReadHeader(true);
      if (FValid) {
        if (FWavType != wtPCM) {
          FValid = false;
          return;
        }
        FWavType = wtACM;
      }
      return;
    default:
      return;
  }
  FWavType = H.Type;
  FChan = (int32_t)ch;
  FBPS = (int32_t)bps;
  FSR = (int32_t)H.SampleRate;
  FValid = true;
  FReadPos = FDataOffset;
  FSkipBytes = 0;
  BufStart = 1;
  BufEnd = 0;
  if (FStream->Seek(FDataOffset, soBeginning) != FDataOffset) {
    Seekable = false;
    FValid = false;
  }
}

void TWaveIn::CloseFile() {
  TLock l(FileLock);
  if (OpenCount <= 0) return;
  if (FConverted) {
    delete FConverted;
    FConverted = nullptr;
    FStream = FFileStream;
    FFileStream = nullptr;
  }
  if (!StreamAssigned) {
    delete FStream;
    FStream = nullptr;
  } else if (Seekable && FStream) {
    FStream->Seek(0, soBeginning);
  }
  FBuf.clear();
  FBuf.shrink_to_fit();
  FBlock.clear();
  BufStart = 1;
  BufEnd = 0;
  OpenCount = 0;
}

uint32_t TWaveIn::ReadData(uint8_t* Dest, uint32_t Count) {
  int64_t left = FDataEnd - FReadPos;
  if (left <= 0) return 0;
  if ((int64_t)Count > left) Count = (uint32_t)left;
  int32_t r = FStream->Read(Dest, (int32_t)Count);
  if (r <= 0) return 0;
  FReadPos += r;
  return (uint32_t)r;
}

bool TWaveIn::ReadBlock() {
  uint32_t got = 0;
  while (got < FBlockAlign) {
    uint32_t r = ReadData(FBlock.data() + got, FBlockAlign - got);
    if (r == 0) break;
    got += r;
  }
  if (got == 0) return false;
  if (got < FBlockAlign) std::memset(FBlock.data() + got, 0, FBlockAlign - got);  // a short last block
  return true;
}

uint32_t TWaveIn::DecodeImaBlock() {
  if (!ReadBlock()) return 0;
  const uint8_t* b = FBlock.data();
  auto* out = reinterpret_cast<int16_t*>(FBuf.data());
  if (FChan == 1) {
    int32_t pred = (int16_t)Get16(b);
    int32_t index = std::min<int32_t>(b[2], 88);
    *out++ = (int16_t)pred;
    for (uint32_t i = 4; i < FBlockAlign; ++i) {
      uint32_t v = b[i];
      *out++ = (int16_t)ImaExpand(pred, index, v & 15);
      *out++ = (int16_t)ImaExpand(pred, index, v >> 4);
    }
    return ((FBlockAlign - 4) * 2 + 1) * 2;
  }
  int32_t pred[2] = {(int16_t)Get16(b), (int16_t)Get16(b + 4)};
  int32_t index[2] = {std::min<int32_t>(b[2], 88), std::min<int32_t>(b[6], 88)};
  out[0] = (int16_t)pred[0];
  out[1] = (int16_t)pred[1];
  int16_t* frames = out + 2;
  uint32_t groups = (FBlockAlign - 8) / 8;
  for (uint32_t g = 0; g < groups; ++g) {
    const uint8_t* d = b + 8 + 8 * g;
    int16_t* o = frames + 16 * g;
    for (int c = 0; c < 2; ++c) {
      const uint8_t* q = d + 4 * c;
      for (int k = 0; k < 4; ++k) {
        uint32_t v = q[k];
        o[(2 * k) * 2 + c] = (int16_t)ImaExpand(pred[c], index[c], v & 15);
        o[(2 * k + 1) * 2 + c] = (int16_t)ImaExpand(pred[c], index[c], v >> 4);
      }
    }
  }
  return (FBlockAlign - 8 + 1) * 4;
}

uint32_t TWaveIn::DecodeMsBlock() {
  if (!ReadBlock()) return 0;
  const uint8_t* b = FBlock.data();
  auto* out = reinterpret_cast<int16_t*>(FBuf.data());
  const int ch = FChan;
  const uint32_t nc = (uint32_t)FCoefs.size() / 2;
  int32_t c1[2], c2[2], delta[2], s1[2], s2[2];
  for (int c = 0; c < ch; ++c) {
    uint32_t pi = b[c];
    if (pi >= nc) return 0;  // a predictor the file does not define: the data is damaged
    c1[c] = FCoefs[2 * pi];
    c2[c] = FCoefs[2 * pi + 1];
    delta[c] = (int16_t)Get16(b + ch + 2 * c);
    s1[c] = (int16_t)Get16(b + 3 * ch + 2 * c);
    s2[c] = (int16_t)Get16(b + 5 * ch + 2 * c);
  }
  for (int c = 0; c < ch; ++c) *out++ = (int16_t)s2[c];
  for (int c = 0; c < ch; ++c) *out++ = (int16_t)s1[c];
  // The delta triples at most per sample: bounded, the products below stay within 32 bits.
  constexpr int32_t MaxDelta = 0x7FFFFFFF / 768;
  auto expand = [&](int c, uint32_t nib) {
    int32_t pred = (int32_t)(((int64_t)s1[c] * c1[c] + (int64_t)s2[c] * c2[c]) / 256);
    int32_t signedNib = nib >= 8 ? (int32_t)nib - 16 : (int32_t)nib;
    int32_t s = pred + signedNib * delta[c];
    if (s > 32767) s = 32767;
    else if (s < -32768) s = -32768;
    s2[c] = s1[c];
    s1[c] = s;
    delta[c] = (delta[c] * MsAdaptTable[nib]) / 256;
    if (delta[c] < 16) delta[c] = 16;
    else if (delta[c] > MaxDelta) delta[c] = MaxDelta;
    return (int16_t)s;
  };
  const uint8_t* d = b + 7 * ch;
  uint32_t samples = (FSamplesPerBlock - 2) * ch;  // nibbles after the header samples
  for (uint32_t i = 0; i < samples; ++i) {
    uint32_t v = d[i >> 1];
    uint32_t nib = (i & 1) ? (v & 15) : (v >> 4);
    *out++ = expand(ch == 1 ? 0 : (int)(i & 1), nib);
  }
  return FSamplesPerBlock * 2 * ch;
}

void TWaveIn::GetDataInternal(void*& Buffer, uint32_t& Bytes) {
  if (!FBusy) throw EAuException("The Stream is not opened");
  if (!FStream || !FValid || OpenCount <= 0) {
    Buffer = nullptr;
    Bytes = 0;
    return;
  }
  while (BufStart > BufEnd) {
    uint32_t n = 0;
    switch (FWavType) {
      case wtPCM:
      case wtExtPCM:
      case wtACM:
        n = ReadData(FBuf.data(), DecodeBufSize - DecodeBufSize % FDiskFrame);
        break;
      case wtIEEEFloat:
      case wtExtIEEEFloat: {
        uint32_t want = DecodeBufSize - DecodeBufSize % ((uint32_t)FChan * 8);
        n = ReadData(FBuf.data(), want);
        if (SingleFloat) {
          n -= n % 4;
          SingleToInt32Samples(FBuf.data(), (int32_t)n);
        } else {
          n -= n % 8;
          DoubleToInt32Samples(FBuf.data(), (int32_t)n);
          n /= 2;
        }
        break;
      }
      case wtDVIADPCM:
        n = DecodeImaBlock();
        break;
      case wtMSADPCM:
        n = DecodeMsBlock();
        break;
      default:
        break;
    }
    if (n == 0) {
      Buffer = nullptr;
      Bytes = 0;
      return;
    }
    BufStart = 1;
    BufEnd = (int32_t)n;
    if (FSkipBytes) {
      uint32_t skip = std::min(FSkipBytes, n);
      BufStart += (int32_t)skip;
      FSkipBytes -= skip;
    }
  }
  uint32_t frame = (uint32_t)FChan * (uint32_t)FBPS / 8;
  uint32_t count = Bytes;
  if (count >= frame) count -= count % frame;
  uint32_t avail = (uint32_t)(BufEnd - BufStart + 1);
  if (count > avail) count = avail;
  Buffer = FBuf.data() + (BufStart - 1);
  BufStart += (int32_t)count;
  Bytes = count;
}

bool TWaveIn::SeekInternal(int64_t& SampleNum) {
  BufStart = 1;
  BufEnd = 0;
  FSkipBytes = 0;
  if (!FStream || !FValid) return false;
  if (SampleNum < 0) SampleNum = 0;
  int64_t off;
  switch (FWavType) {
    case wtPCM:
    case wtExtPCM:
    case wtACM:
    case wtIEEEFloat:
    case wtExtIEEEFloat:
      off = FDataOffset + SampleNum * FDiskFrame;
      break;
    case wtDVIADPCM:
    case wtMSADPCM: {
      // Decoding starts at the block that holds the frame; the frames before it are dropped.
      int64_t block = SampleNum / FSamplesPerBlock;
      off = FDataOffset + block * FBlockAlign;
      FSkipBytes = (uint32_t)(SampleNum % FSamplesPerBlock) * 2u * (uint32_t)FChan;
      break;
    }
    default:
      return false;
  }
  FReadPos = off;
  if (FStream->Seek(off, soBeginning) != off) FReadPos = FDataEnd;  // nothing more to read
  return true;
}

// ---------------------------------------------------------------------------------------------
// TWaveOut

namespace {
const char* const ErrWrite = "Error writing wave file";
}

TWaveOut::TWaveOut(TComponent* AOwner) : TAuFileOut(AOwner) {}

TWaveOut::~TWaveOut() { Shutdown(); }

void TWaveOut::SetWavType(TWavType Value) {
  if (FBusy) return;
  if (Value == wtPCM || Value == wtDVIADPCM) FWavType = Value;
}

void TWaveOut::SetBlockSize(uint16_t Value) {
  if (FBusy) return;
  if (Value != 0 && Value % 4 == 0) FBlockSize = Value;
}

void TWaveOut::SetFileMode(TFileOutputMode Value) { FFileMode = Value; }

void TWaveOut::WriteOrFail(const void* Data, uint32_t Count) {
  if (Count == 0) return;
  if (Stream->Write(Data, (int32_t)Count) != (int32_t)Count) throw EAuException(ErrWrite);
}

void TWaveOut::FailPrepare(const char* Message) {
  if (FInputInited) {
    FInputInited = false;
    Input()->Flush();
  }
  CloseDestination();
  if (FCreated && !StreamAssigned) DeleteFileW(FWideFileName.c_str());
  FCreated = false;
  throw EAuException(Message);
}

void TWaveOut::WriteHeader(int64_t InputSize) {
  uint8_t h[68];
  std::memset(h, 0, sizeof h);
  auto clamp32 = [](int64_t v) -> uint32_t {
    if (v < 0) return 0;
    return v > 0xFFFFFFFFLL ? 0xFFFFFFFFu : (uint32_t)v;
  };
  std::memcpy(h, "RIFF", 4);
  std::memcpy(h + 8, "WAVEfmt ", 8);
  Put16(h + 22, (uint32_t)FChannels);
  Put32(h + 24, (uint32_t)FRate);
  if (FRunType == wtDVIADPCM) {
    int64_t frames = InputSize < 0 ? 0 : InputSize / 2 / FChannels;
    int64_t blocks = (frames + FSamplesPerBlock - 1) / FSamplesPerBlock;
    int64_t data = blocks * FRunBlock;
    Put32(h + 4, clamp32(data + 52));
    Put32(h + 16, 20);
    Put16(h + 20, 0x11);
    Put32(h + 28, (uint32_t)(FRate / FSamplesPerBlock) * FRunBlock);
    Put16(h + 32, FRunBlock);
    Put16(h + 34, 4);
    Put16(h + 36, 2);
    Put16(h + 38, FSamplesPerBlock);
    std::memcpy(h + 40, "fact", 4);
    Put32(h + 44, 4);
    Put32(h + 48, clamp32(frames));
    std::memcpy(h + 52, "data", 4);
    Put32(h + 56, clamp32(data));
    FHeaderLen = 60;
    FDataSizeField = 56;
    FFactField = 48;
  } else {
    uint32_t align = (uint32_t)(FBits * FChannels / 8);
    int64_t data = InputSize < 0 ? 0 : InputSize;
    Put32(h + 28, (uint32_t)FRate * align);
    Put16(h + 32, align);
    Put16(h + 34, (uint32_t)FBits);
    if (FRunType == wtExtPCM) {
      Put32(h + 4, clamp32(data + 60));
      Put32(h + 16, 40);
      Put16(h + 20, 0xFFFE);
      Put16(h + 36, 22);
      Put16(h + 38, (uint32_t)FBits);
      uint32_t mask;
      switch (FChannels) {
        case 1: mask = 0x1; break;
        case 2: mask = 0x3; break;
        case 3: mask = 0x7; break;
        case 4: mask = 0x33; break;
        case 5: mask = 0x37; break;
        case 6: mask = 0x3F; break;
        case 7: mask = 0x13F; break;
        case 8: mask = 0xFF; break;
        default: mask = 0; break;
      }
      Put32(h + 40, mask);
      std::memcpy(h + 44, PcmGuid, 16);
      std::memcpy(h + 60, "data", 4);
      Put32(h + 64, clamp32(data));
      FHeaderLen = 68;
      FDataSizeField = 64;
    } else {
      Put32(h + 4, clamp32(data + 36));
      Put32(h + 16, 16);
      Put16(h + 20, 1);
      std::memcpy(h + 36, "data", 4);
      Put32(h + 40, clamp32(data));
      FHeaderLen = 44;
      FDataSizeField = 40;
    }
  }
  FDataOffset = FHeaderLen;
  WriteOrFail(h, FHeaderLen);
}

void TWaveOut::Prepare() {
  FEndOfInput = false;
  FInputInited = false;
  FCreated = false;
  FAppending = false;
  FFailed = false;
  FFramesWritten = 0;
  FOldBlocks = 0;
  FRunType = FWavType;
  FRunBlock = FBlockSize;
  FCreated = OpenDestination("File name is not assigned.");
  TAuInput* in = Input();
  FInputInited = true;
  in->Init();
  FChannels = in->Channels();
  FBits = in->BitsPerSample();
  FRate = in->SampleRate();
  if (!FCreateNonMsHeaders && (FChannels > 2 || FBits > 16)) FRunType = wtExtPCM;

  TWaveHeader H;
  int64_t fileSize = Stream->Size();
  if (FFileMode == foAppend && fileSize > 0) {
    Stream->Seek(0, soBeginning);
    bool ok = ScanWaveHeader(Stream, H, true) && H.Channels > 0;
    // The new audio goes right after the old: "data" must be the file's last chunk, without a
    // pad byte, and end on a whole frame or block.
    if (ok) ok = H.DataOffset + (int64_t)H.DataSize == fileSize;
    if (ok && H.Type == wtPCM) ok = H.BitsPerSample % 8 == 0 && H.BitsPerSample > 0 &&
                                    H.DataSize % (H.Channels * (H.BitsPerSample / 8)) == 0;
    if (ok && H.Type == wtDVIADPCM) {
      ok = H.Channels <= 2 && H.BlockAlign > 4 * H.Channels && H.BlockAlign % (4 * H.Channels) == 0 &&
           H.DataSize % H.BlockAlign == 0;
    }
    if (!ok) FailPrepare("Cannot append data to this .wav file.");
    FAppending = true;
    FRunType = H.Type;
    FDataOffset = H.DataOffset;
    FDataSizeField = H.DataSizeField;
    FFactField = H.FactField;
    if (FRunType == wtDVIADPCM) {
      FRunBlock = H.BlockAlign;
      FOldBlocks = H.DataSize / H.BlockAlign;
    }
  }

  switch (FRunType) {
    case wtPCM:
      if (FAppending) {
        if ((uint32_t)FRate != H.SampleRate || FBits != H.BitsPerSample || FChannels != H.Channels)
          FailPrepare("Cannot append data in different audio format.");
        Stream->Seek(0, soEnd);
      } else {
        WriteHeader(in->Size());
      }
      break;
    case wtDVIADPCM:
      if (FBits != 16) FailPrepare("Cannot encode 8 bit sound into ADPCM.");
      if (FChannels < 1 || FChannels > 2) FailPrepare("Cannot encode more than 2 channels into ADPCM.");
      if ((FChannels == 2 && FRunBlock % 8 != 0) || ImaSamplesPerBlock(FRunBlock, FChannels) > 0xFFFF)
        FailPrepare("The ADPCM block size does not suit the channel count.");
      FSamplesPerBlock = ImaSamplesPerBlock(FRunBlock, FChannels);
      if (FAppending) {
        if ((uint32_t)FRate != H.SampleRate || FChannels != H.Channels)
          FailPrepare("Cannot append data in different audio format.");
        Stream->Seek(0, soEnd);
      } else {
        WriteHeader(in->Size());
      }
      FStepIndex[0] = FStepIndex[1] = 0;
      FPredictor[0] = FPredictor[1] = 0;
      FSampleBytes.assign((size_t)FSamplesPerBlock * 2 * FChannels, 0);
      FBlockOut.assign(FRunBlock, 0);
      break;
    case wtExtPCM:
      WriteHeader(in->Size());
      break;
    default:
      break;
  }
}

uint8_t TWaveOut::EncodeImaSample(int c, int32_t Sample) {
  int32_t pred = FPredictor[c];
  int32_t index = FStepIndex[c];
  int32_t step = ImaStepTable[index];
  int32_t diff = Sample - pred;
  uint32_t code = 0;
  if (diff < 0) {
    code = 8;
    diff = -diff;
  }
  if (diff >= step) {
    code |= 4;
    diff -= step;
  }
  if (diff >= (step >> 1)) {
    code |= 2;
    diff -= step >> 1;
  }
  if (diff >= (step >> 2)) code |= 1;
  ImaExpand(pred, index, code);
  FPredictor[c] = (int16_t)pred;
  FStepIndex[c] = (uint8_t)index;
  return (uint8_t)code;
}

bool TWaveOut::EncodeImaBlock() {
  const uint32_t need = (uint32_t)FSampleBytes.size();
  const uint32_t frameBytes = 2u * (uint32_t)FChannels;
  uint8_t* sb = FSampleBytes.data();
  std::memset(sb, 0, need);
  uint32_t got = 0;
  while (got < need) {
    uint32_t n = Input()->CopyData(sb + got, need - got);
    if (n == 0) {
      FEndOfInput = true;
      break;
    }
    got += n;
  }
  if (got == 0) return false;  // the input ended on a block boundary: no empty block
  FFramesWritten += (got + frameBytes - 1) / frameBytes;
  const auto* s = reinterpret_cast<const int16_t*>(sb);
  uint8_t* o = FBlockOut.data();
  if (FChannels == 1) {
    FPredictor[0] = s[0];
    Put16(o, (uint16_t)s[0]);
    o[2] = FStepIndex[0];
    o[3] = 0;
    uint32_t i = 1;
    for (uint32_t k = 4; k < FRunBlock; ++k, i += 2) {
      uint8_t lo = EncodeImaSample(0, s[i]);
      uint8_t hi = EncodeImaSample(0, s[i + 1]);
      o[k] = (uint8_t)(lo | (hi << 4));
    }
  } else {
    for (int c = 0; c < 2; ++c) {
      FPredictor[c] = s[c];
      Put16(o + 4 * c, (uint16_t)s[c]);
      o[4 * c + 2] = FStepIndex[c];
      o[4 * c + 3] = 0;
    }
    uint32_t groups = (FRunBlock - 8) / 8;
    for (uint32_t g = 0; g < groups; ++g) {
      const int16_t* f = s + 2 * (1 + 8 * g);
      uint8_t* d = o + 8 + 8 * g;
      for (int c = 0; c < 2; ++c) {
        for (int k = 0; k < 4; ++k) {
          uint8_t lo = EncodeImaSample(c, f[(2 * k) * 2 + c]);
          uint8_t hi = EncodeImaSample(c, f[(2 * k + 1) * 2 + c]);
          d[4 * c + k] = (uint8_t)(lo | (hi << 4));
        }
      }
    }
  }
  WriteOrFail(o, FRunBlock);
  return true;
}

bool TWaveOut::DoOutput(bool Abort) {
  if (!FActive) return true;
  if (Abort || FEndOfInput) return false;
  try {
    if (FRunType == wtDVIADPCM) return EncodeImaBlock();
    void* p = nullptr;
    uint32_t n = DecodeBufSize;
    Input()->GetData(p, n);
    if (n == 0 || !p) {
      FEndOfInput = true;
      return false;
    }
    WriteOrFail(p, n);
    return true;
  } catch (...) {
    FFailed = true;
    throw;
  }
}

void TWaveOut::PutLong(int64_t Offset, uint32_t Value) {
  uint8_t b[4];
  Put32(b, Value);
  Stream->Seek(Offset, soBeginning);
  WriteOrFail(b, 4);
}

void TWaveOut::FixHeader() {
  int64_t fileSize = Stream->Size();
  auto clamp32 = [](int64_t v) -> uint32_t {
    if (v < 0) return 0;
    return v > 0xFFFFFFFFLL ? 0xFFFFFFFFu : (uint32_t)v;
  };
  int64_t data = fileSize - FDataOffset;
  PutLong(FDataSizeField, clamp32(data));
  if (FRunType == wtDVIADPCM && FFactField >= 0)
    PutLong(FFactField, clamp32(FOldBlocks * FSamplesPerBlock + FFramesWritten));
  PutLong(4, clamp32(fileSize - 8));
  Stream->Seek(0, soEnd);
}

void TWaveOut::Done() {
  TAuInput* in = Input();
  if (!Prepared()) {
    // Prepare failed: release what it set up and leave no file without a header behind.
    if (FInputInited && in) {
      FInputInited = false;
      try {
        in->Flush();
      } catch (...) {
      }
    }
    if (Stream) {
      CloseDestination();
      if (FCreated && !StreamAssigned) DeleteFileW(FWideFileName.c_str());
    }
    FCreated = false;
    return;
  }
  try {
    int64_t size = in ? in->Size() : -1;
    if (size >= 0 && !FAppending && !FStopped && !FFailed && FRunType != wtDVIADPCM) {
      // The header already holds Size: make the file as long as it says.
      int64_t target = (int64_t)FHeaderLen + size;
      int64_t pos = Stream->Seek(0, soCurrent);
      if (pos < target) {
        static const uint8_t zeros[4096] = {};
        while (pos < target) {
          uint32_t k = (uint32_t)std::min<int64_t>(sizeof zeros, target - pos);
          WriteOrFail(zeros, k);
          pos += k;
        }
      }
    } else {
      // IMA ADPCM always: the header tells the blocks and frames actually written.
      FixHeader();
    }
  } catch (...) {
    CloseDestination();
    FInputInited = false;
    if (in) in->Flush();
    throw;
  }
  CloseDestination();
  FInputInited = false;
  if (in) in->Flush();
}
