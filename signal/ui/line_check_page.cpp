#include "signal/ui/line_check_page.h"

#include <QComboBox>
#include <QContextMenuEvent>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMouseEvent>
#include <QPushButton>
#include <QToolButton>

#include "gui/app_context.h"
#include "gui/dlu.h"
#include "gui/log.h"
#include "signal/board_steps.h"
#include "signal/ui/config_dialog.h"
#include "signal/ui/diagram.h"
#include "signal/ui/verdict_rule_dialog.h"
#include "signal/ui/widgets.h"

using sigtest::kLanes;
using sigui::Tag;

namespace {
constexpr int kGroupLeft = 238, kGroupWidth = 170, kGroupHeight = 86, kGroupGap = 4, kTop = 26;
const char* const kFieldLabels[] = {"Type", "BER", "Errors", "Time"};
}  // namespace

CLineCheck::CLineCheck(AppContext& app, QWidget* parent) : QWidget(parent), app_(app) {
  // Top row: Config, Start, Clear, Relock, and the hidden clock selector.
  int x = kGroupLeft;
  auto button = [&](const char* caption, int id) {
    auto* b = Tag(new QPushButton(caption, this), id);
    b->setGeometry(Dlu(x), Dlu(4), Dlu(50), Dlu(16));
    b->setAutoDefault(false);
    x += 56;
    return b;
  };
  config_ = button("Config", kIdConfig);
  start_ = button("Start", kIdStart);
  clear_ = button("Clear", kIdClear);
  relock_ = button("Relock", kIdRelock);
  auto* clock_label = Tag(new QLabel("Clock Sel:", this), kIdClockLabel);
  clock_ = Tag(new QComboBox(this), kIdClock);
  for (const char* name : sigtest::kReferenceClocks) clock_->addItem(name);
  clock_->setCurrentIndex(sigtest::kDefaultReferenceClock);  // nothing sent
  clock_label->setGeometry(Dlu(10), Dlu(6), Dlu(40), Dlu(12));
  clock_->setGeometry(Dlu(50), Dlu(4), Dlu(70), Dlu(14));
  clock_label->hide();
  clock_->hide();
  // The verdict rule, small, after the buttons; it opens the rule dialog.
  rule_button_ = Tag(new QToolButton(this), kIdRule);
  rule_button_->setAutoRaise(true);
  QFont small = rule_button_->font();
  small.setPointSizeF(small.pointSizeF() * 0.85);
  rule_button_->setFont(small);
  rule_button_->setText(RuleCaption(rule_));
  rule_button_->adjustSize();
  rule_button_->setGeometry(Dlu(x - 2), Dlu(4), rule_button_->width(), Dlu(16));
  connect(rule_button_, &QToolButton::clicked, this, &CLineCheck::OpenRuleDialog);
  scale_ = Tag(new QLabel(tr("Errors and BER shown \u00F710"), this), kIdScale);
  scale_->setStyleSheet(
      "QLabel { color: #8a5300; background: #fff3cd; border: 1px solid #e0b050; padding: 1px 4px; "
      "}");
  scale_->setFont(small);  // beside the rule, within the page's width
  scale_->move(rule_button_->geometry().right() + Dlu(2), Dlu(5));
  scale_->setMinimumHeight(Dlu(14));
  scale_->adjustSize();  // the whole text, whatever the font
  scale_->setToolTip(
      tr("The scale turned on by a double click on the title bar: the counts\n"
         "keep their true values; the page shows them divided by ten."));
  scale_->hide();

  // Channel groups: 1-4 on the left column, 5-8 on the right.
  for (int channel = 1; channel <= kLanes; ++channel) {
    const int lane = sigtest::LaneOfChannel(channel);
    const int base = kIdGroup + 10 * (channel - 1);
    const int column = (channel - 1) / 4, row = (channel - 1) % 4;
    auto* box = Tag(new QGroupBox(QStringLiteral("Channel %1").arg(channel), this), base);
    box->setGeometry(Dlu(kGroupLeft + column * (kGroupWidth + kGroupGap)),
                     Dlu(kTop + row * (kGroupHeight + kGroupGap)), Dlu(kGroupWidth),
                     Dlu(kGroupHeight));
    Group& g = groups_[lane - 1];
    g.lamp = Tag(new QLabel(box), base + kFieldLamp);
    g.lamp->setGeometry(Dlu(6), Dlu(12), Dlu(16), Dlu(16));
    QLineEdit** fields[] = {&g.type, &g.ber, &g.errors, &g.time};
    for (int f = 0; f < 4; ++f) {
      auto* label = new QLabel(kFieldLabels[f], box);
      label->setGeometry(Dlu(28), Dlu(12 + 18 * f), Dlu(34), Dlu(14));
      auto* edit = Tag(new QLineEdit(box), base + kFieldType + f);
      edit->setReadOnly(true);
      edit->setAlignment(Qt::AlignCenter);
      edit->setGeometry(Dlu(64), Dlu(11 + 18 * f), Dlu(98), Dlu(15));
      QFont bold = edit->font();
      bold.setWeight(QFont::Bold);
      edit->setFont(bold);
      *fields[f] = edit;
    }
    // The compact verdict line, right of the caption.
    g.verdict = Tag(new QLabel(box), base + kFieldVerdict);
    g.verdict->setGeometry(Dlu(50), 0, Dlu(kGroupWidth - 54), Dlu(10));
    g.verdict->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    g.verdict->setFont(small);
    // A double click on BER or Type opens the charts.
    g.ber->installEventFilter(this);
    g.type->installEventFilter(this);
  }

  diagram_ = new CDiagram(history_, this);
  connect(this, &CLineCheck::ChartRequested, diagram_, &CDiagram::ShowLane, Qt::QueuedConnection);
  diagram_->hide();

  timer_.setInterval(sigtest::LineCheck::kTickMs);
  connect(&timer_, &QTimer::timeout, this, [this] {
    if (isVisible()) Tick();
  });
  connect(start_, &QPushButton::clicked, this, &CLineCheck::OnStart);
  connect(config_, &QPushButton::clicked, this, &CLineCheck::OnConfig);
  connect(clear_, &QPushButton::clicked, this, [this] {
    engine_.Clear();
    Render();
  });
  connect(relock_, &QPushButton::clicked, this, [this] { Send(engine_.Relock()); });
  connect(clock_, &QComboBox::currentIndexChanged, this,
          [this](int index) { Send(sigtest::LineCheck::SelectClock(index)); });

  // Asks the main window to show the diagnostics window beside this page.
  emit app.Signals().ShowDdmRequested(true);
}

// The diagram reads the history, which goes with this page's members.
CLineCheck::~CLineCheck() { delete diagram_; }

void CLineCheck::Send(const sigtest::BoardSteps& steps) {
  if (steps.empty()) return;
  CDevice* device = &app_.Device();
  app_.Link().Run(
      this, [device, steps] { return sigtest::RunSteps(*device, steps); },
      [this](const BoardResult& r) {
        // A start, stop or pattern that did not reach every lane is said,
        // not left to show as a lane that does not lock.
        if (r) return;
        const QString text = QString::fromStdString("Checker: " + r.Text());
        qCWarning(lcGuiSignal).noquote() << text;
        emit app_.Signals().StatusText(text);
      });
}

void CLineCheck::OnStart() {
  if (!engine_.Running()) {
    Send(engine_.Start());
    timer_.start();
  } else {
    timer_.stop();
    Send(engine_.Stop());
  }
  start_->setText(engine_.StartCaption());
}

void CLineCheck::StopIfRunning() {
  if (!engine_.Running()) return;
  timer_.stop();
  Send(engine_.Stop());
  start_->setText(engine_.StartCaption());
}

void CLineCheck::OnConfig() {
  // Modal for the user, but not a nested loop: the page's ticks and board
  // results go on while the dialog is up, and nothing waits on it.
  if (config_dialog_) {
    config_dialog_->raise();
    return;
  }
  auto* dialog = new CConfigCheck(app_, engine_.Checkers()[0], engine_.Generators(), 1, this);
  dialog->setAttribute(Qt::WA_DeleteOnClose);
  config_dialog_ = dialog;
  // Whatever closed it, lane 1's records go to the other lanes.
  connect(dialog, &QDialog::finished, this, [this] { engine_.SpreadFirstLane(); });
  dialog->open();
}

void CLineCheck::ApplyPattern(uint8_t index) {
  if (sigtest::LineCheck::AppliesAutomatically(index)) {
    // Without a window: the records change now, the sends (with their
    // 500 ms pause) run on the board worker.
    Send(engine_.ApplyPattern(index));
    return;
  }
  // The manual dialog opens from the event loop, not from inside the caller
  // (a tab switch may be tearing the pages down).
  QMetaObject::invokeMethod(this, &CLineCheck::OnConfig, Qt::QueuedConnection);
}

void CLineCheck::SetDivideByTen() {
  engine_.SetDivideByTen();
  scale_->show();
  Render();
}

void CLineCheck::Tick() {
  if (tick_in_flight_) {
    tick_due_ = true;  // the next one waits for this one
    return;
  }
  RunTick();
}

void CLineCheck::RunTick() {
  tick_in_flight_ = true;
  CDevice* device = &app_.Device();
  app_.Link().Run(
      this, [device] { return sigtest::ReadTick(*device); },
      [this](const sigtest::TickSample& sample) {
        engine_.ApplyTick(sample);
        sigtest::RecordTick(history_, engine_, rule_);
        Render();
        tick_in_flight_ = false;
        if (tick_due_) {
          tick_due_ = false;
          if (engine_.Running()) RunTick();
        }
      });
}

void CLineCheck::SetRule(const sigtest::VerdictRule& rule) {
  rule_ = rule;
  rule_button_->setText(RuleCaption(rule_));
  rule_button_->adjustSize();
  rule_button_->resize(rule_button_->width(), Dlu(16));
  scale_->move(rule_button_->geometry().right() + Dlu(2), scale_->y());
  Render();
}

void CLineCheck::OpenRuleDialog() {
  // Like Config: modal for the user, without a nested loop.
  if (rule_dialog_) {
    rule_dialog_->raise();
    return;
  }
  auto* dialog = new CVerdictRule(rule_, this);
  dialog->setAttribute(Qt::WA_DeleteOnClose);
  rule_dialog_ = dialog;
  connect(dialog, &QDialog::accepted, this, [this, dialog] { SetRule(dialog->Rule()); });
  dialog->open();
}

void CLineCheck::contextMenuEvent(QContextMenuEvent* event) {
  QMenu menu(this);
  menu.addAction(tr("Verdict rule (%1)...").arg(RuleCaption(rule_)), this,
                 &CLineCheck::OpenRuleDialog);
  menu.exec(event->globalPos());
}

void CLineCheck::Render() {
  static const QIcon green = sigui::LampIcon(true), red = sigui::LampIcon(false);
  std::array<sigtest::LaneSummary, kLanes> by_chart;
  for (int lane = 1; lane <= kLanes; ++lane) {
    const Group& g = groups_[lane - 1];
    const auto& shown = engine_.ShownLane(lane);
    g.type->setText(QString::fromStdString(shown.type));
    // A lane that has not locked since Clear has no BER to show (the kept
    // 1.0 only means that no bit was counted).
    g.ber->setText(engine_.History(lane).ever_locked ? QString::fromStdString(shown.ber)
                                                     : QString());
    g.errors->setText(QString::fromStdString(shown.errors));
    g.time->setText(QString::fromStdString(shown.time));
    const QColor colour = engine_.TextTone(lane) == sigtest::LineCheck::Tone::kGreen
                              ? sigui::GoodColour()
                              : sigui::BadColour();
    for (QLineEdit* e : {g.type, g.ber, g.errors}) {
      QPalette p = e->palette();
      p.setColor(QPalette::Text, colour);
      e->setPalette(p);
    }
    switch (shown.lamp) {
      case sigtest::LineCheck::Lamp::kNone:
        g.lamp->clear();
        break;
      case sigtest::LineCheck::Lamp::kGreen:
        g.lamp->setPixmap(green.pixmap(Dlu(16), Dlu(16)));
        break;
      case sigtest::LineCheck::Lamp::kRed:
        g.lamp->setPixmap(red.pixmap(Dlu(16), Dlu(16)));
        break;
    }
    g.lamp->setProperty("lamp", static_cast<int>(shown.lamp));

    // What the lane can claim, in true values whatever the scale.
    const sigtest::LaneFacts facts = sigtest::FactsOf(engine_, lane);
    sigtest::LaneSummary summary = sigtest::SummariseLane(facts, rule_);
    g.verdict->setText(QString::fromStdString(summary.line));
    QPalette p = g.verdict->palette();
    p.setColor(QPalette::WindowText,
               summary.verdict.verdict == sigtest::Verdict::kPass   ? sigui::GoodColour()
               : summary.verdict.verdict == sigtest::Verdict::kFail ? sigui::BadColour()
                                                                    : QColor(70, 70, 70));
    g.verdict->setPalette(p);
    const QString details =
        facts.seconds == 0 ? QString() : QString::fromStdString(sigtest::LaneDetails(facts, rule_));
    g.verdict->setToolTip(details);
    g.ber->setToolTip(details);
    by_chart[sigtest::ChannelOfLane(lane) - 1] = std::move(summary);
  }
  diagram_->Refresh(by_chart, rule_.target);
}

void CLineCheck::OnModeReport(const sigtest::ModeReport& report) {
  const auto outcome = engine_.HandleModeReport(report);
  if (outcome.apply) ApplyPattern(outcome.pattern);
  emit app_.Signals().StatusText(QString::fromStdString(outcome.text));
}

bool CLineCheck::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::MouseButtonDblClick &&
      static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
    for (int lane = 1; lane <= kLanes; ++lane) {
      const Group& g = groups_[lane - 1];
      if (watched == g.ber || watched == g.type) {
        emit ChartRequested(lane);
        break;
      }
    }
  }
  return QWidget::eventFilter(watched, event);
}

void CLineCheck::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Escape || event->key() == Qt::Key_Return ||
      event->key() == Qt::Key_Enter) {
    event->accept();  // a page neither closes nor presses anything on these
    return;
  }
  QWidget::keyPressEvent(event);
}
