// Numbers in files and on the pages keep their decimal point whatever the
// user's locale. This executable runs under LC_ALL=de_DE.UTF-8 (test_main
// sets it before the QApplication, which hands it to the C library).
#include <gtest/gtest.h>

#include <QApplication>
#include <QFile>
#include <QLineEdit>
#include <QRegularExpression>
#include <QTimer>
#include <QTimerEvent>
#include <clocale>
#include <cstdio>
#include <cstring>
#include <string>

#include "emulator/emulated_board.h"
#include "gui/app_context.h"
#include "module/ui/ddm_window.h"
#include "signal/ber_history.h"
#include "signal/line_check.h"
#include "signal/ui/diagram.h"

namespace {

struct GermanLocale : ::testing::Test {
  void SetUp() override {
    const char* time = std::setlocale(LC_TIME, nullptr);
    if (!time || std::string(time) != "de_DE.UTF-8")
      GTEST_SKIP() << "the de_DE.UTF-8 locale is not installed (make deps generates it); "
                      "the C library runs in \""
                   << (time ? time : "?") << "\"";
  }
};

TEST_F(GermanLocale, NumbersKeepTheirDecimalPoint) {
  EXPECT_STREQ(std::setlocale(LC_NUMERIC, nullptr), "C");
  char text[32];
  std::snprintf(text, sizeof text, "%.2f", 38.54);
  EXPECT_STREQ(text, "38.54");
}

TEST_F(GermanLocale, BerDiagramExportsPointsWithADecimalPoint) {
  // Two locked seconds of lane 7 (chart 1) with errors: a measured BER.
  sigtest::LineCheck check;
  sigtest::BerHistory history;
  for (uint32_t errors : {0u, 3u}) {
    sigtest::TickSample tick{};
    sigtest::StatusRecord locked{};
    locked[1] = 1;
    const uint64_t bits = 2000000000000ull;
    std::memcpy(locked.data() + 7, &errors, 4);
    std::memcpy(locked.data() + 15, &bits, 8);
    tick[6] = {true, BoardResult::Ok(), locked};
    check.ApplyTick(tick);
    sigtest::RecordTick(history, check, sigtest::VerdictRule{});
  }
  CDiagram diagram(history);
  const QString path = QString::fromStdString(::testing::TempDir()) + "/locale_ber.csv";
  ASSERT_TRUE(diagram.SaveCsv(path));
  QFile file(path);
  ASSERT_TRUE(file.open(QIODevice::ReadOnly));
  const QStringList rows = QString(file.readAll()).split('\n', Qt::SkipEmptyParts);
  QFile::remove(path);
  ASSERT_GE(rows.size(), 2);
  const int columns = rows[0].count(',');
  for (const QString& row : rows) EXPECT_EQ(row.count(','), columns) << row.toStdString();
  const QString lane7 = rows.filter(QRegularExpression("^1,7,2,")).value(0);
  EXPECT_TRUE(lane7.contains("1.50000e-12")) << rows.join("\n").toStdString();
  EXPECT_TRUE(lane7.contains(",0.95,")) << lane7.toStdString();
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
    DdmWindow ddm(app);
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
