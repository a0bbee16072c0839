// The line check engine, the configuration dialog's logic, mode reports and
// the PRBS model, against the emulated board's reports and records.
#include <gtest/gtest.h>

#include <cstring>

#include "board/device.h"
#include "board/protocol.h"
#include "emulator/emulated_board.h"
#include "signal/board_steps.h"
#include "signal/config_check.h"
#include "signal/line_check.h"

namespace {

using namespace sigtest;

struct SignalFixture : ::testing::Test {
  std::shared_ptr<emu::EmulatedBoard> board = std::make_shared<emu::EmulatedBoard>();
  CDevice device{board};
  std::vector<int> pauses;  // every CDevice::Pause beyond the 20 ms command delay
  void SetUp() override {
    ASSERT_EQ(device.FindDevices(), 1);
    ASSERT_TRUE(device.OpenBoard(0));
    device.SetPause([this](int ms) {
      if (ms != CDevice::kCommandDelayMs) pauses.push_back(ms);
    });
    board->ClearRequests();
  }
  // Payloads of the requests with `code`, in order (bytes from 4 on).
  std::vector<std::vector<uint8_t>> Sent(uint8_t code, size_t length) {
    std::vector<std::vector<uint8_t>> out;
    for (const auto& r : board->Requests())
      if (r[3] == code) out.emplace_back(r.begin() + 4, r.begin() + 4 + length);
    return out;
  }
};

std::vector<uint8_t> CheckerBytes(uint8_t device, uint8_t lane, uint8_t run) {
  // device, lane, run, combined 0, invert 0, LSB 8, MSB 8, 0, auto 1,
  // thresholds 4 and 64; the fill is written only by the dialog's Close.
  std::vector<uint8_t> b(23, 0);
  b[0] = device, b[1] = lane, b[2] = run, b[5] = 8, b[6] = 8, b[8] = 1, b[9] = 4, b[10] = 64;
  return b;
}

TEST_F(SignalFixture, FirstStartAddressesEveryLaneAndStopThenStartContinues) {
  LineCheck check;
  RunSteps(device, check.Start());
  const auto starts = Sent(board::kCheckerConfig, 23);
  ASSERT_EQ(starts.size(), 8u);
  for (int lane = 1; lane <= 8; ++lane)
    EXPECT_EQ(starts[lane - 1], CheckerBytes(lane >= 5, lane, 1)) << "lane " << lane;
  EXPECT_STREQ(check.StartCaption(), "Stop");

  // The generators are not running yet: every lane reads Unlock, red.
  check.ApplyTick(ReadTick(device));
  for (int lane = 1; lane <= 8; ++lane) {
    EXPECT_EQ(check.ShownLane(lane).type, "Unlock");
    EXPECT_EQ(check.ShownLane(lane).lamp, LineCheck::Lamp::kRed);
  }
  // With the generators on the pattern the lanes lock and count.
  RunSteps(device, check.ApplyPattern(kPatternPrbs31));
  RunSteps(device, check.Relock());
  check.ApplyTick(ReadTick(device));
  const uint64_t bits = check.Lane(1).bits;
  EXPECT_EQ(check.ShownLane(1).type, "PRBS31");
  EXPECT_EQ(check.ShownLane(1).lamp, LineCheck::Lamp::kGreen);
  EXPECT_EQ(check.ShownLane(1).time, "00:00:02");

  board->ClearRequests();
  RunSteps(device, check.Stop());
  for (const auto& sent : Sent(board::kCheckerConfig, 23)) EXPECT_EQ(sent[2], 0);
  RunSteps(device, check.Start());
  check.ApplyTick(ReadTick(device));
  EXPECT_EQ(check.Lane(1).seconds, 3u);
  EXPECT_GT(check.Lane(1).bits, bits);
}

LaneStatus Answer(bool locked, uint32_t errors, uint64_t bits, uint8_t pattern = 8,
                  bool alarm = false) {
  LaneStatus s;
  s.ok = true;
  s.bytes[status::kLock] = locked;
  s.bytes[status::kPattern] = pattern;
  s.bytes[status::kAlarm] = alarm;
  std::memcpy(&s.bytes[status::kErrors], &errors, 4);
  std::memcpy(&s.bytes[status::kBits], &bits, 8);
  return s;
}

TickSample AllLanes(const LaneStatus& s) {
  TickSample t;
  t.fill(s);
  return t;
}

TEST(LineCheckTick, CountsBerAndTimeAsTheChannelsShowThem) {
  LineCheck check;
  EXPECT_EQ(check.ShownLane(1).ber, "");  // nothing before the first tick
  EXPECT_EQ(check.ShownLane(1).lamp, LineCheck::Lamp::kNone);

  // Locked, nothing counted yet: BER 1.0 (no bit).
  check.ApplyTick(AllLanes(Answer(true, 0, 0)));
  EXPECT_EQ(check.ShownLane(1).ber, "1.00e+00");

  check.ApplyTick(AllLanes(Answer(true, 3, 1000000)));
  EXPECT_EQ(check.ShownLane(4).ber, "3.00e-06");
  EXPECT_EQ(check.ShownLane(4).errors, "3.00e+00");

  // A lane that loses lock keeps its values, reads Unlock, red.
  TickSample sample = AllLanes(Answer(true, 0, 1000000));
  sample[2] = Answer(false, 99, 99);
  check.ApplyTick(sample);
  EXPECT_EQ(check.ShownLane(3).type, "Unlock");
  EXPECT_EQ(check.ShownLane(3).ber, "3.00e-06");
  EXPECT_EQ(check.TextTone(3), LineCheck::Tone::kRed);
  EXPECT_EQ(check.ShownLane(1).ber, "1.50e-06");
  // Alarm colours a locked lane red.
  sample[0] = Answer(true, 0, 0, 8, true);
  check.ApplyTick(sample);
  EXPECT_EQ(check.TextTone(1), LineCheck::Tone::kRed);
  EXPECT_EQ(check.TextTone(2), LineCheck::Tone::kGreen);

  // Clear: fields empty, lamps kept; bit count 1, so a clean lane reads 0.
  check.Clear();
  EXPECT_EQ(check.ShownLane(3).ber, "");
  EXPECT_EQ(check.ShownLane(3).lamp, LineCheck::Lamp::kRed);
  check.ApplyTick(AllLanes(Answer(true, 0, 0)));
  EXPECT_EQ(check.Lane(2).bits, 1u);
  EXPECT_EQ(check.ShownLane(2).ber, "0.00e+00");
  EXPECT_EQ(check.ShownLane(2).time, "00:00:01");
}

TEST(LineCheckTick, TimeHasUnboundedHoursAndTablesShowQuestionMarks) {
  const std::pair<uint32_t, const char*> times[] = {{0, "00:00:00"},
                                                    {59, "00:00:59"},
                                                    {3661, "01:01:01"},
                                                    {86400, "24:00:00"},
                                                    {360000, "100:00:00"}};
  for (const auto& [seconds, text] : times) EXPECT_EQ(LineCheck::TimeText(seconds), text);

  LineCheck check;
  TickSample sample = AllLanes(Answer(true, 0, 10, 9));
  sample[1] = Answer(true, 0, 10, 11);
  sample[2] = Answer(true, 0, 10, 0xFF);
  check.ApplyTick(sample);
  EXPECT_EQ(check.ShownLane(1).type, "PPRBS58");
  EXPECT_EQ(check.ShownLane(2).type, "?");
  EXPECT_EQ(check.ShownLane(3).type, "?");
}

TEST(LineCheckTick, DivideByTenScalesWhatIsShownNotTheCount) {
  LineCheck check;
  check.ApplyTick(AllLanes(Answer(true, 500, 1000000)));
  check.SetDivideByTen();
  EXPECT_EQ(check.ShownLane(1).errors, "5.00e+01");  // re-shown at once
  EXPECT_EQ(check.ShownLane(1).ber, "5.00e-05");
  for (int i = 0; i < 5; ++i) check.ApplyTick(AllLanes(Answer(true, 0, 0)));
  // No new errors: the count stays, it does not fade tick after tick.
  EXPECT_DOUBLE_EQ(check.Lane(1).errors, 500.0);
  EXPECT_EQ(check.ShownLane(1).errors, "5.00e+01");
  check.ApplyTick(AllLanes(Answer(true, 500, 1000000)));
  EXPECT_DOUBLE_EQ(check.Lane(1).errors, 1000.0);
  EXPECT_EQ(check.ShownLane(1).errors, "1.00e+02");
  EXPECT_EQ(check.ShownLane(1).ber, "5.00e-05");
  EXPECT_DOUBLE_EQ(check.Lane(1).ber, 5e-4);
}

TEST_F(SignalFixture, FailedOrRejectedStatusAnswersCountAsUnlock) {
  LineCheck check;
  RunSteps(device, check.ApplyPattern(kPatternPrbs31));
  RunSteps(device, check.Start());
  check.ApplyTick(ReadTick(device));
  const auto before = check.Lane(1);
  const auto before2 = check.Lane(2);

  // Lane 1's answer fails the header test, lane 2's never arrives.
  board->CorruptNextHeader(1);
  TickSample sample;
  sample[0] = ReadLaneStatus(device, 1);
  board->DropAnswers(1);
  sample[1] = ReadLaneStatus(device, 2);
  for (int lane = 3; lane <= 8; ++lane) sample[lane - 1] = ReadLaneStatus(device, lane);
  EXPECT_FALSE(sample[0].ok);
  EXPECT_FALSE(sample[1].ok);
  EXPECT_TRUE(sample[2].ok);
  check.ApplyTick(sample);
  for (int lane : {1, 2}) {
    const auto& was = lane == 1 ? before : before2;
    EXPECT_EQ(check.ShownLane(lane).type, "Unlock") << lane;
    EXPECT_EQ(check.Lane(lane).bits, was.bits) << lane;
    EXPECT_EQ(check.Lane(lane).errors, was.errors) << lane;
  }
  EXPECT_EQ(check.ShownLane(3).type, "PRBS31");
  EXPECT_EQ(check.Lane(1).seconds, 2u);  // time advances all the same
}

TEST_F(SignalFixture, GeneratorButtonSendsEightRecordsThenTheOppositeState) {
  LineCheck check;
  ConfigCheck dialog(check.Checkers()[0], check.Generators());
  EXPECT_EQ(dialog.GetForm().generator_caption, "Start");
  // "Combined" checked: the LSB list is disabled but still copied.
  EXPECT_TRUE(dialog.GetForm().generator_combined);
  EXPECT_FALSE(dialog.GeneratorLsbEnabled());
  dialog.GetForm().generator_lsb = 3;
  dialog.GetForm().generator_msb = 5;
  RunSteps(device, dialog.PressGenerator());
  auto sent = Sent(board::kGeneratorConfig, 26);
  ASSERT_EQ(sent.size(), 8u);
  for (int i = 0; i < 8; ++i) {
    std::vector<uint8_t> expected = {
        static_cast<uint8_t>(i >= 4), static_cast<uint8_t>(i + 1), 1, 0, 1, 3, 5};
    EXPECT_EQ(std::vector<uint8_t>(sent[i].begin(), sent[i].begin() + 7), expected) << i;
  }
  EXPECT_EQ(sent[0][8], 0x33);  // lane 1 carries its tail
  EXPECT_EQ(sent[0][24], 1);
  EXPECT_EQ(pauses, std::vector<int>(8, ConfigCheck::kGeneratorWaitMs));
  EXPECT_EQ(dialog.GetForm().generator_caption, "Stop");

  board->ClearRequests();
  dialog.SetGeneratorMsbLsb(true);  // unchecks "Combined": split when started
  EXPECT_FALSE(dialog.GetForm().generator_combined);
  RunSteps(device, dialog.PressGenerator());
  sent = Sent(board::kGeneratorConfig, 26);
  ASSERT_EQ(sent.size(), 8u);
  for (const auto& s : sent) {
    EXPECT_EQ(s[2], 0);  // stopped
    EXPECT_EQ(s[3], 0);  // split only when started
    EXPECT_EQ(s[4], 0);
  }
  // Closing without "Close" (Esc) stored nothing in the checker record.
  EXPECT_EQ(check.Checkers()[0][checker::kTwo], 0);
}

TEST_F(SignalFixture, AutomaticModeStopsWaitsStartsAndStoresTheChecker) {
  LineCheck check;
  check.Checkers()[0][checker::kInvert] = 1;  // kept by the store
  RunSteps(device, check.ApplyPattern(5));
  const auto requests = board->Requests();
  ASSERT_EQ(requests.size(), 16u);
  for (size_t i = 0; i < 16; ++i) {
    EXPECT_EQ(requests[i][3], board::kGeneratorConfig);
    EXPECT_EQ(requests[i][4 + generator::kOn], i < 8 ? 0 : 1) << i;
    EXPECT_EQ(requests[i][4 + generator::kMsbPattern], 5);
    EXPECT_EQ(requests[i][4 + generator::kLsbPattern], 5);
  }
  std::vector<int> expected(8, 50);
  expected.push_back(500);
  expected.insert(expected.end(), 8, 50);
  EXPECT_EQ(pauses, expected);

  // The store, spread to every lane with its own device and lane.
  for (int lane = 1; lane <= 8; ++lane) {
    const auto& c = check.Checkers()[lane - 1];
    EXPECT_EQ(c[checker::kDevice], lane >= 5) << lane;
    EXPECT_EQ(c[checker::kLane], lane);
    EXPECT_EQ(c[checker::kLsbPattern], 5);
    EXPECT_EQ(c[checker::kMsbPattern], 5);
    EXPECT_EQ(c[checker::kInvert], 1);
    EXPECT_EQ(c[checker::kErrorThreshold], 4);
    EXPECT_EQ(c[checker::kFill], 0x33);
    EXPECT_EQ(c[checker::kTwo], 2);
    EXPECT_EQ(check.Generators()[lane - 1][generator::kOne], 1);
  }
  // Indexes of 128 and more open the manual dialog instead.
  EXPECT_TRUE(LineCheck::AppliesAutomatically(127));
  EXPECT_FALSE(LineCheck::AppliesAutomatically(0xFF));
}

TEST(ModeReports, TextAndWhenThePatternIsApplied) {
  struct Case {
    ModeReport report;
    const char* text;
  } cases[] = {
      {{8, 0, 4, 8.99f, 0}, "PAM4            25.78125 GBd            PRBS31            8.99w"},
      {{9, 1, 4, 0, 0}, "NRZ            25.78125 Gbps            PRBS58            0.00w"},
      {{0, 0, 5, 1.005f, 0}, "PAM4            26.5625 GBd            PRBS7            1.00w"},
      {{11, 2, 6, 0, 0}, "?            ?            ?            0.00w"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ModeReportText(c.report), c.text);
    const auto rec = c.report.Record();
    const auto back = ModeReport::FromMessage(c.report.Word(), rec.data());
    EXPECT_EQ(back.pattern, c.report.pattern);
    EXPECT_EQ(back.signalling, c.report.signalling);
    EXPECT_EQ(back.power, c.report.power);
  }

  LineCheck check;
  auto first = check.HandleModeReport({8, 0, 4, 0, 0});
  EXPECT_TRUE(first.apply);  // 0xFF never matches
  EXPECT_EQ(check.LastAppliedPattern(), 8);
  EXPECT_FALSE(check.HandleModeReport({8, 0, 4, 0, 0}).apply);
  EXPECT_TRUE(check.HandleModeReport({8, 0, 4, 0, 1}).apply);  // resend
  EXPECT_TRUE(check.HandleModeReport({3, 0, 4, 0, 0}).apply);
  EXPECT_TRUE(check.HandleModeReport({0xFF, 0, 4, 0, 0}).apply);
  EXPECT_TRUE(check.HandleModeReport({0xFF, 0, 4, 0, 0}).apply);  // signed compare
}

// Lock rules of the emulated checkers, one row per situation.
TEST(PrbsModel, LocksOnMatchingPatternPolarityAndSignal) {
  struct Case {
    const char* name;
    uint8_t gen_on, gen_lsb, gen_msb, run, combined, invert, chk_lsb, chk_msb;
    bool line_inverted, no_signal, locked;
  } cases[] = {
      {"MSB/LSB both match", 1, 3, 8, 1, 0, 0, 3, 8, false, false, true},
      {"MSB/LSB, LSB differs", 1, 4, 8, 1, 0, 0, 3, 8, false, false, false},
      {"combined, LSB ignored", 1, 4, 8, 1, 1, 0, 3, 8, false, false, true},
      {"combined, MSB differs", 1, 8, 7, 1, 1, 0, 8, 8, false, false, false},
      {"checker not running", 1, 8, 8, 0, 0, 0, 8, 8, false, false, false},
      {"generator off", 0, 8, 8, 1, 0, 0, 8, 8, false, false, false},
      {"pattern NONE", 1, 10, 10, 1, 0, 0, 10, 10, false, false, false},
      {"invert on a straight line", 1, 8, 8, 1, 0, 1, 8, 8, false, false, false},
      {"invert on a swapped line", 1, 8, 8, 1, 0, 1, 8, 8, true, false, true},
      {"no signal", 1, 8, 8, 1, 0, 0, 8, 8, false, true, false},
  };
  for (const auto& c : cases) {
    emu::PrbsModel prbs;
    emu::DspModel dsp;
    const int lane = 6;
    uint8_t gen[26] = {1, lane, c.gen_on, 0, 0, c.gen_lsb, c.gen_msb};
    uint8_t chk[23] = {1, lane, c.run, c.combined, c.invert, c.chk_lsb, c.chk_msb};
    prbs.SetLineInverted(lane, c.line_inverted);
    prbs.SetNoSignal(lane, c.no_signal);
    prbs.Generator(gen);
    prbs.Checker(chk);
    uint8_t status[25];
    prbs.Status(1, lane, dsp, status);
    EXPECT_EQ(status[1] != 0, c.locked) << c.name;
    EXPECT_EQ(status[4], c.gen_on && !c.no_signal ? c.gen_msb : 10) << c.name;
  }
  // A record for lane 6 addressed to device 0 reaches no checker.
  emu::PrbsModel prbs;
  uint8_t chk[23] = {0, 6, 1, 0, 0, 8, 8};
  prbs.Checker(chk);
  EXPECT_EQ(prbs.CheckerRecord(6)[2], 0);
}

}  // namespace
