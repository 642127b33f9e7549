#include "audio/formats/vorbis/AuVorbis.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>

#include "audio/formats/vorbis/Codec.h"
#include "audio/formats/vorbis/VorbisEnc.h"
#include "audio/formats/vorbis/VorbisFile.h"
#include "audio/formats/vorbis/ogg.h"
#include "classlib/WinApi.h"

namespace {

// The unit's messages.
const char* const ErrLibrary = " library could not be loaded.";
const char* const ErrOpen = "Failed to open an ogg file: ";
const char* const ErrNotOpened = "The Stream is not opened";
const char* const ErrNoName = "File name is not assigned.";
const char* const ErrBitrate = "Vorbis codec setup with the requested bitrate failed. Try a lower bitrate.";
const char* const ErrWrite = "Error writing ogg file";
const char* const ErrSetup = "Vorbis codec setup failed for this sample format.";

constexpr uint32_t DecodeBufSize = 12288;
constexpr uint32_t PullBytes = 24576;
constexpr int MaxHoles = 64;

// Vorbis streams order their channels otherwise than interleaved PCM here (and WAVE, FLAC and
// WavPack) does: left, centre, right, then the surrounds, the LFE last. Per channel count, the
// Vorbis channel that holds each PCM channel; the PCM order is the one PcmChannelMask names
// (AuWave), e.g. for 7 channels Vorbis' FL FC FR SL SR RC LFE to FL FR FC LFE BC SL SR.
constexpr uint8_t VorbisChannelOf[9][8] = {
    {}, {0}, {0, 1}, {0, 2, 1}, {0, 1, 2, 3}, {0, 2, 1, 3, 4}, {0, 2, 1, 5, 3, 4}, {0, 2, 1, 6, 5, 3, 4},
    {0, 2, 1, 7, 5, 6, 3, 4}};

bool ReordersChannels(int Channels) { return Channels == 3 || Channels >= 5; }

// Interleaved 16-bit frames from the decoder's channel order into the PCM order, in place.
void VorbisToPcmOrder(int16_t* Frames, uint32_t Bytes, int Channels) {
  if (Channels < 1 || Channels > 8 || !ReordersChannels(Channels)) return;
  const uint32_t Count = Bytes / (2u * (uint32_t)Channels);
  const uint8_t* map = VorbisChannelOf[Channels];
  int16_t t[8];
  for (uint32_t f = 0; f < Count; ++f, Frames += Channels) {
    std::memcpy(t, Frames, sizeof(int16_t) * Channels);
    for (int c = 0; c < Channels; ++c) Frames[c] = t[map[c]];
  }
}

// Whether the encoder sets up bit-rate-managed encoding around Nominal bit/s at this rate and
// channel count (a cheap check: the full set-up is not made).
bool TakesManagedRate(int Channels, int Rate, long Nominal) {
  vorbis_info vi;
  VORBIS_CALL(vorbis_info_init)(&vi);
  const bool ok = VORBISENC_CALL(vorbis_encode_setup_managed)(&vi, Channels, Rate, -1, Nominal, -1) == 0;
  VORBIS_CALL(vorbis_info_clear)(&vi);
  return ok;
}

// The managed rate nearest to Wanted (which the encoder refuses) that it takes at this rate and
// channel count, in bit/s; 0 when it takes none (sample rates above its managed modes). The rates
// it takes form ranges: a scan in steps of a tenth finds the nearest on each side, a bisection
// then the end of its range toward Wanted.
long NearestManagedRate(int Channels, int Rate, long Wanted) {
  long below = 0, above = 0;
  for (double r = 1000; r <= 4000000.0 * Channels; r *= 1.1) {
    const long v = std::lround(r);
    if (v == Wanted || !TakesManagedRate(Channels, Rate, v)) continue;
    if (v < Wanted) below = v;
    else if (!above) above = v;
  }
  auto edge = [&](long taken, long refused) {
    while (std::labs(refused - taken) > 1) {
      const long mid = taken + (refused - taken) / 2;
      (TakesManagedRate(Channels, Rate, mid) ? taken : refused) = mid;
    }
    return taken;
  };
  if (below) below = edge(below, Wanted);
  if (above) above = edge(above, Wanted);
  if (!below) return above;
  if (!above) return below;
  return Wanted - below <= above - Wanted ? below : above;
}

// The quality whose estimated rate at 48 kHz (the highest rate with estimates) comes nearest to
// Nominal bit/s for this channel count.
float QualityNear(int Channels, long Nominal) {
  auto rateOf = [&](float q) {
    vorbis_info vi;
    VORBIS_CALL(vorbis_info_init)(&vi);
    long r = -1;
    if (VORBISENC_CALL(vorbis_encode_setup_vbr)(&vi, Channels, 48000, q) == 0 &&
        VORBISENC_CALL(vorbis_encode_setup_init)(&vi) == 0)
      r = vi.bitrate_nominal;
    VORBIS_CALL(vorbis_info_clear)(&vi);
    return r;
  };
  float lo = -0.1f, hi = 1.0f;
  for (int i = 0; i < 12; ++i) {
    const float mid = (lo + hi) / 2;
    (rateOf(mid) < Nominal ? lo : hi) = mid;
  }
  return (lo + hi) / 2;
}

// Bit-rate-managed encoding where the encoder has no managed mode (sample rates above 50 kHz):
// the quality nearest to the nominal rate, held to it by the bit-rate manager with the limits a
// managed set-up has. 0 when the encoder takes it.
int ManagedOverQuality(vorbis_info& Vi, int Channels, int Rate, long Maximum, long Nominal, long Minimum) {
  if (VORBISENC_CALL(vorbis_encode_setup_vbr)(&Vi, Channels, Rate, QualityNear(Channels, Nominal)) != 0) return -1;
  ovectl_ratemanage2_arg a{};
  if (VORBISENC_CALL(vorbis_encode_ctl)(&Vi, OV_ECTL_RATEMANAGE2_GET, &a) != 0) return -1;
  a.management_active = 1;
  a.bitrate_limit_min_kbps = Minimum > 0 ? Minimum / 1000 : -1;
  a.bitrate_limit_max_kbps = Maximum > 0 ? Maximum / 1000 : -1;
  a.bitrate_average_kbps = Nominal / 1000;
  a.bitrate_average_damping = 1.5;
  a.bitrate_limit_reservoir_bits = Nominal * 2;
  a.bitrate_limit_reservoir_bias = 0.1;
  if (VORBISENC_CALL(vorbis_encode_ctl)(&Vi, OV_ECTL_RATEMANAGE2_SET, &a) != 0) return -1;
  return VORBISENC_CALL(vorbis_encode_setup_init)(&Vi);
}

const int32_t BitRates[] = {-1,     24000,  32000,  45000,  48000,  56000,  64000,  80000,  96000,
                            112000, 128000, 144000, 160000, 192000, 224000, 256000, 320000, 499000};

}  // namespace

int32_t VorbisBitRateValue(TVorbisBitRate Value) {
  int i = (int)Value;
  return i >= 0 && i < (int)(sizeof BitRates / sizeof BitRates[0]) ? BitRates[i] : -1;
}

void LoadVorbisLibraries() {
  if (!ogg::Load()) throw EAuException(AnsiString(ogg::LibraryName) + ErrLibrary);
  if (!codec::Load()) throw EAuException(AnsiString(codec::LibraryName) + ErrLibrary);
  if (!vorbisfile::Load()) throw EAuException(AnsiString(vorbisfile::LibraryName) + ErrLibrary);
  if (!vorbisenc::Load()) throw EAuException(AnsiString(vorbisenc::LibraryName) + ErrLibrary);
}

struct TVorbisFileState {
  OggVorbis_File Vf;
};

struct TVorbisEncState {
  ogg_stream_state Os;
  ogg_page Og;
  ogg_packet Op;
  vorbis_info Vi;
  vorbis_comment Vc;
  vorbis_dsp_state Vd;
  vorbis_block Vb;
  bool InfoInit = false, CommentInit = false, DspInit = false, BlockInit = false, StreamInit = false;
};

// ---------------------------------------------------------------------------------------------
// The Vorbis file library's callbacks over the input's stream. None lets an exception through.

struct TVorbisInCallbacks {
  static size_t Read(void* Ptr, size_t Size, size_t Count, void* Source) {
    auto* in = static_cast<TVorbisIn*>(Source);
    try {
      if (!in->FStream || Size == 0) return 0;
      size_t want = std::min<size_t>(Size * Count, 0x40000000);
      int32_t n = in->FStream->Read(Ptr, (int32_t)want);
      return n > 0 ? (size_t)n / Size : 0;
    } catch (...) {
      return 0;
    }
  }
  static int Seek(void* Source, ogg_int64_t Offset, int Whence) {
    auto* in = static_cast<TVorbisIn*>(Source);
    try {
      if (!in->Seekable || !in->FStream) return -1;
      TSeekOrigin o = Whence == 1 ? soCurrent : Whence == 2 ? soEnd : soBeginning;
      return in->FStream->Seek(Offset, o) < 0 ? -1 : 0;
    } catch (...) {
      return -1;
    }
  }
  static int Close(void* Source) {
    auto* in = static_cast<TVorbisIn*>(Source);
    try {
      if (in->StreamAssigned) {
        if (in->FStream && in->Seekable) in->FStream->Seek(0, soBeginning);
      } else {
        in->CloseOwnStream();
      }
    } catch (...) {
    }
    return 0;
  }
  static long Tell(void* Source) {
    auto* in = static_cast<TVorbisIn*>(Source);
    try {
      if (!in->FStream) return -1;
      int64_t p = in->FStream->Seek(0, soCurrent);
      return p < 0 || p > 0x7FFFFFFF ? -1 : (long)p;
    } catch (...) {
      return -1;
    }
  }
};

// ---------------------------------------------------------------------------------------------
// TVorbisIn

TVorbisIn::TVorbisIn(TComponent* AOwner)
    : TAuTaggedFileIn(AOwner), FTags(std::make_unique<TVorbisTags>()), FVf(std::make_unique<TVorbisFileState>()) {
  std::memset(&FVf->Vf, 0, sizeof FVf->Vf);
}

TVorbisIn::~TVorbisIn() { CloseForDestruction(); }

void TVorbisIn::LoadDecoderLibrary() { LoadVorbisLibraries(); }

bool TVorbisIn::OpenFailed() {
  // Once the library holds the file, it stays open for CloseFile to release.
  if (FVfOpen) return true;
  if (!FStream) return false;  // nothing was opened
  // The library has released its state without closing the stream.
  FValid = false;
  if (StreamAssigned) {
    FStream->Seek(0, soBeginning);
  } else {
    CloseOwnStream();
  }
  return false;
}

bool TVorbisIn::OpenDecoder() {
  FValid = true;
  OpenOwnStream(0x20);
  Seekable = FStream->Seek(0, soBeginning) == 0;
  ov_callbacks cb;
  cb.read_func = TVorbisInCallbacks::Read;
  cb.seek_func = TVorbisInCallbacks::Seek;
  cb.close_func = TVorbisInCallbacks::Close;
  cb.tell_func = TVorbisInCallbacks::Tell;
  std::memset(&FVf->Vf, 0, sizeof FVf->Vf);
  int r = VORBISFILE_CALL(ov_test_callbacks)(this, &FVf->Vf, nullptr, 0, cb);
  if (r != 0) throw EAuException(ErrOpen + std::to_string(r));
  r = VORBISFILE_CALL(ov_test_open)(&FVf->Vf);
  if (r != 0) throw EAuException(ErrOpen + std::to_string(r));
  FVfOpen = true;
  FTags->Clear();
  if (vorbis_comment* vc = VORBISFILE_CALL(ov_comment)(&FVf->Vf, -1)) {
    for (int i = 0; i < vc->comments; ++i) {
      if (!vc->user_comments || !vc->user_comments[i] || !vc->comment_lengths) continue;
      const int len = vc->comment_lengths[i];
      if (len < 0) continue;
      AnsiString name;
      WideString value;
      SplitVorbisComment(std::string(vc->user_comments[i], (size_t)len), name, value);
      if (name == VorbisArtist || name == VorbisAlbum || name == VorbisTitle || name == VorbisDate ||
          name == VorbisGenre || name == VorbisTrack)
        FTags->SetValue(name, value);
    }
  }
  FTags->CopyToCommonTags(FCommonTags.get());
  vorbis_info* vi = VORBISFILE_CALL(ov_info)(&FVf->Vf, -1);
  if (!vi || vi->channels < 1 || vi->channels > 255 || vi->rate < 1) {
    FValid = false;
    FSize = 0;
    return true;
  }
  FChan = vi->channels;
  FSR = (int32_t)vi->rate;
  FBPS = 16;
  FMaxBitRate = (int32_t)vi->bitrate_upper;
  FNominalBitRate = (int32_t)vi->bitrate_nominal;
  FMinBitRate = (int32_t)vi->bitrate_lower;
  ogg_int64_t total = VORBISFILE_CALL(ov_pcm_total)(&FVf->Vf, -1);
  FSize = total >= 0 ? (int64_t)total * 2 * FChan : -1;
  FSection = -1;
  FEndOfData = false;
  FBuf.assign(DecodeBufSize, 0);
  BufStart = 1;
  BufEnd = 0;
  return true;
}

void TVorbisIn::CloseDecoder() {
  if (FVfOpen) {
    FVfOpen = false;
    if (vorbisfile::Entries.ov_clear) vorbisfile::Entries.ov_clear(&FVf->Vf);  // closes the stream
  }
  FBuf.clear();
  FBuf.shrink_to_fit();
  BufStart = 1;
  BufEnd = 0;
}

int32_t TVorbisIn::GetBitRate() {
  OpenFile();
  return FNominalBitRate;
}

void TVorbisIn::GetDataInternal(void*& Buffer, uint32_t& Bytes) {
  if (!FBusy) throw EAuException(ErrNotOpened);
  Buffer = nullptr;
  if (!FVfOpen || !FValid) {
    Bytes = 0;
    return;
  }
  if (BufStart > BufEnd) {
    BufStart = 1;
    BufEnd = 0;
    int holes = 0;
    // Room for a whole frame at least: the library decodes none into less than a frame, and a frame
    // of 5 or 7 channels does not divide the buffer (its 0 would end the stream early).
    const int32_t frameBytes = 2 * std::max(FChan, 1);
    while (!FEndOfData && BufEnd + frameBytes <= (int32_t)DecodeBufSize) {
      int section = FSection;
      long r = VORBISFILE_CALL(ov_read)(&FVf->Vf, reinterpret_cast<char*>(FBuf.data()) + BufEnd,
                                        (int)DecodeBufSize - BufEnd, 0, 2, 1, &section);
      if (r == OV_HOLE && ++holes <= MaxHoles) continue;  // a gap in the data: decoding goes on
      if (r < 1) {
        FEndOfData = true;
        break;
      }
      if (section != FSection) {
        // A chained stream whose next part has another layout cannot go on in this format.
        vorbis_info* vi = VORBISFILE_CALL(ov_info)(&FVf->Vf, -1);
        if (FSection != -1 && (!vi || vi->channels != FChan || vi->rate != FSR)) {
          FEndOfData = true;
          break;
        }
        FSection = section;
      }
      VorbisToPcmOrder(reinterpret_cast<int16_t*>(FBuf.data() + BufEnd), (uint32_t)r, FChan);
      BufEnd += (int32_t)r;
      if (FSize > 0 && FPosition + BufEnd >= FSize) {
        BufEnd = (int32_t)(FSize - FPosition);
        if (BufEnd <= 0) {
          BufEnd = 0;
          FEndOfData = true;
        }
        break;
      }
    }
    if (BufEnd <= 0) {
      Bytes = 0;
      return;
    }
  }
  uint32_t count = std::min<uint32_t>(Bytes, (uint32_t)(BufEnd - BufStart + 1));
  Buffer = FBuf.data() + (BufStart - 1);
  BufStart += (int32_t)count;
  Bytes = count;
}

bool TVorbisIn::SeekInternal(int64_t& SampleNum) {
  OpenFile();
  BufStart = 1;
  BufEnd = 0;
  if (!FVfOpen || !FValid) return false;
  if (SampleNum < 0) SampleNum = 0;
  FEndOfData = false;
  return VORBISFILE_CALL(ov_pcm_seek)(&FVf->Vf, (ogg_int64_t)SampleNum) == 0;
}

// ---------------------------------------------------------------------------------------------
// TVorbisOut

TVorbisOut::TVorbisOut(TComponent* AOwner) : TAuFileOut(AOwner), FComments(std::make_unique<TVorbisTags>()) {}

TVorbisOut::~TVorbisOut() { Shutdown(); }

void TVorbisOut::SetDesiredNominalBitrate(TVorbisBitRate Value) {
  FNominal = Value;
  if (VorbisBitRateValue(FMinimum) > VorbisBitRateValue(Value)) FMinimum = Value;
  if (VorbisBitRateValue(FMaximum) < VorbisBitRateValue(Value)) FMaximum = Value;
  if (Value == brAutoSelect) FMaximum = brAutoSelect;
}

void TVorbisOut::SetDesiredMaximumBitrate(TVorbisBitRate Value) {
  if (FNominal == brAutoSelect) return;
  if (Value == brAutoSelect || VorbisBitRateValue(Value) >= VorbisBitRateValue(FNominal)) FMaximum = Value;
}

void TVorbisOut::SetMinimumBitrate(TVorbisBitRate Value) {
  if (VorbisBitRateValue(Value) <= VorbisBitRateValue(FNominal)) FMinimum = Value;
}

void TVorbisOut::WritePage(const void* Page) {
  const auto* og = static_cast<const ogg_page*>(Page);
  if (Stream->Write(og->header, (int32_t)og->header_len) != (int32_t)og->header_len ||
      Stream->Write(og->body, (int32_t)og->body_len) != (int32_t)og->body_len)
    throw EAuException(ErrWrite);
}

void TVorbisOut::Prepare() {
  FInputInited = false;
  FEndOfStream = false;
  FCarry = 0;
  FState = std::make_unique<TVorbisEncState>();
  TVorbisEncState& s = *FState;
  FCreated = false;
  LoadVorbisLibraries();
  FCreated = OpenDestination(ErrNoName);
  TAuInput* in = Input();
  FInputInited = true;
  in->Init();
  if (FFileMode == foAppend) Stream->Seek(0, soEnd);
  FBits = in->BitsPerSample();
  FChannels = in->Channels();
  const int rate = in->SampleRate();
  if ((FBits != 8 && FBits != 16 && FBits != 24 && FBits != 32) || FChannels < 1 || FChannels > 255 || rate < 1)
    throw EAuException(ErrSetup);

  VORBIS_CALL(vorbis_info_init)(&s.Vi);
  s.InfoInit = true;
  if (FNominal == brAutoSelect) {
    if (VORBISENC_CALL(vorbis_encode_setup_vbr)(&s.Vi, FChannels, rate, FCompression) != 0 ||
        VORBISENC_CALL(vorbis_encode_setup_init)(&s.Vi) != 0)
      throw EAuException(ErrSetup);
  } else {
    long nominal = VorbisBitRateValue(FNominal);
    long maximum = VorbisBitRateValue(FMaximum);
    long minimum = VorbisBitRateValue(FMinimum);
    const bool autoMinimum = minimum <= 0;
    if (autoMinimum) minimum = nominal;
    if (VORBISENC_CALL(vorbis_encode_init)(&s.Vi, FChannels, rate, maximum, nominal, minimum) != 0) {
      // The encoder refuses this bit rate at this sample rate and channel count: the file gets
      // the nearest one it takes (the other two follow it as the setters keep them), or, at
      // sample rates without managed modes, the asked one held by the bit-rate manager.
      VORBIS_CALL(vorbis_info_clear)(&s.Vi);
      VORBIS_CALL(vorbis_info_init)(&s.Vi);
      const long nearest = NearestManagedRate(FChannels, rate, nominal);
      int r;
      if (nearest > 0) {
        nominal = nearest;
        if (maximum > 0) maximum = std::max(maximum, nominal);
        minimum = autoMinimum ? nominal : std::min(minimum, nominal);
        r = VORBISENC_CALL(vorbis_encode_init)(&s.Vi, FChannels, rate, maximum, nominal, minimum);
      } else {
        r = ManagedOverQuality(s.Vi, FChannels, rate, maximum, nominal, minimum);
      }
      if (r != 0) throw EAuException(ErrBitrate);
    }
  }
  VORBIS_CALL(vorbis_comment_init)(&s.Vc);
  s.CommentInit = true;
  for (int i = 0; i < FComments->Count(); ++i) {
    AnsiString name = FComments->Names(i);
    WideString value = FComments->AsWideString(name);
    if (value.empty()) continue;
    std::string v = TagWideToUtf8(value);
    VORBIS_CALL(vorbis_comment_add_tag)(&s.Vc, name.c_str(), v.c_str());
  }
  if (VORBIS_CALL(vorbis_analysis_init)(&s.Vd, &s.Vi) != 0) throw EAuException(ErrSetup);
  s.DspInit = true;
  VORBIS_CALL(vorbis_block_init)(&s.Vd, &s.Vb);
  s.BlockInit = true;
  OGG_CALL(ogg_stream_init)(&s.Os, FSerial);
  s.StreamInit = true;
  ogg_packet header, comments, codebooks;
  VORBIS_CALL(vorbis_analysis_headerout)(&s.Vd, &s.Vc, &header, &comments, &codebooks);
  OGG_CALL(ogg_stream_packetin)(&s.Os, &header);
  OGG_CALL(ogg_stream_packetin)(&s.Os, &comments);
  OGG_CALL(ogg_stream_packetin)(&s.Os, &codebooks);
  while (OGG_CALL(ogg_stream_flush)(&s.Os, &s.Og) != 0) WritePage(&s.Og);
  FStage.assign(PullBytes + 8 * 255, 0);
}

bool TVorbisOut::DoOutput(bool Abort) {
  if (!FActive) return true;
  if (Abort || FEndOfStream) return false;
  TVorbisEncState& s = *FState;
  const uint32_t bytes = (uint32_t)FBits / 8;
  const uint32_t frameBytes = bytes * (uint32_t)FChannels;
  void* p = nullptr;
  uint32_t n = PullBytes;
  Input()->GetData(p, n);
  if (!p) n = 0;
  float** buf = VORBIS_CALL(vorbis_analysis_buffer)(&s.Vd, (int)PullBytes);
  if (n == 0) {
    VORBIS_CALL(vorbis_analysis_wrote)(&s.Vd, 0);  // the end of the input
  } else {
    // Bytes of a frame split between two pulls wait for the rest in the stage.
    std::memcpy(FStage.data() + FCarry, p, n);
    const uint32_t have = FCarry + n;
    const uint32_t frames = have / frameBytes;
    const uint8_t* src = FStage.data();
    for (int c = 0; c < FChannels; ++c) {
      float* d = buf[FChannels <= 8 ? VorbisChannelOf[FChannels][c] : c];
      const uint8_t* q = src + c * bytes;
      switch (bytes) {
        case 1:
          for (uint32_t i = 0; i < frames; ++i, q += frameBytes) d[i] = ((int)q[0] - 128) / 128.0f;
          break;
        case 2:
          for (uint32_t i = 0; i < frames; ++i, q += frameBytes) d[i] = (int16_t)(q[0] | (q[1] << 8)) / 32768.0f;
          break;
        case 3:
          for (uint32_t i = 0; i < frames; ++i, q += frameBytes)
            d[i] = (((int32_t)(q[0] | (q[1] << 8) | (q[2] << 16)) << 8) >> 8) / 8388608.0f;
          break;
        default:
          for (uint32_t i = 0; i < frames; ++i, q += frameBytes) {
            int32_t v;
            std::memcpy(&v, q, 4);
            d[i] = (float)(v / 2147483648.0);
          }
          break;
      }
    }
    FCarry = have - frames * frameBytes;
    if (FCarry) std::memmove(FStage.data(), FStage.data() + frames * frameBytes, FCarry);
    VORBIS_CALL(vorbis_analysis_wrote)(&s.Vd, (int)frames);
  }
  while (!FEndOfStream && VORBIS_CALL(vorbis_analysis_blockout)(&s.Vd, &s.Vb) == 1) {
    VORBIS_CALL(vorbis_analysis)(&s.Vb, nullptr);
    VORBIS_CALL(vorbis_bitrate_addblock)(&s.Vb);
    while (!FEndOfStream && VORBIS_CALL(vorbis_bitrate_flushpacket)(&s.Vd, &s.Op)) {
      OGG_CALL(ogg_stream_packetin)(&s.Os, &s.Op);
      while (!FEndOfStream && OGG_CALL(ogg_stream_pageout)(&s.Os, &s.Og) != 0) {
        WritePage(&s.Og);
        if (OGG_CALL(ogg_page_eos)(&s.Og)) FEndOfStream = true;
      }
    }
  }
  return true;
}

void TVorbisOut::Done() {
  TAuInput* in = Input();
  CloseDestination();
  // A run that failed before any audio leaves no file of its own behind.
  if (!Prepared() && FCreated && !StreamAssigned) DeleteFileW(FWideFileName.c_str());
  FCreated = false;
  try {
    if (FInputInited && in) {
      FInputInited = false;
      in->Flush();
    }
  } catch (...) {
    FComments->Clear();
    FState.reset();
    throw;
  }
  FComments->Clear();
  if (FState) {
    TVorbisEncState& s = *FState;
    // Only what Prepare set up, through entry points that exist.
    if (s.StreamInit && ogg::Entries.ogg_stream_clear) ogg::Entries.ogg_stream_clear(&s.Os);
    if (s.BlockInit && codec::Entries.vorbis_block_clear) codec::Entries.vorbis_block_clear(&s.Vb);
    if (s.DspInit && codec::Entries.vorbis_dsp_clear) codec::Entries.vorbis_dsp_clear(&s.Vd);
    if (s.CommentInit && codec::Entries.vorbis_comment_clear) codec::Entries.vorbis_comment_clear(&s.Vc);
    if (s.InfoInit && codec::Entries.vorbis_info_clear) codec::Entries.vorbis_info_clear(&s.Vi);
    FState.reset();
  }
  FStage.clear();
  FStage.shrink_to_fit();
}
