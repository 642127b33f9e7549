#include "audio/formats/winmedia/AuMpegAudio.h"

void TMP3In::OpenFile() {
  // The reader takes the encoder's lead-in and padding off an MPEG audio stream, so the length
  // it reports is the audio's own: nothing is added to it here.
  TWMIn::OpenFile();
}
