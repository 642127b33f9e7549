// png_test's entry point: the class library, then the PNG codec, as the program starts them.
#include <gtest/gtest.h>

#include "classlib/Forms.h"
#include "png/PngCodec.h"
#include "common/CrashExit.h"

int main(int argc, char** argv) {
  crashexit::Install();
  ::testing::InitGoogleTest(&argc, argv);
  ClasslibInitialize();
  PngCodecInitialize();
  Application->OnException = [](TObject*, const Exception& E) {
    ADD_FAILURE() << "unhandled exception reached the application: " << E.what();
  };
  int rc = RUN_ALL_TESTS();
  PngCodecFinalize();
  ClasslibFinalize();
  return rc;
}
