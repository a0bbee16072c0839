// A qualification plan: the steps to run on a module, in order, the steps
// that always run at the end (`finally`), and the limit profiles chosen by
// the module's part number. Plans are TOML files; a plan is validated fully
// (keys, types, step kinds, limits, required parameters) before any board
// traffic, and every error names the file, line and column.
#pragma once

#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace qualify {

// A plan that cannot be used. what() is "FILE:LINE:COL: reason", or
// "FILE: reason" when there is no position.
struct PlanError : std::runtime_error {
  PlanError(const std::string& file_name, int line_no, int column_no, const std::string& why);
  std::string file;
  int line = 0;    // 1-based; 0 when the error has no position (an unreadable file)
  int column = 0;  // 1-based; 0 when unknown
  std::string reason;
};

// A limit on one quantity, each side optional (one-sided when alone).
struct Limit {
  std::optional<double> low;
  std::optional<double> high;
};

// The limits and expectations for modules whose part number matches
// `match` (an fnmatch glob). The default profile has match "*".
struct Profile {
  std::string name;
  std::string match = "*";
  bool is_default = false;
  // Expected identity: glob patterns on "vendor", "part_number", "serial",
  // "revision", "firmware". Absent keys are not checked.
  std::map<std::string, std::string> expected;
  // Limits by quantity name: "temperature" (degC), "vcc" (V), "bias" (mA),
  // "tx_power" (dBm), "rx_power" (dBm), and for tx-disable
  // "disabled_bias" (mA), "disabled_tx_power" (dBm).
  std::map<std::string, Limit> limits;
};

// What a step does.
enum class StepKind {
  kIdentify,
  kThresholds,
  kDdm,
  kTxDisable,
  kApplication,
  kBer,
  kFlags,
  kEepromCheck,
  kTxEnable,      // finally: Tx enabled on all lanes
  kStopCheckers,  // finally: the board's checkers stopped
};
// The kind's name in a plan: "identify", "tx-disable", "stop-checkers", ...
const char* StepKindName(StepKind kind);

// One step and its parameters; each kind reads only its own.
struct Step {
  std::string name;  // as the plan names it, or the kind's name
  StepKind kind = StepKind::kIdentify;
  bool stop_on_fail = false;  // a FAIL or ERROR ends the run (the finally steps still run)
  int line = 0;               // where the step is in the plan file
  // ddm: `samples` readings spread over `seconds`.
  int samples = 5;
  double seconds = 2;
  // tx-disable: lanes (1..8) to test; empty means all eight. Also ddm/ber/application.
  std::vector<int> lanes;
  // application: the application code (AppSel, 1..15) to apply to every lane.
  int application = 1;
  // ber: the verdict rule, as `ber` takes it.
  std::string pattern = "PRBS31";
  double target = 1e-12;
  double confidence = 0.95;
  int allowed_errors = 0;
  int max_seconds = 60;  // the step gives up (ERROR) when no verdict by then
  // eeprom-check: the page file (relative to the plan's folder).
  std::string page_file;
};

struct Plan {
  std::string name;       // the plan's `name`, else its file name
  std::string file_name;  // as given to LoadPlan / ParsePlan
  std::string text;       // the whole TOML text
  std::string hash;       // SHA-256 of `text`, lowercase hex
  std::vector<Step> steps;
  std::vector<Step> finally;      // always run at the end, in order
  std::vector<Profile> profiles;  // in plan order; the default one included

  // The first profile (in plan order) whose glob matches the part number,
  // else the default profile. A plan always has one: a plan without a
  // default profile gets an empty one named "default".
  const Profile& ProfileFor(const std::string& part_number) const;
};

// Reads and validates a plan file; throws PlanError (line 0 when the file
// cannot be read).
Plan LoadPlan(const std::string& path);
// Validates a plan given as text; `file_name` is used in messages and to
// resolve relative page files.
Plan ParsePlan(const std::string& text, const std::string& file_name);

// SHA-256 of `data`, lowercase hex.
std::string Sha256Hex(const std::string& data);

}  // namespace qualify
