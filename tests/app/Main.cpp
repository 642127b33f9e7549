// The program's window units' tests start the units they use in the program's order.
#include <gtest/gtest.h>

#include "classlib/Forms.h"
#include "toolkit/TextStyles.h"
#include "unicode/UniSysUtils.h"
#include "unicode/UniSystem.h"

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  ClasslibInitialize();
  Application->OnException = [](TObject*, const Exception& E) {
    ADD_FAILURE() << "unhandled exception reached the application: " << E.what();
  };
  UniSysUtilsInitialize();
  UniSystemInitialize();
  TextStylesInitialize();
  int rc = RUN_ALL_TESTS();
  TextStylesFinalize();
  UniSystemFinalize();
  UniSysUtilsFinalize();
  ClasslibFinalize();
  return rc;
}
