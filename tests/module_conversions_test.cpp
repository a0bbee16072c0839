// Conversions, the least-squares fit and the thermistor equation.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "module/conversions.h"

namespace {

TEST(Conversions, RawWordsToEngineeringUnits) {
  const struct {
    const char* name;
    float (*convert)(uint16_t);
    uint16_t raw;
    float expected;
  } cases[] = {
      {"temperature -1", RawToTemp, 0xFF00, -1.0f},
      {"temperature 25", RawToTemp, 0x1900, 25.0f},
      {"temperature lowest", RawToTemp, 0x8000, -128.0f},
      {"vcc", RawToVcc, 500, 0.05f},
      {"bias", RawToBias, 3000, 6.0f},
      {"power 0 floors", RawToDbm, 0, -40.0f},
      {"power 1 floors", RawToDbm, 1, -40.0f},
      {"power 1 mW", RawToDbm, 10000, 0.0f},
      {"power 2 mW", RawToDbm, 20000, 3.0103f},
  };
  for (const auto& c : cases) EXPECT_NEAR(c.convert(c.raw), c.expected, 1e-4) << c.name;
}

TEST(Conversions, EngineeringUnitsToRawWordsTruncate) {
  EXPECT_EQ(TempToRaw(-0.5f), -128);
  EXPECT_EQ(TempToRaw(25.999f), 6655);  // 6655.74 truncated
  EXPECT_EQ(TempToRaw(-1.999f), -511);  // toward zero
  EXPECT_EQ(VccToRaw(0.04999f), 499);
  EXPECT_EQ(VccToRaw(3.3f), 33000);
  EXPECT_EQ(BiasToRaw(6.0f), 3000);
  EXPECT_EQ(BiasToRaw(140.0f), 70000 & 0xFFFF);  // low 16 bits
  EXPECT_EQ(DbmToRaw(0.0f), 10000);
  EXPECT_EQ(DbmToRaw(3.0f), 19952);  // 1.99526 mW in single precision
}

TEST(Fit, LeastSquaresThroughThePoints) {
  const double x[] = {1, 2};
  const double y[] = {2, 4};
  double c[5] = {};
  ASSERT_TRUE(FitPolynomial(x, y, 2, 1, c));
  EXPECT_NEAR(c[1], 2.0, 1e-9);
  EXPECT_NEAR(c[0], 0.0, 1e-9);

  // y = 1 - 2x + 0.5x^2 exactly, from four points.
  const double qx[] = {0, 1, 2, 5};
  double qy[4];
  for (int i = 0; i < 4; ++i) qy[i] = 1 - 2 * qx[i] + 0.5 * qx[i] * qx[i];
  ASSERT_TRUE(FitPolynomial(qx, qy, 4, 2, c));
  EXPECT_NEAR(c[0], 1.0, 1e-9);
  EXPECT_NEAR(c[1], -2.0, 1e-9);
  EXPECT_NEAR(c[2], 0.5, 1e-9);

  EXPECT_FALSE(FitPolynomial(x, y, 0, 1, c));  // no points
  const double same[] = {3, 3};
  EXPECT_FALSE(FitPolynomial(same, y, 2, 2, c));  // singular
}

// Counts as a power monitor gives them (tens of thousands), raised to the
// eighth power in normal equations, leave a solver that takes any non-zero
// pivot nothing but rounding noise to divide by: it returned made-up
// coefficients for fits the points cannot fix. The fit refuses those, and
// fits points bunched together to full precision.
TEST(Fit, IllConditionedPointsAreFittedOrRefusedNeverMadeUp) {
  const struct {
    const char* what;
    std::vector<double> x, y;
    int degree;
  } refused[] = {
      {"three counts on a line, cubic", {10000, 20000, 30000}, {1.25, 2.25, 3.25}, 3},
      {"three counts on a line, quartic", {10000, 20000, 30000}, {1.25, 2.25, 3.25}, 4},
      {"three distinct counts of five, cubic",
       {10000, 10000, 20000, 20000, 30000},
       {1.25, 1.25, 2.25, 2.25, 3.25},
       3},
      {"two distinct counts, quadratic", {20000, 20000, 20000, 20001}, {2.0, 2.0, 2.0, 2.0001}, 2},
  };
  for (const auto& c : refused) {
    double coefficients[5] = {7, 7, 7, 7, 7};
    EXPECT_FALSE(
        FitPolynomial(c.x.data(), c.y.data(), static_cast<int>(c.x.size()), c.degree, coefficients))
        << c.what;
    EXPECT_EQ(coefficients[0], 7) << c.what << ": untouched";
  }
  // Three counts bunched together and one far off, on a quadratic.
  const double x[] = {20000, 20001, 20002, 40000};
  double y[4];
  for (int i = 0; i < 4; ++i) y[i] = 0.25 + 1e-4 * x[i] + 2e-10 * x[i] * x[i];
  double c[5] = {};
  ASSERT_TRUE(FitPolynomial(x, y, 4, 2, c));
  EXPECT_NEAR(c[0], 0.25, 1e-9);
  EXPECT_NEAR(c[1] / 1e-4, 1.0, 1e-9);
  EXPECT_NEAR(c[2] / 2e-10, 1.0, 1e-9);
}

TEST(Fit, SolverPivotsAndPutsTheUnknownsBack) {
  // A zero on the diagonal needs row and column exchanges.
  double a[] = {0, 2, 1,  //
                1, 1, 0,  //
                3, 0, 1};
  double v[] = {7, 3, 6};  // x = 1, y = 2, z = 3
  ASSERT_TRUE(SolveLinearSystem(3, a, v));
  EXPECT_NEAR(v[0], 1.0, 1e-12);
  EXPECT_NEAR(v[1], 2.0, 1e-12);
  EXPECT_NEAR(v[2], 3.0, 1e-12);
  double zero[] = {0, 0, 0, 0};
  double w[] = {1, 1};
  EXPECT_FALSE(SolveLinearSystem(2, zero, w));
}

TEST(Thermistor, HalfScaleWithEqualResistorsIs25Degrees) {
  EXPECT_NEAR(ThermistorTemperature(2048.0f, 4096.0f, 3950.0f, 10000.0f, 10000.0f), 25.0f, 1e-4);
  EXPECT_NEAR(ThermistorTemperature(2048.0f, 4096.0f, 3950.0f, 10000.0f, 0.0f), 25.0f, 1e-4);
  EXPECT_NEAR(ThermistorTemperatureInt(2048, 4096, 3950.0f, 10000.0f, 10000.0f), 25.0f, 1e-4);
  // More voltage across the thermistor: higher resistance, colder (NTC).
  const float cold = ThermistorTemperatureInt(3000, 4096, 3950.0f, 10000.0f, 10000.0f);
  EXPECT_LT(cold, 25.0f);
  EXPECT_NEAR(cold, 1.0 / (std::log(3000.0 / 1096.0) / 3950.0 + 1.0 / 298.15) - 273.15, 0.01);
}

}  // namespace
