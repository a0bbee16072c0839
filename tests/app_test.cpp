// The main window on the emulated board: caption, tabs, status line, and
// following the board being unplugged and plugged in.
#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QTabBar>
#include <QTabWidget>
#include <QTest>

#include "app/main_window.h"
#include "app/messages.h"
#include "pages/ddm_window.h"
#include "emulator/emulated_board.h"

namespace {

const QString k56(56, ' ');

struct MainWindowFixture : ::testing::Test {
  std::shared_ptr<emu::EmulatedBoard> board = std::make_shared<emu::EmulatedBoard>();
  std::unique_ptr<CLanewrightDlg> window;
  void Start() {
    window = std::make_unique<CLanewrightDlg>(board, board);
    window->Initialize();
    window->show();
  }
  void TearDown() override { window.reset(); }
  // sendEvent does not take the event: it lives on the stack here.
  void Send(int type, qintptr wparam, const QString& text) {
    AppMessage message(type, wparam, text);
    QApplication::sendEvent(window.get(), &message);
  }
  // Waits for the device watcher to report and the window to follow.
  bool WaitForStatus(const QString& start) {
    for (int i = 0; i < 100; ++i) {
      QTest::qWait(20);
      window->Context().Link().Drain();
      if (window->StatusText().startsWith(start)) return true;
    }
    return false;
  }
};

TEST_F(MainWindowFixture, OpensWithCaptionTabsAndConnectedBoard) {
  Start();
  EXPECT_EQ(window->windowTitle(), "Vorlanix 400Gbps Lanewright V1.0");
  auto* tabs = window->Tabs();
  ASSERT_EQ(tabs->count(), 7);
  const QStringList labels = {"Checker", "Dsp", "Ctrl", "Flag", "Set0", "INFO", "File"};
  for (int i = 0; i < 7; ++i) {
    EXPECT_EQ(tabs->tabText(i), labels[i]);
    EXPECT_EQ(tabs->tabBar()->tabTextColor(i), i < 2 ? QColor(237, 28, 36) : QColor(0, 128, 255));
  }
  EXPECT_EQ(tabs->currentIndex(), 0);
  EXPECT_EQ(window->StatusText(), "UsbHid Connected");
  EXPECT_EQ(window->Context().Device().OpenPath(), "emulated:board0");
  EXPECT_NE(window->findChild<QLabel*>("emulatedBadge"), nullptr);
  const QFont font = window->findChild<QLabel*>("id1097")->font();
  EXPECT_LE(QFontMetrics(font).height(), 24);
  EXPECT_GE(QFontMetrics(font).height(), 22);
  EXPECT_TRUE(font.bold());
}

TEST_F(MainWindowFixture, NoBoardAtStartThenArrivalAndRemoval) {
  board->SetPlugged(false);
  Start();
  EXPECT_EQ(window->StatusText(), "UsbHid Disconnected");
  // A status text while no matching board is present keeps only the state.
  Send(MSG_STATUS_TEXT, 0, "abc");
  EXPECT_EQ(window->StatusText(), "UsbHid Disconnected" + k56);

  board->SetPlugged(true);
  ASSERT_TRUE(WaitForStatus("UsbHid Connected"));
  EXPECT_EQ(window->Context().Device().OpenPath(), "emulated:board0");
  Send(MSG_STATUS_TEXT, 0, "abc");
  EXPECT_EQ(window->StatusText(), "UsbHid Connected" + k56 + "abc");

  board->SetPlugged(false);
  ASSERT_TRUE(WaitForStatus("UsbHid Disconnected"));
  EXPECT_EQ(window->Context().Device().OpenPath(), "");
}

TEST_F(MainWindowFixture, UnrelatedDevicesChangeNothing) {
  Start();
  Send(MSG_STATUS_TEXT, 0, "abc");
  const QString before = window->StatusText();
  board->AddDevice({"emulated:mouse", 0x046D, 0xC077, 0x0100, "mouse"});
  board->AddDevice({"emulated:board1", 0x0483, 0x0211, 0x0200, "second board"});
  QTest::qWait(400);
  window->Context().Link().Drain();
  EXPECT_EQ(window->StatusText(), before);
  EXPECT_EQ(window->Context().Device().OpenPath(), "emulated:board0");
  // Removal of a device that is not the open board changes nothing either.
  Send(MSG_DEVICE_CHANGE, 0, "emulated:board1");
  EXPECT_EQ(window->StatusText(), before);
}

TEST_F(MainWindowFixture, DiagnosticsWindowFollowsTheCheckerTabAndTheWindow) {
  Start();
  QTest::qWait(50);  // the line check's request to show it is posted
  ASSERT_NE(window->Ddm(), nullptr);
  EXPECT_TRUE(window->Ddm()->isVisible());
  EXPECT_EQ(window->Ddm()->pos(), window->frameGeometry().topLeft() + QPoint(20, 82));
  window->Tabs()->setCurrentIndex(CLanewrightDlg::kCtrl);
  EXPECT_FALSE(window->Ddm()->isVisible());
  window->Tabs()->setCurrentIndex(CLanewrightDlg::kChecker);
  EXPECT_TRUE(window->Ddm()->isVisible());
  window->move(window->pos() + QPoint(37, 11));
  QTest::qWait(20);
  EXPECT_EQ(window->Ddm()->pos(), window->frameGeometry().topLeft() + QPoint(20, 82));
}

}  // namespace
