// The records commands: history and runs as text and JSON, a run's
// measurements as CSV, and the exit status of each kind of failure.
#include <gtest/gtest.h>

#include <fstream>

#include "records/store.h"
#include "tests/cli_test_support.h"
#include "tests/records_test_support.h"

namespace {

using cli_test::ReadFile;
using cli_test::RunCli;
using records_test::FullRun;
using records_test::ScratchDir;

TEST(RecordsCli, ExportWritesOneQuotedRowPerMeasurement) {
  ScratchDir dir("export");
  const std::string db = dir.File("results.db");
  int64_t id = 0;
  {
    auto store = records::Store::Open(records::ResolveLocation(db));
    id = store->Save(FullRun());
  }
  const std::string csv = dir.File("run.csv");
  auto r = RunCli({"export", std::to_string(id), "--csv", "--out", csv, "--db", db});
  ASSERT_EQ(r.status, 0) << r.err;
  const std::string n = std::to_string(id);
  EXPECT_EQ(
      ReadFile(csv),
      "run_id,step,kind,step_outcome,name,lane,value,text,unit,low,high,expected,outcome,note\r\n" +
          n +
          ",identify,identify,PASS,vendor,0,,\"ACME, "
          "\"\"Optics\"\"\n\xe5\x85\x89\",,,,ACME*,PASS,\r\n" +
          n + ",\"ddm, 10 samples\",ddm,FAIL,bias,3,9.125,,mA,2,8,,FAIL,above 8 mA\r\n" + n +
          ",\"ddm, 10 samples\",ddm,FAIL,tx power,1,0,,dBm,,4,,PASS,\r\n" + n +
          ",\"ddm, 10 samples\",ddm,FAIL,rx power,8,n/a,,dBm,,,,SKIP,lane not in use\r\n");
  EXPECT_EQ(r.out, "wrote 4 measurement(s) of run " + n + " to " + csv + "\n");
  // The same to stdout.
  r = RunCli({"export", n, "--csv", "--db", db});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, ReadFile(csv));

  // A run that is not there: status 1, and the file there before untouched.
  std::ofstream(csv) << "kept";
  r = RunCli({"export", "999", "--csv", "--out", csv, "--db", db});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("no run 999"), std::string::npos) << r.err;
  EXPECT_EQ(ReadFile(csv), "kept");
  // A folder that cannot be written: status 1, nothing left behind.
  r = RunCli({"export", n, "--csv", "--out", dir.File("missing/run.csv"), "--db", db});
  EXPECT_EQ(r.status, 1) << r.err;
  EXPECT_FALSE(std::filesystem::exists(dir.path / "missing"));
}

TEST(RecordsCli, HistoryAndRunsListNewestFirst) {
  ScratchDir dir("history");
  const std::string db = dir.File("results.db");
  std::vector<int64_t> ids;
  {
    auto store = records::Store::Open(records::ResolveLocation(db));
    ids.push_back(store->Save(FullRun("SN1", 1765324800000)));  // 2025-12-10T00:00:00Z
    auto pass = FullRun("SN1", 1765411200123);
    pass.verdict = records::Outcome::kPass;
    ids.push_back(store->Save(pass));
    ids.push_back(store->Save(FullRun("SN2", 1765411200000)));
  }
  auto r = RunCli({"history", "SN1", "--json", "--db", db});
  ASSERT_EQ(r.status, 0) << r.err;
  const auto doc = cli_test::Json(r.out);
  ASSERT_EQ(doc.size(), 2u);
  EXPECT_EQ(doc[0]["run_id"], ids[1]);
  EXPECT_EQ(doc[0]["serial"], "SN1");
  EXPECT_EQ(doc[0]["verdict"], "PASS");
  EXPECT_EQ(doc[0]["started"], "2025-12-11T00:00:00.123Z");
  EXPECT_EQ(doc[0]["ended"], "2025-12-11T00:01:01.357Z");
  EXPECT_EQ(doc[0]["part_number"], "QDD-400G-FR4");
  EXPECT_EQ(doc[0]["plan"], "fr4.toml");
  EXPECT_EQ(doc[1]["run_id"], ids[0]);

  r = RunCli({"history", "SN1", "--db", db});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("2025-12-11T00:00:00.123Z PASS    SN1"), std::string::npos) << r.out;

  r = RunCli({"runs", "--since", "2025-12-11T00:00Z", "--verdict", "fail", "--json", "--db", db});
  ASSERT_EQ(r.status, 0) << r.err;
  const auto runs = cli_test::Json(r.out);
  ASSERT_EQ(runs.size(), 1u);
  EXPECT_EQ(runs[0]["run_id"], ids[2]);

  r = RunCli({"history", "NOPE", "--db", db});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "no runs of serial NOPE\n");
}

TEST(RecordsCli, BadArgumentsExit2AndStoreFailuresExit1) {
  ScratchDir dir("errors");
  const std::string db = dir.File("results.db");
  struct Case {
    std::vector<std::string> args;
    int status;
    const char* message;
  };
  const Case cases[] = {
      {{"runs", "--verdict", "SKIP", "--db", db}, 2, "--verdict"},
      {{"runs", "--since", "10.12.2025", "--db", db}, 2, "--since"},
      {{"runs", "--since", "2025-13-01", "--db", db}, 2, "--since"},
      {{"history", "--db", db}, 2, "usage: history SERIAL"},
      {{"export", "1", "--db", db}, 2, "--csv"},
      {{"export", "x1", "--csv", "--db", db}, 2, "RUN_ID"},
      {{"db", "upgrade", "--db", db}, 2, "db migrate|version"},
      {{"history", "SN1", "--db", "mysql://qa@host/lw"}, 2, "unknown database scheme"},
      {{"history", "SN1", "--db", dir.path.string()}, 1, "is a folder"},
      // Reading commands never create the database they were pointed at.
      {{"history", "SN1", "--db", dir.File("none/results.db")}, 1, "no records database at"},
      {{"report", "1", "--db", dir.File("none/results.db")}, 1, "no records database at"},
      {{"runs", "--db", "postgresql://qa:s3cret@/lw?host=" + dir.path.string()},
       1,
       "cannot open the records database postgresql://qa@/lw"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args[0] + " " + c.args[1]);
    const auto r = RunCli(c.args);
    EXPECT_EQ(r.status, c.status) << r.err;
    EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find("s3cret"), std::string::npos) << r.err;
  }
  EXPECT_FALSE(std::filesystem::exists(dir.File("none")));
}

}  // namespace
