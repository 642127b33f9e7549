#include "tasks/AudioPlayer.h"

#include <windows.h>

#include "tasks/EventsManager.h"
#include "tasks/Utils.h"

namespace {

const char* const ErrInvalidFormat = "Invalid Audio Format!";

void SendPlayer(uint32_t Msg) {
  if (EventManager) SendMessageW(static_cast<HWND>(EventManager->Handle()), Msg, 0, 0);
}

}  // namespace

TAudioPlayer::TAudioPlayer(const WideString& FileName) : FFileName(FileName) {
  FInput = TAudioTools::CreateInput(TUtils::GetFormatByExtension(FileName) & 127);
  if (!FInput) throw Exception(ErrInvalidFormat);
  FInput->SetWideFileName(FileName);
  FCache = std::make_unique<TAudioCache>(nullptr);
  FSpectrum = std::make_unique<TSpectrumIndicator>(nullptr);
  FOutput = std::make_unique<TDSAudioOut>(nullptr);
  FCache->SetInput(FInput.get());
  FSpectrum->SetInput(FCache.get());
  FSpectrum->OnGainData = [this](TComponent*) {
    if (!OnSpectrum) return;
    float levels[8];
    for (uint32_t i = 0; i < 8; ++i) levels[i] = FSpectrum->GetLevel(i);
    OnSpectrum(levels);
  };
  FOutput->SetInput(FSpectrum.get());
  // A run that ends normally reports its stop twice: from the output's thread and on the
  // user-interface thread. A player being freed reports nothing more: its owner may be going.
  auto stopped = [this](TComponent*) {
    if (!FQuiet) SendPlayer(WM_PLAYER_STOPPED);
  };
  FOutput->OnDone = stopped;
  FOutput->OnSyncDone = stopped;
  FOutput->OnThreadException = stopped;
}

TAudioPlayer::~TAudioPlayer() {
  // The handlers stay in place (the output's thread may be calling one right now) and fall
  // silent; freeing the output ends its thread before the player's fields go.
  FQuiet = true;
  if (FOutput) FOutput->Stop(true);
  FOutput.reset();
  FSpectrum.reset();
  FCache.reset();
  FInput.reset();
}

bool TAudioPlayer::Prepare() {
  FOutput->Stop(false);
  if (!FInput->Valid()) return false;
  FInput->SetLoop(false);
  // The window of the last play goes, so a later start is measured against the whole file.
  FInput->SetStartSample(0);
  FInput->SetEndSample(-1);
  return true;
}

void TAudioPlayer::Play() {
  FOutput->Run();
  SendPlayer(WM_PLAYER_STARTED);
}

void TAudioPlayer::PlayFrom(int Minutes, int Seconds) {
  if (!Prepare()) return;
  if (Minutes != 0 || Seconds != 0) FInput->SetStartTime(Minutes, Seconds);
  Play();
}

void TAudioPlayer::PlayRange(uint32_t StartMs, uint32_t EndMs) {
  if (!Prepare()) return;
  if (StartMs != 0 || EndMs != 0) {
    uint32_t h, ms, s, m;
    TUtils::SplitMilliseconds(StartMs, h, ms, s, m);
    FInput->SetStartTime((int32_t)(h * 60 + m), (int32_t)s);
    TUtils::SplitMilliseconds(EndMs, h, ms, s, m);
    FInput->SetEndTime((int32_t)(h * 60 + m), (int32_t)s);
  }
  Play();
}

void TAudioPlayer::Stop() {
  if (FOutput) FOutput->Stop(true);
}

bool TAudioPlayer::IsPlaying() const { return FOutput && FOutput->Status() == osRunning; }
