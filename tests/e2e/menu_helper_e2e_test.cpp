// A silent installation with Wine's default settings: the shell starts its
// menu helper (winemenubuilder) while the shortcut is saved, and the helper
// inherits the current directory and outlives the run. CTest runs this
// program with the helper enabled and its menu entries sent to the build
// folder (tests/e2e/CMakeLists.txt).
#include <gtest/gtest.h>

#include "tests/e2e/install_e2e_fixture.h"

namespace kxtest {

TEST_F(InstallEndToEnd, TheShellsMenuHelperDoesNotKeepTheRuntimeFolder) {
  ASSERT_EQ(RunSetup(L"/S"), 0u);
  EXPECT_TRUE(ListFolder(temp_).empty()) << "runtime folder left in %TEMP%";
  ProductStartedFrom(defaultFolder_);
}

}  // namespace kxtest
