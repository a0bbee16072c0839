#include "cli/cli.h"

namespace cli {

void RegisterModuleCommands(std::vector<Command>& table) {}

}  // namespace cli
