#include <csignal>
#include <iostream>

#include "cli/cli.h"

int main(int argc, char** argv) {
  std::signal(SIGINT, [](int) { cli::g_interrupted = true; });
  std::signal(SIGPIPE, SIG_IGN);
  return cli::Run(argc, argv, std::cout, std::cerr);
}
