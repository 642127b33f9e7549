#include "audio/formats/wave/AuWave.h"

#include "classlib/WinApi.h"

#include <mmsystem.h>
#include <mmreg.h>
#include <msacm.h>

#include <algorithm>
#include <cstring>
#include <new>

#include "audio/engine/AuBinary.h"
#include "audio/engine/AuUtils.h"
#include "audio/engine/ImaAdpcm.h"
#include "audio/engine/MsAdpcm.h"
#include "audio/formats/wave/WaveConverter.h"

// Every message this unit raises, as the user reads it.
namespace msg {
constexpr const char* StreamNotOpened = "The Stream is not opened";
constexpr const char* WriteError = "Error writing wave file";
constexpr const char* NoFileName = "File name is not assigned.";
constexpr const char* CannotAppend = "Cannot append data to this .wav file.";
constexpr const char* AppendOtherFormat = "Cannot append data in different audio format.";
constexpr const char* AdpcmNot16Bit = "Cannot encode 8 bit sound into ADPCM.";
constexpr const char* AdpcmChannels = "Cannot encode more than 2 channels into ADPCM.";
constexpr const char* AdpcmBlockSize = "The ADPCM block size does not suit the channel count.";
}  // namespace msg

namespace {

// Sub-format identifiers of the extensible header, in their stored byte order.
const uint8_t PcmGuid[16] = {0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x10, 0x00,
                             0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};
const uint8_t FloatGuid[16] = {0x03, 0x00, 0x00, 0x00, 0x00, 0x00, 0x10, 0x00,
                               0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};

constexpr uint32_t ScanLimit = 65535;
// Bytes moved per read or write: large enough to keep the file system's per-call cost small,
// small enough to stay in the second-level cache.
constexpr uint32_t DecodeBufSize = 256 * 1024;
constexpr uint32_t MaxFmtBody = 1024;

// Bytes an ADPCM stream delivers: the "fact" count, but no more than its blocks decode to (the
// last one may be short), so that a damaged count promises no audio the file lacks.
int64_t AdpcmSize(uint32_t FactSamples, int64_t DataBytes, uint32_t BlockAlign, uint32_t SamplesPerBlock,
                  uint32_t Channels) {
  int64_t blocks = (DataBytes + BlockAlign - 1) / BlockAlign;
  return std::min<int64_t>(FactSamples, blocks * SamplesPerBlock) * 2 * Channels;
}

// The offset of the first Id (any letter case) in Buf at or after From; -1 when there is none.
int64_t FindId(const std::vector<uint8_t>& Buf, size_t From, const char* Id) {
  for (size_t i = From; i + 4 <= Buf.size(); ++i)
    if (RiffIdIs(Buf.data() + i, Id)) return (int64_t)i;
  return -1;
}

// The "fmt " body: the format and what the reader needs of it. False for a format it refuses.
bool ReadFmt(const uint8_t* Body, uint32_t Size, bool PcmAndImaOnly, TWaveHeader& H) {
  if (Size < 16 || Size > MaxFmtBody) return false;
  H.Fmt.assign(Body, Body + Size);
  TByteReader r(Body, Size);
  H.FormatTag = r.LE16();
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
  H.Channels = r.LE16();
  H.SampleRate = r.LE32();
  r.Skip(4);  // bytes per second
  H.BlockAlign = r.LE16();
  H.BitsPerSample = r.LE16();
  if (H.Type == wtExtPCM) {
    if (Size < 40) return false;
    const uint8_t* g = Body + Size - 16;
    if (std::memcmp(g, FloatGuid, 16) == 0) H.Type = wtExtIEEEFloat;
    else if (std::memcmp(g, PcmGuid, 16) != 0) return false;
  }
  if (H.Type == wtDVIADPCM || H.Type == wtMSADPCM || H.Type == wtACM) {
    if (H.Type != wtACM && Size < 20) return false;
    r.Skip(2);  // extra bytes
    H.SamplesPerBlock = Size >= 20 ? r.LE16() : 0;
    if (H.Type == wtMSADPCM) {
      uint32_t nc = r.LE16();
      if (!r.Ok() || nc == 0 || !r.Has(4 * (size_t)nc)) return false;
      H.Coefs.resize(2 * nc);
      for (auto& v : H.Coefs) v = (int16_t)r.LE16();
    }
  }
  return r.Ok();
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Header scan

bool ScanWaveHeader(TStream* S, TWaveHeader& H, bool PcmAndImaOnly) {
  H = TWaveHeader();
  int64_t base = S->Seek(0, soCurrent);
  if (base < 0) return false;
  std::vector<uint8_t> buf;
  ReadUpTo(S, ScanLimit, buf);
  // "RIFF" and its size, then "WAVE", each found by a window that slides a byte at a time (the
  // search for "WAVE" starts at the size field).
  int64_t riff = FindId(buf, 0, "RIFF");
  if (riff < 0 || buf.size() - (size_t)riff < 8) return false;
  int64_t wave = FindId(buf, (size_t)riff + 4, "WAVE");
  if (wave < 0) return false;

  enum { stFmt, stFact, stData } state = stFmt;
  TRiffWalker chunks(buf.data(), buf.size(), (size_t)wave + 4);
  TRiffChunk c;
  for (;;) {
    if (state == stData) chunks.SkipZero();  // a pad byte after an odd-sized chunk
    if (!chunks.Next(c)) return false;
    if (state == stData && c.Is("data")) {
      H.DataSize = c.Size;
      H.DataSizeField = base + (int64_t)c.HeaderAt + 4;
      H.DataOffset = base + (int64_t)c.BodyAt;
      return true;
    }
    // Every other chunk's body must lie within the scanned bytes.
    if (!c.Whole) return false;
    const uint8_t* body = buf.data() + c.BodyAt;
    if (state == stFmt && c.Is("fmt ")) {
      if (!ReadFmt(body, c.Size, PcmAndImaOnly, H)) return false;
      bool compressed = H.Type == wtDVIADPCM || H.Type == wtMSADPCM || H.Type == wtACM;
      state = compressed ? stFact : stData;
    } else if (state == stFact && c.Is("fact")) {
      if (c.Size < 4) return false;
      H.HasFact = true;
      H.FactSamples = GetLE32(body);
      H.FactField = base + (int64_t)c.BodyAt;
      state = stData;
    } else if (state == stFact && c.Is("data")) {
      return false;  // compressed data without a "fact" chunk
    }
  }
}

// ---------------------------------------------------------------------------------------------
// TWaveIn

TWaveIn::TWaveIn(TComponent* AOwner) : TAuFileIn(AOwner) {}

TWaveIn::~TWaveIn() { CloseForDestruction(); }

bool TWaveIn::OpenDecoder() {
  FValid = true;
  SingleFloat = false;
  FWavType = wtUnsupported;
  OpenOwnStream(0x20);
  try {
    ReadHeader(false);
  } catch (...) {
    FValid = false;
  }
  if (!FValid) FWavType = wtUnsupported;
  return true;
}

bool TWaveIn::ConvertThroughAcm(const TWaveHeader& H) {
  // The source format record holds 129 bytes: its extra bytes must lie within it.
  if (H.Fmt.size() > TWaveConverter::FormatSize) return false;
  if (H.Fmt.size() >= 18 && 18u + GetLE16(H.Fmt.data() + 16) > TWaveConverter::FormatSize) return false;
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
  auto mem = std::make_unique<TMemoryStream>();
  conv.SaveWaveStream(mem.get());
  mem->SetPosition(0);
  FFileStream = FStream;
  FConverted = std::move(mem);
  FStream = FConverted.get();
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
      // Samples of a depth between whole bytes (12 or 20 bits) sit left-justified in whole
      // bytes, as the block align tells: they are read at the depth of those bytes.
      if (bps > 8 && bps < 32 && bps % 8 != 0 && H.BlockAlign == ch * ((bps + 7) / 8)) bps = (bps + 7) / 8 * 8;
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
      SizeAdpcmBuffers(ch);
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
      SizeAdpcmBuffers(ch);
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

void TWaveIn::CloseDecoder() {
  if (FConverted) {
    FStream = FFileStream;
    FFileStream = nullptr;
    FConverted.reset();
  }
  if (!StreamAssigned) {
    CloseOwnStream();
  } else if (Seekable && FStream) {
    FStream->Seek(0, soBeginning);
  }
  FBuf.clear();
  FBuf.shrink_to_fit();
  FBlock.clear();
  BufStart = 1;
  BufEnd = 0;
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

void TWaveIn::SizeAdpcmBuffers(uint32_t Channels) {
  // As many whole blocks per read as decode into one transfer block (at least one).
  const uint32_t decoded = FSamplesPerBlock * 2 * Channels;
  FBlocksPerRead = std::max<uint32_t>(1, DecodeBufSize / decoded);
  FBlock.assign((size_t)FBlocksPerRead * FBlockAlign, 0);
  FBuf.assign(std::max<size_t>(DecodeBufSize, (size_t)FBlocksPerRead * decoded), 0);
  FDamaged = false;
}

uint32_t TWaveIn::ReadBlocks() {
  const uint32_t want = (uint32_t)FBlock.size();
  uint32_t got = 0;
  while (got < want) {
    uint32_t r = ReadData(FBlock.data() + got, want - got);
    if (r == 0) break;
    got += r;
  }
  uint32_t blocks = (got + FBlockAlign - 1) / FBlockAlign;
  uint32_t whole = blocks * FBlockAlign;
  if (got < whole) std::memset(FBlock.data() + got, 0, whole - got);  // a short last block
  return blocks;
}

uint32_t TWaveIn::DecodeAdpcmBlocks() {
  if (FDamaged) return 0;
  const uint32_t blocks = ReadBlocks();
  const uint32_t ch = (uint32_t)FChan;
  const size_t decoded = (size_t)FSamplesPerBlock * ch;  // samples per block
  auto* out = reinterpret_cast<int16_t*>(FBuf.data());
  uint32_t done = 0;
  for (; done < blocks; ++done) {
    const uint8_t* block = FBlock.data() + (size_t)done * FBlockAlign;
    int16_t* dest = out + done * decoded;
    uint32_t frames = FWavType == wtDVIADPCM
                          ? DecodeImaBlock(block, FBlockAlign, ch, dest)
                          : DecodeMsAdpcmBlock(block, ch, FSamplesPerBlock, FCoefs.data(),
                                               (uint32_t)FCoefs.size() / 2, dest);
    if (frames == 0) {
      // A damaged block ends the stream; what came before it is delivered.
      FDamaged = true;
      break;
    }
  }
  return (uint32_t)(done * decoded * 2);
}

void TWaveIn::GetDataInternal(void*& Buffer, uint32_t& Bytes) {
  if (!FBusy) throw EAuException(msg::StreamNotOpened);
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
      case wtMSADPCM:
        n = DecodeAdpcmBlocks();
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
  FDamaged = false;
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

uint32_t PcmChannelMask(int Channels) {
  static const uint32_t Masks[9] = {0, 0x4, 0x3, 0x7, 0x33, 0x37, 0x3F, 0x70F, 0x63F};
  return Channels >= 1 && Channels <= 8 ? Masks[Channels] : 0;
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
  if (Stream->Write(Data, (int32_t)Count) != (int32_t)Count) throw EAuException(msg::WriteError);
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
  auto clamp32 = [](int64_t v) -> uint32_t {
    if (v < 0) return 0;
    return v > 0xFFFFFFFFLL ? 0xFFFFFFFFu : (uint32_t)v;
  };
  // The RIFF size is filled in once the header's own length is known.
  TByteWriter w;
  w.Id("RIFF");
  w.LE32(0);
  w.Id("WAVE");
  w.Id("fmt ");
  int64_t data;
  if (FRunType == wtDVIADPCM) {
    int64_t frames = InputSize < 0 ? 0 : InputSize / 2 / FChannels;
    int64_t blocks = (frames + FSamplesPerBlock - 1) / FSamplesPerBlock;
    data = blocks * FRunBlock;
    w.LE32(20);
    w.LE16(0x11);
    w.LE16((uint32_t)FChannels);
    w.LE32((uint32_t)FRate);
    w.LE32((uint32_t)(FRate / FSamplesPerBlock) * FRunBlock);
    w.LE16(FRunBlock);
    w.LE16(4);
    w.LE16(2);  // extra bytes: the samples per block
    w.LE16(FSamplesPerBlock);
    w.Id("fact");
    w.LE32(4);
    FFactField = (int64_t)w.Position();
    w.LE32(clamp32(frames));
  } else {
    uint32_t align = (uint32_t)(FBits * FChannels / 8);
    data = InputSize < 0 ? 0 : InputSize;
    bool ext = FRunType == wtExtPCM;
    w.LE32(ext ? 40 : 16);
    w.LE16(ext ? 0xFFFE : 1);
    w.LE16((uint32_t)FChannels);
    w.LE32((uint32_t)FRate);
    w.LE32((uint32_t)FRate * align);
    w.LE16(align);
    w.LE16((uint32_t)FBits);
    if (ext) {
      w.LE16(22);
      w.LE16((uint32_t)FBits);  // valid bits
      w.LE32(PcmChannelMask(FChannels));
      w.Bytes(PcmGuid, 16);
    }
  }
  w.Id("data");
  FDataSizeField = (int64_t)w.Position();
  w.LE32(clamp32(data));
  FHeaderLen = (uint32_t)w.Size();
  w.PatchLE32(4, clamp32(data + FHeaderLen - 8));
  FDataOffset = FHeaderLen;
  WriteOrFail(w.Bytes(), FHeaderLen);
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
  FCreated = OpenDestination(msg::NoFileName);
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
    if (!ok) FailPrepare(msg::CannotAppend);
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
          FailPrepare(msg::AppendOtherFormat);
        Stream->Seek(0, soEnd);
      } else {
        WriteHeader(in->Size());
      }
      break;
    case wtDVIADPCM:
      if (FBits != 16) FailPrepare(msg::AdpcmNot16Bit);
      if (FChannels < 1 || FChannels > 2) FailPrepare(msg::AdpcmChannels);
      if ((FChannels == 2 && FRunBlock % 8 != 0) || ImaSamplesPerBlock(FRunBlock, FChannels) > 0xFFFF)
        FailPrepare(msg::AdpcmBlockSize);
      FSamplesPerBlock = ImaSamplesPerBlock(FRunBlock, FChannels);
      if (FAppending) {
        if ((uint32_t)FRate != H.SampleRate || FChannels != H.Channels)
          FailPrepare(msg::AppendOtherFormat);
        Stream->Seek(0, soEnd);
      } else {
        WriteHeader(in->Size());
      }
      FStepIndex[0] = FStepIndex[1] = 0;
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
  uint8_t* o = FBlockOut.data();
  ::EncodeImaBlock(reinterpret_cast<const int16_t*>(sb), FRunBlock, (uint32_t)FChannels, FStepIndex, o);
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
  try {
    WriteLE32At(Stream, Offset, Value);
  } catch (const Exception&) {
    throw EAuException(msg::WriteError);
  }
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
