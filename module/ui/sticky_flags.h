// What the module's flag reader remembers about a value's or a box's latched
// flags since the user last acknowledged them: a count badge and a tooltip
// for the views. The views keep their colours for the flags' current state;
// the badge is the history.
#pragma once

#include <QString>
#include <vector>

#include "module/flag_reader.h"

namespace pages {

struct StickyMark {
  int count = 0;    // raises of all the flags together
  QString tooltip;  // one line per raised flag: "Tx LOS: raised 1x, first 12:01:03"
  bool Any() const { return count > 0; }
  // "1x", "12x", "99+x"; empty when nothing was raised.
  QString Badge() const;
};

// The sticky records of the flags named by `keys` for `lane` (0: a
// module-wide flag).
StickyMark Sticky(const FlagReader::Snapshot& flags, const std::vector<const char*>& keys,
                  int lane);
// Every sticky record; the tooltip names the lanes.
StickyMark StickyAll(const FlagReader::Snapshot& flags);

}  // namespace pages
