#include "module/controls.h"

#include <cstdio>

#include "module/qsfp_dd.h"
#include "module/sfp_base.h"

namespace {

using CP = ControlPage;
using CK = ControlKind;

// Lanes 4 and 8 of the Rx output amplitude lists offer codes 0-3 only.
constexpr uint8_t kAmplitudeShortLanes = (1u << 3) | (1u << 7);

}  // namespace

const names::List& TxEqStoreItems() {
  static const names::List l = {"00 Res", "01 Loc1", "10 Loc2", "11 Res"};
  return l;
}
const names::List& SquelchMethodItems() {
  static const names::List l = {"Tx Squelch reduces OMA", "Tx Squelch reduces Pave"};
  return l;
}
const names::List& AppCodeItems() {
  static const names::List l = [] {
    names::List items = {"0000 Res"};
    for (int i = 1; i < 16; ++i) {
      std::string bits;
      for (int b = 3; b >= 0; --b) bits += (i >> b) & 1 ? '1' : '0';
      items.push_back(bits);
    }
    return items;
  }();
  return l;
}
const names::List& DpCodeItems() {
  static const names::List l = {"000b", "001b", "010b", "011b", "100b", "101b", "110b", "111b"};
  return l;
}
const names::List& RecallItems() {
  static const names::List l = {"00b", "01b", "10b"};
  return l;
}
const names::List& TwoDigitItems() {
  static const names::List l = [] {
    names::List items;
    char buf[4];
    for (int i = 0; i < 16; ++i) {
      std::snprintf(buf, sizeof buf, "%02d", i);
      items.push_back(buf);
    }
    return items;
  }();
  return l;
}

const std::vector<ControlFamily>& ControlFamilies() {
  static const std::vector<ControlFamily> table = [] {
    const RegisterMap& m = qsfp_dd::Map();
    auto staged = [&m](Staged s) { return m.StagedField(0, s); };
    using M = CSfpBase;
    std::vector<ControlFamily> t = {
        // Control page: module global controls (lower 0x1A).
        {"force-low-power", CP::kControl, "ForceLowPwr(0x1A)", "force the module into low power",
         nullptr, m.force_low_pwr, CK::kCheck, nullptr, 0, 0,
         [](M& x, int, uint8_t v) { return x.SetForceLowPwr(v); }},
        {"low-power", CP::kControl, "LowPwr(0x1A)", "request low power", nullptr, m.low_pwr,
         CK::kCheck, nullptr, 0, 0, [](M& x, int, uint8_t v) { return x.SetLowPwr(v); }},
        {"soft-reset", CP::kControl, "SoftReset(0x1A)", "software reset of the module", nullptr,
         m.soft_reset, CK::kAction, nullptr, 0, 0,
         [](M& x, int, uint8_t) { return x.SoftReset(); }},
        {"squelch-method", CP::kControl, "", "what a Tx squelch reduces", nullptr, m.squelch_method,
         CK::kList, &SquelchMethodItems(), 0, 0,
         [](M& x, int, uint8_t v) { return x.SetSquelchMethod(v != 0); }},
        // Control page: lane controls (page 10h 0x80-0x8B).
        {"dp-deinit", CP::kControl, "DataPathDeinit(0x80)",
         "hold the lane's data path deinitialised", "Ln%d", m.dp_deinit, CK::kCheck, nullptr, 0, 0,
         [](M& x, int l, uint8_t v) { return x.SetDataPathDeinit(l, v); }},
        {"tx-polarity-flip", CP::kControl, "Tx Polarity Flip(0x81)", "flip the Tx input polarity",
         "  Tx%d", m.tx_polarity_flip, CK::kCheck, nullptr, 0, 0,
         [](M& x, int l, uint8_t v) { return x.SetTxPolarityFlip(l, v); }},
        {"tx-disable", CP::kControl, "Tx Disable(0x82)", "disable the Tx output", "  Tx%d",
         m.tx_disable, CK::kCheck, nullptr, 0, 0,
         [](M& x, int l, uint8_t v) { return x.SetTxDisable(l, v); }},
        {"tx-squelch-disable", CP::kControl, "Tx Squelch Disable(0x83)",
         "disable the Tx auto-squelch", "  Tx%d", m.tx_squelch_disable, CK::kCheck, nullptr, 0, 0,
         [](M& x, int l, uint8_t v) { return x.SetTxSquelchDisable(l, v); }},
        {"tx-force-squelch", CP::kControl, "Tx Force Squelch(0x84)", "force the Tx output squelch",
         "  Tx%d", m.tx_force_squelch, CK::kCheck, nullptr, 0, 0,
         [](M& x, int l, uint8_t v) { return x.SetTxForceSquelch(l, v); }},
        {"tx-eq-freeze", CP::kControl, "Tx Eq Freeze(0x86)",
         "freeze the Tx adaptive input equaliser", "  Tx%d", m.tx_eq_freeze, CK::kCheck, nullptr, 0,
         0, [](M& x, int l, uint8_t v) { return x.SetTxEqFreeze(l, v); }},
        {"tx-eq-store", CP::kControl, "Tx Eq Store(0x87~0x88)",
         "store the Tx adaptive equaliser setting", "%d", m.tx_eq_store, CK::kList,
         &TxEqStoreItems(), 0, 0, [](M& x, int l, uint8_t v) { return x.SetTxEqStore(l, v); }},
        {"rx-polarity-flip", CP::kControl, "Rx Polarity Flip(0x89)", "flip the Rx output polarity",
         "  Rx%d", m.rx_polarity_flip, CK::kCheck, nullptr, 0, 0,
         [](M& x, int l, uint8_t v) { return x.SetRxPolarityFlip(l, v); }},
        {"rx-output-disable", CP::kControl, "Rx Output Disable(0x8A)", "disable the Rx output",
         "  Rx%d", m.rx_output_disable, CK::kCheck, nullptr, 0, 0,
         [](M& x, int l, uint8_t v) { return x.SetRxOutputDisable(l, v); }},
        {"rx-squelch-disable", CP::kControl, "Rx Squelch Disable(0x8B)",
         "disable the Rx auto-squelch", "  Rx%d", m.rx_squelch_disable, CK::kCheck, nullptr, 0, 0,
         [](M& x, int l, uint8_t v) { return x.SetRxSquelchDisable(l, v); }},
        // Staged control set 0 page (page 10h 0x8F-0xAD).
        {"apply-dp-init", CP::kStagedSet0, "Apply_DataPathInit(0x8F)",
         "apply staged set 0 with data path initialisation", "Ln%d",
         staged(Staged::kApplyDataPathInit), CK::kCheck, nullptr, 0, 0,
         [](M& x, int l, uint8_t v) { return x.SetApplyDataPathInit0(l, v); }},
        {"apply-immediate", CP::kStagedSet0, "Apply_Immediate(0x90)",
         "apply staged set 0 immediately", "Ln%d", staged(Staged::kApplyImmediate), CK::kCheck,
         nullptr, 0, 0, [](M& x, int l, uint8_t v) { return x.SetApplyImmediate0(l, v); }},
        {"app-code", CP::kStagedSet0, "App Code:", "staged application code", "Lane%d(0x%02X)",
         staged(Staged::kAppCode), CK::kList, &AppCodeItems(), 0, 0,
         [](M& x, int l, uint8_t v) { return x.SetAppCode0(l, v); }},
        {"dp-code", CP::kStagedSet0, "DP Code:", "staged data path code", "Lane%d(0x%02X)",
         staged(Staged::kDataPathCode), CK::kList, &DpCodeItems(), 0, 0,
         [](M& x, int l, uint8_t v) { return x.SetDataPathCode0(l, v); }},
        {"explicit-control", CP::kStagedSet0, "Ep Ctrl", "staged explicit control",
         "Lane%d(0x%02X)", staged(Staged::kExplicitControl), CK::kCheck, nullptr, 0, 0,
         [](M& x, int l, uint8_t v) { return x.SetExplicitControl0(l, v); }},
        {"adaptive-eq-enable", CP::kStagedSet0, "Adaptive Input Eq Enable(0x99)",
         "enable the Tx adaptive input equaliser", "Tx%d", staged(Staged::kAdaptiveEqEnable),
         CK::kCheck, nullptr, 0, 0,
         [](M& x, int l, uint8_t v) { return x.SetAdaptiveEqEnable0(l, v); }},
        {"adaptive-eq-recall", CP::kStagedSet0, "Tx Adaptive Input Eq Recall(0x9A~0x9B)",
         "recall a stored Tx adaptive equaliser setting",
         "Tx%d:", staged(Staged::kAdaptiveEqRecall), CK::kList, &RecallItems(), 0, 0,
         [](M& x, int l, uint8_t v) { return x.SetAdaptiveEqRecall0(l, v); }},
        {"tx-input-eq", CP::kStagedSet0, "Tx Input Eq control(0x9C~0x9F)",
         "fixed Tx input equalisation", "Tx%d:", staged(Staged::kTxInputEq), CK::kList,
         &TwoDigitItems(), 0, 0, [](M& x, int l, uint8_t v) { return x.SetTxInputEq0(l, v); }},
        {"tx-cdr", CP::kStagedSet0, "Tx CDR control(0xA0)", "enable the Tx CDR", "Tx%d",
         staged(Staged::kTxCdr), CK::kCheck, nullptr, 0, 0,
         [](M& x, int l, uint8_t v) { return x.SetTxCdr0(l, v); }},
        {"rx-cdr", CP::kStagedSet0, "Rx CDR control(0xA1)", "enable the Rx CDR", "Rx%d",
         staged(Staged::kRxCdr), CK::kCheck, nullptr, 0, 0,
         [](M& x, int l, uint8_t v) { return x.SetRxCdr0(l, v); }},
        {"rx-pre-cursor", CP::kStagedSet0, "Rx output equalization pre-tap(0xA2~0xA5)",
         "Rx output pre-cursor equalisation", "Rx%d:", staged(Staged::kRxPreCursor), CK::kList,
         &TwoDigitItems(), 0, 0, [](M& x, int l, uint8_t v) { return x.SetRxPreCursor0(l, v); }},
        {"rx-post-cursor", CP::kStagedSet0, "Rx output equalization post-tap(0xA6~0xA9)",
         "Rx output post-cursor equalisation", "Rx%d:", staged(Staged::kRxPostCursor), CK::kList,
         &TwoDigitItems(), 0, 0, [](M& x, int l, uint8_t v) { return x.SetRxPostCursor0(l, v); }},
        {"rx-amplitude", CP::kStagedSet0, "Rx output amplitude(0xAA~0xAD)", "Rx output amplitude",
         "Rx%d:", staged(Staged::kRxAmplitude), CK::kList, &TwoDigitItems(), kAmplitudeShortLanes,
         4, [](M& x, int l, uint8_t v) { return x.SetRxAmplitude0(l, v); }},
    };
    return t;
  }();
  return table;
}

const ControlFamily* FindControl(const std::string& name) {
  for (const ControlFamily& f : ControlFamilies())
    if (name == f.name) return &f;
  return nullptr;
}

std::string ControlFamily::LaneLabel(int lane) const {
  if (!lane_label) return "";
  const auto spot = Locate(field, lane);
  char buf[32];
  std::snprintf(buf, sizeof buf, lane_label, lane, spot ? spot->reg : 0);
  return buf;
}

int ControlFamily::ItemCount(int lane) const {
  if (!items) return 0;
  if (lane >= 1 && lane <= kLanes && (short_lanes & (1u << (lane - 1)))) return short_count;
  return static_cast<int>(items->size());
}

const std::string* ControlFamily::ItemText(int lane, uint8_t value) const {
  if (!items || value >= ItemCount(lane)) return nullptr;
  return &(*items)[value];
}
