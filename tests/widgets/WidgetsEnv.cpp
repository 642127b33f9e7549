// Starts the widget layer's units after the runtime's (which the shared entry point starts).
#include <gtest/gtest.h>

#include "widgets/UniControls.h"
#include "widgets/UniForms.h"

namespace {
class WidgetsEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    UniFormsInitialize();
    UniControlsInitialize();
  }
  void TearDown() override {
    UniControlsFinalize();
    UniFormsFinalize();
  }
};
::testing::Environment* const gEnvironment = ::testing::AddGlobalTestEnvironment(new WidgetsEnvironment);
}  // namespace
