// The program block: units start in order, the application runs its message loop until the
// main window closes, and the units finish in reverse order.
#include "app/MainForm.h"
#include "app/ProgramUnits.h"
#include "app/uBaseTaskForm.h"
#include "classlib/Forms.h"
#include "classlib/WinApi.h"
#include "toolkit/LanguageManager.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  int rc = 0;
  try {
    InitializeProgramUnits();
    Application->Initialize();
    Application->SetTitle(L"SampleMorph");
    CreateLanguageManager();    // the language of the system, or of U3_ENV_LANGUAGE
    TAppMainForm* main = CreateForm<TAppMainForm>(Application);
    Application->SetMainForm(main);
    main->Show();
    Application->Run();
    // The windows go while the units they use are still there.
    TBaseTaskForm::FreeAll();
    Application->SetMainForm(nullptr);
    delete main;
  } catch (...) {
    if (Application) Application->HandleException(nullptr);
    rc = 1;
  }
  FinalizeProgramUnits();
  return rc;
}
