// The records store on SQLite: the time to list the history of one serial
// among 10,000 stored runs (the store's query, and `history SERIAL --json`
// as the user runs it: open, query, print), and the time to save one run.
// The file lives in /dev/shm where there is one, so that filling it measures
// the store and not the disk's flushes.
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "bench/bench_util.h"
#include "cli/cli.h"
#include "records/store.h"

namespace {

constexpr int kRuns = 10000;
constexpr int kSerials = 2000;  // five runs each

records::RunRecord MakeRun(int i) {
  records::RunRecord run;
  run.host = "line-3";
  run.user = "qa";
  run.board_path = "/dev/hidraw3";
  run.vendor = "ACME";
  run.part_number = "QDD-400G-FR4";
  run.serial = "SN" + std::to_string(100000 + i % kSerials);
  run.plan_name = "fr4.toml";
  run.plan_text = std::string(2000, '#');
  run.plan_hash = std::string(64, 'a');
  run.verdict = i % 7 ? records::Outcome::kPass : records::Outcome::kFail;
  run.started_ms = 1765324800000 + static_cast<int64_t>(i) * 60000;
  run.ended_ms = run.started_ms + 55000;
  run.tool_version = "1.0";
  for (const char* kind : {"identify", "ddm", "ber"}) {
    records::StepRecord step;
    step.name = step.kind = kind;
    step.started_ms = run.started_ms;
    step.ended_ms = run.ended_ms;
    for (int lane = 1; lane <= 4; ++lane) {
      records::Measurement m;
      m.name = "bias";
      m.lane = lane;
      m.unit = "mA";
      m.value = 6.0 + lane * 0.1;
      m.low = 2;
      m.high = 8;
      step.measurements.push_back(m);
    }
    for (int k = 0; k < 5; ++k) step.samples.push_back({"temperature", 0, k * 1.0, 41.0});
    run.steps.push_back(step);
  }
  return run;
}

double CliHistoryMs(const std::string& db, const std::string& serial) {
  std::vector<std::string> args = {"lanewright-cli", "history", serial, "--json", "--db", db};
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  std::ostringstream out, err;
  const auto start = bench::Clock::now();
  const int status = cli::Run(static_cast<int>(argv.size()), argv.data(), out, err);
  const double ms = bench::Ms(bench::Clock::now() - start);
  return status == 0 && out.str().size() > 10 ? ms : -1;
}

}  // namespace

int main() {
  namespace fs = std::filesystem;
  std::error_code ec;
  const fs::path base =
      fs::is_directory("/dev/shm", ec) ? fs::path("/dev/shm") : fs::temp_directory_path();
  const fs::path dir = base / ("lw-bench-records-" + std::to_string(getpid()));
  fs::create_directories(dir);
  const std::string db = (dir / "results.db").string();
  int status = 0;
  try {
    auto store = records::Store::Open(records::ResolveLocation(db));
    std::vector<double> save_ms;
    for (int i = 0; i < kRuns; ++i) {
      const records::RunRecord run = MakeRun(i);
      const auto start = bench::Clock::now();
      store->Save(run);
      save_ms.push_back(bench::Ms(bench::Clock::now() - start));
    }
    const std::string serial = MakeRun(kSerials / 2).serial;
    std::vector<double> query_ms;
    size_t found = 0;
    for (int k = 0; k < 50; ++k) {
      const auto start = bench::Clock::now();
      found = store->History(serial).size();
      query_ms.push_back(bench::Ms(bench::Clock::now() - start));
    }
    std::vector<double> cli_ms;
    for (int k = 0; k < 20; ++k) cli_ms.push_back(CliHistoryMs(db, serial));
    const auto save = bench::Summarise(save_ms);
    const auto query = bench::Summarise(query_ms);
    const auto cli = bench::Summarise(cli_ms);
    char name[64];
    std::snprintf(name, sizeof name, "history of 1 serial (%zu runs) among %d runs", found, kRuns);
    std::printf("%-44s %9.3f ms p50  %7.3f ms max  (goal under 50 ms) %s\n", name, query.p50,
                query.max, query.max < 50 && found == kRuns / kSerials ? "ok" : "MISSED");
    std::printf("%-44s %9.3f ms p50  %7.3f ms max  (goal under 50 ms) %s\n",
                "`history SERIAL --json` (open, query, print)", cli.p50, cli.max,
                cli.max < 50 && cli_ms.front() >= 0 ? "ok" : "MISSED");
    std::printf("%-44s %9.3f ms p50  %7.3f ms p99  (%s)\n", "save one run (12 measurements)",
                save.p50, save.p99, base == "/dev/shm" ? "in /dev/shm" : "on disk");
  } catch (const std::exception& e) {
    std::printf("bench_records: %s\n", e.what());
    status = 1;
  }
  fs::remove_all(dir, ec);
  return status;
}
