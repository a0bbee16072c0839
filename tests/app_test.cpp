// The main window on the emulated board: caption, tabs, status line,
// following the board being unplugged and plugged in, waiting for a board
// that another process holds, and keeping every transport call off the
// user-interface thread.
#include <gtest/gtest.h>
#include <unistd.h>

#include <QApplication>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QTabBar>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <mutex>
#include <thread>

#include "app/main_window.h"
#include "board/log.h"
#include "board/process_lock.h"
#include "emulator/emulated_board.h"
#include "gui/log.h"
#include "gui/page_kit.h"
#include "module/ui/ddm_window.h"
#include "qualify/ui/qualify_page.h"

namespace {

const QString k56(56, ' ');

// The emulated board behind a backend of its own that notes the thread of
// every enumeration, open, read and write, and can name a lock file for the
// board (the emulated backend needs none).
class WatchedBackend : public HidBackend {
 public:
  explicit WatchedBackend(std::shared_ptr<emu::EmulatedBoard> board) : board_(std::move(board)) {}

  std::vector<HidDeviceInfo> Enumerate() override {
    Note();
    return board_->Enumerate();
  }
  std::unique_ptr<HidConnection> Open(const std::string& path) override {
    Note();
    auto inner = board_->Open(path);
    return inner ? std::make_unique<Connection>(this, std::move(inner)) : nullptr;
  }
  std::string Name() const override { return "watched emulated"; }
  std::string LockPath(const std::string&) const override { return lock_path; }

  std::string lock_path;
  // Calls made so far, and those made on `thread`.
  int Calls(std::thread::id thread = {}) const {
    std::lock_guard lock(mutex_);
    int n = 0;
    for (const auto& id : threads_) n += thread == std::thread::id() || id == thread;
    return n;
  }

 private:
  struct Connection : HidConnection {
    Connection(WatchedBackend* owner, std::unique_ptr<HidConnection> inner)
        : owner(owner), inner(std::move(inner)) {}
    int Write(const uint8_t* data, size_t length) override {
      owner->Note();
      return inner->Write(data, length);
    }
    int Read(uint8_t* data, size_t length, int timeout_ms) override {
      owner->Note();
      return inner->Read(data, length, timeout_ms);
    }
    WatchedBackend* owner;
    std::unique_ptr<HidConnection> inner;
  };
  void Note() {
    std::lock_guard lock(mutex_);
    threads_.push_back(std::this_thread::get_id());
  }
  std::shared_ptr<emu::EmulatedBoard> board_;
  mutable std::mutex mutex_;
  std::vector<std::thread::id> threads_;
};

struct MainWindowFixture : ::testing::Test {
  std::shared_ptr<emu::EmulatedBoard> board = std::make_shared<emu::EmulatedBoard>();
  std::shared_ptr<WatchedBackend> watched = std::make_shared<WatchedBackend>(board);
  std::unique_ptr<CLanewrightDlg> window;
  // The board is looked for on the board worker: Start() returns once that is done.
  void Start(std::shared_ptr<HidBackend> backend = nullptr) {
    window = std::make_unique<CLanewrightDlg>(backend ? backend : board, board);
    window->Initialize();
    window->show();
    window->Context().Link().Drain();
  }
  void TearDown() override { window.reset(); }
  // A view's status text, as it reaches the main window: queued.
  void SendStatusText(const QString& text) {
    emit window->Context().Signals().StatusText(text);
    QApplication::sendPostedEvents(window.get());
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
  ASSERT_EQ(tabs->count(), 8);
  const QStringList labels = {"Checker", "Dsp", "Ctrl", "Flag", "Set0", "INFO", "File", "Qualify"};
  for (int i = 0; i < 8; ++i) {
    EXPECT_EQ(tabs->tabText(i), labels[i]);
    EXPECT_EQ(tabs->tabBar()->tabTextColor(i), i < 2 ? QColor(237, 28, 36) : QColor(0, 128, 255));
  }
  EXPECT_EQ(tabs->currentIndex(), 0);
  EXPECT_EQ(window->StatusText(), "UsbHid Connected");
  EXPECT_EQ(window->Context().Device().OpenPath(), "emulated:board0");
  EXPECT_NE(window->findChild<QLabel*>("emulatedBadge"), nullptr);
  const QFont font =
      window->findChild<QLabel*>(QStringLiteral("id%1").arg(CLanewrightDlg::kIdStatusLine))->font();
  EXPECT_LE(QFontMetrics(font).height(), 24);
  EXPECT_GE(QFontMetrics(font).height(), 22);
  EXPECT_TRUE(font.bold());
}

TEST_F(MainWindowFixture, NoBoardAtStartThenArrivalAndRemoval) {
  board->SetPlugged(false);
  Start();
  EXPECT_EQ(window->StatusText(), "UsbHid Disconnected");
  // A status text while no matching board is present keeps only the state.
  SendStatusText("abc");
  EXPECT_EQ(window->StatusText(), "UsbHid Disconnected" + k56);

  board->SetPlugged(true);
  ASSERT_TRUE(WaitForStatus("UsbHid Connected"));
  EXPECT_EQ(window->Context().Device().OpenPath(), "emulated:board0");
  SendStatusText("abc");
  EXPECT_EQ(window->StatusText(), "UsbHid Connected" + k56 + "abc");

  board->SetPlugged(false);
  ASSERT_TRUE(WaitForStatus("UsbHid Disconnected"));
  EXPECT_EQ(window->Context().Device().OpenPath(), "");
}

TEST_F(MainWindowFixture, UnrelatedDevicesChangeNothing) {
  Start();
  SendStatusText("abc");
  const QString before = window->StatusText();
  board->AddDevice({"emulated:mouse", 0x046D, 0xC077, 0x0100, "mouse"});
  board->AddDevice({"emulated:board1", 0x0483, 0x0211, 0x0200, "second board"});
  QTest::qWait(400);
  window->Context().Link().Drain();
  EXPECT_EQ(window->StatusText(), before);
  EXPECT_EQ(window->Context().Device().OpenPath(), "emulated:board0");
  // Removal of a device that is not the open board changes nothing either.
  emit window->DeviceChanged(false, "emulated:board1");
  QApplication::sendPostedEvents(window.get());
  window->Context().Link().Drain();
  EXPECT_EQ(window->StatusText(), before);
  EXPECT_EQ(window->Context().Device().OpenPath(), "emulated:board0");
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

// Starting, showing the diagnostics window, every page's refresh, a message,
// removal and arrival: every enumeration, open, read and write runs on the
// board worker or the device watcher, none on the user-interface thread.
TEST_F(MainWindowFixture, TheUserInterfaceThreadMakesNoTransportCall) {
  Start(watched);
  ASSERT_TRUE(WaitForStatus("UsbHid Connected"));
  ASSERT_NE(window->Ddm(), nullptr);
  auto* ddm_timer = window->Ddm()->findChild<QTimer*>("updateTimer");
  ASSERT_TRUE(ddm_timer && ddm_timer->isActive());
  QTimerEvent tick(ddm_timer->timerId());
  QApplication::sendEvent(ddm_timer, &tick);
  window->Context().Link().Drain();
  EXPECT_FALSE(window->Ddm()->findChild<QLineEdit*>("TEMP")->text().isEmpty());
  // The Qualify tab runs a small plan to its verdict, storing it in a
  // directory of the test's own.
  QTemporaryDir data;
  ASSERT_TRUE(data.isValid());
  qputenv("XDG_DATA_HOME", data.path().toUtf8());
  qunsetenv("LANEWRIGHT_DB");
  QFile plan(data.filePath("plan.toml"));
  ASSERT_TRUE(plan.open(QIODevice::WriteOnly));
  plan.write("[[step]]\nkind = \"identify\"\n[[finally]]\nkind = \"tx-enable\"\n");
  plan.close();
  for (int tab = CLanewrightDlg::kDsp; tab < CLanewrightDlg::kTabCount; ++tab) {
    window->Tabs()->setCurrentIndex(tab);
    if (auto* poller = window->Page(tab)->findChild<pages::PagePoller*>()) poller->Tick();
    QTest::qWait(1);  // the information page's paint starts its pass
    if (tab == CLanewrightDlg::kQualify) {
      CQualify* qualify = window->Qualify();
      qualify->SetPlanPath(plan.fileName());
      ASSERT_TRUE(qualify->Run());
      ASSERT_TRUE(QTest::qWaitFor([qualify] { return !qualify->Running(); }, 30000));
      EXPECT_EQ(qualify->VerdictText(), "PASS") << qualify->Message().toStdString();
    }
    window->Context().Link().Drain();
  }
  window->Tabs()->setCurrentIndex(CLanewrightDlg::kChecker);
  SendStatusText("abc");
  board->SetPlugged(false);
  ASSERT_TRUE(WaitForStatus("UsbHid Disconnected"));
  board->SetPlugged(true);
  ASSERT_TRUE(WaitForStatus("UsbHid Connected"));

  EXPECT_GT(watched->Calls(), 100);
  EXPECT_EQ(watched->Calls(std::this_thread::get_id()), 0);
}

// Another process holds the board: the status line says who, the window
// keeps trying, and opens the board once it is free.
TEST_F(MainWindowFixture, WaitsForABoardHeldByAnotherProcess) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  watched->lock_path = dir.filePath("board.lock").toStdString();
  ProcessLock other;
  ASSERT_EQ(other.TryLock(watched->lock_path, true), ProcessLock::State::kHeld);

  Start(watched);
  const QString waiting = "UsbHid Disconnected" + k56 +
                          QStringLiteral("board held by PID %1, waiting ...").arg(getpid());
  EXPECT_EQ(window->StatusText(), waiting);
  EXPECT_TRUE(window->WaitingForBoard());
  EXPECT_EQ(window->Context().Device().OpenPath(), "");
  // What follows from the board not being open does not hide why.
  SendStatusText("abc");
  EXPECT_EQ(window->StatusText(), waiting);
  QTest::qWait(3 * CLanewrightDlg::kBoardRetryMs);
  window->Context().Link().Drain();
  EXPECT_EQ(window->StatusText(), waiting);
  ASSERT_NE(window->Ddm(), nullptr);
  EXPECT_FALSE(window->Ddm()->findChild<QTimer*>("updateTimer")->isActive());

  other.Release();
  ASSERT_TRUE(WaitForStatus("UsbHid Connected"));
  EXPECT_EQ(window->StatusText(), "UsbHid Connected" + k56);
  EXPECT_FALSE(window->WaitingForBoard());
  EXPECT_EQ(window->Context().Device().OpenPath(), "emulated:board0");
  EXPECT_TRUE(window->Ddm()->findChild<QTimer*>("updateTimer")->isActive());
  // Now this process holds it.
  ProcessLock late;
  EXPECT_EQ(late.TryLock(watched->lock_path, true), ProcessLock::State::kBusy);
}

// The core's log lines reach Qt's logging in the category of their layer, at
// their level; the core writes what the Qt rules enable and no more.
struct Logged {
  QtMsgType type;
  QString category, text;
};
std::vector<Logged>* g_logged = nullptr;

TEST(CoreLog, LinesReachTheQtCategoryOfTheirLayer) {
  std::vector<Logged> logged;
  g_logged = &logged;
  const QtMessageHandler before = qInstallMessageHandler(
      [](QtMsgType type, const QMessageLogContext& context, const QString& text) {
        if (g_logged) g_logged->push_back({type, context.category, text});
      });
  QLoggingCategory::setFilterRules("lanewright.board.debug=true");
  gui::RouteCoreLog();

  const uint8_t report[3] = {0x00, 0xaa, 0x13};
  lwlog::HexDump(lwlog::Category::kBoard, "hid >", report, 3);
  lwlog::Write(lwlog::Category::kModule, lwlog::Level::kWarning, "module warning");
  lwlog::Write(lwlog::Category::kModule, lwlog::Level::kInfo, "not enabled");
  lwlog::Write(lwlog::Category::kQualify, lwlog::Level::kError, "qualify error");
  EXPECT_TRUE(lwlog::Enabled(lwlog::Category::kBoard, lwlog::Level::kDebug));
  EXPECT_FALSE(lwlog::Enabled(lwlog::Category::kModule, lwlog::Level::kInfo));

  qInstallMessageHandler(before);
  g_logged = nullptr;
  lwlog::SetLogSink({});
  QLoggingCategory::setFilterRules({});
  for (int i = 0; i < lwlog::kCategoryCount; ++i)
    lwlog::SetThreshold(static_cast<lwlog::Category>(i), lwlog::Level::kWarning);

  ASSERT_EQ(logged.size(), 3u);
  EXPECT_EQ(logged[0].type, QtDebugMsg);
  EXPECT_EQ(logged[0].category, "lanewright.board");
  EXPECT_EQ(logged[0].text, "hid > 00 aa 13");
  EXPECT_EQ(logged[1].type, QtWarningMsg);
  EXPECT_EQ(logged[1].category, "lanewright.module");
  EXPECT_EQ(logged[1].text, "module warning");
  EXPECT_EQ(logged[2].type, QtCriticalMsg);
  EXPECT_EQ(logged[2].category, "lanewright.qualify");
}

}  // namespace
