#include <gtest/gtest.h>

#include "../runtime/runtime.h"

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  rt_start();
  int status = RUN_ALL_TESTS();
  rt_stop();
  return status;
}
