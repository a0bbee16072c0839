// The INFO page's second panel: what engineers look up beyond the
// identification rows (applications and the application each lane runs,
// revisions and firmware, flags, fault cause and output status, media,
// cable, reach and temperature range, page checksums, tuning), as compact
// text lines decoded from one snapshot of the module images.
#pragma once

#include <QStringList>

struct ModuleImages;

namespace pages {

// Lines of the panel; a part the snapshot does not hold says "not read".
QStringList CmisPanelLines(const ModuleImages& images);

}  // namespace pages
