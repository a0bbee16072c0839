// The version the tools report.
#pragma once

namespace cli {

extern const char* const kVersion;      // the project version, "1.0"
extern const char* const kGitRevision;  // "1b12a81-dirty", or "" outside a checkout

}  // namespace cli
