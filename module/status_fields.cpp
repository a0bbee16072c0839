#include "module/status_fields.h"

#include <cstdio>

#include "module/qsfp_dd.h"

const std::vector<StatusField>& FlagsPageFields() {
  static const std::vector<StatusField> table = [] {
    const RegisterMap& m = qsfp_dd::Map();
    return std::vector<StatusField>{
        {"module-state", "Module State(0x03)", nullptr, m.module_state, &names::ModuleStates()},
        {"interrupt", "Intl(0x03)", nullptr, m.interrupt, nullptr},
        {"module-state-changed", "Module State Changed(0x08)", nullptr, m.module_state_changed,
         nullptr},
        {"bank0-lane-flag", "Bank0 Lane Flag(0x04)", "  Ln%d", m.bank0_lane_flags, nullptr},
        {"data-path-state", "Lane Data Path State(0x80~0x83)", "%d", m.dp_state,
         &names::DataPathStates()},
        {"config-status", "Config Error Codes(0xCA~0xCD)", "%d", m.config_status,
         &names::ConfigStatuses()},
        {"flag-summary", "Flag Summary(0x85)", "Ln%d", m.lane_flag_summary, nullptr},
        {"dp-state-changed", "Data Path State Changed(0x86)", "Ln%d", m.dp_changed, nullptr},
        {"tx-fault", "Tx Fault(0x87)", "Ln%d", m.tx_fault, nullptr},
        {"tx-los", "Tx Los(0x88)", "Ln%d", m.tx_los, nullptr},
        {"tx-cdr-lol", "Tx CDR LOL(0x89)", "Ln%d", m.tx_cdr_lol, nullptr},
        {"tx-eq-fault", "Tx Eq Fault(0x8A)", "Ln%d", m.tx_eq_fault, nullptr},
        {"rx-los", "Rx Los(0x93)", "Ln%d", m.rx_los, nullptr},
        {"rx-cdr-lol", "Rx CDR LOL(0x94)", "Ln%d", m.rx_cdr_lol, nullptr},
    };
  }();
  return table;
}

std::string StatusField::LaneLabel(int lane) const {
  if (!lane_label) return "";
  char buf[16];
  std::snprintf(buf, sizeof buf, lane_label, lane);
  return buf;
}
