#include "audio/formats/optimfrog/OptimFROGDLL.h"

#include "audio/engine/AuClasses.h"
#include "audio/engine/CodecLibrary.h"
#include "classlib/WinApi.h"

namespace {

const char* const LibName = "OptimFROG.dll";
// The unit's messages.
const char* const MsgNotLoaded = "OptimFROG library \"%s\" not loaded!";
const char* const MsgNoFunction = "Function \"%s\" not found in OptimFROG library!";
const char* const MsgNilStream = "AStream is nil!";
const char* const MsgNoInstance = "OptimFROG decoder instance was not created!";
const char* const MsgCannotOpen = "Unable to open OptimFROG-file!";
const char* const MsgNilBuffer = "Buffer is nil!";

struct TEntries {
  OptimFROG_createInstance_t createInstance;
  OptimFROG_destroyInstance_t destroyInstance;
  OptimFROG_openExt_t openExt;
  OptimFROG_seekable_t seekable;
  OptimFROG_seekPoint_t seekPoint;
  OptimFROG_getInfo_t getInfo;
  OptimFROG_read_t read;
  OptimFROG_freeTags_t freeTags;
};

TSearchedLibrary Library;
TEntries Lib{};

template <class F>
F Need(F Fn, const char* Name) {
  if (!Library.Loaded()) throw EOptimFROGException(Format(MsgNotLoaded, LibName));
  if (!Fn) throw EOptimFROGException(Format(MsgNoFunction, Name));
  return Fn;
}
#define OFR(fn) Need(Lib.fn, "OptimFROG_" #fn)

TStream* StreamOf(void* User) { return User ? static_cast<TOptimFROGDecoder*>(User)->Stream() : nullptr; }

// The read interface over the decoder's stream; Booleans are 0 or -1; no exception leaves it.
int32_t OFR_CALL RiClose(void* User) { return StreamOf(User) ? -1 : 0; }
int32_t OFR_CALL RiRead(void* User, void* Buffer, uint32_t Count) {
  TStream* s = StreamOf(User);
  if (!s || Count > INT32_MAX) return 0;
  try {
    int32_t n = s->Read(Buffer, (int32_t)Count);
    return n < 0 ? 0 : n;
  } catch (...) {
    return 0;
  }
}
int32_t OFR_CALL RiEof(void* User) {
  TStream* s = StreamOf(User);
  if (!s) return -1;
  try {
    return s->Position() >= s->Size() ? -1 : 0;
  } catch (...) {
    return -1;
  }
}
int32_t OFR_CALL RiSeekable(void* User) { return StreamOf(User) ? -1 : 0; }
int64_t OFR_CALL RiLength(void* User) {
  TStream* s = StreamOf(User);
  if (!s) return 0;
  try {
    return s->Size();
  } catch (...) {
    return 0;
  }
}
int64_t OFR_CALL RiGetPos(void* User) {
  TStream* s = StreamOf(User);
  if (!s) return 0;
  try {
    return s->Position();
  } catch (...) {
    return 0;
  }
}
// Positions beyond 4 GiB are taken modulo 2^32, as the interface's stream does.
int32_t OFR_CALL RiSeek(void* User, int64_t Pos) {
  TStream* s = StreamOf(User);
  if (!s) return 0;
  try {
    int64_t low = (int64_t)(uint32_t)Pos;
    return s->Seek(low, soBeginning) == Pos ? -1 : 0;
  } catch (...) {
    return 0;
  }
}

const ofr_read_interface ReadInterface = {RiClose, RiRead, RiEof, RiSeekable, RiLength, RiGetPos, RiSeek};

}  // namespace

void OptimFROGDLLInitialize(const char* Name) {
  Library.Load(Name ? Name : LibName, [] {
    Library.Resolve(Lib.createInstance, "OptimFROG_createInstance");
    Library.Resolve(Lib.destroyInstance, "OptimFROG_destroyInstance");
    Library.Resolve(Lib.openExt, "OptimFROG_openExt");
    Library.Resolve(Lib.seekable, "OptimFROG_seekable");
    Library.Resolve(Lib.seekPoint, "OptimFROG_seekPoint");
    Library.Resolve(Lib.getInfo, "OptimFROG_getInfo");
    Library.Resolve(Lib.read, "OptimFROG_read");
    Library.Resolve(Lib.freeTags, "OptimFROG_freeTags");
  });
}

void OptimFROGDLLFinalize() {
  Library.Release();
  Lib = TEntries{};
}

bool OptimFROGLibraryLoaded() { return Library.Loaded(); }

TOptimFROGDecoder::TOptimFROGDecoder(TStream* AStream) : FStream(AStream) {
  if (!AStream) throw EOptimFROGException(MsgNilStream);
  FInstance = OFR(createInstance)();
  if (!FInstance) throw EOptimFROGException(MsgNoInstance);
  try {
    if (!OFR(openExt)(FInstance, &ReadInterface, this, -1)) throw EOptimFROGException(MsgCannotOpen);
  } catch (...) {
    if (Lib.destroyInstance) Lib.destroyInstance(FInstance);
    FInstance = nullptr;
    throw;
  }
}

TOptimFROGDecoder::~TOptimFROGDecoder() {
  FInfo.reset();
  // Tags are never read into a record of ours, so there is none to free.
  if (FInstance && Lib.destroyInstance) Lib.destroyInstance(FInstance);
}

const ofr_info* TOptimFROGDecoder::Info() {
  if (!FInfoTried) {
    FInfoTried = true;
    auto info = std::make_unique<ofr_info>();
    if (OFR(getInfo)(FInstance, info.get())) FInfo = std::move(info);
  }
  return FInfo.get();
}

int TOptimFROGDecoder::Channels() { return Info() ? (int)Info()->channels : 0; }
int TOptimFROGDecoder::SampleRate() { return Info() ? (int)Info()->sample_rate : 0; }
int TOptimFROGDecoder::BitsPerSample() { return Info() ? (int)Info()->bits_per_sample : 0; }
int64_t TOptimFROGDecoder::TotalSamples() { return Info() ? Info()->total_samples : 0; }

bool TOptimFROGDecoder::Seekable() { return OFR(seekable)(FInstance) != 0; }

bool TOptimFROGDecoder::Seek(int64_t Sample) {
  if (!Seekable()) return false;
  return OFR(seekPoint)(FInstance, Sample) != 0;
}

int32_t TOptimFROGDecoder::Read(void* Buffer, uint32_t Frames) {
  if (!Buffer) throw EOptimFROGException(MsgNilBuffer);
  if (Frames == 0) return 0;
  return OFR(read)(FInstance, Buffer, Frames, 0);
}
