#include "audio/formats/tta/TTALib.h"

#include "audio/engine/AuClasses.h"
#include "audio/engine/CodecLibrary.h"
#include "classlib/WinApi.h"

const wchar_t* const TTALibName = L"TTALib.dll";

namespace {

// Messages of this unit.
const char* const MsgNotLoaded = "TrueAudio library \"TTALib.dll\" not loaded!";
const char* const MsgNoFunction = "Function \"%s\" not found in TrueAudio library!";
const char* const MsgZeroHandle = "AHandle is zero!";
const char* const MsgInvalidHandle = "AHandle is invalid!";
const char* const MsgOpenFailed = "Unable to open TrueAudio-file! Error: \"%s\"";
const char* const MsgBlockFailed = "TrueAudio decoding failed! Error: \"%s\"";
const char* const MsgFinishFailed = "TrueAudio encoding failed! Error: \"%s\"";

// The calls, under the names our messages give them, and the exports that carry them.
enum Entry {
  eDecCreate, eDecDestroy, eDecChannels, eDecBits, eDecRate, eDecLength, eDecGetBlock, eDecSeek, eDecError,
  eEncCreate, eEncDestroy, eEncCompress, eEncError, eCount
};
struct EntryName {
  const char* Call;
  const char* Export;
};
const EntryName Entries[eCount] = {
    {"TTADecoder::TTADecoder", "TTADecoder_Create"},
    {"TTADecoder::~TTADecoder", "TTADecoder_Destroy"},
    {"TTADecoder::GetNumChannels", "TTADecoder_GetNumChannels"},
    {"TTADecoder::GetBitsPerSample", "TTADecoder_GetBitsPerSample"},
    {"TTADecoder::GetSampleRate", "TTADecoder_GetSampleRate"},
    {"TTADecoder::GetDataLength", "TTADecoder_GetDataLength"},
    {"TTADecoder_GetBlock", "TTADecoder_GetBlock"},
    {"TTADecoder_Seek", "TTADecoder_Seek"},
    {"TTADecoder_GetError", "TTADecoder_GetError"},
    {"TTAEncoder::TTAEncoder", "TTAEncoder_Create"},
    {"TTAEncoder::~TTAEncoder", "TTAEncoder_Destroy"},
    {"TTAEncoder_CompressBlock", "TTAEncoder_CompressBlock"},
    {"TTAEncoder_GetError", "TTAEncoder_GetError"},
};

using FDecCreate = TTADecoderObj*(__cdecl*)(void*, char*, int);
using FDecDestroy = void(__cdecl*)(TTADecoderObj*);
using FDecInt = int(__cdecl*)(TTADecoderObj*);
using FDecLength = int64_t(__cdecl*)(TTADecoderObj*);
using FDecGetBlock = int(__cdecl*)(TTADecoderObj*, void**);
using FDecSeek = int64_t(__cdecl*)(TTADecoderObj*, int64_t);
using FDecError = const char*(__cdecl*)(TTADecoderObj*);
using FEncCreate = TTAEncoderObj*(__cdecl*)(void*, int, int, int, int, int, uint32_t, char*, int);
using FEncDestroy = int(__cdecl*)(TTAEncoderObj*, char*, int);
using FEncCompress = int(__cdecl*)(TTAEncoderObj*, const void*, int);
using FEncError = const char*(__cdecl*)(TTAEncoderObj*);

TCodecLibrary Lib(L"TTALib.dll");
void* Procs[eCount] = {};

// The entry point, checked: raises when the library is not loaded or lacks it.
template <class F>
F Proc(Entry E) {
  if (!Lib.Loaded()) throw ETTAException(MsgNotLoaded);
  if (!Procs[E]) throw ETTAException(Format(MsgNoFunction, Entries[E].Call));
  return reinterpret_cast<F>(Procs[E]);
}

bool BadHandle(void* h) { return h == nullptr || h == INVALID_HANDLE_VALUE; }

}  // namespace

bool LoadTTALib() {
  return Lib.Load([] {
    for (int i = 0; i < eCount; ++i) Procs[i] = Lib.Proc(Entries[i].Export);
  });
}

bool TTALibLoaded() { return Lib.Loaded(); }

// ---------------------------------------------------------------------------------------------
// TTTADecoder

TTTADecoder::TTTADecoder(void* FileHandle) : FHandle(FileHandle) {
  if (!FileHandle) throw ETTAException(MsgZeroHandle);
  auto create = Proc<FDecCreate>(eDecCreate);
  Proc<FDecDestroy>(eDecDestroy);
  char err[256] = "";
  FObj = create(FileHandle, err, (int)sizeof err);
  if (!FObj) throw ETTAException(Format(MsgOpenFailed, err));
}

TTTADecoder::~TTTADecoder() {
  if (FObj && Lib.Loaded() && Procs[eDecDestroy]) reinterpret_cast<FDecDestroy>(Procs[eDecDestroy])(FObj);
}

int TTTADecoder::GetNumChannels() { return Proc<FDecInt>(eDecChannels)(FObj); }
int TTTADecoder::GetBitsPerSample() { return Proc<FDecInt>(eDecBits)(FObj); }
int TTTADecoder::GetSampleRate() { return Proc<FDecInt>(eDecRate)(FObj); }
int64_t TTTADecoder::GetDataLength() { return Proc<FDecLength>(eDecLength)(FObj); }

int TTTADecoder::GetBlock(void*& Buffer) {
  int n = Proc<FDecGetBlock>(eDecGetBlock)(FObj, &Buffer);
  if (n < 0) {
    AnsiString why = Procs[eDecError] ? reinterpret_cast<FDecError>(Procs[eDecError])(FObj) : "";
    throw ETTAException(Format(MsgBlockFailed, why.c_str()));
  }
  if (!Buffer) n = 0;
  return n;
}

int64_t TTTADecoder::Seek(int64_t SampleFrame) { return Proc<FDecSeek>(eDecSeek)(FObj, SampleFrame); }

// ---------------------------------------------------------------------------------------------
// TTTAEncoder

TTTAEncoder::TTTAEncoder(void* FileHandle, bool Append, int AudioFormat, int Channels, int BitsPerSample,
                         int SampleRate, uint32_t DataLength)
    : FHandle(FileHandle) {
  if (BadHandle(FileHandle)) throw ETTAException(MsgInvalidHandle);
  auto create = Proc<FEncCreate>(eEncCreate);
  Proc<FEncDestroy>(eEncDestroy);
  char err[256] = "";
  FObj = create(FileHandle, Append ? 1 : 0, AudioFormat, Channels, BitsPerSample, SampleRate, DataLength, err,
                (int)sizeof err);
  if (!FObj) throw ETTAException(Format(MsgOpenFailed, err));
}

TTTAEncoder::~TTTAEncoder() {
  if (FObj && Lib.Loaded() && Procs[eEncDestroy]) reinterpret_cast<FEncDestroy>(Procs[eEncDestroy])(FObj, nullptr, 0);
}

bool TTTAEncoder::CompressBlock(const void* Buffer, int Frames) {
  return Proc<FEncCompress>(eEncCompress)(FObj, Buffer, Frames) != 0;
}

AnsiString TTTAEncoder::LastError() {
  if (!FObj || !Lib.Loaded() || !Procs[eEncError]) return AnsiString();
  return reinterpret_cast<FEncError>(Procs[eEncError])(FObj);
}

void TTTAEncoder::Finish() {
  if (!FObj) return;
  auto destroy = Proc<FEncDestroy>(eEncDestroy);
  char err[256] = "";
  TTAEncoderObj* obj = FObj;
  FObj = nullptr;
  if (!destroy(obj, err, (int)sizeof err)) throw ETTAException(Format(MsgFinishFailed, err));
}
