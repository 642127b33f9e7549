#include "audio/formats/mpc/AuMPC.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "classlib/WinApi.h"

namespace {
// The unit's messages.
const char* const MsgDecLibMissing = "libmpdec.dll library could not be loaded.";
const char* const MsgEncLibMissing = "libmppenc.dll library could not be loaded.";
const char* const MsgNoFileName = "File name is not assigned";
const char* const MsgNoFileNameOut = "File name is not assigned.";
const char* const MsgNotOpened = "File for input is not opened!";
const char* const MsgSampleRate = "Unsupported sample rate.";
const char* const MsgEncoderInit = "Failed to initialize encoder";
const char* const MsgNoAudio = "The input holds no audio: a Musepack file needs at least one sample.";

// The tags handed to the encoder, in this order.
const char* const EncoderTagNames[] = {"Artist", "Album", "Title", "Year", "Genre", "Copyright", "Composer", "Track"};
}  // namespace

// ---------------------------------------------------------------------------------------------
// TMPCIn

TMPCIn::TMPCIn(TComponent* AOwner) : TAuTaggedFileIn(AOwner) {}

TMPCIn::~TMPCIn() { CloseForDestruction(); }

void TMPCIn::SetOutBitsPerSample(uint32_t Value) {
  TLock l(FileLock);
  if (OpenCount > 0) return;
  if (Value < 8) Value = 8;
  else if (Value > 32) Value = 32;
  else Value = (Value + 7) / 8 * 8;
  FOutBitsPerSample = Value;
}

int TMPCIn::GetBitRate() {
  OpenFile();
  return FDecoder ? FDecoder->BitRate() : 0;
}

void TMPCIn::ConvertSample(float F, int Bytes, uint8_t* Out) {
  if (!(F == F)) F = 0;  // NaN
  switch (Bytes) {
    case 1: {
      uint8_t v = F >= 1 ? 255 : F <= -1 ? 0 : (uint8_t)((int)std::floor(F * 128.0) + 128);
      Out[0] = v;
      break;
    }
    case 2: {
      int16_t v = F >= 1 ? 32767 : F <= -1 ? -32768 : (int16_t)std::floor(F * 32767.0);
      Out[0] = (uint8_t)v;
      Out[1] = (uint8_t)(v >> 8);
      break;
    }
    case 3: {
      int32_t v = F >= 1 ? 0x7FFFFF : F <= -1 ? -0x800000 : ((int32_t)std::floor(F * 2147483647.0) >> 8);
      Out[0] = (uint8_t)v;
      Out[1] = (uint8_t)(v >> 8);
      Out[2] = (uint8_t)(v >> 16);
      break;
    }
    default: {
      int32_t v = F >= 1 ? INT32_MAX : F <= -1 ? INT32_MIN : (int32_t)std::floor(F * 2147483647.0);
      std::memcpy(Out, &v, 4);
      break;
    }
  }
}

void TMPCIn::LoadDecoderLibrary() {
  if (!LoadMPDecLibrary()) throw EAuException(MsgDecLibMissing);
}

bool TMPCIn::OpenDecoder() {
  FValid = false;
  FAPEv2Tags->Clear();
  if (!StreamAssigned) {
    if (FWideFileName.empty()) throw EAuException(MsgNoFileName);
    OpenOwnStream(0x20);
  }
  if (!FStream) throw EAuException(MsgNoFileName);
  ReadAPEv2Tags(FStream, FAPEv2Tags.get());
  FCommonTags->Clear();
  FCommonTags->SetArtist(FAPEv2Tags->Artist());
  FCommonTags->SetAlbum(FAPEv2Tags->Album());
  FCommonTags->SetTitle(FAPEv2Tags->Title());
  FCommonTags->SetYear(FAPEv2Tags->Year());
  FCommonTags->SetTrack(FAPEv2Tags->Track());
  FCommonTags->SetGenre(FAPEv2Tags->Genre());
  FStream->Seek(0, soBeginning);
  FHeld.clear();
  FHeldStart = 0;
  try {
    FDecoder = std::make_unique<TMPCDecoder>(FStream);
    int64_t frames = FDecoder->LengthSamples();
    FSR = FDecoder->SampleRate();
    FChan = FDecoder->Channels();
    FBPS = (int)FOutBitsPerSample;
    // A stream the rest of the engine cannot carry is not valid.
    FValid = FSR > 0 && FChan > 0 && FChan <= 2;
    Seekable = true;
    FPosition = 0;
    FSize = frames >= 0 ? frames * ((FBPS + 7) / 8) * FChan : -1;
  } catch (const Exception&) {
    FDecoder.reset();
    FValid = false;
  }
  if (!FValid) FSize = 0;
  return true;
}

void TMPCIn::CloseDecoder() {
  FDecoder.reset();
  CloseOwnStream();
  FHeld.clear();
  FHeld.shrink_to_fit();
  FHeldStart = 0;
}

bool TMPCIn::SeekInternal(int64_t& SampleNum) {
  if (!FDecoder) return false;
  FHeld.clear();
  FHeldStart = 0;
  return FDecoder->Seek(SampleNum);
}

void TMPCIn::GetDataInternal(void*& Buffer, uint32_t& Bytes) {
  if (!FBusy) throw EAuException(MsgNotOpened);
  if (Bytes == 0) return;
  Buffer = nullptr;
  if (!FDecoder) {
    Bytes = 0;
    return;
  }
  int64_t size = FSize;
  if (size >= 0) {
    int64_t left = size - FPosition;
    if (left <= 0) {
      Bytes = 0;
      return;
    }
    if ((int64_t)Bytes > left) Bytes = (uint32_t)left;
  }
  // Drop what the last pull handed out; the carried-over bytes move to the front.
  if (FHeldStart > 0) {
    FHeld.erase(FHeld.begin(), FHeld.begin() + (ptrdiff_t)FHeldStart);
    FHeldStart = 0;
  }
  const int width = (FBPS + 7) / 8;
  if (FBlock.size() != MPDEC_BUFFER_FLOATS) FBlock.assign(MPDEC_BUFFER_FLOATS, 0.0f);
  while (FHeld.size() < Bytes) {
    std::fill(FBlock.begin(), FBlock.end(), 0.0f);
    uint32_t frames = FDecoder->Decode(FBlock.data());
    if (frames == 0 || frames == (uint32_t)-1) {
      Bytes = (uint32_t)FHeld.size();
      break;
    }
    size_t values = std::min<size_t>((size_t)frames * FChan, MPDEC_BUFFER_FLOATS);
    size_t at = FHeld.size();
    FHeld.resize(at + values * width);
    uint8_t* out = FHeld.data() + at;
    for (size_t i = 0; i < values; ++i, out += width) ConvertSample(FBlock[i], width, out);
  }
  if (Bytes == 0) return;
  Buffer = FHeld.data();
  FHeldStart = Bytes;
}

// ---------------------------------------------------------------------------------------------
// TMPCOut

TMPCOut::TMPCOut(TComponent* AOwner) : TAuTaggedFileOut(AOwner) {}

TMPCOut::~TMPCOut() { Shutdown(); }

void TMPCOut::Nothing(void*) {}

uint32_t TMPCOut::ReadPCM(void* Buffer, uint32_t Size, uint32_t Count, void* Owner) {
  auto* self = static_cast<TMPCOut*>(Owner);
  if (!self || Size == 0 || self->FInputEnded || self->FCallbackFailed) return 0;
  try {
    bool eof = false;
    uint32_t n = self->Input()->FillBuffer(Buffer, Size * Count, eof);
    if (eof) self->FInputEnded = true;
    self->FFramesRead += n / Size;
    return n / Size;
  } catch (...) {
    self->FCallbackFailed = true;
    self->FCallbackError = AuCurrentExceptionMessage();
    self->FInputEnded = true;
    return 0;
  }
}

int32_t TMPCOut::EndOfPCM(void* Owner) {
  auto* self = static_cast<TMPCOut*>(Owner);
  return !self || self->FInputEnded ? 1 : 0;
}

int32_t TMPCOut::SeekOut(int32_t Offset, int32_t Origin, void* Owner) {
  auto* self = static_cast<TMPCOut*>(Owner);
  if (!self || !self->Stream || Origin < 0 || Origin > 2) return -1;
  try {
    int64_t p = self->Stream->Seek(Offset, (TSeekOrigin)Origin);
    return p < 0 || p > INT32_MAX ? -1 : (int32_t)p;
  } catch (...) {
    return -1;
  }
}

uint32_t TMPCOut::ReadOut(void* Buffer, uint32_t Size, uint32_t Count, void* Owner) {
  auto* self = static_cast<TMPCOut*>(Owner);
  if (!self || !self->Stream || Size == 0) return 0;
  try {
    int32_t n = self->Stream->Read(Buffer, (int32_t)(Size * Count));
    return n < 0 ? 0 : (uint32_t)n / Size;
  } catch (...) {
    return 0;
  }
}

uint32_t TMPCOut::WriteOut(const void* Buffer, uint32_t Size, uint32_t Count, void* Owner) {
  auto* self = static_cast<TMPCOut*>(Owner);
  if (!self || !self->Stream || Size == 0) return 0;
  try {
    int32_t n = self->Stream->Write(Buffer, (int32_t)(Size * Count));
    if (n != (int32_t)(Size * Count)) {
      self->FCallbackFailed = true;
      self->FCallbackError = L"Stream write error";
    }
    return n < 0 ? 0 : (uint32_t)n / Size;
  } catch (...) {
    self->FCallbackFailed = true;
    self->FCallbackError = AuCurrentExceptionMessage();
    return 0;
  }
}

void TMPCOut::Prepare() {
  FState = nullptr;
  FFinished = false;
  FInputEnded = false;
  FInputInited = false;
  FCallbackFailed = false;
  FCallbackError.clear();
  FNoAudio = false;
  FFramesRead = 0;
  FCreated = OpenDestination(MsgNoFileNameOut);
  TAuInput* in = Input();
  FInputInited = true;
  in->Init();
  if (!FLib.Load()) throw EAuException(MsgEncLibMissing);
  const int rate = in->SampleRate(), bits = in->BitsPerSample(), channels = in->Channels();
  switch (rate / 1000) {
    case 32: case 37: case 44: case 48: break;
    default:
      FFinished = true;
      throw EAuException(MsgSampleRate);
  }
  // The encoder accepts some layouts of more than two channels but writes them as stereo: a
  // wrong file, never an error of its own.
  if (channels < 1 || channels > 2) {
    FFinished = true;
    throw EAuException(MsgEncoderInit);
  }
  FLib.init_static();
  const int64_t frame = (int64_t)(bits / 8) * channels;
  const int64_t size = in->Size();
  // 0 tells the encoder the length is unknown (a live input): the header is completed at the end.
  const int64_t total = size > 0 && frame > 0 ? size / frame : 0;
  if (FLib.init_enc_state(&FState, rate, total, bits, channels, FQuality) != 0 || !FState) {
    FState = nullptr;
    FLib.Release();
    throw EAuException(MsgEncoderInit);
  }
  FLib.set_callbacks(FState, Nothing, ReadPCM, EndOfPCM, Nothing, Nothing, SeekOut, ReadOut, WriteOut,
                     Nothing, this);
  if (!FAPEv2Tags->Empty()) {
    for (const char* name : EncoderTagNames) {
      std::string v = TagWideToUtf8(FAPEv2Tags->AsWideString(name));
      if (!v.empty()) FLib.add_tag(name, (int32_t)std::strlen(name), v.data(), (int32_t)v.size());
    }
  }
  if (FLib.start_encoder(FState) != 0) throw EAuException(MsgEncoderInit);
  if (FCallbackFailed) throw EAuException(FCallbackError);
}

bool TMPCOut::DoOutput(bool Abort) {
  if (Abort) FFinished = true;
  if (FFinished) return false;
  if (FLib.process_block(FState) != 0) FFinished = true;
  if (FCallbackFailed) {
    FFinished = true;
    throw EAuException(FCallbackError);
  }
  // A stream of no samples is one that the Musepack decoder reports as an error: no audio fails
  // the run, and its file goes.
  if (FFinished && FFramesRead == 0) {
    FNoAudio = true;
    throw EAuException(MsgNoAudio);
  }
  return true;
}

void TMPCOut::Done() {
  // Only what this run set up: the encoder state if it was made, the library if it was loaded.
  if (FState && FLib.Loaded()) FLib.free_encoder_state(FState);
  FState = nullptr;
  FLib.Release();
  TAuInput* in = Input();
  if (FInputInited && in) {
    FInputInited = false;
    try {
      in->Flush();
    } catch (...) {
    }
  }
  if (Stream) {
    CloseDestination();
    // A failed start, or a run without audio, leaves no file behind.
    if ((!Prepared() || FNoAudio) && FCreated && !StreamAssigned) DeleteFileW(FWideFileName.c_str());
  }
  FCreated = false;
}
