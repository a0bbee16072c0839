// What the flags page shows and where each control reads it in the status
// image (after ReadStatusImage): the module state, interrupt and
// module-state-changed, the bank-0 lane flag summary, the data path states,
// the configuration status and the eight per-lane flag columns.
#pragma once

#include <string>
#include <vector>

#include "module/module_images.h"
#include "module/names.h"
#include "module/register_map.h"

struct StatusField {
  const char* name;        // command-line / JSON key, e.g. "rx-los"
  const char* caption;     // as the page shows it, e.g. "Rx Los(0x93)"
  const char* lane_label;  // printf format with the lane ("  Ln%d", "%d", "Ln%d"); null module-wide
  Field field;             // from the QSFP-DD register map
  const names::List* items;  // a box holding a list; null for a check box

  bool PerLane() const { return field.PerLane(); }
  std::string LaneLabel(int lane) const;
  uint8_t ValueIn(const ModuleImages& images, int lane) const {
    return ReadField(images, field, lane);
  }
  // The item for a value, or null when the list has none (shows empty).
  const std::string* ItemText(uint8_t value) const {
    return items ? names::Item(*items, value) : nullptr;
  }
};

// In the page's order: module state, "Intl(0x03)", "Module State Changed(0x08)",
// "Bank0 Lane Flag(0x04)", data path states, configuration status, then the
// flag columns "Flag Summary(0x85)" ... "Rx CDR LOL(0x94)".
const std::vector<StatusField>& FlagsPageFields();
