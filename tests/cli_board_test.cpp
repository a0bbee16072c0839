// lanewright-cli's board commands against the emulated board, run in-process.
#include <gtest/gtest.h>

#include "tests/cli_test_support.h"

#include <sstream>

#include "cli/cli.h"
#include "emulator/emulated_board.h"

namespace {

using cli_test::CliResult;
using cli_test::RunCli;

TEST(CliBoard, ListsTheEmulatedBoard) {
  auto r = RunCli({"boards"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "0  emulated:board0  0483:0211:0200  Lanewright emulated test board  (emulated)\n");
  r = RunCli({"--json", "boards"});
  EXPECT_NE(r.out.find("\"id\": \"0483:0211:0200\""), std::string::npos);
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
  EXPECT_EQ(r.out, "{\"address\": \"0xA00080\", \"bytes\": [24, 86]}\n");
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
      {"read", "0x1000000"}, {"read", "0xA00080", "0"},   {"read", "0xA00080", "256"},
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
  r = RunCli({"read", "--help"});
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.out.find("Example: lanewright-cli --emulate read 0xA00080 16"), std::string::npos);
}

}  // namespace

TEST(CliJson, StringsAreValidJsonWhateverTheBytes) {
  EXPECT_EQ(cli::JsonString("a\"b\\\n"), "\"a\\\"b\\\\\\n\"");
  EXPECT_EQ(cli::JsonString("\x01"), "\"\\u0001\"");
  EXPECT_EQ(cli::JsonString("\xE5\x86\x99"), "\"\xE5\x86\x99\"");  // valid UTF-8 stays
  EXPECT_EQ(cli::JsonString("V\xA9X\xE5"), "\"V\\u00a9X\\u00e5\"");  // stray bytes are escaped
}
