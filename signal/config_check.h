// The checker configuration dialog's logic, without a window: the Qt dialog
// is a view over a ConfigCheck, and the automatic mode runs it alone.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "signal/board_steps.h"
#include "signal/records.h"

namespace sigtest {

class ConfigCheck {
 public:
  static constexpr int kGeneratorWaitMs = 50;  // after each command 18
  static constexpr int kRestartWaitMs = 500;   // between the stops and the starts

  // What the dialog's controls hold. A list without a selection is -1.
  struct Form {
    int checker_lsb = -1, checker_msb = -1;
    int error_threshold = -1, cycle_threshold = -1;
    bool invert = false;
    bool combined = false;   // the "Combined" / "MSB/LSB" radio pair
    bool automatic = false;  // "Auto"
    int generator_lsb = -1, generator_msb = -1;
    bool generator_combined = false, generator_msb_lsb = false;  // two check boxes
    std::string generator_caption = "Start";
  };

  // `automatic_pattern` 0-127 selects the automatic mode with that pattern;
  // a negative value (an index of 128 or more taken as a signed byte) the
  // manual mode. Construction runs the dialog's initialisation: it fills the
  // form from the records and rewrites lane 1's generator tail.
  ConfigCheck(CheckerRecord& checker, std::array<GeneratorRecord, kLanes>& generators,
              uint8_t all_lanes = 1, int8_t automatic_pattern = -1);

  bool AutomaticMode() const { return automatic_pattern_ >= 0; }
  Form& GetForm() { return form_; }
  const Form& GetForm() const { return form_; }

  // The generator "Combined" / "MSB/LSB" check boxes, kept exclusive.
  void SetGeneratorCombined(bool checked);
  void SetGeneratorMsbLsb(bool checked);
  bool GeneratorLsbEnabled() const { return !form_.generator_combined; }

  // The generator button: writes all eight generator records and returns
  // their eight command-18 sends (50 ms after each). Nothing when the
  // all-lanes byte is 0.
  BoardSteps PressGenerator();
  // "Close": stores the checker settings into lane 1's checker record.
  void Close();
  // The automatic mode: eight stops, 500 ms, eight starts, then Close.
  BoardSteps RunAutomatic();

 private:
  CheckerRecord& checker_;
  std::array<GeneratorRecord, kLanes>& generators_;
  uint8_t all_lanes_;
  int8_t automatic_pattern_;
  Form form_;
};

}  // namespace sigtest
