// Entry of the Windows test programs: they are linked with -municode, so the
// C runtime calls wmain and gtest_main's main is never reached.
#include <gtest/gtest.h>

int wmain(int argc, wchar_t** argv) {
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
