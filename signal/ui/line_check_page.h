// "Checker": the line check page, a view over sigtest::LineCheck. Board work
// runs on the board worker; a tick's eight status exchanges come back as one
// result, and ticks never pile up.
#pragma once

#include <QPointer>
#include <QTimer>
#include <QWidget>
#include <array>
#include <cstdint>

#include "signal/ber_history.h"
#include "signal/lane_summary.h"
#include "signal/line_check.h"
#include "signal/mode_report.h"
#include "signal/ui/config_dialog.h"
#include "signal/ui/verdict_rule_dialog.h"

class AppContext;
class CDiagram;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QToolButton;

class CLineCheck : public QWidget {
  Q_OBJECT
 public:
  // Control ids. Channel group n (1-8): base + 10 (n - 1) + field.
  enum Id {
    kIdConfig = 1001,
    kIdStart,
    kIdClear,
    kIdRelock,
    kIdClock,
    kIdClockLabel,
    kIdScale,
    kIdRule,
    kIdGroup = 1100,  // + 10 (n - 1): the group box
    kFieldLamp = 1,
    kFieldType,
    kFieldBer,
    kFieldErrors,
    kFieldTime,
    kFieldVerdict,  // the compact verdict line in the group's caption row
  };

  CLineCheck(AppContext& app, QWidget* parent = nullptr);
  ~CLineCheck() override;

  void StopIfRunning();
  void ApplyPattern(uint8_t index);
  uint8_t LastAppliedPattern() const { return engine_.LastAppliedPattern(); }
  void SetDivideByTen();

  const sigtest::LineCheck& Engine() const { return engine_; }
  // Every tick's point of every lane, shown in the diagram or not.
  const sigtest::BerHistory& History() const { return history_; }
  // For benchmarks that start from a long run.
  sigtest::BerHistory& MutableHistory() { return history_; }
  CDiagram* Diagram() const { return diagram_; }
  // The rule the verdict lines judge by (1e-12 at 95 %, no error allowed
  // unless changed).
  const sigtest::VerdictRule& Rule() const { return rule_; }
  void SetRule(const sigtest::VerdictRule& rule);
  // The rule dialog while it is open, else null.
  CVerdictRule* RuleDialog() const { return rule_dialog_; }
  void OpenRuleDialog();
  // The manual configuration dialog while it is open, else null.
  CConfigCheck* ConfigDialog() const { return config_dialog_; }
  // One tick now (the timer's work): runs the exchanges unless a tick is
  // still out, in which case it follows that one.
  void Tick();
  bool TickInFlight() const { return tick_in_flight_; }

 public slots:
  // The Dsp page's mode report (0x4D3): applies its pattern when it asks for
  // it and puts the mode on the status line.
  void OnModeReport(const sigtest::ModeReport& report);

 signals:
  // A double click on a channel's BER or Type field (0x401): the diagram
  // shows that DSP lane's chart once the click has been handled.
  void ChartRequested(int lane);

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void contextMenuEvent(QContextMenuEvent* event) override;

 private:
  struct Group {
    QLabel* lamp;
    QLineEdit *type, *ber, *errors, *time;
    QLabel* verdict;
  };
  void Send(const sigtest::BoardSteps& steps);
  void OnStart();
  void OnConfig();
  void Render();
  void RunTick();

  AppContext& app_;
  sigtest::LineCheck engine_;
  sigtest::BerHistory history_;
  sigtest::VerdictRule rule_;
  std::array<Group, sigtest::kLanes> groups_{};  // by DSP lane
  QPushButton *config_, *start_, *clear_, *relock_;
  QComboBox* clock_;
  QLabel* scale_;
  QToolButton* rule_button_;
  QPointer<CVerdictRule> rule_dialog_;
  CDiagram* diagram_ = nullptr;
  QPointer<CConfigCheck> config_dialog_;
  QTimer timer_;
  bool tick_in_flight_ = false;
  bool tick_due_ = false;
};
