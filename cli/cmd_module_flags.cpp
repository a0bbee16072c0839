// `flags` (the status registers as the flags page reads them) and `monitor`
// (flag events as they happen, then a summary).
#include <fmt/format.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <ostream>
#include <thread>

#include "cli/cmd_module.h"
#include "module/cmis_decode.h"
#include "module/flag_reader.h"
#include "module/qsfp_dd.h"
#include "module/status_fields.h"

namespace cli {
namespace {

// ---- flags ----

std::string ItemOrCode(const StatusField& f, uint8_t value) {
  if (const std::string* item = f.ItemText(value)) return *item;
  return fmt::format("(no item for code {:X})", value);
}

// True when the field's byte was read at the latest refresh (a module
// without the page has none to give).
bool FieldCurrent(const ModuleImages& images, const StatusField& f, int lane) {
  const auto spot = Locate(f.field, lane);
  return spot && images.Current(spot->page, spot->reg);
}

int Flags(Context& ctx, std::vector<std::string>& args) {
  if (!args.empty()) throw UsageError("flags takes no arguments");
  CDevice& board = ctx.Board();
  qsfp_dd::CQSFP_DD module(&board);
  // The status bytes as the flags page reads them, then the alarm and
  // warning bytes (module flags, the threshold flags of page 11h): every
  // latched byte once, through the module's flag reader.
  BoardResult read = module.ReadStatusImage();
  if (read) read = module.ReadAlarmImage();
  if (!read) throw BoardError("flags: reading the module failed: " + read.Text());
  const ModuleImages images = module.Snapshot();
  const auto& fields = FlagsPageFields();
  const auto interrupt = cmis::InterruptAsserted(images);
  const auto summary = cmis::DecodeFlagSummary(images);
  const auto decoded = cmis::DecodeModuleFlags(images);
  const auto counts = module.Flags().Get();
  auto optional_bit = [](const std::optional<bool>& b) { return b ? Json(*b) : Json(nullptr); };
  auto lane_bits = [&](const cmis::LaneBits& bits) {
    Json lanes = Json::array();
    for (const auto& b : bits) lanes.push_back(optional_bit(b));
    return lanes;
  };
  auto is_threshold_flag = [](const cmis::LatchedFlag& f) {
    return f.page == 0x11 && ((f.reg >= 139 && f.reg <= 146) || (f.reg >= 149 && f.reg <= 152));
  };

  if (ctx.json) {
    auto value = [&](const StatusField& f, int lane) -> Json {
      if (!FieldCurrent(images, f, lane)) return nullptr;  // not read: the module gave nothing
      const uint8_t v = f.ValueIn(images, lane);
      if (!f.items) return v != 0;
      const std::string* item = f.ItemText(v);
      return {{"code", v}, {"text", item ? Json(*item) : Json(nullptr)}};
    };
    Json doc = Json::object();
    for (const StatusField& f : fields) {
      std::string key = f.name;  // "module-state" -> "module_state"
      std::replace(key.begin(), key.end(), '-', '_');
      if (!f.PerLane()) {
        doc[key] = value(f, 0);
        continue;
      }
      Json lanes = Json::array();
      for (int lane = 1; lane <= kLanes; ++lane) lanes.push_back(value(f, lane));
      doc[key] = std::move(lanes);
    }
    // Lower 3 bit 0 reads 0 while the interrupt is asserted.
    doc["interrupt"] = optional_bit(interrupt);
    if (summary.available) {
      Json bits = Json::array();
      for (const auto& b : summary.bits)
        bits.push_back({{"bit", b.bit}, {"name", b.name}, {"set", b.set}});
      doc["lower_byte_4"] = {{"cmis_revision", summary.revision.Text()},
                             {"by_page", summary.by_page},
                             {"title", summary.title},
                             {"explanation", summary.explanation},
                             {"bits", std::move(bits)}};
    } else {
      doc["lower_byte_4"] = nullptr;
    }
    doc["output_status"] = {{"meaning", cmis::OutputStatus::kMeaning},
                            {"rx", lane_bits(decoded.outputs.rx)},
                            {"tx", lane_bits(decoded.outputs.tx)}};
    Json module_flags = Json::object();
    for (const auto& v : decoded.module) module_flags[Snake(v.flag->key)] = optional_bit(v.set);
    doc["module_flags"] = std::move(module_flags);
    if (decoded.fault_cause)
      doc["fault_cause"] = {{"code", *decoded.fault_cause}, {"text", decoded.fault_cause_name}};
    else
      doc["fault_cause"] = nullptr;
    Json threshold_flags = Json::object();
    for (const cmis::LatchedFlag& f : cmis::LatchedFlags()) {
      if (!is_threshold_flag(f)) continue;
      Json lanes =
          Json::array({nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr});
      for (const auto& v : decoded.lanes)
        if (v.flag == &f && v.lane >= 1 && v.lane <= kLanes)
          lanes[v.lane - 1] = optional_bit(v.set);
      threshold_flags[Snake(f.key)] = std::move(lanes);
    }
    doc["threshold_flags"] = std::move(threshold_flags);
    // What this read found raised, from the module's flag reader.
    Json raised = Json::array();
    for (const auto& r : counts.records)
      if (r.count > 0)
        raised.push_back({{"flag", r.flag->key},
                          {"lane", r.lane ? Json(r.lane) : Json(nullptr)},
                          {"count", r.count}});
    doc["counts"] = std::move(raised);
    ctx.PrintJson(doc);
    return kOk;
  }

  std::vector<std::vector<std::string>> module_rows, grid, lists;
  std::vector<std::string> head = {""};
  for (int lane = 1; lane <= kLanes; ++lane) head.push_back("Ln" + std::to_string(lane));
  grid.push_back(head);
  const StatusField* dp = nullptr;
  const StatusField* config = nullptr;
  for (const StatusField& f : fields) {
    if (!f.PerLane()) {
      const uint8_t v = f.ValueIn(images, 0);
      module_rows.push_back({f.caption, !FieldCurrent(images, f, 0) ? "-"
                                        : f.items                   ? ItemOrCode(f, v)
                                                                    : (v ? "on" : "off")});
    } else if (f.items) {
      (dp ? config : dp) = &f;
    } else {
      std::vector<std::string> row = {f.caption};
      for (int lane = 1; lane <= kLanes; ++lane)
        row.push_back(!FieldCurrent(images, f, lane) ? "-" : f.ValueIn(images, lane) ? "x" : ".");
      grid.push_back(row);
    }
  }
  PrintTable(ctx.out, module_rows);
  ctx.out << "\n";
  std::vector<std::vector<std::string>> extra;
  extra.push_back({"Interrupt (lower 3 bit 0 = 0)",
                   interrupt ? (*interrupt ? "asserted" : "deasserted") : "n/a"});
  if (summary.available) {
    std::string bits;
    for (const auto& b : summary.bits)
      if (b.set) bits += (bits.empty() ? "" : ", ") + b.name;
    extra.push_back({summary.title + " (CMIS " + summary.revision.Text() + ")",
                     bits.empty() ? "none set" : bits});
  }
  auto lane_text = [](const cmis::LaneBits& bits) {
    std::string t;
    for (const auto& b : bits) t += b ? (*b ? "1" : "0") : "-";
    return t;
  };
  extra.push_back({"Rx output status (page 11h 0x84)", lane_text(decoded.outputs.rx)});
  extra.push_back({"Tx output status (page 11h 0x85)", lane_text(decoded.outputs.tx)});
  extra.push_back({"Fault cause (lower 0x29)",
                   decoded.fault_cause ? decoded.fault_cause_name : std::string("n/a")});
  PrintTable(ctx.out, extra);
  if (summary.available) ctx.out << summary.explanation << "\n";
  ctx.out << "Output status " << cmis::OutputStatus::kMeaning << ", lanes 1-8 (- not in use)\n";
  std::vector<std::vector<std::string>> raised;
  for (const auto& r : counts.records)
    if (r.count > 0)
      raised.push_back({r.flag->name, r.lane ? "lane " + std::to_string(r.lane) : "module",
                        "count " + std::to_string(r.count)});
  if (!raised.empty()) {
    ctx.out << "\nRaised in this read:\n";
    PrintTable(ctx.out, raised);
  }
  ctx.out << "\n";
  PrintTable(ctx.out, grid);
  ctx.out << "\n";
  lists.push_back({"Lane", dp->caption, config->caption});
  for (int lane = 1; lane <= kLanes; ++lane)
    lists.push_back({std::to_string(lane), ItemOrCode(*dp, dp->ValueIn(images, lane)),
                     ItemOrCode(*config, config->ValueIn(images, lane))});
  PrintTable(ctx.out, lists);
  return kOk;
}

// ---- monitor ----

std::string MonitorEventText(const FlagReader::Event& e) {
  std::string where = e.lane ? " lane " + std::to_string(e.lane) : "";
  return IsoTime(e.time) + "  " + (e.set ? "set    " : "cleared") + "  " + e.flag->key + where +
         "  count " + std::to_string(e.count);
}

Json MonitorEventJson(const FlagReader::Event& e) {
  return {{"time", IsoTime(e.time)},
          {"flag", e.flag->key},
          {"lane", e.lane ? Json(e.lane) : Json(nullptr)},
          {"event", e.set ? "set" : "cleared"},
          {"count", e.count}};
}

int Monitor(Context& ctx, std::vector<std::string>& args) {
  if (!args.empty()) throw UsageError("monitor takes no arguments besides its options");
  std::string seconds_text;
  const bool limited = ctx.Option("--seconds", &seconds_text);
  const double seconds = limited ? ParseSeconds(seconds_text, "--seconds") : 0;

  CDevice& board = ctx.Board();
  qsfp_dd::CQSFP_DD module(&board);
  FlagReader& reader = module.Flags();
  using Clock = std::chrono::steady_clock;
  const auto start = Clock::now();
  const auto end = start + std::chrono::duration_cast<Clock::duration>(
                               std::chrono::duration<double>(limited ? seconds : 0));
  uint64_t printed = 0;
  bool output_ok = true;
  // Prints the reader's events since the last print; false when stdout failed.
  auto print_events = [&] {
    for (const auto& e : reader.EventsAfter(printed)) {
      printed = e.sequence;
      if (ctx.json)
        ctx.PrintJson(MonitorEventJson(e));
      else
        ctx.out << MonitorEventText(e) << "\n";
    }
    ctx.out << std::flush;
    if (ctx.out) return true;
    ctx.reader_gone = ctx.ReaderGone();
    return false;
  };
  // One refresh of every latched byte, through the module object so that its
  // flag reader owns them.
  auto refresh = [&] {
    BoardResult r = module.ReadAlarmImage();
    if (r) r = module.ReadStatusImage();
    return r;
  };
  int status = kOk;
  std::string failure;
  // The period ends (or Ctrl-C comes) with one more refresh, so that a flag
  // raised or cleared since the last one is reported.
  for (bool last = false;;) {
    if (const BoardResult r = refresh(); !r) {
      failure = "monitor: reading the module failed: " + r.Text();
      status = kBoardFailure;
      break;
    }
    if (!(output_ok = print_events()) || last) break;
    const auto next = Clock::now() + std::chrono::seconds(1);
    while (!g_interrupted && Clock::now() < next && !(limited && Clock::now() >= end))
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    last = g_interrupted || (limited && Clock::now() >= end);
  }
  if (!output_ok) return kOk;  // the reader went away: as after Ctrl-C
  const auto snapshot = reader.Get();
  const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
  auto time_or_null = [](const std::optional<FlagReader::Clock::time_point>& t) {
    return t ? Json(IsoTime(*t)) : Json(nullptr);
  };
  if (ctx.json) {
    Json flags = Json::array();
    for (const auto& r : snapshot.records)
      if (r.count > 0 || r.last_clear)
        flags.push_back({{"flag", r.flag->key},
                         {"lane", r.lane ? Json(r.lane) : Json(nullptr)},
                         {"count", r.count},
                         {"first_set", time_or_null(r.first_set)},
                         {"last_set", time_or_null(r.last_set)},
                         {"last_clear", time_or_null(r.last_clear)}});
    ctx.PrintJson({{"summary", std::move(flags)},
                   {"seconds", std::round(elapsed * 1000) / 1000},
                   {"interrupted", g_interrupted.load()},
                   {"dropped_events", snapshot.dropped_events}});
  } else {
    std::vector<std::vector<std::string>> rows = {
        {"Flag", "Lane", "Count", "First set", "Last set", "Last clear"}};
    auto time_text = [](const std::optional<FlagReader::Clock::time_point>& t) {
      return t ? IsoTime(*t) : std::string("-");
    };
    for (const auto& r : snapshot.records)
      if (r.count > 0 || r.last_clear)
        rows.push_back({r.flag->key, r.lane ? std::to_string(r.lane) : "-", std::to_string(r.count),
                        time_text(r.first_set), time_text(r.last_set), time_text(r.last_clear)});
    ctx.out << "== summary\n";
    if (rows.size() == 1)
      ctx.out << "no flag was raised\n";
    else
      PrintTable(ctx.out, rows);
  }
  ctx.out << std::flush;
  if (status != kOk) throw BoardError(failure);
  return kOk;
}

}  // namespace

Command FlagsCommand() {
  return {"flags",
          "flags",
          "module state, data path states and the lane flags",
          "Reads the status registers as the flags page does and prints the module\n"
          "state, interrupt and module-state-changed, the bank-0 lane flags, the\n"
          "eight per-lane flags (x set, . clear), each lane's data path state and\n"
          "configuration status. Latched flags clear when read. Then the interrupt\n"
          "(asserted while lower 0x03 bit 0 is 0), lower byte 4 named by the CMIS\n"
          "revision (by page from 5.0, by lane before), the Rx/Tx output status\n"
          "(page 11h 0x84, 0x85: 1 output valid), the fault cause and the flags this\n"
          "read found raised; --json adds the module flags and the threshold flags.\n",
          {},
          Flags};
}

Command MonitorCommand() {
  return {
      "monitor",
      "monitor [--seconds N]",
      "print flag events as they happen, then a summary",
      "Reads every latched flag byte once a second through the module's flag reader\n"
      "and prints each flag raised (set) or seen clear again (cleared) with its lane\n"
      "and count, as it happens; with --json one JSON line per event. Ends after N\n"
      "seconds or at Ctrl-C and prints a summary per flag: count, first set, last\n"
      "set, last clear (with --json a last line {summary, seconds, interrupted}).\n"
      "Exit 1 when the board fails (after the summary).\n",
      {{"--seconds", "N", "stop after N seconds (above 0, at most 86400); default:\nuntil Ctrl-C"}},
      Monitor};
}

}  // namespace cli
