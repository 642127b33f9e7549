// The entry point of the audio engine's test executables: the class library and the engine
// start as in the program and end in reverse order.
#include <gtest/gtest.h>

#include "audio/engine/AuClasses.h"
#include "classlib/Forms.h"
#include "common/CrashExit.h"

int main(int argc, char** argv) {
  crashexit::Install();
  ::testing::InitGoogleTest(&argc, argv);
  ClasslibInitialize();
  AuClassesInitialize();
  Application->OnException = [](TObject*, const Exception& E) {
    ADD_FAILURE() << "unhandled exception reached the application: " << E.what();
  };
  int rc = RUN_ALL_TESTS();
  AuClassesFinalize();
  ClasslibFinalize();
  return rc;
}
