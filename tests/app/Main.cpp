// The program's window units' tests start the units they use in the program's order.
#include <gtest/gtest.h>

#include "classlib/Forms.h"
#include "png/PngCodec.h"
#include "tasks/EventsManager.h"
#include "toolkit/AlphaGraphics.h"
#include "toolkit/DbgUtils.h"
#include "toolkit/ImageCache.h"
#include "toolkit/ShellDragDrop.h"
#include "toolkit/TextStyles.h"
#include "unicode/UniSysUtils.h"
#include "unicode/UniSystem.h"
#include "widgets/UniControls.h"
#include "widgets/UniForms.h"
#include "widgets/UniMenus.h"

int main(int argc, char** argv) {
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
  EventsManagerInitialize();
  int rc = RUN_ALL_TESTS();
  EventsManagerFinalize();
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
