// The exports of TTALib.dll: every call catches whatever the codec throws and answers with its
// error value.
#define TTALIB_BUILD
#include "TTALib.h"

#include <cstring>
#include <new>
#include <string>

#include "TTACodec.h"

struct TTADecoderObj {
  explicit TTADecoderObj(void* h) : codec(h) {}
  tta::Decoder codec;
  std::string error;
};

struct TTAEncoderObj {
  TTAEncoderObj(void* h, bool append, int format, int ch, int bits, int rate, uint32_t len)
      : codec(h, append, format, ch, bits, rate, len) {}
  tta::Encoder codec;
  std::string error;
};

namespace {

void CopyError(const char* text, char* buf, int size) {
  if (!buf || size <= 0) return;
  std::strncpy(buf, text, (size_t)size - 1);
  buf[size - 1] = 0;
}

// The message of the exception being handled.
std::string CurrentMessage() {
  try {
    throw;
  } catch (const std::bad_alloc&) {
    return "Out of memory";
  } catch (const std::exception& e) {
    return e.what();
  } catch (...) {
    return "Unknown error";
  }
}

bool BadHandle(void* h) { return h == nullptr || h == reinterpret_cast<void*>(-1); }

}  // namespace

extern "C" {

TTADecoderObj* __cdecl TTADecoder_Create(void* FileHandle, char* Error, int ErrorSize) {
  if (BadHandle(FileHandle)) {
    CopyError("Invalid file handle", Error, ErrorSize);
    return nullptr;
  }
  try {
    return new TTADecoderObj(FileHandle);
  } catch (...) {
    CopyError(CurrentMessage().c_str(), Error, ErrorSize);
    return nullptr;
  }
}

void __cdecl TTADecoder_Destroy(TTADecoderObj* D) { delete D; }

int __cdecl TTADecoder_GetAudioFormat(TTADecoderObj* D) { return D ? D->codec.Format() : 0; }
int __cdecl TTADecoder_GetNumChannels(TTADecoderObj* D) { return D ? D->codec.Channels() : 0; }
int __cdecl TTADecoder_GetBitsPerSample(TTADecoderObj* D) { return D ? D->codec.Bits() : 0; }
int __cdecl TTADecoder_GetSampleRate(TTADecoderObj* D) { return D ? D->codec.Rate() : 0; }
int64_t __cdecl TTADecoder_GetDataLength(TTADecoderObj* D) { return D ? D->codec.Length() : -1; }

int __cdecl TTADecoder_GetBlock(TTADecoderObj* D, void** Buffer) {
  if (!D || !Buffer) return -1;
  try {
    return D->codec.NextBlock(Buffer);
  } catch (...) {
    D->error = CurrentMessage();
    *Buffer = nullptr;
    return -1;
  }
}

int64_t __cdecl TTADecoder_Seek(TTADecoderObj* D, int64_t SampleFrame) {
  if (!D) return -1;
  return D->codec.Seek(SampleFrame);
}

const char* __cdecl TTADecoder_GetError(TTADecoderObj* D) { return D ? D->error.c_str() : ""; }

TTAEncoderObj* __cdecl TTAEncoder_Create(void* FileHandle, int Append, int AudioFormat, int Channels,
                                         int BitsPerSample, int SampleRate, uint32_t DataLength, char* Error,
                                         int ErrorSize) {
  if (BadHandle(FileHandle)) {
    CopyError("Invalid file handle", Error, ErrorSize);
    return nullptr;
  }
  try {
    return new TTAEncoderObj(FileHandle, Append != 0, AudioFormat, Channels, BitsPerSample, SampleRate, DataLength);
  } catch (...) {
    CopyError(CurrentMessage().c_str(), Error, ErrorSize);
    return nullptr;
  }
}

int __cdecl TTAEncoder_CompressBlock(TTAEncoderObj* E, const void* Buffer, int Frames) {
  if (!E) return 0;
  try {
    E->codec.Compress(Buffer, Frames);
    return 1;
  } catch (...) {
    E->error = CurrentMessage();
    return 0;
  }
}

int __cdecl TTAEncoder_Destroy(TTAEncoderObj* E, char* Error, int ErrorSize) {
  if (!E) return 1;
  int ok = 1;
  try {
    E->codec.Finish();
  } catch (...) {
    CopyError(CurrentMessage().c_str(), Error, ErrorSize);
    ok = 0;
  }
  delete E;
  return ok;
}

const char* __cdecl TTAEncoder_GetError(TTAEncoderObj* E) { return E ? E->error.c_str() : ""; }

}  // extern "C"
