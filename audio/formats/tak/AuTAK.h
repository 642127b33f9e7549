// TAK input: TTAKIn decodes through "tak_deco_lib.dll" and reads the file's APEv2 tag through
// it. There is no TAK output.
#pragma once
#include "audio/engine/AuDecoderIn.h"
#include "audio/formats/tak/tak_decoder.h"

class TTAKIn : public TAuDecoderIn<TTAKDecoder> {
 public:
  // Never raises for a missing library: such files are simply not valid.
  // Threads: any; the file is opened and read under FileLock and DataCS as every file input.
  explicit TTAKIn(TComponent* AOwner);
  const char* ClassName() const override { return "TTAKIn"; }

 protected:
  void LoadDecoderLibrary() override;
  bool DecoderSeekable() override { return true; }
  int64_t DecoderSamples() override { return FDecoder->SampleCount(); }
  void DecoderOpened() override;
};
