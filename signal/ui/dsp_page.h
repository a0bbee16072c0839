// "Dsp": the DSP register page, a view over sigtest::DspPageModel. Its
// controls are built from the DSP block table; board work runs on the
// board worker and the controls are set from the results with signals
// blocked, so a refresh never echoes a write.
#pragma once

#include <QPointer>
#include <QWidget>
#include <vector>

#include "board/board_result.h"
#include "signal/dsp_page_model.h"
#include "signal/mode_report.h"

class AppContext;
class CLineCheck;
class QComboBox;
class QLineEdit;
class QPushButton;

class CDsp : public QWidget {
  Q_OBJECT
 public:
  // Control ids: the table's controls are kIdTable + their index in
  // sigtest::DspControls().
  enum Id {
    kIdRead = 1901,
    kIdWrite,
    kIdSave,
    kIdRate,
    kIdPattern,
    kIdVolts,
    kIdAmps,
    kIdWatts,
    kIdTable = 2000,
  };

  CDsp(AppContext& app, QWidget* parent = nullptr);
  ~CDsp() override;

  // Sends the mode reports to the line check page, queued (replacing an
  // earlier one).
  void SetLineCheckWindow(CLineCheck* line_check);
  // Every diagnostics refresh: power, then the periodic mode report.
  void Refresh();
  bool ResendFlag() const { return model_.ResendFlag() != 0; }
  void SetResendFlag(bool on) { model_.SetResendFlag(on ? 1 : 0); }

  // READ; a failure is answered with a message box and the fields keep
  // their values.
  void Read();
  // Returns false (and sends nothing) when a sixteen-bit field is not a
  // number; a WRITE the board does not take is answered with a message box.
  bool Write();
  void Save();

  const sigtest::DspPageModel& Model() const { return model_; }
  QWidget* Control(size_t index) const { return controls_[index]; }
  QComboBox* RateList() const { return rate_; }
  QComboBox* PatternList() const { return pattern_; }
  QString LastMessage() const { return last_message_; }

  // The power fields hold no current reading (the last power read failed).
  bool PowerStale() const;

 signals:
  // The mode report (0x4D3): after a WRITE, at every Refresh and when the
  // selections change.
  void ModeReported(const sigtest::ModeReport& report);

 protected:
  void keyPressEvent(QKeyEvent* event) override;

 private:
  // Where a failure is told: a message box answers a button, the status
  // line's message part the READ at initialisation.
  enum class Tell { kMessageBox, kStatusLine };
  void ReadBlock(Tell tell);
  void ShowBlock();
  void ShowPower(const sigtest::PowerReading& power, const BoardResult& result);
  void FillRates(int signalling, int selection);
  std::vector<sigtest::DspValue> Values() const;
  int Selection(const char* key) const;
  void SendReport(const sigtest::ModeReport& report);
  void ReportFromSelections();
  void Message(const QString& text, bool warning);

  AppContext& app_;
  sigtest::DspPageModel model_;
  QMetaObject::Connection to_line_check_;
  std::vector<QWidget*> controls_;  // aligned with sigtest::DspControls()
  QComboBox *rate_, *pattern_;
  QLineEdit *volts_, *amps_, *watts_;
  QString last_message_;
  uint64_t writes_ = 0;  // WRITE presses, so a READ older than a WRITE is dropped
};
