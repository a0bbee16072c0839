// One qualification run as it is stored: who ran it where, on which module,
// with which plan, each step's measurements against their limits, and the
// verdict. Plain data, shared by the runner, the stores and the report.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace records {

// The outcome of one measurement, one step or the whole run.
enum class Outcome { kPass, kFail, kSkip, kError };

// "PASS", "FAIL", "SKIP", "ERROR".
const char* OutcomeName(Outcome outcome);
// Parses the names above (any case); false for anything else.
bool ParseOutcome(const std::string& text, Outcome* outcome);

// One measured quantity. A number the module did not give is absent
// (`value` empty), never zero; a text measurement (a vendor name, a part
// number) keeps `text` and its expected pattern instead.
struct Measurement {
  std::string name;  // "bias", "tx power", "vendor"
  int lane = 0;      // 1..8, or 0 for the module
  std::string unit;  // "mA", "dBm", "" for texts
  std::optional<double> value;
  std::string text;           // a text value
  std::optional<double> low;  // limits, each one-sided when alone
  std::optional<double> high;
  std::string expected;  // a text value's expected pattern
  Outcome outcome = Outcome::kPass;
  std::string note;  // why it failed or was skipped
  bool operator==(const Measurement&) const = default;
};

// A point of a time series (BER of a lane, a DDM monitor) for the report.
struct Sample {
  std::string series;  // "ber", "ber upper", "temperature", "rx power"
  int lane = 0;        // 1..8, or 0 for the module
  double t_s = 0;      // seconds since the run started
  double value = 0;
  bool operator==(const Sample&) const = default;
};

// A latched flag raised during the run.
struct FlagEvent {
  double t_s = 0;     // seconds since the run started
  std::string flag;   // "Rx LOS"
  int lane = 0;       // 1..8, or 0 for the module
  std::string event;  // "raised", "cleared"
  bool operator==(const FlagEvent&) const = default;
};

struct StepRecord {
  std::string name;  // as the plan names it, or its kind
  std::string kind;  // "identify", "ddm", "ber", ...
  Outcome outcome = Outcome::kPass;
  std::string message;     // one line: why it failed, skipped or erred
  int64_t started_ms = 0;  // Unix time, milliseconds, UTC
  int64_t ended_ms = 0;
  std::vector<Measurement> measurements;
  std::vector<Sample> samples;
  bool operator==(const StepRecord&) const = default;
};

struct RunRecord {
  int64_t id = 0;  // set by the store
  // Station.
  std::string host;
  std::string user;
  std::string board_path;    // where known
  std::string board_serial;  // where known
  // Module identity, as read (empty when not read).
  std::string vendor;
  std::string part_number;
  std::string serial;
  std::string revision;
  std::string firmware;
  // Plan.
  std::string plan_name;  // its file name
  std::string plan_text;  // the whole TOML text
  std::string plan_hash;  // SHA-256 of plan_text, hex
  std::string profile;    // the limit profile chosen
  // Result.
  Outcome verdict = Outcome::kError;  // PASS, FAIL or ERROR (never SKIP)
  std::string verdict_message;        // why, when not PASS
  int64_t started_ms = 0;             // Unix time, milliseconds, UTC
  int64_t ended_ms = 0;
  std::string tool_version;
  std::vector<StepRecord> steps;
  std::vector<FlagEvent> flag_events;
  bool operator==(const RunRecord&) const = default;
};

}  // namespace records
