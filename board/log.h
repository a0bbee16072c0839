// The core's log: one category per layer, four levels, one sink.
//
// A line is written when its level reaches its category's threshold
// (warning by default; debug for the board with LANEWRIGHT_TRACE=1, which
// prints every report moved on the link as hex). By default lines go to
// stderr as they are, one a line; the GUI routes them into its
// QLoggingCategory ones ("lanewright.board" ...) with SetLogSink.
//
// Thread-safe: any thread may log, set a threshold or replace the sink.
#pragma once

#include <fmt/format.h>

#include <cstdint>
#include <functional>
#include <string_view>
#include <utility>

namespace lwlog {

// The layers, from the board up.
enum class Category : uint8_t {
  kBoard,
  kModule,
  kSignal,
  kTransfer,
  kEmulator,
  kRecords,
  kQualify,
  kGui
};
inline constexpr int kCategoryCount = 8;
enum class Level : uint8_t { kDebug, kInfo, kWarning, kError };

// "lanewright.board", "lanewright.module" ...: the name a category has in
// the GUI's logging rules (QT_LOGGING_RULES).
const char* CategoryName(Category category);

// Receives every line written; called on the thread that logs.
using Sink = std::function<void(Category category, Level level, std::string_view line)>;
// Replaces the sink; an empty one restores stderr. Returns the one before.
Sink SetLogSink(Sink sink);

// The lowest level a category writes.
void SetThreshold(Category category, Level level);
bool Enabled(Category category, Level level);

void Write(Category category, Level level, std::string_view line);

// fmt-formatted; the arguments are formatted only when the line is written.
template <typename... Args>
void Log(Category category, Level level, fmt::format_string<Args...> format, Args&&... args) {
  if (Enabled(category, level))
    Write(category, level, fmt::format(format, std::forward<Args>(args)...));
}

// `prefix` and the first 65 bytes in hex, at debug level: "hid > 01 0a ff".
void HexDump(Category category, std::string_view prefix, const uint8_t* bytes, int count);

}  // namespace lwlog
