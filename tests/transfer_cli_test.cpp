// `lanewright-cli eeprom load|check` run in-process against the emulated board,
// with the real 20 ms command pause: exit status, log lines, the state file.
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "cli/cli.h"
#include "emulator/emulated_board.h"
#include "tests/cli_test_support.h"

namespace {

namespace fs = std::filesystem;

using cli_test::CliResult;
using cli_test::RunCli;

bool Has(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

struct TransferCli : ::testing::Test {
  fs::path dir;
  void SetUp() override {
    dir = fs::temp_directory_path() /
          ("lw_transfer_cli_" + std::to_string(getpid()) + "_" +
           ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir);
    fs::create_directories(dir);
  }
  void TearDown() override {
    cli::g_interrupted = false;
    fs::remove_all(dir);
  }
  std::string File(const std::string& name, const std::string& contents) {
    const auto path = (dir / name).string();
    std::ofstream(path, std::ios::binary) << contents;
    return path;
  }
  // `groups` 8-digit groups, four to a line.
  std::string Image(const std::string& name, int groups, unsigned seed = 0x1000) {
    std::string text = "/ test image\r\n";
    char group[9];
    for (int i = 0; i < groups; ++i) {
      std::snprintf(group, sizeof group, "%08X", seed + i * 0x01010101u);
      text += group;
      if (i % 4 == 3) text += "\r\n";
    }
    return File(name, text + "\r\n");
  }
};

TEST_F(TransferCli, LoadThenCheckThroughTheStateFileInTwoRuns) {
  const auto image = Image("image.txt", 10);  // 40 bytes: a full block and 8 bytes
  const std::string state = "--emulate=" + (dir / "board.state").string();
  auto r = cli_test::RunCliOn(nullptr, {state, "eeprom", "load", image});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "loaded 40 bytes from " + image + "\n");
  EXPECT_EQ(r.err,
            "开始读取文件内容!\n读取文件内容完毕!\n进入EEPROM加载模式!\n"
            "写入数据块数据  Address:0x0    DataSize:2048\n"
            "写入数据块数据  Address:20    DataSize:8\n写入数据完成!\n");

  r = cli_test::RunCliOn(nullptr, {state, "eeprom", "check", image});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "checked 40 bytes from " + image + ": intact\n");
  EXPECT_TRUE(Has(r.err, "数据校验正常! 已校验字节数据地址:0x0\n数据校验成功,无异常!\n")) << r.err;

  // Another image against the same board: the check finds the first difference.
  const auto other = Image("other.txt", 10, 0x1001);
  r = cli_test::RunCliOn(nullptr, {state, "--json", "eeprom", "check", other});
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(Has(r.err, "数据校验异常,异常字节数据地址:0x0，请检查!\n")) << r.err;
  EXPECT_EQ(cli_test::Json(r.out)["outcome"], "mismatch") << r.out;
}

// A page file that cannot be opened (1) or is not valid (2) never reaches
// the board.
TEST_F(TransferCli, AnUnusablePageFileSendsNothing) {
  struct Case {
    std::string path, says;
    int status;
  };
  const std::vector<Case> cases = {
      {(dir / "missing.txt").string(), "无法打开文件！ 错误2: No such file or directory", 1},
      {File("comments.txt", "/ only a comment\n\n"),
       "comments.txt: the file holds only comment lines and empty lines, no data", 2},
      {File("empty.txt", ""), "empty.txt: the file is empty", 2},
      {File("bad.txt", "/ x\n0102030405060708\n010203040506070G\n"),
       "Page file error at line 3, column 16: 'G' is not a hexadecimal digit; no image", 2},
  };
  for (const auto& c : cases) {
    for (const char* op : {"load", "check"}) {
      SCOPED_TRACE(c.path + " " + op);
      auto board = std::make_shared<emu::EmulatedBoard>();
      auto r = RunCli({"eeprom", op, c.path}, board);
      EXPECT_EQ(r.status, c.status);
      EXPECT_TRUE(Has(r.err, c.says)) << r.err;
      EXPECT_EQ(board->RequestCount(), 0u);
    }
  }
  auto r = RunCli({"eeprom", "store", "x.txt"}, std::make_shared<emu::EmulatedBoard>());
  EXPECT_EQ(r.status, 2);
}

TEST_F(TransferCli, UnpluggingMidLoadFailsWithTheLoadsFailureLine) {
  auto board = std::make_shared<emu::EmulatedBoard>();
  {
    auto lock = board->Lock();
    board->Mailbox().InjectFault(emu::MailboxFault::kUnplug, 3);
  }
  auto r = RunCli({"eeprom", "load", Image("image.txt", 64)}, board);
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(Has(r.err, "进入EEPROM加载模式!\n")) << r.err;
  EXPECT_TRUE(Has(r.err, "写入数据异常,自动退出!\n")) << r.err;
  EXPECT_FALSE(Has(r.err, "写入数据完成!")) << r.err;
  EXPECT_TRUE(Has(r.err, "lanewright-cli: eeprom load: the board did not turn ready")) << r.err;
  EXPECT_TRUE(r.out.empty());
}

TEST_F(TransferCli, CtrlCStopsALoadBetweenExchanges) {
  auto board = std::make_shared<emu::EmulatedBoard>();
  const auto image = Image("image.txt", 160);  // 20 blocks, about 1.2 s
  std::atomic<bool> finished{false};
  std::thread user([&] {
    while (!finished && board->RequestCount() < 7)
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    cli::g_interrupted = true;
  });
  auto r = RunCli({"eeprom", "load", image}, board);
  finished = true;
  user.join();
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(Has(r.err, "Terminate File Transfer!\n")) << r.err;
  EXPECT_FALSE(Has(r.err, "写入数据完成!")) << r.err;
  EXPECT_LT(board->RequestCount(), 20u);
  auto lock = board->Lock();
  EXPECT_LT(board->Mailbox().BlocksStored(), 20);
}

}  // namespace
