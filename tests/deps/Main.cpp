// The codec library tests need no part of the program: GoogleTest's own start.
#include <gtest/gtest.h>
#include "common/CrashExit.h"

int main(int argc, char** argv) {
  crashexit::Install();
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
