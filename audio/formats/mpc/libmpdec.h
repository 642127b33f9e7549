// Binding of the Musepack decoding library "libmpdec.dll": loaded by name on first use, every
// entry point checked before it is called. TMPCDecoder reads a Musepack stream from a TStream
// through the library's reader callbacks and decodes it to floats.
#pragma once
#include <cstdint>

#include "audio/formats/mpc/MPCApi.h"
#include "classlib/Classes.h"
#include "classlib/SysUtils.h"

CLASSLIB_EXCEPTION(EMPCDecException, Exception);

// Loads the library once, under LoadLibCS; true when it is loaded. LibName is for tests that
// stand another file in (the messages always name "libmpdec.dll"); MPDecLibraryReset lets them
// load again.
// Threads: any; waits for LoadLibCS.
bool LoadMPDecLibrary(const char* LibName = nullptr);
bool MPDecLibraryLoaded();
void MPDecLibraryReset();

class TMPCDecoder : public TObject {
 public:
  // Reads the stream information and sets the decoder up; raises EMPCDecException
  // "Unable to read stream info!" or "Unable to initialize MPC decoder!". The stream is not owned.
  // Threads: the input's (under its locks).
  explicit TMPCDecoder(TStream* AStream);
  ~TMPCDecoder() override;
  const char* ClassName() const override { return "TMPCDecoder"; }

  int SampleRate() const { return (int)FInfo.sample_freq; }
  int Channels() const { return (int)FInfo.channels; }
  int64_t LengthSamples();
  // Kilobits per second, rounded.
  int BitRate() const;
  // Decodes the next frame into Buffer (MPDEC_BUFFER_FLOATS floats, interleaved); the frames
  // decoded, 0 or (uint32_t)-1 at the end.
  uint32_t Decode(float* Buffer);
  bool Seek(int64_t Sample);

  TStream* Stream() const { return FStream; }

 private:
  TStream* FStream;
  mpdec_decoder FDecoder{};
  mpdec_reader FReader{};
  mpdec_streaminfo FInfo{};
  bool FSetUp = false;
};
