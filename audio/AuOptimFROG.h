// OptimFROG input: TOFRIn decodes through "OptimFROG.dll". There is no OptimFROG output, and the
// input reads no tags.
#pragma once
#include <memory>
#include <vector>

#include "audio/AuClasses.h"
#include "audio/OptimFROGDLL.h"

class TOFRIn : public TAuTaggedFileIn {
 public:
  // Never raises for a missing library: such files are simply not valid.
  // Threads: any; the file is opened and read under FileLock and DataCS as every file input.
  explicit TOFRIn(TComponent* AOwner);
  ~TOFRIn() override;
  const char* ClassName() const override { return "TOFRIn"; }

 protected:
  void OpenFile() override;
  void CloseFile() override;
  void GetDataInternal(void*& Buffer, uint32_t& Bytes) override;
  bool SeekInternal(int64_t& SampleNum) override;

 private:
  std::unique_ptr<TOptimFROGDecoder> FDecoder;
  std::vector<uint8_t> FSamples;
  // Bytes of a frame decoded for a pull smaller than a frame, not yet delivered.
  std::vector<uint8_t> FPart;
  size_t FPartStart = 0;
};
