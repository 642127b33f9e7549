// The toolkit's tests start the units they use in the program's order.
#include <gtest/gtest.h>

#include "classlib/Forms.h"
#include "png/PngCodec.h"
#include "toolkit/AlphaGraphics.h"
#include "toolkit/DbgUtils.h"
#include "toolkit/ImageCache.h"
#include "toolkit/ShellDragDrop.h"
#include "toolkit/TextStyles.h"
#include "unicode/UniSystem.h"
#include "unicode/UniSysUtils.h"
#include "widgets/UniControls.h"
#include "widgets/UniForms.h"
#include "widgets/UniMenus.h"
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
  UniFormsInitialize();
  UniMenusInitialize();
  UniControlsInitialize();
  DbgUtilsInitialize();
  AlphaGraphicsInitialize();
  TextStylesInitialize();
  PngCodecInitialize();
  ShellDragDropInitialize();
  ImageCacheInitialize();
  int rc = RUN_ALL_TESTS();
  ImageCacheFinalize();
  ShellDragDropFinalize();
  PngCodecFinalize();
  TextStylesFinalize();
  AlphaGraphicsFinalize();
  DbgUtilsFinalize();
  UniControlsFinalize();
  UniMenusFinalize();
  UniFormsFinalize();
  UniSystemFinalize();
  UniSysUtilsFinalize();
  ClasslibFinalize();
  return rc;
}
