// The program's window units' tests start every unit in the program's order, with the language
// manager made as the program makes it (English unless a test switches the table).
#include <gtest/gtest.h>

#include "app/UrlHandlerU.h"
#include "classlib/Forms.h"
#include "png/PngCodec.h"
#include "tasks/EventsManager.h"
#include "toolkit/AlphaGraphics.h"
#include "toolkit/DbgUtils.h"
#include "toolkit/ImageCache.h"
#include "toolkit/LanguageManager.h"
#include "toolkit/ShellDragDrop.h"
#include "toolkit/TextStyles.h"
#include "unicode/UniSysUtils.h"
#include "unicode/UniSystem.h"
#include "widgets/UniControls.h"
#include "widgets/UniForms.h"
#include "widgets/UniMenus.h"
#include "common/CrashExit.h"
#include "common/CrashExit.h"

int main(int argc, char** argv) {
  crashexit::Install();
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
  EventsManagerInitialize();
  UrlHandlerInitialize();
  Application->Initialize();
  SetEnvironmentVariableW(L"U3_ENV_LANGUAGE", L"1033");
  CreateLanguageManager();
  int rc = RUN_ALL_TESTS();
  UrlHandlerFinalize();
  EventsManagerFinalize();
  FreeLanguageManager();
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
