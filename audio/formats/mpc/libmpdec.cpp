#include "audio/formats/mpc/libmpdec.h"

#include <cmath>

#include "audio/engine/AuClasses.h"
#include "audio/engine/CodecLibrary.h"
#include "classlib/WinApi.h"

namespace {

const char* const LibName = "libmpdec.dll";
// The unit's messages.
const char* const MsgNotLoaded = "MPC decoding library \"%s\" not loaded!";
const char* const MsgNoFunction = "Function \"%s\" not found in MPC decoding library!";
const char* const MsgStreamInfo = "Unable to read stream info!";
const char* const MsgInitialize = "Unable to initialize MPC decoder!";

struct TEntries {
  mpc_streaminfo_init_t streaminfo_init;
  mpc_streaminfo_read_t streaminfo_read;
  mpc_streaminfo_get_length_t streaminfo_get_length;
  mpc_streaminfo_get_length_samples_t streaminfo_get_length_samples;
  mpc_decoder_setup_t decoder_setup;
  mpc_decoder_initialize_t decoder_initialize;
  mpc_decoder_set_seeking_t decoder_set_seeking;
  mpc_decoder_set_streaminfo_t decoder_set_streaminfo;
  mpc_decoder_scale_output_t decoder_scale_output;
  mpc_decoder_decode_t decoder_decode;
  mpc_decoder_decode_frame_t decoder_decode_frame;
  mpc_decoder_seek_sample_t decoder_seek_sample;
  mpc_decoder_seek_seconds_t decoder_seek_seconds;
};

TSearchedLibrary Library;
TEntries Lib{};

// The entry point, checked: raises the binding's messages when it cannot be called.
template <class F>
F Need(F Fn, const char* Name) {
  if (!Library.Loaded()) throw EMPCDecException(Format(MsgNotLoaded, LibName));
  if (!Fn) throw EMPCDecException(Format(MsgNoFunction, Name));
  return Fn;
}
#define MPDEC(fn) Need(Lib.fn, "mpc_" #fn)

// The reader callbacks over the decoder's stream; no exception leaves them.
int32_t ReaderRead(void* Data, void* Ptr, int32_t Size) {
  if (!Data) return -1;
  try {
    if (Size <= 0) return 0;
    return static_cast<TMPCDecoder*>(Data)->Stream()->Read(Ptr, Size);
  } catch (...) {
    return 0;
  }
}
int32_t ReaderSeek(void* Data, int32_t Offset) {
  if (!Data) return -1;
  try {
    return static_cast<TMPCDecoder*>(Data)->Stream()->Seek(Offset, soBeginning) == Offset ? 1 : 0;
  } catch (...) {
    return 0;
  }
}
int32_t ReaderTell(void* Data) {
  if (!Data) return -1;
  try {
    return (int32_t)static_cast<TMPCDecoder*>(Data)->Stream()->Position();
  } catch (...) {
    return -1;
  }
}
int32_t ReaderGetSize(void* Data) {
  if (!Data) return -1;
  try {
    int64_t s = static_cast<TMPCDecoder*>(Data)->Stream()->Size();
    return s > INT32_MAX ? INT32_MAX : (int32_t)s;
  } catch (...) {
    return -1;
  }
}
int32_t ReaderCanSeek(void* Data) { return Data ? 1 : -1; }

}  // namespace

bool LoadMPDecLibrary(const char* Name) {
  TLock l(*LoadLibCS);
  return Library.Load(Name ? Name : LibName, [] {
    Library.Resolve(Lib.streaminfo_init, "mpc_streaminfo_init");
    Library.Resolve(Lib.streaminfo_read, "mpc_streaminfo_read");
    Library.Resolve(Lib.streaminfo_get_length, "mpc_streaminfo_get_length");
    Library.Resolve(Lib.streaminfo_get_length_samples, "mpc_streaminfo_get_length_samples");
    Library.Resolve(Lib.decoder_setup, "mpc_decoder_setup");
    Library.Resolve(Lib.decoder_initialize, "mpc_decoder_initialize");
    Library.Resolve(Lib.decoder_set_seeking, "mpc_decoder_set_seeking");
    Library.Resolve(Lib.decoder_set_streaminfo, "mpc_decoder_set_streaminfo");
    Library.Resolve(Lib.decoder_scale_output, "mpc_decoder_scale_output");
    Library.Resolve(Lib.decoder_decode, "mpc_decoder_decode");
    Library.Resolve(Lib.decoder_decode_frame, "mpc_decoder_decode_frame");
    Library.Resolve(Lib.decoder_seek_sample, "mpc_decoder_seek_sample");
    Library.Resolve(Lib.decoder_seek_seconds, "mpc_decoder_seek_seconds");
  });
}

bool MPDecLibraryLoaded() { return Library.Loaded(); }

void MPDecLibraryReset() {
  TLock l(*LoadLibCS);
  Library.Release();
  Lib = TEntries{};
}

TMPCDecoder::TMPCDecoder(TStream* AStream) : FStream(AStream) {
  if (!AStream) throw EMPCDecException("Assertion failure (libmpdec)");
  FReader.read = ReaderRead;
  FReader.seek = ReaderSeek;
  FReader.tell = ReaderTell;
  FReader.get_size = ReaderGetSize;
  FReader.canseek = ReaderCanSeek;
  FReader.data = this;
  MPDEC(streaminfo_init)(&FInfo);
  if (MPDEC(streaminfo_read)(&FInfo, &FReader) != 0) throw EMPCDecException(MsgStreamInfo);
  MPDEC(decoder_setup)(&FDecoder, &FReader);
  FSetUp = true;
  if (MPDEC(decoder_initialize)(&FDecoder, &FInfo) != 1) throw EMPCDecException(MsgInitialize);
}

TMPCDecoder::~TMPCDecoder() {
  // The library keeps its working state behind the decoder record: setting up with no reader
  // releases it.
  if (FSetUp && Library.Loaded() && Lib.decoder_setup) Lib.decoder_setup(&FDecoder, nullptr);
}

int64_t TMPCDecoder::LengthSamples() { return MPDEC(streaminfo_get_length_samples)(&FInfo); }

int TMPCDecoder::BitRate() const { return (int)Round(FInfo.bitrate / 1000.0); }

uint32_t TMPCDecoder::Decode(float* Buffer) { return MPDEC(decoder_decode)(&FDecoder, Buffer, nullptr, nullptr); }

bool TMPCDecoder::Seek(int64_t Sample) { return MPDEC(decoder_seek_sample)(&FDecoder, Sample) == 1; }
