// The qualification runner: each step reads the module through the module
// object (so every latched flag goes through its one flag reader), the BER
// step through the line check and its verdict, the EEPROM check through the
// transfer engine, all on the caller's thread.
#include "qualify/runner.h"

#include <fnmatch.h>
#include <pwd.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <map>
#include <set>
#include <thread>

#include "board/device.h"
#include "module/cmis_decode.h"
#include "module/controls.h"
#include "module/ddm.h"
#include "module/flag_reader.h"
#include "module/qsfp_dd.h"
#include "module/register_map.h"
#include "signal/ber_stats.h"
#include "signal/board_steps.h"
#include "signal/line_check.h"
#include "signal/tables.h"
#include "transfer/transfer_engine.h"

namespace qualify {

using records::Measurement;
using records::Outcome;
using records::RunRecord;
using records::StepRecord;
using Clock = std::chrono::steady_clock;

Outcome Verdict(const RunRecord& run) {
  bool fail = false;
  for (const StepRecord& s : run.steps) {
    if (s.outcome == Outcome::kError) return Outcome::kError;
    fail = fail || s.outcome == Outcome::kFail;
  }
  return fail ? Outcome::kFail : Outcome::kPass;
}

namespace {

// A lane's Tx disable through the control table, as `set tx-disable` writes it.
BoardResult SetTxDisable(CSfpBase& module, int lane, bool disabled) {
  return FindControl("tx-disable")->Apply(module, lane, disabled ? 1 : 0);
}

// Waits between polls: real time, whatever pause the board object uses.
void SleepMs(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

int64_t NowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

std::string HostName() {
  char name[256] = {};
  if (gethostname(name, sizeof name - 1) != 0) return "";
  return name;
}

std::string UserName() {
  if (const passwd* pw = getpwuid(getuid()); pw && pw->pw_name) return pw->pw_name;
  if (const char* user = std::getenv("USER")) return user;
  return "";
}

std::string Fixed(double v, int decimals) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.*f", decimals, v);
  return buf;
}

std::string Sci(double v) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.2e", v);
  return buf;
}

// A step's outcome from its measurements: ERROR over FAIL over PASS; a
// step whose measurements were all skipped is SKIP.
Outcome FromMeasurements(const std::vector<Measurement>& list) {
  if (list.empty()) return Outcome::kPass;
  bool fail = false, pass = false;
  for (const Measurement& m : list) {
    if (m.outcome == Outcome::kError) return Outcome::kError;
    fail = fail || m.outcome == Outcome::kFail;
    pass = pass || m.outcome == Outcome::kPass;
  }
  return fail ? Outcome::kFail : pass ? Outcome::kPass : Outcome::kSkip;
}

// Judges a numeric measurement against its limits.
void Judge(Measurement& m) {
  if (!m.value || !std::isfinite(*m.value)) {
    m.outcome = Outcome::kFail;
    if (m.note.empty()) m.note = "no reading";
    return;
  }
  const double v = *m.value;
  if (m.low && v < *m.low) {
    m.outcome = Outcome::kFail;
    if (m.note.empty()) m.note = "below " + Fixed(*m.low, 3);
  } else if (m.high && v > *m.high) {
    m.outcome = Outcome::kFail;
    if (m.note.empty()) m.note = "above " + Fixed(*m.high, 3);
  } else {
    m.outcome = Outcome::kPass;
  }
}

// A monitor reading as a measurement's value: NaN (no reading) is absent.
std::optional<double> Reading(double value) {
  return std::isfinite(value) ? std::optional<double>(value) : std::nullopt;
}

Measurement Numeric(const std::string& name, int lane, const std::string& unit,
                    std::optional<double> value, std::optional<double> low,
                    std::optional<double> high) {
  Measurement m;
  m.name = name;
  m.lane = lane;
  m.unit = unit;
  m.value = value;
  m.low = low;
  m.high = high;
  return m;
}

// A board operation that failed: the step ends in ERROR saying which.
struct BoardFailure {
  std::string text;
};

void Check(const BoardResult& r, const std::string& what) {
  if (!r) throw BoardFailure{what + ": " + r.Text()};
}

// The "maximum duration" codes of page 01h (4 bits): the upper end of each
// range, in milliseconds; nothing for the reserved codes.
std::optional<double> DurationCodeMs(int code) {
  static const double ms[] = {1,    5,     10,    50,     100,    500,    1000,
                              5000, 10000, 60000, 300000, 600000, 3000000};
  if (code >= 0 && code < static_cast<int>(std::size(ms))) return ms[code];
  return std::nullopt;
}

// Flag keys that are alarms or faults: a module raising one of them fails
// the flags step. Warnings and state changes are recorded only.
bool IsAlarmOrFault(const std::string& key) {
  return key.find("alarm") != std::string::npos || key.find("fault") != std::string::npos ||
         key.find("error") != std::string::npos || key.find("los") != std::string::npos ||
         key.find("lol") != std::string::npos;
}

// Flags a step provokes on purpose on the lanes it works on (a disabled Tx
// has no light; a re-initialising data path none for a moment).
bool ProvokedBy(StepKind kind, const std::string& key) {
  if (kind != StepKind::kTxDisable && kind != StepKind::kApplication) return false;
  return key.find("low") != std::string::npos || key == "rx-los" || key == "rx-cdr-lol" ||
         (kind == StepKind::kApplication && (key == "tx-los" || key == "tx-cdr-lol"));
}

class Runner {
 public:
  Runner(CDevice& device, const Plan& plan, const RunOptions& options,
         const std::function<void(const RunEvent&)>& on_event)
      : device_(device), plan_(plan), options_(options), on_event_(on_event), module_(&device) {}

  RunRecord Run();

 private:
  bool Stopped() const { return options_.stop && options_.stop->load(); }
  double SinceStart() const { return std::chrono::duration<double>(Clock::now() - start_).count(); }
  void Emit(RunEvent e) {
    if (on_event_) on_event_(e);
  }
  void Progress(const std::string& text) {
    RunEvent e;
    e.kind = RunEvent::Kind::kProgress;
    e.step_index = step_index_;
    e.step_name = step_name_;
    e.text = text;
    e.is_finally = in_finally_;
    Emit(e);
  }
  // Sleeps up to `seconds`, ending early on the stop flag; false when stopped.
  bool Sleep(double seconds) {
    const auto until = Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                          std::chrono::duration<double>(seconds));
    while (Clock::now() < until) {
      if (Stopped()) return false;
      SleepMs(static_cast<int>(std::clamp(
          std::chrono::duration<double, std::milli>(until - Clock::now()).count(), 1.0, 50.0)));
    }
    return !Stopped();
  }
  std::vector<int> Lanes(const Step& step) const {
    if (!step.lanes.empty()) return step.lanes;
    std::vector<int> all;
    const int count = advertised_ ? advertised_->media_lanes : kLanes;
    for (int lane = 1; lane <= count; ++lane) all.push_back(lane);
    return all;
  }
  std::optional<Limit> ProfileLimit(const std::string& name) const {
    auto it = profile_->limits.find(name);
    if (it == profile_->limits.end()) return std::nullopt;
    return it->second;
  }

  bool ReadIdentity(std::string* failure);
  StepRecord RunStep(const Step& step);
  void Identify(const Step& step, StepRecord& rec);
  void Thresholds(const Step& step, StepRecord& rec);
  void Ddm(const Step& step, StepRecord& rec);
  void TxDisable(const Step& step, StepRecord& rec);
  void Application(const Step& step, StepRecord& rec);
  void Ber(const Step& step, StepRecord& rec);
  void Flags(const Step& step, StepRecord& rec);
  void EepromCheck(const Step& step, StepRecord& rec);
  void TxEnable(const Step& step, StepRecord& rec);
  void StopCheckers(const Step& step, StepRecord& rec);

  // The module's warning thresholds by quantity ("temperature", "vcc",
  // "bias", "tx_power", "rx_power"), read once.
  std::map<std::string, Limit> ModuleWarnings();
  std::optional<Limit> LimitFor(const std::string& name, std::string* source);
  // Polls the Tx output status bit of `lane` until it is `lit`; the time in
  // ms it was still seen the other way after `since` (a lower bound on the
  // transition), or nothing when it never turned within `timeout_s`.
  std::optional<double> WaitTxOutput(int lane, bool lit, Clock::time_point since, double timeout_s);

  CDevice& device_;
  const Plan& plan_;
  const RunOptions& options_;
  const std::function<void(const RunEvent&)>& on_event_;
  qsfp_dd::CQSFP_DD module_;
  RunRecord run_;
  Clock::time_point start_;
  const Profile* profile_ = nullptr;
  std::optional<cmis::Advertisement> advertised_;
  std::optional<std::map<std::string, Limit>> warnings_;
  int step_index_ = -1;
  std::string step_name_;
  bool in_finally_ = false;
  // Event sequences of the flag reader that a step provoked on purpose:
  // [first, last] with the step's kind and lanes.
  struct Provoked {
    uint64_t first = 0, last = 0;
    StepKind kind;
    std::set<int> lanes;
  };
  std::vector<Provoked> provoked_;
};

bool Runner::ReadIdentity(std::string* failure) {
  BoardResult r = module_.ReadAdvertisement();
  if (!r) {
    *failure = "reading the module's identification failed: " + r.Text();
    return false;
  }
  const ModuleImages images = module_.Snapshot();
  const cmis::Identity id = cmis::DecodeIdentity(images);
  if (!id.available) {
    *failure = "the module gave no identification";
    return false;
  }
  advertised_ = module_.Advertised();
  run_.vendor = id.vendor_name.trimmed;
  run_.part_number = id.part_number.trimmed;
  run_.serial = id.serial_number.trimmed;
  run_.revision = id.revision.trimmed;
  const cmis::Revisions rev = cmis::DecodeRevisions(images);
  if (rev.active_firmware) run_.firmware = rev.active_firmware->Text();
  return true;
}

RunRecord Runner::Run() {
  start_ = Clock::now();
  run_.host = HostName();
  run_.user = UserName();
  run_.board_path = options_.board_path.empty() ? device_.OpenPath() : options_.board_path;
  run_.board_serial = options_.board_serial;
  run_.plan_name = plan_.name;
  run_.plan_text = plan_.text;
  run_.plan_hash = plan_.hash;
  run_.tool_version = options_.tool_version;
  run_.started_ms = NowMs();
  {
    RunEvent e;
    e.kind = RunEvent::Kind::kRunStarted;
    e.run = &run_;
    Emit(e);
  }

  // Who the module is decides the profile, so it is read before any step.
  std::string failure;
  const bool identified = ReadIdentity(&failure);
  profile_ = &plan_.ProfileFor(run_.part_number);
  run_.profile = profile_->name;
  if (identified) {
    // Latched flags start from here: what the module latched before the
    // run counts as raised during it (nobody has seen it yet).
    BoardResult r = module_.ReadStatusImage();
    if (r) r = module_.ReadAlarmImage();
    if (!r) {
      failure = "reading the module's flags failed: " + r.Text();
    }
  }
  std::string ended_why = identified && failure.empty() ? "" : failure;
  bool interrupted = false;

  const int total = static_cast<int>(plan_.steps.size());
  for (int i = 0; i < total; ++i) {
    const Step& step = plan_.steps[i];
    if (ended_why.empty() && Stopped()) {
      interrupted = true;
      ended_why = "interrupted";
    }
    step_index_ = i;
    step_name_ = step.name;
    StepRecord rec;
    if (!ended_why.empty()) {
      rec.name = step.name;
      rec.kind = StepKindName(step.kind);
      rec.outcome = Outcome::kSkip;
      rec.message = "not run: " + ended_why;
      rec.started_ms = rec.ended_ms = NowMs();
      run_.steps.push_back(std::move(rec));
      RunEvent e;
      e.kind = RunEvent::Kind::kStepFinished;
      e.step_index = i;
      e.step_name = step.name;
      e.outcome = Outcome::kSkip;
      e.text = run_.steps.back().message;
      e.step = &run_.steps.back();
      e.run = &run_;
      Emit(e);
      continue;
    }
    run_.steps.push_back(RunStep(step));
    const StepRecord& done = run_.steps.back();
    if (Stopped()) {
      interrupted = true;
      ended_why = "interrupted";
    } else if (step.stop_on_fail &&
               (done.outcome == Outcome::kFail || done.outcome == Outcome::kError)) {
      ended_why =
          "step \"" + step.name + "\" " + records::OutcomeName(done.outcome) + " and stops the run";
    }
  }

  in_finally_ = true;
  for (size_t j = 0; j < plan_.finally.size(); ++j) {
    step_index_ = total + static_cast<int>(j);
    step_name_ = plan_.finally[j].name;
    run_.steps.push_back(RunStep(plan_.finally[j]));
  }
  in_finally_ = false;

  // Every flag event of the run, the provoked ones said so.
  const auto events = module_.Flags().Get().events;
  const auto run_start_wall =
      std::chrono::system_clock::time_point(std::chrono::milliseconds(run_.started_ms));
  for (const auto& ev : events) {
    records::FlagEvent fe;
    fe.t_s = std::chrono::duration<double>(ev.time - run_start_wall).count();
    fe.flag = ev.flag->name;
    fe.lane = ev.lane;
    fe.event = ev.set ? "raised" : "cleared";
    for (const Provoked& p : provoked_)
      if (ev.sequence >= p.first && ev.sequence <= p.last && p.lanes.count(ev.lane) &&
          ProvokedBy(p.kind, ev.flag->key))
        fe.event += std::string(" (by ") + StepKindName(p.kind) + ")";
    run_.flag_events.push_back(fe);
  }

  run_.verdict = Verdict(run_);
  if (interrupted) {
    run_.verdict = Outcome::kError;
    run_.verdict_message = "interrupted";
  } else if (!identified || !failure.empty()) {
    run_.verdict = Outcome::kError;
    run_.verdict_message = failure;
  } else if (run_.verdict != Outcome::kPass) {
    // The first step with the verdict's outcome says why; the others are named.
    std::vector<std::string> others;
    for (const StepRecord& s : run_.steps) {
      if (s.outcome != run_.verdict) continue;
      if (run_.verdict_message.empty())
        run_.verdict_message = s.name + ": " + s.message;
      else
        others.push_back(s.name);
    }
    if (!others.empty()) {
      std::string list;
      for (const auto& n : others) list += (list.empty() ? "" : ", ") + n;
      run_.verdict_message += " (also " + list + ")";
    }
  }
  run_.ended_ms = NowMs();
  RunEvent e;
  e.kind = RunEvent::Kind::kRunFinished;
  e.outcome = run_.verdict;
  e.text = run_.verdict_message;
  e.run = &run_;
  Emit(e);
  return run_;
}

StepRecord Runner::RunStep(const Step& step) {
  StepRecord rec;
  rec.name = step.name;
  rec.kind = StepKindName(step.kind);
  rec.started_ms = NowMs();
  {
    RunEvent e;
    e.kind = RunEvent::Kind::kStepStarted;
    e.step_index = step_index_;
    e.step_name = step.name;
    e.is_finally = in_finally_;
    e.run = &run_;
    Emit(e);
  }
  try {
    switch (step.kind) {
      case StepKind::kIdentify:
        Identify(step, rec);
        break;
      case StepKind::kThresholds:
        Thresholds(step, rec);
        break;
      case StepKind::kDdm:
        Ddm(step, rec);
        break;
      case StepKind::kTxDisable:
        TxDisable(step, rec);
        break;
      case StepKind::kApplication:
        Application(step, rec);
        break;
      case StepKind::kBer:
        Ber(step, rec);
        break;
      case StepKind::kFlags:
        Flags(step, rec);
        break;
      case StepKind::kEepromCheck:
        EepromCheck(step, rec);
        break;
      case StepKind::kTxEnable:
        TxEnable(step, rec);
        break;
      case StepKind::kStopCheckers:
        StopCheckers(step, rec);
        break;
    }
    rec.outcome = FromMeasurements(rec.measurements);
    if (rec.message.empty() && rec.outcome != Outcome::kPass) {
      for (const Measurement& m : rec.measurements)
        if (m.outcome == rec.outcome) {
          rec.message = m.name + (m.lane ? " lane " + std::to_string(m.lane) : "") +
                        (m.note.empty() ? "" : ": " + m.note);
          break;
        }
    }
    // A step the stop cut short judged what it had; none of that stands.
    if (Stopped() && !in_finally_ && rec.outcome != Outcome::kError &&
        (step.kind == StepKind::kDdm || step.kind == StepKind::kBer ||
         step.kind == StepKind::kTxDisable || step.kind == StepKind::kApplication ||
         step.kind == StepKind::kEepromCheck)) {
      rec.outcome = Outcome::kError;
      rec.message = "interrupted";
    }
  } catch (const BoardFailure& f) {
    rec.outcome = Outcome::kError;
    rec.message = f.text;
  } catch (const std::exception& e) {
    // Anything else (a full output, no memory) ends the step, never the
    // run: the finally steps still put the module back.
    rec.outcome = Outcome::kError;
    rec.message = e.what();
  }
  rec.ended_ms = NowMs();
  RunEvent e;
  e.kind = RunEvent::Kind::kStepFinished;
  e.step_index = step_index_;
  e.step_name = step.name;
  e.outcome = rec.outcome;
  e.text = rec.message;
  e.is_finally = in_finally_;
  e.step = &rec;
  e.run = &run_;
  Emit(e);
  return rec;
}

// ---- identify ----

void Runner::Identify(const Step&, StepRecord& rec) {
  Check(module_.ReadAdvertisement(), "reading the identification");
  const ModuleImages images = module_.Snapshot();
  const cmis::Identity id = cmis::DecodeIdentity(images);
  const cmis::Revisions rev = cmis::DecodeRevisions(images);
  if (!id.available) throw BoardFailure{"the module gave no identification"};
  const std::pair<const char*, std::string> fields[] = {
      {"vendor", id.vendor_name.trimmed},
      {"part_number", id.part_number.trimmed},
      {"serial", id.serial_number.trimmed},
      {"revision", id.revision.trimmed},
      {"firmware", rev.active_firmware ? rev.active_firmware->Text() : std::string()}};
  for (const auto& [key, value] : fields) {
    Measurement m;
    m.name = key;
    m.text = value;
    auto it = profile_->expected.find(key);
    if (it != profile_->expected.end()) {
      m.expected = it->second;
      if (fnmatch(m.expected.c_str(), value.c_str(), 0) != 0) {
        m.outcome = Outcome::kFail;
        m.note = "\"" + value + "\" does not match \"" + m.expected + "\"";
      }
    } else if (value.empty()) {
      // Vendor, part number and serial are required; a revision or firmware
      // the module does not give is no fault of it.
      const bool required =
          std::string_view(key) != "revision" && std::string_view(key) != "firmware";
      m.outcome = required ? Outcome::kFail : Outcome::kSkip;
      m.note = required ? "empty" : "not given by the module";
    }
    rec.measurements.push_back(m);
  }
  for (const cmis::PageChecksum& c : cmis::VerifyChecksums(images)) {
    Measurement m;
    char name[32];
    std::snprintf(name, sizeof name, "checksum page %02Xh", c.page);
    m.name = name;
    m.expected = "valid";
    if (!c.available) {
      m.outcome = Outcome::kSkip;
      m.note = "the page was not read (not advertised)";
    } else {
      char text[64];
      std::snprintf(text, sizeof text, "stored 0x%02X, computed 0x%02X", c.stored, c.computed);
      m.text = c.ok ? "valid" : text;
      if (!c.ok) {
        m.outcome = Outcome::kFail;
        m.note = text;
      }
    }
    rec.measurements.push_back(m);
  }
}

// ---- thresholds ----

namespace {
struct QuantityName {
  const char* table;  // the threshold table's quantity
  const char* key;    // the limit's name in a plan
  const char* label;  // in records
};
const QuantityName kQuantities[] = {{"Temperature", "temperature", "temperature"},
                                    {"Supply voltage", "vcc", "vcc"},
                                    {"Rx power", "rx_power", "rx power"},
                                    {"Tx bias", "bias", "bias"},
                                    {"Tx power", "tx_power", "tx power"}};

bool Monitored(const cmis::Advertisement& a, const std::string& key) {
  if (key == "temperature") return a.monitors.temperature;
  if (key == "vcc") return a.monitors.vcc;
  if (key == "bias") return a.monitors.tx_bias;
  if (key == "tx_power") return a.monitors.tx_power;
  if (key == "rx_power") return a.monitors.rx_power;
  return false;
}

std::string UnitOf(const std::string& key) {
  if (key == "temperature") return "\u00b0C";
  if (key == "vcc") return "V";
  if (key == "bias" || key == "disabled_bias") return "mA";
  return "dBm";
}
}  // namespace

void Runner::Thresholds(const Step&, StepRecord& rec) {
  Check(module_.ReadAdvertisement(), "reading the advertisement");
  Check(module_.ReadThresholds(), "reading the thresholds");
  advertised_ = module_.Advertised();
  if (!advertised_ || !advertised_->known) throw BoardFailure{"the module gave no advertisement"};
  const auto values = cmis::DecodeThresholds(module_.Snapshot());
  for (const QuantityName& q : kQuantities) {
    if (!Monitored(*advertised_, q.key)) {
      Measurement m;
      m.name = std::string(q.label) + " thresholds";
      m.outcome = Outcome::kSkip;
      m.note = "monitor not advertised (page 01h 159-160)";
      rec.measurements.push_back(m);
      continue;
    }
    std::optional<double> v[4];  // by FlagKind
    for (const auto& t : values)
      if (std::string(t.quantity) == q.table && t.kind >= 0 && t.kind < 4) v[t.kind] = t.value;
    const std::string unit = UnitOf(q.key);
    // Each threshold between its neighbours: low alarm <= low warning <=
    // high warning <= high alarm.
    const int order[4] = {kLowAlarm, kLowWarning, kHighWarning, kHighAlarm};
    for (int i = 0; i < 4; ++i) {
      const int kind = order[i];
      Measurement m =
          Numeric(std::string(q.label) + " " + FlagKindName(kind), 0, unit, v[kind],
                  i > 0 ? v[order[i - 1]] : std::nullopt, i < 3 ? v[order[i + 1]] : std::nullopt);
      Judge(m);
      if (m.outcome == Outcome::kFail && m.value)
        m.note = "out of order: low alarm <= low warning <= high warning <= high alarm";
      rec.measurements.push_back(m);
    }
  }
}

// ---- ddm ----

std::map<std::string, Limit> Runner::ModuleWarnings() {
  if (warnings_) return *warnings_;
  Check(module_.ReadThresholds(), "reading the thresholds");
  std::map<std::string, Limit> out;
  for (const auto& t : cmis::DecodeThresholds(module_.Snapshot())) {
    for (const QuantityName& q : kQuantities) {
      if (std::string(t.quantity) != q.table) continue;
      if (t.kind == kLowWarning) out[q.key].low = t.value;
      if (t.kind == kHighWarning) out[q.key].high = t.value;
    }
  }
  warnings_ = out;
  return out;
}

std::optional<Limit> Runner::LimitFor(const std::string& name, std::string* source) {
  if (auto l = ProfileLimit(name)) {
    *source = "profile " + profile_->name;
    return l;
  }
  const auto w = ModuleWarnings();
  auto it = w.find(name);
  if (it == w.end() || (!it->second.low && !it->second.high)) return std::nullopt;
  *source = "module warning thresholds";
  return it->second;
}

void Runner::Ddm(const Step& step, StepRecord& rec) {
  Check(module_.ReadAdvertisement(), "reading the advertisement");
  advertised_ = module_.Advertised();
  struct Series {
    std::string key, label;
    int lane;
    std::vector<double> values;
    DdmState state = DdmState::kReading;
  };
  std::vector<Series> series;
  auto add = [&](const std::string& key, const std::string& label, int lane) {
    series.push_back({key, label, lane, {}, DdmState::kReading});
  };
  add("temperature", "temperature", 0);
  add("vcc", "vcc", 0);
  const auto lanes = Lanes(step);
  for (int lane : lanes) {
    add("bias", "bias", lane);
    add("tx_power", "tx power", lane);
    add("rx_power", "rx power", lane);
  }
  const double interval = step.samples > 1 ? step.seconds / (step.samples - 1) : 0;
  const auto first = Clock::now();
  for (int n = 0; n < step.samples; ++n) {
    if (n > 0) {
      const auto due = first + std::chrono::duration_cast<Clock::duration>(
                                   std::chrono::duration<double>(interval * n));
      const double wait = std::chrono::duration<double>(due - Clock::now()).count();
      if (wait > 0 && !Sleep(wait)) break;
    }
    if (Stopped()) break;
    Check(module_.ReadMonitors(), "reading the monitors");
    Check(module_.ReadAlarmImage(), "reading the flags");
    const DdmReadings r = DecodeDdm(module_.Snapshot());
    const double t = SinceStart();
    for (Series& s : series) {
      const DdmValue* v = nullptr;
      if (s.key == "temperature")
        v = &r.temperature;
      else if (s.key == "vcc")
        v = &r.vcc;
      else if (s.key == "bias")
        v = &r.bias[s.lane - 1];
      else if (s.key == "tx_power")
        v = &r.tx_power[s.lane - 1];
      else
        v = &r.rx_power[s.lane - 1];
      s.state = v->state;
      if (!v->HasReading() || !v->current || !std::isfinite(v->value)) continue;
      s.values.push_back(v->value);
      rec.samples.push_back({s.label, s.lane, t, static_cast<double>(v->value)});
    }
    Progress("sample " + std::to_string(n + 1) + " of " + std::to_string(step.samples));
  }
  for (const Series& s : series) {
    Measurement m;
    m.name = s.label;
    m.lane = s.lane;
    m.unit = UnitOf(s.key);
    if (s.state == DdmState::kNotSupported && s.values.empty()) {
      m.outcome = Outcome::kSkip;
      m.note = s.lane ? "lane not in use or monitor not implemented" : "monitor not implemented";
      rec.measurements.push_back(m);
      continue;
    }
    if (s.state == DdmState::kUnknownScale && s.values.empty()) {
      m.outcome = Outcome::kFail;
      m.note = "bias multiplier reserved: the bias is unknown";
      rec.measurements.push_back(m);
      continue;
    }
    std::string source;
    const auto limit = LimitFor(s.key, &source);
    if (limit) {
      m.low = limit->low;
      m.high = limit->high;
    }
    if (s.values.empty()) {
      m.outcome = Stopped() ? Outcome::kSkip : Outcome::kError;
      m.note = "no sample was read";
      rec.measurements.push_back(m);
      continue;
    }
    const auto [lo, hi] = std::minmax_element(s.values.begin(), s.values.end());
    double mean = 0;
    for (double v : s.values) mean += v;
    mean /= static_cast<double>(s.values.size());
    // The sample that broke a limit, else the mean.
    m.value = m.low && *lo < *m.low ? *lo : m.high && *hi > *m.high ? *hi : mean;
    Judge(m);
    m.note = (m.outcome == Outcome::kFail ? m.note + "; " : std::string()) + "min " +
             Fixed(*lo, 2) + ", max " + Fixed(*hi, 2) + " over " + std::to_string(s.values.size()) +
             " samples" + (limit ? "; limits from the " + source : "; no limits");
    rec.measurements.push_back(m);
  }
}

// ---- tx-disable ----

std::optional<double> Runner::WaitTxOutput(int lane, bool lit, Clock::time_point since,
                                           double timeout_s) {
  const uint8_t bit = static_cast<uint8_t>(1u << (lane - 1));
  double still_ms = 0;
  const auto limit =
      since + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(timeout_s));
  for (;;) {
    const auto read_start = Clock::now();
    uint8_t status = 0;
    // Page 11h byte 133: Tx output status, one bit per lane (1: valid).
    Check(module_.ReadByte(0xA0, 0x11, 133, &status), "reading the Tx output status");
    if (((status & bit) != 0) == lit) return still_ms;
    still_ms = std::chrono::duration<double, std::milli>(read_start - since).count();
    if (Clock::now() >= limit || Stopped()) return std::nullopt;
    SleepMs(5);
  }
}

void Runner::TxDisable(const Step& step, StepRecord& rec) {
  Check(module_.ReadAdvertisement(), "reading the advertisement");
  advertised_ = module_.Advertised();
  const ModuleImages images = module_.Snapshot();
  // Page 01h byte 168: bits 7-4 the longest Tx turn-off, bits 3-0 the
  // longest Tx turn-on the module advertises.
  std::optional<double> off_ms, on_ms;
  if (images.Current(0x01, 168)) {
    off_ms = DurationCodeMs(images.page01[168 - 0x80] >> 4);
    on_ms = DurationCodeMs(images.page01[168 - 0x80] & 0x0F);
  }
  const Limit off_bias = ProfileLimit("disabled_bias").value_or(Limit{std::nullopt, 1.0});
  const Limit off_power = ProfileLimit("disabled_tx_power").value_or(Limit{std::nullopt, -30.0});
  std::string bias_source, power_source;
  const auto on_bias = LimitFor("bias", &bias_source);
  const auto on_power = LimitFor("tx_power", &power_source);
  // Monitors lag the output: they have this long to follow it.
  const double settle_s = 2.0;

  Provoked window;
  window.kind = StepKind::kTxDisable;
  const auto before = module_.Flags().EventsAfter(0);
  window.first = before.empty() ? 1 : before.back().sequence + 1;

  auto within = [](double v, const Limit& l) {
    return std::isfinite(v) && (!l.low || v >= *l.low) && (!l.high || v <= *l.high);
  };
  // Polls the lane's bias and Tx power until both are within `bias_limit`
  // and `power_limit`, or the settle time ends; the last readings.
  auto settle = [&](int lane, const Limit& bias_limit, const Limit& power_limit, double* bias,
                    double* power) {
    const auto until = Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                          std::chrono::duration<double>(settle_s));
    for (;;) {
      Check(module_.ReadMonitors(), "reading the monitors");
      Check(module_.ReadAlarmImage(), "reading the flags");
      const DdmReadings r = DecodeDdm(module_.Snapshot());
      const DdmValue& b = r.bias[lane - 1];
      const DdmValue& p = r.tx_power[lane - 1];
      *bias = b.HasReading() && b.current ? b.value : std::numeric_limits<double>::quiet_NaN();
      *power = p.HasReading() && p.current ? p.value : std::numeric_limits<double>::quiet_NaN();
      const double t = SinceStart();
      if (std::isfinite(*bias)) rec.samples.push_back({"bias", lane, t, *bias});
      if (std::isfinite(*power)) rec.samples.push_back({"tx power", lane, t, *power});
      if ((within(*bias, bias_limit) && within(*power, power_limit)) || Clock::now() >= until ||
          Stopped())
        return;
      SleepMs(50);
    }
  };

  bool board_failed = false;
  std::string failure;
  for (int lane : Lanes(step)) {
    if (Stopped()) break;
    window.lanes.insert(lane);
    Progress("lane " + std::to_string(lane));
    try {
      // Off.
      Check(SetTxDisable(module_, lane, true), "disabling Tx of lane " + std::to_string(lane));
      const auto off_at = Clock::now();
      const auto off = WaitTxOutput(lane, false, off_at, (off_ms ? *off_ms / 1000 : 0) + settle_s);
      Measurement t_off = Numeric("tx turn-off time", lane, "ms", off, std::nullopt, off_ms);
      Judge(t_off);
      t_off.note = off ? "at least; Tx output status polled" : "the Tx output stayed valid";
      if (t_off.outcome == Outcome::kFail && off) t_off.note += "; longer than advertised";
      if (!off_ms) t_off.note += "; no advertised duration";
      rec.measurements.push_back(t_off);
      double bias = 0, power = 0;
      settle(lane, off_bias, off_power, &bias, &power);
      Measurement mb =
          Numeric("disabled bias", lane, "mA", Reading(bias), off_bias.low, off_bias.high);
      Judge(mb);
      Measurement mp =
          Numeric("disabled tx power", lane, "dBm", Reading(power), off_power.low, off_power.high);
      Judge(mp);
      rec.measurements.push_back(mb);
      rec.measurements.push_back(mp);
      // On again.
      Check(SetTxDisable(module_, lane, false), "enabling Tx of lane " + std::to_string(lane));
      const auto on_at = Clock::now();
      const auto on = WaitTxOutput(lane, true, on_at, (on_ms ? *on_ms / 1000 : 0) + settle_s);
      Measurement t_on = Numeric("tx turn-on time", lane, "ms", on, std::nullopt, on_ms);
      Judge(t_on);
      t_on.note = on ? "at least; Tx output status polled" : "the Tx output did not come back";
      if (!on_ms) t_on.note += "; no advertised duration";
      rec.measurements.push_back(t_on);
      const Limit bias_on = on_bias.value_or(Limit{});
      const Limit power_on = on_power.value_or(Limit{});
      settle(lane, bias_on, power_on, &bias, &power);
      Measurement eb =
          Numeric("enabled bias", lane, "mA", Reading(bias), bias_on.low, bias_on.high);
      Judge(eb);
      Measurement ep =
          Numeric("enabled tx power", lane, "dBm", Reading(power), power_on.low, power_on.high);
      Judge(ep);
      rec.measurements.push_back(eb);
      rec.measurements.push_back(ep);
    } catch (const BoardFailure& f) {
      board_failed = true;
      failure = f.text;
      // Leave the lane lit whatever happened.
      SetTxDisable(module_, lane, false);
      break;
    } catch (...) {
      SetTxDisable(module_, lane, false);
      throw;
    }
  }
  // Whatever the lanes latched while dark is read (and so cleared) now,
  // inside the step's window.
  BoardResult drained = module_.ReadStatusImage();
  if (drained) drained = module_.ReadAlarmImage();
  const auto after = module_.Flags().EventsAfter(0);
  window.last = after.empty() ? 0 : after.back().sequence;
  provoked_.push_back(window);
  if (board_failed) throw BoardFailure{failure};
  Check(drained, "reading the flags");
}

// ---- application ----

void Runner::Application(const Step& step, StepRecord& rec) {
  Check(module_.ReadAdvertisement(), "reading the advertisement");
  advertised_ = module_.Advertised();
  const ModuleImages images = module_.Snapshot();
  const cmis::Applications apps = cmis::DecodeApplications(images);
  const cmis::Application* app = apps.Find(step.application);
  Measurement adv;
  adv.name = "application advertised";
  adv.text = app ? app->host_name + " / " + app->media_name : "";
  adv.expected = "AppSel " + std::to_string(step.application);
  if (!app) {
    adv.outcome = Outcome::kFail;
    adv.note = "the module does not advertise application " + std::to_string(step.application);
    rec.measurements.push_back(adv);
    return;
  }
  rec.measurements.push_back(adv);
  // Page 01h byte 144 bits 3-0: the longest data path initialisation.
  std::optional<double> init_ms;
  if (images.Current(0x01, 144)) init_ms = DurationCodeMs(images.page01[144 - 0x80] & 0x0F);

  std::vector<int> lanes;
  if (!step.lanes.empty())
    lanes = step.lanes;
  else
    for (int lane = 1; lane <= kLanes; ++lane) lanes.push_back(lane);
  const int width = std::max(1, app->host_lanes);

  Provoked window;
  window.kind = StepKind::kApplication;
  const auto before = module_.Flags().EventsAfter(0);
  window.first = before.empty() ? 1 : before.back().sequence + 1;
  window.lanes.insert(lanes.begin(), lanes.end());

  auto finish_window = [&] {
    module_.ReadStatusImage();
    module_.ReadAlarmImage();
    const auto after = module_.Flags().EventsAfter(0);
    window.last = after.empty() ? 0 : after.back().sequence;
    provoked_.push_back(window);
  };

  try {
    Progress("staging application " + std::to_string(step.application));
    // Staged set 0, page 10h 145-152, one byte per lane: AppSel (bits 7-4),
    // the data path's first lane, 0-based (bits 3-1), no explicit control
    // (bit 0). Written as one verified block, then applied on every lane at
    // once (ApplyDPInit, page 10h 143).
    uint8_t config[kLanes] = {};
    Check(module_.ReadBlock(0xA0, 0x10, 145, kLanes, config), "reading staged set 0");
    uint8_t mask = 0;
    for (int lane : lanes) {
      const int first = ((lane - 1) / width) * width;
      config[lane - 1] = static_cast<uint8_t>(step.application << 4 | first << 1);
      mask |= static_cast<uint8_t>(1u << (lane - 1));
    }
    Check(module_.WriteBlock(0xA0, 0x10, 145, kLanes, config, true), "writing staged set 0");
    Check(module_.WriteByte(0xA0, 0x10, 143, mask, false), "applying staged set 0");
    const auto applied = Clock::now();
    // Configuration status "accepted" (1) and data path state DPActivated (4)
    // on every lane, within the advertised initialisation time.
    const double timeout_s = (init_ms ? *init_ms / 1000 : 0) + 2.0;
    std::map<int, int> status, state;
    std::optional<double> reached_ms;
    double pending_ms = 0;  // when a read last found a lane not there yet
    for (;;) {
      const auto read_start = Clock::now();
      Check(module_.ReadStatusImage(), "reading the status");
      const ModuleImages now = module_.Snapshot();
      bool done = true;
      for (int lane : lanes) {
        status[lane] = ReadField(now, module_.Map().config_status, lane);
        state[lane] = ReadField(now, module_.Map().dp_state, lane);
        done = done && status[lane] != 0 && status[lane] != 0x0C &&
               (status[lane] != 1 || state[lane] == 4);
      }
      const double elapsed =
          std::chrono::duration<double, std::milli>(Clock::now() - applied).count();
      if (done) {
        reached_ms = pending_ms;
        break;
      }
      pending_ms = std::chrono::duration<double, std::milli>(read_start - applied).count();
      if (elapsed > timeout_s * 1000 || Stopped()) break;
      SleepMs(20);
    }
    const ModuleImages now = module_.Snapshot();
    const cmis::Applications after = cmis::DecodeApplications(now);
    for (int lane : lanes) {
      Measurement cs;
      cs.name = "configuration status";
      cs.lane = lane;
      cs.value = status[lane];
      cs.low = cs.high = 1;
      cs.text = status[lane] == 1 ? "ConfigSuccess" : "code " + std::to_string(status[lane]);
      cs.expected = "ConfigSuccess";
      Judge(cs);
      rec.measurements.push_back(cs);
      Measurement ds;
      ds.name = "data path state";
      ds.lane = lane;
      ds.value = state[lane];
      ds.low = ds.high = 4;
      ds.text = state[lane] == 4 ? "DPActivated" : "code " + std::to_string(state[lane]);
      ds.expected = "DPActivated";
      Judge(ds);
      rec.measurements.push_back(ds);
      Measurement active;
      active.name = "active application";
      active.lane = lane;
      const auto& cfg = after.active[lane - 1];
      if (cfg) active.value = cfg->app_sel;
      active.low = active.high = step.application;
      Judge(active);
      rec.measurements.push_back(active);
    }
    Measurement t = Numeric("data path init time", 0, "ms", reached_ms, std::nullopt, init_ms);
    Judge(t);
    t.note = reached_ms ? "at least; status polled" : "the lanes did not settle";
    if (!init_ms) t.note += "; no advertised duration";
    rec.measurements.push_back(t);
  } catch (const BoardFailure&) {
    finish_window();
    throw;
  }
  finish_window();
}

// ---- ber ----

void Runner::Ber(const Step& step, StepRecord& rec) {
  using namespace sigtest;
  VerdictRule rule;
  rule.target = step.target;
  rule.confidence = step.confidence;
  rule.allowed_errors = static_cast<uint64_t>(step.allowed_errors);
  const int pattern = ParsePatternName(step.pattern);
  LineCheck check;
  // As `ber` does: restart the generators with the pattern, store it in the
  // checkers, then start them.
  Check(RunSteps(device_, check.ApplyPattern(static_cast<uint8_t>(pattern))),
        "setting the lanes' pattern");
  if (const BoardResult r = RunSteps(device_, check.Start()); !r) {
    RunSteps(device_, check.Stop());
    Check(r, "starting the checkers");
  }
  auto decided = [&] {
    for (int lane = 1; lane <= ::kLanes; ++lane)
      if (JudgeLane(check.Count(lane), rule).verdict == Verdict::kRunning) return false;
    return true;
  };
  const auto start = Clock::now();
  int done = 0, failed = 0;
  std::string failure;
  while (done < step.max_seconds && !Stopped()) {
    const auto due = start + std::chrono::seconds(done + 1);
    if (!Sleep(std::chrono::duration<double>(due - Clock::now()).count())) break;
    const TickSample sample = ReadTick(device_);
    failed += FailedExchanges(sample, &failure);
    check.ApplyTick(sample);
    ++done;
    const double t = SinceStart();
    for (int channel = 1; channel <= ::kLanes; ++channel) {
      const int lane = LaneOfChannel(channel);
      const LaneCount c = check.Count(lane);
      if (!c.ever_locked) continue;
      rec.samples.push_back({"ber", channel, t, check.Lane(lane).ber});
      rec.samples.push_back(
          {"ber upper", channel, t, BerUpperBound(c.errors, c.bits, rule.confidence)});
    }
    Progress(std::to_string(done) + " s of at most " + std::to_string(step.max_seconds));
    if (decided()) break;
  }
  const BoardResult stopped = RunSteps(device_, check.Stop());
  for (int channel = 1; channel <= ::kLanes; ++channel) {
    const int lane = LaneOfChannel(channel);
    const LaneCount c = check.Count(lane);
    const LaneVerdict v = JudgeLane(c, rule);
    Measurement ber = Numeric("ber", channel, "", std::nullopt, std::nullopt, std::nullopt);
    if (c.ever_locked) ber.value = check.Lane(lane).ber;
    ber.note = std::to_string(c.errors) + " errors in " + Sci(c.bits) + " bits while locked";
    ber.outcome = Outcome::kSkip;  // informative; the bound carries the verdict
    if (c.ever_locked) ber.outcome = Outcome::kPass;
    Measurement bound = Numeric("ber upper", channel, "", std::nullopt, std::nullopt, rule.target);
    if (c.ever_locked) bound.value = BerUpperBound(c.errors, c.bits, rule.confidence);
    bound.note = Fixed(rule.confidence * 100, 0) + " % confidence; ";
    switch (v.verdict) {
      case Verdict::kPass:
        bound.outcome = Outcome::kPass;
        bound.note += "PASS";
        break;
      case Verdict::kFail:
        bound.outcome = Outcome::kFail;
        bound.note += "FAIL: " + v.reason;
        break;
      case Verdict::kRunning:
        bound.outcome = Outcome::kError;
        bound.note += Stopped() ? "interrupted before a verdict"
                                : "no verdict within " + std::to_string(step.max_seconds) + " s";
        break;
    }
    rec.measurements.push_back(ber);
    rec.measurements.push_back(bound);
  }
  Check(stopped, "stopping the checkers");
  // A verdict needs every status answer.
  if (failed)
    throw BoardFailure{"the board failed " + std::to_string(failed) + " status exchange(s) (" +
                       failure + "); the verdict cannot stand"};
}

// ---- flags ----

void Runner::Flags(const Step&, StepRecord& rec) {
  Check(module_.ReadStatusImage(), "reading the status");
  Check(module_.ReadAlarmImage(), "reading the flags");
  const auto events = module_.Flags().Get().events;
  std::map<std::pair<std::string, int>, Measurement> raised;
  int count = 0;
  for (const auto& ev : events) {
    if (!ev.set || !IsAlarmOrFault(ev.flag->key)) continue;
    bool excused = false;
    for (const Provoked& p : provoked_)
      excused = excused || (ev.sequence >= p.first && ev.sequence <= p.last &&
                            p.lanes.count(ev.lane) && ProvokedBy(p.kind, ev.flag->key));
    if (excused) continue;
    ++count;
    auto& m = raised[{ev.flag->key, ev.lane}];
    m.name = ev.flag->name;
    m.lane = ev.lane;
    m.text = "raised";
    m.expected = "not raised";
    m.outcome = Outcome::kFail;
    m.note = "latched " + std::to_string(ev.count) + " time(s)";
  }
  Measurement total = Numeric("alarms and faults raised", 0, "", count, std::nullopt, 0);
  Judge(total);
  if (count) {
    total.note.clear();
    for (const auto& [key, m] : raised)
      total.note += (total.note.empty() ? "" : ", ") + m.name +
                    (m.lane ? " lane " + std::to_string(m.lane) : "");
  }
  rec.measurements.push_back(total);
  for (auto& [key, m] : raised) rec.measurements.push_back(m);
}

// ---- eeprom-check ----

void Runner::EepromCheck(const Step& step, StepRecord& rec) {
  Measurement m;
  m.name = "eeprom image";
  m.expected = "intact";
  m.unit = "bytes";
  transfer::TransferEngine engine(device_, {});
  transfer::OpenError open_error;
  if (engine.ReadPageFile(step.page_file, &open_error) !=
      transfer::TransferEngine::ReadStatus::kOk) {
    rec.message = step.page_file + ": cannot be read or holds no data";
    m.outcome = Outcome::kError;
    m.note = rec.message;
    rec.measurements.push_back(m);
    return;
  }
  engine.StartConversion();
  engine.Wait(transfer::Job::kConversion);
  const auto converted = engine.LastResult(transfer::Job::kConversion);
  if (converted.outcome != transfer::Outcome::kDone) {
    m.outcome = Outcome::kError;
    m.note = step.page_file + ": " + converted.detail;
    rec.measurements.push_back(m);
    return;
  }
  m.value = static_cast<double>(engine.Image().size());
  engine.StartCheck();
  while (!engine.Wait(transfer::Job::kCheck, 50)) {
    if (Stopped()) {
      m.outcome = Outcome::kError;
      m.note = "interrupted";
      rec.measurements.push_back(m);
      return;  // the engine stops the check between two exchanges
    }
  }
  const auto result = engine.LastResult(transfer::Job::kCheck);
  switch (result.outcome) {
    case transfer::Outcome::kDone:
      m.text = "intact";
      break;
    case transfer::Outcome::kMismatch:
      m.outcome = Outcome::kFail;
      m.text = "differs";
      m.note = result.detail;
      break;
    default:
      throw BoardFailure{"checking the EEPROM: " + result.detail};
  }
  rec.measurements.push_back(m);
}

// ---- finally steps ----

void Runner::TxEnable(const Step&, StepRecord& rec) {
  Check(module_.SetAllTxDisable(false), "enabling Tx on all lanes");
  Measurement m;
  m.name = "tx enabled on all lanes";
  m.text = "done";
  rec.measurements.push_back(m);
}

void Runner::StopCheckers(const Step&, StepRecord& rec) {
  sigtest::LineCheck check;
  Check(RunSteps(device_, check.Stop()), "stopping the checkers");
  Measurement m;
  m.name = "checkers stopped";
  m.text = "done";
  rec.measurements.push_back(m);
}

}  // namespace

records::RunRecord RunPlan(CDevice& device, const Plan& plan, const RunOptions& options,
                           const std::function<void(const RunEvent&)>& on_event) {
  Runner runner(device, plan, options, on_event);
  return runner.Run();
}

}  // namespace qualify
