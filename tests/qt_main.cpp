// Test main for suites that need the Qt backend: starts it on the offscreen
// platform, so no X server is needed.
#include <gtest/gtest.h>

#include <cstdlib>

#include "toolkit/backend.h"

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  testing::InitGoogleTest(&argc, argv);
  if (tk::backend::Start(argc, argv) != 0) return 1;
  const int result = RUN_ALL_TESTS();
  tk::backend::Stop();
  return result;
}
