// The program block: units start in order, the application runs its message loop until the
// main window closes, and the units finish in reverse order.
#include "classlib/Forms.h"
#include "classlib/WinApi.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  int rc = 0;
  try {
    ClasslibInitialize();
    Application->Initialize();
    Application->SetTitle(L"SampleMorph");
    Application->Run();
  } catch (...) {
    if (Application) Application->HandleException(nullptr);
    rc = 1;
  }
  ClasslibFinalize();
  return rc;
}
