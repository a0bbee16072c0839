// Shared main of the test executables: widget tests run on the offscreen
// platform (gtest_discover_tests runs the binaries at build time, headless).
#include <gtest/gtest.h>

#include <cstdlib>

#ifdef LW_TESTS_WITH_QT
#include <QApplication>
#endif

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  ::testing::InitGoogleTest(&argc, argv);
#ifdef LW_TESTS_WITH_QT
  QApplication app(argc, argv);
#endif
  return RUN_ALL_TESTS();
}
