// Starts the widget layer's units after the runtime's (which the shared entry point starts).
#include <gtest/gtest.h>

#include "widgets/UniControls.h"
#include "widgets/UniForms.h"
#include "widgets/UniMenus.h"

namespace {
class WidgetsEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    UniFormsInitialize();
    UniMenusInitialize();
    UniControlsInitialize();
  }
  void TearDown() override {
    UniControlsFinalize();
    UniMenusFinalize();
    UniFormsFinalize();
  }
};
::testing::Environment* const gEnvironment = ::testing::AddGlobalTestEnvironment(new WidgetsEnvironment);
}  // namespace
