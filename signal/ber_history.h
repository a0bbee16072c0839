// The BER diagram's points: every chart's (elapsed seconds, BER) in the
// order they were taken, kept for the whole session for export.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "signal/tables.h"

namespace sigtest {

class BerHistory {
 public:
  static constexpr double kAxisMin = 1e-13;
  static constexpr double kAxisMax = 1e-4;

  struct Point {
    uint32_t seconds;
    double ber;
  };

  void Add(int chart /* 0-7 */, uint32_t seconds, double ber);
  const std::vector<Point>& Points(int chart) const { return charts_[chart]; }
  size_t Size() const;

  // Where a BER is drawn on the fixed log axis: 0 (no error) at the bottom
  // edge, anything above 1e-4 (1.0 before the first bit) at the top edge.
  static double Plotted(double ber);

  // "channel,lane,seconds,ber" and one row per point, chart by chart.
  std::string Csv() const;

 private:
  std::array<std::vector<Point>, kLanes> charts_;
};

}  // namespace sigtest
