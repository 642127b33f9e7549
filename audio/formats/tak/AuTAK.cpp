#include "audio/formats/tak/AuTAK.h"

namespace {
// The unit's messages.
const char* const MsgLibMissing = "tak_deco_lib.dll library could not be loaded.";
}  // namespace

TTAKIn::TTAKIn(TComponent* AOwner) : TAuDecoderIn(AOwner) {}

void TTAKIn::LoadDecoderLibrary() {
  {
    TLock l(*LoadLibCS);
    TakDecoderInitialize();
  }
  if (!TakLibraryLoaded()) throw EAuException(MsgLibMissing);
}

void TTAKIn::DecoderOpened() {
  // The tag items whose names the APEv2 set knows.
  FAPEv2Tags->Clear();
  if (FDecoder) {
    for (int i = 0; i < FAPEv2Tags->Count(); ++i) {
      AnsiString name = FAPEv2Tags->Names(i);
      if (FDecoder->HasTagItem(name.c_str())) FAPEv2Tags->SetValue(name, FDecoder->TagItemValue(name.c_str()));
    }
  }
}
