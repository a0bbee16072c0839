// A full run record for the store tests, and a scratch folder.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <limits>
#include <string>

#include "records/run_record.h"
#include "records/store.h"

namespace records_test {

using records::Outcome;

// Every field set, texts with quotes, commas, line breaks and non-ASCII
// characters, absent values and one-sided limits.
inline records::RunRecord FullRun(const std::string& serial = "SN\"0042\"",
                                  int64_t started_ms = 1765354013589) {
  records::RunRecord run;
  run.host = "line-3 \xc2\xb5station";
  run.user = "o'brien";
  run.board_path = "/dev/hidraw3";
  run.board_serial = "";  // unknown
  run.vendor = "ACME, \"Optics\"";
  run.part_number = "QDD-400G-FR4";
  run.serial = serial;
  run.revision = "B1";
  run.firmware = "3.7";
  run.plan_name = "fr4.toml";
  run.plan_text = "[plan]\nname = \"FR4 \xe2\x84\x83 soak\"\n# -- '; DROP TABLE runs; --\n";
  run.plan_hash = std::string(64, 'a');
  run.profile = "QDD-400G-*";
  run.verdict = Outcome::kFail;
  run.verdict_message = "ddm: lane 3 bias 9.1 mA above 8 mA";
  run.started_ms = started_ms;
  run.ended_ms = started_ms + 61234;
  run.tool_version = "1.0 (git abc123)";

  records::StepRecord identify;
  identify.name = "identify";
  identify.kind = "identify";
  identify.started_ms = started_ms + 10;
  identify.ended_ms = started_ms + 250;
  records::Measurement vendor;
  vendor.name = "vendor";
  vendor.text = "ACME, \"Optics\"\n\xe5\x85\x89";
  vendor.expected = "ACME*";
  identify.measurements.push_back(vendor);
  run.steps.push_back(identify);

  records::StepRecord ddm;
  ddm.name = "ddm, 10 samples";
  ddm.kind = "ddm";
  ddm.outcome = Outcome::kFail;
  ddm.message = "lane 3 bias above its limit";
  ddm.started_ms = started_ms + 300;
  ddm.ended_ms = started_ms + 10300;
  records::Measurement bias;
  bias.name = "bias";
  bias.lane = 3;
  bias.unit = "mA";
  bias.value = 9.125;
  bias.low = 2.0;
  bias.high = 8.0;
  bias.outcome = Outcome::kFail;
  bias.note = "above 8 mA";
  records::Measurement zero;  // a real zero stays zero
  zero.name = "tx power";
  zero.lane = 1;
  zero.unit = "dBm";
  zero.value = 0.0;
  zero.high = 4.0;              // one-sided
  records::Measurement absent;  // no value, no limits
  absent.name = "rx power";
  absent.lane = 8;
  absent.unit = "dBm";
  absent.outcome = Outcome::kSkip;
  absent.note = "lane not in use";
  ddm.measurements = {bias, zero, absent};
  ddm.samples = {
      {"temperature", 0, 0.5, 41.25}, {"bias", 3, 0.5, 9.125}, {"temperature", 0, 1.5, -0.0625}};
  run.steps.push_back(ddm);

  records::StepRecord ber;  // a step without measurements
  ber.name = "ber";
  ber.kind = "ber";
  ber.outcome = Outcome::kError;
  ber.message = "board did not answer";
  run.steps.push_back(ber);

  run.flag_events = {{12.5, "Rx LOS", 2, "raised"}, {13.0, "Rx LOS", 2, "cleared"}};
  return run;
}

// A module's raw text (a byte that is not UTF-8, a NUL) and numbers that
// are NaN: the run is stored all the same, its texts as the command line
// shows them, a NaN as no value; and the serial still finds it.
inline void ExpectRawTextsAndNaNsStored(records::Store& store) {
  records::RunRecord run = FullRun(std::string("SN\xff\0X", 5));
  run.vendor = "ACME\xa9";
  run.steps[1].measurements[0].value = std::numeric_limits<double>::quiet_NaN();
  run.steps[1].samples[0].value = std::numeric_limits<double>::quiet_NaN();
  const int64_t id = store.Save(run);
  const records::RunRecord loaded = store.Load(id);
  EXPECT_EQ(loaded.serial, "SN\xc3\xbf\xe2\x90\x80X");
  EXPECT_EQ(loaded.vendor, "ACME\xc2\xa9");
  EXPECT_EQ(loaded.steps[1].measurements[0].value, std::nullopt);
  EXPECT_TRUE(std::isnan(loaded.steps[1].samples[0].value));
  EXPECT_EQ(loaded.steps[1].samples[1].value, run.steps[1].samples[1].value);
  const auto history = store.History(run.serial);
  ASSERT_EQ(history.size(), 1u);
  EXPECT_EQ(history[0].id, id);
}

// A fresh folder under the temporary directory, removed by the destructor.
struct ScratchDir {
  explicit ScratchDir(const std::string& name)
      : path(std::filesystem::temp_directory_path() /
             ("lw-records-" + std::to_string(getpid()) + "-" + name)) {
    std::filesystem::remove_all(path);
    std::filesystem::create_directories(path);
  }
  ~ScratchDir() { std::filesystem::remove_all(path); }
  std::string File(const std::string& name) const { return (path / name).string(); }
  std::filesystem::path path;
};

}  // namespace records_test
