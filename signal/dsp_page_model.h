// The DSP register page without its window: the block as last read, the
// power reading, the pattern index and resend flag, WRITE's checks and the
// mode reports. The "Dsp" page and the CLI's `dsp` and `power` commands use it.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "board/board_result.h"
#include "signal/dsp_block.h"
#include "signal/mode_report.h"

class CDevice;

namespace sigtest {

struct PowerReading {
  float volts = 0, amps = 0, watts = 0;
};
// Payload of command 10: a float voltage at bytes 4-7 and the current
// reading at 8-11 (amps x 1.4355).
PowerReading ParsePower(const uint8_t* payload /* 12 bytes */);
// A failed read shows 0 V, 0 A, 0 W (the buffer starts zeroed).
PowerReading ReadPower(CDevice& device, BoardResult* result = nullptr);

// Command 17, 4 reports. `block` changes only when every report came back
// whole and passed the header test.
BoardResult ReadDspBlock(CDevice& device, DspBlock& block);
BoardResult WriteDspBlock(CDevice& device, const DspBlock& block);  // command 16, 4 reports
constexpr int kDspSaveWaitMs = 1000;
BoardResult SaveDsp(CDevice& device);  // command 13, then one second
// The page's answer to SAVE: "Save successfully!" only when the command went out.
std::string SaveMessage(bool sent, const std::string& reason);
// The page's answers to a READ or WRITE that the board did not complete.
std::string ReadFailedMessage(const BoardResult& result);
std::string WriteFailedMessage(const BoardResult& result);

// One control of the page: a field of one entry (row).
struct DspControlRef {
  const DspField* field;
  int entry;
};
// Every control, fields in table order and entries in block order.
const std::vector<DspControlRef>& DspControls();
// What a control holds: lists a selection (-1 none), check boxes a state,
// sixteen-bit fields their text.
struct DspValue {
  int selection = -1;
  bool checked = false;
  std::string text;
  bool operator==(const DspValue&) const = default;
};
DspValue DspValueOf(const DspBlock& block, const DspControlRef& control);
std::string DspControlName(const DspControlRef& control);  // "Line TX row 5 Pre"

class DspPageModel {
 public:
  static constexpr int kDefaultPattern = 8;  // PRBS31

  DspBlock& Block() { return block_; }
  const DspBlock& Block() const { return block_; }

  // READ step 2: the controls' values from the block, aligned with DspControls().
  std::vector<DspValue> Values() const;
  int Signalling() const { return block_[0] & 1; }
  int RateSelection() const { return DspRateEntry(block_[kDspRateCode]); }

  // WRITE steps 1-2: merges the controls into the block, sets the write
  // marker and the rate code, and raises the resend flag. A sixteen-bit field
  // that is not a decimal number 0-65535 fails the whole WRITE: the error
  // names the field, and the block is left as it was (send nothing).
  // A list without a selection leaves its bits as they were.
  std::optional<std::string> PrepareWrite(const std::vector<DspValue>& values, int rate_selection);

  // The mode report from the "Pat Sel:", "Rate:" and "Signalling:"
  // selections (-1 = none); stores the pattern and the rate code.
  ModeReport ReportFromSelections(int pattern_selection, int rate_selection,
                                  int signalling_selection);
  // The periodic report of every DDM refresh, from the block.
  ModeReport PeriodicReport();

  int Pattern() const { return pattern_; }
  int ResendFlag() const { return resend_; }
  void SetResendFlag(int flag) { resend_ = flag; }
  const PowerReading& Power() const { return power_; }
  void SetPower(const PowerReading& power) { power_ = power; }

 private:
  ModeReport Finish(int signalling, int rate_code);

  DspBlock block_{};
  PowerReading power_;
  int pattern_ = kDefaultPattern;
  int resend_ = 0;
};

}  // namespace sigtest
