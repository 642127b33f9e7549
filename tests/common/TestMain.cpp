// The entry point of every test executable: the class library starts first and ends last,
// as in the program.
#include <gtest/gtest.h>

#include "classlib/Forms.h"
#include "common/CrashExit.h"

int main(int argc, char** argv) {
  crashexit::Install();
  ::testing::InitGoogleTest(&argc, argv);
  ClasslibInitialize();
  Application->OnException = [](TObject*, const Exception& E) {
    ADD_FAILURE() << "unhandled exception reached the application: " << E.what();
  };
  int rc = RUN_ALL_TESTS();
  ClasslibFinalize();
  return rc;
}
