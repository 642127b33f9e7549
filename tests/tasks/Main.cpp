// The task engine's tests start the units they use in the program's order.
#include <gtest/gtest.h>

#include "audio/AuClasses.h"
#include "classlib/Forms.h"
#include "tasks/AudioUnit.h"
#include "tasks/EventsManager.h"
#include "unicode/UniSystem.h"
#include "unicode/UniSysUtils.h"

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  ClasslibInitialize();
  AuClassesInitialize();
  Application->OnException = [](TObject*, const Exception& E) {
    ADD_FAILURE() << "unhandled exception reached the application: " << E.what();
  };
  UniSysUtilsInitialize();
  UniSystemInitialize();
  EventsManagerInitialize();
  AudioUnitInitialize();
  int rc = RUN_ALL_TESTS();
  AudioUnitFinalize();
  EventsManagerFinalize();
  UniSystemFinalize();
  UniSysUtilsFinalize();
  AuClassesFinalize();
  ClasslibFinalize();
  return rc;
}
