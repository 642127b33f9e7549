// The real program's tests: each starts SampleMorph.exe as a user does and drives it through the
// X server.
#include <gtest/gtest.h>

#include "app/ProgramUnits.h"
#include "common/CrashExit.h"

int main(int argc, char** argv) {
  crashexit::Install();
  ::testing::InitGoogleTest(&argc, argv);
  // The units the language tables need (the tests read the texts the program shows).
  InitializeProgramUnits();
  int rc = RUN_ALL_TESTS();
  FinalizeProgramUnits();
  return rc;
}
