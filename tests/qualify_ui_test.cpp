// The Qualify tab: a plan runs on the board worker to its verdict with the
// step list following it, the record is stored and its report and history
// open; Stop ends a run early with its finally steps; a bad plan is refused
// before any board traffic.
#include <gtest/gtest.h>

#include <QApplication>
#include <QFile>
#include <QLabel>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeWidget>
#include <chrono>
#include <memory>

#include "emulator/emulated_board.h"
#include "gui/app_context.h"
#include "qualify/ui/qualify_page.h"
#include "records/store.h"

namespace {

using records::Outcome;

struct QualifyTab : ::testing::Test {
  QTemporaryDir data;
  std::shared_ptr<emu::EmulatedBoard> board = std::make_shared<emu::EmulatedBoard>();
  std::unique_ptr<AppContext> app;
  std::unique_ptr<CQualify> page;
  std::vector<QUrl> opened;

  void SetUp() override {
    ASSERT_TRUE(data.isValid());
    // The default store and the reports go into a directory of the test's own.
    qputenv("XDG_DATA_HOME", data.path().toUtf8());
    qunsetenv("LANEWRIGHT_DB");
    app = std::make_unique<AppContext>(board, board);
    ASSERT_EQ(app->Device().FindDevices(), 1);
    ASSERT_TRUE(app->Device().OpenBoard(0));
    page = std::make_unique<CQualify>(*app);
    page->SetUrlOpener([this](const QUrl& url) {
      opened.push_back(url);
      return true;
    });
    page->show();
  }
  void TearDown() override {
    page.reset();
    app->Link().Stop();
  }
  QString Plan(const char* text) {
    const QString path = data.filePath("plan.toml");
    QFile f(path);
    EXPECT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(text);
    return path;
  }
  bool WaitForEnd(int ms = 60000) {
    return QTest::qWaitFor([this] { return !page->Running(); }, ms);
  }
  QStringList Column(int column) const {
    QStringList out;
    for (int i = 0; i < page->Steps()->topLevelItemCount(); ++i)
      out << page->Steps()->topLevelItem(i)->text(column);
    return out;
  }
};

TEST_F(QualifyTab, RunsAPlanToItsVerdictStoresItAndOpensReportAndHistory) {
  page->SetPlanPath(
      Plan("name = \"tiny\"\n"
           "[[step]]\nkind = \"identify\"\n"
           "[[step]]\nkind = \"thresholds\"\n"
           "[[finally]]\nkind = \"tx-enable\"\n"));
  std::vector<Outcome> finished;
  QObject::connect(page.get(), &CQualify::RunFinished, [&](Outcome v) { finished.push_back(v); });
  ASSERT_TRUE(page->Run());
  EXPECT_TRUE(page->Running());
  EXPECT_FALSE(page->Run());  // one run at a time
  EXPECT_EQ(Column(CQualify::kColStep),
            QStringList({"identify", "thresholds", "finally: tx-enable"}));
  ASSERT_TRUE(WaitForEnd());

  EXPECT_EQ(Column(CQualify::kColOutcome), QStringList({"PASS", "PASS", "PASS"}));
  EXPECT_EQ(page->VerdictText(), "PASS");
  ASSERT_EQ(finished, std::vector<Outcome>{Outcome::kPass});
  ASSERT_TRUE(page->LastRun());
  const records::RunRecord& run = *page->LastRun();
  EXPECT_NE(run.id, 0);
  EXPECT_FALSE(run.serial.empty());
  EXPECT_EQ(run.part_number, "LW-QDD-400G-SR8");
  EXPECT_EQ(run.board_path, "emulated:board0");

  // Stored in the default place, under the module's serial.
  auto store = records::Store::Open(records::ResolveLocation(""));
  const auto history = store->History(run.serial);
  ASSERT_EQ(history.size(), 1u);
  EXPECT_EQ(history[0].id, run.id);
  EXPECT_EQ(history[0].verdict, Outcome::kPass);
  EXPECT_TRUE(QFile::exists(data.filePath("lanewright/results.db")));

  const QString report = page->OpenReport();
  ASSERT_FALSE(report.isEmpty()) << page->Message().toStdString();
  EXPECT_TRUE(report.startsWith(data.filePath("lanewright/reports/")));
  ASSERT_EQ(opened.size(), 1u);
  EXPECT_EQ(opened[0], QUrl::fromLocalFile(report));
  QFile html(report);
  ASSERT_TRUE(html.open(QIODevice::ReadOnly));
  EXPECT_TRUE(html.readAll().contains(QByteArray::fromStdString(run.serial)));

  auto* dialog = page->ShowHistory();
  ASSERT_NE(dialog, nullptr);
  ASSERT_TRUE(QTest::qWaitFor([dialog] { return dialog->Loaded(); }, 10000));
  ASSERT_EQ(dialog->Runs()->topLevelItemCount(), 1);
  EXPECT_EQ(dialog->Runs()->topLevelItem(0)->text(0), QString::number(run.id));
  EXPECT_EQ(dialog->Runs()->topLevelItem(0)->text(1), "PASS");
  dialog->close();
}

TEST_F(QualifyTab, StopEndsTheRunEarlyAndTheFinallyStepsStillRun) {
  page->SetPlanPath(
      Plan("[[step]]\nkind = \"identify\"\n"
           "[[step]]\nkind = \"ddm\"\nsamples = 2\nseconds = 60\n"
           "[[step]]\nkind = \"thresholds\"\n"
           "[[finally]]\nkind = \"tx-enable\"\n"));
  // Run returns at once: the run is on the board worker, not on this thread.
  const auto start = std::chrono::steady_clock::now();
  ASSERT_TRUE(page->Run());
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
  ASSERT_TRUE(QTest::qWaitFor(
      [this] { return Column(CQualify::kColOutcome).value(1) == "running"; }, 20000));
  page->Stop();
  ASSERT_TRUE(WaitForEnd(20000));
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(30));
  EXPECT_EQ(page->VerdictText(), "ERROR");
  const QStringList outcomes = Column(CQualify::kColOutcome);
  EXPECT_EQ(outcomes.value(0), "PASS");
  EXPECT_NE(outcomes.value(2), "PASS");  // not run
  EXPECT_EQ(outcomes.value(3), "PASS");  // tx-enable ran all the same
  ASSERT_TRUE(page->LastRun());
  EXPECT_NE(page->LastRun()->id, 0);  // an interrupted run is stored too
}

TEST_F(QualifyTab, WithoutABoardNothingRunsAndNothingIsStored) {
  app->Link().Run([this] { app->Device().CloseBoard(); });
  page->SetPlanPath(Plan("[[step]]\nkind = \"identify\"\n"));
  ASSERT_TRUE(page->Run());
  ASSERT_TRUE(WaitForEnd(10000));
  EXPECT_TRUE(page->Message().startsWith("No board is open")) << page->Message().toStdString();
  EXPECT_FALSE(page->LastRun());
  EXPECT_EQ(page->VerdictText(), "");
  EXPECT_FALSE(QFile::exists(data.filePath("lanewright/results.db")));
}

TEST_F(QualifyTab, ABadPlanIsRefusedBeforeAnyBoardTraffic) {
  board->ClearRequests();
  page->SetPlanPath(Plan("[[step]]\nkind = \"warp\"\n"));
  EXPECT_FALSE(page->Run());
  EXPECT_FALSE(page->Running());
  EXPECT_TRUE(page->Message().contains("plan.toml:2:8: ")) << page->Message().toStdString();
  page->SetPlanPath(data.filePath("missing.toml"));
  EXPECT_FALSE(page->Run());
  EXPECT_TRUE(page->Message().contains("missing.toml")) << page->Message().toStdString();
  app->Link().Drain();
  EXPECT_EQ(board->RequestCount(), 0u);
}

}  // namespace
