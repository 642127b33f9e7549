#include "audio/AuMpegAudio.h"

void TMP3In::OpenFile() {
  TLock l(FileLock);
  if (OpenCount > 0) {
    TWMIn::OpenFile();
    return;
  }
  TWMIn::OpenFile();
}
