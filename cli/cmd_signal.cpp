#include "cli/cli.h"

namespace cli {

void RegisterSignalCommands(std::vector<Command>& table) {}

}  // namespace cli
