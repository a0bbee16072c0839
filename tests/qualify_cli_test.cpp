// `lanewright-cli qualify` on the emulated board: the example plan passes,
// a module with faults fails the steps that see them, each run is stored
// (read back from the database), a bad plan sends nothing to the board, and
// an interrupted run is stored as ERROR. PostgreSQL: qualify_db_test.cpp.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>

#include "emulator/emulated_board.h"
#include "emulator/faults.h"
#include "records/soci_session.h"
#include "records/store.h"
#include "tests/cli_test_support.h"
#include "tests/qualify_cli_support.h"

namespace {

using cli_test::RunCli;
using qualify_test::Failed;
using qualify_test::QualifyCli;
using qualify_test::StepOf;
using records::Outcome;

TEST_F(QualifyCli, TheExamplePlanPassesAndItsRecordIsStored) {
  const auto r = RunCli({"qualify", plan, "--db", db, "--json"}, board);
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  const auto events = Events(r.out);
  ASSERT_GE(events.size(), 20u);
  EXPECT_EQ(events.front()["event"], "run_started");
  const auto& last = events.back();
  EXPECT_EQ(last["event"], "run_finished");
  EXPECT_EQ(last["verdict"], "PASS");
  std::map<std::string, std::string> outcomes;
  for (const auto& e : events)
    if (e["event"] == "step_finished") outcomes[e["name"]] = e["outcome"];
  EXPECT_EQ(outcomes.size(), 9u);
  for (const auto& [name, outcome] : outcomes) EXPECT_EQ(outcome, "PASS") << name;

  const auto run = Stored(db, last["run_id"]);
  EXPECT_EQ(run.verdict, Outcome::kPass);
  EXPECT_EQ(run.serial, "LWX2612090042");
  EXPECT_EQ(run.part_number, "LW-QDD-400G-SR8");
  EXPECT_EQ(run.profile, "sr8");
  EXPECT_EQ(run.plan_text, qualify_test::QuickPlan());
  EXPECT_EQ(run.plan_hash.size(), 64u);
  EXPECT_EQ(run.board_path, "emulated:board0");
  EXPECT_NE(run.tool_version.find("lanewright-cli"), std::string::npos);
  EXPECT_FALSE(run.host.empty());
  ASSERT_EQ(run.steps.size(), 9u);
  // The report's series: BER and its bound on every lane, DDM over time.
  std::set<int> lanes;
  for (const auto& s : StepOf(run, "ber").samples)
    if (s.series == "ber upper") lanes.insert(s.lane);
  EXPECT_EQ(lanes.size(), 8u);
  EXPECT_FALSE(StepOf(run, "ddm").samples.empty());
  // Disabling Tx raised flags on purpose: recorded, said so, not a failure.
  bool provoked = false;
  for (const auto& f : run.flag_events)
    provoked = provoked || f.event.find("(by tx-disable)") != std::string::npos;
  EXPECT_TRUE(provoked);

  // history finds it by the module's serial.
  const auto h = RunCli({"history", "LWX2612090042", "--json", "--db", db});
  ASSERT_EQ(h.status, 0) << h.err;
  EXPECT_NE(h.out.find("\"PASS\""), std::string::npos) << h.out;
}

TEST_F(QualifyCli, AModuleWithFaultsFailsTheStepsThatSeeThem) {
  Fault("high-ber=5");  // a lane with a high BER
  Fault("tx-stuck=3");  // a lane whose bias stays up when disabled
  Fault("temp-high");   // a latched temperature alarm
  const std::string reports = (dir / "reports").string();
  const auto r = RunCli({"qualify", plan, "--db", db, "--report", reports}, board);
  ASSERT_EQ(r.status, 3) << r.out << r.err;
  EXPECT_NE(r.out.find("verdict FAIL"), std::string::npos) << r.out;
  const auto at = r.out.find("record ");
  ASSERT_NE(at, std::string::npos);
  const int64_t id = std::stoll(r.out.substr(at + 7));
  const auto run = Stored(db, id);
  EXPECT_EQ(run.verdict, Outcome::kFail);
  EXPECT_EQ(StepOf(run, "identify").outcome, Outcome::kPass);
  EXPECT_TRUE(Failed(StepOf(run, "tx-disable"), "disabled bias", 3));
  EXPECT_FALSE(Failed(StepOf(run, "tx-disable"), "disabled bias", 2));
  EXPECT_EQ(StepOf(run, "ber").outcome, Outcome::kFail);
  int failed_lanes = 0;
  for (const auto& m : StepOf(run, "ber").measurements)
    failed_lanes += m.name == "ber upper" && m.outcome == Outcome::kFail;
  EXPECT_EQ(failed_lanes, 1);
  EXPECT_TRUE(Failed(StepOf(run, "flags"), "Temperature high alarm", 0));
  EXPECT_TRUE(Failed(StepOf(run, "ddm"), "temperature", 0));
  // The finally steps ran, and the report is there.
  EXPECT_EQ(StepOf(run, "tx-enable").outcome, Outcome::kPass);
  EXPECT_TRUE(
      std::filesystem::exists(reports + "/run-" + std::to_string(id) + "-LWX2612090042.html"));
}

TEST_F(QualifyCli, ABadPlanIsRefusedBeforeAnyBoardTraffic) {
  Write(plan, "name = 'x'\n[[step]]\nkind = 'ber'\ntarget = 1e-9\nmax_seconds = 0\n");
  board->ClearRequests();
  const auto r = RunCli({"qualify", plan, "--db", db}, board);
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.err, "lanewright-cli: " + plan + ":5:15: max_seconds must be from 1 to 864000\n");
  EXPECT_EQ(board->RequestCount(), 0u);
  EXPECT_FALSE(std::filesystem::exists(db));
  // A plan file that cannot be read is a file error.
  EXPECT_EQ(RunCli({"qualify", (dir / "none.toml").string(), "--db", db}, board).status, 1);
}

TEST_F(QualifyCli, ADatabaseOfAnotherSchemaIsRefusedBeforeAnyBoardTraffic) {
  const records::Location where = records::ResolveLocation(db);
  records::Store::Open(where);  // created at this program's version
  {
    soci::session session;
    records::OpenSession(session, where);
    session << "UPDATE schema_version SET version = version + 1";
  }
  board->ClearRequests();
  const auto r = RunCli({"qualify", plan, "--db", db}, board);
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("newer"), std::string::npos) << r.err;
  EXPECT_EQ(board->RequestCount(), 0u);
}

TEST_F(QualifyCli, AnInterruptedRunIsStoredAsError) {
  cli::g_interrupted = true;  // Ctrl-C before the first step
  const auto r = RunCli({"qualify", plan, "--db", db, "--json"}, board);
  cli::g_interrupted = false;
  EXPECT_EQ(r.status, 1) << r.out << r.err;
  const auto last = Events(r.out).back();
  EXPECT_EQ(last["verdict"], "ERROR");
  EXPECT_EQ(last["message"], "interrupted");
  const auto run = Stored(db, last["run_id"]);
  EXPECT_EQ(run.verdict, Outcome::kError);
  EXPECT_EQ(StepOf(run, "ber").outcome, Outcome::kSkip);
  EXPECT_EQ(StepOf(run, "tx-enable").outcome, Outcome::kPass);
  EXPECT_EQ(StepOf(run, "stop-checkers").outcome, Outcome::kPass);
}

TEST_F(QualifyCli, TheEepromCheckComparesTheImageWithItsPageFile) {
  Write((dir / "image.txt").string(), "/ an image\n0123456789ABCDEF 00112233\n");
  Write((dir / "other.txt").string(), "0123456789ABCDEF 00112234\n");
  ASSERT_EQ(RunCli({"eeprom", "load", (dir / "image.txt").string()}, board).status, 0);
  // Page files are found beside the plan.
  Write(plan, "[[step]]\nkind = 'eeprom-check'\npage_file = 'image.txt'\n");
  EXPECT_EQ(RunCli({"qualify", plan, "--db", db}, board).status, 0);
  Write(plan, "[[step]]\nkind = 'eeprom-check'\npage_file = 'other.txt'\n");
  const auto r = RunCli({"qualify", plan, "--db", db, "--json"}, board);
  EXPECT_EQ(r.status, 3) << r.out << r.err;
  const auto run = Stored(db, Events(r.out).back()["run_id"]);
  EXPECT_TRUE(Failed(StepOf(run, "eeprom-check"), "eeprom image", 0));
}

TEST_F(QualifyCli, EveryBoardRunsThePlanAndGetsItsOwnRecord) {
  // Short: identify and flags only, on three emulated boards, a fault on one.
  Write(plan, "[[step]]\nkind = 'identify'\n[[step]]\nkind = 'flags'\n");
  const auto r = RunCli({"--emulate-boards", "3", "--emulate-fault", "tx-los=2@1", "qualify", plan,
                         "--board", "all", "--db", db, "--json"});
  EXPECT_EQ(r.status, 3) << r.out << r.err;
  std::map<int, std::string> verdicts;
  std::set<int64_t> ids;
  std::set<std::string> serials;
  for (const auto& e : Events(r.out))
    if (e["event"] == "run_finished") {
      verdicts[e["board"]] = e["verdict"];
      ids.insert(e["run_id"].get<int64_t>());
      serials.insert(e["serial"]);
    }
  EXPECT_EQ(verdicts, (std::map<int, std::string>{{0, "PASS"}, {1, "FAIL"}, {2, "PASS"}}));
  EXPECT_EQ(ids.size(), 3u);
  EXPECT_EQ(serials.size(), 3u);
}

}  // namespace
