// The BER diagram's points: one a chart a tick for as long as the line
// check runs, whether the diagram is shown or not, kept in full for export
// and handed to the charts as the minimum and maximum of each pixel column.
//
// A week-long run is 8 x 604,800 points, so a point is 9 bytes: its BER and
// upper bound as floats and a flag byte (what it is, the verdict); its
// seconds are not stored, as a run's points are one a second (a point that
// does not follow its predecessor by one second opens a new segment). Every
// 64 points keep their minimum and maximum, so a decimation reads at most a
// block's worth of points at each column edge.
#pragma once

#include <array>
#include <cstdint>
#include <iosfwd>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "signal/ber_stats.h"
#include "signal/tables.h"

namespace sigtest {

class LineCheck;
struct LaneFacts;
struct LaneSummary;

class BerHistory {
 public:
  // The charts' axis always spans at least this range.
  static constexpr double kAxisMin = 1e-13;
  static constexpr double kAxisMax = 1e-4;

  enum class Kind : uint8_t {
    kNoLock,    // not locked: no BER
    kNoBits,    // locked, but nothing counted while steadily locked yet
    kBound,     // no error while locked: the upper bound is drawn
    kMeasured,  // errors / bits while locked
  };
  struct Point {
    uint32_t seconds = 0;
    Kind kind = Kind::kNoLock;
    Verdict verdict = Verdict::kRunning;
    double ber = 0;    // kMeasured: the ratio; kBound: 0
    double upper = 0;  // kMeasured, kBound: the upper bound at the confidence
  };

  BerHistory();
  ~BerHistory();
  BerHistory(const BerHistory&) = delete;
  BerHistory& operator=(const BerHistory&) = delete;

  // Appends a point to a chart (0-7); `rule` is the one it was judged by.
  void Add(int chart, const Point& point, const VerdictRule& rule);

  size_t Size() const;
  size_t Size(int chart) const { return charts_[chart].size; }
  Point At(int chart, size_t index) const;
  // Bytes held for the points (all charts).
  size_t MemoryBytes() const;

  // A line for the chart: keys in seconds, NaN values break it.
  struct Trace {
    std::vector<double> keys, values;
  };
  struct Drawn {
    Trace measured, bound;
    // Smallest and largest value drawn; low > high when nothing is drawn.
    double low = std::numeric_limits<double>::infinity();
    double high = -std::numeric_limits<double>::infinity();
    uint32_t first = 0, last = 0;  // seconds spanned by the chart's points
    size_t columns = 0;
  };
  // The chart's measured points and bounds over its whole span of seconds,
  // as at most `columns` columns: the smallest and the largest value of each
  // column, a break where a column has none. With `same` above 1 (half a
  // pixel on the chart's axis, as a ratio of values), a column whose values
  // lie within that ratio gives one value, their geometric mean, and values
  // are left out where the line drawn without them passes close enough that
  // every column's minimum and maximum stay within that ratio of the line.
  Drawn Decimate(int chart, int columns, double same = 1.0) const;

  // "channel,lane,seconds,ber,state,upper_bound,confidence,target,verdict"
  // and one row a point, chart by chart, in true values. state is measured,
  // bound, no lock or no bits; ber and upper_bound are empty without a lock.
  bool WriteCsv(std::ostream& out) const;
  std::string Csv() const;

 private:
  static constexpr size_t kChunk = 16384;
  static constexpr size_t kBlock = 64;
  struct Chunk;
  struct Block {
    float measured_low, measured_high, bound_low, bound_high;
  };
  struct Segment {
    size_t first_index;
    uint32_t first_seconds;
  };
  struct Epoch {
    size_t first_index;
    double confidence, target;
  };
  struct Series {
    std::vector<std::unique_ptr<Chunk>> chunks;
    std::vector<Block> blocks;
    std::vector<Segment> segments;
    std::vector<Epoch> epochs;
    size_t size = 0;
    uint32_t last_seconds = 0;
  };
  struct Columns;
  void Scan(const Series& s, size_t from, size_t to, Columns& out, size_t column) const;

  std::array<Series, kLanes> charts_;
};

// The point a lane gives at its latest tick.
BerHistory::Point HistoryPoint(const LaneFacts& facts, const LaneSummary& summary);
// One point a chart from the line check's lanes: the page's work at each tick.
void RecordTick(BerHistory& history, const LineCheck& check, const VerdictRule& rule);

}  // namespace sigtest
