// What every lanewright-cli command shares: the exit status of each kind of
// fault, output that cannot be written, CSV files that already exist.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <regex>

#include "tests/cli_test_support.h"

namespace {

namespace fs = std::filesystem;
using cli_test::CliResult;
using cli_test::RunCli;
using cli_test::RunCliOn;

struct Scratch : ::testing::Test {
  fs::path dir;
  void SetUp() override {
    dir = fs::temp_directory_path() /
          ("lw-cli-conv-" + std::to_string(getpid()) + "-" +
           ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir);
    fs::create_directories(dir);
  }
  void TearDown() override { fs::remove_all(dir); }
  std::string File(const std::string& name, const std::string& contents) {
    const auto path = (dir / name).string();
    std::ofstream(path, std::ios::binary) << contents;
    return path;
  }
  std::string Path(const std::string& name) const { return (dir / name).string(); }
};

// One kind of fault, one exit status, whatever the command: 1 when a file
// cannot be opened or written, 2 when the input itself is wrong.
TEST_F(Scratch, ExitStatusFollowsTheKindOfFault) {
  const std::string corrupt = File("corrupt.txt", "this is not a board state\n");
  const std::string csv = File("old.csv", "time,x\n");
  const struct {
    std::vector<std::string> args;
    int status;
  } cases[] = {
      // files that cannot be opened or written
      {{"dump", dir.string()}, 1},
      {{"dump", Path("missing/module.txt")}, 1},
      {{"ber", "--csv", Path("missing/run.csv")}, 1},
      {{"ddm", "--csv", dir.string(), "--append"}, 1},
      {{"dsp", "write", Path("missing.json")}, 1},
      {{"eeprom", "load", Path("missing.txt")}, 1},
      {{"--emulate-module", Path("missing.txt"), "info"}, 1},
      // inputs that are wrong
      {{"--emulate=" + corrupt, "info"}, 2},
      {{"--emulate-module", corrupt, "info"}, 2},
      {{"dsp", "write", corrupt}, 2},
      {{"ddm", "--watch", "0"}, 2},
      {{"ddm", "--watch", "-1"}, 2},
      {{"ddm", "--watch", "86401"}, 2},
      {{"ddm", "--watch", "1e3"}, 2},
      {{"ber", "--csv", csv}, 2},
      {{"ber", "--csv", csv, "--append", "--overwrite"}, 2},
      {{"ber", "--csv", Path("new.csv"), "--seconds"}, 2},
      {{"--emulate=", "info"}, 2},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args[0] + " " + (c.args.size() > 1 ? c.args[1] : ""));
    std::vector<std::string> args = c.args;
    const bool own = args[0].rfind("--emulate", 0) == 0;
    auto board = own ? nullptr : std::make_shared<emu::EmulatedBoard>();
    if (!own) args.insert(args.begin(), "--emulate");
    auto r = RunCliOn(board, args);
    EXPECT_EQ(r.status, c.status) << r.err;
    EXPECT_EQ(r.err.rfind("lanewright-cli: ", 0), 0u) << r.err;
    EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << "one line: " << r.err;
    if (board) {
      EXPECT_EQ(board->RequestCount(), 0u);
    }
  }
  EXPECT_EQ(cli_test::ReadFile(csv), "time,x\n");
}

TEST_F(Scratch, CsvFilesAreKeptAppendedOrReplacedAsAsked) {
  const std::string csv = File("run.csv", "old\n");
  auto r = RunCli({"ber", "--seconds", "1", "--csv", csv, "--overwrite"});
  ASSERT_EQ(r.status, 0) << r.err;
  auto text = cli_test::ReadFile(csv);
  EXPECT_EQ(text.rfind("time_s,channel,", 0), 0u);
  r = RunCli({"ber", "--seconds", "1", "--csv", csv, "--append"});
  ASSERT_EQ(r.status, 0) << r.err;
  const auto more = cli_test::ReadFile(csv);
  EXPECT_EQ(more.substr(0, text.size()), text);
  EXPECT_EQ(more.find("time_s", 1), std::string::npos);  // one header
  EXPECT_EQ(std::count(more.begin(), more.end(), '\n'), 1 + 2 * 8);
}

TEST(CliConventions, TimestampsAreLocalIsoWithMillisecondsAndOffset) {
  setenv("TZ", "CET-1CEST,M3.5.0,M10.5.0/3", 1);  // central Europe, without tzdata
  tzset();
  using namespace std::chrono;
  const auto winter = sys_days{2026y / 1 / 15} + 12h + 34min + 56s + 7ms;
  const auto summer = sys_days{2026y / 7 / 1} + 23h + 59min + 59s + 999ms;
  EXPECT_EQ(cli::IsoTime(winter), "2026-01-15T13:34:56.007+01:00");
  EXPECT_EQ(cli::IsoTime(summer), "2026-07-02T01:59:59.999+02:00");
  setenv("TZ", "UTC", 1);
  tzset();
  EXPECT_EQ(cli::IsoTime(winter), "2026-01-15T12:34:56.007+00:00");
  unsetenv("TZ");
  tzset();
}

#ifdef LW_CLI_BINARY
// Output that cannot be written is an error: exit 1 with a message.
TEST_F(Scratch, OutputThatCannotBeWrittenFails) {
  for (const char* command : {"info", "dump", "dsp read --json", "read 0xA00080 16", "ddm --json",
                              "boards", "--help", "--version"}) {
    SCOPED_TRACE(command);
    const auto r = cli_test::RunShell(
        std::string("lanewright-cli --emulate ") + command + " > /dev/full", dir.string());
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "lanewright-cli: cannot write the output: No space left on device\n");
  }
  // A CSV file on a full disk: the watch and the test stop at once.
  for (const char* command :
       {"ddm --watch 0.2 --csv /dev/full", "ber --seconds 3 --csv /dev/full"}) {
    SCOPED_TRACE(command);
    const auto r = cli_test::RunShell(std::string("lanewright-cli --emulate ") + command,
                                      dir.string(), 0, 10000);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "lanewright-cli: /dev/full: write failed: No space left on device\n");
  }
  // A reader that goes away ends a watch as Ctrl-C does.
  const auto r = cli_test::RunShell(
      "(lanewright-cli --emulate ddm --watch 0.1; echo \"status $?\" >&2) | head -c 3",
      dir.string(), 0, 10000);
  EXPECT_EQ(r.out, "== ");
  EXPECT_EQ(r.err, "status 0\n");
}

// LANEWRIGHT_TRACE=1 prints every report moved on the link as hex on
// stderr, one a line; without it stderr stays quiet.
TEST_F(Scratch, TraceShowsEveryReportOnStderr) {
  auto r = cli_test::RunShell("LANEWRIGHT_TRACE=1 lanewright-cli --emulate read 0xA00080 1",
                              dir.string());
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.err.find("hid > "), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("\nhid < "), std::string::npos) << r.err;
  for (size_t at = 0; at < r.err.size(); at = r.err.find('\n', at) + 1)
    EXPECT_EQ(r.err.compare(at, 4, "hid "), 0) << r.err.substr(at, 40);
  r = cli_test::RunShell("LANEWRIGHT_TRACE=0 lanewright-cli --emulate read 0xA00080 1",
                         dir.string());
  ASSERT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "");
}

// A watch prints JSON Lines: one document per refresh, each on its line.
TEST_F(Scratch, WatchPrintsJsonLines) {
  const auto r =
      cli_test::RunShell("lanewright-cli --emulate ddm --watch 0.3 --json", dir.string(), 1000);
  ASSERT_EQ(r.status, 0) << r.err;
  std::istringstream lines(r.out);
  int count = 0;
  for (std::string line; std::getline(lines, line); ++count) {
    const auto doc = nlohmann::json::parse(line);
    EXPECT_TRUE(
        std::regex_match(doc["time"].get<std::string>(),
                         std::regex(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}[+-]\d\d:\d\d)")));
    EXPECT_EQ(doc["lanes"].size(), 8u);
  }
  EXPECT_GE(count, 2);
}
#endif

}  // namespace
