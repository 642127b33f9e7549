#include "audio/formats/wavpack/AuWavPack.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "audio/formats/wave/AuWave.h"
#include "classlib/WinApi.h"

namespace {

// Messages of this unit.
const char* const MsgNoLibrary = "WavpackDLL.dll library could not be loaded";
const char* const MsgNoName = "File name is not assigned";
const char* const MsgNotOpened = "The Stream is not opened";
const char* const MsgInitFailed = "Wavpack file Init failed (error: \"%s\")";
const char* const MsgUnsupported = "Unsupported sample format";
const char* const MsgPackFailed = "Wavpack packing failed (error: \"%s\")";
const char* const MsgTagFailed = "Wavpack tag writing failed (error: \"%s\")";

// The config flags of the options.
constexpr int LevelFlags[3] = {0x200, 0x800, 0x1000};
constexpr int JointStereoFlags = 0x10010;
constexpr int HybridFlags = 0x182008;

// Read, others may read but not write.
constexpr uint16_t OpenReadDenyWrite = 0x20;
constexpr uint16_t CreateOrTruncate = 0xFFFF;

WideString WithExtension(const WideString& Name, const wchar_t* Ext) {
  size_t slash = Name.find_last_of(L"\\/:");
  size_t dot = Name.find_last_of(L'.');
  if (dot != WideString::npos && (slash == WideString::npos || dot > slash)) return Name.substr(0, dot) + Ext;
  return Name + Ext;
}

// The engine's channel order as the WAVE writer names it: a file without a mask for more than
// two channels is refused by common decoders.
int ChannelMask(int Channels) { return (int)PcmChannelMask(Channels); }

bool IsText(const TTagValue& V) {
  if (auto* a = std::get_if<AnsiString>(&V)) return !a->empty();
  if (auto* w = std::get_if<WideString>(&V)) return !w->empty();
  return false;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// TWVIn

TWVIn::TWVIn(TComponent* AOwner) : TAuTaggedFileIn(AOwner) {}

TWVIn::~TWVIn() { CloseForDestruction(); }

void TWVIn::SetCorrectionStream(TStream* Value) {
  TLock l(DataCS);
  CloseFile();
  FCorrectionStream = Value;
  FCorrectionAssigned = Value != nullptr;
}

void TWVIn::Release() {
  FDecoder.reset();
  CloseOwnStream();
  FOwnCorrection.reset();
  FBuf.clear();
  FBuf.shrink_to_fit();
  FPendStart = FPendEnd = 0;
}

void TWVIn::LoadDecoderLibrary() {
  if (!LoadWavpackLib()) throw EAuException(MsgNoLibrary);
}

bool TWVIn::OpenFailed() {
  Release();
  return false;
}

bool TWVIn::OpenDecoder() {
  FValid = false;
  FHybrid = FLossless = FFloat = false;
  FCueSheet.clear();
  if (!StreamAssigned) {
    if (FWideFileName.empty()) throw EAuException(MsgNoName);
    OpenOwnStream(OpenReadDenyWrite);
  }
  FStream->Seek(0, soBeginning);
  FDecoder = std::make_unique<TWavpackDecoder>(FStream, 0, WvOpenTags, nullptr);
  if (FDecoder->Mode() & WvModeHybrid) {
    FHybrid = true;
    FDecoder.reset();
    // The first decoder has moved the stream: the second one starts from the beginning too.
    FStream->Seek(0, soBeginning);
    TStream* corr = FCorrectionStream;
    if (!FCorrectionAssigned) {
      if (FWideFileName.empty()) throw EAuException(MsgNoName);
      FOwnCorrection = std::make_unique<TAuFileStream>(WithExtension(FWideFileName, L".wvc"), OpenReadDenyWrite);
      corr = FOwnCorrection.get();
    }
    corr->Seek(0, soBeginning);
    FDecoder = std::make_unique<TWavpackDecoder>(FStream, 0, WvOpenTagsAndCorrection, corr);
  }
  const int mode = FDecoder->Mode();
  FLossless = (mode & WvModeLossless) != 0;
  FFloat = (mode & WvModeFloat) != 0;
  FCueSheet = FDecoder->TagItem("Cuesheet");
  const int bits = FDecoder->BitsPerSample();
  const int bytes = (bits + 7) / 8;
  FChan = FDecoder->NumChannels();
  FSR = (int32_t)FDecoder->SampleRate();
  if (FChan < 1 || FChan > 32 || bytes < 1 || bytes > 4 || FSR < 1) throw EAuException(MsgUnsupported);
  // Depths that are not whole bytes are delivered in whole bytes.
  FBPS = bytes * 8;
  const uint32_t total = FDecoder->NumSamples();
  if (total == 0xFFFFFFFFu) {
    FSize = -1;
    FTotalTime = 0;
  } else {
    FSize = (int64_t)total * bytes * FChan;
    FTotalTime = (int32_t)(total / (uint32_t)FSR);
  }
  FPosition = 0;
  if (!(mode & WvModeValidTag)) {
    FId3v1Tags->Clear();
    FAPEv2Tags->Clear();
  } else if (mode & WvModeAPETag) {
    FId3v1Tags->Clear();
    FAPEv2Tags->Clear();
    for (int i = 0; i < FAPEv2Tags->Count(); ++i) {
      const AnsiString name = FAPEv2Tags->Names(i);
      const WideString v = FDecoder->TagItem(name);
      if (!v.empty()) FAPEv2Tags->SetValue(name, v);
    }
  } else {
    FId3v1Tags->Clear();
    for (int i = 0; i < FId3v1Tags->Count(); ++i) {
      const AnsiString name = FId3v1Tags->Names(i);
      const WideString v = FDecoder->TagItem(name);
      if (v.empty()) continue;
      if (SameText(name, "genre")) {
        // The library gives the genre's number or its name.
        int id;
        if (TryStrToInt(WideToAnsi(v), id))
          FId3v1Tags->SetGenreId(id);
        else
          FId3v1Tags->SetGenre(WideToAnsi(v));
      } else if (SameText(name, "year") || SameText(name, "track")) {
        FId3v1Tags->SetValue(name, (int32_t)StrToIntDef(WideToAnsi(v), 0));
      } else {
        FId3v1Tags->SetValue(name, WideToAnsi(v));
      }
    }
    FAPEv2Tags->Clear();
  }
  FCommonTags->Clear();
  FCommonTags->SetArtist(FAPEv2Tags->Artist());
  FCommonTags->SetTitle(FAPEv2Tags->Title());
  FCommonTags->SetAlbum(FAPEv2Tags->Album());
  FCommonTags->SetGenre(FAPEv2Tags->Genre());
  FCommonTags->SetYear(FAPEv2Tags->Year());
  FCommonTags->SetTrack(FAPEv2Tags->Track());
  FPendStart = FPendEnd = 0;
  FValid = true;
  return true;
}

void TWVIn::CloseDecoder() {
  Release();
  if (StreamAssigned && FStream) FStream->Seek(0, soBeginning);
}

void TWVIn::GetDataInternal(void*& Buffer, uint32_t& Bytes) {
  if (!FBusy) throw EAuException(MsgNotOpened);
  int64_t wanted = Bytes;
  if (FSize >= 0) wanted = std::max<int64_t>(0, std::min<int64_t>(wanted, FSize - FPosition));
  Buffer = nullptr;
  Bytes = 0;
  if (wanted == 0 || !FDecoder) return;
  auto* bytesOut = reinterpret_cast<uint8_t*>(FBuf.data());
  if (FPendStart >= FPendEnd) {
    const int bytes = FBPS / 8;
    const uint32_t frameBytes = (uint32_t)(bytes * FChan);
    // An ask smaller than a frame still gets a frame decoded; the rest waits for the next pull.
    const uint32_t frames = std::max<uint32_t>(1, (uint32_t)(wanted / frameBytes));
    const size_t samples = (size_t)frames * FChan;
    if (FBuf.size() < samples) FBuf.resize(samples);
    const uint32_t got = FDecoder->Unpack(FBuf.data(), frames);
    if (got == 0) return;
    const size_t n = (size_t)std::min(got, frames) * FChan;
    bytesOut = reinterpret_cast<uint8_t*>(FBuf.data());
    int32_t* s = FBuf.data();
    if (FFloat) {
      for (size_t i = 0; i < n; ++i) {
        float x;
        std::memcpy(&x, &s[i], 4);
        const bool low = !(x >= -1.0f);  // not a number counts as below -1
        const bool high = x >= 1.0f;
        switch (bytes) {
          case 1:
            bytesOut[i] = high ? 255 : low ? 0 : (uint8_t)((int)std::floor(x * 128.0) + 128);
            break;
          case 2: {
            const int16_t v = high ? 32767 : low ? -32768 : (int16_t)std::floor(x * 32767.0);
            std::memcpy(bytesOut + 2 * i, &v, 2);
            break;
          }
          case 3: {
            const uint32_t v = high ? 0x7FFFFFu : low ? 0x800000u : (uint32_t)((int32_t)std::floor(x * 2147483647.0) >> 8);
            bytesOut[3 * i] = (uint8_t)v;
            bytesOut[3 * i + 1] = (uint8_t)(v >> 8);
            bytesOut[3 * i + 2] = (uint8_t)(v >> 16);
            break;
          }
          default: {
            const int32_t v = high ? INT32_MAX : low ? INT32_MIN : (int32_t)std::floor(x * 2147483647.0);
            std::memcpy(bytesOut + 4 * i, &v, 4);
            break;
          }
        }
      }
    } else {
      Int32ToPcm(s, bytes, n, bytesOut);  // narrows in place
    }
    FPendStart = 0;
    FPendEnd = n * bytes;
  }
  const size_t give = (size_t)std::min<int64_t>(wanted, (int64_t)(FPendEnd - FPendStart));
  Buffer = bytesOut + FPendStart;
  Bytes = (uint32_t)give;
  FPendStart += give;
}

bool TWVIn::SeekInternal(int64_t& SampleNum) {
  if (!FDecoder || SampleNum < 0 || SampleNum >= 0xFFFFFFFFll) return false;
  FPendStart = FPendEnd = 0;
  return FDecoder->SeekSample((uint32_t)SampleNum);
}

// ---------------------------------------------------------------------------------------------
// TWVOut

TWVOut::TWVOut(TComponent* AOwner) : TAuTaggedFileOut(AOwner) {}

TWVOut::~TWVOut() {
  Shutdown();
  FEncoder.reset();
  FOwnCorrection.reset();
}

void TWVOut::SetCorrectionStream(TStream* Value) {
  if (FBusy) return;
  FCorrectionStream = Value;
  FCorrectionAssigned = Value != nullptr;
}

void TWVOut::Prepare() {
  FCreated = false;
  FInputInited = false;
  FFrames.Clear();
  FCorrectionName.clear();
  if (!LoadWavpackLib()) throw EAuException(MsgNoLibrary);
  FCreated = OpenDestination(MsgNoName);
  TStream* corr = nullptr;
  if (FHybridMode) {
    if (FCorrectionAssigned) {
      corr = FCorrectionStream;
    } else {
      // A stream handed in without a correction stream still needs a name for the ".wvc".
      if (FWideFileName.empty()) throw EAuException(MsgNoName);
      FCorrectionName = WithExtension(FWideFileName, L".wvc");
      FOwnCorrection = std::make_unique<TAuFileStream>(FCorrectionName, CreateOrTruncate);
      corr = FOwnCorrection.get();
    }
  }
  TAuInput* in = Input();
  FInputInited = true;
  in->Init();
  const int bits = in->BitsPerSample();
  FChannels = in->Channels();
  FBytes = (bits + 7) / 8;
  if (FBytes < 1 || FBytes > 4 || FChannels < 1 || FChannels > 32) throw EAuException(MsgUnsupported);
  FFrameBytes = FBytes * FChannels;
  FEncoder = std::make_unique<TWavpackEncoder>(Stream, corr);
  FEncoder->SetBitsPerSample(bits);
  FEncoder->SetNumChannels(FChannels);
  FEncoder->SetSampleRate(in->SampleRate());
  int flags = LevelFlags[FCompressionLevel];
  if (FJointStereo) flags |= JointStereoFlags;
  if (FHybridMode) {
    flags |= HybridFlags;
    FEncoder->SetBitrate(FBitrate);
  }
  FEncoder->SetFlags(flags);
  FEncoder->SetBytesPerSample(FBytes);
  FEncoder->SetChannelMask(ChannelMask(FChannels));
  const int64_t size = in->Size();
  const int64_t total = size >= 0 ? size / FFrameBytes : -1;
  if (!FEncoder->SetConfiguration(total)) throw EAuException(Format(MsgInitFailed, FEncoder->ErrorMessage().c_str()));
  FFrames.Reset(FFrameBytes, 1024);
  FSamples.resize((size_t)FChannels * 1025);
}

bool TWVOut::DoOutput(bool Abort) {
  if (!FActive || Abort) return false;
  void* p = nullptr;
  uint32_t n = FFrames.Ask();
  Input()->GetData(p, n);
  if (n == 0 || !p) return false;
  // Bytes kept from the last step go in front; without any, the input's own buffer is used.
  uint32_t frames = 0;
  const uint8_t* src = FFrames.Join(p, n, frames);
  PcmToInt32(src, FBytes, (size_t)frames * FChannels, FSamples.data());
  // The library cuts its own blocks (flushing every step would make blocks of 1024 frames,
  // whose overhead alone exceeds a hybrid bit rate); the rest is flushed by Done. A refused
  // block or a failed write ends the run with the library's message.
  if (frames > 0 && !FEncoder->Pack(FSamples.data(), frames))
    throw EAuException(Format(MsgPackFailed, FEncoder->ErrorMessage().c_str()));
  FFrames.Keep();
  return true;
}

void TWVOut::Done() {
  TAuInput* in = Input();
  const bool prepared = Prepared();
  bool failed = false;
  try {
    if (prepared && FEncoder) {
      if (!FEncoder->Flush()) throw EAuException(Format(MsgPackFailed, FEncoder->ErrorMessage().c_str()));
      if (!FAPEv2Tags->Empty() || !FCueSheet.empty()) {
        for (int i = 0; i < FAPEv2Tags->Count(); ++i) {
          const AnsiString name = FAPEv2Tags->Names(i);
          if (IsText(FAPEv2Tags->GetValue(name))) FEncoder->AppendTagItem(name, FAPEv2Tags->AsWideString(name));
        }
        if (!FCueSheet.empty()) FEncoder->AppendTagItem("Cuesheet", FCueSheet);
        if (!FEncoder->WriteTag()) throw EAuException(Format(MsgTagFailed, FEncoder->ErrorMessage().c_str()));
      }
      // The header of the first block gets the count of samples really written; a stream that
      // cannot be repositioned keeps the count known at the start.
      FEncoder->UpdateNumSamples();
    }
  } catch (...) {
    failed = true;
    ReportDoneFailure();
  }
  FEncoder.reset();
  if (FInputInited && in) {
    FInputInited = false;
    in->Flush();
  }
  if (Stream) CloseDestination();
  FOwnCorrection.reset();
  if (!prepared) {
    // A failed start leaves no empty files behind.
    if (FCreated) DeleteFileW(FWideFileName.c_str());
    if (!FCorrectionName.empty()) DeleteFileW(FCorrectionName.c_str());
  }
  FCreated = false;
  if (failed) throw EAuException(ExceptionMessage());
}
