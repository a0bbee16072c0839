// lanewright-cli's ber, dsp and power commands against the emulated board.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <functional>
#include <sstream>
#include <thread>

#include "board/protocol.h"
#include "cli/cli.h"
#include "emulator/emulated_board.h"
#include "signal/dsp_block.h"
#include "tests/cli_test_support.h"

namespace {

using cli_test::CliResult;
using cli_test::RunCli;

std::string TempPath(const char* name) {
  return (::testing::TempDir() + "/") + name + std::to_string(::getpid());
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> out;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) out.push_back(line);
  return out;
}

TEST(CliBer, MeasuresALaneAtOneInAMillionWithinStatisticalBounds) {
  auto board = std::make_shared<emu::EmulatedBoard>();
  {
    auto lock = board->Lock();
    for (int lane = 1; lane <= 8; ++lane) board->Prbs().SetLaneBer(lane, 0);
    board->Prbs().SetLaneBer(2, 1e-6);   // shown as Channel 8
    board->Prbs().SetNoSignal(5, true);  // Channel 5
  }
  const std::string csv = TempPath("ber.csv");
  auto r = RunCli({"--json", "ber", "--seconds", "2", "--pattern", "prbs23", "--csv", csv}, board);
  ASSERT_EQ(r.status, 0) << r.err;

  const auto doc = cli_test::Json(r.out);
  EXPECT_EQ(doc["pattern"], "PRBS23");
  const auto& channels = doc["channels"];
  ASSERT_EQ(channels.size(), 8u);
  const auto& ch8 = channels[7];
  EXPECT_EQ(ch8["lane"], 2);
  const double bits = ch8["bits"];
  const double errors = ch8["errors"];
  EXPECT_GT(bits, 1e10);  // two seconds at 51.5625 Gb/s
  // Poisson: errors within six standard deviations of 1e-6 x bits.
  EXPECT_NEAR(errors, 1e-6 * bits, 6 * std::sqrt(1e-6 * bits));
  EXPECT_EQ(channels[4]["type"], "Unlock");
  EXPECT_EQ(channels[0]["type"], "PRBS23");
  EXPECT_EQ(channels[0]["ber"], 0);

  // The checkers were stopped at the end.
  const auto requests = board->Requests();
  ASSERT_GE(requests.size(), 8u);
  for (size_t i = requests.size() - 8; i < requests.size(); ++i) {
    EXPECT_EQ(requests[i][3], board::kCheckerConfig);
    EXPECT_EQ(requests[i][4 + 2], 0);
  }

  // CSV: a header, then one row per lane per second whose increments add up.
  std::ifstream in(csv);
  std::stringstream text;
  text << in.rdbuf();
  const auto rows = Lines(text.str());
  ASSERT_EQ(rows.size(), 1u + 2 * 8);
  EXPECT_EQ(rows[0],
            "time_s,channel,lane,locked,error_increment,bit_increment,errors,bits,ber,"
            "ber_upper_bound,lock_losses,verdict");
  unsigned long long t, ch, lane, locked, de, db, e, b;
  ASSERT_EQ(std::sscanf(rows[16].c_str(), "%llu,%llu,%llu,%llu,%llu,%llu,%llu,%llu", &t, &ch, &lane,
                        &locked, &de, &db, &e, &b),
            8);
  EXPECT_EQ(t, 2u);
  EXPECT_EQ(ch, 8u);
  EXPECT_EQ(lane, 2u);
  EXPECT_EQ(static_cast<double>(b), bits);
  std::remove(csv.c_str());
}

TEST(CliBer, PrintsOneLinePerChannelAndRefusesBadOptions) {
  auto board = std::make_shared<emu::EmulatedBoard>();
  auto r = RunCli({"ber", "--seconds", "1"}, board);
  ASSERT_EQ(r.status, 0) << r.err;
  const auto lines = Lines(r.out);
  ASSERT_EQ(lines.size(), 10u);
  EXPECT_EQ(lines[0], "PRBS31, 1 s");
  EXPECT_EQ(lines[2].substr(0, 14), "1        7    ");
  EXPECT_NE(lines[2].find("00:00:01"), std::string::npos);

  const std::pair<std::vector<std::string>, int> bad[] = {
      {{"ber", "--seconds", "0"}, 2},
      {{"ber", "--pattern", "NONE"}, 2},
      {{"ber", "--pattern", "PRBS99"}, 2},
      {{"ber", "extra"}, 2},
      {{"ber", "--csv", "/nonexistent/dir/x.csv"}, 1},  // a file that cannot be made
      {{"ber", "--target", "2"}, 2},
      {{"ber", "--target", "0"}, 2},
      {{"ber", "--confidence", "1.5"}, 2},
      {{"ber", "--confidence", "0.3"}, 2},
      {{"ber", "--confidence", "100"}, 2},
      {{"ber", "--allowed-errors", "-1"}, 2},
      {{"--emulate-ber", "2", "ber"}, 2},
      {{"--emulate-ber", "1e-9,0", "ber"}, 2},
      {{"--emulate-ber", "x", "ber"}, 2},
  };
  for (const auto& [args, status] : bad) {
    auto quiet = std::make_shared<emu::EmulatedBoard>();
    auto r = RunCli(args, quiet);
    EXPECT_EQ(r.status, status) << args[1];
    EXPECT_EQ(quiet->RequestCount(), 0u);
  }
}

// A verdict run ends with every lane's verdict, and its exit status tells a
// bad module (3) from an undecided run (4) and from a board failure (1). A
// target of 1e-6 at 95 % needs 3.0e6 bits: one second after the lock.
TEST(CliBer, VerdictRunsEndWithTheVerdictAsExitStatus) {
  const struct {
    const char* what;
    std::vector<std::string> args;
    std::function<void(emu::EmulatedBoard&)> setup;
    int status;
    const char* said;
  } cases[] = {
      {"clean lanes pass",
       {"--emulate-ber", "0", "--json", "ber", "--target", "1e-6", "--until-verdict"},
       nullptr,
       0,
       "\"verdict\":\"PASS\""},
      {"a lane with errors fails",
       {"--emulate-ber", "0,1e-4,0,0,0,0,0,0", "ber", "--target", "1e-6", "--until-verdict"},
       nullptr,
       3,
       "FAIL: "},
      {"a lane that never locks keeps the run open",
       {"--emulate-ber", "0", "ber", "--target", "1e-6", "--seconds", "2"},
       [](emu::EmulatedBoard& b) { b.Prbs().SetNoSignal(5, true); },
       4,
       "UNDECIDED"},
      {"a lost status answer is the board's failure",
       {"--emulate-ber", "0", "ber", "--target", "1e-6", "--seconds", "2"},
       [](emu::EmulatedBoard& b) {
         b.Prbs().SetLaneBer(1, 0);
         b.DropAnswers(0);
       },
       1,
       "status exchange(s) failed"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    auto board = std::make_shared<emu::EmulatedBoard>();
    if (c.setup) {
      auto lock = board->Lock();
      c.setup(*board);
    }
    std::thread fault;
    if (c.status == 1) {
      // Lose one status answer once the run has started.
      fault = std::thread([board] {
        std::this_thread::sleep_for(std::chrono::milliseconds(1300));
        board->DropAnswers(1);
      });
    }
    const auto r = RunCli(c.args, board);
    if (fault.joinable()) fault.join();
    EXPECT_EQ(r.status, c.status) << r.out << r.err;
    EXPECT_NE((r.out + r.err).find(c.said), std::string::npos) << r.out << r.err;
  }
}

TEST(CliDsp, WriteChangesNamedFieldsOnlyAndBadFilesSendNothing) {
  auto board = std::make_shared<emu::EmulatedBoard>();
  const auto before = board->Dsp().Current();
  const std::string file = TempPath("dsp.json");
  std::ofstream(file) << R"({"rate": "26.5625GBd", "tx": {"lane3": {"pre": 4, "invert": true}}})";
  auto r = RunCli({"dsp", "write", file}, board);
  ASSERT_EQ(r.status, 0) << r.err;
  const auto after = board->Dsp().Current();
  for (int i = 0; i < 193; ++i) {
    if (i == 61)
      EXPECT_EQ(after[i], 4);
    else if (i == 43)
      EXPECT_EQ(after[i], before[i] | 0x20);
    else if (i == 161)
      EXPECT_EQ(after[i], 1);
    else if (i == 164)
      EXPECT_EQ(after[i], 5);
    else
      EXPECT_EQ(after[i], before[i]) << i;
  }
  // What `dsp read --json` prints is what `dsp write` takes.
  r = RunCli({"dsp", "read", "--json"}, board);
  ASSERT_EQ(r.status, 0);
  EXPECT_EQ(cli_test::Json(r.out)["tx"]["lane3"]["pre"], 4) << r.out;
  std::ofstream(file) << r.out;
  board->ClearRequests();
  ASSERT_EQ(RunCli({"dsp", "write", file}, board).status, 0);
  EXPECT_EQ(board->Dsp().Current(), after);

  std::ofstream(file) << R"({"tx": {"lane3": {"pre": 70000}}})";
  board->ClearRequests();
  r = RunCli({"dsp", "write", file}, board);
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("tx.lane3.pre: 70000 is out of range"), std::string::npos) << r.err;
  EXPECT_EQ(board->RequestCount(), 0u);
  std::remove(file.c_str());

  r = RunCli({"dsp", "save"}, board);
  EXPECT_EQ(r.out, "Save successfully!\n");
  EXPECT_EQ(board->Dsp().Saved(), after);
  board->SetPlugged(false);
  r = RunCli({"dsp", "save"}, board);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "");
}

// Carries the reports to the emulated board, but one byte of the DSP block
// never arrives as written: a board that does not take one field.
class LossyDspLink : public HidBackend {
 public:
  LossyDspLink(std::shared_ptr<emu::EmulatedBoard> board, int offset)
      : board_(std::move(board)), offset_(offset) {}
  std::vector<HidDeviceInfo> Enumerate() override { return board_->Enumerate(); }
  std::string Name() const override { return "lossy"; }
  std::unique_ptr<HidConnection> Open(const std::string& path) override {
    struct Connection : HidConnection {
      std::unique_ptr<HidConnection> inner;
      int offset;
      int Write(const uint8_t* data, size_t length) override {
        std::vector<uint8_t> report(data, data + length);
        const int at = offset - report[5];  // [3] code, [5] block offset, [6] count, [7] data
        if (report[3] == board::kDspWrite && at >= 0 && at < report[6]) report[7 + at] ^= 0xFF;
        return inner->Write(report.data(), report.size());
      }
      int Read(uint8_t* data, size_t length, int timeout_ms) override {
        return inner->Read(data, length, timeout_ms);
      }
    };
    auto c = std::make_unique<Connection>();
    c->inner = board_->Open(path);
    if (!c->inner) return nullptr;
    c->offset = offset_;
    return c;
  }

 private:
  std::shared_ptr<emu::EmulatedBoard> board_;
  int offset_;
};

size_t DspWrites(const emu::EmulatedBoard& board) {
  size_t n = 0;
  for (const auto& r : board.Requests()) n += r[3] == board::kDspWrite;
  return n;
}

// `dsp write` applies the file onto the board's block and reads it back:
// it changes exactly what the file names, or fails and says what.
TEST(CliDsp, WriteChangesWhatTheFileNamesOrFails) {
  const std::string file = TempPath("dsp-write.json");
  const std::string read_back = "(dsp read --json)";
  const struct {
    const char* what;
    std::function<void(emu::DspModel&)> board;
    std::string text;  // or read_back: what `dsp read --json` printed
    int status;
    std::vector<std::pair<int, uint8_t>> changed;  // block offset, new value
    const char* says;
  } cases[] = {
      {"a rate the board does not hold",
       nullptr,
       R"({"tx":{"lane3":{"pre":4}},"rate":0})",
       2,
       {},
       "rate: give"},
      {"a swing beyond the list",
       nullptr,
       R"({"tx":{"lane1":{"swing":9}}})",
       2,
       {},
       "tx.lane1.swing: 9 is out of range (0-6); nothing written"},
      {"rate code 7 read back",
       [](emu::DspModel& d) { d.Current()[164] = 7; },
       read_back,
       0,
       {},
       nullptr},
      {"swing 9 read back",
       [](emu::DspModel& d) { d.Current()[49] = 9; },
       read_back,
       0,
       {},
       nullptr},
      {"a field and the code the board holds",
       [](emu::DspModel& d) { d.Current()[164] = 7; },
       R"({"tx":{"lane3":{"pre":4}},"rate":7})",
       0,
       {{61, 4}},
       nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    auto board = std::make_shared<emu::EmulatedBoard>();
    if (c.board) c.board(board->Dsp());
    auto before = board->Dsp().Current();
    before[161] = 0;
    board->Dsp().Current()[161] = 0;
    if (c.text == read_back) {
      auto r = RunCli({"dsp", "read", "--json"}, board);
      ASSERT_EQ(r.status, 0);
      std::ofstream(file) << r.out;
      board->ClearRequests();
    } else {
      std::ofstream(file) << c.text;
    }
    auto r = RunCli({"dsp", "write", file}, board);
    EXPECT_EQ(r.status, c.status) << r.err;
    if (c.says) {
      EXPECT_NE(r.err.find(c.says), std::string::npos) << r.err;
    }
    auto expected = before;
    if (c.status == 0) expected[161] = 1;  // the write marker, as WRITE sets it
    for (const auto& [offset, value] : c.changed) expected[offset] = value;
    EXPECT_EQ(board->Dsp().Current(), expected);
    EXPECT_EQ(DspWrites(*board), c.status == 0 ? 4u : 0u);
  }

  // A board that does not take a field: exit 1, naming it.
  auto board = std::make_shared<emu::EmulatedBoard>();
  std::ofstream(file) << R"({"tx":{"lane3":{"pre":4,"main":170}}})";
  auto r =
      cli_test::RunCliOn(board, {"dsp", "write", file}, std::make_shared<LossyDspLink>(board, 61));
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err,
            "lanewright-cli: DSP write: the board did not take tx.lane3.pre "
            "(read back other values)\n");
  EXPECT_EQ(r.out, "");
  std::remove(file.c_str());
}

TEST(CliDsp, ReadAndPowerShowThePageValues) {
  auto board = std::make_shared<emu::EmulatedBoard>();
  auto r = RunCli({"power"}, board);
  EXPECT_EQ(r.out, "V: 3.31\nI: 2.72\nP: 8.99\n");
  r = RunCli({"dsp", "read"}, board);
  ASSERT_EQ(r.status, 0);
  const auto lines = Lines(r.out);
  EXPECT_EQ(lines[0], "Signalling: PAM");
  EXPECT_EQ(lines[5], "Rate: 25.78125GBd");
  // TX row "5" is block lane 1: pre 0, main 160, post 4.
  bool found = false;
  for (const auto& line : lines)
    if (line.rfind("5  ", 0) == 0 && line.find("3TAP") != std::string::npos) {
      EXPECT_NE(line.find("0    160   4 "), std::string::npos) << line;
      found = true;
    }
  EXPECT_TRUE(found) << r.out;
}

}  // namespace
