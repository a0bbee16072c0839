// The HTML report: texts from the module and the plan escaped everywhere,
// nothing fetched from elsewhere, absent values as n/a, and a file that stays
// small however many samples the run kept.
#include "records/report.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <limits>
#include <string>

namespace {

using namespace records;

std::string Lower(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return s;
}

size_t Count(const std::string& text, const std::string& what) {
  size_t n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

// The table row of the measurement called `name`.
std::string RowOf(const std::string& html, const std::string& name) {
  const size_t at = html.find("<td>" + name + "</td>");
  if (at == std::string::npos) return {};
  const size_t start = html.rfind("<tr", at);
  return html.substr(start, html.find("</tr>", at) - start);
}

// Nothing in the file may load or run anything: no script, no link, no
// source, no address; the only url() is a reference inside the file.
void ExpectSelfContained(const std::string& html) {
  const std::string low = Lower(html);
  for (const char* bad : {"http", "<script", "<link", "src=", "@import", "<iframe", "<object"})
    EXPECT_EQ(low.find(bad), std::string::npos) << bad;
  for (size_t at = low.find("url("); at != std::string::npos; at = low.find("url(", at + 1))
    EXPECT_EQ(low[at + 4], '#') << low.substr(at, 30);
}

Measurement Number(const std::string& name, int lane, const std::string& unit,
                   std::optional<double> value) {
  Measurement m;
  m.name = name;
  m.lane = lane;
  m.unit = unit;
  m.value = value;
  return m;
}

RunRecord SmallRun() {
  RunRecord run;
  run.id = 7;
  run.vendor = "VORLANIX";
  run.part_number = "LW-QDD-400G-SR8";
  run.serial = "LWX2612090042";
  run.plan_name = "plan.toml";
  run.plan_text = "name = \"qualification\"\n";
  run.verdict = Outcome::kPass;
  run.started_ms = 1796894400000;
  run.ended_ms = run.started_ms + 65000;
  StepRecord& ddm = run.steps.emplace_back();
  ddm.name = "diagnostics";
  ddm.kind = "ddm";
  ddm.measurements.push_back(Number("bias", 3, "mA", 7.25));
  for (int k = 0; k < 20; ++k) {
    ddm.samples.push_back({"temperature", 0, double(k), 35 + 0.1 * k});
    ddm.samples.push_back({"ber", 1, double(k), 1e-9});
    ddm.samples.push_back({"ber upper", 1, double(k), 3e-9});
  }
  return run;
}

TEST(Report, EveryTextFromTheModuleOrThePlanIsEscaped) {
  // A distinct hostile text in each field: each must come out escaped, and
  // none of them as markup.
  const auto hostile = [](const std::string& field) {
    return "<b id=\"" + field + "\">&'</b><script>x</script>";
  };
  const auto escaped = [](const std::string& field) {
    return "&lt;b id=&quot;" + field + "&quot;&gt;&amp;&#39;&lt;/b&gt;&lt;script&gt;";
  };
  RunRecord run;
  std::vector<std::pair<std::string, std::string*>> fields = {
      {"host", &run.host},
      {"user", &run.user},
      {"board_path", &run.board_path},
      {"board_serial", &run.board_serial},
      {"vendor", &run.vendor},
      {"part_number", &run.part_number},
      {"serial", &run.serial},
      {"revision", &run.revision},
      {"firmware", &run.firmware},
      {"plan_name", &run.plan_name},
      {"plan_text", &run.plan_text},
      {"plan_hash", &run.plan_hash},
      {"profile", &run.profile},
      {"verdict_message", &run.verdict_message},
      {"tool_version", &run.tool_version}};
  for (auto& [name, field] : fields) *field = hostile(name);
  run.verdict = Outcome::kFail;

  StepRecord& step = run.steps.emplace_back();
  step.name = hostile("step_name");
  step.kind = hostile("step_kind");
  step.message = hostile("step_message");
  Measurement m = Number(hostile("m_name"), 2, hostile("m_unit"), 1.5);
  m.high = 1.0;
  m.expected = hostile("m_expected");
  m.note = hostile("m_note");
  m.outcome = Outcome::kFail;
  step.measurements.push_back(m);
  Measurement t;
  t.name = "vendor text";
  t.text = hostile("m_text");
  step.measurements.push_back(t);
  for (int k = 0; k < 5; ++k) step.samples.push_back({hostile("series"), 1, double(k), 1.0 + k});
  run.flag_events.push_back({1.5, hostile("flag"), 3, hostile("event")});

  const std::string html = RenderHtmlReport(run);
  for (const char* name :
       {"host",        "user",      "board_path",   "board_serial",    "vendor",
        "part_number", "serial",    "revision",     "firmware",        "plan_name",
        "plan_text",   "plan_hash", "profile",      "verdict_message", "tool_version",
        "step_name",   "step_kind", "step_message", "m_name",          "m_unit",
        "m_expected",  "m_note",    "m_text",       "series",          "flag",
        "event"})
    EXPECT_NE(html.find(escaped(name)), std::string::npos) << name;
  EXPECT_EQ(html.find("<b id="), std::string::npos);
  EXPECT_EQ(html.find("'</b>"), std::string::npos);
  ExpectSelfContained(html);

  // Raw module bytes: invalid UTF-8 as Latin-1, control characters replaced.
  run = SmallRun();
  run.vendor = std::string("AC\xA9ME\x01\x00X", 8);
  const std::string bytes = RenderHtmlReport(run);
  EXPECT_NE(bytes.find("AC\xC2\xA9ME\xEF\xBF\xBD\xEF\xBF\xBDX"), std::string::npos);
  EXPECT_EQ(bytes.find('\0'), std::string::npos);
}

TEST(Report, ShowsTheVerdictStepsAndChartsOfARun) {
  RunRecord run = SmallRun();
  run.verdict = Outcome::kError;
  run.verdict_message = "the board stopped answering";
  // Temperature again in a later step: two lines, not one joined across
  // the time nothing was sampled.
  StepRecord& later = run.steps.emplace_back();
  later.name = "later";
  for (int k = 40; k < 45; ++k) later.samples.push_back({"temperature", 0, double(k), 37});
  const std::string html = RenderHtmlReport(run);
  ExpectSelfContained(html);
  EXPECT_EQ(html.rfind("<!DOCTYPE html>", 0), 0u);
  EXPECT_NE(html.find("<div class=\"verdict error\"><div class=\"word\">ERROR</div>"),
            std::string::npos);
  EXPECT_NE(html.find("2026-12-10 09:20:00 UTC"), std::string::npos);
  EXPECT_NE(html.find("7.25 mA"), std::string::npos);
  EXPECT_EQ(Count(html, "<svg class=\"chart"), 2u);  // BER, and one DDM monitor
  EXPECT_EQ(Count(html, "<polyline fill=\"none\" stroke=\"#3d4451\""), 2u);
  EXPECT_NE(html.find("@media print"), std::string::npos);
  EXPECT_GE(Count(html, "break-before:page"), 1u);
  EXPECT_EQ(html.substr(html.size() - 8), "</html>\n");
}

TEST(Report, AbsentAndInvalidValuesAreNeverShownAsZero) {
  RunRecord run = SmallRun();
  run.firmware.clear();  // not read
  StepRecord& step = run.steps.front();
  step.measurements.push_back(Number("rx power", 4, "dBm", std::nullopt));
  step.measurements.push_back(Number("vcc", 0, "V", std::numeric_limits<double>::quiet_NaN()));
  step.measurements.push_back(
      Number("tx power", 2, "dBm", -std::numeric_limits<double>::infinity()));
  step.measurements.push_back(Number("errors", 2, "", 0.0));
  run.flag_events.push_back({std::numeric_limits<double>::quiet_NaN(), "Rx LOS", 4, "raised"});
  const std::string html = RenderHtmlReport(run);

  const std::string absent = RowOf(html, "rx power");
  ASSERT_FALSE(absent.empty());
  EXPECT_NE(absent.find(">n/a<"), std::string::npos) << absent;
  EXPECT_EQ(absent.find(">0"), std::string::npos) << absent;
  EXPECT_NE(RowOf(html, "vcc").find(">NaN V<"), std::string::npos) << RowOf(html, "vcc");
  EXPECT_NE(RowOf(html, "tx power").find(">-inf dBm<"), std::string::npos);
  EXPECT_NE(RowOf(html, "errors").find(">0<"), std::string::npos);  // a real zero stays 0
  EXPECT_NE(html.find("<dt>Firmware</dt><dd><span class=\"na\">n/a</span></dd>"),
            std::string::npos);
}

// Coordinates in the charts are plain numbers, whatever the samples held.
void ExpectCleanPoints(const std::string& html) {
  size_t lines = 0;
  for (size_t at = html.find("points=\""); at != std::string::npos;
       at = html.find("points=\"", at + 1), ++lines) {
    const size_t end = html.find('"', at + 8);
    const std::string points = html.substr(at + 8, end - at - 8);
    EXPECT_EQ(points.find_first_not_of("0123456789.,- "), std::string::npos)
        << points.substr(0, 80);
  }
  EXPECT_GT(lines, 0u);
  EXPECT_EQ(Lower(html).find("nan,"), std::string::npos);
}

TEST(Report, RunsWithoutStepsOrSamplesStillRender) {
  RunRecord empty;  // nothing read, nothing run
  const std::string html = RenderHtmlReport(empty);
  ExpectSelfContained(html);
  EXPECT_NE(html.find("The run has no steps."), std::string::npos);
  EXPECT_NE(html.find("No BER samples were recorded."), std::string::npos);
  EXPECT_NE(html.find("No diagnostic samples were recorded."), std::string::npos);
  EXPECT_NE(html.find("No latched flag was raised"), std::string::npos);
  EXPECT_EQ(html.find("<svg class=\"chart"), std::string::npos);

  RunRecord steps_only = SmallRun();
  steps_only.steps.front().samples.clear();
  EXPECT_NE(RenderHtmlReport(steps_only).find("No BER samples were recorded."), std::string::npos);

  // Samples none of which can be drawn: a note in place of the chart.
  RunRecord undrawable = SmallRun();
  for (Sample& s : undrawable.steps.front().samples)
    s.value = s.series == "temperature" ? std::numeric_limits<double>::quiet_NaN() : 0.0;
  const std::string note = RenderHtmlReport(undrawable);
  EXPECT_EQ(Count(note, "can be drawn (all NaN, infinite"), 2u);

  // Values and times at the ends of the double range still make a chart.
  RunRecord extreme = SmallRun();
  StepRecord& step = extreme.steps.front();
  step.samples.clear();
  for (double t : {-1e300, 0.0, 1e-300, 1e300})
    for (double v : {-1.7e308, -4.9e-324, 0.0, 4.9e-324, 1.7e308}) {
      step.samples.push_back({"vcc", 1, t, v});
      step.samples.push_back({"ber", 1, t, std::fabs(v)});
    }
  ExpectCleanPoints(RenderHtmlReport(extreme));
}

TEST(Report, AHundredThousandSamplesMakeASmallFile) {
  RunRecord run = SmallRun();
  StepRecord& step = run.steps.front();
  step.samples.clear();
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  // 8 lanes of BER and bound, 3 per-lane monitors and temperature over
  // 600 s, with a few values that cannot be drawn mixed in.
  int k = 0;
  while (step.samples.size() < 100000) {
    const double t = 0.02 * k++;
    for (int lane = 1; lane <= 8; ++lane) {
      const double ber = 1e-10 * lane * (1 + 0.5 * std::sin(t + lane));
      step.samples.push_back({"ber", lane, t, k % 997 == 0 ? 0.0 : ber});
      step.samples.push_back({"ber upper", lane, t, k % 1499 == 0 ? nan : 2 * ber});
      if (k % 4 == 0) {
        step.samples.push_back({"bias", lane, t, k % 1201 == 0 ? inf : 7 + 0.01 * lane});
        step.samples.push_back({"rx power", lane, k % 1301 == 0 ? nan : t, -2.0 + std::cos(t)});
      }
    }
    step.samples.push_back({"temperature", 0, t, 35 + std::sin(t / 50)});
  }
  const std::string html = RenderHtmlReport(run);
  EXPECT_LT(html.size(), 400u * 1024) << html.size();
  ExpectSelfContained(html);
  ExpectCleanPoints(html);
  EXPECT_EQ(Count(html, "<svg class=\"chart"), 4u);  // BER, bias, rx power, temperature
  // The table still counts every sample of a lane.
  EXPECT_NE(html.find(std::to_string(k) + "</td></tr>"), std::string::npos);
}

}  // namespace
