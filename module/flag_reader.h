// The one owner of the module's latched flags. A latched (clear-on-read)
// flag byte shows each raised flag to one read only: the module clears it
// as it answers. So every view of the flags reads this reader, never the
// module: the module object hands it the bytes of each good read of the
// latched registers (lower 8-11, page 11h 134-152), and the reader keeps a
// sticky record per flag and a log of set and cleared events until the
// user acknowledges them. It does no board traffic of its own.
//
// Threads: the board worker feeds it, views read snapshots from any
// thread; every member takes a short lock.
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <vector>

#include "module/cmis_decode.h"

class FlagReader {
 public:
  using Clock = std::chrono::system_clock;
  using TimeSource = std::function<Clock::time_point()>;
  // The log keeps the newest events up to this many.
  static constexpr size_t kMaxEvents = 2000;

  struct Record {
    const cmis::LatchedFlag* flag = nullptr;
    int lane = 0;         // 0 for a module-wide flag, else 1-8
    bool read = false;    // its byte was read at least once
    bool latest = false;  // what the latest read of its byte showed
    // Times it was seen raised since the last Acknowledge: a flag that
    // stays raised over several reads counts once.
    int count = 0;
    std::optional<Clock::time_point> first_set, last_set, last_clear;
    bool Sticky() const { return count > 0; }
  };
  struct Event {
    Clock::time_point time;
    const cmis::LatchedFlag* flag = nullptr;
    int lane = 0;
    bool set = false;       // raised; false: seen clear after being raised
    int count = 0;          // the record's count after the event
    uint64_t sequence = 0;  // 1, 2, 3 ... in the order of the events, never reused
  };
  struct Snapshot {
    std::vector<Record> records;  // every latched flag, in LatchedFlags() order, lanes 1-8
    std::vector<Event> events;    // oldest first
    size_t dropped_events = 0;    // older events the log no longer holds
    uint64_t generation = 0;      // changes whenever anything above changes
  };

  explicit FlagReader(TimeSource now = {});
  FlagReader(const FlagReader&) = delete;
  FlagReader& operator=(const FlagReader&) = delete;

  void SetTimeSource(TimeSource now);

  // The bytes of one good read of module memory starting at `reg` of
  // `page` (any page for lower memory). Latched bytes among them are taken;
  // the rest are ignored.
  void Take(uint8_t page, uint8_t reg, const uint8_t* bytes, int length);
  // Clears the counts, times and events. A flag still raised at the next
  // read counts again.
  void Acknowledge();

  Snapshot Get() const;
  uint64_t Generation() const;
  // The events after `sequence` (0: all the log holds), for a view that
  // prints them as they come.
  std::vector<Event> EventsAfter(uint64_t sequence) const;
  // The record of one flag ("tx-los", lane 3), or nothing for an unknown key.
  std::optional<Record> Find(const char* key, int lane = 0) const;

 private:
  struct Slot {
    Record record;
    bool armed = false;  // the next read showing it raised counts, even if the last did
  };
  Clock::time_point Now() const;
  void Update(Slot& slot, bool raised, Clock::time_point now);

  mutable std::mutex mutex_;
  TimeSource now_;
  std::vector<Slot> slots_;
  std::deque<Event> events_;
  size_t dropped_ = 0;
  uint64_t generation_ = 0;
  uint64_t next_sequence_ = 1;
};
