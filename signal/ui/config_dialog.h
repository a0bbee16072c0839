// "Config": the modal checker and generator configuration dialog, a view
// over sigtest::ConfigCheck. The generator button's eight sends run on the
// board worker; the dialog never waits for them.
#pragma once

#include <QDialog>
#include <memory>

#include "signal/config_check.h"

class AppContext;
class QCheckBox;
class QComboBox;
class QPushButton;
class QRadioButton;

class CConfigCheck : public QDialog {
  Q_OBJECT
 public:
  // Control ids of the dialog.
  enum Id {
    kIdCheckerLsb = 1201,
    kIdCheckerMsb,
    kIdErrorThreshold,
    kIdCycleThreshold,
    kIdInvert,
    kIdCombined,
    kIdMsbLsb,
    kIdAuto,
    kIdGeneratorLsb,
    kIdGeneratorMsb,
    kIdGeneratorCombined,
    kIdGeneratorMsbLsb,
    kIdGeneratorStart,
    kIdClose,
  };

  // The manual mode (the automatic mode runs sigtest::ConfigCheck alone).
  CConfigCheck(AppContext& app, sigtest::CheckerRecord& checker,
               std::array<sigtest::GeneratorRecord, sigtest::kLanes>& generators, uint8_t all_lanes,
               QWidget* parent = nullptr);
  ~CConfigCheck() override;

  sigtest::ConfigCheck& Logic() { return *logic_; }

 private:
  void ToForm();
  void ShowForm();
  void PressGenerator();
  void OnClose();

  AppContext& app_;
  std::unique_ptr<sigtest::ConfigCheck> logic_;
  QComboBox *checker_lsb_, *checker_msb_, *error_threshold_, *cycle_threshold_;
  QCheckBox *invert_, *auto_;
  QRadioButton *combined_, *msb_lsb_;
  QComboBox *generator_lsb_, *generator_msb_;
  QCheckBox *generator_combined_, *generator_msb_lsb_;
  QPushButton* generator_button_;
};
