#include <unistd.h>

#include <csignal>
#include <iostream>

#include "cli/cli.h"

int main(int argc, char** argv) {
  std::signal(SIGINT, [](int) { cli::g_interrupted = true; });
  std::signal(SIGPIPE, SIG_IGN);
  // stdout through write(2), so a failed write can say why.
  cli::FdOutput output(STDOUT_FILENO);
  std::streambuf* const standard = std::cout.rdbuf(&output);
  const int status = cli::Run(argc, argv, std::cout, std::cerr);
  std::cout.rdbuf(standard);
  return status;
}
