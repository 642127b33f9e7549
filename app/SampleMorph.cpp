// The program block: units start in order, the application runs its message loop until the
// main window closes, and the units finish in reverse order.
#include "classlib/Forms.h"
#include "classlib/WinApi.h"
#include "audio/AuClasses.h"
#include "audio/OptimFROGDLL.h"
#include "audio/tak_decoder.h"
#include "png/PngCodec.h"
#include "tasks/EventsManager.h"
#include "toolkit/AlphaGraphics.h"
#include "toolkit/DbgUtils.h"
#include "toolkit/LanguageManager.h"
#include "toolkit/TextStyles.h"
#include "unicode/UniSysUtils.h"
#include "unicode/UniSystem.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  int rc = 0;
  try {
    ClasslibInitialize();
    UniSysUtilsInitialize();    // the NT and XP flags
    UniSystemInitialize();      // the default code page
    DbgUtilsInitialize();       // diagnostics first: the rest of the toolkit logs through it
    AlphaGraphicsInitialize();  // AlphaBlend and GDI+
    TextStylesInitialize();     // the predefined text styles
    PngCodecInitialize();       // "PNG" registered with the picture class
    EventsManagerInitialize();  // the event bus and its hidden window
    AuClassesInitialize();      // the library-loading lock and the floating-point control word
    OptimFROGDLLInitialize();   // the decoders loaded at start-up (missing ones are normal)
    TakDecoderInitialize();
    Application->Initialize();
    Application->SetTitle(L"SampleMorph");
    CreateLanguageManager();    // the language of the system, or of U3_ENV_LANGUAGE
    Application->Run();
  } catch (...) {
    if (Application) Application->HandleException(nullptr);
    rc = 1;
  }
  TakDecoderFinalize();
  OptimFROGDLLFinalize();
  AuClassesFinalize();
  EventsManagerFinalize();
  FreeLanguageManager();
  PngCodecFinalize();
  TextStylesFinalize();
  AlphaGraphicsFinalize();
  DbgUtilsFinalize();
  UniSystemFinalize();
  UniSysUtilsFinalize();
  ClasslibFinalize();
  return rc;
}
