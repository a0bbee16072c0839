// "Qualify": runs a qualification plan on the module with the runner the
// command-line tool uses (qualify::RunPlan). The run is one job on the
// board worker: it opens the records store, runs the plan and stores the
// record; the runner's events come back to the page as queued signals.
// Stop sets the runner's stop flag: the current step ends as soon as it
// can, the plan's finally steps still run, and the verdict is ERROR.
#pragma once

#include <QDialog>
#include <QObject>
#include <QString>
#include <QUrl>
#include <QWidget>
#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "qualify/plan.h"
#include "records/run_record.h"

class AppContext;
class QLabel;
class QLineEdit;
class QPushButton;
class QTreeWidget;

namespace qualify_ui {

// One runner event, copied out of the runner's callback on the board worker.
struct StepEvent {
  enum class Kind { kStarted, kProgress, kFinished };
  Kind kind = Kind::kStarted;
  int row = -1;  // the plan's steps, then its finally steps
  records::Outcome outcome = records::Outcome::kPass;
  QString text;
};

// How a run ended: its record (stored when `stored`), or why it did not run.
struct RunResult {
  bool ran = false;
  QString error;        // the run did not start: the store could not be opened
  QString store_error;  // the run's record could not be stored
  records::RunRecord run;
};

// Carries one run's events from the board worker to the page. Owned by the
// run's job and the page together, so a page closed during a run leaves the
// job something to emit to.
class RunChannel : public QObject {
  Q_OBJECT
 public:
  std::atomic<bool> stop{false};

 signals:
  void Step(const qualify_ui::StepEvent& event);
  void Finished(const qualify_ui::RunResult& result);
};

// A module's stored runs, newest first, read from the store on the board
// worker (the store may be a server on the network).
class CHistory : public QDialog {
  Q_OBJECT
 public:
  CHistory(AppContext& app, const QString& serial, QWidget* parent = nullptr);
  QTreeWidget* Runs() const { return runs_; }
  // The query has come back (with rows, or with the reason in the caption).
  bool Loaded() const { return loaded_; }

 private:
  QTreeWidget* runs_;
  QLabel* caption_;
  bool loaded_ = false;
};

}  // namespace qualify_ui

class CQualify : public QWidget {
  Q_OBJECT
 public:
  // Control ids.
  enum Id {
    kIdPlan = 2601,
    kIdChoose,
    kIdRun,
    kIdStop,
    kIdSteps,
    kIdVerdict,
    kIdDetails,
    kIdReport,
    kIdHistory,
    kIdMessage,
  };
  // Columns of the step list.
  enum Column { kColStep, kColOutcome, kColDetails };

  CQualify(AppContext& app, QWidget* parent = nullptr);
  ~CQualify() override;

  // The plan file to run (also what "Choose..." last picked, remembered).
  void SetPlanPath(const QString& path);
  QString PlanPath() const;
  // Loads the plan and starts the run; false (and no board traffic) when
  // the plan cannot be used or a run is going on. The reason is shown.
  bool Run();
  // Asks the run to end (its finally steps still run).
  void Stop();
  bool Running() const { return channel_ != nullptr; }

  // The record of the last run that ended, if any.
  const std::optional<records::RunRecord>& LastRun() const { return last_run_; }
  // Writes the last run's HTML report into the data directory's reports
  // folder and opens it; returns the file, empty when nothing was written.
  QString OpenReport();
  // The dialog listing the last run's module's stored runs.
  qualify_ui::CHistory* ShowHistory();
  // How a report is opened (QDesktopServices::openUrl unless replaced).
  void SetUrlOpener(std::function<bool(const QUrl&)> opener) { open_url_ = std::move(opener); }

  QTreeWidget* Steps() const { return steps_; }
  QString VerdictText() const;
  QString Message() const;

 signals:
  void RunFinished(records::Outcome verdict);

 private:
  void ChoosePlan();
  void FillSteps(const qualify::Plan& plan);
  void OnStep(const qualify_ui::StepEvent& event);
  void OnFinished(const qualify_ui::RunResult& result);
  void ShowVerdict(const QString& text, const QColor& colour);
  void SetMessage(const QString& text, bool error);
  void UpdateButtons();

  AppContext& app_;
  QLineEdit* plan_;
  QPushButton *choose_, *run_, *stop_, *report_, *history_;
  QTreeWidget* steps_;
  QLabel *verdict_, *details_, *message_;
  std::shared_ptr<qualify_ui::RunChannel> channel_;  // while a run goes on
  std::optional<records::RunRecord> last_run_;
  std::function<bool(const QUrl&)> open_url_;
};
