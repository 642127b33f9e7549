// MP3 files read through the Windows Media reader.
#pragma once
#include "audio/formats/winmedia/AuWinMedia.h"

class TMP3In : public TWMIn {
 public:
  explicit TMP3In(TComponent* AOwner) : TWMIn(AOwner) {}
  const char* ClassName() const override { return "TMP3In"; }

 protected:
  void OpenFile() override;
};
