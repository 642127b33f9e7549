// TAK input: TTAKIn decodes through "tak_deco_lib.dll" and reads the file's APEv2 tag through
// it. There is no TAK output.
#pragma once
#include <memory>
#include <vector>

#include "audio/AuClasses.h"
#include "audio/tak_decoder.h"

class TTAKIn : public TAuTaggedFileIn {
 public:
  // Never raises for a missing library: such files are simply not valid.
  // Threads: any; the file is opened and read under FileLock and DataCS as every file input.
  explicit TTAKIn(TComponent* AOwner);
  ~TTAKIn() override;
  const char* ClassName() const override { return "TTAKIn"; }

 protected:
  void OpenFile() override;
  void CloseFile() override;
  void GetDataInternal(void*& Buffer, uint32_t& Bytes) override;
  bool SeekInternal(int64_t& SampleNum) override;

 private:
  std::unique_ptr<TTAKDecoder> FDecoder;
  std::vector<uint8_t> FSamples;
  // Bytes of a frame decoded for a pull smaller than a frame, not yet delivered.
  std::vector<uint8_t> FPart;
  size_t FPartStart = 0;
};
