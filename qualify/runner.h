// Runs a qualification plan on one module through one board. RunPlan blocks
// and does all board traffic on the caller's thread (the CLI's, or the
// GUI's board worker); it never uses Qt and does not store the record.
#pragma once

#include <atomic>
#include <functional>
#include <string>

#include "qualify/plan.h"
#include "records/run_record.h"

class CDevice;

namespace qualify {

struct RunEvent {
  enum class Kind {
    kRunStarted,    // run: station and plan filled, identity not yet
    kStepStarted,   // step_index, step_name
    kStepFinished,  // step_index, step_name, outcome, step
    kRunFinished,   // outcome (the verdict), run
    kProgress,      // text: what the current step is doing ("lane 3", "12 s of 40")
  };
  Kind kind = Kind::kProgress;
  int step_index = -1;  // index into plan.steps, then plan.finally after them
  std::string step_name;
  records::Outcome outcome = records::Outcome::kPass;
  std::string text;
  bool is_finally = false;  // the step is one of the plan's finally steps
  // Valid only during the callback.
  const records::StepRecord* step = nullptr;
  const records::RunRecord* run = nullptr;
};

struct RunOptions {
  std::string board_path;    // where known
  std::string board_serial;  // where known
  std::string tool_version;  // "lanewright-cli 1.0 (1b12a81)"
  // Set (from another thread or a signal handler) to end the run: the
  // current step ends as soon as it can, the remaining steps are skipped,
  // the finally steps run, and the verdict is ERROR ("interrupted").
  const std::atomic<bool>* stop = nullptr;
};

// Runs `plan` and returns the filled record (id 0). Never throws for a
// board failure: that step is ERROR and so is the verdict.
records::RunRecord RunPlan(CDevice& device, const Plan& plan, const RunOptions& options,
                           const std::function<void(const RunEvent&)>& on_event);

// The run's verdict from its steps: ERROR if any step erred (or the run was
// stopped), else FAIL if any failed, else PASS. SKIP counts as neither.
records::Outcome Verdict(const records::RunRecord& run);

}  // namespace qualify
