#include "audio/formats/optimfrog/AuOptimFROG.h"

namespace {
// The unit's messages.
const char* const MsgLibMissing = "OptimFROG.dll library could not be loaded.";
}  // namespace

TOFRIn::TOFRIn(TComponent* AOwner) : TAuDecoderIn(AOwner) {}

void TOFRIn::LoadDecoderLibrary() {
  {
    TLock l(*LoadLibCS);
    OptimFROGDLLInitialize();
  }
  if (!OptimFROGLibraryLoaded()) throw EAuException(MsgLibMissing);
}
