#include "module/flag_reader.h"

#include <cstring>

FlagReader::FlagReader(TimeSource now) : now_(std::move(now)) {
  auto add = [this](const cmis::LatchedFlag& flag, int lane) {
    Slot slot;
    slot.record.flag = &flag;
    slot.record.lane = lane;
    slots_.push_back(slot);
  };
  for (const cmis::LatchedFlag& flag : cmis::LatchedFlags()) {
    if (flag.bit >= 0) {
      add(flag, 0);
      continue;
    }
    for (int lane = 1; lane <= kLanes; ++lane) add(flag, lane);
  }
}

void FlagReader::SetTimeSource(TimeSource now) {
  std::lock_guard lock(mutex_);
  now_ = std::move(now);
}

FlagReader::Clock::time_point FlagReader::Now() const { return now_ ? now_() : Clock::now(); }

void FlagReader::Take(uint8_t page, uint8_t reg, const uint8_t* bytes, int length) {
  std::lock_guard lock(mutex_);
  const auto now = Now();
  bool changed = false;
  for (int i = 0; i < length; ++i) {
    const auto r = static_cast<uint8_t>(reg + i);
    const uint8_t p = r < 0x80 ? 0 : page;
    if (!cmis::IsLatchedRegister(p, r)) continue;
    for (Slot& slot : slots_) {
      const cmis::LatchedFlag& f = *slot.record.flag;
      if (f.page != p || f.reg != r) continue;
      const int bit = f.bit >= 0 ? f.bit : slot.record.lane - 1;
      Update(slot, (bytes[i] >> bit) & 1, now);
      changed = true;
    }
  }
  if (changed) ++generation_;
}

void FlagReader::Update(Slot& slot, bool raised, Clock::time_point now) {
  Record& r = slot.record;
  const bool was = r.latest;
  if (raised) {
    if (!was || slot.armed) {
      ++r.count;
      if (!r.first_set) r.first_set = now;
      events_.push_back({now, r.flag, r.lane, true, r.count, next_sequence_++});
    }
    r.last_set = now;
  } else if (was) {
    r.last_clear = now;
    events_.push_back({now, r.flag, r.lane, false, r.count, next_sequence_++});
  }
  while (events_.size() > kMaxEvents) {
    events_.pop_front();
    ++dropped_;
  }
  r.latest = raised;
  r.read = true;
  slot.armed = false;
}

void FlagReader::Acknowledge() {
  std::lock_guard lock(mutex_);
  for (Slot& slot : slots_) {
    Record& r = slot.record;
    r.count = 0;
    r.first_set.reset();
    r.last_set.reset();
    r.last_clear.reset();
    slot.armed = true;
  }
  events_.clear();
  dropped_ = 0;
  ++generation_;
}

FlagReader::Snapshot FlagReader::Get() const {
  std::lock_guard lock(mutex_);
  Snapshot s;
  s.records.reserve(slots_.size());
  for (const Slot& slot : slots_) s.records.push_back(slot.record);
  s.events.assign(events_.begin(), events_.end());
  s.dropped_events = dropped_;
  s.generation = generation_;
  return s;
}

uint64_t FlagReader::Generation() const {
  std::lock_guard lock(mutex_);
  return generation_;
}

std::vector<FlagReader::Event> FlagReader::EventsAfter(uint64_t sequence) const {
  std::lock_guard lock(mutex_);
  std::vector<Event> out;
  for (const Event& e : events_)
    if (e.sequence > sequence) out.push_back(e);
  return out;
}

std::optional<FlagReader::Record> FlagReader::Find(const char* key, int lane) const {
  std::lock_guard lock(mutex_);
  for (const Slot& slot : slots_)
    if (std::strcmp(slot.record.flag->key, key) == 0 && slot.record.lane == lane)
      return slot.record;
  return std::nullopt;
}
