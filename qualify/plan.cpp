// Plan files: TOML read with toml++, then checked key by key so that every
// mistake is reported with its place before the plan touches a board.
#include "qualify/plan.h"

#include <fnmatch.h>
#include <toml++/toml.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

namespace qualify {

PlanError::PlanError(const std::string& file_name, int line_no, int column_no,
                     const std::string& why)
    : std::runtime_error(line_no > 0 ? file_name + ":" + std::to_string(line_no) + ":" +
                                           std::to_string(column_no) + ": " + why
                                     : file_name + ": " + why),
      file(file_name),
      line(line_no),
      column(column_no),
      reason(why) {}

const char* StepKindName(StepKind kind) {
  switch (kind) {
    case StepKind::kIdentify:
      return "identify";
    case StepKind::kThresholds:
      return "thresholds";
    case StepKind::kDdm:
      return "ddm";
    case StepKind::kTxDisable:
      return "tx-disable";
    case StepKind::kApplication:
      return "application";
    case StepKind::kBer:
      return "ber";
    case StepKind::kFlags:
      return "flags";
    case StepKind::kEepromCheck:
      return "eeprom-check";
    case StepKind::kTxEnable:
      return "tx-enable";
    case StepKind::kStopCheckers:
      return "stop-checkers";
  }
  return "?";
}

const Profile& Plan::ProfileFor(const std::string& part_number) const {
  const Profile* fallback = nullptr;
  for (const Profile& p : profiles) {
    if (p.is_default) {
      if (!fallback) fallback = &p;
      continue;
    }
    if (fnmatch(p.match.c_str(), part_number.c_str(), 0) == 0) return p;
  }
  if (fallback) return *fallback;
  static const Profile empty = [] {
    Profile p;
    p.name = "default";
    p.is_default = true;
    return p;
  }();
  return empty;
}

namespace {

// The kinds a plan may name, and which parameters each takes besides the
// keys every step has (kind, name, stop_on_fail).
struct KindInfo {
  const char* name;
  StepKind kind;
  std::vector<std::string> keys;
  std::vector<std::string> required;
};

const std::vector<KindInfo>& Kinds() {
  static const std::vector<KindInfo> kinds = {
      {"identify", StepKind::kIdentify, {}, {}},
      {"thresholds", StepKind::kThresholds, {}, {}},
      {"ddm", StepKind::kDdm, {"samples", "seconds", "lanes"}, {}},
      {"tx-disable", StepKind::kTxDisable, {"lanes"}, {}},
      {"application", StepKind::kApplication, {"application", "lanes"}, {"application"}},
      {"ber",
       StepKind::kBer,
       {"pattern", "target", "confidence", "allowed_errors", "max_seconds"},
       {"target"}},
      {"flags", StepKind::kFlags, {}, {}},
      {"eeprom-check", StepKind::kEepromCheck, {"page_file"}, {"page_file"}},
      {"tx-enable", StepKind::kTxEnable, {}, {}},
      {"stop-checkers", StepKind::kStopCheckers, {}, {}},
  };
  return kinds;
}

const std::vector<std::string>& LimitNames() {
  static const std::vector<std::string> names = {
      "temperature", "vcc", "bias", "tx_power", "rx_power", "disabled_bias", "disabled_tx_power"};
  return names;
}

const std::vector<std::string>& IdentityNames() {
  static const std::vector<std::string> names = {"vendor", "part_number", "serial", "revision",
                                                 "firmware"};
  return names;
}

const std::set<std::string> kPatterns = {"PRBS7",  "PRBS9_4", "PRBS9_5", "PRBS11", "PRBS13",
                                         "PRBS15", "PRBS16",  "PRBS23",  "PRBS31", "PRBS58"};

bool Contains(const std::vector<std::string>& list, const std::string& s) {
  return std::find(list.begin(), list.end(), s) != list.end();
}

std::string Join(const std::vector<std::string>& list) {
  std::string out;
  for (const auto& s : list) out += (out.empty() ? "" : ", ") + s;
  return out;
}

class Checker {
 public:
  explicit Checker(const std::string& file) : file_(file) {}

  [[noreturn]] void Fail(const toml::source_region& at, const std::string& reason) const {
    throw PlanError(file_, static_cast<int>(at.begin.line), static_cast<int>(at.begin.column),
                    reason);
  }
  [[noreturn]] void Fail(const toml::node& at, const std::string& reason) const {
    Fail(at.source(), reason);
  }

  // Every key of `table` must be one of `allowed`.
  void OnlyKeys(const toml::table& table, const std::vector<std::string>& allowed,
                const std::string& where) const {
    for (auto&& [key, value] : table)
      if (!Contains(allowed, std::string(key.str())))
        Fail(key.source(), "unknown key \"" + std::string(key.str()) + "\" in " + where +
                               (allowed.empty() ? "" : " (known: " + Join(allowed) + ")"));
  }

  const toml::table& Table(const toml::node& node, const std::string& what) const {
    if (!node.is_table()) Fail(node, what + " must be a table");
    return *node.as_table();
  }

  std::string String(const toml::node& node, const std::string& what) const {
    if (!node.is_string()) Fail(node, what + " must be a string");
    return node.as_string()->get();
  }

  bool Bool(const toml::node& node, const std::string& what) const {
    if (!node.is_boolean()) Fail(node, what + " must be true or false");
    return node.as_boolean()->get();
  }

  double Number(const toml::node& node, const std::string& what) const {
    double v = 0;
    if (node.is_integer())
      v = static_cast<double>(node.as_integer()->get());
    else if (node.is_floating_point())
      v = node.as_floating_point()->get();
    else
      Fail(node, what + " must be a number");
    if (!std::isfinite(v)) Fail(node, what + " must be a finite number");
    return v;
  }

  int64_t Integer(const toml::node& node, const std::string& what, int64_t low,
                  int64_t high) const {
    if (!node.is_integer()) Fail(node, what + " must be an integer");
    const int64_t v = node.as_integer()->get();
    if (v < low || v > high)
      Fail(node, what + " must be from " + std::to_string(low) + " to " + std::to_string(high));
    return v;
  }

  Step ParseStep(const toml::table& t, const std::string& where) const {
    Step step;
    step.line = static_cast<int>(t.source().begin.line);
    const toml::node* kind_node = t.get("kind");
    if (!kind_node) Fail(t, where + " has no \"kind\"");
    const std::string kind = String(*kind_node, "kind");
    const KindInfo* info = nullptr;
    for (const auto& k : Kinds())
      if (kind == k.name) info = &k;
    if (!info) {
      std::vector<std::string> names;
      for (const auto& k : Kinds()) names.push_back(k.name);
      Fail(*kind_node, "unknown step kind \"" + kind + "\" (known: " + Join(names) + ")");
    }
    step.kind = info->kind;
    step.name = kind;
    std::vector<std::string> allowed = {"kind", "name", "stop_on_fail"};
    allowed.insert(allowed.end(), info->keys.begin(), info->keys.end());
    OnlyKeys(t, allowed, "a \"" + kind + "\" step");
    for (const auto& r : info->required)
      if (!t.get(r)) Fail(t, "a \"" + kind + "\" step needs \"" + r + "\"");

    for (auto&& [key_obj, node] : t) {
      const std::string key(key_obj.str());
      if (key == "name") {
        step.name = String(node, "name");
        if (step.name.empty()) Fail(node, "name must not be empty");
      } else if (key == "stop_on_fail") {
        step.stop_on_fail = Bool(node, "stop_on_fail");
      } else if (key == "samples") {
        step.samples = static_cast<int>(Integer(node, "samples", 1, 100000));
      } else if (key == "seconds") {
        step.seconds = Number(node, "seconds");
        if (step.seconds < 0 || step.seconds > 86400) Fail(node, "seconds must be from 0 to 86400");
      } else if (key == "lanes") {
        if (!node.is_array()) Fail(node, "lanes must be an array of lanes 1-8");
        std::set<int> seen;
        for (const toml::node& lane : *node.as_array()) {
          const int v = static_cast<int>(Integer(lane, "a lane", 1, 8));
          if (!seen.insert(v).second) Fail(lane, "lane " + std::to_string(v) + " is listed twice");
          step.lanes.push_back(v);
        }
        if (step.lanes.empty()) Fail(node, "lanes must not be empty (leave it out for all lanes)");
      } else if (key == "application") {
        step.application = static_cast<int>(Integer(node, "application", 1, 15));
      } else if (key == "pattern") {
        step.pattern = String(node, "pattern");
        if (!kPatterns.count(step.pattern))
          Fail(node, "\"" + step.pattern +
                         "\" is not a PRBS pattern (PRBS7, PRBS9_4, PRBS9_5, "
                         "PRBS11, PRBS13, PRBS15, PRBS16, PRBS23, PRBS31, PRBS58)");
      } else if (key == "target") {
        step.target = Number(node, "target");
        if (!(step.target > 0 && step.target < 1))
          Fail(node, "target must be a bit-error ratio between 0 and 1");
      } else if (key == "confidence") {
        double cl = Number(node, "confidence");
        if (cl >= 50 && cl < 100) cl /= 100;
        if (!(cl >= 0.5 && cl < 1))
          Fail(node, "confidence must be from 0.5 to below 1 (or 50 to below 100 %)");
        step.confidence = cl;
      } else if (key == "allowed_errors") {
        step.allowed_errors = static_cast<int>(Integer(node, "allowed_errors", 0, 1000000));
      } else if (key == "max_seconds") {
        step.max_seconds = static_cast<int>(Integer(node, "max_seconds", 1, 864000));
      } else if (key == "page_file") {
        step.page_file = String(node, "page_file");
        if (step.page_file.empty()) Fail(node, "page_file must not be empty");
      }
    }
    return step;
  }

  std::vector<Step> ParseSteps(const toml::node& node, const std::string& what) const {
    if (!node.is_array_of_tables())
      Fail(node, what + " must be an array of tables ([[" + what + "]])");
    std::vector<Step> steps;
    for (const toml::node& element : *node.as_array())
      steps.push_back(ParseStep(Table(element, "a step"), "a [[" + what + "]] entry"));
    return steps;
  }

  Limit ParseLimit(const toml::node& node, const std::string& name) const {
    Limit limit;
    if (node.is_table()) {
      const toml::table& t = *node.as_table();
      OnlyKeys(t, {"low", "high"}, "the limit \"" + name + "\"");
      if (const toml::node* low = t.get("low")) limit.low = Number(*low, name + ".low");
      if (const toml::node* high = t.get("high")) limit.high = Number(*high, name + ".high");
      if (!limit.low && !limit.high)
        Fail(node, "the limit \"" + name + "\" needs low, high or both");
    } else if (node.is_array()) {
      const toml::array& a = *node.as_array();
      if (a.size() != 2) Fail(node, "the limit \"" + name + "\" must be [low, high]");
      limit.low = Number(*a.get(0), name + " low");
      limit.high = Number(*a.get(1), name + " high");
    } else {
      Fail(node, "the limit \"" + name + "\" must be [low, high] or { low = ..., high = ... }");
    }
    if (limit.low && limit.high && *limit.low > *limit.high)
      Fail(node, "the limit \"" + name + "\" has low > high");
    return limit;
  }

  Profile ParseProfile(const std::string& name, const toml::node& node) const {
    const toml::table& t = Table(node, "profile." + name);
    Profile p;
    p.name = name;
    p.is_default = name == "default";
    OnlyKeys(t, {"match", "expected", "limits"}, "profile \"" + name + "\"");
    if (const toml::node* match = t.get("match")) {
      p.match = String(*match, "match");
      if (p.match.empty()) Fail(*match, "match must not be empty");
      if (p.is_default) Fail(*match, "the default profile takes no \"match\"");
    } else if (!p.is_default) {
      Fail(t, "profile \"" + name + "\" needs \"match\" (a glob on the part number)");
    }
    if (const toml::node* expected = t.get("expected")) {
      const toml::table& e = Table(*expected, "expected");
      OnlyKeys(e, IdentityNames(), "expected");
      for (auto&& [key, value] : e)
        p.expected[std::string(key.str())] = String(value, std::string(key.str()));
    }
    if (const toml::node* limits = t.get("limits")) {
      const toml::table& l = Table(*limits, "limits");
      OnlyKeys(l, LimitNames(), "limits");
      for (auto&& [key, value] : l)
        p.limits[std::string(key.str())] = ParseLimit(value, std::string(key.str()));
    }
    return p;
  }

 private:
  std::string file_;
};

}  // namespace

Plan ParsePlan(const std::string& text, const std::string& file_name) {
  toml::table root;
  try {
    root = toml::parse(text, file_name);
  } catch (const toml::parse_error& e) {
    throw PlanError(file_name, static_cast<int>(e.source().begin.line),
                    static_cast<int>(e.source().begin.column), std::string(e.description()));
  }
  Checker check(file_name);
  Plan plan;
  plan.file_name = file_name;
  plan.text = text;
  plan.hash = Sha256Hex(text);
  plan.name = std::filesystem::path(file_name).filename().string();
  check.OnlyKeys(root, {"name", "step", "finally", "profile"}, "the plan");
  if (const toml::node* name = root.get("name")) plan.name = check.String(*name, "name");
  const toml::node* steps = root.get("step");
  if (!steps) throw PlanError(file_name, 1, 1, "the plan has no steps ([[step]] entries)");
  plan.steps = check.ParseSteps(*steps, "step");
  if (plan.steps.empty()) check.Fail(*steps, "the plan has no steps");
  if (const toml::node* finally = root.get("finally"))
    plan.finally = check.ParseSteps(*finally, "finally");
  for (const Step& s : plan.finally)
    if (s.stop_on_fail)
      throw PlanError(file_name, s.line, 1, "stop_on_fail has no meaning in a finally step");

  if (const toml::node* profiles = root.get("profile")) {
    const toml::table& t = check.Table(*profiles, "profile");
    std::vector<std::pair<toml::source_position, Profile>> found;
    for (auto&& [key, value] : t)
      found.emplace_back(key.source().begin, check.ParseProfile(std::string(key.str()), value));
    // Plan order: toml++ keeps keys sorted, the plan's order is the sources'.
    std::stable_sort(found.begin(), found.end(), [](const auto& a, const auto& b) {
      return a.first.line != b.first.line ? a.first.line < b.first.line
                                          : a.first.column < b.first.column;
    });
    for (auto& [at, p] : found) plan.profiles.push_back(std::move(p));
  }

  // Step parameters that name files are resolved against the plan's folder
  // and must exist now, not halfway through a run.
  const std::filesystem::path folder = std::filesystem::path(file_name).parent_path();
  auto resolve = [&](std::vector<Step>& list) {
    for (Step& s : list) {
      if (s.kind != StepKind::kEepromCheck) continue;
      std::filesystem::path p(s.page_file);
      if (p.is_relative() && !folder.empty()) p = folder / p;
      std::error_code ec;
      if (!std::filesystem::is_regular_file(p, ec))
        throw PlanError(file_name, s.line, 1,
                        "page_file \"" + s.page_file + "\" is not a readable file");
      s.page_file = p.string();
    }
  };
  resolve(plan.steps);
  resolve(plan.finally);
  return plan;
}

Plan LoadPlan(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw PlanError(path, 0, 0, "cannot open the plan");
  std::stringstream text;
  text << in.rdbuf();
  if (in.bad()) throw PlanError(path, 0, 0, "cannot read the plan");
  return ParsePlan(text.str(), path);
}

}  // namespace qualify
