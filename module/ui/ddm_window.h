// The diagnostics window: the module's temperature, supply voltage and the
// eight channels' bias and optical powers, green, or red while any warning
// or alarm flag of the value is set; grey when it is not a reading (the last
// refresh could not read it, or the board is gone). A frameless tool window
// that the main window shows beside the "Checker" tab. A value whose latched
// flags the module's flag reader saw raised since the last "Acknowledge" is
// underlined, its tooltip reading "Tx power low warning: raised 1x, first
// 12:01:03"; the colours stay those of the current flags. (Its class was
// called CDDM once.)
#pragma once

#include <QTimer>
#include <QWidget>
#include <vector>

class AppContext;
class QLineEdit;
struct ModuleImages;

class DdmWindow : public QWidget {
  Q_OBJECT
 public:
  static constexpr int kFirstPeriodMs = 3500;
  static constexpr int kPeriodMs = 1500;

  DdmWindow(AppContext& app, QWidget* parent = nullptr);
  // Starts the updates: the first refresh 3500 ms from now, then every 1500 ms.
  void StartUpdates();
  // Stops the updates, clears the status line's message part and greys the values.
  void StopUpdates();

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  void Refresh();
  void Show(const ModuleImages& images);
  void ShowSticky();

  AppContext& app_;
  QTimer timer_;
  bool in_flight_ = false;
  // The value fields: temperature, supply voltage, then per channel bias,
  // Tx power and Rx power.
  std::vector<QLineEdit*> fields_;
  // The latched flags of each field.
  std::vector<std::vector<const char*>> sticky_keys_;
};
