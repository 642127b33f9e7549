#include "audio/formats/flac/AuFLAC.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "audio/formats/flac/FLAC.h"
#include "classlib/WinApi.h"

namespace {

// The unit's messages.
const char* const ErrLibrary = "libFLAC.dll library could not be loaded.";
const char* const ErrOutNoName = "File name is not assigned.";
const char* const ErrInNoName = "File name is not assigned";
const char* const ErrEncoderInit = "Failed to initialize FLAC encoder.";
const char* const ErrEncode = "Failed to encode data.";
const char* const ErrDecoderNew = "Failed to initialize the FLAC decoder.";
const char* const ErrMD5Setting = "Internal error 113, please report to the developers";
const char* const ErrDecoderInit = "Failed to set up the FLAC decoder.";
const char* const ErrNotOpened = "The Stream is not opened";
const char* const ErrRead = "Error reading FLAC file";
const char* const ErrSync = "Sinc lost or corrupt data";
const char* const ErrFinish = "Failed to finish the FLAC file.";

const char* const CommentVendor = "VENDOR=Hacked";
// The comments the output writes, in this order.
const char* const* const CommentOrder[] = {&VorbisTitle,     &VorbisArtist,    &VorbisAlbum,     &VorbisDate,
                                           &VorbisGenre,     &VorbisTrack,     &VorbisDisc,      &VorbisReference,
                                           &VorbisTrackGain, &VorbisTrackPeak, &VorbisAlbumGain, &VorbisAlbumPeak};

constexpr uint32_t MaxMetadataBody = 0xFFFFFF;
// Steps without a decoded frame before the data counts as lost.
constexpr int MaxEmptySteps = 1024;

void PutLE32(std::string& s, uint32_t v) {
  for (int i = 0; i < 4; ++i) s.push_back((char)(v >> (8 * i)));
}

FLAC__StreamEncoder* Enc(void* p) { return static_cast<FLAC__StreamEncoder*>(p); }
FLAC__StreamDecoder* Dec(void* p) { return static_cast<FLAC__StreamDecoder*>(p); }

}  // namespace

// ---------------------------------------------------------------------------------------------
// The library's callbacks. None lets an exception through: each answers with the library's
// error value instead.

struct TFLACOutCallbacks {
  static FLAC__StreamEncoderWriteStatus Write(const FLAC__StreamEncoder*, const FLAC__byte Buffer[], size_t Bytes,
                                              uint32_t Samples, uint32_t, void* Client) {
    auto* o = static_cast<TFLACOut*>(Client);
    try {
      if (!o->FCommentWritten && Samples == 0 && Bytes >= 4 && (Buffer[0] & 0x7F) == FLAC__METADATA_TYPE_VORBIS_COMMENT) {
        o->FCommentWritten = true;
        std::string block = o->BuildCommentBlock((Buffer[0] & 0x80) != 0);
        if (o->Stream->Write(block.data(), (int32_t)block.size()) != (int32_t)block.size())
          return FLAC__STREAM_ENCODER_WRITE_STATUS_FATAL_ERROR;
        return FLAC__STREAM_ENCODER_WRITE_STATUS_OK;
      }
      if (Bytes > 0x7FFFFFFF || o->Stream->Write(Buffer, (int32_t)Bytes) != (int32_t)Bytes)
        return FLAC__STREAM_ENCODER_WRITE_STATUS_FATAL_ERROR;
      return FLAC__STREAM_ENCODER_WRITE_STATUS_OK;
    } catch (...) {
      return FLAC__STREAM_ENCODER_WRITE_STATUS_FATAL_ERROR;
    }
  }
  static FLAC__StreamEncoderSeekStatus Seek(const FLAC__StreamEncoder*, FLAC__uint64 Offset, void* Client) {
    auto* o = static_cast<TFLACOut*>(Client);
    try {
      if (o->Stream->Seek((int64_t)Offset, soBeginning) != (int64_t)Offset) return FLAC__STREAM_ENCODER_SEEK_STATUS_ERROR;
      return FLAC__STREAM_ENCODER_SEEK_STATUS_OK;
    } catch (...) {
      return FLAC__STREAM_ENCODER_SEEK_STATUS_ERROR;
    }
  }
  static FLAC__StreamEncoderTellStatus Tell(const FLAC__StreamEncoder*, FLAC__uint64* Offset, void* Client) {
    auto* o = static_cast<TFLACOut*>(Client);
    try {
      int64_t p = o->Stream->Seek(0, soCurrent);
      if (p < 0) return FLAC__STREAM_ENCODER_TELL_STATUS_UNSUPPORTED;
      *Offset = (FLAC__uint64)p;
      return FLAC__STREAM_ENCODER_TELL_STATUS_OK;
    } catch (...) {
      return FLAC__STREAM_ENCODER_TELL_STATUS_ERROR;
    }
  }
  static void Metadata(const FLAC__StreamEncoder*, const FLAC__StreamMetadata*, void*) {}
};

struct TFLACInCallbacks {
  static FLAC__StreamDecoderReadStatus Read(const FLAC__StreamDecoder*, FLAC__byte Buffer[], size_t* Bytes,
                                            void* Client) {
    auto* in = static_cast<TFLACIn*>(Client);
    try {
      TStream* s = in->FStream;
      if (!s || *Bytes == 0) {
        *Bytes = 0;
        return FLAC__STREAM_DECODER_READ_STATUS_ABORT;
      }
      if (in->Seekable && in->FStreamPos >= in->FStreamSize) {
        *Bytes = 0;
        return FLAC__STREAM_DECODER_READ_STATUS_END_OF_STREAM;
      }
      int32_t want = (int32_t)std::min<size_t>(*Bytes, 0x7FFFFFFF);
      int32_t n = s->Read(Buffer, want);
      if (n <= 0) {
        *Bytes = 0;
        return FLAC__STREAM_DECODER_READ_STATUS_END_OF_STREAM;
      }
      in->FStreamPos += n;
      *Bytes = (size_t)n;
      return FLAC__STREAM_DECODER_READ_STATUS_CONTINUE;
    } catch (...) {
      *Bytes = 0;
      return FLAC__STREAM_DECODER_READ_STATUS_ABORT;
    }
  }
  static FLAC__StreamDecoderSeekStatus Seek(const FLAC__StreamDecoder*, FLAC__uint64 Offset, void* Client) {
    auto* in = static_cast<TFLACIn*>(Client);
    try {
      if (!in->Seekable) return FLAC__STREAM_DECODER_SEEK_STATUS_UNSUPPORTED;
      if (Offset > (FLAC__uint64)in->FStreamSize) return FLAC__STREAM_DECODER_SEEK_STATUS_ERROR;
      in->FStreamPos = in->FStream->Seek((int64_t)Offset, soBeginning);
      if (in->FStreamPos != (int64_t)Offset) return FLAC__STREAM_DECODER_SEEK_STATUS_ERROR;
      return FLAC__STREAM_DECODER_SEEK_STATUS_OK;
    } catch (...) {
      return FLAC__STREAM_DECODER_SEEK_STATUS_ERROR;
    }
  }
  static FLAC__StreamDecoderTellStatus Tell(const FLAC__StreamDecoder*, FLAC__uint64* Offset, void* Client) {
    auto* in = static_cast<TFLACIn*>(Client);
    try {
      if (!in->Seekable) return FLAC__STREAM_DECODER_TELL_STATUS_UNSUPPORTED;
      if (in->FStreamPos < 0) return FLAC__STREAM_DECODER_TELL_STATUS_ERROR;
      *Offset = (FLAC__uint64)in->FStreamPos;
      return FLAC__STREAM_DECODER_TELL_STATUS_OK;
    } catch (...) {
      return FLAC__STREAM_DECODER_TELL_STATUS_ERROR;
    }
  }
  static FLAC__StreamDecoderLengthStatus Length(const FLAC__StreamDecoder*, FLAC__uint64* Length, void* Client) {
    auto* in = static_cast<TFLACIn*>(Client);
    if (!in->Seekable) return FLAC__STREAM_DECODER_LENGTH_STATUS_UNSUPPORTED;
    *Length = (FLAC__uint64)in->FStreamSize;
    return FLAC__STREAM_DECODER_LENGTH_STATUS_OK;
  }
  static FLAC__bool Eof(const FLAC__StreamDecoder*, void* Client) {
    auto* in = static_cast<TFLACIn*>(Client);
    return in->Seekable && in->FStreamPos >= in->FStreamSize;
  }
  static FLAC__StreamDecoderWriteStatus Write(const FLAC__StreamDecoder*, const FLAC__Frame* Frame,
                                              const FLAC__int32* const Buffer[], void* Client) {
    auto* in = static_cast<TFLACIn*>(Client);
    try {
      const uint32_t n = Frame->header.blocksize;
      const int ch = in->FChan;
      const int bytes = in->FBPS / 8;
      // Frames that disagree with the stream's description are damage: the decoder stops.
      if (!in->FStreamInfo || (int)Frame->header.channels != ch || (int)Frame->header.bits_per_sample != in->FFileBits)
        return FLAC__STREAM_DECODER_WRITE_STATUS_ABORT;
      const size_t need = (size_t)n * bytes * ch;
      if (need > in->FBlock.size()) in->FBlock.resize(need);
      const int shift = in->FBPS - in->FFileBits;
      uint8_t* d = in->FBlock.data();
      switch (bytes) {
        case 1:
          for (uint32_t i = 0; i < n; ++i)
            for (int c = 0; c < ch; ++c) *d++ = (uint8_t)((Buffer[c][i] << shift) + 128);
          break;
        case 2:
          if (ch == 2 && shift == 0) {
            int16_t* o = reinterpret_cast<int16_t*>(d);
            const FLAC__int32* l = Buffer[0];
            const FLAC__int32* r = Buffer[1];
            for (uint32_t i = 0; i < n; ++i) {
              o[2 * i] = (int16_t)l[i];
              o[2 * i + 1] = (int16_t)r[i];
            }
            break;
          }
          for (uint32_t i = 0; i < n; ++i)
            for (int c = 0; c < ch; ++c) {
              int32_t v = Buffer[c][i] << shift;
              d[0] = (uint8_t)v;
              d[1] = (uint8_t)(v >> 8);
              d += 2;
            }
          break;
        case 3:
          for (uint32_t i = 0; i < n; ++i)
            for (int c = 0; c < ch; ++c) {
              int32_t v = Buffer[c][i] << shift;
              d[0] = (uint8_t)v;
              d[1] = (uint8_t)(v >> 8);
              d[2] = (uint8_t)(v >> 16);
              d += 3;
            }
          break;
        default:
          for (uint32_t i = 0; i < n; ++i)
            for (int c = 0; c < ch; ++c) {
              int32_t v = Buffer[c][i] << shift;
              std::memcpy(d, &v, 4);
              d += 4;
            }
          break;
      }
      in->FBlockUsed = (uint32_t)need;
      in->FBlockRead = 0;
      return FLAC__STREAM_DECODER_WRITE_STATUS_CONTINUE;
    } catch (...) {
      return FLAC__STREAM_DECODER_WRITE_STATUS_ABORT;
    }
  }
  static void Metadata(const FLAC__StreamDecoder*, const FLAC__StreamMetadata* M, void* Client) {
    auto* in = static_cast<TFLACIn*>(Client);
    try {
      if (M->type == FLAC__METADATA_TYPE_STREAMINFO) {
        const FLAC__StreamMetadata_StreamInfo& si = M->data.stream_info;
        int bits = (int)si.bits_per_sample;
        if (si.channels < 1 || si.channels > 8 || bits < 4 || bits > 32 || si.sample_rate == 0 ||
            si.sample_rate > 0x7FFFFFFF) {
          in->FValid = false;
        } else {
          in->FStreamInfo = true;
          in->FFileBits = bits;
          in->FBPS = (bits + 7) / 8 * 8;
          in->FChan = (int32_t)si.channels;
          in->FSR = (int32_t)si.sample_rate;
          const int64_t frame = (int64_t)in->FBPS / 8 * in->FChan;
          // A stream that does not tell its length is read to its end.
          if (si.total_samples == 0 || si.total_samples > (FLAC__uint64)(INT64_MAX / frame))
            in->FSize = -1;
          else
            in->FSize = (int64_t)si.total_samples * frame;
        }
      } else if (M->type == FLAC__METADATA_TYPE_VORBIS_COMMENT) {
        const FLAC__StreamMetadata_VorbisComment& vc = M->data.vorbis_comment;
        for (uint32_t i = 0; i < vc.num_comments; ++i) {
          const FLAC__StreamMetadata_VorbisComment_Entry& e = vc.comments[i];
          if (e.entry) in->FTags->AddComment(std::string(reinterpret_cast<const char*>(e.entry), e.length));
        }
      }
      if (M->is_last) in->FMetadataDone = true;
    } catch (...) {
      in->FValid = false;
    }
  }
  static void Error(const FLAC__StreamDecoder*, FLAC__StreamDecoderErrorStatus, void* Client) {
    static_cast<TFLACIn*>(Client)->FValid = false;
  }
};

// ---------------------------------------------------------------------------------------------
// TFLACOut

TFLACOut::TFLACOut(TComponent* AOwner) : TAuFileOut(AOwner), FTags(std::make_unique<TVorbisTags>()) {}

TFLACOut::~TFLACOut() { Shutdown(); }

void TFLACOut::SetBestModelSearch(bool Value) {
  FBestModelSearch = Value;
  if (Value) {
    FEnableMidSideStereo = true;
    FEnableLooseMidSideStereo = false;
  }
}

void TFLACOut::SetEnableLooseMidSideStereo(bool Value) {
  FEnableLooseMidSideStereo = Value;
  if (Value) FEnableMidSideStereo = true;
}

std::string TFLACOut::BuildCommentBlock(bool Last) const {
  std::string body;
  PutLE32(body, (uint32_t)std::strlen(CommentVendor));
  body += CommentVendor;
  std::vector<std::string> comments;
  size_t size = body.size() + 4;
  for (const char* const* name : CommentOrder) {
    WideString v = FTags->AsWideString(*name);
    if (v.empty()) continue;
    std::string c = MakeVorbisComment(*name, v);
    if (size + 4 + c.size() > MaxMetadataBody) continue;  // a block holds at most 16 MiB
    size += 4 + c.size();
    comments.push_back(std::move(c));
  }
  PutLE32(body, (uint32_t)comments.size());
  for (const std::string& c : comments) {
    PutLE32(body, (uint32_t)c.size());
    body += c;
  }
  std::string block;
  block.push_back((char)(FLAC__METADATA_TYPE_VORBIS_COMMENT | (Last ? 0x80 : 0)));
  block.push_back((char)(body.size() >> 16));
  block.push_back((char)(body.size() >> 8));
  block.push_back((char)body.size());
  return block + body;
}

void TFLACOut::TEncoderDelete::operator()(void* Encoder) const {
  if (flac::Entries.FLAC__stream_encoder_delete) flac::Entries.FLAC__stream_encoder_delete(Enc(Encoder));
}

void TFLACOut::Prepare() {
  FEncoderInited = false;
  FInputInited = false;
  FEndOfInput = false;
  FCommentWritten = false;
  FCreated = false;
  if (!flac::Load()) throw EAuException(ErrLibrary);
  FCreated = OpenDestination(ErrOutNoName);
  FEncoder.reset(FLAC_CALL(FLAC__stream_encoder_new)());
  if (!FEncoder) throw EAuException(ErrEncoderInit);
  TAuInput* in = Input();
  FInputInited = true;
  in->Init();
  FBits = in->BitsPerSample();
  FChannels = in->Channels();
  if ((FBits != 8 && FBits != 16 && FBits != 24 && FBits != 32) || FChannels < 1 || FChannels > 8 || FBlockSize == 0)
    throw EAuException(ErrEncoderInit);
  FLAC__StreamEncoder* e = Enc(FEncoder.get());
  FLAC_CALL(FLAC__stream_encoder_set_verify)(e, FVerify);
  FLAC_CALL(FLAC__stream_encoder_set_channels)(e, (uint32_t)FChannels);
  FLAC_CALL(FLAC__stream_encoder_set_bits_per_sample)(e, (uint32_t)FBits);
  FLAC_CALL(FLAC__stream_encoder_set_sample_rate)(e, (uint32_t)in->SampleRate());
  if (FChannels == 2) {
    FLAC_CALL(FLAC__stream_encoder_set_do_mid_side_stereo)(e, FEnableMidSideStereo);
    FLAC_CALL(FLAC__stream_encoder_set_loose_mid_side_stereo)(e, FEnableLooseMidSideStereo);
  }
  FLAC_CALL(FLAC__stream_encoder_set_blocksize)(e, FBlockSize);
  if (FCompressionLevel < 0) {
    if (FBits + FQLPCoeffPrecision > 31) FQLPCoeffPrecision = (uint16_t)std::max(0, 31 - FBits);
    FLAC_CALL(FLAC__stream_encoder_set_max_lpc_order)(e, FMaxLPCOrder);
    FLAC_CALL(FLAC__stream_encoder_set_qlp_coeff_precision)(e, FQLPCoeffPrecision);
    FLAC_CALL(FLAC__stream_encoder_set_do_qlp_coeff_prec_search)(e, FQLPCoeffPrecisionSearch);
    FLAC_CALL(FLAC__stream_encoder_set_min_residual_partition_order)(e, FMinResidualPartitionOrder);
    FLAC_CALL(FLAC__stream_encoder_set_max_residual_partition_order)(e, FMaxResidualPartitionOrder);
    FLAC_CALL(FLAC__stream_encoder_set_do_exhaustive_model_search)(e, FBestModelSearch);
  } else {
    FLAC_CALL(FLAC__stream_encoder_set_compression_level)(e, (uint32_t)FCompressionLevel);
  }
  int64_t size = in->Size();
  if (size > 0) {
    double frames = std::nearbyint((double)size / (FBits / 8) / FChannels);
    FLAC_CALL(FLAC__stream_encoder_set_total_samples_estimate)(e, (FLAC__uint64)frames);
  }
  if (FLAC_CALL(FLAC__stream_encoder_init_stream)(e, TFLACOutCallbacks::Write, TFLACOutCallbacks::Seek,
                                                  TFLACOutCallbacks::Tell, TFLACOutCallbacks::Metadata,
                                                  this) != FLAC__STREAM_ENCODER_INIT_STATUS_OK) {
    FInputInited = false;
    in->Flush();
    throw EAuException(ErrEncoderInit);
  }
  FEncoderInited = true;
  FPcm.assign((size_t)(FBits / 8) * FBlockSize * FChannels, 0);
  FSamples.assign((size_t)FBlockSize * FChannels, 0);
}

bool TFLACOut::DoOutput(bool Abort) {
  if (!FActive) return true;
  if (Abort || FEndOfInput) return false;
  bool eof = false;
  uint32_t n = Input()->FillBuffer(FPcm.data(), (uint32_t)FPcm.size(), eof);
  if (eof) FEndOfInput = true;
  const uint32_t bytes = (uint32_t)FBits / 8;
  const uint32_t count = n / bytes;
  const uint32_t frames = count / (uint32_t)FChannels;
  if (frames == 0) return false;
  const uint8_t* p = FPcm.data();
  int32_t* s = FSamples.data();
  const uint32_t total = frames * (uint32_t)FChannels;
  switch (bytes) {
    case 1:
      for (uint32_t i = 0; i < total; ++i) s[i] = (int32_t)p[i] - 128;
      break;
    case 2:
      for (uint32_t i = 0; i < total; ++i) s[i] = (int16_t)(p[2 * i] | (p[2 * i + 1] << 8));
      break;
    case 3:
      for (uint32_t i = 0; i < total; ++i, p += 3) s[i] = ((int32_t)(p[0] | (p[1] << 8) | (p[2] << 16)) << 8) >> 8;
      break;
    default:
      std::memcpy(s, p, (size_t)total * 4);
      break;
  }
  if (!FLAC_CALL(FLAC__stream_encoder_process_interleaved)(Enc(FEncoder.get()), s, frames)) throw EAuException(ErrEncode);
  return true;
}

void TFLACOut::Done() {
  TAuInput* in = Input();
  bool failed = false;
  try {
    if (FEncoder) {
      // Finished in every case, also with a stream handed in: finishing encodes the last
      // partial block and completes the stream information.
      bool ok = true;
      if (FEncoderInited && flac::Entries.FLAC__stream_encoder_finish)
        ok = flac::Entries.FLAC__stream_encoder_finish(Enc(FEncoder.get()));
      FEncoder.reset();
      failed = FEncoderInited && !ok && Prepared();
    }
  } catch (...) {
    FEncoder.reset();
  }
  FEncoderInited = false;
  FPcm.clear();
  FPcm.shrink_to_fit();
  FSamples.clear();
  FSamples.shrink_to_fit();
  CloseDestination();
  // A run that failed before any audio leaves no file of its own behind.
  if (!Prepared() && FCreated && !StreamAssigned) DeleteFileW(FWideFileName.c_str());
  FCreated = false;
  if (FInputInited && in) {
    FInputInited = false;
    in->Flush();
  }
  if (failed) {
    try {
      throw EAuException(ErrFinish);
    } catch (...) {
      ReportOrRaiseDoneFailure(this);
    }
  }
}

// ---------------------------------------------------------------------------------------------
// TFLACIn

TFLACIn::TFLACIn(TComponent* AOwner) : TAuTaggedFileIn(AOwner), FTags(std::make_unique<TVorbisTags>()) {}

TFLACIn::~TFLACIn() { CloseForDestruction(); }

void TFLACIn::TDecoderDelete::operator()(void* Decoder) const {
  if (flac::Entries.FLAC__stream_decoder_delete) flac::Entries.FLAC__stream_decoder_delete(Dec(Decoder));
}

void TFLACIn::ReleaseDecoder() {
  if (!FDecoder) return;
  if (flac::Entries.FLAC__stream_decoder_finish) FMD5Result = flac::Entries.FLAC__stream_decoder_finish(Dec(FDecoder.get()));
  FDecoder.reset();
}

void TFLACIn::LoadDecoderLibrary() {
  if (!flac::Load()) throw EAuException(ErrLibrary);
}

void TFLACIn::ReopenDecoder() {
  if (FValid) FTags->CopyToCommonTags(FCommonTags.get());
}

bool TFLACIn::OpenFailed() {
  if (!FStream) return false;  // nothing was opened
  FValid = false;
  ReleaseDecoder();
  CloseOwnStream();
  return false;
}

bool TFLACIn::OpenDecoder() {
  if (!StreamAssigned && FWideFileName.empty()) throw EAuException(ErrInNoName);
  OpenOwnStream(0x20);
  FValid = true;
  FStreamInfo = false;
  FMetadataDone = false;
  FSize = 0;
  FBPS = FChan = FSR = 0;
  FFileBits = 0;
  FMD5Result = true;
  // The decoder's offsets count from the start of the stream.
  Seekable = FStream->Seek(0, soBeginning) == 0;
  FStreamSize = Seekable ? FStream->Size() : 0;
  FStreamPos = 0;
  FDecoder.reset(FLAC_CALL(FLAC__stream_decoder_new)());
  if (!FDecoder) throw EAuException(ErrDecoderNew);
  FLAC__StreamDecoder* d = Dec(FDecoder.get());
  if (!FLAC_CALL(FLAC__stream_decoder_set_md5_checking)(d, FCheckMD5Signature)) throw EAuException(ErrMD5Setting);
  FLAC_CALL(FLAC__stream_decoder_set_metadata_respond_all)(d);
  if (FLAC_CALL(FLAC__stream_decoder_init_stream)(d, TFLACInCallbacks::Read, TFLACInCallbacks::Seek,
                                                  TFLACInCallbacks::Tell, TFLACInCallbacks::Length,
                                                  TFLACInCallbacks::Eof, TFLACInCallbacks::Write,
                                                  TFLACInCallbacks::Metadata, TFLACInCallbacks::Error,
                                                  this) != FLAC__STREAM_DECODER_INIT_STATUS_OK)
    throw EAuException(ErrDecoderInit);
  FTags->Clear();
  // The metadata, block by block; the loop also ends where the stream does.
  while (!FMetadataDone && FValid) {
    if (!FLAC_CALL(FLAC__stream_decoder_process_single)(d)) {
      FValid = false;
      break;
    }
    if (FLAC_CALL(FLAC__stream_decoder_get_state)(d) >= FLAC__STREAM_DECODER_END_OF_STREAM) break;
  }
  if (!FMetadataDone || !FStreamInfo) FValid = false;
  FBlockUsed = FBlockRead = 0;
  if (!FValid) {
    FSize = 0;
    return true;
  }
  FTags->CopyToCommonTags(FCommonTags.get());
  return true;
}

void TFLACIn::CloseDecoder() {
  ReleaseDecoder();
  FBlock.clear();
  FBlock.shrink_to_fit();
  FBlockUsed = FBlockRead = 0;
  if (StreamAssigned) {
    if (FStream && Seekable) FStream->Seek(0, soBeginning);
  } else {
    CloseOwnStream();
  }
}

void TFLACIn::GetDataInternal(void*& Buffer, uint32_t& Bytes) {
  if (!FBusy) throw EAuException(ErrNotOpened);
  Buffer = nullptr;
  if (!FDecoder || !FStreamInfo || OpenCount <= 0) {
    Bytes = 0;
    return;
  }
  FLAC__StreamDecoder* d = Dec(FDecoder.get());
  int empty = 0;
  while (FBlockRead >= FBlockUsed) {
    FBlockUsed = FBlockRead = 0;
    if (FLAC_CALL(FLAC__stream_decoder_get_state)(d) == FLAC__STREAM_DECODER_END_OF_STREAM) {
      Bytes = 0;
      return;
    }
    if (!FLAC_CALL(FLAC__stream_decoder_process_single)(d)) {
      if (FLAC_CALL(FLAC__stream_decoder_get_state)(d) == FLAC__STREAM_DECODER_END_OF_STREAM || !FValid) {
        Bytes = 0;
        return;
      }
      throw EAuException(ErrRead);
    }
    if (FBlockUsed == 0 && ++empty > MaxEmptySteps) throw EAuException(ErrSync);
  }
  const uint32_t frame = (uint32_t)FChan * (uint32_t)FBPS / 8;
  uint32_t count = Bytes;
  if (count >= frame) count -= count % frame;
  count = std::min(count, FBlockUsed - FBlockRead);
  Buffer = FBlock.data() + FBlockRead;
  FBlockRead += count;
  Bytes = count;
}

bool TFLACIn::SeekInternal(int64_t& SampleNum) {
  FBlockUsed = FBlockRead = 0;
  if (!FDecoder || !FStreamInfo) return false;
  if (SampleNum < 0) SampleNum = 0;
  // The decoder delivers the block holding the frame cut so that it starts at the frame: the
  // requested frame comes first. (MD5 checking ends with the first seek.)
  FLAC__StreamDecoder* d = Dec(FDecoder.get());
  if (FLAC_CALL(FLAC__stream_decoder_seek_absolute)(d, (FLAC__uint64)SampleNum)) return true;
  FBlockUsed = FBlockRead = 0;
  if (FLAC_CALL(FLAC__stream_decoder_get_state)(d) == FLAC__STREAM_DECODER_SEEK_ERROR)
    FLAC_CALL(FLAC__stream_decoder_flush)(d);
  return false;
}
