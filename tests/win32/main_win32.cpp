// The Win32 tests run with the backend started, as the program does.
#include <gtest/gtest.h>

#include "toolkit/backend.h"

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  if (const int status = tk::backend::Start(argc, argv); status != 0) return status;
  const int result = RUN_ALL_TESTS();
  tk::backend::Stop();
  return result;
}
