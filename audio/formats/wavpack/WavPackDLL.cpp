#include "audio/formats/wavpack/WavPackDLL.h"

#include <wavpack/wavpack.h>

#include <cstring>

#include "audio/engine/AuClasses.h"
#include "audio/tags/AuTags.h"
#include "audio/engine/CodecLibrary.h"
#include "classlib/WinApi.h"

const wchar_t* const WavpackLibName = L"WavpackDLL.dll";

namespace {

// Messages of this unit.
const char* const MsgNotLoaded = "WavPack library \"WavpackDLL.dll\" not loaded!";
const char* const MsgNoFunction = "Function \"%s\" not found in WavPack library!";
const char* const MsgNilStream = "AStream is nil!";
const char* const MsgOpenFailed = "Unable to open WavPack-stream! Error: \"%s\"";
const char* const MsgNoContext = "Unable to allocate enought memory for WavPack context!";

// The entry points resolved on load.
#define WV_ENTRIES(X)                                                                                        \
  X(WavpackOpenFileInputEx) X(WavpackOpenFileInput) X(WavpackGetMode) X(WavpackGetErrorMessage)            \
  X(WavpackGetVersion) X(WavpackUnpackSamples) X(WavpackGetNumSamples) X(WavpackGetSampleIndex)            \
  X(WavpackGetNumErrors) X(WavpackLossyBlocks) X(WavpackSeekSample) X(WavpackCloseFile)                    \
  X(WavpackGetSampleRate) X(WavpackGetBitsPerSample) X(WavpackGetBytesPerSample) X(WavpackGetNumChannels)  \
  X(WavpackGetChannelMask) X(WavpackGetReducedChannels) X(WavpackGetFloatNormExp) X(WavpackGetMD5Sum)      \
  X(WavpackGetWrapperBytes) X(WavpackGetWrapperData) X(WavpackFreeWrapper) X(WavpackSeekTrailingWrapper)   \
  X(WavpackGetProgress) X(WavpackGetFileSize) X(WavpackGetRatio) X(WavpackGetAverageBitrate)               \
  X(WavpackGetInstantBitrate) X(WavpackGetNumTagItems) X(WavpackGetTagItem) X(WavpackGetTagItemIndexed)    \
  X(WavpackAppendTagItem) X(WavpackDeleteTagItem) X(WavpackWriteTag) X(WavpackOpenFileOutput)              \
  X(WavpackSetConfiguration) X(WavpackAddWrapper) X(WavpackStoreMD5Sum) X(WavpackPackInit)                 \
  X(WavpackPackSamples) X(WavpackFlushSamples) X(WavpackUpdateNumSamples) X(WavpackGetWrapperLocation)     \
  X(WavpackGetEncodedNoise) X(WavpackFloatNormalize) X(WavpackLittleEndianToNative)                       \
  X(WavpackNativeToLittleEndian) X(WavpackGetLibraryVersion) X(WavpackGetLibraryVersionString)

struct Procs {
#define WV_DECLARE(fn) decltype(&::fn) fn = nullptr;
  WV_ENTRIES(WV_DECLARE)
#undef WV_DECLARE
};

TCodecLibrary Lib(L"WavpackDLL.dll");
Procs P;

// The entry point, checked: raises when the library is not loaded or lacks it.
template <class F>
F Checked(F Fn, const char* Name) {
  if (!Lib.Loaded()) throw EWavpackException(MsgNotLoaded);
  if (!Fn) throw EWavpackException(Format(MsgNoFunction, Name));
  return Fn;
}
#define WV(fn) Checked(P.fn, #fn)
#define WV_RESOLVE(fn) Lib.Resolve(P.fn, #fn);

// The stream-reader callbacks: each gets the stream as its identity and never lets an
// exception reach the library.
int32_t CbRead(void* id, void* data, int32_t bcount) {
  if (!id) return -1;
  try {
    return static_cast<TStream*>(id)->Read(data, bcount);
  } catch (...) {
    return -1;
  }
}

uint32_t CbGetPos(void* id) {
  if (!id) return 0;
  try {
    return (uint32_t) static_cast<TStream*>(id)->Position();
  } catch (...) {
    return 0;
  }
}

int CbSetPosAbs(void* id, uint32_t pos) {
  if (!id) return -1;
  try {
    static_cast<TStream*>(id)->Seek(pos, soBeginning);
    return 0;
  } catch (...) {
    return -1;
  }
}

int CbSetPosRel(void* id, int32_t delta, int mode) {
  if (!id) return -1;
  try {
    TSeekOrigin o = mode == SEEK_CUR ? soCurrent : mode == SEEK_END ? soEnd : soBeginning;
    static_cast<TStream*>(id)->Seek(delta, o);
    return 0;
  } catch (...) {
    return -1;
  }
}

int CbPushBack(void* id, int c) {
  if (!id) return -1;
  try {
    static_cast<TStream*>(id)->Seek(-1, soCurrent);
    return c;
  } catch (...) {
    return -1;
  }
}

uint32_t CbGetLength(void* id) {
  if (!id) return 0;
  try {
    return (uint32_t) static_cast<TStream*>(id)->Size();
  } catch (...) {
    return 0;
  }
}

int CbCanSeek(void* id) {
  if (!id) return 0;
  try {
    TStream* s = static_cast<TStream*>(id);
    int64_t here = s->Position();
    s->Seek(0, soBeginning);
    s->Seek(0, soEnd);
    s->Seek(here, soBeginning);
    return 1;
  } catch (...) {
    return 0;
  }
}

int32_t CbWrite(void* id, void* data, int32_t bcount) {
  if (!id) return -1;
  try {
    return static_cast<TStream*>(id)->Write(data, bcount);
  } catch (...) {
    return -1;
  }
}

WavpackStreamReader Reader = {CbRead, CbGetPos, CbSetPosAbs, CbSetPosRel, CbPushBack, CbGetLength, CbCanSeek, CbWrite};

// The block-output callback: True only when the whole block was written. The first block of
// each stream is kept, so that its sample count can be rewritten at the end.
int CbBlockOut(void* id, void* data, int32_t bcount) {
  auto* sink = static_cast<TWavpackEncoder::TSink*>(id);
  if (!sink || !sink->Stream || bcount < 0) return 0;
  try {
    if (sink->FirstBlockPos < 0) {
      sink->FirstBlockPos = sink->Stream->Position();
      sink->FirstBlock.assign(static_cast<uint8_t*>(data), static_cast<uint8_t*>(data) + bcount);
    }
    return sink->Stream->Write(data, bcount) == bcount ? 1 : 0;
  } catch (...) {
    return 0;
  }
}

WavpackConfig& Config(std::vector<uint8_t>& Raw) { return *reinterpret_cast<WavpackConfig*>(Raw.data()); }

}  // namespace

bool LoadWavpackLib() {
  return Lib.Load([] { WV_ENTRIES(WV_RESOLVE) });
}

bool WavpackLibLoaded() { return Lib.Loaded(); }

// ---------------------------------------------------------------------------------------------
// TWavpackDecoder

TWavpackDecoder::TWavpackDecoder(TStream* AStream, int NormOffset, int Flags, TStream* ACorrectionStream)
    : FStream(AStream), FCorrectionStream(ACorrectionStream) {
  if (!AStream) throw EWavpackException(MsgNilStream);
  auto open = WV(WavpackOpenFileInputEx);
  WV(WavpackCloseFile);
  char err[256] = "";
  FContext = open(&Reader, AStream, ACorrectionStream, err, Flags, NormOffset);
  if (!FContext) throw EWavpackException(Format(MsgOpenFailed, err));
}

TWavpackDecoder::~TWavpackDecoder() {
  if (FContext && Lib.Loaded() && P.WavpackCloseFile) P.WavpackCloseFile(FContext);
}

int TWavpackDecoder::Mode() { return WV(WavpackGetMode)(FContext); }
int TWavpackDecoder::NumChannels() { return WV(WavpackGetNumChannels)(FContext); }
uint32_t TWavpackDecoder::SampleRate() { return WV(WavpackGetSampleRate)(FContext); }
int TWavpackDecoder::BitsPerSample() { return WV(WavpackGetBitsPerSample)(FContext); }
uint32_t TWavpackDecoder::NumSamples() { return WV(WavpackGetNumSamples)(FContext); }

WideString TWavpackDecoder::TagItem(const AnsiString& Name) {
  auto get = WV(WavpackGetTagItem);
  int len = get(FContext, Name.c_str(), nullptr, 0);
  if (len < 1) return WideString();
  std::string v((size_t)len + 1, '\0');
  len = get(FContext, Name.c_str(), v.data(), len + 1);
  if (len < 1) return WideString();
  v.resize(std::strlen(v.c_str()));
  return TagUtf8ToWide(v);
}

uint32_t TWavpackDecoder::Unpack(int32_t* Buffer, uint32_t Frames) {
  return WV(WavpackUnpackSamples)(FContext, Buffer, Frames);
}

bool TWavpackDecoder::SeekSample(uint32_t Sample) { return WV(WavpackSeekSample)(FContext, Sample) != 0; }

// ---------------------------------------------------------------------------------------------
// TWavpackEncoder

TWavpackEncoder::TWavpackEncoder(TStream* AStream, TStream* ACorrectionStream) : FConfig(sizeof(WavpackConfig), 0) {
  if (!AStream) throw EWavpackException(MsgNilStream);
  FMain.Stream = AStream;
  FCorrection.Stream = ACorrectionStream;
  auto open = WV(WavpackOpenFileOutput);
  WV(WavpackCloseFile);
  FContext = open(CbBlockOut, &FMain, ACorrectionStream ? &FCorrection : nullptr);
  if (!FContext) throw EWavpackException(MsgNoContext);
}

TWavpackEncoder::~TWavpackEncoder() {
  if (FContext && Lib.Loaded() && P.WavpackCloseFile) P.WavpackCloseFile(FContext);
}

void TWavpackEncoder::SetBitrate(float Value) { Config(FConfig).bitrate = Value; }
void TWavpackEncoder::SetBitsPerSample(int Value) { Config(FConfig).bits_per_sample = Value; }
void TWavpackEncoder::SetBytesPerSample(int Value) { Config(FConfig).bytes_per_sample = Value; }
void TWavpackEncoder::SetChannelMask(int Value) { Config(FConfig).channel_mask = Value; }
void TWavpackEncoder::SetFlags(int Value) { Config(FConfig).flags = Value; }
void TWavpackEncoder::SetNumChannels(int Value) { Config(FConfig).num_channels = Value; }
void TWavpackEncoder::SetSampleRate(int Value) { Config(FConfig).sample_rate = Value; }

bool TWavpackEncoder::SetConfiguration(int64_t TotalSamples) {
  auto set = WV(WavpackSetConfiguration);
  auto init = WV(WavpackPackInit);
  uint32_t total = TotalSamples < 0 || TotalSamples >= 0xFFFFFFFFll ? (uint32_t)-1 : (uint32_t)TotalSamples;
  return set(FContext, &Config(FConfig), total) && init(FContext);
}

bool TWavpackEncoder::Pack(int32_t* Buffer, uint32_t Frames) {
  return WV(WavpackPackSamples)(FContext, Buffer, Frames) != 0;
}

bool TWavpackEncoder::Flush() { return WV(WavpackFlushSamples)(FContext) != 0; }

bool TWavpackEncoder::AppendTagItem(const AnsiString& Name, const WideString& Value) {
  std::string v = TagWideToUtf8(Value);
  return WV(WavpackAppendTagItem)(FContext, Name.c_str(), v.c_str(), (int)v.size()) != 0;
}

bool TWavpackEncoder::WriteTag() { return WV(WavpackWriteTag)(FContext) != 0; }

AnsiString TWavpackEncoder::ErrorMessage() {
  const char* m = WV(WavpackGetErrorMessage)(FContext);
  return m ? m : "";
}

bool TWavpackEncoder::UpdateNumSamples() {
  auto update = WV(WavpackUpdateNumSamples);
  bool ok = true;
  for (TSink* s : {&FMain, &FCorrection}) {
    if (!s->Stream || s->FirstBlockPos < 0 || s->FirstBlock.size() < sizeof(WavpackHeader)) continue;
    update(FContext, s->FirstBlock.data());
    try {
      const int64_t end = s->Stream->Position();
      s->Stream->Seek(s->FirstBlockPos, soBeginning);
      s->Stream->WriteBuffer(s->FirstBlock.data(), (int32_t)s->FirstBlock.size());
      s->Stream->Seek(end, soBeginning);
    } catch (...) {
      ok = false;
    }
  }
  return ok;
}
