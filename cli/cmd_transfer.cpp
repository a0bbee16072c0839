#include "cli/cli.h"

namespace cli {

void RegisterTransferCommands(std::vector<Command>& table) {}

}  // namespace cli
