// The flag reader: sticky records and events of the latched flags, fed by
// the module object's refreshes from the live emulated module (which clears
// its flags as they are read).
#include <atomic>
#include <thread>

#include "module/flag_reader.h"
#include "tests/module_test_support.h"

namespace {

using namespace module_test;
using Wall = FlagReader::Clock;

struct Flags : ModuleFixture {
  Wall::time_point t0 = Wall::time_point{} + std::chrono::hours(1000);
  Wall::time_point wall = t0;
  void SetUp() override {
    ModuleFixture::SetUp();
    module.Flags().SetTimeSource([this] { return wall; });
  }
  int SetEvents(const FlagReader::Snapshot& s) {
    int n = 0;
    for (const auto& e : s.events) n += e.set;
    return n;
  }
};

TEST_F(Flags, ALatchedFlagRaisedOnceIsCountedOnceAndStaysUntilAcknowledged) {
  ASSERT_TRUE(module.ReadAlarmImage());  // nothing raised yet
  Poke(0, 0x09, 0x01);                   // temperature high alarm, latched
  Poke(0x11, 0x8B, 0x04);                // Tx power high alarm, lane 3
  wall = t0 + std::chrono::seconds(1);
  ASSERT_TRUE(module.ReadAlarmImage());
  EXPECT_EQ(Peek(0, 0x09), 0);  // the module cleared them as it answered
  wall = t0 + std::chrono::seconds(2);
  ASSERT_TRUE(module.ReadAlarmImage());
  ASSERT_TRUE(module.ReadAlarmImage());

  for (const auto& [key, lane] : std::vector<std::pair<const char*, int>>{
           {"temp-high-alarm", 0}, {"tx-power-high-alarm", 3}}) {
    const auto r = module.Flags().Find(key, lane);
    ASSERT_TRUE(r) << key;
    EXPECT_EQ(r->count, 1) << key;
    EXPECT_TRUE(r->Sticky()) << key;
    EXPECT_FALSE(r->latest) << key;  // the latest read showed it clear
    EXPECT_EQ(r->first_set, t0 + std::chrono::seconds(1)) << key;
    EXPECT_EQ(r->last_set, t0 + std::chrono::seconds(1)) << key;
    EXPECT_EQ(r->last_clear, t0 + std::chrono::seconds(2)) << key;
  }
  FlagReader::Snapshot s = module.Flags().Get();
  EXPECT_EQ(SetEvents(s), 2);  // one per flag
  ASSERT_EQ(s.events.size(), 4u);
  EXPECT_STREQ(s.events[0].flag->key, "temp-high-alarm");
  EXPECT_TRUE(s.events[0].set);
  EXPECT_EQ(s.events[0].count, 1);
  EXPECT_STREQ(s.events[1].flag->key, "tx-power-high-alarm");
  EXPECT_EQ(s.events[1].lane, 3);
  EXPECT_FALSE(s.events[2].set);
  EXPECT_EQ(module.Flags().Find("tx-power-high-alarm", 2)->count, 0);

  const auto before = s.generation;
  module.Flags().Acknowledge();
  s = module.Flags().Get();
  EXPECT_NE(s.generation, before);
  EXPECT_TRUE(s.events.empty());
  for (const auto& r : s.records) EXPECT_FALSE(r.Sticky()) << r.flag->key << r.lane;
}

TEST_F(Flags, EveryRefreshThatReadsALatchedByteFeedsTheReader) {
  // The status refresh reads lower 8 and page 11h 134-138 and 147-148;
  // the alarm refresh lower 9-11 and page 11h 139-146 and 149-152.
  ASSERT_TRUE(SetControl(module, "low-power", 0, 1));  // the module state changes: flag latched
  Poke(0x11, 0x93, 0x20);                              // Rx LOS lane 6
  Poke(0x11, 0x96, 0x80);                              // Rx power low alarm lane 8
  Poke(0, 0x0A, 0x10);                                 // Aux 2 high alarm
  ASSERT_TRUE(module.ReadStatusImage());
  ASSERT_TRUE(module.ReadAlarmImage());
  EXPECT_EQ(module.Flags().Find("module-state-changed")->count, 1);
  EXPECT_EQ(module.Flags().Find("rx-los", 6)->count, 1);
  EXPECT_EQ(module.Flags().Find("rx-power-low-alarm", 8)->count, 1);
  EXPECT_EQ(module.Flags().Find("aux2-high-alarm")->count, 1);
  EXPECT_EQ(module.Flags().Find("dp-state-changed", 1)->count, 1);  // DPDeinit on LowPwr
  EXPECT_FALSE(module.Flags().Find("no-such-flag"));
  // A refresh whose read failed feeds nothing; the flag waits in the module
  // (its request never reached it) for the next good read.
  Poke(0, 0x09, 0x02);
  board->FailNextWrite(1);
  EXPECT_FALSE(module.ReadAlarmImage());
  EXPECT_EQ(module.Flags().Find("temp-low-alarm")->count, 0);
  ASSERT_TRUE(module.ReadAlarmImage());
  EXPECT_EQ(module.Flags().Find("temp-low-alarm")->count, 1);
}

// The reader on its own: a flag that stays raised, acknowledgement while it
// is raised, the bound of the log.
TEST(FlagReaderAlone, RaisedAcrossReadsCountsOnceAndAgainAfterAcknowledge) {
  Wall::time_point now{};
  FlagReader reader([&now] { return now; });
  const uint8_t raised = 0x01, clear = 0x00;
  reader.Take(0, 8, &raised, 1);
  now += std::chrono::seconds(1);
  reader.Take(0, 8, &raised, 1);  // the condition persists: the module latched it again
  auto r = reader.Find("module-state-changed");
  EXPECT_EQ(r->count, 1);
  EXPECT_EQ(r->last_set, now);
  EXPECT_TRUE(r->latest);
  reader.Acknowledge();
  EXPECT_EQ(reader.Find("module-state-changed")->count, 0);
  reader.Take(0, 8, &raised, 1);  // still raised after the acknowledgement: counted again
  EXPECT_EQ(reader.Find("module-state-changed")->count, 1);
  reader.Take(0, 8, &clear, 1);
  const auto events = reader.Get().events;
  ASSERT_EQ(events.size(), 2u);
  const auto later = reader.EventsAfter(events[0].sequence);
  ASSERT_EQ(later.size(), 1u);
  EXPECT_FALSE(later[0].set);
  // Bytes outside the latched registers are ignored; so is a page other than 11h.
  const uint8_t ones[4] = {0xFF, 0xFF, 0xFF, 0xFF};
  const auto generation = reader.Generation();
  reader.Take(0, 0x03, ones, 4);
  reader.Take(0x10, 0x8B, ones, 4);
  EXPECT_EQ(reader.Generation(), generation);
  // The log keeps the newest events.
  for (size_t i = 0; i < FlagReader::kMaxEvents; ++i) {
    reader.Take(0, 8, i % 2 ? &clear : &raised, 1);
  }
  const auto s = reader.Get();
  EXPECT_EQ(s.events.size(), FlagReader::kMaxEvents);
  EXPECT_EQ(s.dropped_events, 2u);
}

TEST(FlagReaderAlone, AViewReadsWhileTheWorkerFeeds) {
  FlagReader reader;
  std::atomic<bool> done{false};
  std::thread view([&] {
    while (!done) {
      const auto s = reader.Get();
      for (const auto& r : s.records) ASSERT_LE(r.count, 1000);
    }
  });
  for (int i = 0; i < 2000; ++i) {
    const uint8_t b = i % 2 ? 0xFF : 0x00;
    reader.Take(0x11, 134, &b, 1);
  }
  done = true;
  view.join();
  EXPECT_EQ(reader.Find("dp-state-changed", 8)->count, 1000);
}

}  // namespace
