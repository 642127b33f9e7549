// Binding of the TAK decoding library "tak_deco_lib.dll", loaded by the unit's initialisation;
// every entry point is checked before it is called. TTAKDecoder reads a stream through the
// library's stream interface and looks up the stream's APEv2 tag items.
#pragma once
#include <cstdint>

#include "audio/formats/tak/TAKApi.h"
#include "classlib/Classes.h"
#include "classlib/SysUtils.h"

CLASSLIB_EXCEPTION(ETAKException, Exception);

// Loads the library once (later calls return at once). LibName is for tests that stand another
// file in; the messages always name "tak_deco_lib.dll".
// Threads: start-up (the component calls it too, under LoadLibCS).
void TakDecoderInitialize(const char* LibName = nullptr);
// Releases the library; the next initialisation loads it again.
// Threads: shut-down, with no decoder alive.
void TakDecoderFinalize();
bool TakLibraryLoaded();

class TTAKDecoder : public TObject {
 public:
  // Raises ETAKException "Can not get stream info!" (or the binding's messages). Not owned.
  explicit TTAKDecoder(TStream* AStream);
  ~TTAKDecoder() override;
  const char* ClassName() const override { return "TTAKDecoder"; }

  int BitsPerSample() const { return FBits; }
  int SampleRate() const { return FRate; }
  int Channels() const { return FChannels; }
  int SampleCount() const { return FSamples; }
  bool Seek(int64_t Sample);
  // Frames read; a library error counts as none.
  int32_t Read(void* Buffer, int32_t Frames);
  bool HasTagItem(const char* Key);
  // The item's value from UTF-8; empty when any step fails.
  WideString TagItemValue(const char* Key);

  TStream* Stream() const { return FStream; }

 private:
  bool FindItem(const char* Key, int32_t& Index, int32_t& Size);
  TStream* FStream;
  void* FHandle = nullptr;
  void* FTag = nullptr;
  int32_t FBits = 0, FRate = 0, FChannels = 0, FSamples = 0;
};
