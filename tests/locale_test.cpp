// Numbers in files and on the pages keep their decimal point whatever the
// user's locale. This executable runs under LC_ALL=de_DE.UTF-8 (test_main
// sets it before the QApplication, which hands it to the C library).
#include <gtest/gtest.h>

#include <QApplication>
#include <QFile>
#include <QLineEdit>
#include <QTimer>
#include <QTimerEvent>
#include <clocale>
#include <cstdio>
#include <string>

#include "app/app_context.h"
#include "emulator/emulated_board.h"
#include "pages/ddm_window.h"
#include "signal/line_check.h"
#include "signal/ui/diagram.h"

namespace {

struct GermanLocale : ::testing::Test {
  void SetUp() override {
    const char* time = std::setlocale(LC_TIME, nullptr);
    if (!time || std::string(time) != "de_DE.UTF-8")
      GTEST_SKIP() << "the de_DE.UTF-8 locale is not installed (make deps generates it); "
                      "the C library runs in \"" << (time ? time : "?") << "\"";
  }
};

TEST_F(GermanLocale, NumbersKeepTheirDecimalPoint) {
  EXPECT_STREQ(std::setlocale(LC_NUMERIC, nullptr), "C");
  char text[32];
  std::snprintf(text, sizeof text, "%.2f", 38.54);
  EXPECT_STREQ(text, "38.54");
}

TEST_F(GermanLocale, BerDiagramExportsPointsWithADecimalPoint) {
  sigtest::LineCheck check;
  CDiagram diagram(check);
  diagram.AddPoint(0, 12, 1.5e-12, false);  // CH1 shows lane 7
  const QString path = QString::fromStdString(::testing::TempDir()) + "/locale_ber.csv";
  ASSERT_TRUE(diagram.SaveCsv(path));
  QFile file(path);
  ASSERT_TRUE(file.open(QIODevice::ReadOnly));
  EXPECT_EQ(QString(file.readAll()).toStdString(), "channel,lane,seconds,ber\n1,7,12,1.500000e-12\n");
  QFile::remove(path);
}

TEST_F(GermanLocale, DiagnosticsWindowShowsADecimalPoint) {
  auto board = std::make_shared<emu::EmulatedBoard>();
  {
    auto lock = board->Lock();
    board->Module().SetLive(false);
    board->Module().Poke(0x00, 0x0E, 0x26);  // 0x268A / 256 = 38.54 degC
    board->Module().Poke(0x00, 0x0F, 0x8A);
  }
  AppContext app(board, board);
  ASSERT_GT(app.Device().FindDevices(), 0);
  ASSERT_TRUE(app.Device().OpenBoard(0));
  {
    CDDM ddm(app);
    ddm.show();
    ddm.StartUpdates();
    auto* timer = ddm.findChild<QTimer*>("updateTimer");
    ASSERT_TRUE(timer);
    QTimerEvent tick(timer->timerId());
    QApplication::sendEvent(timer, &tick);
    app.Link().Drain();
    auto* temp = ddm.findChild<QLineEdit*>("TEMP");
    ASSERT_TRUE(temp);
    EXPECT_EQ(temp->text().toStdString(), "38.54");
    ddm.StopUpdates();
  }
  app.Link().Stop();
}

}  // namespace
