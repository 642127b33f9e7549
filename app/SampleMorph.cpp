// The program block: units start in order, the application runs its message loop until the
// main window closes, and the units finish in reverse order.
#include "classlib/Forms.h"
#include "classlib/WinApi.h"
#include "audio/AuClasses.h"
#include "tasks/EventsManager.h"
#include "unicode/UniSysUtils.h"
#include "unicode/UniSystem.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  int rc = 0;
  try {
    ClasslibInitialize();
    UniSysUtilsInitialize();    // the NT and XP flags
    UniSystemInitialize();      // the default code page
    EventsManagerInitialize();  // the event bus and its hidden window
    AuClassesInitialize();      // the library-loading lock and the floating-point control word
    Application->Initialize();
    Application->SetTitle(L"SampleMorph");
    Application->Run();
  } catch (...) {
    if (Application) Application->HandleException(nullptr);
    rc = 1;
  }
  AuClassesFinalize();
  EventsManagerFinalize();
  UniSystemFinalize();
  UniSysUtilsFinalize();
  ClasslibFinalize();
  return rc;
}
