// The entry of the script's test programs: they are linked with -municode,
// so the C runtime calls wmain rather than GoogleTest's main.
#include <gtest/gtest.h>

int wmain(int argc, wchar_t** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
