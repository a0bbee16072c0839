#include "signal/dsp_page_model.h"

#include <cstring>

#include "board/device.h"
#include "board/protocol.h"

namespace sigtest {

PowerReading ParsePower(const uint8_t* payload) {
  PowerReading p;
  float raw_current;
  std::memcpy(&p.volts, payload + 4, 4);
  std::memcpy(&raw_current, payload + 8, 4);
  p.amps = static_cast<float>(raw_current / 1.4355);
  p.watts = p.volts * p.amps;
  return p;
}

PowerReading ReadPower(CDevice& device, BoardResult* result) {
  uint8_t payload[12] = {};
  const auto r = device.SendCommand(board::kPowerRead, 0, 0, payload, sizeof payload);
  if (result) *result = r;
  return ParsePower(payload);
}

BoardResult ReadDspBlock(CDevice& device, DspBlock& block) {
  DspBlock read = block;
  const auto r = device.SendCommand(board::kDspRead, 0, 0, read.data(), kDspBlockSize);
  if (r) block = read;
  return r;
}

BoardResult WriteDspBlock(CDevice& device, const DspBlock& block) {
  DspBlock copy = block;
  return device.SendCommand(board::kDspWrite, 0, 0, copy.data(), kDspBlockSize);
}

BoardResult SaveDsp(CDevice& device) {
  const auto r = device.SendCommand(board::kDspSave, 0, 0, nullptr, 0);
  device.Pause(kDspSaveWaitMs);
  return r;
}

std::string SaveMessage(bool sent, const std::string& reason) {
  if (sent) return "Save successfully!";
  return "Save failed: the board did not take the save command (" + reason + ").";
}

std::string ReadFailedMessage(const BoardResult& result) {
  return "READ failed: " + result.Text() + ". The fields keep their values.";
}

std::string WriteFailedMessage(const BoardResult& result) {
  std::string text = "WRITE failed: " + result.Text() + ".";
  // The block goes out in four reports: those before the failed one arrived.
  if (result.report > 0) text += " The board may hold part of the new block.";
  return text;
}

const std::vector<DspControlRef>& DspControls() {
  static const std::vector<DspControlRef> controls = [] {
    std::vector<DspControlRef> out;
    for (const auto& field : DspFields())
      for (int entry = 0; entry < DspEntryCount(field.section); ++entry)
        out.push_back({&field, entry});
    return out;
  }();
  return controls;
}

DspValue DspValueOf(const DspBlock& block, const DspControlRef& c) {
  DspValue v;
  const unsigned value = GetDsp(block, *c.field, c.entry);
  switch (c.field->control) {
    case DspControl::kList:
      v.selection = value <= DspMaxValue(*c.field, c.entry) ? static_cast<int>(value) : -1;
      break;
    case DspControl::kCheck:
      v.checked = value != 0;
      break;
    case DspControl::kNumber:
      v.text = std::to_string(value);
      break;
  }
  return v;
}

std::string DspControlName(const DspControlRef& c) {
  std::string label = c.field->label;
  while (!label.empty() && (label.back() == ' ' || label.back() == ':')) label.pop_back();
  if (c.field->section == DspSection::kGlobal) return label;
  return DspRowName(c.field->section, c.entry) + " " + label;
}

std::vector<DspValue> DspPageModel::Values() const {
  std::vector<DspValue> out;
  for (const auto& c : DspControls()) out.push_back(DspValueOf(block_, c));
  return out;
}

std::optional<std::string> DspPageModel::PrepareWrite(const std::vector<DspValue>& values,
                                                      int rate_selection) {
  const auto& controls = DspControls();
  if (values.size() != controls.size()) return std::string("internal: control count mismatch");
  for (size_t i = 0; i < controls.size(); ++i) {
    if (controls[i].field->control != DspControl::kNumber) continue;
    if (!ParseDspWord(values[i].text))
      return DspControlName(controls[i]) + ": \"" + values[i].text +
             "\" is not a number from 0 to 65535";
  }
  DspBlock next = block_;
  for (size_t i = 0; i < controls.size(); ++i) {
    const auto& c = controls[i];
    const DspValue& v = values[i];
    switch (c.field->control) {
      case DspControl::kList:
        if (v.selection >= 0) SetDsp(next, *c.field, c.entry, static_cast<unsigned>(v.selection));
        break;
      case DspControl::kCheck:
        SetDsp(next, *c.field, c.entry, v.checked ? 1 : 0);
        break;
      case DspControl::kNumber:
        SetDsp(next, *c.field, c.entry, *ParseDspWord(v.text));
        break;
    }
  }
  next[kDspWriteMarker] = 1;
  next[kDspRateCode] = static_cast<uint8_t>(rate_selection + 4);
  block_ = next;
  resend_ = 1;
  return std::nullopt;
}

ModeReport DspPageModel::ReportFromSelections(int pattern_selection, int rate_selection,
                                              int signalling_selection) {
  pattern_ = pattern_selection;
  int rate_code = block_[kDspRateCode];
  if (signalling_selection == 0) {
    rate_code = rate_selection != 0 ? 5 : 4;
  } else if (signalling_selection == 1) {
    if (rate_selection == 0) rate_code = 4;
    if (rate_selection == 1) rate_code = 5;
  }
  block_[kDspRateCode] = static_cast<uint8_t>(rate_code);
  return Finish(signalling_selection, rate_code);
}

ModeReport DspPageModel::PeriodicReport() {
  int rate_code = block_[kDspRateCode];
  if (rate_code == 0)
    rate_code = 4;
  else if (rate_code == 1)
    rate_code = 5;
  return Finish(block_[0] & 1, rate_code);
}

ModeReport DspPageModel::Finish(int signalling, int rate_code) {
  ModeReport m;
  m.pattern = static_cast<uint8_t>(pattern_);
  m.signalling = static_cast<uint8_t>(signalling);
  m.rate_code = static_cast<uint8_t>(rate_code);
  m.power = power_.watts;
  m.resend = resend_ ? 1 : 0;
  if (resend_ == 1) resend_ = 0;
  return m;
}

}  // namespace sigtest
