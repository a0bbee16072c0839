// The Checker and Dsp pages, the configuration dialog and the BER diagram on
// the offscreen platform, driving the emulated board through the board worker.
#include <gtest/gtest.h>
#include <qcustomplot.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QToolButton>

#include "board/protocol.h"
#include "emulator/emulated_board.h"
#include "gui/app_context.h"
#include "signal/ui/config_dialog.h"
#include "signal/ui/diagram.h"
#include "signal/ui/dsp_page.h"
#include "signal/ui/line_check_page.h"
#include "signal/ui/verdict_rule_dialog.h"
#include "tests/gui_test_support.h"

namespace {

// Stands in for the line check page, for the Dsp page: keeps the mode
// reports sent to it, queued as the line check page gets them.
struct ReportSink : QObject {
  std::vector<sigtest::ModeReport> reports;
  explicit ReportSink(CDsp& page) {
    connect(
        &page, &CDsp::ModeReported, this,
        [this](const sigtest::ModeReport& r) { reports.push_back(r); }, Qt::QueuedConnection);
  }
};

struct PageFixture : ::testing::Test {
  std::shared_ptr<emu::EmulatedBoard> board = std::make_shared<emu::EmulatedBoard>();
  AppContext app{board, board};
  ShellSink main_window{app.Signals()};
  void SetUp() override {
    ASSERT_EQ(app.Device().FindDevices(), 1);
    ASSERT_TRUE(app.Device().OpenBoard(0));
    app.Device().SetPause([](int) {});
  }
  void Settle() {
    for (int i = 0; i < 5; ++i) {
      app.Link().Drain();
      QCoreApplication::sendPostedEvents();
    }
  }
  std::vector<emu::Report> Sent(uint8_t code) {
    std::vector<emu::Report> out;
    for (const auto& r : board->Requests())
      if (r[3] == code) out.push_back(r);
    return out;
  }
  template <typename W>
  W* Find(QWidget* in, int id) {
    auto* w = in->findChild<W*>(QStringLiteral("id%1").arg(id));
    EXPECT_NE(w, nullptr) << id;
    return w;
  }
};

QLineEdit* Field(QWidget* page, int channel, int field) {
  return page->findChild<QLineEdit*>(
      QStringLiteral("id%1").arg(CLineCheck::kIdGroup + 10 * (channel - 1) + field));
}

// The Dsp page's mode report reaches the line check page as a queued signal
// (after the event that sent it), power as the float it is, and stops when
// the page is told of no line check page.
TEST_F(PageFixture, DspModeReportReachesTheCheckerQueued) {
  CLineCheck checker(app);
  CDsp dsp(app);
  dsp.SetLineCheckWindow(&checker);
  ReportSink sent(dsp);
  Settle();
  const int texts = main_window.Count(ShellSink::kStatusText);

  dsp.Refresh();
  // The power read's result is handled: the report is out, not yet delivered.
  app.Link().Worker().Drain();
  QCoreApplication::sendPostedEvents(&app.Link());
  ASSERT_EQ(sent.reports.size(), 0u);
  Settle();
  ASSERT_EQ(sent.reports.size(), 1u);
  EXPECT_NEAR(sent.reports[0].power, 8.99, 0.01);
  ASSERT_EQ(main_window.Count(ShellSink::kStatusText), texts + 1);
  EXPECT_EQ(main_window.Last(ShellSink::kStatusText)->text,
            QString::fromStdString(sigtest::ModeReportText(sent.reports[0])));

  dsp.SetLineCheckWindow(nullptr);
  dsp.Refresh();
  Settle();
  EXPECT_EQ(sent.reports.size(), 2u);
  EXPECT_EQ(main_window.Count(ShellSink::kStatusText), texts + 1);
}

TEST_F(PageFixture, CheckerRunsTheTestFromAModeReport) {
  CLineCheck page(app);
  page.show();
  Settle();
  ASSERT_NE(main_window.Last(ShellSink::kShowDdm), nullptr);
  EXPECT_TRUE(main_window.Last(ShellSink::kShowDdm)->show);

  // The first mode report applies its pattern and names the mode.
  sigtest::ModeReport report{8, 0, 4, 8.99f, 0};
  page.OnModeReport(report);
  Settle();
  EXPECT_EQ(Sent(board::kGeneratorConfig).size(), 16u);
  ASSERT_NE(main_window.Last(ShellSink::kStatusText), nullptr);
  EXPECT_EQ(main_window.Last(ShellSink::kStatusText)->text,
            "PAM4            25.78125 GBd            PRBS31            8.99w");

  EXPECT_EQ(Field(&page, 2, CLineCheck::kFieldBer)->text(), "");
  auto* start = Find<QPushButton>(&page, CLineCheck::kIdStart);
  start->click();
  EXPECT_EQ(start->text(), "Stop");
  page.Tick();
  Settle();
  const auto starts = Sent(board::kCheckerConfig);
  ASSERT_EQ(starts.size(), 8u);
  EXPECT_EQ(starts[7][4], 1);  // device 1
  EXPECT_EQ(starts[7][5], 8);  // lane 8
  EXPECT_EQ(starts[7][6], 1);  // run
  // Channel 2 is DSP lane 1 (clean): locked, BER 0, green.
  EXPECT_EQ(Field(&page, 2, CLineCheck::kFieldType)->text(), "PRBS31");
  EXPECT_EQ(Field(&page, 2, CLineCheck::kFieldBer)->text(), "0.00e+00");
  EXPECT_EQ(Field(&page, 2, CLineCheck::kFieldTime)->text(), "00:00:01");
  EXPECT_EQ(Field(&page, 2, CLineCheck::kFieldBer)->palette().color(QPalette::Text),
            QColor(0, 155, 0));
  EXPECT_EQ(Find<QLabel>(&page, CLineCheck::kIdGroup + 10 + CLineCheck::kFieldLamp)
                ->property("lamp")
                .toInt(),
            static_cast<int>(sigtest::LineCheck::Lamp::kGreen));

  // The scale is shown once turned on.
  EXPECT_FALSE(Find<QLabel>(&page, CLineCheck::kIdScale)->isVisibleTo(&page));
  page.SetDivideByTen();
  EXPECT_TRUE(Find<QLabel>(&page, CLineCheck::kIdScale)->isVisibleTo(&page));

  board->ClearRequests();
  page.StopIfRunning();
  Settle();
  EXPECT_EQ(start->text(), "Start");
  for (const auto& r : Sent(board::kCheckerConfig)) EXPECT_EQ(r[6], 0);
  EXPECT_EQ(Sent(board::kCheckerConfig).size(), 8u);
}

TEST_F(PageFixture, TicksNeverPileUp) {
  CLineCheck page(app);
  page.show();
  Find<QPushButton>(&page, CLineCheck::kIdStart)->click();
  Settle();
  board->ClearRequests();
  // Three ticks asked while the first is still out: one follows it, no more.
  page.Tick();
  EXPECT_TRUE(page.TickInFlight());
  page.Tick();
  page.Tick();
  Settle();
  EXPECT_FALSE(page.TickInFlight());
  EXPECT_EQ(page.Engine().Lane(1).seconds, 2u);
  EXPECT_EQ(Sent(board::kCheckerStatus).size(), 16u);
}

TEST_F(PageFixture, DoubleClickOnBerOpensTheCharts) {
  CLineCheck page(app);
  page.show();
  CDiagram* diagram = page.Diagram();
  QTest::mouseDClick(Field(&page, 3, CLineCheck::kFieldTime), Qt::LeftButton);
  Settle();
  EXPECT_FALSE(diagram->isVisible());
  QTest::mouseDClick(Field(&page, 3, CLineCheck::kFieldBer), Qt::LeftButton);
  Settle();
  ASSERT_TRUE(diagram->isVisible());
  for (int i = 0; i < 8; ++i) {
    auto* title = qobject_cast<QCPTextElement*>(diagram->Chart(i)->plotLayout()->element(0, 0));
    ASSERT_NE(title, nullptr);
    EXPECT_EQ(title->text(), sigtest::kCharts[i].title);
    EXPECT_EQ(diagram->Chart(i)->yAxis->scaleType(), QCPAxis::stLogarithmic);
    EXPECT_DOUBLE_EQ(diagram->Chart(i)->yAxis->range().lower, 1e-13);
    EXPECT_DOUBLE_EQ(diagram->Chart(i)->yAxis->range().upper, 1e-4);
  }
  diagram->close();
  EXPECT_FALSE(diagram->isVisible());
  const QString png = QString::fromStdString(::testing::TempDir()) + "/ber_charts.png";
  ASSERT_TRUE(diagram->SavePng(png));
  EXPECT_FALSE(QImage(png).isNull());
  QFile::remove(png);
}

QLabel* VerdictLine(QWidget* page, int channel) {
  return page->findChild<QLabel*>(QStringLiteral("id%1").arg(
      CLineCheck::kIdGroup + 10 * (channel - 1) + CLineCheck::kFieldVerdict));
}

// A clean lane (channel 1), a lane with errors (channel 2) and one without
// signal (channel 3): the page records every tick with the diagram closed,
// says what each lane can claim, and the diagram opened late shows it all.
TEST_F(PageFixture, HistoryGrowsWithTheDiagramClosedAndLanesClaimOnlyWhatTheyCan) {
  {
    auto lock = board->Lock();
    board->Prbs().SetLaneBer(7, 0);
    board->Prbs().SetLaneBer(1, 1e-6);
    board->Prbs().SetNoSignal(4, true);
  }
  CLineCheck page(app);
  page.show();
  CDiagram* diagram = page.Diagram();
  page.ApplyPattern(sigtest::kPatternPrbs31);
  Find<QPushButton>(&page, CLineCheck::kIdStart)->click();
  Settle();
  for (int t = 0; t < 3; ++t) {
    QTest::qWait(20);  // bits to count
    page.Tick();
    Settle();
  }
  EXPECT_FALSE(diagram->isVisible());
  EXPECT_EQ(page.History().Size(), 3u * 8);
  EXPECT_TRUE(diagram->Stale());

  const QString clean = VerdictLine(&page, 1)->text();
  EXPECT_TRUE(clean.startsWith("< ") && clean.contains("RUNNING")) << clean.toStdString();
  EXPECT_TRUE(VerdictLine(&page, 1)->toolTip().contains("Lock losses: 0"));
  EXPECT_TRUE(VerdictLine(&page, 2)->text().startsWith("FAIL: "))
      << VerdictLine(&page, 2)->text().toStdString();
  EXPECT_EQ(VerdictLine(&page, 3)->text(), "no lock");
  EXPECT_EQ(Field(&page, 3, CLineCheck::kFieldType)->text(), "Unlock");
  EXPECT_EQ(Field(&page, 3, CLineCheck::kFieldBer)->text(), "");  // never locked: no BER

  // Opened late: the whole run, the clean lane at its bound, no line for the unlocked one.
  diagram->ShowLane(1);
  Settle();
  EXPECT_FALSE(diagram->Stale());
  const auto* bound = diagram->Bound(0)->data().data();
  ASSERT_GT(bound->size(), 0);
  const double lower = diagram->Chart(0)->yAxis->range().lower;
  for (auto it = bound->constBegin(); it != bound->constEnd(); ++it)
    if (!std::isnan(it->value)) {
      EXPECT_GT(it->value, lower);
    }
  EXPECT_TRUE(diagram->BoundLabel(0).startsWith("< "));
  EXPECT_EQ(diagram->Measured(0)->data()->size(), 0);
  EXPECT_GT(diagram->Measured(1)->data()->size(), 0);
  EXPECT_EQ(diagram->Measured(2)->data()->size(), 0);
  EXPECT_EQ(diagram->Bound(2)->data()->size(), 0);
  EXPECT_EQ(diagram->VerdictText(2), "no lock");
  EXPECT_EQ(diagram->VerdictText(1), VerdictLine(&page, 2)->text());

  // The export keeps true values under the page's divide-by-ten scale.
  page.SetDivideByTen();
  const QString csv = QString::fromStdString(::testing::TempDir()) + "/ber_points.csv";
  ASSERT_TRUE(diagram->SaveCsv(csv));
  QFile file(csv);
  ASSERT_TRUE(file.open(QIODevice::ReadOnly));
  const QStringList lines = QString(file.readAll()).split('\n', Qt::SkipEmptyParts);
  ASSERT_EQ(lines.size(), 1 + 3 * 8);
  const QStringList last = lines[2 * 3].split(',');  // CH2 (lane 1), third second
  ASSERT_EQ(last.size(), 9);
  EXPECT_EQ(last[1], "1");
  EXPECT_EQ(last[4], "measured");
  const auto& h = page.Engine().History(1);
  EXPECT_NEAR(last[3].toDouble(), static_cast<double>(h.steady_errors) / h.steady_bits,
              1e-5 * last[3].toDouble());
  EXPECT_EQ(last[8], "FAIL");
  QFile::remove(csv);

  // A looser rule, set through its dialog, judges the same counts again.
  page.OpenRuleDialog();
  ASSERT_NE(page.RuleDialog(), nullptr);
  Find<QLineEdit>(page.RuleDialog(), CVerdictRule::kIdTarget)->setText("1e-6");
  page.RuleDialog()->accept();
  EXPECT_DOUBLE_EQ(page.Rule().target, 1e-6);
  EXPECT_TRUE(VerdictLine(&page, 1)->text().startsWith("PASS < "))
      << VerdictLine(&page, 1)->text().toStdString();
  EXPECT_EQ(Find<QToolButton>(&page, CLineCheck::kIdRule)->text(), "1e-06 \u00B7 95%");
  page.StopIfRunning();
  Settle();
}

// Bounds below 1e-13 and ratios above 1e-4 widen the axis by whole decades:
// no lane lies on an edge.
TEST(DiagramAxis, ReachesPastEveryValueDrawn) {
  sigtest::BerHistory history;
  const sigtest::VerdictRule rule;
  for (uint32_t s = 1; s <= 50; ++s) {
    sigtest::BerHistory::Point clean{s, sigtest::BerHistory::Kind::kBound, sigtest::Verdict::kPass,
                                     0, 3.0 / (s * 2e15)};
    history.Add(0, clean, rule);
    sigtest::BerHistory::Point noisy{s, sigtest::BerHistory::Kind::kMeasured,
                                     sigtest::Verdict::kFail, 3e-3, 4e-3};
    history.Add(1, noisy, rule);
  }
  CDiagram diagram(history);
  diagram.resize(900, 700);
  diagram.show();
  std::array<sigtest::LaneSummary, sigtest::kLanes> lines{};
  diagram.Refresh(lines, 1e-12);
  QCoreApplication::processEvents();
  const QCPRange y = diagram.Chart(0)->yAxis->range();
  EXPECT_DOUBLE_EQ(y.lower, 1e-17);  // the last bound is 3e-17
  EXPECT_DOUBLE_EQ(y.upper, 1e-2);
  const auto* bound = diagram.Bound(0)->data().data();
  ASSERT_GT(bound->size(), 0);
  EXPECT_NEAR((bound->constEnd() - 1)->value, 3e-17, 1e-22);
  EXPECT_EQ(diagram.BoundLabel(0), "< 3.0e-17");
  EXPECT_DOUBLE_EQ(diagram.Chart(5)->yAxis->range().lower, 1e-17);  // one axis for all eight
}

TEST_F(PageFixture, ConfigDialogSendsTheGeneratorsAndStoresOnClose) {
  sigtest::LineCheck engine;
  CConfigCheck dialog(app, engine.Checkers()[0], engine.Generators(), 1);
  auto* button = Find<QPushButton>(&dialog, CConfigCheck::kIdGeneratorStart);
  EXPECT_FALSE(Find<QComboBox>(&dialog, CConfigCheck::kIdGeneratorLsb)->isEnabled());  // Combined
  Find<QComboBox>(&dialog, CConfigCheck::kIdGeneratorMsb)->setCurrentIndex(4);
  button->click();
  EXPECT_EQ(button->text(), "Stop");
  Settle();
  const auto sent = Sent(board::kGeneratorConfig);
  ASSERT_EQ(sent.size(), 8u);
  EXPECT_EQ(sent[0][4 + 6], 4);
  EXPECT_EQ(board->Prbs().GeneratorRecord(8)[2], 1);
  Find<QCheckBox>(&dialog, CConfigCheck::kIdGeneratorMsbLsb)->click();
  EXPECT_TRUE(Find<QComboBox>(&dialog, CConfigCheck::kIdGeneratorLsb)->isEnabled());
  EXPECT_FALSE(Find<QCheckBox>(&dialog, CConfigCheck::kIdGeneratorCombined)->isChecked());

  Find<QComboBox>(&dialog, CConfigCheck::kIdCheckerMsb)->setCurrentIndex(2);
  Find<QComboBox>(&dialog, CConfigCheck::kIdErrorThreshold)->setCurrentIndex(200);
  Find<QPushButton>(&dialog, CConfigCheck::kIdClose)->click();
  EXPECT_EQ(dialog.result(), QDialog::Rejected);
  EXPECT_EQ(engine.Checkers()[0][sigtest::checker::kMsbPattern], 2);
  EXPECT_EQ(engine.Checkers()[0][sigtest::checker::kErrorThreshold], 200);
  EXPECT_EQ(engine.Checkers()[0][sigtest::checker::kTwo], 2);
}

TEST_F(PageFixture, PatternOf128OrMoreOpensTheDialogWithoutWaitingOnIt) {
  CLineCheck page(app);
  page.show();
  page.ApplyPattern(0xFF);  // returns at once
  EXPECT_EQ(page.ConfigDialog(), nullptr);
  QCoreApplication::sendPostedEvents();
  CConfigCheck* dialog = page.ConfigDialog();
  ASSERT_NE(dialog, nullptr);
  EXPECT_TRUE(dialog->isVisible());
  EXPECT_EQ(Sent(board::kGeneratorConfig).size(), 0u);
  Find<QComboBox>(dialog, CConfigCheck::kIdCheckerLsb)->setCurrentIndex(3);
  Find<QPushButton>(dialog, CConfigCheck::kIdClose)->click();
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  EXPECT_EQ(page.ConfigDialog(), nullptr);
  // Closed: lane 1's store reached every lane.
  EXPECT_EQ(page.Engine().Checkers()[7][sigtest::checker::kLsbPattern], 3);
  EXPECT_EQ(page.Engine().Checkers()[7][sigtest::checker::kLane], 8);
}

TEST_F(PageFixture, DspPageReadsWritesAndRefusesABadField) {
  CDsp page(app);
  ReportSink line_check(page);
  Settle();
  const auto& controls = sigtest::DspControls();
  auto index = [&](sigtest::DspSection s, const char* key, int entry) {
    for (size_t i = 0; i < controls.size(); ++i)
      if (controls[i].field->section == s && std::string(controls[i].field->key) == key &&
          controls[i].entry == entry)
        return i;
    return controls.size();
  };
  auto* post = static_cast<QLineEdit*>(page.Control(index(sigtest::DspSection::kTx, "post", 2)));
  EXPECT_EQ(post->text(), "6");  // block lane 3, shown in TX row "3"
  EXPECT_EQ(page.findChild<QLineEdit*>(QStringLiteral("id%1").arg(CDsp::kIdWatts))->text(), "8.99");
  EXPECT_EQ(page.RateList()->currentText(), "25.78125GBd");

  const auto before = board->Dsp().Current();
  static_cast<QCheckBox*>(page.Control(index(sigtest::DspSection::kRx, "invert", 6)))
      ->setChecked(true);
  EXPECT_TRUE(page.Write());
  Settle();
  const auto after = board->Dsp().Current();
  EXPECT_EQ(after[33 + 6], before[33 + 6] | 0x04);
  EXPECT_EQ(after[161], 1);
  EXPECT_TRUE(std::equal(after.begin() + 165, after.end(), before.begin() + 165));
  ASSERT_FALSE(line_check.reports.empty());
  const sigtest::ModeReport& report = line_check.reports.back();
  EXPECT_EQ(report.signalling, 0);  // PAM
  EXPECT_EQ(report.pattern, 8);     // PRBS31
  EXPECT_EQ(report.resend, 1);      // the resend flag rides on it
  EXPECT_FALSE(page.ResendFlag());

  board->ClearRequests();
  post->setText("70000");
  EXPECT_FALSE(page.Write());
  Settle();
  EXPECT_EQ(board->RequestCount(), 0u);
  EXPECT_TRUE(page.LastMessage().contains("Line TX row 3 Post"))
      << page.LastMessage().toStdString();

  page.Save();
  Settle();
  EXPECT_EQ(page.LastMessage(), "Save successfully!");
  board->SetPlugged(false);
  page.Save();
  Settle();
  EXPECT_NE(page.LastMessage(), "Save successfully!");
  for (QWidget* w : QApplication::topLevelWidgets())
    if (qobject_cast<QMessageBox*>(w)) w->close();
}

// READ, WRITE and the power read say which failure ended them; a READ that
// failed sets nothing, so the fields keep what they show.
TEST_F(PageFixture, DspPageTellsFailuresAndKeepsItsFields) {
  auto visible_boxes = [] {
    int n = 0;
    for (QWidget* w : QApplication::topLevelWidgets())
      if (qobject_cast<QMessageBox*>(w) && w->isVisible()) ++n;
    return n;
  };
  auto close_boxes = [] {
    for (QWidget* w : QApplication::topLevelWidgets())
      if (qobject_cast<QMessageBox*>(w)) w->close();
  };
  // The READ at initialisation tells the status line, without a box.
  board->CorruptNextHeader();
  {
    CDsp quiet(app);
    Settle();
    const ShellSink::Got* status = main_window.Last(ShellSink::kStatusText);
    ASSERT_NE(status, nullptr);
    EXPECT_EQ(status->text,
              "READ failed: the board's answer failed the header test (command 0x11, report 1 of "
              "4). The fields keep their values.");
    EXPECT_EQ(visible_boxes(), 0);
  }

  CDsp page(app);
  ReportSink line_check(page);
  Settle();
  size_t post_index = 0;
  const auto& controls = sigtest::DspControls();
  while (!(controls[post_index].field->section == sigtest::DspSection::kTx &&
           std::string(controls[post_index].field->key) == "post" &&
           controls[post_index].entry == 2))
    ++post_index;
  auto* post = static_cast<QLineEdit*>(page.Control(post_index));
  ASSERT_EQ(post->text(), "6");
  post->setText("77");  // edited, not written
  {
    auto lock = board->Lock();
    board->Dsp().Current()[89 + 2 * 2] = 9;  // what a whole READ would show
  }
  board->CorruptNextHeader();
  page.Read();
  Settle();
  EXPECT_EQ(post->text(), "77");
  EXPECT_EQ(page.LastMessage(),
            "READ failed: the board's answer failed the header test (command 0x11, report 1 of "
            "4). The fields keep their values.");
  EXPECT_EQ(visible_boxes(), 1);
  close_boxes();
  page.Read();
  Settle();
  EXPECT_EQ(post->text(), "9");
  EXPECT_EQ(visible_boxes(), 0);

  board->FailNextWrite();
  EXPECT_TRUE(page.Write());
  Settle();
  EXPECT_EQ(page.LastMessage(),
            "WRITE failed: the board link failed (unplugged?) (command 0x10, report 1 of 4).");
  EXPECT_EQ(visible_boxes(), 1);
  close_boxes();

  // A failed power read keeps the last reading, greyed.
  auto* watts = page.findChild<QLineEdit*>(QStringLiteral("id%1").arg(CDsp::kIdWatts));
  EXPECT_EQ(watts->text(), "8.99");
  EXPECT_FALSE(page.PowerStale());
  board->CorruptNextHeader();
  page.Refresh();
  Settle();
  EXPECT_EQ(watts->text(), "8.99");
  EXPECT_TRUE(page.PowerStale());
  page.Refresh();
  Settle();
  EXPECT_FALSE(page.PowerStale());
}

}  // namespace
