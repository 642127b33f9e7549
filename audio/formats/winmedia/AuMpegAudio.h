// MP3 files read through the Windows Media reader. The reader takes the encoder's lead-in and
// padding off an MPEG audio stream, so the length it reports is the audio's own: nothing is added
// to it here.
#pragma once
#include "audio/formats/winmedia/AuWinMedia.h"

class TMP3In : public TWMIn {
 public:
  explicit TMP3In(TComponent* AOwner);
  const char* ClassName() const override { return "TMP3In"; }
};
