#include "cli/version.h"

#include "lw_git_revision.h"
#include "lw_version.h"

namespace cli {

const char* const kVersion = LW_VERSION;
const char* const kGitRevision = LW_GIT_REVISION;

}  // namespace cli
