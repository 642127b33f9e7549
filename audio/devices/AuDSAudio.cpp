#include "audio/devices/AuDSAudio.h"

#include "classlib/WinApi.h"

#include <algorithm>
#include <cstring>

#include "classlib/Forms.h"

namespace {

// Silence ahead of the first data of a run (the platform's mixer may skip up to one of its
// 10 ms periods of a starting buffer; at most half the buffer) and behind the last (what the
// device still holds when the play cursor has passed the end).
constexpr uint32_t PreRollMs = 20;
constexpr uint32_t TailMs = 200;

struct TPlaybackMessages {
  const char* InvalidDevice = "Invalid device number";
  const char* DeviceFailed = "Failed to create DirectSound device";
  const char* BufferFailed = "Failed to create DirectSound buffer";
  const char* IniSection = "AudioOutput";
  const char* IniKey = "Latency";
};
constexpr TPlaybackMessages Msg;

}  // namespace

std::function<std::unique_ptr<DSOut>()> DSOutFactory = [] { return std::make_unique<DSOut>(); };

TDSAudioOut::TDSAudioOut(TComponent* AOwner) : TAuOutput(AOwner) {
  FDS = DSOutFactory ? DSOutFactory() : std::make_unique<DSOut>();
  FDS->EnumerateDevices(FDevices);
  Thread()->SetPriority(tpHighest);
}

TDSAudioOut::~TDSAudioOut() {
  Shutdown();
  if (!FINIFile.empty() && FCalibrate)
    WritePrivateProfileStringA(Msg.IniSection, Msg.IniKey, std::to_string(FLatency.load()).c_str(), FINIFile.c_str());
}

void TDSAudioOut::SetINIFile(const AnsiString& Value) {
  FINIFile = Value;
  if (!Value.empty()) FLatency = GetPrivateProfileIntA(Msg.IniSection, Msg.IniKey, (int)FLatency.load(), Value.c_str());
}

AnsiString TDSAudioOut::GetDeviceName(int32_t Index) const {
  if (Index < 0 || Index >= FDevices.Count) return AnsiString();
  return AnsiString(FDevices.Devices[Index].Description);
}

void TDSAudioOut::SetVolume(int32_t Value) {
  FVolume = Value;
  if (!FReleased && FBusy) FDS->SetVolume(Value);
}

void TDSAudioOut::BuildBuffer() {
  uint32_t latency = std::max<uint32_t>(10, FLatency);
  FFrames = (uint32_t)((uint64_t)latency * FRate / 2000) * 2;
  if (FFrames < 2) FFrames = 2;
  uint64_t bytes = (uint64_t)FBits / 8 * FFrames * FChannels;
  if (bytes == 0 || bytes > 0x10000000u) throw EAuException(Msg.BufferFailed);
  FBufferBytes = (uint32_t)bytes;
  // The data not yet written moves to the front of the new block.
  uint32_t pending = FPendEnd - FPendStart;
  std::vector<uint8_t> block(std::max(FBufferBytes / 2, pending));
  if (pending) std::memcpy(block.data(), FBlock.data() + FPendStart, pending);
  FBlock.swap(block);
  FPendStart = 0;
  FPendEnd = pending;
  FSilence = FBits == 8 ? 128 : 0;
  FFormat = DSMakeFormat(FChannels, FRate, FBits);
  int32_t r = FDS->CreateBuffer(FWindow, FFormat, FBufferBytes);
  if (r != 0) throw EAuException(Format("%s%.8X", Msg.BufferFailed, (unsigned)r));
}

void TDSAudioOut::Prepare() {
  FInputOpen = false;
  if (FDeviceNumber < 0 || FDeviceNumber >= FDevices.Count) throw EAuException(Msg.InvalidDevice);
  FInput->Init();
  FInputOpen = true;
  FChannels = (uint32_t)std::max(0, FInput->Channels());
  FRate = (uint32_t)std::max(0, FInput->SampleRate());
  if (FSpeedFactor != 1.0f) FRate = (uint32_t)Round((double)FRate * FSpeedFactor);
  FBits = (uint32_t)(FInput->BitsPerSample() & 127);
  if (FChannels == 0 || FRate == 0 || (FBits != 8 && FBits != 16 && FBits != 24 && FBits != 32))
    throw EAuException(Msg.BufferFailed);
  if (FLatency < 10) FLatency = 10;
  if (FDS->OpenDevice(FDevices.Devices[FDeviceNumber].Guid) != 0) throw EAuException(Msg.DeviceFailed);
  FReleased = false;
  FWindow = nullptr;
  if (auto* form = dynamic_cast<TCustomForm*>(Owner()))
    if (form->HandleAllocated()) FWindow = form->Handle();
  FPendStart = FPendEnd = 0;
  BuildBuffer();
  FStartPending = true;
  FInputEnded = false;
  FFrameSize = FBits / 8 * FChannels;
  FUnderruns = 0;
}

void TDSAudioOut::Pull() {
  bool eof = false;
  uint32_t n = FInput->FillBufferRaw(FBlock.data(), FBufferBytes / 2, eof);
  n -= n % std::max<uint32_t>(1, FFrameSize);
  FPendStart = 0;
  FPendEnd = n;
  if (eof) FInputEnded = true;
}

void TDSAudioOut::TrackPlayed() {
  uint32_t play = 0, write = 0;
  if (FDS->GetPositions(play, write) != 0) return;
  int64_t moved = (int64_t)play - FLastPlay;
  if (moved < 0) moved += FBufferBytes;
  FPlayed += (uint64_t)moved;
  FLastPlay = play;
  int64_t gap = (int64_t)write - play;
  if (gap < 0) gap += FBufferBytes;
  if (FWritten < FPlayed) {
    // The play cursor has passed what was written and plays the silence ahead of it: what is
    // written next goes after the write cursor. A writer that is only inside the span between
    // the cursors goes on where it is, so that what it writes stays in order.
    bool data = !FDataEndKnown;
    FWritten = FPlayed + (uint64_t)gap;
    FDS->SetWritePosition(write);
    if (data) {
      ++FUnderruns;
      if (OnUnderrun) PostGenericEvent(this, OnUnderrun);
    }
  }
}

void TDSAudioOut::SilenceAhead() {
  // The free part of the buffer holds what was played a buffer ago: silence in its place as it
  // comes free, so that a play cursor overtaking the writer plays a gap, not old sound. The write
  // position stays.
  const uint64_t from = std::max(FWritten, FSilentTo), to = FPlayed + FBufferBytes;
  if (to <= from || !FBufferBytes) return;
  const uint32_t at = FDS->WritePosition;
  FDS->SetWritePosition((uint32_t)(from % FBufferBytes));
  FDS->Fill(FSilence, (uint32_t)(to - from));
  FDS->SetWritePosition(at);
  FSilentTo = to;
}

void TDSAudioOut::WriteSilence() {
  uint64_t used = FWritten - FPlayed;
  if (used >= FBufferBytes) return;
  uint32_t free = FBufferBytes - (uint32_t)used;
  free -= free % std::max<uint32_t>(1, FFrameSize);
  if (!free) return;
  FDS->Fill(FSilence, free);
  FWritten += free;
}

void TDSAudioOut::Drain() {
  // Until the play cursor has passed the last byte of the input and the device's own delay
  // (bounded by two buffers and two seconds), with silence behind it.
  const uint32_t bufferMs = FRate ? (uint32_t)((uint64_t)FFrames * 1000 / FRate) : 0;
  const uint64_t end = FDataEnd + (uint64_t)FRate * TailMs / 1000 * FFrameSize;
  const DWORD start = GetTickCount();
  WriteSilence();
  while (FPlayed < end && !Thread()->StopAsked() && GetTickCount() - start < 2 * bufferMs + 2000) {
    FDS->WaitHalves(std::min<uint32_t>(50, std::max<uint32_t>(10, bufferMs / 4)));
    TrackPlayed();
    WriteSilence();
  }
}

bool TDSAudioOut::DoOutput(bool Abort) {
  if (!FBusy) return true;
  if (!FActive) return false;
  if (Abort) {
    FDS->Stop();
    FActive = false;
    return false;
  }
  if (FStartPending) {
    FWritten = FPlayed = 0;
    FLastPlay = 0;
    FDataEndKnown = false;
    FDS->SetWritePosition(0);
    uint32_t preRoll = std::min<uint32_t>(FRate * PreRollMs / 1000, FFrames / 2) * FFrameSize;
    FDS->Fill(FSilence, preRoll);
    FWritten = preRoll;
    if (FPendStart >= FPendEnd && !FInputEnded) Pull();
    uint32_t n = std::min(FPendEnd - FPendStart, FBufferBytes - preRoll);
    FDS->Write(FBlock.data() + FPendStart, n);
    FWritten += n;
    FPendStart += n;
    FSilentTo = FBufferBytes;  // the new buffer is silent
    FDS->SetVolume(FVolume);
    FDS->Start();
    FStartPending = false;
    return true;
  }
  if (FInputEnded && FPendStart >= FPendEnd) {
    if (!FDataEndKnown) {
      FDataEnd = FWritten;
      FDataEndKnown = true;
    }
    Drain();
    FDS->Stop();
    FActive = false;
    return false;
  }
  if (FPendStart >= FPendEnd) Pull();
  uint32_t underruns = FUnderruns;
  TrackPlayed();
  uint32_t pending = FPendEnd - FPendStart;
  auto freeBytes = [&] {
    uint64_t used = FWritten - FPlayed;
    uint32_t f = used >= FBufferBytes ? 0 : FBufferBytes - (uint32_t)used;
    return f - f % std::max<uint32_t>(1, FFrameSize);
  };
  if (pending && freeBytes() < pending) {
    // Wait for the play cursor to pass the next half.
    const uint32_t bufferMs = FRate ? (uint32_t)((uint64_t)FFrames * 1000 / FRate) : 0;
    FDS->WaitHalves(bufferMs / 2 + 100);
    TrackPlayed();
  }
  // A pulled block is kept until there is room for it: nothing is dropped.
  uint32_t n = std::min(freeBytes(), pending);
  if (n) {
    FDS->Write(FBlock.data() + FPendStart, n);
    FWritten += n;
    FPendStart += n;
  }
  SilenceAhead();
  if (FInputEnded && FPendStart >= FPendEnd && !FDataEndKnown) {
    FDataEnd = FWritten;
    FDataEndKnown = true;
    WriteSilence();
  }
  if (FUnderruns != underruns && FCalibrate)
    PostImmediateEvent(this, [this](TComponent*) { SetLatency(FLatency + 10); });
  return true;
}

void TDSAudioOut::SetLatency(uint32_t Value) {
  if (FReleased || !FBusy || (Thread() && GetCurrentThreadId() == Thread()->ThreadID())) {
    FLatency = Value;
    return;
  }
  TAuOutput::Pause();
  if (Status() != osPaused) {
    FLatency = Value;  // the run is ending: the next one takes it
    return;
  }
  try {
    FDS->Stop();
    FLatency = Value;
    if (!FReleased) {
      BuildBuffer();
      FStartPending = true;
    }
  } catch (...) {
    TAuOutput::Resume();
    throw;
  }
  TAuOutput::Resume();
}

void TDSAudioOut::Done() {
  if (!FReleased) {
    FDS->Release();
    std::vector<uint8_t>().swap(FBlock);
    FPendStart = FPendEnd = 0;
  }
  FReleased = true;
  if (FInputOpen && FInput) FInput->Flush();
  FInputOpen = false;
}
