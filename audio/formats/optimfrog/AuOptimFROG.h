// OptimFROG input: TOFRIn decodes through "OptimFROG.dll". There is no OptimFROG output, and the
// input reads no tags.
#pragma once
#include "audio/engine/AuDecoderIn.h"
#include "audio/formats/optimfrog/OptimFROGDLL.h"

class TOFRIn : public TAuDecoderIn<TOptimFROGDecoder> {
 public:
  // Never raises for a missing library: such files are simply not valid.
  // Threads: any; the file is opened and read under FileLock and DataCS as every file input.
  explicit TOFRIn(TComponent* AOwner);
  const char* ClassName() const override { return "TOFRIn"; }

 protected:
  void LoadDecoderLibrary() override;
  bool DecoderSeekable() override { return FDecoder->Seekable(); }
  int64_t DecoderSamples() override { return FDecoder->TotalSamples(); }
};
