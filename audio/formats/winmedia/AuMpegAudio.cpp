#include "audio/formats/winmedia/AuMpegAudio.h"

TMP3In::TMP3In(TComponent* AOwner) : TWMIn(AOwner) {}
