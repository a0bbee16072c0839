// Qualification plans and the runner: plan validation with places, profile
// choice, the plan hash, and runs on the emulated board that pass, fail on
// a faulty module, stop on request and always run their finally steps.
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <memory>
#include <set>
#include <sstream>

#include "board/device.h"
#include "emulator/emulated_board.h"
#include "qualify/plan.h"
#include "qualify/runner.h"
#include "tests/qualify_test_support.h"

namespace {

using qualify::ParsePlan;
using qualify::PlanError;
using records::Outcome;

// ---- plans ----

struct BadPlan {
  const char* text;
  int line, column;
  const char* reason;  // a part of the reason
};

TEST(QualifyPlan, InvalidPlansAreRefusedWithTheirPlace) {
  const std::string ok_step = "[[step]]\nkind = \"identify\"\n";
  const BadPlan cases[] = {
      {"name = \"x\"\n[[step]]\nkind = \"identify\"\ncolour = 3\n", 4, 1, "unknown key \"colour\""},
      {"[[step]]\nkind = \"warp\"\n", 2, 8, "unknown step kind \"warp\""},
      {"[[step]]\nkind = \"ddm\"\nsamples = \"many\"\n", 3, 11, "samples must be an integer"},
      {"[[step]]\nkind = \"ddm\"\nsamples = 0\n", 3, 11, "samples must be from 1"},
      {"[[step]]\nkind = \"ber\"\n", 1, 1, "needs \"target\""},
      {"[[step]]\nkind = \"application\"\n", 1, 1, "needs \"application\""},
      {"[[step]]\nkind = \"eeprom-check\"\npage_file = \"/no/such/file\"\n", 1, 1,
       "not a readable file"},
      {"[[step]]\nkind = \"ber\"\ntarget = 2\n", 3, 10, "between 0 and 1"},
      {"[[step]]\nkind = \"ber\"\ntarget = 1e-9\npattern = \"PRBS8\"\n", 4, 11,
       "not a PRBS pattern"},
      {"[[step]]\nkind = \"tx-disable\"\nlanes = [1, 9]\n", 3, 13, "a lane must be from 1 to 8"},
      {"[[step]]\nkind = \"tx-disable\"\nlanes = [2, 2]\n", 3, 13, "listed twice"},
      {"[[step]]\nkind = \"identify\"\nstop_on_fail = 1\n", 3, 16, "true or false"},
      {"[[step]]\nkind = 'identify'\n[profile.a]\nmatch = \"X*\"\nlimits.bias = [9, 3]\n", 5, 15,
       "low > high"},
      {"[[step]]\nkind = 'identify'\n[profile.a]\nmatch = \"X*\"\nlimits.bias = { low = 9, high = "
       "3 }\n",
       5, 15, "low > high"},
      {"[[step]]\nkind = 'identify'\n[profile.a]\nmatch = \"X*\"\nlimits.bais = [1, 3]\n", 5, 8,
       "unknown key \"bais\""},
      {"[[step]]\nkind = 'identify'\n[profile.a]\nlimits.bias = [1, 3]\n", 3, 1, "needs \"match\""},
      {"[[step]]\nkind = 'identify'\n[profile.default]\nmatch = \"*\"\n", 4, 9,
       "takes no \"match\""},
      {"[[step]]\nkind = 'identify'\n[profile.a]\nmatch = 'X'\nexpected.colour = 'red'\n", 5, 10,
       "unknown key \"colour\""},
      {"[[finally]]\nkind = \"tx-enable\"\n", 1, 1, "no steps"},
      {"[[step]]\nkind = \"identify\"\nname = 'id\n", 3, 11, ""},  // TOML syntax: toml++'s reason
      {"step = 3\n", 1, 8, "array of tables"},
  };
  for (const BadPlan& c : cases) {
    SCOPED_TRACE(c.text);
    try {
      ParsePlan(c.text, "plan.toml");
      ADD_FAILURE() << "accepted";
    } catch (const PlanError& e) {
      EXPECT_EQ(e.file, "plan.toml");
      EXPECT_EQ(e.line, c.line) << e.what();
      EXPECT_EQ(e.column, c.column) << e.what();
      EXPECT_NE(e.reason.find(c.reason), std::string::npos) << e.what();
      EXPECT_EQ(
          std::string(e.what()).rfind(
              "plan.toml:" + std::to_string(c.line) + ":" + std::to_string(c.column) + ": ", 0),
          0u)
          << e.what();
    }
  }
  (void)ok_step;
}

TEST(QualifyPlan, ProfilesAreChosenByTheFirstMatchingGlobElseTheDefault) {
  const auto plan = ParsePlan(
      "[[step]]\nkind = 'identify'\n"
      "[profile.zz_lr]\nmatch = 'LW-*-LR[48]'\n"
      "[profile.default]\nlimits.bias = [1, 2]\n"
      "[profile.aa_any400]\nmatch = 'LW-QDD-400G-*'\n",
      "p.toml");
  ASSERT_EQ(plan.profiles.size(), 3u);
  EXPECT_EQ(plan.ProfileFor("LW-QDD-400G-LR4").name, "zz_lr");  // first in the file wins
  EXPECT_EQ(plan.ProfileFor("LW-QDD-400G-SR8").name, "aa_any400");
  EXPECT_EQ(plan.ProfileFor("OTHER").name, "default");
  EXPECT_EQ(plan.ProfileFor("").name, "default");
  // Without a default profile the fallback has no limits.
  const auto bare = ParsePlan("[[step]]\nkind = 'identify'\n[profile.x]\nmatch = 'A*'\n", "q.toml");
  EXPECT_EQ(bare.ProfileFor("B").name, "default");
  EXPECT_TRUE(bare.ProfileFor("B").limits.empty());
}

TEST(QualifyPlan, Sha256MatchesTheStandardVectors) {
  EXPECT_EQ(qualify::Sha256Hex(""),
            "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
  EXPECT_EQ(qualify::Sha256Hex("abc"),
            "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
  // 56 bytes: the length no longer fits the first padded block.
  EXPECT_EQ(qualify::Sha256Hex("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"),
            "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
  EXPECT_EQ(qualify::Sha256Hex(std::string(1000000, 'a')),
            "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
}

TEST(QualifyPlan, TheExamplePlanIsValid) {
  const auto plan = qualify::LoadPlan(std::string(LW_SOURCE_DIR) + "/examples/plan.toml");
  EXPECT_EQ(plan.ProfileFor("LW-QDD-400G-SR8").name, "sr8");
  EXPECT_EQ(plan.finally.size(), 2u);
  EXPECT_EQ(plan.hash, qualify::Sha256Hex(plan.text));
}

// ---- runs on the emulated board ----

using qualify_test::QuickPlan;

struct QualifyRun : ::testing::Test {
  std::shared_ptr<emu::EmulatedBoard> board = std::make_shared<emu::EmulatedBoard>();
  CDevice device{board};
  std::vector<qualify::RunEvent> events;
  std::atomic<bool> stop{false};

  void SetUp() override {
    ASSERT_EQ(device.FindDevices(), 1);
    ASSERT_TRUE(device.OpenBoard(0));
    // Clean lanes, as --emulate-ber 0 gives them.
    auto lock = board->Lock();
    for (int lane = 1; lane <= 8; ++lane) board->Prbs().SetLaneBer(lane, 0);
  }
  records::RunRecord Run(const std::string& text,
                         std::function<void(const qualify::RunEvent&)> also = {}) {
    const auto plan = ParsePlan(text, "plan.toml");
    qualify::RunOptions options;
    options.tool_version = "test";
    options.stop = &stop;
    return qualify::RunPlan(device, plan, options, [&](const qualify::RunEvent& e) {
      events.push_back(e);
      if (also) also(e);
    });
  }
  const records::StepRecord* Step(const records::RunRecord& run, const std::string& kind) {
    for (const auto& s : run.steps)
      if (s.kind == kind) return &s;
    return nullptr;
  }
  std::string Failures(const records::RunRecord& run) {
    std::string out;
    for (const auto& s : run.steps)
      for (const auto& m : s.measurements)
        if (m.outcome == Outcome::kFail || m.outcome == Outcome::kError)
          out += s.kind + ": " + m.name + " lane " + std::to_string(m.lane) + " " + m.note + "\n";
    return out;
  }
};

TEST_F(QualifyRun, StopOnFailSkipsTheRestAndTheFinallyStepsStillRun) {
  // The wrong vendor is expected: identify fails and stops the run.
  std::string plan = QuickPlan();
  plan.replace(plan.find("vendor = \"VORLANIX\""), 19, "vendor = \"OTHER*\"");
  const auto run = Run(plan);
  EXPECT_EQ(run.verdict, Outcome::kFail);
  EXPECT_EQ(run.steps[0].outcome, Outcome::kFail);
  for (size_t i = 1; i < 7; ++i)
    EXPECT_EQ(run.steps[i].outcome, Outcome::kSkip) << run.steps[i].name;
  EXPECT_EQ(run.steps[7].kind, "tx-enable");
  EXPECT_EQ(run.steps[7].outcome, Outcome::kPass);
  EXPECT_EQ(run.steps[8].outcome, Outcome::kPass);
}

TEST_F(QualifyRun, AStopEndsTheRunAsErrorWithTheBoardLeftAsTheFinallyStepsSay) {
  // Stopped in the middle of tx-disable, while a lane is dark.
  const auto run = Run(QuickPlan(), [&](const qualify::RunEvent& e) {
    if (e.kind == qualify::RunEvent::Kind::kProgress && e.step_name == "tx-disable" &&
        e.text == "lane 4") {
      auto lock = board->Lock();
      board->Module().Poke(0x10, 0x82, 0x08);  // as if the step had just disabled lane 4
      stop = true;
    }
  });
  EXPECT_EQ(run.verdict, Outcome::kError);
  EXPECT_EQ(run.verdict_message, "interrupted");
  EXPECT_EQ(Step(run, "ber")->outcome, Outcome::kSkip);
  EXPECT_EQ(run.steps[7].outcome, Outcome::kPass);  // tx-enable ran
  auto lock = board->Lock();
  EXPECT_EQ(board->Module().Peek(0x10, 0x82), 0x00);  // every lane's Tx enabled
}

TEST_F(QualifyRun, ABoardThatFailsMakesTheStepAnErrorNotAFail) {
  const auto run =
      Run("[[step]]\nkind = 'identify'\n[[step]]\nkind = 'thresholds'\n",
          [&](const qualify::RunEvent& e) {
            if (e.kind == qualify::RunEvent::Kind::kStepStarted && e.step_name == "thresholds")
              board->DropAnswers(1000);
          });
  EXPECT_EQ(run.verdict, Outcome::kError);
  EXPECT_EQ(run.steps[0].outcome, Outcome::kPass);
  EXPECT_EQ(run.steps[1].outcome, Outcome::kError);
  EXPECT_FALSE(run.steps[1].message.empty());
}

}  // namespace
