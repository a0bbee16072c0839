#include "signal/ber_history.h"

#include <cstdio>


namespace sigtest {

void BerHistory::Add(int chart, uint32_t seconds, double ber) {
  charts_[chart].push_back({seconds, ber});
}

size_t BerHistory::Size() const {
  size_t n = 0;
  for (const auto& c : charts_) n += c.size();
  return n;
}

double BerHistory::Plotted(double ber) {
  if (!(ber >= kAxisMin)) return kAxisMin;  // 0, tiny values and NaN
  return ber > kAxisMax ? kAxisMax : ber;
}

std::string BerHistory::Csv() const {
  std::string out = "channel,lane,seconds,ber\n";
  char row[96];
  for (int chart = 0; chart < kLanes; ++chart)
    for (const auto& p : charts_[chart]) {
      std::snprintf(row, sizeof row, "%d,%d,%u,%.6e\n", chart + 1, kCharts[chart].lane, p.seconds, p.ber);
      out += row;
    }
  return out;
}

}  // namespace sigtest
