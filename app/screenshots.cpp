#include "app/screenshots.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QPixmap>
#include <QPushButton>
#include <QScreen>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTimer>
#include <array>
#include <cstdio>
#include <memory>

#include "app/main_window.h"
#include "emulator/emulated_board.h"
#include "module/ui/ddm_window.h"
#include "qualify/ui/qualify_page.h"
#include "signal/tables.h"
#include "signal/ui/config_dialog.h"
#include "signal/ui/diagram.h"
#include "signal/ui/line_check_page.h"

namespace {

// The window as it stands on the screen (with the diagnostics window over
// it), or the widget alone where the platform cannot grab the screen.
QPixmap GrabWindow(QWidget* w) {
  if (auto* screen = w->screen()) {
    QPixmap shot = screen->grabWindow(0, w->frameGeometry().x(), w->frameGeometry().y(),
                                      w->frameGeometry().width(), w->frameGeometry().height());
    if (!shot.isNull() && shot.toImage().pixelColor(5, 5) != QColor(Qt::black)) return shot;
  }
  return w->grab();
}

void Save(QWidget* w, const QString& name) {
  if (!GrabWindow(w).save(name)) std::fprintf(stderr, "cannot write %s\n", qPrintable(name));
}

// The line check running: the page after a few ticks, the BER diagram
// opened later (it shows the whole run), and the Config dialog; then
// everything is stopped and closed. On the emulated board channel 1 is
// clean, channel 2 counts errors at 1e-9 and channel 3 has no signal.
void RunningShots(CLanewrightDlg* window, QString dir) {
  CLineCheck* page = window->LineCheck();
  auto* start = page->findChild<QPushButton*>(QStringLiteral("id%1").arg(CLineCheck::kIdStart));
  if (!start) {
    QTimer::singleShot(200, qApp, &QApplication::quit);
    return;
  }
  if (auto board = window->Context().Emulated()) {
    auto lock = board->Lock();
    board->Prbs().SetLaneBer(sigtest::LaneOfChannel(1), 0.0);
    board->Prbs().SetLaneBer(sigtest::LaneOfChannel(2), 1e-9);
    board->Prbs().SetNoSignal(sigtest::LaneOfChannel(3), true);
  }
  start->click();
  QTimer::singleShot(6000, window, [window, page, start, dir] {
    Save(window, dir + "/tab0-Checker-running.png");
    page->Diagram()->ShowLane(1);
    QTimer::singleShot(20000, window, [window, page, start, dir] {
      Save(page->Diagram(), dir + "/ber-diagram.png");
      page->Diagram()->close();
      page->findChild<QPushButton*>(QStringLiteral("id%1").arg(CLineCheck::kIdConfig))->click();
      QTimer::singleShot(1000, window, [window, page, start, dir] {
        if (QWidget* dialog = page->ConfigDialog()) {
          Save(dialog, dir + "/config-dialog.png");
          dialog->close();
        }
        start->click();  // stop
        QTimer::singleShot(500, qApp, &QApplication::quit);
      });
    });
  });
}

void Step(CLanewrightDlg* window, QString dir, int tab);

// The Qualify tab after a run of the example plan (when run from the source
// tree) on clean lanes, as `--emulate-ber 0` gives them; the lanes get their
// error ratios back afterwards. The record is stored in a directory that
// goes when the program ends.
// False when there is no plan to run: the tab is shot as it is.
bool QualifyShot(CLanewrightDlg* window, QString dir, int tab) {
  static QTemporaryDir data;
  CQualify* page = window->Qualify();
  const QString plan = QStringLiteral("examples/plan.toml");
  if (!page || !data.isValid() || !QFile::exists(plan)) return false;
  qputenv("XDG_DATA_HOME", data.path().toUtf8());
  qunsetenv("LANEWRIGHT_DB");
  page->SetPlanPath(plan);
  auto board = window->Context().Emulated();
  std::array<double, 8> bers{};
  if (board) {
    auto lock = board->Lock();
    for (int lane = 1; lane <= 8; ++lane) {
      bers[lane - 1] = board->Prbs().LaneBer(lane);
      board->Prbs().SetLaneBer(lane, 0.0);
    }
  }
  auto done = std::make_shared<bool>(false);
  auto shoot = [window, dir, tab, done, board, bers] {
    if (*done) return;
    *done = true;
    if (board) {
      auto lock = board->Lock();
      for (int lane = 1; lane <= 8; ++lane) board->Prbs().SetLaneBer(lane, bers[lane - 1]);
    }
    Save(window, QString("%1/tab%2-%3.png").arg(dir).arg(tab).arg(window->Tabs()->tabText(tab)));
    Step(window, dir, tab + 1);
  };
  QObject::connect(page, &CQualify::RunFinished, window,
                   [window, shoot] { QTimer::singleShot(500, window, shoot); });
  QTimer::singleShot(90000, window, shoot);  // a run that never ends is shot as it stands
  if (!page->Run()) shoot();
  return true;
}

void Step(CLanewrightDlg* window, QString dir, int tab) {
  auto* tabs = window->Tabs();
  if (tab < tabs->count()) {
    tabs->setCurrentIndex(tab);
    if (tab == CLanewrightDlg::kQualify && QualifyShot(window, dir, tab)) return;
    QTimer::singleShot(2000, window, [window, dir, tab] {
      const QString name =
          QString("%1/tab%2-%3.png").arg(dir).arg(tab).arg(window->Tabs()->tabText(tab));
      Save(window, name);
      if (tab == 0 && window->Ddm()) window->Ddm()->grab().save(dir + "/ddm.png");
      Step(window, dir, tab + 1);
    });
    return;
  }
  tabs->setCurrentIndex(0);
  QTimer::singleShot(1000, window, [window, dir] { RunningShots(window, dir); });
}

}  // namespace

void TakeScreenshots(CLanewrightDlg* window, const QString& dir) {
  QDir().mkpath(dir);
  // The diagnostics window refreshes first 3.5 s after start.
  QTimer::singleShot(4500, window, [window, dir] { Step(window, dir, 0); });
}
