#include "audio/formats/tak/tak_decoder.h"

#include <string>

#include "audio/tags/AuTags.h"
#include "audio/engine/CodecLibrary.h"
#include "classlib/WinApi.h"

namespace {

const char* const LibName = "tak_deco_lib.dll";
// The unit's messages.
const char* const MsgNotLoaded = "TAK library \"%s\" not loaded!";
const char* const MsgNoFunction = "Function \"%s\" not found in TAK library!";
const char* const MsgStreamInfo = "Can not get stream info!";

struct TEntries {
  tak_SSD_Create_FromStream_t SSD_Create_FromStream;
  tak_SSD_Destroy_t SSD_Destroy;
  tak_SSD_GetStreamInfo_t SSD_GetStreamInfo;
  tak_SSD_Seek_t SSD_Seek;
  tak_SSD_ReadAudio_t SSD_ReadAudio;
  tak_SSD_GetAPEv2Tag_t SSD_GetAPEv2Tag;
  tak_APE_Valid_t APE_Valid;
  tak_APE_GetIndexOfKey_t APE_GetIndexOfKey;
  tak_APE_GetItemValue_t APE_GetItemValue;
};

TSearchedLibrary Library;
TEntries Lib{};

template <class F>
F Need(F Fn, const char* Name) {
  if (!Library.Loaded()) throw ETAKException(Format(MsgNotLoaded, LibName));
  if (!Fn) throw ETAKException(Format(MsgNoFunction, Name));
  return Fn;
}
#define TAK(fn) Need(Lib.fn, "tak_" #fn)

TStream* StreamOf(void* User) { return static_cast<TStream*>(User); }

// The stream interface; no exception leaves it.
int32_t TAK_CALL IoCanRead(void* User) { return User ? 1 : 0; }
int32_t TAK_CALL IoCanWrite(void*) { return 0; }
int32_t TAK_CALL IoCanSeek(void* User) { return User ? 1 : 0; }
int32_t TAK_CALL IoRead(void* User, void* Buffer, int32_t Count, int32_t* Read) {
  if (Read) *Read = 0;
  if (!User || !Read || Count < 0) return 0;
  try {
    int32_t n = StreamOf(User)->Read(Buffer, Count);
    *Read = n < 0 ? 0 : n;
    return 1;
  } catch (...) {
    return 0;
  }
}
int32_t TAK_CALL IoWrite(void*, const void*, int32_t) { return 0; }
int32_t TAK_CALL IoFlush(void*) { return 0; }
int32_t TAK_CALL IoTruncate(void*) { return 0; }
int32_t TAK_CALL IoSeek(void* User, int64_t Pos) {
  if (!User) return 0;
  try {
    StreamOf(User)->Seek(Pos, soBeginning);
    return 1;
  } catch (...) {
    return 0;
  }
}
int32_t TAK_CALL IoGetLength(void* User, int64_t* Length) {
  if (Length) *Length = 0;
  if (!User || !Length) return 0;
  try {
    *Length = StreamOf(User)->Size();
    return 1;
  } catch (...) {
    return 0;
  }
}
void TAK_CALL NoDamage(void*, void*) {}

const tak_stream_ioif StreamInterface = {IoCanRead, IoCanWrite, IoCanSeek, IoRead,   IoWrite,
                                         IoFlush,   IoTruncate, IoSeek,    IoGetLength};

}  // namespace

void TakDecoderInitialize(const char* Name) {
  Library.Load(Name ? Name : LibName, [] {
    Library.Resolve(Lib.SSD_Create_FromStream, "tak_SSD_Create_FromStream");
    Library.Resolve(Lib.SSD_Destroy, "tak_SSD_Destroy");
    Library.Resolve(Lib.SSD_GetStreamInfo, "tak_SSD_GetStreamInfo");
    Library.Resolve(Lib.SSD_Seek, "tak_SSD_Seek");
    Library.Resolve(Lib.SSD_ReadAudio, "tak_SSD_ReadAudio");
    Library.Resolve(Lib.SSD_GetAPEv2Tag, "tak_SSD_GetAPEv2Tag");
    Library.Resolve(Lib.APE_Valid, "tak_APE_Valid");
    Library.Resolve(Lib.APE_GetIndexOfKey, "tak_APE_GetIndexOfKey");
    Library.Resolve(Lib.APE_GetItemValue, "tak_APE_GetItemValue");
  });
}

void TakDecoderFinalize() {
  Library.Release();
  Lib = TEntries{};
}

bool TakLibraryLoaded() { return Library.Loaded(); }

TTAKDecoder::TTAKDecoder(TStream* AStream) : FStream(AStream) {
  if (!AStream) throw ETAKException("Assertion failure (tak_decoder)");
  tak_ssd_options options{7, 0};
  FHandle = TAK(SSD_Create_FromStream)(&StreamInterface, AStream, &options, NoDamage, nullptr);
  try {
    tak_stream_info info{};
    if (!FHandle || TAK(SSD_GetStreamInfo)(FHandle, &info) != 0) throw ETAKException(MsgStreamInfo);
    FBits = info.bits_per_sample;
    FRate = info.sample_rate;
    FChannels = info.channels;
    FSamples = info.sample_num;
    void* tag = TAK(SSD_GetAPEv2Tag)(FHandle);
    if (tag && TAK(APE_Valid)(tag) == 1) FTag = tag;
  } catch (...) {
    if (FHandle && Lib.SSD_Destroy) Lib.SSD_Destroy(FHandle);
    FHandle = nullptr;
    throw;
  }
}

TTAKDecoder::~TTAKDecoder() {
  if (FHandle && Lib.SSD_Destroy) Lib.SSD_Destroy(FHandle);
}

bool TTAKDecoder::Seek(int64_t Sample) { return TAK(SSD_Seek)(FHandle, Sample) == 0; }

int32_t TTAKDecoder::Read(void* Buffer, int32_t Frames) {
  int32_t read = 0;
  if (TAK(SSD_ReadAudio)(FHandle, Buffer, Frames, &read) != 0) return 0;
  return read < 0 ? 0 : read > Frames ? Frames : read;
}

bool TTAKDecoder::FindItem(const char* Key, int32_t& Index, int32_t& Size) {
  if (!FTag) return false;
  Index = -1;
  Size = 0;
  if (TAK(APE_GetIndexOfKey)(FTag, Key, &Index) != 0 || Index < 0) return false;
  return TAK(APE_GetItemValue)(FTag, Index, nullptr, 0, &Size) == 0 && Size >= 0 && Size < (1 << 24);
}

bool TTAKDecoder::HasTagItem(const char* Key) {
  int32_t index, size;
  return FindItem(Key, index, size);
}

WideString TTAKDecoder::TagItemValue(const char* Key) {
  int32_t index, size;
  if (!FindItem(Key, index, size)) return WideString();
  std::string v((size_t)size, '\0');
  int32_t got = 0;
  if (size > 0 && TAK(APE_GetItemValue)(FTag, index, v.data(), size, &got) != 0) return WideString();
  if (got >= 0 && got < size) v.resize((size_t)got);
  return TagUtf8ToWide(v);
}
