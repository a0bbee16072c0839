#include "module/controls.h"

#include <cstdio>
#include <deque>

#include "module/qsfp_dd.h"
#include "module/sfp_base.h"

namespace {

using CP = ControlPage;
using CK = ControlKind;

// Lanes 4 and 8 of the Rx output amplitude lists offer codes 0-3 only.
constexpr uint8_t kAmplitudeShortLanes = (1u << 3) | (1u << 7);

// Texts made up for the families below, kept for the program's life.
const char* Keep(std::string text) {
  static std::deque<std::string> texts;
  return texts.emplace_back(std::move(text)).c_str();
}

// Staged control set 1: the families of set 0, same order, named "...-1".
void AddStagedSet1(std::vector<ControlFamily>& t, const RegisterMap& m) {
  std::vector<ControlFamily> set1;
  int which = 0;
  for (const ControlFamily& f : t) {
    if (f.page != CP::kStagedSet0) continue;
    ControlFamily g = f;
    g.name = Keep(std::string(f.name) + "-1");
    g.page = CP::kStagedSet1;
    g.caption = "";
    std::string title = f.title;
    if (const auto at = title.find("staged set 0"); at != std::string::npos)
      title.replace(at, 12, "staged set 1");
    else if (title.rfind("staged ", 0) == 0)
      title.insert(7, "set 1 ");
    else
      title = "staged set 1: " + title;
    g.title = Keep(title);
    g.field = m.StagedField(1, static_cast<Staged>(which++));
    std::string op = f.operation;
    op.back() = '1';
    g.operation = Keep(op);
    set1.push_back(g);
  }
  t.insert(t.end(), set1.begin(), set1.end());
}

// The flag masks, in register order: a set mask keeps its flag from
// asserting the interrupt. A family of four (alarm and warning kinds) is one
// row per kind, named after the flag it masks.
void AddMasks(std::vector<ControlFamily>& t, const RegisterMap& m) {
  auto check = [&t](const char* name, const char* title, const Field& field,
                    const char* operation) {
    t.push_back({name, CP::kMasks, "", title, field.PerLane() ? "Ln%d" : nullptr, field, CK::kCheck,
                 nullptr, 0, 0, operation});
  };
  static const struct {
    const char* key;   // the flag's name part, "high-alarm"
    const char* text;  // "high alarm"
    int kind;
  } kKinds[] = {{"high-alarm", "high alarm", kHighAlarm},
                {"low-alarm", "low alarm", kLowAlarm},
                {"high-warning", "high warning", kHighWarning},
                {"low-warning", "low warning", kLowWarning}};
  auto kinded = [&](const char* key, const char* quantity, const KindedField& field,
                    const char* operation) {
    for (const auto& k : kKinds)
      check(Keep(std::string(key) + "-" + k.key + "-mask"),
            Keep(std::string("mask the ") + quantity + " " + k.text + " flag"),
            field.ForKind(k.kind).value_or(Field{}),
            Keep(std::string(operation) + "(kind " + std::to_string(k.kind) + ")"));
  };
  check("module-state-changed-mask", "mask the module state changed flag",
        m.module_state_changed_mask, "SetModuleStateChangedMask");
  kinded("temp", "temperature", m.temp_mask, "SetTempMask");
  kinded("vcc", "supply voltage", m.vcc_mask, "SetVccMask");
  check("dp-state-changed-mask", "mask the data path state changed flag", m.dp_changed_mask,
        "SetDataPathChangedMask");
  check("tx-fault-mask", "mask the Tx fault flag", m.tx_fault_mask, "SetTxFaultMask");
  check("tx-los-mask", "mask the Tx LOS flag", m.tx_los_mask, "SetTxLosMask");
  check("tx-cdr-lol-mask", "mask the Tx CDR LOL flag", m.tx_cdr_lol_mask, "SetTxCdrLolMask");
  check("tx-eq-fault-mask", "mask the Tx adaptive input equaliser fault flag", m.tx_eq_fault_mask,
        "SetTxEqFaultMask");
  kinded("tx-power", "Tx power", m.tx_power_mask, "SetTxPowerMask");
  kinded("tx-bias", "Tx bias", m.tx_bias_mask, "SetTxBiasMask");
  check("rx-los-mask", "mask the Rx LOS flag", m.rx_los_mask, "SetRxLosMask");
  check("rx-cdr-lol-mask", "mask the Rx CDR LOL flag", m.rx_cdr_lol_mask, "SetRxCdrLolMask");
  kinded("rx-power", "Rx power", m.rx_power_mask, "SetRxPowerMask");
}

}  // namespace

BoardResult ControlFamily::Apply(CSfpBase& module, int lane, uint8_t value) const {
  if (kind == CK::kAction) return module.SetModuleBit(field, 1);
  // The module global controls (lower 0x1A) keep their byte for a value above 1.
  if (page == CP::kControl && !PerLane()) return module.SetModuleBit(field, value);
  return module.SetField(field, lane, value);
}

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
    std::vector<ControlFamily> t = {
        // Control page: module global controls (lower 0x1A).
        {"force-low-power", CP::kControl, "ForceLowPwr(0x1A)", "force the module into low power",
         nullptr, m.force_low_pwr, CK::kCheck, nullptr, 0, 0, "SetForceLowPwr"},
        {"low-power", CP::kControl, "LowPwr(0x1A)", "request low power", nullptr, m.low_pwr,
         CK::kCheck, nullptr, 0, 0, "SetLowPwr"},
        {"soft-reset", CP::kControl, "SoftReset(0x1A)", "software reset of the module", nullptr,
         m.soft_reset, CK::kAction, nullptr, 0, 0, "SoftReset"},
        {"squelch-method", CP::kControl, "", "what a Tx squelch reduces", nullptr, m.squelch_method,
         CK::kList, &SquelchMethodItems(), 0, 0, "SetSquelchMethod"},
        // Control page: lane controls (page 10h 0x80-0x8B).
        {"dp-deinit", CP::kControl, "DataPathDeinit(0x80)",
         "hold the lane's data path deinitialised", "Ln%d", m.dp_deinit, CK::kCheck, nullptr, 0, 0,
         "SetDataPathDeinit"},
        {"tx-polarity-flip", CP::kControl, "Tx Polarity Flip(0x81)", "flip the Tx input polarity",
         "  Tx%d", m.tx_polarity_flip, CK::kCheck, nullptr, 0, 0, "SetTxPolarityFlip"},
        {"tx-disable", CP::kControl, "Tx Disable(0x82)", "disable the Tx output", "  Tx%d",
         m.tx_disable, CK::kCheck, nullptr, 0, 0, "SetTxDisable"},
        {"tx-squelch-disable", CP::kControl, "Tx Squelch Disable(0x83)",
         "disable the Tx auto-squelch", "  Tx%d", m.tx_squelch_disable, CK::kCheck, nullptr, 0, 0,
         "SetTxSquelchDisable"},
        {"tx-force-squelch", CP::kControl, "Tx Force Squelch(0x84)", "force the Tx output squelch",
         "  Tx%d", m.tx_force_squelch, CK::kCheck, nullptr, 0, 0, "SetTxForceSquelch"},
        {"tx-eq-freeze", CP::kControl, "Tx Eq Freeze(0x86)",
         "freeze the Tx adaptive input equaliser", "  Tx%d", m.tx_eq_freeze, CK::kCheck, nullptr, 0,
         0, "SetTxEqFreeze"},
        {"tx-eq-store", CP::kControl, "Tx Eq Store(0x87~0x88)",
         "store the Tx adaptive equaliser setting", "%d", m.tx_eq_store, CK::kList,
         &TxEqStoreItems(), 0, 0, "SetTxEqStore"},
        {"rx-polarity-flip", CP::kControl, "Rx Polarity Flip(0x89)", "flip the Rx output polarity",
         "  Rx%d", m.rx_polarity_flip, CK::kCheck, nullptr, 0, 0, "SetRxPolarityFlip"},
        {"rx-output-disable", CP::kControl, "Rx Output Disable(0x8A)", "disable the Rx output",
         "  Rx%d", m.rx_output_disable, CK::kCheck, nullptr, 0, 0, "SetRxOutputDisable"},
        {"rx-squelch-disable", CP::kControl, "Rx Squelch Disable(0x8B)",
         "disable the Rx auto-squelch", "  Rx%d", m.rx_squelch_disable, CK::kCheck, nullptr, 0, 0,
         "SetRxSquelchDisable"},
        // Staged control set 0 page (page 10h 0x8F-0xAD).
        {"apply-dp-init", CP::kStagedSet0, "Apply_DataPathInit(0x8F)",
         "apply staged set 0 with data path initialisation", "Ln%d",
         staged(Staged::kApplyDataPathInit), CK::kCheck, nullptr, 0, 0, "SetApplyDataPathInit0"},
        {"apply-immediate", CP::kStagedSet0, "Apply_Immediate(0x90)",
         "apply staged set 0 immediately", "Ln%d", staged(Staged::kApplyImmediate), CK::kCheck,
         nullptr, 0, 0, "SetApplyImmediate0"},
        {"app-code", CP::kStagedSet0, "App Code:", "staged application code", "Lane%d(0x%02X)",
         staged(Staged::kAppCode), CK::kList, &AppCodeItems(), 0, 0, "SetAppCode0"},
        {"dp-code", CP::kStagedSet0, "DP Code:", "staged data path code", "Lane%d(0x%02X)",
         staged(Staged::kDataPathCode), CK::kList, &DpCodeItems(), 0, 0, "SetDataPathCode0"},
        {"explicit-control", CP::kStagedSet0, "Ep Ctrl", "staged explicit control",
         "Lane%d(0x%02X)", staged(Staged::kExplicitControl), CK::kCheck, nullptr, 0, 0,
         "SetExplicitControl0"},
        {"adaptive-eq-enable", CP::kStagedSet0, "Adaptive Input Eq Enable(0x99)",
         "enable the Tx adaptive input equaliser", "Tx%d", staged(Staged::kAdaptiveEqEnable),
         CK::kCheck, nullptr, 0, 0, "SetAdaptiveEqEnable0"},
        {"adaptive-eq-recall", CP::kStagedSet0, "Tx Adaptive Input Eq Recall(0x9A~0x9B)",
         "recall a stored Tx adaptive equaliser setting",
         "Tx%d:", staged(Staged::kAdaptiveEqRecall), CK::kList, &RecallItems(), 0, 0,
         "SetAdaptiveEqRecall0"},
        {"tx-input-eq", CP::kStagedSet0, "Tx Input Eq control(0x9C~0x9F)",
         "fixed Tx input equalisation", "Tx%d:", staged(Staged::kTxInputEq), CK::kList,
         &TwoDigitItems(), 0, 0, "SetTxInputEq0"},
        {"tx-cdr", CP::kStagedSet0, "Tx CDR control(0xA0)", "enable the Tx CDR", "Tx%d",
         staged(Staged::kTxCdr), CK::kCheck, nullptr, 0, 0, "SetTxCdr0"},
        {"rx-cdr", CP::kStagedSet0, "Rx CDR control(0xA1)", "enable the Rx CDR", "Rx%d",
         staged(Staged::kRxCdr), CK::kCheck, nullptr, 0, 0, "SetRxCdr0"},
        {"rx-pre-cursor", CP::kStagedSet0, "Rx output equalization pre-tap(0xA2~0xA5)",
         "Rx output pre-cursor equalisation", "Rx%d:", staged(Staged::kRxPreCursor), CK::kList,
         &TwoDigitItems(), 0, 0, "SetRxPreCursor0"},
        {"rx-post-cursor", CP::kStagedSet0, "Rx output equalization post-tap(0xA6~0xA9)",
         "Rx output post-cursor equalisation", "Rx%d:", staged(Staged::kRxPostCursor), CK::kList,
         &TwoDigitItems(), 0, 0, "SetRxPostCursor0"},
        {"rx-amplitude", CP::kStagedSet0, "Rx output amplitude(0xAA~0xAD)", "Rx output amplitude",
         "Rx%d:", staged(Staged::kRxAmplitude), CK::kList, &TwoDigitItems(), kAmplitudeShortLanes,
         4, "SetRxAmplitude0"},
    };
    AddStagedSet1(t, m);
    AddMasks(t, m);
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
