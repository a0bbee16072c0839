// `report`: a stored run to an HTML file, written whole, under its default
// name or the one given, or to stdout; a missing run is status 1.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "records/store.h"
#include "tests/cli_test_support.h"

namespace {

namespace fs = std::filesystem;
using cli_test::ReadFile;
using cli_test::RunCli;

struct ReportCli : ::testing::Test {
  fs::path dir;
  std::string db;
  std::string id;
  void SetUp() override {
    dir = fs::temp_directory_path() / ("lw-report-" + std::to_string(getpid()));
    fs::remove_all(dir);
    fs::create_directories(dir);
    db = (dir / "results.db").string();
    records::RunRecord run;
    run.vendor = "VORLANIX";
    run.part_number = "LW-QDD-400G-SR8";
    run.serial = "SN<42>";
    run.plan_name = "plan.toml";
    run.verdict = records::Outcome::kFail;
    run.started_ms = 1796894400000;
    run.ended_ms = run.started_ms + 1000;
    auto store = records::Store::Open(records::ResolveLocation(db));
    id = std::to_string(store->Save(run));
  }
  void TearDown() override { fs::remove_all(dir); }
  // The files of the folder but the database: no temporary left behind.
  std::vector<std::string> Files() {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir))
      if (e.path().filename().string().rfind("results.db", 0) != 0)
        names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }
};

TEST_F(ReportCli, WritesTheReportWholeAndPrintsWhere) {
  // The default name, in the current folder.
  const fs::path cwd = fs::current_path();
  fs::current_path(dir);
  auto r = RunCli({"report", id, "--db", db});
  fs::current_path(cwd);
  ASSERT_EQ(r.status, 0) << r.err;
  const std::string name = "run-" + id + ".html";
  EXPECT_EQ(r.out, name + "\n");
  const std::string html = ReadFile((dir / name).string());
  EXPECT_NE(html.find("SN&lt;42&gt;"), std::string::npos);
  EXPECT_NE(html.find(">FAIL<"), std::string::npos);

  // A file named, replacing one there before; a folder named.
  const std::string out = (dir / "module.html").string();
  std::ofstream(out) << "old";
  r = RunCli({"report", id, "--out", out, "--db", db});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, out + "\n");
  EXPECT_EQ(ReadFile(out), html);
  fs::create_directories(dir / "reports");
  r = RunCli({"report", id, "--out", (dir / "reports").string(), "--db", db, "--json"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(cli_test::Json(r.out)["file"], (dir / "reports" / name).string());
  EXPECT_EQ(ReadFile((dir / "reports" / name).string()), html);

  // stdout.
  r = RunCli({"report", id, "--out", "-", "--db", db});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, html);
  EXPECT_EQ(Files(), (std::vector<std::string>{"module.html", "reports", name}));
}

TEST_F(ReportCli, FailuresLeaveNoFile) {
  const std::string out = (dir / "kept.html").string();
  std::ofstream(out) << "kept";
  struct Case {
    std::vector<std::string> args;
    int status;
    std::string message;
  };
  for (const Case& c : std::vector<Case>{
           {{"report", "999", "--out", out}, 1, "no run 999"},
           {{"report", id, "--out", (dir / "missing" / "r.html").string()}, 1, "cannot write"},
           {{"report", "x1", "--out", out}, 2, "RUN_ID"},
           {{"report", id, "--out", ""}, 2, "--out"},
       }) {
    std::vector<std::string> args = c.args;
    args.insert(args.end(), {"--db", db});
    const auto r = RunCli(args);
    EXPECT_EQ(r.status, c.status) << args[1] << ": " << r.err;
    EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
  }
  EXPECT_EQ(ReadFile(out), "kept");
  EXPECT_EQ(Files(), std::vector<std::string>{"kept.html"});
}

}  // namespace
