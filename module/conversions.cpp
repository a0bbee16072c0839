#include "module/conversions.h"

#include <Eigen/Dense>
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
  if (count <= 0 || degree < 0 || !x || !y) return false;
  const int m = degree + 1;
  // Least squares on the Vandermonde matrix itself (column-pivoted QR), not
  // on its normal equations, whose condition is the square of it: counts in
  // the tens of thousands raised to the eighth power leave the normal
  // equations no digits to solve with. Each column is scaled to unit length
  // first, so the powers of large counts stand on an equal footing.
  Eigen::MatrixXd v(count, m);
  for (int j = 0; j < count; ++j)
    for (int k = 0; k < m; ++k) v(j, k) = IntPower(x[j], k);
  Eigen::VectorXd scale(m);
  for (int k = 0; k < m; ++k) {
    scale[k] = v.col(k).norm();
    if (!(scale[k] > 0) || !std::isfinite(scale[k])) return false;  // a column of zeros
    v.col(k) /= scale[k];
  }
  const Eigen::Map<const Eigen::VectorXd> values(y, count);
  const Eigen::ColPivHouseholderQR<Eigen::MatrixXd> qr(v);
  // Fewer distinct points than coefficients, or points that fix no more
  // than a lower degree: no unique fit.
  if (qr.rank() < m) return false;
  const Eigen::VectorXd c = qr.solve(values).cwiseQuotient(scale);
  if (!c.allFinite()) return false;
  for (int k = 0; k < m; ++k) coefficients[k] = c[k];
  return true;
}

bool SolveLinearSystem(int n, double* matrix, double* vector) {
  if (n <= 0) return false;
  const Eigen::Map<const Eigen::Matrix<double, Eigen::Dynamic, Eigen::Dynamic, Eigen::RowMajor>> a(
      matrix, n, n);
  Eigen::Map<Eigen::VectorXd> v(vector, n);
  // Full pivoting: the largest element of what is left, not merely a non-zero one.
  const Eigen::FullPivLU<Eigen::MatrixXd> lu(a);
  if (!lu.isInvertible()) return false;
  v = lu.solve(Eigen::VectorXd(v));
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
