// The fixture of the qualify command's tests: an emulated board with clean
// lanes, a scratch folder with the quick example plan and a database file.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "emulator/emulated_board.h"
#include "emulator/faults.h"
#include "records/store.h"
#include "tests/qualify_test_support.h"

namespace qualify_test {

using records::Outcome;

struct QualifyCli : ::testing::Test {
  std::filesystem::path dir = std::filesystem::temp_directory_path() /
                              ("lw-qualify-" + std::to_string(getpid()) + "-" +
                               ::testing::UnitTest::GetInstance()->current_test_info()->name());
  std::shared_ptr<emu::EmulatedBoard> board = std::make_shared<emu::EmulatedBoard>();
  std::string db, plan;

  void SetUp() override {
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    db = (dir / "results.db").string();
    plan = (dir / "plan.toml").string();
    Write(plan, qualify_test::QuickPlan());
    auto lock = board->Lock();
    for (int lane = 1; lane <= 8; ++lane) board->Prbs().SetLaneBer(lane, 0);  // --emulate-ber 0
  }
  void TearDown() override { std::filesystem::remove_all(dir); }
  static void Write(const std::string& path, const std::string& text) {
    std::ofstream(path) << text;
  }
  void Fault(const std::string& text) {
    emu::FaultSpec fault;
    std::string why;
    ASSERT_TRUE(emu::ParseFault(text, &fault, &why)) << why;
    emu::ApplyFault(*board, fault);
  }
  // The JSON Lines events of a --json run.
  static std::vector<nlohmann::json> Events(const std::string& out) {
    std::vector<nlohmann::json> list;
    std::istringstream lines(out);
    std::string line;
    while (std::getline(lines, line)) list.push_back(nlohmann::json::parse(line));
    return list;
  }
  records::RunRecord Stored(const std::string& where, int64_t id) {
    return records::Store::Open(records::ResolveLocation(where))->Load(id);
  }
};

inline const records::StepRecord& StepOf(const records::RunRecord& run, const std::string& kind) {
  for (const auto& s : run.steps)
    if (s.kind == kind) return s;
  static records::StepRecord none;
  ADD_FAILURE() << "no step " << kind;
  return none;
}

// A measurement that failed, by name and lane.
inline bool Failed(const records::StepRecord& step, const std::string& name, int lane) {
  for (const auto& m : step.measurements)
    if (m.name == name && m.lane == lane && m.outcome == Outcome::kFail) return true;
  return false;
}

}  // namespace qualify_test
