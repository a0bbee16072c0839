#include "signal/config_check.h"

#include <cstring>

#include "board/protocol.h"

namespace sigtest {

namespace {
constexpr int kPatterns = 11;
int Selection(int value, int count) { return value >= 0 && value < count ? value : -1; }
uint8_t ListByte(int selection) { return selection < 0 ? 0xFF : static_cast<uint8_t>(selection); }
}  // namespace

ConfigCheck::ConfigCheck(CheckerRecord& checker, std::array<GeneratorRecord, kLanes>& generators,
                         uint8_t all_lanes, int8_t automatic_pattern)
    : checker_(checker),
      generators_(generators),
      all_lanes_(all_lanes),
      automatic_pattern_(automatic_pattern) {
  form_.checker_lsb = Selection(checker_[checker::kLsbPattern], kPatterns);
  form_.checker_msb = Selection(checker_[checker::kMsbPattern], kPatterns);
  form_.automatic = checker_[checker::kAuto] != 0;
  form_.combined = checker_[checker::kCombined] != 0;
  form_.error_threshold = checker_[checker::kErrorThreshold];
  form_.cycle_threshold = checker_[checker::kCycleThreshold];
  form_.invert = checker_[checker::kInvert] != 0;

  GeneratorRecord& first = generators_[0];
  SetGeneratorTail(first);
  form_.generator_caption = first[generator::kOn] == 1 ? "Stop" : "Start";
  form_.generator_lsb = Selection(first[generator::kLsbPattern], kPatterns);
  form_.generator_msb = Selection(first[generator::kMsbPattern], kPatterns);
  form_.generator_combined = first[generator::kCombined] != 0;
  form_.generator_msb_lsb = !form_.generator_combined;
  // The automatic pattern selects all four lists (an index of 11-127 selects
  // nothing, as it would in the window).
  if (AutomaticMode()) {
    form_.checker_lsb = form_.checker_msb = Selection(automatic_pattern_, kPatterns);
    form_.generator_lsb = form_.generator_msb = Selection(automatic_pattern_, kPatterns);
  }
}

void ConfigCheck::SetGeneratorCombined(bool checked) {
  form_.generator_combined = checked;
  if (checked) form_.generator_msb_lsb = false;
}

void ConfigCheck::SetGeneratorMsbLsb(bool checked) {
  form_.generator_msb_lsb = checked;
  if (checked) form_.generator_combined = false;
}

BoardSteps ConfigCheck::PressGenerator() {
  BoardSteps steps;
  const std::string caption = form_.generator_caption;
  if (all_lanes_ == 0) return steps;
  for (int i = 0; i < kLanes; ++i) {
    GeneratorRecord& r = generators_[i];
    const bool start = caption == "Start", stop = caption == "Stop";
    if (start || stop) {
      form_.generator_caption = start ? "Stop" : "Start";
      r[generator::kOn] = start ? 1 : 0;
      r[generator::kSplit] = start && !form_.generator_combined ? 1 : 0;
      r[generator::kLsbPattern] = ListByte(form_.generator_lsb);
      r[generator::kMsbPattern] = ListByte(form_.generator_msb);
      r[generator::kCombined] = form_.generator_combined ? 1 : 0;
    }
    r[generator::kDevice] = i < 4 ? 0 : 1;
    r[generator::kLane] = static_cast<uint8_t>(i + 1);
    steps.push_back(SendRecord(board::kGeneratorConfig, r, kGeneratorWaitMs));
  }
  return steps;
}

void ConfigCheck::Close() {
  checker_[checker::kLsbPattern] = ListByte(form_.checker_lsb);
  checker_[checker::kMsbPattern] = ListByte(form_.checker_msb);
  checker_[checker::kAuto] = form_.automatic ? 1 : 0;
  checker_[checker::kCombined] = form_.combined ? 1 : 0;
  checker_[checker::kErrorThreshold] = ListByte(form_.error_threshold);
  checker_[checker::kCycleThreshold] = ListByte(form_.cycle_threshold);
  checker_[checker::kInvert] = form_.invert ? 1 : 0;
  std::memset(&checker_[checker::kFill], 0x33, checker::kFillEnd - checker::kFill);
  checker_[checker::kTwo] = 2;
  checker_[checker::kDevice] = 0;
  checker_[checker::kLane] = 1;
}

BoardSteps ConfigCheck::RunAutomatic() {
  form_.generator_caption = "Stop";
  BoardSteps steps = PressGenerator();
  steps.push_back(PauseStep(kRestartWaitMs));
  BoardSteps starts = PressGenerator();
  steps.insert(steps.end(), starts.begin(), starts.end());
  Close();
  return steps;
}

}  // namespace sigtest
