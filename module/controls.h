// Every control of the module that a caller may change: the module global
// controls, the lane controls, both staged control sets and the flag masks.
// One row per family, with the page's captions, the field placement, the
// value range, the list items and the name of the module operation it stands
// for (`SetTxDisable`, `SetAppCode1`, `SetTxPowerMask` with its kind ...).
// The control page and the staged control set 0 page build their widgets from
// it, and `lanewright-cli set` takes its names, ranges and help from it.
// Control ids of the widgets belong to the pages.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "board/board_result.h"
#include "module/module_images.h"
#include "module/names.h"
#include "module/register_map.h"

class CSfpBase;

// Where a family belongs: the control page, the staged control set 0 page,
// staged control set 1 and the masks (no page shows these two).
enum class ControlPage { kControl, kStagedSet0, kStagedSet1, kMasks };
// A check box (0/1), a list (index = value) or a push button (no value).
enum class ControlKind { kCheck, kList, kAction };

struct ControlFamily {
  const char* name;  // command-line name, e.g. "tx-disable"
  ControlPage page;
  const char* caption;  // group or control caption as the page shows it
  const char* title;    // plain description for help texts
  // printf format of a lane's label, given (lane, register of that lane):
  // "  Tx%d", "Ln%d", "Tx%d:", "%d", "Lane%d(0x%02X)"; null for module-wide.
  const char* lane_label;
  Field field;  // placement, from the QSFP-DD register map
  ControlKind kind;
  const names::List* items;  // list items, index = value; null for checks and actions
  uint8_t short_lanes;       // lanes (bit n-1) whose list holds only short_count items
  uint8_t short_count;
  // The module operation this family stands for, as the module interface
  // names it ("SetTxDisable", "SetTxPowerMask(kind 3)").
  const char* operation;

  bool PerLane() const { return field.PerLane(); }
  // Largest value the field takes (0 for an action).
  uint8_t MaxValue() const { return kind == ControlKind::kAction ? 0 : field.MaxValue(); }
  std::string LaneLabel(int lane) const;
  // Items of the lane's list (0 for checks and actions).
  int ItemCount(int lane) const;
  // The item shown for `value` on `lane`, or null when the list has none
  // (the list then shows no selection).
  const std::string* ItemText(int lane, uint8_t value) const;
  // The family's current value in a snapshot (after ReadControlImage).
  uint8_t ValueIn(const ModuleImages& images, int lane) const {
    return ReadField(images, field, lane);
  }
  // Read-modify-write of the family's field (lane ignored when module-wide):
  // CSfpBase::SetField, or CSfpBase::SetModuleBit for the module global
  // controls of lower 0x1A (a value above 1 writes the byte back as read;
  // an action sets its bit).
  BoardResult Apply(CSfpBase& module, int lane, uint8_t value) const;
};

// Control page families first, then staged control set 0, staged control set
// 1 and the masks, each in register order.
const std::vector<ControlFamily>& ControlFamilies();
const ControlFamily* FindControl(const std::string& name);

// Items of the lists (index = value written and shown).
const names::List& TxEqStoreItems();      // "00 Res", "01 Loc1", "10 Loc2", "11 Res"
const names::List& SquelchMethodItems();  // "Tx Squelch reduces OMA", "... Pave"
const names::List& AppCodeItems();        // "0000 Res", "0001" ... "1111"
const names::List& DpCodeItems();         // "000b" ... "111b"
const names::List& RecallItems();         // "00b", "01b", "10b"
const names::List& TwoDigitItems();       // "00" ... "15"
