// The toolkit's tests start the units they use in the program's order.
#include <gtest/gtest.h>

#include "classlib/Forms.h"
#include "toolkit/AlphaGraphics.h"
#include "toolkit/DbgUtils.h"
#include "toolkit/ShellDragDrop.h"
#include "toolkit/TextStyles.h"
#include "unicode/UniSystem.h"
#include "unicode/UniSysUtils.h"

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  ClasslibInitialize();
  Application->OnException = [](TObject*, const Exception& E) {
    ADD_FAILURE() << "unhandled exception reached the application: " << E.what();
  };
  UniSysUtilsInitialize();
  UniSystemInitialize();
  DbgUtilsInitialize();
  AlphaGraphicsInitialize();
  TextStylesInitialize();
  ShellDragDropInitialize();
  int rc = RUN_ALL_TESTS();
  ShellDragDropFinalize();
  TextStylesFinalize();
  AlphaGraphicsFinalize();
  DbgUtilsFinalize();
  UniSystemFinalize();
  UniSysUtilsFinalize();
  ClasslibFinalize();
  return rc;
}
