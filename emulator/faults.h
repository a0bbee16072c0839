// Faults of a bad module in the emulated board, named the way the
// --emulate-fault option of the tools takes them:
//
//   tx-stuck=LANES   the lanes' lasers stay on when Tx is disabled (bias and
//                    Tx power stay up)
//   tx-los=LANES     the lanes' Tx LOS flags latch again and again
//   temp-high        the module runs above its temperature high alarm
//   high-ber=LANES   the lanes' PRBS checkers count errors at kHighBer
//
// LANES is a lane 1-8, several separated by commas, or `all`. A trailing
// @INDEX puts the fault on one board of several (--emulate-boards); without
// it every board has it.
#pragma once

#include <cstdint>
#include <string>

namespace emu {

class EmulatedBoard;

// The bit-error ratio of a high-ber lane: far above any target a
// qualification sets, and above the checker's alarm level.
constexpr double kHighBer = 1e-4;

struct FaultSpec {
  enum class Kind { kTxStuckOn, kTxLos, kTemperatureHigh, kHighBer };
  Kind kind = Kind::kTxStuckOn;
  uint8_t lanes = 0;  // bit lane-1; 0 for a module-wide fault
  int board = -1;     // the board's index, or -1 for every board
};

// False, with the reason, for text that is not a fault as above.
bool ParseFault(const std::string& text, FaultSpec* fault, std::string* error);
// Sets the fault on `board` (its module, or its PRBS lanes), added to the
// faults it has; the board's lock is taken here.
void ApplyFault(EmulatedBoard& board, const FaultSpec& fault);

}  // namespace emu
