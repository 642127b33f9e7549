#include "AudioTestUtil.h"

#include "classlib/WinApi.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "classlib/Forms.h"

void TPassConverter::InitInternal() {
  FInput->Init();
  FPosition = 0;
  FSize = FReport;
  FBusy = true;
}

void TPassConverter::FlushInternal() {
  if (FInput) FInput->Flush();
  FBusy = false;
}

void TPassConverter::GetDataInternal(void*& Buffer, uint32_t& Bytes) { FInput->GetData(Buffer, Bytes); }

void TCheckOut::Prepare() {
  ++Prepares;
  FInputOpen = false;
  if (OnPrepare) OnPrepare();
  if (!PrepareError.empty()) throw Exception(PrepareError);
  Got.clear();
  Steps = 0;
  Input()->Init();
  FInputOpen = true;
}

bool TCheckOut::DoOutput(bool Abort) {
  if (Abort) return false;
  int step = ++Steps;
  if (StepDelayMs) Sleep(StepDelayMs);
  if (step == FailAtStep) throw EAuException("step failed");
  void* p = nullptr;
  uint32_t n = Chunk;
  Input()->GetData(p, n);
  if (n == 0) return false;
  Got.insert(Got.end(), static_cast<uint8_t*>(p), static_cast<uint8_t*>(p) + n);
  return true;
}

void TCheckOut::Done() {
  ++Dones;
  DoneThread = GetCurrentThreadId();
  StoppedInDone = Stopped();
  if (!Prepared()) ++DonesUnprepared;
  // Only what Prepare set up is released.
  if (FInputOpen && Input()) Input()->Flush();
  FInputOpen = false;
  if (!DoneError.empty()) throw Exception(DoneError);
}

bool PumpUntil(const std::function<bool()>& Pred, int Ms) {
  DWORD start = GetTickCount();
  for (;;) {
    Application->ProcessMessages();
    if (Pred()) return true;
    if ((int)(GetTickCount() - start) > Ms) return Pred();
    HANDLE h = SyncEvent();
    MsgWaitForMultipleObjectsEx(1, &h, 5, QS_ALLINPUT, 0);
  }
}

void PumpFor(int Ms) {
  PumpUntil([] { return false; }, Ms);
}

std::vector<uint8_t> Sine16(double Freq, int Rate, int Frames, int Channels, double Amplitude) {
  std::vector<uint8_t> out((size_t)Frames * Channels * 2);
  auto* s = reinterpret_cast<int16_t*>(out.data());
  for (int i = 0; i < Frames; ++i) {
    auto v = (int16_t)std::lround(32767.0 * Amplitude * std::sin(2 * 3.14159265358979323846 * Freq * i / Rate));
    for (int c = 0; c < Channels; ++c) s[(size_t)i * Channels + c] = v;
  }
  return out;
}

std::vector<int16_t> AsInt16(const std::vector<uint8_t>& Bytes) {
  std::vector<int16_t> v(Bytes.size() / 2);
  std::memcpy(v.data(), Bytes.data(), v.size() * 2);
  return v;
}

std::wstring MessageOf(const std::function<void()>& F) {
  try {
    F();
  } catch (const Exception& E) {
    return E.Message();
  }
  return L"(nothing raised)";
}
