// Time to a BER verdict against its statistical floor: `ber --target 1e-12
// --until-verdict` on the emulated board with every lane clean. The floor of
// a zero-error PASS at 95 % is -ln(0.05) / (1e-12 x bit rate) per lane; the
// run may add the fixed start-up (generator and checker set-up), measured
// here as a one-second run less its second.
#include <cmath>
#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#include "bench/bench_util.h"
#include "cli/cli.h"
#include "emulator/emulated_board.h"
#include "signal/ber_stats.h"

namespace {

double RunSeconds(std::vector<std::string> args, int* status) {
  args.insert(args.begin(), "lanewright-cli");
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  std::ostringstream out, err;
  auto board = std::make_shared<emu::EmulatedBoard>();
  const auto start = bench::Clock::now();
  *status = cli::Run(static_cast<int>(argv.size()), argv.data(), out, err, board);
  return bench::Ms(bench::Clock::now() - start) / 1000.0;
}

}  // namespace

int main() {
  int status = 0;
  const double one = RunSeconds({"--emulate-ber", "0", "ber", "--seconds", "1"}, &status);
  if (status != 0) return 1;
  const double startup = one - 1.0;
  const double run =
      RunSeconds({"--emulate-ber", "0", "ber", "--target", "1e-12", "--until-verdict"}, &status);
  if (status != 0) return 1;
  const double bit_rate = 51.5625e9;  // 25.78125 GBd PAM4, the emulated DSP's default
  const double floor = sigtest::BitsForVerdict(1e-12, 0.95, 0) / bit_rate;
  const double ratio = (run - startup) / floor;
  std::printf("%-44s %9.2f s  floor %7.2f s + start-up %.2f s  ratio %.3f  (goal 1.05) %s\n",
              "BER verdict 1e-12 at 95 %, 8 clean lanes", run, floor, startup, ratio,
              ratio <= 1.05 ? "ok" : "MISSED");
  return 0;
}
