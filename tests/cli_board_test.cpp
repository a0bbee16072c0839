// lanewright-cli's board commands against the emulated board, run in-process.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <sstream>

#include "cli/cli.h"
#include "emulator/emulated_board.h"
#include "tests/cli_test_support.h"

namespace {

using cli_test::CliResult;
using cli_test::RunCli;

TEST(CliBoard, ListsTheEmulatedBoard) {
  auto r = RunCli({"boards"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out,
            "0  emulated:board0  0483:0211:0200  Lanewright emulated test board  (emulated)\n");
  r = RunCli({"--json", "boards"});
  EXPECT_EQ(cli_test::Json(r.out)[0]["id"], "0483:0211:0200");
}

TEST(CliBoard, ReadPrintsRowsOfSixteen) {
  auto r = RunCli({"read", "0xA00080", "20"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out,
            "0xA00080: 18 56 4F 52 4C 41 4E 49 58 20 20 20 20 20 20 20\n"
            "0xA00090: 20 00 17 6A\n");
  r = RunCli({"read", "0xA0001A"});
  EXPECT_EQ(r.out, "0xA0001A: 00\n");
  r = RunCli({"read", "--json", "0xA00080", "2"});
  EXPECT_EQ(r.out, "{\"address\":\"0xA00080\",\"bytes\":[24,86]}\n");
}

// A range stays inside its page: one from lower memory into the upper page
// goes as two reads (or writes), one past register 0xFF is refused.
TEST(CliBoard, RangesStayInsideTheirPage) {
  const struct {
    std::vector<std::string> args;
    int status;
    std::vector<std::pair<uint8_t, uint8_t>> sent;  // register, count of each request
  } cases[] = {
      {{"read", "0xA0FFFF", "2"}, 2, {}},
      {{"read", "0xA01080", "255"}, 2, {}},
      {{"write", "0xA010FF", "1", "2"}, 2, {}},
      {{"read", "0xA010FF"}, 0, {{0xFF, 1}}},
      {{"read", "0xA01080", "128"}, 0, {{0x80, 50}, {0xB2, 50}, {0xE4, 28}}},
      {{"read", "0xA00078", "16"}, 0, {{0x78, 8}, {0x80, 8}}},
      {{"write", "0xA0007F", "1", "2"}, 0, {{0x7F, 1}, {0x80, 1}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args[0] + " " + c.args[1]);
    auto board = std::make_shared<emu::EmulatedBoard>();
    board->Module().SetNoise(false);
    auto r = RunCli(c.args, board);
    EXPECT_EQ(r.status, c.status) << r.err;
    const auto sent = board->Requests();
    ASSERT_EQ(sent.size(), c.sent.size());
    for (size_t i = 0; i < sent.size(); ++i) {
      EXPECT_EQ(sent[i][7], c.sent[i].first) << i;
      EXPECT_EQ(sent[i][8], c.sent[i].second) << i;
    }
  }
  // The two halves come back in order under the right labels.
  auto board = std::make_shared<emu::EmulatedBoard>();
  board->Module().Poke(0x00, 0x7C, 0x11);
  board->Module().Poke(0x00, 0x7D, 0x22);
  auto r = RunCli({"read", "0xA0007C", "6"}, board);
  ASSERT_EQ(r.out.size(), 28u) << r.out;
  EXPECT_EQ(r.out.substr(0, 16), "0xA0007C: 11 22 ");
  EXPECT_EQ(r.out.substr(22), "18 56\n");
  r = RunCli({"read", "0xA010F8", "8"});
  EXPECT_EQ(r.out.substr(0, 10), "0xA010F8: ");
  EXPECT_NE(RunCli({"read", "0xA0FFFF", "2"}).err.find("run past the end of page FFh"),
            std::string::npos);
}

TEST(CliBoard, WriteChangesTheModuleThroughTheProtocol) {
  auto board = std::make_shared<emu::EmulatedBoard>();
  auto r = RunCli({"write", "0xA01082", "0x04", "7"}, board);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(board->Module().Peek(0x10, 0x82), 0x04);
  EXPECT_EQ(board->Module().Peek(0x10, 0x83), 0x07);
  const auto sent = board->Requests();
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(std::vector<uint8_t>(sent[0].begin(), sent[0].begin() + 11),
            (std::vector<uint8_t>{0, 0xAA, 0xAA, 0x06, 1, 0x10, 0xA0, 0x82, 2, 4, 7}));
}

TEST(CliBoard, UsageErrorsExitTwoAndSendNothing) {
  const std::vector<std::vector<std::string>> cases = {
      {"read", "0x1000000"}, {"read", "0xA00080", "0"},    {"read", "0xA00080", "256"},
      {"read", "zz"},        {"write", "0xA00080", "256"}, {"write", "0xA00080"},
      {"frobnicate"},        {"read", "--bogus", "1"},     {"--board"},
  };
  for (const auto& args : cases) {
    auto board = std::make_shared<emu::EmulatedBoard>();
    auto r = RunCli(args, board);
    EXPECT_EQ(r.status, 2) << args[0];
    EXPECT_FALSE(r.err.empty());
    EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << "one line: " << r.err;
    EXPECT_EQ(board->RequestCount(), 0u);
  }
}

TEST(CliBoard, BoardFailuresExitOneWithAReason) {
  auto board = std::make_shared<emu::EmulatedBoard>();
  board->SetPlugged(false);
  auto r = RunCli({"read", "0xA00080"}, board);
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("unplugged"), std::string::npos) << r.err;

  board = std::make_shared<emu::EmulatedBoard>();
  board->DropAnswers(1);
  r = RunCli({"read", "0xA00080"}, board);
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("did not answer"), std::string::npos) << r.err;
}

TEST(CliBoard, HelpExplainsToolAndCommands) {
  auto r = RunCli({"--help"});
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.out.find("read ADDR [COUNT]"), std::string::npos);
  EXPECT_NE(r.out.find("Exit status: 0 success (or PASS), 1 a board or file operation failed"),
            std::string::npos);
  r = RunCli({"read", "--help"});
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.out.find("Example: lanewright-cli --emulate read 0xA00080 16"), std::string::npos);
  // Options of a command come from the table the parser takes them from.
  r = RunCli({"ber", "-h"});
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.out.find("\n  --overwrite           replace an existing --csv file\n"),
            std::string::npos)
      << r.out;
  r = RunCli({"--version"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out.rfind("lanewright-cli 1.", 0), 0u) << r.out;
}

// `--json` where it stood before, `--` ends the options, words that name a
// command are arguments after the command.
TEST(CliBoard, ParserKeepsTheCommandSurface) {
  const std::vector<std::vector<std::string>> same = {{"--json", "read", "0xA00080"},
                                                      {"read", "--json", "0xA00080"},
                                                      {"read", "0xA00080", "--json"}};
  for (const auto& args : same) {
    auto r = RunCli(args);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "{\"address\":\"0xA00080\",\"bytes\":[24]}\n");
  }
  auto r = RunCli({"read", "--", "--json"});
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("ADDR: \"--json\" is not a number"), std::string::npos) << r.err;
  r = RunCli({"dsp", "write", "power"});  // a file named like a command
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("power: cannot open"), std::string::npos) << r.err;
  r = RunCli({"read", "--emulate", "0xA00080"});
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("global options stand before the command"), std::string::npos) << r.err;
}

}  // namespace

// Module text is raw bytes: JSON output is valid UTF-8 whatever they are,
// and a stray byte still shows its value (as the Latin-1 character).
TEST(CliJson, StringsAreValidJsonWhateverTheBytes) {
  const std::pair<std::string, std::string> cases[] = {
      {"a\"b\\\n\x01", "a\"b\\\n\x01"},
      {"\xE5\x86\x99", "\xE5\x86\x99"},                          // valid UTF-8 stays
      {"\xF0\x9F\x98\x80", "\xF0\x9F\x98\x80"},                  // four bytes, U+1F600
      {"V\xA9X\xE5", "V\xC2\xA9X\xC3\xA5"},                      // stray bytes: U+00A9, U+00E5
      {"\xC0\xAF", "\xC3\x80\xC2\xAF"},                          // overlong '/'
      {"\xED\xA0\x80", "\xC3\xAD\xC2\xA0\xC2\x80"},              // a surrogate, UTF-8 encoded
      {"\xF4\x90\x80\x80", "\xC3\xB4\xC2\x90\xC2\x80\xC2\x80"},  // above U+10FFFF
      {"\xE2\x82", "\xC3\xA2\xC2\x82"},                          // cut short
  };
  for (const auto& [bytes, text] : cases) {
    const std::string dumped = cli::DumpJson(cli::Json{{"name", bytes}, {bytes, 1}}, -1);
    const auto doc = nlohmann::json::parse(dumped);  // throws on invalid UTF-8
    EXPECT_EQ(doc["name"], text) << dumped;
    EXPECT_EQ(doc[text], 1) << dumped;
  }
}
