// The task engine's tests start the units they use in the program's order.
#include <gtest/gtest.h>

#include "audio/engine/AuClasses.h"
#include "audio/formats/optimfrog/OptimFROGDLL.h"
#include "audio/formats/tak/tak_decoder.h"
#include "classlib/Forms.h"
#include "tasks/AudioUnit.h"
#include "tasks/EventsManager.h"
#include "unicode/UniSystem.h"
#include "unicode/UniSysUtils.h"
#include "common/CrashExit.h"

int main(int argc, char** argv) {
  crashexit::Install();
  ::testing::InitGoogleTest(&argc, argv);
  ClasslibInitialize();
  Application->OnException = [](TObject*, const Exception& E) {
    ADD_FAILURE() << "unhandled exception reached the application: " << E.what();
  };
  UniSysUtilsInitialize();
  UniSystemInitialize();
  EventsManagerInitialize();
  AuClassesInitialize();
  OptimFROGDLLInitialize();
  TakDecoderInitialize();
  AudioUnitInitialize();
  int rc = RUN_ALL_TESTS();
  AudioUnitFinalize();
  TakDecoderFinalize();
  OptimFROGDLLFinalize();
  AuClassesFinalize();
  EventsManagerFinalize();
  UniSystemFinalize();
  UniSysUtilsFinalize();
  ClasslibFinalize();
  return rc;
}
