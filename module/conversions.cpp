#include "module/conversions.h"

#include <cmath>
#include <cstdint>
#include <limits>
#include <utility>
#include <vector>

namespace {

// Truncates toward zero and keeps the low 16 bits, as a module register does.
uint16_t Low16(float value) {
  if (!std::isfinite(value)) return 0;
  constexpr float kLimit = static_cast<float>(std::numeric_limits<int64_t>::max() / 2);
  if (value > kLimit || value < -kLimit) return 0;
  return static_cast<uint16_t>(static_cast<int64_t>(value) & 0xFFFF);
}

double IntPower(double x, int n) {
  double result = 1.0;
  while (n > 0) {
    if (n & 1) result *= x;
    x *= x;
    n >>= 1;
  }
  return result;
}

}  // namespace

float RawToTemp(uint16_t raw) { return static_cast<float>(static_cast<int16_t>(raw)) / 256.0f; }

int TempToRaw(float celsius) {
  const float raw = celsius * 256.0f;
  if (!std::isfinite(raw) || raw >= 2147483648.0f || raw <= -2147483648.0f) return 0;
  return static_cast<int>(raw);
}

float RawToVcc(uint16_t raw) { return static_cast<float>(raw) / 10000.0f; }

uint16_t VccToRaw(float volts) { return Low16(volts * 10000.0f); }

float RawToBias(uint16_t raw) { return static_cast<float>(raw) / 500.0f; }

uint16_t BiasToRaw(float milliamps) { return Low16(milliamps * 500.0f); }

float RawToDbm(uint16_t raw) {
  if (raw == 0) return -40.0f;
  const float dbm = 10.0f * std::log10(static_cast<float>(raw) / 10000.0f);
  return dbm < -40.0f ? -40.0f : dbm;
}

uint16_t DbmToRaw(float dbm) {
  const float milliwatts = std::pow(10.0f, dbm / 10.0f);
  return Low16(milliwatts * 10000.0f);
}

bool FitPolynomial(const double* x, const double* y, int count, int degree, double* coefficients) {
  if (count <= 0 || degree < 0) return false;
  const int m = degree + 1;
  std::vector<double> a(static_cast<size_t>(m) * m, 0.0), v(m, 0.0);
  for (int i = 0; i < m; ++i)
    for (int j = 0; j < count; ++j) v[i] += IntPower(x[j], i) * y[j];
  for (int i = 0; i < m; ++i)
    for (int k = 0; k < m; ++k)
      for (int j = 0; j < count; ++j) a[i * m + k] += IntPower(x[j], i + k);
  if (!SolveLinearSystem(m, a.data(), v.data())) return false;
  for (int k = 0; k < m; ++k) coefficients[k] = v[k];
  return true;
}

bool SolveLinearSystem(int n, double* matrix, double* vector) {
  auto at = [&](int r, int c) -> double& { return matrix[r * n + c]; };
  std::vector<int> permutation(n, 0);
  for (int i = 0; i < n; ++i) {
    // The pivot is the last non-zero element of rows i.. and columns i.., in
    // row-major scan order.
    int pivot_row = -1, pivot_col = -1;
    for (int r = i; r < n; ++r)
      for (int c = i; c < n; ++c)
        if (at(r, c) != 0.0) {
          pivot_row = r;
          pivot_col = c;
        }
    if (pivot_row < 0) return false;
    permutation[i] = pivot_col;
    for (int c = i; c < n; ++c) std::swap(at(i, c), at(pivot_row, c));
    std::swap(vector[i], vector[pivot_row]);
    for (int r = 0; r < n; ++r) std::swap(at(r, i), at(r, pivot_col));
    const double p = at(i, i);
    for (int c = i + 1; c < n; ++c) at(i, c) /= p;
    vector[i] /= p;
    for (int r = 0; r < n; ++r) {
      if (r == i) continue;
      const double f = at(r, i);
      for (int c = i + 1; c < n; ++c) at(r, c) -= f * at(i, c);
      vector[r] -= f * vector[i];
    }
  }
  for (int i = n - 1; i >= 0; --i) std::swap(vector[i], vector[permutation[i]]);
  return true;
}

namespace {
float ThermistorFromRatio(float q, float beta) {
  const float kelvin25 = 298.15f, zero_celsius = 273.15f;
  const float inverse = std::log(q) / beta + 1.0f / kelvin25;
  return 1.0f / inverse - zero_celsius;
}
}  // namespace

float ThermistorTemperature(float adc, float full_scale, float beta, float r25, float r_series) {
  if (r_series == 0.0f) r_series = r25;
  float q = adc / (full_scale - adc);
  q = q * r_series;
  q = q / r25;
  return ThermistorFromRatio(q, beta);
}

float ThermistorTemperatureInt(int adc, int full_scale, float beta, float r25, float r_series) {
  if (r_series == 0.0f) r_series = r25;
  float q = static_cast<float>(adc) / static_cast<float>(full_scale - adc);
  q = q * r_series;
  q = q / r25;
  return ThermistorFromRatio(q, beta);
}
