// The board link in a random soak of faults: late, lost and corrupted
// answers, failed writes and unplugs.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <random>

#include "board/device.h"
#include "emulator/emulated_board.h"
#include "module/qsfp_dd.h"
#include "signal/board_steps.h"
#include "signal/dsp_page_model.h"

namespace {

using namespace std::chrono;

// A few thousand exchanges with faults drawn at random: every value a call
// reports as good equals the emulated board's bytes at that moment, and
// nothing hangs.
TEST(LinkSoak, EveryGoodResultIsTheBoardsBytes) {
  const unsigned seed = std::random_device{}();
  SCOPED_TRACE("seed " + std::to_string(seed));
  std::mt19937 rng(seed);
  auto board_ptr = std::make_shared<emu::EmulatedBoard>();
  emu::EmulatedBoard& board = *board_ptr;
  CDevice device(board_ptr);
  device.FindDevices();
  ASSERT_TRUE(device.OpenBoard(0));
  device.SetPause([](int) {});  // the board answers within 2 ms; time limits stay real
  board.Module().SetLive(false);
  // Each lane's generator runs a pattern of its own, so a checker status
  // answer tells which lane it belongs to.
  for (int lane = 1; lane <= 8; ++lane) {
    uint8_t gen[emu::PrbsModel::kGeneratorSize] = {};
    gen[0] = lane >= 5 ? 1 : 0;
    gen[1] = static_cast<uint8_t>(lane);
    gen[2] = 1;
    gen[6] = static_cast<uint8_t>(lane - 1);
    auto lock = board.Lock();
    board.Prbs().Generator(gen);
  }
  qsfp_dd::CQSFP_DD module(&device);

  auto fault = [&] {
    auto lock = board.Lock();
    switch (std::uniform_int_distribution<int>(0, 5)(rng)) {
      case 0:
        board.DropAnswers(1);
        break;
      case 1:
        board.AnswerLate(1, std::uniform_int_distribution<int>(55, 150)(rng));
        break;
      case 2:
        board.CorruptNextHeader(1);
        break;
      case 3:
        board.FailNextWrite(1);
        break;
      default:
        break;  // an unplug, below
    }
  };
  int good = 0, failed = 0, unplugs = 0;
  const auto start = steady_clock::now();
  for (int op = 0; op < 1200; ++op) {
    if (std::uniform_int_distribution<int>(0, 24)(rng) == 0) {
      if (std::uniform_int_distribution<int>(0, 5)(rng) == 5) {
        board.SetPlugged(false);
        ++unplugs;
      } else {
        fault();
      }
    }
    if (!board.Plugged() && std::uniform_int_distribution<int>(0, 2)(rng) == 0) {
      board.SetPlugged(true);
      device.CloseBoard();
      device.FindDevices();
      ASSERT_TRUE(device.OpenBoard(0));
    }
    BoardResult r;
    switch (op % 4) {
      case 0: {  // a module read of changed bytes
        const uint8_t page = op % 8 < 4 ? 0x10 : 0x11;
        const uint8_t reg =
            static_cast<uint8_t>(0x80 + std::uniform_int_distribution<int>(0, 60)(rng));
        const uint8_t length = static_cast<uint8_t>(std::uniform_int_distribution<int>(1, 60)(rng));
        {
          auto lock = board.Lock();
          for (int i = 0; i < length; ++i)
            board.Module().Poke(page, static_cast<uint8_t>(reg + i), static_cast<uint8_t>(rng()));
        }
        uint8_t bytes[64];
        r = device.ReadModule(1, 0xA0, page, reg, bytes, length);
        if (r) {
          auto lock = board.Lock();
          for (int i = 0; i < length; ++i) {
            ASSERT_EQ(bytes[i], board.Module().Peek(page, static_cast<uint8_t>(reg + i)))
                << "byte " << i << " of a good read";
          }
        }
        break;
      }
      case 1: {  // a refresh of the control image
        {
          auto lock = board.Lock();
          for (int reg = 0x80; reg <= 0xD4; ++reg)
            board.Module().Poke(0x10, static_cast<uint8_t>(reg), static_cast<uint8_t>(rng()));
        }
        r = module.ReadControlImage();
        const ModuleImages s = module.Snapshot();
        auto lock = board.Lock();
        for (int reg = 0x80; reg <= 0xD4; ++reg)
          if (s.Current(0x10, static_cast<uint8_t>(reg))) {
            ASSERT_EQ(s.page10[reg - 0x80], board.Module().Peek(0x10, static_cast<uint8_t>(reg)))
                << "current byte 0x" << std::hex << reg;
          }
        if (r) {
          ASSERT_TRUE(s.Current(0x10, 0x80, 0xD4 - 0x80 + 1));
        }
        break;
      }
      case 2: {  // the DSP block, read then written
        sigtest::DspBlock block{};
        {
          auto lock = board.Lock();
          sigtest::DspBlock changed = board.Dsp().Current();
          changed[std::uniform_int_distribution<int>(0, 192)(rng)] ^= 0x01;
          board.Dsp().Current() = changed;
        }
        r = sigtest::ReadDspBlock(device, block);
        if (r) {
          auto lock = board.Lock();
          ASSERT_EQ(block, board.Dsp().Current());
        }
        block[7] ^= 0x10;
        if (auto w = sigtest::WriteDspBlock(device, block)) {
          auto lock = board.Lock();
          ASSERT_EQ(block, board.Dsp().Current());
        }
        break;
      }
      case 3: {  // one line check tick
        const sigtest::TickSample sample = sigtest::ReadTick(device);
        for (int lane = 1; lane <= 8; ++lane) {
          const auto& s = sample[lane - 1];
          if (!s.ok) continue;
          ASSERT_EQ(s.bytes[0], lane >= 5 ? 1 : 0) << "lane " << lane;
          ASSERT_EQ(s.bytes[4], lane - 1) << "lane " << lane << ": another lane's answer";
        }
        r = BoardResult::Ok();
        break;
      }
    }
    (r ? good : failed)++;
  }
  EXPECT_GT(good, 800);
  EXPECT_GT(failed, 0);
  EXPECT_LT(steady_clock::now() - start, seconds(120));
  std::printf("soak: %d good, %d failed operations, %d unplugs, %llu late answers discarded\n",
              good, failed, unplugs,
              static_cast<unsigned long long>(device.Hid().DiscardedReports()));
}

}  // namespace
