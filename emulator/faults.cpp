#include "emulator/faults.h"

#include <cctype>

#include "emulator/emulated_board.h"

namespace emu {

namespace {

bool AllDigits(const std::string& text) {
  if (text.empty() || text.size() > 3) return false;
  for (char c : text)
    if (!std::isdigit(static_cast<unsigned char>(c))) return false;
  return true;
}

bool ParseLanes(const std::string& text, uint8_t* lanes, std::string* error) {
  if (text == "all") {
    *lanes = 0xFF;
    return true;
  }
  uint8_t out = 0;
  size_t start = 0;
  for (;;) {
    const size_t comma = text.find(',', start);
    const std::string item = text.substr(start, comma == std::string::npos ? comma : comma - start);
    if (!AllDigits(item) || std::stoi(item) < 1 || std::stoi(item) > 8) {
      *error = "\"" + item + "\" is not a lane 1-8";
      return false;
    }
    out |= static_cast<uint8_t>(1u << (std::stoi(item) - 1));
    if (comma == std::string::npos) break;
    start = comma + 1;
  }
  *lanes = out;
  return true;
}

}  // namespace

bool ParseFault(const std::string& text, FaultSpec* fault, std::string* error) {
  std::string why;
  auto fail = [&](const std::string& reason) {
    if (error) *error = "\"" + text + "\": " + reason;
    return false;
  };
  FaultSpec out;
  std::string body = text;
  if (const size_t at = body.rfind('@'); at != std::string::npos) {
    const std::string index = body.substr(at + 1);
    if (!AllDigits(index)) return fail("@" + index + " is not a board index");
    out.board = std::stoi(index);
    body.erase(at);
  }
  const size_t eq = body.find('=');
  const std::string name = body.substr(0, eq);
  const bool has_lanes = eq != std::string::npos;
  if (name == "temp-high") {
    if (has_lanes) return fail("temp-high takes no lanes");
    out.kind = FaultSpec::Kind::kTemperatureHigh;
  } else {
    if (name == "tx-stuck")
      out.kind = FaultSpec::Kind::kTxStuckOn;
    else if (name == "tx-los")
      out.kind = FaultSpec::Kind::kTxLos;
    else if (name == "high-ber")
      out.kind = FaultSpec::Kind::kHighBer;
    else
      return fail("unknown fault (tx-stuck=LANES, tx-los=LANES, temp-high, high-ber=LANES)");
    if (!has_lanes) return fail(name + " needs its lanes: " + name + "=LANES (1-8, a list or all)");
    if (!ParseLanes(body.substr(eq + 1), &out.lanes, &why)) return fail(why);
  }
  *fault = out;
  return true;
}

void ApplyFault(EmulatedBoard& board, const FaultSpec& fault) {
  auto lock = board.Lock();
  ModuleModel::Faults faults = board.Module().GetFaults();
  for (int lane = 1; lane <= 8; ++lane) {
    if (!(fault.lanes & (1u << (lane - 1)))) continue;
    switch (fault.kind) {
      case FaultSpec::Kind::kTxStuckOn:
        faults.tx_stuck_on[lane - 1] = true;
        break;
      case FaultSpec::Kind::kTxLos:
        faults.tx_los[lane - 1] = true;
        break;
      case FaultSpec::Kind::kHighBer:
        board.Prbs().SetLaneBer(lane, kHighBer);
        break;
      case FaultSpec::Kind::kTemperatureHigh:
        break;
    }
  }
  if (fault.kind == FaultSpec::Kind::kTemperatureHigh) faults.temperature_high = true;
  board.Module().SetFaults(faults);
}

}  // namespace emu
