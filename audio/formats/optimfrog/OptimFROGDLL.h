// Binding of the OptimFROG decoding library "OptimFROG.dll", loaded by the unit's initialisation;
// every entry point is checked before it is called. TOptimFROGDecoder reads a stream through the
// library's read interface.
#pragma once
#include <cstdint>
#include <memory>

#include "audio/formats/optimfrog/OFRApi.h"
#include "classlib/Classes.h"
#include "classlib/SysUtils.h"

CLASSLIB_EXCEPTION(EOptimFROGException, Exception);

// Loads the library (once; later calls return at once) and resolves its entry points. LibName is
// for tests that stand another file in; the messages always name "OptimFROG.dll".
// Threads: start-up (the components call it too, under LoadLibCS).
void OptimFROGDLLInitialize(const char* LibName = nullptr);
// Releases the library; the next initialisation loads it again.
// Threads: shut-down, with no decoder alive.
void OptimFROGDLLFinalize();
bool OptimFROGLibraryLoaded();

class TOptimFROGDecoder : public TObject {
 public:
  // Raises EOptimFROGException "AStream is nil!", "OptimFROG decoder instance was not created!"
  // or "Unable to open OptimFROG-file!". The stream is not owned.
  explicit TOptimFROGDecoder(TStream* AStream);
  ~TOptimFROGDecoder() override;
  const char* ClassName() const override { return "TOptimFROGDecoder"; }

  int Channels();
  int SampleRate();
  int BitsPerSample();
  int64_t TotalSamples();
  bool Seekable();
  bool Seek(int64_t Sample);
  // Frames read into Buffer (whole frames), 0 at the end; raises "Buffer is nil!".
  int32_t Read(void* Buffer, uint32_t Frames);

  TStream* Stream() const { return FStream; }

 private:
  const ofr_info* Info();
  TStream* FStream;
  void* FInstance = nullptr;
  std::unique_ptr<ofr_info> FInfo;
  bool FInfoTried = false;
};
