// The real program's tests: each starts SampleMorph.exe as a user does and drives it through the
// X server.
#include <gtest/gtest.h>

#include "common/CrashExit.h"

int main(int argc, char** argv) {
  crashexit::Install();
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
