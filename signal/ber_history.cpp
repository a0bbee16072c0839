#include "signal/ber_history.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ostream>
#include <sstream>

#include "signal/lane_summary.h"
#include "signal/line_check.h"

namespace sigtest {
namespace {

constexpr float kInf = std::numeric_limits<float>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

uint8_t Flags(BerHistory::Kind kind, Verdict verdict) {
  return static_cast<uint8_t>(static_cast<uint8_t>(kind) | static_cast<uint8_t>(verdict) << 2);
}

const char* StateName(BerHistory::Kind kind) {
  switch (kind) {
    case BerHistory::Kind::kMeasured:
      return "measured";
    case BerHistory::Kind::kBound:
      return "bound";
    case BerHistory::Kind::kNoBits:
      return "no bits";
    case BerHistory::Kind::kNoLock:
      break;
  }
  return "no lock";
}

// Drops the vertices of a line that lie within `tolerance` (in natural log
// of the value) of the line drawn without them: a "swinging door" over each
// unbroken run. The slopes from the last kept vertex that pass within the
// tolerance of every dropped vertex form a cone; a vertex outside it ends the
// run at its predecessor. Two values of one column are both kept.
void Simplify(BerHistory::Trace& t, double tolerance) {
  std::vector<double> keys, values;
  keys.reserve(t.keys.size());
  values.reserve(t.values.size());
  auto keep = [&](size_t i) {
    keys.push_back(t.keys[i]);
    values.push_back(t.values[i]);
  };
  const size_t n = t.keys.size();
  size_t i = 0;
  while (i < n) {
    if (std::isnan(t.values[i])) {
      keep(i++);
      continue;
    }
    size_t anchor = i, last = i;
    keep(i++);
    double low = -INFINITY, high = INFINITY;
    for (; i < n && !std::isnan(t.values[i]); ++i) {
      const double dx = t.keys[i] - t.keys[anchor];
      const double dy = std::log(t.values[i] / t.values[anchor]);
      const double slope = dx > 0 ? dy / dx : 0;
      if (t.keys[i] == t.keys[last] || slope < low || slope > high) {
        // Ends the run at its predecessor, which starts the next.
        if (last != anchor) keep(last);
        anchor = last;
        if (t.keys[i] == t.keys[anchor]) {  // the column's second value
          keep(i);
          anchor = last = i;
          low = -INFINITY;
          high = INFINITY;
          continue;
        }
        const double dx2 = t.keys[i] - t.keys[anchor];
        const double dy2 = std::log(t.values[i] / t.values[anchor]);
        low = (dy2 - tolerance) / dx2;
        high = (dy2 + tolerance) / dx2;
      } else {
        low = std::max(low, (dy - tolerance) / dx);
        high = std::min(high, (dy + tolerance) / dx);
      }
      last = i;
    }
    if (last != anchor) keep(last);
  }
  t.keys = std::move(keys);
  t.values = std::move(values);
}

}  // namespace

struct BerHistory::Chunk {
  float ber[kChunk];
  float upper[kChunk];
  uint8_t flags[kChunk];
};

struct BerHistory::Columns {
  std::vector<float> measured_low, measured_high, bound_low, bound_high;
  explicit Columns(size_t n)
      : measured_low(n, kInf), measured_high(n, -kInf), bound_low(n, kInf), bound_high(n, -kInf) {}
};

BerHistory::BerHistory() = default;
BerHistory::~BerHistory() = default;

void BerHistory::Add(int chart, const Point& p, const VerdictRule& rule) {
  Series& s = charts_[chart];
  const size_t index = s.size;
  if (index % kChunk == 0) s.chunks.push_back(std::unique_ptr<Chunk>(new Chunk));
  Chunk& c = *s.chunks.back();
  const size_t at = index % kChunk;
  const bool drawn = p.kind == Kind::kMeasured || p.kind == Kind::kBound;
  c.ber[at] = p.kind == Kind::kMeasured ? static_cast<float>(p.ber) : 0.0f;
  c.upper[at] = drawn ? static_cast<float>(p.upper) : 0.0f;
  c.flags[at] = Flags(p.kind, p.verdict);

  if (s.segments.empty() || p.seconds != s.last_seconds + 1)
    s.segments.push_back({index, p.seconds});
  s.last_seconds = p.seconds;
  if (s.epochs.empty() || s.epochs.back().confidence != rule.confidence ||
      s.epochs.back().target != rule.target)
    s.epochs.push_back({index, rule.confidence, rule.target});

  if (index % kBlock == 0) s.blocks.push_back({kInf, -kInf, kInf, -kInf});
  Block& b = s.blocks.back();
  if (p.kind == Kind::kMeasured) {
    b.measured_low = std::min(b.measured_low, c.ber[at]);
    b.measured_high = std::max(b.measured_high, c.ber[at]);
  } else if (p.kind == Kind::kBound) {
    b.bound_low = std::min(b.bound_low, c.upper[at]);
    b.bound_high = std::max(b.bound_high, c.upper[at]);
  }
  ++s.size;
}

size_t BerHistory::Size() const {
  size_t n = 0;
  for (const auto& c : charts_) n += c.size;
  return n;
}

BerHistory::Point BerHistory::At(int chart, size_t index) const {
  const Series& s = charts_[chart];
  const Chunk& c = *s.chunks[index / kChunk];
  const size_t at = index % kChunk;
  auto segment = std::upper_bound(s.segments.begin(), s.segments.end(), index,
                                  [](size_t i, const Segment& g) { return i < g.first_index; });
  --segment;
  Point p;
  p.seconds = segment->first_seconds + static_cast<uint32_t>(index - segment->first_index);
  p.kind = static_cast<Kind>(c.flags[at] & 3);
  p.verdict = static_cast<Verdict>(c.flags[at] >> 2 & 3);
  p.ber = c.ber[at];
  p.upper = c.upper[at];
  return p;
}

size_t BerHistory::MemoryBytes() const {
  size_t n = sizeof *this;
  for (const auto& s : charts_) {
    n += s.chunks.capacity() * sizeof(s.chunks[0]) + s.chunks.size() * sizeof(Chunk);
    n += s.blocks.capacity() * sizeof(Block) + s.segments.capacity() * sizeof(Segment) +
         s.epochs.capacity() * sizeof(Epoch);
  }
  return n;
}

// Folds points [from, to) of one segment into `column`: single points up to
// a block edge, whole blocks, then single points again.
void BerHistory::Scan(const Series& s, size_t from, size_t to, Columns& out, size_t column) const {
  float& ml = out.measured_low[column];
  float& mh = out.measured_high[column];
  float& bl = out.bound_low[column];
  float& bh = out.bound_high[column];
  auto one = [&](size_t i) {
    const Chunk& c = *s.chunks[i / kChunk];
    const size_t at = i % kChunk;
    switch (static_cast<Kind>(c.flags[at] & 3)) {
      case Kind::kMeasured:
        ml = std::min(ml, c.ber[at]);
        mh = std::max(mh, c.ber[at]);
        break;
      case Kind::kBound:
        bl = std::min(bl, c.upper[at]);
        bh = std::max(bh, c.upper[at]);
        break;
      default:
        break;
    }
  };
  size_t i = from;
  for (; i < to && i % kBlock != 0; ++i) one(i);
  for (; i + kBlock <= to; i += kBlock) {
    const Block& b = s.blocks[i / kBlock];
    ml = std::min(ml, b.measured_low);
    mh = std::max(mh, b.measured_high);
    bl = std::min(bl, b.bound_low);
    bh = std::max(bh, b.bound_high);
  }
  for (; i < to; ++i) one(i);
}

BerHistory::Drawn BerHistory::Decimate(int chart, int columns, double same) const {
  Drawn d;
  const Series& s = charts_[chart];
  if (s.size == 0 || columns < 1) return d;
  auto end_of = [&](size_t g) {
    return g + 1 < s.segments.size() ? s.segments[g + 1].first_index : s.size;
  };
  uint64_t lo = UINT32_MAX, hi = 0;
  for (size_t g = 0; g < s.segments.size(); ++g) {
    lo = std::min<uint64_t>(lo, s.segments[g].first_seconds);
    hi = std::max<uint64_t>(
        hi, s.segments[g].first_seconds + (end_of(g) - s.segments[g].first_index) - 1);
  }
  const uint64_t span = hi - lo + 1;
  const uint64_t n = std::min<uint64_t>(static_cast<uint64_t>(columns), span);
  d.first = static_cast<uint32_t>(lo);
  d.last = static_cast<uint32_t>(hi);
  d.columns = n;

  // Second s lies in column (s - lo) * n / span; column c starts at second
  // lo + ceil(c * span / n).
  auto column_of = [&](uint64_t sec) { return (sec - lo) * n / span; };
  auto start_of = [&](uint64_t c) { return lo + (c * span + n - 1) / n; };
  Columns acc(n);
  for (size_t g = 0; g < s.segments.size(); ++g) {
    const size_t i0 = s.segments[g].first_index, i1 = end_of(g);
    const uint64_t f = s.segments[g].first_seconds;
    for (uint64_t c = column_of(f), last = column_of(f + (i1 - i0) - 1); c <= last; ++c) {
      const size_t a = std::max<uint64_t>(i0, i0 + (start_of(c) > f ? start_of(c) - f : 0));
      const size_t b = std::min<uint64_t>(i1, i0 + (start_of(c + 1) - f));
      if (a < b) Scan(s, a, b, acc, c);
    }
  }

  // Each column as one or two values, the one nearer the line's previous
  // value first, so the line runs on without crossing itself.
  auto emit = [&](Trace& t, const std::vector<float>& low, const std::vector<float>& high) {
    double previous = kNaN;
    for (uint64_t c = 0; c < n; ++c) {
      const double key = static_cast<double>(lo) + (c + 0.5) * static_cast<double>(span) / n - 0.5;
      if (low[c] > high[c]) {  // nothing of this kind in the column: a break
        if (!std::isnan(previous)) {
          t.keys.push_back(key);
          t.values.push_back(kNaN);
          previous = kNaN;
        }
        continue;
      }
      double first = low[c], second = high[c];
      if (second <= first * same) {
        first = second = first == second ? first : std::sqrt(first * second);
      } else if (!std::isnan(previous) &&
                 std::fabs(std::log(previous / second)) < std::fabs(std::log(previous / first))) {
        std::swap(first, second);
      }
      t.keys.push_back(key);
      t.values.push_back(first);
      if (second != first) {
        t.keys.push_back(key);
        t.values.push_back(second);
      }
      previous = second;
      d.low = std::min<double>(d.low, low[c]);
      d.high = std::max<double>(d.high, high[c]);
    }
  };
  emit(d.measured, acc.measured_low, acc.measured_high);
  emit(d.bound, acc.bound_low, acc.bound_high);
  if (same > 1.0) {
    // A column given as its mean is off by at most half of `same`; the line
    // may leave out what lies within the other half.
    Simplify(d.measured, 0.5 * std::log(same));
    Simplify(d.bound, 0.5 * std::log(same));
  }
  return d;
}

bool BerHistory::WriteCsv(std::ostream& out) const {
  out << "channel,lane,seconds,ber,state,upper_bound,confidence,target,verdict\n";
  char row[160];
  for (int chart = 0; chart < kLanes; ++chart) {
    const Series& s = charts_[chart];
    size_t segment = 0, epoch = 0;
    for (size_t i = 0; i < s.size && out; ++i) {
      while (segment + 1 < s.segments.size() && s.segments[segment + 1].first_index <= i) ++segment;
      while (epoch + 1 < s.epochs.size() && s.epochs[epoch + 1].first_index <= i) ++epoch;
      const Chunk& c = *s.chunks[i / kChunk];
      const size_t at = i % kChunk;
      const auto kind = static_cast<Kind>(c.flags[at] & 3);
      const auto verdict = static_cast<Verdict>(c.flags[at] >> 2 & 3);
      const uint32_t seconds = s.segments[segment].first_seconds +
                               static_cast<uint32_t>(i - s.segments[segment].first_index);
      char ber[24] = "", upper[24] = "";
      if (kind == Kind::kMeasured || kind == Kind::kBound) {
        std::snprintf(ber, sizeof ber, "%.5e", static_cast<double>(c.ber[at]));
        std::snprintf(upper, sizeof upper, "%.5e", static_cast<double>(c.upper[at]));
      }
      std::snprintf(row, sizeof row, "%d,%d,%u,%s,%s,%s,%g,%g,%s\n", chart + 1, kCharts[chart].lane,
                    seconds, ber, StateName(kind), upper, s.epochs[epoch].confidence,
                    s.epochs[epoch].target, VerdictName(verdict));
      out << row;
    }
  }
  return static_cast<bool>(out.flush());
}

std::string BerHistory::Csv() const {
  std::ostringstream out;
  WriteCsv(out);
  return out.str();
}

BerHistory::Point HistoryPoint(const LaneFacts& facts, const LaneSummary& summary) {
  BerHistory::Point p;
  p.seconds = facts.seconds;
  p.verdict = summary.verdict.verdict;
  if (!facts.locked) {
    p.kind = BerHistory::Kind::kNoLock;
  } else if (!summary.bounded) {
    p.kind = BerHistory::Kind::kNoBits;
  } else if (facts.count.errors == 0) {
    p.kind = BerHistory::Kind::kBound;
    p.upper = summary.upper;
  } else {
    p.kind = BerHistory::Kind::kMeasured;
    p.ber = static_cast<double>(facts.count.errors) / facts.count.bits;
    p.upper = summary.upper;
  }
  return p;
}

void RecordTick(BerHistory& history, const LineCheck& check, const VerdictRule& rule) {
  for (int chart = 0; chart < kLanes; ++chart) {
    const LaneFacts facts = FactsOf(check, kCharts[chart].lane);
    history.Add(chart, HistoryPoint(facts, SummariseLane(facts, rule)), rule);
  }
}

}  // namespace sigtest
