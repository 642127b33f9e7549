// The program's window units' tests start every unit as the program does, in its order, with the
// language manager made as the program makes it (English unless a test switches the table).
#include <gtest/gtest.h>

#include "app/ProgramUnits.h"
#include "classlib/Forms.h"
#include "classlib/WinApi.h"
#include "common/CrashExit.h"
#include "toolkit/LanguageManager.h"

int main(int argc, char** argv) {
  crashexit::Install();
  ::testing::InitGoogleTest(&argc, argv);
  InitializeProgramUnits();
  Application->OnException = [](TObject*, const Exception& E) {
    ADD_FAILURE() << "unhandled exception reached the application: " << E.what();
  };
  Application->Initialize();
  SetEnvironmentVariableW(L"U3_ENV_LANGUAGE", L"1033");
  CreateLanguageManager();
  int rc = RUN_ALL_TESTS();
  FinalizeProgramUnits();
  return rc;
}
