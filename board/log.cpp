#include "board/log.h"

#include <array>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <string>

namespace lwlog {

namespace {

// LANEWRIGHT_TRACE=1 (anything but empty or 0) turns on the board's debug lines.
bool TraceAsked() {
  const char* v = std::getenv("LANEWRIGHT_TRACE");
  return v && *v && *v != '0';
}

struct ThresholdTable {
  std::array<std::atomic<uint8_t>, kCategoryCount> levels;
  ThresholdTable() {
    for (auto& level : levels) level = static_cast<uint8_t>(Level::kWarning);
    if (TraceAsked())
      levels[static_cast<int>(Category::kBoard)] = static_cast<uint8_t>(Level::kDebug);
  }
};

std::array<std::atomic<uint8_t>, kCategoryCount>& Thresholds() {
  static ThresholdTable table;
  return table.levels;
}

std::mutex& SinkMutex() {
  static std::mutex m;
  return m;
}
std::shared_ptr<const Sink>& CurrentSink() {
  static std::shared_ptr<const Sink> sink;
  return sink;
}

}  // namespace

const char* CategoryName(Category category) {
  switch (category) {
    case Category::kBoard:
      return "lanewright.board";
    case Category::kModule:
      return "lanewright.module";
    case Category::kSignal:
      return "lanewright.signal";
    case Category::kTransfer:
      return "lanewright.transfer";
    case Category::kEmulator:
      return "lanewright.emulator";
    case Category::kRecords:
      return "lanewright.records";
    case Category::kQualify:
      return "lanewright.qualify";
    case Category::kGui:
      return "lanewright.gui";
  }
  return "lanewright";
}

Sink SetLogSink(Sink sink) {
  auto next = sink ? std::make_shared<const Sink>(std::move(sink)) : nullptr;
  std::lock_guard lock(SinkMutex());
  auto before = std::exchange(CurrentSink(), std::move(next));
  return before ? *before : Sink();
}

void SetThreshold(Category category, Level level) {
  Thresholds()[static_cast<int>(category)] = static_cast<uint8_t>(level);
}

bool Enabled(Category category, Level level) {
  return static_cast<uint8_t>(level) >= Thresholds()[static_cast<int>(category)].load();
}

void Write(Category category, Level level, std::string_view line) {
  if (!Enabled(category, level)) return;
  std::shared_ptr<const Sink> sink;
  {
    std::lock_guard lock(SinkMutex());
    sink = CurrentSink();
  }
  if (sink) {
    (*sink)(category, level, line);
    return;
  }
  // One write a line, so that lines of two threads do not interleave.
  std::string text(line);
  text += '\n';
  std::fwrite(text.data(), 1, text.size(), stderr);
}

void HexDump(Category category, std::string_view prefix, const uint8_t* bytes, int count) {
  if (!Enabled(category, Level::kDebug)) return;
  std::string line(prefix);
  for (int i = 0; i < count && i < 65; ++i) line += fmt::format(" {:02x}", bytes[i]);
  Write(category, Level::kDebug, line);
}

}  // namespace lwlog
