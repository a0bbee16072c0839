// Monitor and threshold conversions between raw module words and engineering
// units (single precision, truncation toward zero, as the module programs
// them), the thermistor equation, and the least-squares fit behind the power
// calibrations.
#pragma once

#include <cstdint>

// Signed 1/256 degC -> degC.
float RawToTemp(uint16_t raw);
// degC -> 1/256 degC, truncated toward zero; the module stores the low 16 bits.
int TempToRaw(float celsius);
// 100 uV -> V, and back (truncated, low 16 bits).
float RawToVcc(uint16_t raw);
uint16_t VccToRaw(float volts);
// 2 uA -> mA, and back (truncated, low 16 bits). The module's advertised bias
// multiplier is not applied.
float RawToBias(uint16_t raw);
uint16_t BiasToRaw(float milliamps);
// 0.1 uW -> dBm, never below -40 dBm (raw 0 gives -40); and back.
float RawToDbm(uint16_t raw);
uint16_t DbmToRaw(float dbm);

// Least squares (Eigen, column-pivoted QR): coefficients[k] multiplies x^k,
// k = 0..degree. False, with `coefficients` untouched, for no points or
// points that do not fix every coefficient (fewer distinct x than
// coefficients, or numerically so).
bool FitPolynomial(const double* x, const double* y, int count, int degree, double* coefficients);
// Solves the row-major n x n `matrix` times x = `vector` (Eigen, LU with full
// pivoting); on success `vector` holds the solution. `matrix` is left as it
// was. False for a singular matrix.
bool SolveLinearSystem(int n, double* matrix, double* vector);

// Temperature of a thermistor in a divider: adc counts of full_scale across
// the thermistor, series resistor r_series (0 means r25), beta and r25.
float ThermistorTemperature(float adc, float full_scale, float beta, float r25, float r_series);
float ThermistorTemperatureInt(int adc, int full_scale, float beta, float r25, float r_series);
