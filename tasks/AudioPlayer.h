// The preview player: plays one file, or a range of it, on the default sound device through a
// read-ahead cache and a spectrum meter, reporting start and stop through the event bus.
#pragma once
#include <atomic>
#include <functional>
#include <memory>

#include "audio/stages/AuCache.h"
#include "audio/devices/AuDSAudio.h"
#include "audio/stages/AuIndicators.h"
#include "tasks/AudioUnit.h"

// Eight band levels, bands 0 to 7.
using TSpectrumEvent = std::function<void(const float Levels[8])>;

class TAudioPlayer : public TObject {
 public:
  // Builds the chain; raises "Invalid Audio Format!" for a file of unknown type.
  // Threads: the user-interface thread, as every method.
  explicit TAudioPlayer(const WideString& FileName);
  // Stops the output without waiting, then frees the chain.
  ~TAudioPlayer() override;
  const char* ClassName() const override { return "TAudioPlayer"; }

  // Stops any playback (waiting until the output is idle), then plays from the start time to
  // the end; a file the codec cannot open is not played and nothing is sent.
  void PlayFrom(int Minutes, int Seconds);
  // As PlayFrom for a range in ms, at whole-second resolution.
  void PlayRange(uint32_t StartMs, uint32_t EndMs);
  // Asynchronous stop. Does not wait.
  void Stop();
  bool IsPlaying() const;

  const WideString& FileName() const { return FFileName; }
  TSpectrumEvent OnSpectrum;

 private:
  // Stops, checks the file and clears the previous window; False when the file is not valid.
  bool Prepare();
  void Play();

  WideString FFileName;
  std::unique_ptr<TAuFileIn> FInput;
  std::unique_ptr<TAudioCache> FCache;
  std::unique_ptr<TSpectrumIndicator> FSpectrum;
  std::unique_ptr<TDSAudioOut> FOutput;
  std::atomic<bool> FQuiet{false};  // set when the player is being freed
};
