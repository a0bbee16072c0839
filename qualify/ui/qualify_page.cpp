#include "qualify/ui/qualify_page.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSaveFile>
#include <QSettings>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <cctype>

#include "board/device.h"
#include "gui/app_context.h"
#include "gui/control_id.h"
#include "gui/log.h"
#include "qualify/runner.h"
#include "records/report.h"
#include "records/store.h"

using qualify_ui::RunChannel;
using qualify_ui::RunResult;
using qualify_ui::StepEvent;
using records::Outcome;

namespace {

constexpr const char* kSettingsPlan = "qualify/plan";

QColor OutcomeColour(Outcome outcome) {
  switch (outcome) {
    case Outcome::kPass:
      return QColor(0, 155, 0);
    case Outcome::kFail:
      return QColor(220, 0, 0);
    case Outcome::kSkip:
      return QColor(110, 110, 110);
    case Outcome::kError:
      return QColor(200, 100, 0);
  }
  return QColor(Qt::black);
}

QString Utc(int64_t ms) {
  return ms ? QDateTime::fromMSecsSinceEpoch(ms, Qt::UTC).toString("yyyy-MM-dd hh:mm:ss")
            : QString();
}

// The data directory the records database sits in by default.
QString DataDirectory() {
  try {
    return QFileInfo(QString::fromStdString(records::DefaultDatabasePath())).absolutePath();
  } catch (const records::StoreError&) {
    return {};
  }
}

QString SafeName(const std::string& text) {
  QString out;
  for (char c : text)
    out += std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '_' || c == '.'
               ? QChar(c)
               : QChar('_');
  return out.isEmpty() ? QStringLiteral("unknown") : out;
}

}  // namespace

namespace qualify_ui {

CHistory::CHistory(AppContext& app, const QString& serial, QWidget* parent) : QDialog(parent) {
  setWindowTitle(tr("History of %1").arg(serial));
  setObjectName("qualifyHistory");
  resize(640, 320);
  auto* layout = new QVBoxLayout(this);
  caption_ = new QLabel(tr("Reading the records of %1 ...").arg(serial), this);
  runs_ = new QTreeWidget(this);
  runs_->setRootIsDecorated(false);
  runs_->setHeaderLabels(
      {tr("Run"), tr("Verdict"), tr("Started (UTC)"), tr("Ended (UTC)"), tr("Plan"), tr("Host")});
  auto* close = new QPushButton(tr("Close"), this);
  connect(close, &QPushButton::clicked, this, &QDialog::close);
  layout->addWidget(caption_);
  layout->addWidget(runs_);
  layout->addWidget(close, 0, Qt::AlignRight);

  struct Answer {
    std::vector<records::RunSummary> runs;
    std::string error;
  };
  app.Link().Run(
      this,
      [serial = serial.toStdString()] {
        Answer a;
        try {
          a.runs = records::Store::Open(records::ResolveLocation(""))->History(serial);
        } catch (const records::StoreError& e) {
          a.error = e.what();
        }
        return a;
      },
      [this, serial](const Answer& a) {
        loaded_ = true;
        if (!a.error.empty()) {
          caption_->setText(
              tr("The records could not be read: %1").arg(QString::fromStdString(a.error)));
          return;
        }
        caption_->setText(
            tr("%n run(s) of module %1, newest first", nullptr, int(a.runs.size())).arg(serial));
        for (const records::RunSummary& r : a.runs) {
          auto* item = new QTreeWidgetItem(
              runs_, {QString::number(r.id), records::OutcomeName(r.verdict), Utc(r.started_ms),
                      Utc(r.ended_ms), QString::fromStdString(r.plan_name),
                      QString::fromStdString(r.host)});
          item->setForeground(1, OutcomeColour(r.verdict));
        }
        for (int c = 0; c < runs_->columnCount(); ++c) runs_->resizeColumnToContents(c);
      });
}

}  // namespace qualify_ui

CQualify::CQualify(AppContext& app, QWidget* parent)
    : QWidget(parent),
      app_(app),
      open_url_([](const QUrl& url) { return QDesktopServices::openUrl(url); }) {
  using gui::Tag;
  auto* layout = new QVBoxLayout(this);

  auto* plan_row = new QHBoxLayout;
  plan_row->addWidget(new QLabel(tr("Plan:"), this));
  plan_ = Tag(new QLineEdit(this), kIdPlan);
  plan_->setPlaceholderText(tr("a plan file (.toml)"));
  plan_row->addWidget(plan_, 1);
  choose_ = Tag(new QPushButton(tr("Choose..."), this), kIdChoose);
  run_ = Tag(new QPushButton(tr("Run"), this), kIdRun);
  stop_ = Tag(new QPushButton(tr("Stop"), this), kIdStop);
  plan_row->addWidget(choose_);
  plan_row->addWidget(run_);
  plan_row->addWidget(stop_);
  layout->addLayout(plan_row);

  message_ = Tag(new QLabel(this), kIdMessage);
  message_->setWordWrap(true);
  message_->setTextInteractionFlags(Qt::TextSelectableByMouse);
  layout->addWidget(message_);

  auto* body = new QHBoxLayout;
  steps_ = Tag(new QTreeWidget(this), kIdSteps);
  steps_->setRootIsDecorated(false);
  steps_->setHeaderLabels({tr("Step"), tr("Outcome"), tr("Details")});
  steps_->header()->setStretchLastSection(true);
  steps_->setColumnWidth(kColStep, 170);
  steps_->setColumnWidth(kColOutcome, 80);
  body->addWidget(steps_, 3);

  auto* side = new QVBoxLayout;
  verdict_ = Tag(new QLabel(this), kIdVerdict);
  QFont big = verdict_->font();
  big.setPixelSize(56);
  big.setBold(true);
  verdict_->setFont(big);
  verdict_->setAlignment(Qt::AlignCenter);
  verdict_->setMinimumHeight(90);
  details_ = Tag(new QLabel(this), kIdDetails);
  details_->setWordWrap(true);
  details_->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
  details_->setTextInteractionFlags(Qt::TextSelectableByMouse);
  report_ = Tag(new QPushButton(tr("Open report"), this), kIdReport);
  history_ = Tag(new QPushButton(tr("Module history"), this), kIdHistory);
  side->addWidget(verdict_);
  side->addWidget(details_);
  side->addStretch(1);
  side->addWidget(report_);
  side->addWidget(history_);
  body->addLayout(side, 2);
  layout->addLayout(body, 1);

  connect(choose_, &QPushButton::clicked, this, &CQualify::ChoosePlan);
  connect(run_, &QPushButton::clicked, this, &CQualify::Run);
  connect(stop_, &QPushButton::clicked, this, &CQualify::Stop);
  connect(report_, &QPushButton::clicked, this, &CQualify::OpenReport);
  connect(history_, &QPushButton::clicked, this, &CQualify::ShowHistory);
  connect(plan_, &QLineEdit::textChanged, this, &CQualify::UpdateButtons);

  plan_->setText(QSettings("lanewright", "lanewright").value(kSettingsPlan).toString());
  UpdateButtons();
}

CQualify::~CQualify() {
  // A run going on ends at its next chance; its job keeps the channel.
  if (channel_) channel_->stop = true;
}

void CQualify::SetPlanPath(const QString& path) { plan_->setText(path); }

QString CQualify::PlanPath() const { return plan_->text(); }

QString CQualify::VerdictText() const { return verdict_->text(); }

QString CQualify::Message() const { return message_->text(); }

void CQualify::ChoosePlan() {
  QSettings settings("lanewright", "lanewright");
  const QString last =
      plan_->text().isEmpty() ? settings.value(kSettingsPlan).toString() : plan_->text();
  const QString path = QFileDialog::getOpenFileName(this, tr("Choose a qualification plan"),
                                                    last.isEmpty() ? QDir::homePath() : last,
                                                    tr("Plans (*.toml);;All files (*)"));
  if (path.isEmpty()) return;
  settings.setValue(kSettingsPlan, path);
  plan_->setText(path);
}

void CQualify::UpdateButtons() {
  const bool running = Running();
  run_->setEnabled(!running && !plan_->text().trimmed().isEmpty());
  stop_->setEnabled(running && !channel_->stop);
  choose_->setEnabled(!running);
  plan_->setReadOnly(running);
  report_->setEnabled(!running && last_run_ && last_run_->id != 0);
  history_->setEnabled(!running && last_run_ && !last_run_->serial.empty());
}

void CQualify::SetMessage(const QString& text, bool error) {
  message_->setText(text);
  message_->setStyleSheet(error ? "QLabel { color: #c00000; }" : QString());
  if (error && !text.isEmpty()) qCWarning(lcGuiQualify).noquote() << text;
}

void CQualify::ShowVerdict(const QString& text, const QColor& colour) {
  verdict_->setText(text);
  QPalette p = verdict_->palette();
  p.setColor(QPalette::WindowText, colour);
  verdict_->setPalette(p);
}

void CQualify::FillSteps(const qualify::Plan& plan) {
  steps_->clear();
  auto add = [this](const qualify::Step& step, bool is_finally) {
    const QString name = QString::fromStdString(step.name);
    auto* item = new QTreeWidgetItem(
        steps_, {is_finally ? tr("finally: %1").arg(name) : name, QString(), QString()});
    item->setToolTip(kColStep, QString::fromStdString(qualify::StepKindName(step.kind)));
  };
  for (const auto& step : plan.steps) add(step, false);
  for (const auto& step : plan.finally) add(step, true);
}

bool CQualify::Run() {
  if (Running()) return false;
  const QString path = plan_->text().trimmed();
  if (path.isEmpty()) {
    SetMessage(tr("Choose a plan first."), true);
    return false;
  }
  // The whole plan is checked before any board traffic.
  qualify::Plan plan;
  try {
    plan = qualify::LoadPlan(path.toStdString());
  } catch (const qualify::PlanError& e) {
    SetMessage(tr("The plan cannot be used: %1").arg(QString::fromStdString(e.what())), true);
    return false;
  }
  FillSteps(plan);
  SetMessage(
      tr("Plan \"%1\" (sha256 %2)")
          .arg(QString::fromStdString(plan.name), QString::fromStdString(plan.hash.substr(0, 12))),
      false);
  ShowVerdict(tr("RUNNING"), QColor(90, 90, 90));
  details_->clear();

  // Deleted on the user-interface thread, whichever side lets go last.
  channel_ = std::shared_ptr<RunChannel>(new RunChannel, [](RunChannel* c) { c->deleteLater(); });
  connect(channel_.get(), &RunChannel::Step, this, &CQualify::OnStep, Qt::QueuedConnection);
  connect(channel_.get(), &RunChannel::Finished, this, &CQualify::OnFinished, Qt::QueuedConnection);
  UpdateButtons();

  QString version = QCoreApplication::applicationName();
  if (version.isEmpty()) version = "lanewright";
  if (!QCoreApplication::applicationVersion().isEmpty())
    version += " " + QCoreApplication::applicationVersion();
  qCInfo(lcGuiQualify).noquote() << "run" << path;
  CDevice* device = &app_.Device();
  app_.Link().Run([device, plan = std::move(plan), channel = channel_,
                   version = version.toStdString()] {
    RunResult result;
    // Without a board there is no module to qualify, and nothing to record.
    const std::string board_path = device->OpenPath();
    if (board_path.empty()) {
      result.error = QCoreApplication::translate("CQualify", "No board is open: nothing was run.");
      emit channel->Finished(result);
      return;
    }
    // The records database first, as the command-line tool does: a run
    // whose record could not be kept is not started.
    std::unique_ptr<records::Store> store;
    try {
      store = records::Store::Open(records::ResolveLocation(""));
    } catch (const records::StoreError& e) {
      result.error =
          QCoreApplication::translate("CQualify", "The records database: %1").arg(e.what());
      emit channel->Finished(result);
      return;
    }
    qualify::RunOptions options;
    options.board_path = board_path;
    options.tool_version = version;
    options.stop = &channel->stop;
    result.run = qualify::RunPlan(*device, plan, options, [&channel](const qualify::RunEvent& e) {
      using Kind = qualify::RunEvent::Kind;
      StepEvent ev;
      switch (e.kind) {
        case Kind::kStepStarted:
          ev.kind = StepEvent::Kind::kStarted;
          break;
        case Kind::kProgress:
          ev.kind = StepEvent::Kind::kProgress;
          break;
        case Kind::kStepFinished:
          ev.kind = StepEvent::Kind::kFinished;
          break;
        case Kind::kRunStarted:
        case Kind::kRunFinished:
          return;  // the page follows the steps, then the result
      }
      ev.row = e.step_index;
      ev.outcome = e.outcome;
      ev.text = QString::fromStdString(e.text);
      emit channel->Step(ev);
    });
    result.ran = true;
    try {
      result.run.id = store->Save(result.run);
    } catch (const records::StoreError& e) {
      result.store_error = QString::fromStdString(e.what());
    }
    emit channel->Finished(result);
  });
  return true;
}

void CQualify::Stop() {
  if (!channel_ || channel_->stop) return;
  channel_->stop = true;
  qCInfo(lcGuiQualify) << "stop asked";
  SetMessage(tr("Stopping: the current step ends, then the finally steps run."), false);
  UpdateButtons();
}

void CQualify::OnStep(const StepEvent& e) {
  QTreeWidgetItem* item = steps_->topLevelItem(e.row);
  if (!item) return;
  switch (e.kind) {
    case StepEvent::Kind::kStarted:
      item->setText(kColOutcome, tr("running"));
      item->setForeground(kColOutcome, QColor(90, 90, 90));
      steps_->setCurrentItem(item);
      break;
    case StepEvent::Kind::kProgress:
      item->setText(kColDetails, e.text);
      break;
    case StepEvent::Kind::kFinished:
      item->setText(kColOutcome, records::OutcomeName(e.outcome));
      item->setForeground(kColOutcome, OutcomeColour(e.outcome));
      item->setText(kColDetails, e.text);
      item->setToolTip(kColDetails, e.text);
      break;
  }
}

void CQualify::OnFinished(const RunResult& r) {
  channel_.reset();
  if (!r.ran) {
    ShowVerdict(QString(), QColor(Qt::black));
    SetMessage(r.error, true);
    UpdateButtons();
    return;
  }
  last_run_ = r.run;
  steps_->setCurrentItem(nullptr);
  steps_->clearSelection();
  const records::RunRecord& run = *last_run_;
  ShowVerdict(records::OutcomeName(run.verdict), OutcomeColour(run.verdict));
  QStringList lines;
  if (!run.verdict_message.empty()) lines << QString::fromStdString(run.verdict_message);
  lines << tr("module %1")
               .arg(run.serial.empty() ? tr("unknown") : QString::fromStdString(run.serial));
  if (!run.part_number.empty()) lines << QString::fromStdString(run.part_number);
  if (run.id) lines << tr("record %1").arg(run.id);
  details_->setText(lines.join("\n"));
  if (!r.store_error.isEmpty())
    SetMessage(tr("The run's record was not stored: %1").arg(r.store_error), true);
  qCInfo(lcGuiQualify).noquote() << "verdict" << records::OutcomeName(run.verdict) << "record"
                                 << run.id;
  UpdateButtons();
  emit RunFinished(run.verdict);
}

QString CQualify::OpenReport() {
  if (!last_run_ || !last_run_->id) return {};
  const QString dir = DataDirectory();
  if (dir.isEmpty() || !QDir().mkpath(dir + "/reports")) {
    SetMessage(tr("No data directory to write the report into."), true);
    return {};
  }
  const QString path = QStringLiteral("%1/reports/run-%2-%3.html")
                           .arg(dir)
                           .arg(last_run_->id)
                           .arg(SafeName(last_run_->serial));
  QSaveFile file(path);
  const std::string html = records::RenderHtmlReport(*last_run_);
  if (!file.open(QIODevice::WriteOnly) ||
      file.write(html.data(), static_cast<qint64>(html.size())) !=
          static_cast<qint64>(html.size()) ||
      !file.commit()) {
    SetMessage(tr("%1: cannot write the report").arg(path), true);
    return {};
  }
  if (open_url_ && !open_url_(QUrl::fromLocalFile(path)))
    SetMessage(tr("The report is in %1 (no program opened it).").arg(path), false);
  return path;
}

qualify_ui::CHistory* CQualify::ShowHistory() {
  if (!last_run_ || last_run_->serial.empty()) return nullptr;
  auto* dialog = new qualify_ui::CHistory(app_, QString::fromStdString(last_run_->serial), this);
  dialog->setAttribute(Qt::WA_DeleteOnClose);
  dialog->show();
  return dialog;
}
