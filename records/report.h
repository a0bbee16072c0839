// The report of one run: one self-contained HTML file (no network, inline
// SVG charts, every text from the module or the plan escaped) that prints
// cleanly to PDF from a browser.
#pragma once

#include <string>

#include "records/run_record.h"

namespace records {

std::string RenderHtmlReport(const RunRecord& run);

}  // namespace records
