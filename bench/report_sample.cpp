// Writes the HTML report of a made-up but typical run: the emulated module
// through a plan of eight steps, one of which fails (lane 5's bias stays up
// with Tx disabled), BER on eight lanes over a minute, DDM over thirty
// seconds and the flag events of the Tx-disable step. The README's
// screenshot is rendered from it: report_sample OUT.html
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <optional>
#include <string>

#include "records/report.h"

using namespace records;

namespace {

// A small deterministic generator: the same report on every machine.
struct Random {
  uint64_t state = 0x9E3779B97F4A7C15ull;
  double Uniform() {
    state ^= state << 13;
    state ^= state >> 7;
    state ^= state << 17;
    return static_cast<double>(state >> 11) / 9007199254740992.0;
  }
  double Normal() {
    const double u = std::max(Uniform(), 1e-12), v = Uniform();
    return std::sqrt(-2 * std::log(u)) * std::cos(6.283185307179586 * v);
  }
  // Poisson counts, by the normal approximation above a mean of 30.
  int64_t Poisson(double mean) {
    if (mean > 30) return std::max<int64_t>(0, std::llround(mean + std::sqrt(mean) * Normal()));
    const double l = std::exp(-mean);
    int64_t k = 0;
    for (double p = Uniform(); p > l; p *= Uniform()) ++k;
    return k;
  }
};

Measurement Text(const std::string& name, const std::string& value, const std::string& expected) {
  Measurement m;
  m.name = name;
  m.text = value;
  m.expected = expected;
  return m;
}

Measurement Number(const std::string& name, int lane, const std::string& unit, double value,
                   std::optional<double> low, std::optional<double> high) {
  Measurement m;
  m.name = name;
  m.lane = lane;
  m.unit = unit;
  m.value = value;
  m.low = low;
  m.high = high;
  m.outcome = (low && value < *low) || (high && value > *high) ? Outcome::kFail : Outcome::kPass;
  return m;
}

RunRecord SampleRun() {
  Random rnd;
  RunRecord run;
  run.id = 1287;
  run.host = "qual-bench-03";
  run.user = "mkeller";
  run.board_path = "/dev/hidraw2";
  run.board_serial = "LWB-0118";
  run.vendor = "VORLANIX";
  run.part_number = "LW-QDD-400G-SR8";
  run.serial = "LWX2612090042";
  run.revision = "A1";
  run.firmware = "4.2";
  run.plan_name = "sr8-qualification.toml";
  run.plan_text = R"(# Qualification of 400G SR8 modules on the line.
name = "SR8 qualification"

[[step]]
kind = "identify"

[[step]]
kind = "thresholds"

[[step]]
kind = "ddm"
samples = 30
seconds = 30

[[step]]
kind = "tx-disable"

[[step]]
kind = "application"
code = 1

[[step]]
kind = "ber"
pattern = "PRBS31Q"
seconds = 60

[[step]]
kind = "flags"

[[step]]
kind = "eeprom-check"

[profile.default]
part_number = "LW-QDD-400G-*"
temperature = [15.0, 60.0]
vcc = [3.20, 3.40]
bias = [4.0, 10.0]
tx_power = [-2.0, 3.0]
rx_power = [-5.0, 2.0]
ber_upper = 1e-8

[finally]
tx = "enabled"
checkers = "stopped"
)";
  run.plan_hash = "3f6c0a9e71d2b85c4e0f19a7d63b2c8e5a4f017d9c6b3e28a1f54d07c9e6b2a1";
  run.profile = "default";
  run.tool_version = "lanewright-cli 1.0 (git 4c1e9a2)";
  run.started_ms = 1796894400000;  // 2026-12-10 09:20:00 UTC
  int64_t now = run.started_ms;
  auto step = [&](const char* name, const char* kind, double seconds) -> StepRecord& {
    StepRecord& s = run.steps.emplace_back();
    s.name = name;
    s.kind = kind;
    s.started_ms = now;
    now += static_cast<int64_t>(seconds * 1000);
    s.ended_ms = now;
    return s;
  };

  StepRecord& id = step("identify", "identify", 0.8);
  id.measurements = {Text("vendor", "VORLANIX", "VORLANIX"),
                     Text("part number", "LW-QDD-400G-SR8", "LW-QDD-400G-*"),
                     Text("serial", "LWX2612090042", "LWX*"),
                     Text("revision", "A1", ""),
                     Text("firmware", "4.2", ""),
                     Text("page checksums", "valid", "valid")};

  StepRecord& th = step("module thresholds", "thresholds", 0.6);
  for (const char* monitor : {"temperature", "vcc", "bias", "tx power", "rx power"})
    th.measurements.push_back(Text(monitor, "ordered", "ordered"));
  Measurement aux = Text("aux 1", "", "ordered");
  aux.outcome = Outcome::kSkip;
  aux.note = "not advertised by the module";
  th.measurements.push_back(aux);

  // DDM: the module warms up after power-on; a sample a second.
  const double ddm_t0 = (now - run.started_ms) / 1000.0;
  StepRecord& ddm = step("diagnostics", "ddm", 30);
  const double bias0[8] = {6.8, 7.1, 6.5, 7.4, 6.9, 7.0, 6.6, 7.2};
  const double tx0[8] = {0.9, 1.2, 0.6, 1.4, 0.8, 1.0, 0.7, 1.1};
  const double rx0[8] = {-1.2, -0.8, -1.9, -1.0, -1.4, -2.3, -1.1, -0.9};
  double temp = 0, vcc = 0;
  for (int k = 0; k < 30; ++k) {
    const double t = ddm_t0 + k;
    temp = 36.5 - 5.0 * std::exp(-k / 12.0) + 0.08 * rnd.Normal();
    vcc = 3.305 + 0.004 * rnd.Normal();
    ddm.samples.push_back({"temperature", 0, t, temp});
    ddm.samples.push_back({"vcc", 0, t, vcc});
    for (int lane = 1; lane <= 8; ++lane) {
      const double warm = 1 - std::exp(-k / 12.0);
      ddm.samples.push_back({"bias", lane, t, bias0[lane - 1] + 0.25 * warm + 0.02 * rnd.Normal()});
      ddm.samples.push_back(
          {"tx power", lane, t, tx0[lane - 1] - 0.15 * warm + 0.03 * rnd.Normal()});
      ddm.samples.push_back(
          {"rx power", lane, t, rx0[lane - 1] - 0.1 * warm + 0.04 * rnd.Normal()});
    }
  }
  ddm.measurements.push_back(Number("temperature", 0, "℃", temp, 15.0, 60.0));
  ddm.measurements.push_back(Number("vcc", 0, "V", vcc, 3.20, 3.40));
  for (int lane = 1; lane <= 8; ++lane)
    ddm.measurements.push_back(Number("bias", lane, "mA", bias0[lane - 1] + 0.24, 4.0, 10.0));
  for (int lane = 1; lane <= 8; ++lane)
    ddm.measurements.push_back(Number("tx power", lane, "dBm", tx0[lane - 1] - 0.14, -2.0, 3.0));
  for (int lane = 1; lane <= 8; ++lane)
    ddm.measurements.push_back(Number("rx power", lane, "dBm", rx0[lane - 1] - 0.09, -5.0, 2.0));

  // Tx disable: lane 5's laser stays on.
  const double txd_t0 = (now - run.started_ms) / 1000.0;
  StepRecord& txd = step("tx disable", "tx-disable", 6.4);
  txd.outcome = Outcome::kFail;
  txd.message = "lane 5: bias 6.93 mA with Tx disabled (high limit 1 mA)";
  for (int lane = 1; lane <= 8; ++lane) {
    const bool stuck = lane == 5;
    Measurement b = Number("bias disabled", lane, "mA", stuck ? 6.93 : 0.02, std::nullopt, 1.0);
    Measurement p =
        Number("tx power disabled", lane, "dBm", stuck ? 0.71 : -40.0, std::nullopt, -30.0);
    if (stuck) b.note = p.note = "laser still on after Tx disable";
    Measurement off =
        Number("turn-off time", lane, "ms", stuck ? 0 : 1.8 + 0.1 * lane, std::nullopt, 10.0);
    if (stuck) {
      off.value.reset();
      off.outcome = Outcome::kFail;
      off.note = "never turned off";
    }
    txd.measurements.push_back(b);
    txd.measurements.push_back(p);
    txd.measurements.push_back(off);
  }
  for (int lane : {1, 2, 3, 4, 6, 7, 8}) {
    run.flag_events.push_back({txd_t0 + 0.4 + 0.01 * lane, "Tx LOS", lane, "raised"});
  }
  for (int lane : {1, 2, 3, 4, 6, 7, 8}) {
    run.flag_events.push_back({txd_t0 + 3.6 + 0.01 * lane, "Tx LOS", lane, "cleared"});
  }

  StepRecord& app = step("application 1 (400GAUI-8 / 400GBASE-SR8)", "application", 2.2);
  for (int lane = 1; lane <= 8; ++lane)
    app.measurements.push_back(Text("data path state", "DPActivated", "DPActivated"));
  for (int lane = 1; lane <= 8; ++lane) app.measurements[lane - 1].lane = lane;
  app.measurements.push_back(Text("config status", "ConfigSuccess", "ConfigSuccess"));

  // BER: PRBS31Q on eight 53.125 Gb/s lanes for a minute, a sample every
  // half second; the upper bound at 95 % confidence.
  const double ber_t0 = (now - run.started_ms) / 1000.0;
  StepRecord& ber = step("PRBS31Q 60 s", "ber", 60);
  const double true_ber[8] = {3e-12, 2.2e-11, 0, 4.5e-10, 8e-12, 1.6e-9, 0, 6e-11};
  for (int lane = 1; lane <= 8; ++lane) {
    int64_t errors = 0;
    double bits = 0;
    for (int k = 1; k <= 120; ++k) {
      const double step_bits = 53.125e9 * 0.5;
      errors += rnd.Poisson(true_ber[lane - 1] * step_bits);
      bits += step_bits;
      const double t = ber_t0 + 0.5 * k;
      const double e = static_cast<double>(errors);
      const double upper = (e + 1.645 * std::sqrt(e + 1) + 1.645 * 1.645 / 2 + 1) / bits;
      ber.samples.push_back({"ber", lane, t, e / bits});
      ber.samples.push_back({"ber upper", lane, t, upper});
      if (k == 120) {
        ber.measurements.push_back(Number("ber", lane, "", e / bits, std::nullopt, std::nullopt));
        ber.measurements.push_back(Number("ber upper", lane, "", upper, std::nullopt, 1e-8));
      }
    }
  }

  StepRecord& flags = step("latched flags", "flags", 0.3);
  flags.message = "Tx LOS during the tx-disable step only (expected there)";
  Measurement raised = Number("alarms or faults raised", 0, "", 0, std::nullopt, 0);
  flags.measurements.push_back(raised);

  StepRecord& ee = step("eeprom image", "eeprom-check", 0);
  ee.outcome = Outcome::kSkip;
  ee.message = "no page file given for this part number";

  run.ended_ms = now;
  run.verdict = Outcome::kFail;
  run.verdict_message = "tx disable: lane 5 bias 6.93 mA with Tx disabled";
  return run;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::cerr << "usage: report_sample OUT.html\n";
    return 2;
  }
  std::ofstream out(argv[1], std::ios::binary);
  out << RenderHtmlReport(SampleRun());
  out.close();
  if (!out) {
    std::cerr << "report_sample: cannot write " << argv[1] << "\n";
    return 1;
  }
  std::cout << argv[1] << "\n";
  return 0;
}
