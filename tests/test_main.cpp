// Shared main of the test executables: widget tests run on the offscreen
// platform (gtest_discover_tests runs the binaries at build time, headless).
#include <gtest/gtest.h>

#include <clocale>
#include <cstdlib>

#ifdef LW_TESTS_WITH_QT
#include <QApplication>
#endif

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
#ifdef LW_TEST_LOCALE
  setenv("LC_ALL", LW_TEST_LOCALE, 1);  // the user's locale, as a lab PC may have it
#endif
  ::testing::InitGoogleTest(&argc, argv);
#ifdef LW_TESTS_WITH_QT
  QApplication app(argc, argv);
  // Qt hands the environment's locale to the C library; numbers in files and
  // fixed formats keep their decimal point, as in the application.
  std::setlocale(LC_NUMERIC, "C");
#endif
  return RUN_ALL_TESTS();
}
