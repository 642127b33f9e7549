// An input over bytes in memory, shared by the tests of the engine and of the codec components.
#pragma once
#include <atomic>
#include <cstdint>
#include <vector>

#include "audio/engine/AuClasses.h"

// A source over bytes in memory, delivering at most MaxChunk bytes per pull.
class TMemIn : public TAuInput {
 public:
  TMemIn(std::vector<uint8_t> Bytes, int Bits, int Ch, int SR, TComponent* AOwner = nullptr)
      : TAuInput(AOwner), Data(std::move(Bytes)), FBits(Bits), FCh(Ch), FSR(SR) {}
  ~TMemIn() override;

  std::vector<uint8_t> Data;
  uint32_t MaxChunk = 0;      // 0: no limit
  int DelayMs = 0;            // sleep in every pull
  bool UnknownSize = false;   // Size -1
  WideString InitError;       // InitInternal raises this when not empty
  std::atomic<int> Inits{0}, Flushes{0}, Pulls{0}, Pauses{0}, Resumes{0};

  void Pause() override { ++Pauses; }
  void Resume() override { ++Resumes; }

 protected:
  int GetBPS() override { return FBits; }
  int GetCh() override { return FCh; }
  int GetSR() override { return FSR; }
  void InitInternal() override;
  void FlushInternal() override;
  void GetDataInternal(void*& Buffer, uint32_t& Bytes) override;

 private:
  int FBits, FCh, FSR;
  size_t FRead = 0;
};
