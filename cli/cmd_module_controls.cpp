// `set` (one control or mask, through the control table) and `controls`
// (the control page's state).
#include <fmt/format.h>

#include <algorithm>
#include <cctype>
#include <ostream>
#include <sstream>

#include "cli/cmd_module.h"
#include "module/cmis_decode.h"
#include "module/controls.h"
#include "module/qsfp_dd.h"

namespace cli {
namespace {

// ---- set ----

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

// "4 and 8": the lanes of a mask.
std::string LanesText(uint8_t mask) {
  std::vector<std::string> lanes;
  for (int lane = 1; lane <= kLanes; ++lane)
    if (mask & (1u << (lane - 1))) lanes.push_back(std::to_string(lane));
  std::string text;
  for (size_t i = 0; i < lanes.size(); ++i)
    text += (i == 0 ? "" : i + 1 == lanes.size() ? " and " : ", ") + lanes[i];
  return text;
}

// The values the help states: "on/off", "0-15", "0-5 (lanes 4 and 8: 0-3)".
std::string ValuesText(const ControlFamily& f) {
  if (f.kind == ControlKind::kAction) return "-";
  if (f.kind == ControlKind::kCheck) return "on/off";
  std::string text = "0-" + std::to_string(f.ItemCount(0) - 1);
  if (f.short_lanes)
    text +=
        " (lanes " + LanesText(f.short_lanes) + ": 0-" + std::to_string(f.short_count - 1) + ")";
  return text;
}

// A check box takes on/off, true/false, yes/no or 1/0 in any case; a list
// its position or an item's text (any case), valid on every lane given.
uint8_t ParseControlValue(const ControlFamily& f, const std::string& text,
                          const std::vector<int>& lanes) {
  const std::string what = std::string(f.name) + " VALUE";
  const std::string word = Lower(text);
  if (f.kind == ControlKind::kCheck) {
    if (word == "on" || word == "true" || word == "yes" || word == "1") return 1;
    if (word == "off" || word == "false" || word == "no" || word == "0") return 0;
    throw UsageError(what + ": \"" + text + "\" is not on or off");
  }
  int value = -1;
  for (int i = 0; i < f.ItemCount(0) && value < 0; ++i)
    if (!word.empty() && word == Lower((*f.items)[i])) value = i;
  if (value < 0) value = static_cast<int>(ParseNumber(text, f.MaxValue(), what));
  for (int lane : lanes)
    if (value >= f.ItemCount(lane))
      throw UsageError(what + ": " + text + " is not in the list" +
                       (lane ? " of lane " + std::to_string(lane) : std::string()) + " (0-" +
                       std::to_string(f.ItemCount(lane) - 1) + ")");
  return static_cast<uint8_t>(value);
}

std::string ValueText(const ControlFamily& f, int lane, uint8_t value) {
  if (f.kind == ControlKind::kCheck) return value ? "on" : "off";
  std::string text = std::to_string(value);
  if (const std::string* item = f.ItemText(lane, value)) text += " (" + *item + ")";
  return text;
}

int Set(Context& ctx, std::vector<std::string>& args) {
  if (args.empty()) throw UsageError("usage: set NAME [LANE] VALUE (see set --help)");
  const ControlFamily* f = FindControl(args[0]);
  if (!f) throw UsageError("no control \"" + args[0] + "\" (set --help lists them)");
  std::vector<int> lanes = {0};
  size_t next = 1;
  if (f->PerLane()) {
    if (args.size() < 2) throw UsageError(std::string("usage: set ") + f->name + " LANE VALUE");
    if (args[1] == "all") {
      lanes = {1, 2, 3, 4, 5, 6, 7, 8};
    } else {
      const auto lane = ParseNumber(args[1], kLanes, "LANE");
      if (lane < 1) throw UsageError("LANE: give 1-8 or all");
      lanes = {static_cast<int>(lane)};
    }
    next = 2;
  }
  uint8_t value = 0;
  if (f->kind == ControlKind::kAction) {
    if (args.size() != next) throw UsageError(std::string(f->name) + " takes no value");
  } else {
    if (args.size() != next + 1)
      throw UsageError(std::string("usage: set ") + f->name + (f->PerLane() ? " LANE" : "") +
                       " VALUE");
    value = ParseControlValue(*f, args[next], lanes);
  }

  CDevice& board = ctx.Board();
  qsfp_dd::CQSFP_DD module(&board);
  Json json = Json::array();
  for (int lane : lanes) {
    if (const BoardResult r = f->Apply(module, lane, value); !r)
      throw BoardError(std::string("set ") + f->name +
                       (lane ? " lane " + std::to_string(lane) : "") + ": " + r.Text());
    const auto spot = Locate(f->field, lane);
    const uint8_t byte = module.Snapshot().Byte(spot->page, spot->reg);
    if (ctx.json) {
      Json entry = {{"control", f->name}};
      if (lane) entry["lane"] = lane;
      if (f->kind != ControlKind::kAction) entry["value"] = value;
      entry["address"] = fmt::format("0x{:06X}", spot->address);
      entry["byte"] = byte;
      json.push_back(std::move(entry));
      continue;
    }
    std::string line = f->name;
    if (lane) line += " lane " + std::to_string(lane);
    if (f->kind != ControlKind::kAction) line += " = " + ValueText(*f, lane, value);
    ctx.out << line << ": wrote " << fmt::format("0x{:02X}", byte) << " to "
            << RegisterName(spot->page, spot->reg) << "\n";
  }
  if (ctx.json) ctx.PrintJson(json.size() == 1 ? json[0] : json);
  return kOk;
}

std::string SetHelp() {
  std::ostringstream h;
  h << "Changes one control of the module: the control page, staged control sets 0\n"
       "and 1, and the flag masks (a set mask keeps its flag from asserting the\n"
       "interrupt). A read-modify-write of the one register that holds it, other\n"
       "bits kept. LANE is 1-8, or all for the eight lanes in order. VALUE is on or\n"
       "off for a check box (true/false, yes/no and 1/0 too, in any case), or for a\n"
       "list an item's position or its text (in any case); with all, a value every\n"
       "lane's list holds.\n\n";
  // One table for the two pages, then one for staged set 1 and one for the masks.
  auto table = [&h](std::initializer_list<ControlPage> pages, bool captions) {
    std::vector<std::vector<std::string>> rows = {
        {"NAME", "LANE", "VALUE", "WHERE", captions ? "CAPTION" : "WHAT"}};
    for (const ControlFamily& f : ControlFamilies()) {
      if (std::find(pages.begin(), pages.end(), f.page) == pages.end()) continue;
      const auto spot = Locate(f.field, 1);
      std::string where = RegisterName(spot->page, spot->reg);
      if (f.PerLane() && f.field.layout != Layout::kLaneBit) where += "..";
      rows.push_back({f.name, f.PerLane() ? "1-8" : "-", ValuesText(f), where,
                      *f.caption ? f.caption : f.title});
    }
    PrintTable(h, rows);
  };
  table({ControlPage::kControl, ControlPage::kStagedSet0}, true);
  h << "\nStaged control set 1 (no page shows it):\n";
  table({ControlPage::kStagedSet1}, false);
  h << "\nMasks:\n";
  table({ControlPage::kMasks}, false);
  h << "\nList items (index = VALUE):\n";
  for (const ControlFamily& f : ControlFamilies()) {
    if (!f.items) continue;
    h << "  " << f.name << ":";
    for (int i = 0; i < static_cast<int>(f.items->size()); ++i)
      h << (i ? ", " : " ") << i << " " << (*f.items)[i];
    if (f.short_lanes)
      h << " (lanes " << LanesText(f.short_lanes) << " list 0-" << int(f.short_count) - 1
        << " only)";
    h << "\n";
  }
  h << "\nExamples:\n"
       "  lanewright-cli --emulate set tx-disable 3 on\n"
       "  lanewright-cli --emulate set app-code 8 3\n"
       "  lanewright-cli --emulate set apply-immediate all on\n"
       "  lanewright-cli --emulate set soft-reset\n"
       "  lanewright-cli --emulate set tx-power-low-warning-mask all on\n";
  return h.str();
}

// ---- controls ----

int Controls(Context& ctx, std::vector<std::string>& args) {
  if (!args.empty()) throw UsageError("controls takes no arguments");
  CDevice& board = ctx.Board();
  qsfp_dd::CQSFP_DD module(&board);
  if (const BoardResult read = module.ReadControlImage(); !read)
    throw BoardError("controls: reading the module failed: " + read.Text());
  const auto rows = cmis::DecodeControls(module.Snapshot());
  auto text = [](const cmis::ControlRow& row, int lane, uint8_t value) {
    return row.family ? ValueText(*row.family, lane, value) : std::to_string(value);
  };
  if (ctx.json) {
    Json doc = Json::object();
    for (const auto& row : rows) {
      auto entry = [&](int lane) -> Json {
        const auto& v = row.values[lane ? lane - 1 : 0];
        if (!v) return nullptr;
        if (row.family && row.family->kind == ControlKind::kCheck) return *v != 0;
        const std::string* item = row.family ? row.family->ItemText(lane, *v) : nullptr;
        return {{"code", *v}, {"text", item ? Json(*item) : Json(nullptr)}};
      };
      if (!row.per_lane) {
        doc[Snake(row.key)] = entry(0);
        continue;
      }
      Json lanes = Json::array();
      for (int lane = 1; lane <= kLanes; ++lane) lanes.push_back(entry(lane));
      doc[Snake(row.key)] = std::move(lanes);
    }
    ctx.PrintJson(doc);
    return kOk;
  }
  if (rows.empty()) {
    ctx.out << "no control state (the module has no control page)\n";
    return kOk;
  }
  std::vector<std::vector<std::string>> module_rows;
  std::vector<std::vector<std::string>> grid;
  std::vector<std::string> head = {""};
  for (int lane = 1; lane <= kLanes; ++lane) head.push_back("Ln" + std::to_string(lane));
  grid.push_back(head);
  for (const auto& row : rows) {
    if (!row.per_lane) {
      module_rows.push_back(
          {row.key, row.values[0] ? text(row, 0, *row.values[0]) : "n/a", row.title});
      continue;
    }
    std::vector<std::string> cells = {row.key};
    for (int lane = 1; lane <= kLanes; ++lane) {
      const auto& v = row.values[lane - 1];
      if (!v)
        cells.push_back("-");
      else if (row.family && row.family->kind == ControlKind::kCheck)
        cells.push_back(*v ? "on" : "off");
      else
        cells.push_back(std::to_string(*v));
    }
    grid.push_back(cells);
  }
  if (!module_rows.empty()) {
    PrintTable(ctx.out, module_rows);
    ctx.out << "\n";
  }
  PrintTable(ctx.out, grid);
  return kOk;
}

}  // namespace

Command ControlsCommand() {
  return {"controls",
          "controls",
          "the control page's state: Tx disable, data path, polarity, squelch",
          "Reads the control registers (lower 0x1A and page 10h) and prints each control\n"
          "as the module holds it: module-wide controls with their value, then one row\n"
          "per lane control (on/off, or the list position; - where the module has no\n"
          "value). Names are those `set` takes.\n",
          {},
          Controls};
}

Command SetCommand() {
  return {"set", "set NAME [LANE] VALUE", "change one module control", SetHelp(), {}, Set};
}

}  // namespace cli
