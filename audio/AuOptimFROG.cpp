#include "audio/AuOptimFROG.h"

#include <algorithm>
#include <cstring>

namespace {
// The unit's messages.
const char* const MsgLibMissing = "OptimFROG.dll library could not be loaded.";
const char* const MsgNoFileName = "File name is not assigned";
const char* const MsgNotOpened = "The stream is not opened";
}  // namespace

TOFRIn::TOFRIn(TComponent* AOwner) : TAuTaggedFileIn(AOwner) {}

TOFRIn::~TOFRIn() {
  TLock l(FileLock);
  CloseFile();
  if (FStream && !StreamAssigned) {
    delete FStream;
    FStream = nullptr;
  }
}

void TOFRIn::OpenFile() {
  {
    TLock l(*LoadLibCS);
    OptimFROGDLLInitialize();
  }
  if (!OptimFROGLibraryLoaded()) throw EAuException(MsgLibMissing);
  TLock l(FileLock);
  if (OpenCount > 0) return;
  FValid = false;
  if (!StreamAssigned) {
    if (FWideFileName.empty()) throw EAuException(MsgNoFileName);
    if (!FStream) FStream = new TAuFileStream(FWideFileName, 0x20);
  }
  if (!FStream) throw EAuException(MsgNoFileName);
  FStream->Seek(0, soBeginning);
  FPart.clear();
  FPartStart = 0;
  try {
    FDecoder = std::make_unique<TOptimFROGDecoder>(FStream);
    Seekable = FDecoder->Seekable();
    // Samples are stored in whole bytes: a depth such as 20 bits travels as 24.
    FBPS = (FDecoder->BitsPerSample() + 7) / 8 * 8;
    FSR = FDecoder->SampleRate();
    FChan = FDecoder->Channels();
    int64_t total = FDecoder->TotalSamples();
    FPosition = 0;
    FSize = total >= 0 ? total * ((FBPS + 7) / 8) * FChan : -1;
    // Formats the engine cannot carry are not valid.
    FValid = FBPS > 0 && FBPS <= 32 && FChan > 0 && FChan <= 8 && FSR > 0;
  } catch (const Exception&) {
    FDecoder.reset();
    FValid = false;
  }
  if (!FValid) FSize = 0;
  ++OpenCount;
}

void TOFRIn::CloseFile() {
  TLock l(FileLock);
  if (OpenCount <= 0) return;
  if (--OpenCount > 0) return;
  FDecoder.reset();
  if (!StreamAssigned) {
    delete FStream;
    FStream = nullptr;
  }
  FSamples.clear();
  FSamples.shrink_to_fit();
  FPart.clear();
  FPartStart = 0;
}

bool TOFRIn::SeekInternal(int64_t& SampleNum) {
  if (!FDecoder) return false;
  FPart.clear();
  FPartStart = 0;
  return FDecoder->Seek(SampleNum);
}

void TOFRIn::GetDataInternal(void*& Buffer, uint32_t& Bytes) {
  if (!FBusy) throw EAuException(MsgNotOpened);
  if (Bytes == 0) return;
  Buffer = nullptr;
  if (!FDecoder) {
    Bytes = 0;
    return;
  }
  if (FSize >= 0) {
    int64_t left = FSize - FPosition;
    if (left <= 0) {
      Bytes = 0;
      return;
    }
    if ((int64_t)Bytes > left) Bytes = (uint32_t)left;
  }
  // The rest of a frame split by a smaller pull goes first.
  if (FPartStart < FPart.size()) {
    Bytes = (uint32_t)std::min<size_t>(Bytes, FPart.size() - FPartStart);
    Buffer = FPart.data() + FPartStart;
    FPartStart += Bytes;
    return;
  }
  const uint32_t frame = (uint32_t)((FBPS + 7) / 8) * (uint32_t)FChan;
  uint32_t frames = Bytes / frame;
  if (frames == 0) {
    // Less than one frame asked for: one frame is decoded and handed out in parts.
    FPart.resize(frame);
    if (FDecoder->Read(FPart.data(), 1) != 1) {
      FPart.clear();
      Bytes = 0;
      return;
    }
    Buffer = FPart.data();
    FPartStart = Bytes;
    return;
  }
  Bytes = frames * frame;
  if (FSamples.size() < Bytes) FSamples.resize(Bytes);
  int32_t got = FDecoder->Read(FSamples.data(), frames);
  if (got <= 0) {
    Bytes = 0;
    return;
  }
  if ((uint32_t)got < frames) Bytes = (uint32_t)got * frame;
  Buffer = FSamples.data();
}
