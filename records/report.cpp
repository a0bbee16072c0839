// The HTML report of one run. Everything is in the one file: the style sheet
// inline, the charts as inline SVG, no script, no font, image or link from
// elsewhere. Every text that comes from the module, the plan or the station
// goes through Esc(), in the page, in the SVG and in attributes alike.
#include "records/report.h"

#include <fmt/format.h>

#include <algorithm>
#include <cmath>
#include <ctime>
#include <iterator>
#include <map>
#include <optional>
#include <set>
#include <string_view>
#include <utility>

#include "board/text_format.h"

namespace records {
namespace {

// --- Text ---

// HTML-escapes a text for element content and quoted attributes. Module
// text is raw bytes: a byte that is not valid UTF-8 shows as the Latin-1
// character of its value, and control characters (NUL included) as U+FFFD.
std::string Esc(std::string_view text) {
  std::string out;
  out.reserve(text.size() + text.size() / 8);
  for (size_t i = 0; i < text.size();) {
    const size_t n = Utf8Length(text, i);
    if (n == 0) {
      AppendLatin1(out, static_cast<unsigned char>(text[i++]));
      continue;
    }
    if (n > 1) {
      out.append(text, i, n);
      i += n;
      continue;
    }
    const char c = text[i++];
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      case '\'':
        out += "&#39;";
        break;
      case '\t':
      case '\n':
      case '\r':
        out += c;
        break;
      default:
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F)
          out += "\xEF\xBF\xBD";
        else
          out += c;
    }
  }
  return out;
}

// A stored text, or "n/a" when it was not read.
std::string TextOrNa(const std::string& text) {
  return text.empty() ? std::string("<span class=\"na\">n/a</span>") : Esc(text);
}

// A number as a reader wants it: a count as it is, four significant digits
// in the ordinary range (what a monitor resolves), an exponent for the very
// small and very large (a BER). Never by the locale.
std::string Num(double v) {
  if (std::isnan(v)) return "NaN";
  if (std::isinf(v)) return v > 0 ? "inf" : "-inf";
  if (v == 0) return "0";
  const double a = std::fabs(v);
  if (a < 1e15 && v == std::trunc(v)) return fmt::format("{:.0f}", v);
  if (a >= 1e-3 && a < 1000) return fmt::format("{:.4g}", v);
  if (a >= 1000 && a < 1e7) return fmt::format("{:.1f}", v);
  // "1.6e-9", not "1.6e-09".
  std::string text = fmt::format("{:.3g}", v);
  const size_t e = text.find('e');
  if (e != std::string::npos) {
    size_t digits = e + 1;
    if (digits < text.size() && (text[digits] == '-' || text[digits] == '+')) ++digits;
    if (text[e + 1] == '+') text.erase(e + 1, 1), --digits;
    while (digits + 1 < text.size() && text[digits] == '0') text.erase(digits, 1);
  }
  return text;
}

std::string NumOrNa(const std::optional<double>& v) {
  return v ? Num(*v) : std::string("<span class=\"na\">n/a</span>");
}

// "2026-03-14 09:26:53 UTC": the report may be read far from the station.
std::string UtcTime(int64_t ms) {
  if (ms <= 0) return "<span class=\"na\">n/a</span>";
  std::time_t seconds = static_cast<std::time_t>(ms / 1000);
  std::tm utc{};
  if (!gmtime_r(&seconds, &utc)) return "<span class=\"na\">n/a</span>";
  char text[40];
  std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S UTC", &utc);
  return text;
}

std::string Duration(int64_t started_ms, int64_t ended_ms) {
  if (started_ms <= 0 || ended_ms < started_ms) return "<span class=\"na\">n/a</span>";
  const double s = static_cast<double>(ended_ms - started_ms) / 1000.0;
  if (s < 60) return fmt::format("{:.1f} s", s);
  const int64_t whole = static_cast<int64_t>(s);
  if (whole < 3600) return fmt::format("{} min {:02} s", whole / 60, whole % 60);
  return fmt::format("{} h {:02} min", whole / 3600, whole / 60 % 60);
}

const char* OutcomeClass(Outcome o) {
  switch (o) {
    case Outcome::kPass:
      return "pass";
    case Outcome::kFail:
      return "fail";
    case Outcome::kSkip:
      return "skip";
    case Outcome::kError:
      return "error";
  }
  return "error";
}

std::string Pill(Outcome o) {
  return fmt::format("<span class=\"pill {}\">{}</span>", OutcomeClass(o), OutcomeName(o));
}

std::string LaneText(int lane) { return lane == 0 ? "module" : std::to_string(lane); }

// One colour per lane, the same in every chart; the module's own series
// (temperature, Vcc) in dark grey.
const char* LaneColor(int lane) {
  static const char* const kColors[] = {"#1f77b4", "#ff7f0e", "#2ca02c", "#d62728",
                                        "#9467bd", "#8c564b", "#e377c2", "#17becf"};
  if (lane <= 0) return "#3d4451";
  return kColors[(lane - 1) % 8];
}

// --- Charts ---

struct Point {
  double t;
  double v;
  bool gap = false;  // not a sample: where one step's samples end and the next's begin
};

// All samples of one series of one lane, over every step, in time order.
using SeriesKey = std::pair<std::string, int>;  // series, lane
using SeriesMap = std::map<SeriesKey, std::vector<Point>>;

struct Line {
  int lane = 0;
  bool dashed = false;
  const std::vector<Point>* points = nullptr;
};

struct Limit {
  double value;
  std::string label;
  bool low = false;  // its label goes under the line
};

struct Chart {
  int width = 960;
  int height = 340;
  bool log_y = false;
  std::string title;  // already escaped; for the SVG's accessible name
  std::vector<Line> lines;
  std::vector<Limit> limits;
  double t_lo = 0, t_hi = 1;
};

// Ticks at 1, 2 or 5 times a power of ten, about `count` of them.
std::vector<double> NiceTicks(double lo, double hi, int count, double* step_out) {
  const double span = hi - lo;
  const double raw = span / std::max(count, 1);
  const double mag = std::pow(10.0, std::floor(std::log10(raw)));
  const double r = raw / mag;
  const double step = (r < 1.5 ? 1 : r < 3.5 ? 2 : r < 7.5 ? 5 : 10) * mag;
  std::vector<double> ticks;
  if (!std::isfinite(step) || step <= 0) return ticks;
  for (double t = std::ceil(lo / step - 1e-9) * step; t <= hi + step * 1e-9 && ticks.size() < 50;
       t += step)
    ticks.push_back(std::fabs(t) < step * 1e-9 ? 0.0 : t);
  if (step_out) *step_out = step;
  return ticks;
}

// A value on the chart's y scale, or nothing when it cannot be drawn there
// (NaN, infinite, or not positive on a log scale).
std::optional<double> Scaled(double v, bool log) {
  if (!std::isfinite(v)) return std::nullopt;
  if (!log) return v;
  if (v <= 0) return std::nullopt;
  return std::log10(v);
}

// SVG text content: a decade as 10 with its exponent raised.
std::string TickLabel(double v, bool log) {
  if (!log) return Num(v);
  const int e = static_cast<int>(std::lround(v));
  if (e == 0) return "1";
  return fmt::format("10<tspan dy=\"-5\" font-size=\"9\">{}{}</tspan>", e < 0 ? "−" : "",
                     std::abs(e));
}

// The polylines of one line, decimated to at most two points (the lowest
// and the highest) per two pixels of width, so a line of a hundred thousand
// samples stays under ten kilobytes. A point that cannot be drawn breaks it.
std::string Polylines(const Line& line, bool log, double x0, double xw, double t_lo, double t_hi,
                      double y0, double yh, double v_lo, double v_hi) {
  constexpr double kBucketPx = 2.0;
  const long double tspan = static_cast<long double>(t_hi) - t_lo;
  const long double vspan = static_cast<long double>(v_hi) - v_lo;
  const auto X = [&](double t) {
    return static_cast<double>(x0 + (static_cast<long double>(t) - t_lo) / tspan * xw);
  };
  const auto Y = [&](double v) {
    return static_cast<double>(y0 + yh - (static_cast<long double>(v) - v_lo) / vspan * yh);
  };

  std::vector<std::vector<std::pair<double, double>>> segments(1);
  auto emit = [&](double x, double y) {
    auto& seg = segments.back();
    if (!seg.empty() && std::fabs(seg.back().first - x) < 0.05 &&
        std::fabs(seg.back().second - y) < 0.05)
      return;
    seg.emplace_back(x, y);
  };
  auto brk = [&] {
    if (!segments.back().empty()) segments.emplace_back();
  };

  // One bucket at a time: its lowest and highest drawable points, in their
  // order. A point that cannot be drawn ends the segment.
  struct Kept {
    double x, s;
    size_t i;
  };
  long bucket = -1;
  std::optional<Kept> lo_pt, hi_pt;
  auto flush = [&] {
    if (!lo_pt) return;
    const bool lo_first = lo_pt->i <= hi_pt->i;
    const Kept& a = lo_first ? *lo_pt : *hi_pt;
    const Kept& b = lo_first ? *hi_pt : *lo_pt;
    emit(a.x, Y(a.s));
    emit(b.x, Y(b.s));
    lo_pt.reset();
    hi_pt.reset();
  };
  const std::vector<Point>& points = *line.points;
  for (size_t i = 0; i < points.size(); ++i) {
    const Point& p = points[i];
    const double x = X(p.t);
    const auto s = p.gap ? std::nullopt : Scaled(p.v, log);
    if (!s) {
      flush();
      brk();
      continue;
    }
    const long b = static_cast<long>(std::floor((x - x0) / kBucketPx));
    if (b != bucket) {
      flush();
      bucket = b;
    }
    if (!lo_pt || *s < lo_pt->s) lo_pt = Kept{x, *s, i};
    if (!hi_pt || *s > hi_pt->s) hi_pt = Kept{x, *s, i};
  }
  flush();

  std::string out;
  const char* color = LaneColor(line.lane);
  for (const auto& seg : segments) {
    if (seg.empty()) continue;
    if (seg.size() == 1) {
      fmt::format_to(std::back_inserter(out),
                     "<circle cx=\"{:.1f}\" cy=\"{:.1f}\" r=\"2\" fill=\"{}\"/>", seg[0].first,
                     seg[0].second, color);
      continue;
    }
    fmt::format_to(std::back_inserter(out),
                   "<polyline fill=\"none\" stroke=\"{}\" stroke-width=\"{}\"{} "
                   "stroke-linejoin=\"round\" points=\"",
                   color, line.dashed ? "1.2" : "1.6",
                   line.dashed ? " stroke-dasharray=\"5 3\"" : "");
    for (size_t i = 0; i < seg.size(); ++i)
      fmt::format_to(std::back_inserter(out), "{}{:.1f},{:.1f}", i ? " " : "", seg[i].first,
                     seg[i].second);
    out += "\"/>";
  }
  return out;
}

std::string RenderChart(const Chart& c, int id) {
  // The value range over what can be drawn, and the limits.
  double lo = INFINITY, hi = -INFINITY;
  for (const Line& line : c.lines)
    for (const Point& p : *line.points)
      if (const auto s = Scaled(p.v, c.log_y); s && std::isfinite(p.t)) {
        lo = std::min(lo, *s);
        hi = std::max(hi, *s);
      }
  if (!(lo <= hi))
    return "<p class=\"empty\">No value of these samples can be drawn (all NaN, infinite" +
           std::string(c.log_y ? " or zero" : "") + ").</p>";
  for (const Limit& l : c.limits)
    if (const auto s = Scaled(l.value, c.log_y)) {
      lo = std::min(lo, *s);
      hi = std::max(hi, *s);
    }

  std::vector<double> yticks;
  if (c.log_y) {
    lo = std::floor(lo);
    hi = std::ceil(hi);
    if (hi - lo < 2) {
      lo -= 1;
      hi += 1;
    }
    const double decades = hi - lo;
    const int every = std::max(1, static_cast<int>(std::ceil(decades / 8)));
    for (double e = lo; e <= hi; e += every) yticks.push_back(e);
  } else {
    if (hi - lo < std::max(std::fabs(hi), 1.0) * 1e-9) {
      const double pad = std::max(std::fabs(hi) * 0.05, 0.5);
      lo -= pad;
      hi += pad;
    } else if (std::isfinite(hi - lo)) {
      const double pad = (hi - lo) * 0.08;
      lo -= pad;
      hi += pad;
    }
    double step = 0;
    yticks = NiceTicks(lo, hi, c.height > 260 ? 6 : 4, &step);
    if (step > 0) {
      lo = std::min(lo, std::floor(lo / step) * step);
      hi = std::max(hi, std::ceil(hi / step) * step);
      if (std::isfinite(lo) && std::isfinite(hi))
        yticks = NiceTicks(lo, hi, c.height > 260 ? 6 : 4, nullptr);
    }
  }

  double t_lo = c.t_lo, t_hi = c.t_hi;
  if (!(t_hi > t_lo)) t_hi = t_lo + 1;
  double tstep = 0;
  const std::vector<double> xticks = NiceTicks(t_lo, t_hi, c.width > 600 ? 10 : 5, &tstep);

  const double ml = 62, mr = 16, mt = 12, mb = 38;
  const double xw = c.width - ml - mr, yh = c.height - mt - mb;
  const auto Y = [&](double s) { return mt + yh - (s - lo) / (hi - lo) * yh; };
  const auto X = [&](double t) { return ml + (t - t_lo) / (t_hi - t_lo) * xw; };

  std::string out;
  auto o = std::back_inserter(out);
  fmt::format_to(o,
                 "<svg class=\"chart{}\" viewBox=\"0 0 {} {}\" role=\"img\" aria-label=\"{}\" "
                 "preserveAspectRatio=\"xMidYMid meet\">",
                 c.width < 600 ? " small" : "", c.width, c.height, c.title);
  fmt::format_to(
      o,
      "<defs><clipPath id=\"plot{}\"><rect x=\"{}\" y=\"{}\" width=\"{}\" height=\"{}\"/>"
      "</clipPath></defs>",
      id, ml, mt - 2, xw, yh + 4);
  // Grid and tick labels.
  out += "<g class=\"grid\">";
  for (double v : yticks) {
    if (v < lo - 1e-9 || v > hi + 1e-9) continue;
    const double y = Y(v);
    fmt::format_to(o, "<line x1=\"{}\" x2=\"{:.1f}\" y1=\"{:.1f}\" y2=\"{:.1f}\"/>", ml, ml + xw, y,
                   y);
  }
  for (double t : xticks) {
    const double x = X(t);
    fmt::format_to(o, "<line x1=\"{:.1f}\" x2=\"{:.1f}\" y1=\"{}\" y2=\"{}\"/>", x, x, mt, mt + yh);
  }
  out += "</g><g class=\"ticks\">";
  for (double v : yticks) {
    if (v < lo - 1e-9 || v > hi + 1e-9) continue;
    fmt::format_to(o, "<text x=\"{}\" y=\"{:.1f}\" text-anchor=\"end\">{}</text>", ml - 6, Y(v) + 4,
                   TickLabel(v, c.log_y));
  }
  for (double t : xticks)
    fmt::format_to(o, "<text x=\"{:.1f}\" y=\"{}\" text-anchor=\"middle\">{}</text>", X(t),
                   mt + yh + 16, Num(t));
  fmt::format_to(
      o, "<text x=\"{:.1f}\" y=\"{}\" text-anchor=\"middle\" class=\"axis\">time (s)</text>",
      ml + xw / 2, c.height - 4);
  out += "</g>";
  fmt::format_to(o, "<rect class=\"frame\" x=\"{}\" y=\"{}\" width=\"{}\" height=\"{}\"/>", ml, mt,
                 xw, yh);

  fmt::format_to(o, "<g clip-path=\"url(#plot{})\">", id);
  for (const Line& line : c.lines)
    out += Polylines(line, c.log_y, ml, xw, t_lo, t_hi, mt, yh, lo, hi);
  for (const Limit& l : c.limits)
    if (const auto s = Scaled(l.value, c.log_y)) {
      const double y = Y(*s);
      fmt::format_to(o,
                     "<line class=\"limit\" x1=\"{}\" x2=\"{:.1f}\" y1=\"{:.1f}\" y2=\"{:.1f}\"/>",
                     ml, ml + xw, y, y);
      // A high limit's label above its line, a low limit's under it, so
      // two close limits keep apart; inside the plot at its edges.
      const bool under = l.low ? (mt + yh) - y >= 14 : y - mt < 14;
      fmt::format_to(
          o, "<text class=\"limit\" x=\"{:.1f}\" y=\"{:.1f}\" text-anchor=\"end\">{}</text>",
          ml + xw - 4, under ? y + 12 : y - 4, l.label);
    }
  out += "</g></svg>";
  return out;
}

std::string LegendSwatch(int lane, bool dashed) {
  return fmt::format(
      "<svg class=\"swatch\" width=\"22\" height=\"10\" viewBox=\"0 0 22 10\" aria-hidden=\"true\">"
      "<line x1=\"1\" x2=\"21\" y1=\"5\" y2=\"5\" stroke=\"{}\" stroke-width=\"2\"{}/></svg>",
      LaneColor(lane), dashed ? " stroke-dasharray=\"5 3\"" : "");
}

// The limits of the measurements named like a charted series, when they
// agree (one low, one high): the DDM step's own, not the tx-disable step's.
std::vector<Limit> LimitsOf(const RunRecord& run, const std::set<std::string>& names) {
  std::set<double> lows, highs;
  for (const StepRecord& step : run.steps)
    for (const Measurement& m : step.measurements) {
      if (!names.count(m.name)) continue;
      if (m.low && std::isfinite(*m.low)) lows.insert(*m.low);
      if (m.high && std::isfinite(*m.high)) highs.insert(*m.high);
    }
  std::vector<Limit> out;
  if (lows.size() == 1) out.push_back({*lows.begin(), "low limit " + Num(*lows.begin()), true});
  if (highs.size() == 1)
    out.push_back({*highs.begin(), "high limit " + Num(*highs.begin()), false});
  return out;
}

std::string UnitOf(const RunRecord& run, const std::string& series) {
  for (const StepRecord& step : run.steps)
    for (const Measurement& m : step.measurements)
      if (m.name == series && !m.unit.empty()) return m.unit;
  static const std::map<std::string, std::string> kUnits = {
      {"temperature", "℃"}, {"vcc", "V"}, {"bias", "mA"}, {"tx power", "dBm"}, {"rx power", "dBm"}};
  const auto it = kUnits.find(series);
  return it == kUnits.end() ? std::string() : it->second;
}

bool IsBer(const std::string& series) { return series == "ber" || series == "ber upper"; }

// --- Sections ---

const char* kStyle = R"CSS(
:root{--ink:#1f2328;--muted:#59636e;--line:#d8dee4;--soft:#f6f8fa;
--pass:#1a7f37;--pass-bg:#eaf6ec;--fail:#c4242f;--fail-bg:#fdecee;
--error:#9a6700;--error-bg:#fff5d6;--skip:#6e7781;--skip-bg:#f0f2f4}
*{box-sizing:border-box}
html{-webkit-print-color-adjust:exact;print-color-adjust:exact}
body{margin:0;background:#fff;color:var(--ink);
font:14px/1.45 system-ui,-apple-system,"Segoe UI","Liberation Sans","DejaVu Sans",Arial,sans-serif}
main{max-width:1060px;margin:0 auto;padding:28px 36px 48px}
header.top{display:flex;justify-content:space-between;align-items:stretch;gap:28px;
border-bottom:2px solid var(--ink);padding-bottom:18px}
.kicker{text-transform:uppercase;letter-spacing:.09em;font-size:12px;color:var(--muted);margin:0}
h1{font-size:28px;line-height:1.2;margin:6px 0 4px;overflow-wrap:anywhere}
.sub{color:var(--muted);margin:0;overflow-wrap:anywhere}
.verdict{flex:none;min-width:230px;text-align:center;border:3px solid;border-radius:12px;
padding:12px 24px;display:flex;flex-direction:column;justify-content:center}
.verdict .word{font-size:68px;font-weight:800;letter-spacing:.05em;line-height:1}
.verdict .why{font-size:13px;margin-top:8px;color:var(--ink);max-width:300px;overflow-wrap:anywhere}
.verdict.pass{color:var(--pass);background:var(--pass-bg)}
.verdict.fail{color:var(--fail);background:var(--fail-bg)}
.verdict.error{color:var(--error);background:var(--error-bg)}
.verdict.skip{color:var(--skip);background:var(--skip-bg)}
section{margin-top:30px}
h2{font-size:19px;margin:0 0 12px;padding-bottom:5px;border-bottom:1px solid var(--line)}
h3{font-size:15px;margin:0;display:flex;align-items:baseline;gap:10px;flex-wrap:wrap}
h3 .kind{font-weight:400;color:var(--muted);font-size:13px}
h3 .pill{margin-left:auto}
.cards{display:grid;grid-template-columns:repeat(3,1fr);gap:14px}
.card{border:1px solid var(--line);border-radius:8px;padding:10px 14px}
.card h4{margin:0 0 6px;font-size:12px;text-transform:uppercase;letter-spacing:.08em;color:var(--muted)}
dl{display:grid;grid-template-columns:max-content 1fr;gap:2px 12px;margin:0}
dt{color:var(--muted)}
dd{margin:0;overflow-wrap:break-word;min-width:0}
.mono{font-family:"DejaVu Sans Mono","Liberation Mono",Menlo,Consolas,monospace;font-size:12px}
table{width:100%;border-collapse:collapse;font-size:13px;font-variant-numeric:tabular-nums}
th,td{text-align:left;padding:4px 8px;border-bottom:1px solid var(--line);vertical-align:top}
th{font-weight:600;color:var(--muted);background:var(--soft);white-space:nowrap}
td{overflow-wrap:break-word}
td.num,th.num{text-align:right;white-space:nowrap}
table.compact{width:auto;min-width:60%}
table.compact th,table.compact td{padding-right:22px}
table.measurements{table-layout:fixed}
tr.fail td{background:var(--fail-bg)}
tr.error td{background:var(--error-bg)}
.pill{display:inline-block;min-width:52px;text-align:center;padding:0 8px;border-radius:999px;
font-size:11px;font-weight:700;letter-spacing:.04em;border:1px solid}
.pill.pass{color:var(--pass);background:var(--pass-bg)}
.pill.fail{color:var(--fail);background:var(--fail-bg)}
.pill.error{color:var(--error);background:var(--error-bg)}
.pill.skip{color:var(--skip);background:var(--skip-bg)}
.na{color:var(--muted);font-style:italic}
.nw{white-space:nowrap}
.step{border:1px solid var(--line);border-radius:8px;padding:12px 14px;margin-bottom:14px}
.step.fail{border-left:5px solid var(--fail)}
.step.error{border-left:5px solid var(--error)}
.step .msg{margin:6px 0 8px;color:var(--ink)}
.step .meta{color:var(--muted);font-size:12px;margin:2px 0 8px}
.empty{color:var(--muted);font-style:italic;margin:4px 0}
figure{margin:0 0 16px;break-inside:avoid}
figcaption{font-weight:600;font-size:13px;margin-bottom:4px}
figcaption .unit{font-weight:400;color:var(--muted)}
.note{color:var(--muted);font-size:12px;margin:4px 0 10px}
svg.chart{display:block;width:100%;height:auto;font-size:11px;
font-family:system-ui,"Liberation Sans","DejaVu Sans",Arial,sans-serif}
svg.chart.small{font-size:12.5px}
svg.chart .grid line{stroke:#e6e9ed;stroke-width:1}
svg.chart .frame{fill:none;stroke:#9aa3ad;stroke-width:1}
svg.chart .ticks text{fill:#59636e}
svg.chart .axis{fill:#59636e}
svg.chart line.limit{stroke:#c4242f;stroke-width:1.2;stroke-dasharray:7 4}
svg.chart text.limit{fill:#c4242f;font-size:10px;paint-order:stroke;stroke:#fff;stroke-width:3px;stroke-linejoin:round}
.multiples{display:grid;grid-template-columns:1fr 1fr;gap:6px 26px}
.legend{display:flex;flex-wrap:wrap;gap:4px 16px;font-size:12px;color:var(--muted);margin:0 0 8px}
.legend span{display:inline-flex;align-items:center;gap:5px;white-space:nowrap}
td .swatch{margin-right:6px;vertical-align:middle}
pre.plan{background:var(--soft);border:1px solid var(--line);border-radius:6px;padding:10px 12px;
font-size:12px;white-space:pre-wrap;overflow-wrap:anywhere;margin:0}
footer{margin-top:36px;color:var(--muted);font-size:12px;border-top:1px solid var(--line);padding-top:8px}
@page{size:A4;margin:13mm 12mm}
@media print{
body{font-size:9.5pt}
table{font-size:8.5pt}
th,td{padding:3px 6px}
main{max-width:none;padding:0}
section.newpage{break-before:page}
header.top,.card,.step,figure,tr,.verdict{break-inside:avoid}
h2,h3,figcaption{break-after:avoid}
thead{display:table-header-group}
h1{font-size:20pt}
.verdict{min-width:190px;padding:8px 16px}
.verdict .word{font-size:46pt}
.cards{grid-template-columns:1fr 1fr;gap:10px}
.card.wide{grid-column:span 2}
.card.wide dl{grid-template-columns:max-content 1fr max-content 1fr}
.step{border-color:#c9d1d9}
}
@media screen and (max-width:760px){.cards,.multiples{grid-template-columns:1fr}header.top{flex-direction:column}}
)CSS";

void Header(std::string& out, const RunRecord& run) {
  auto o = std::back_inserter(out);
  out += "<header class=\"top\"><div>";
  fmt::format_to(o, "<p class=\"kicker\">Qualification report · run {}</p>", run.id);
  std::string title;
  if (!run.vendor.empty() || !run.part_number.empty())
    title = "<span class=\"nw\">" + Esc(run.vendor) + "</span>" +
            (run.vendor.empty() || run.part_number.empty() ? "" : " ") + "<span class=\"nw\">" +
            Esc(run.part_number) + "</span>";
  else
    title = "Module not identified";
  fmt::format_to(o, "<h1>{}</h1>", title);
  fmt::format_to(o, "<p class=\"sub\">Serial <strong>{}</strong> · plan <strong>{}</strong>",
                 TextOrNa(run.serial), TextOrNa(run.plan_name));
  if (!run.profile.empty()) fmt::format_to(o, " · profile <strong>{}</strong>", Esc(run.profile));
  out += "</p>";
  fmt::format_to(o, "<p class=\"sub\">{} · {}</p>", UtcTime(run.started_ms),
                 Duration(run.started_ms, run.ended_ms));
  out += "</div>";
  fmt::format_to(o, "<div class=\"verdict {}\"><div class=\"word\">{}</div>",
                 OutcomeClass(run.verdict), OutcomeName(run.verdict));
  if (!run.verdict_message.empty())
    fmt::format_to(o, "<div class=\"why\">{}</div>", Esc(run.verdict_message));
  out += "</div></header>";
}

void Identity(std::string& out, const RunRecord& run) {
  auto o = std::back_inserter(out);
  auto row = [&](const char* name, const std::string& value_html) {
    fmt::format_to(o, "<dt>{}</dt><dd>{}</dd>", name, value_html);
  };
  out += "<section id=\"identity\"><h2>Identity</h2><div class=\"cards\">";
  out += "<div class=\"card\"><h4>Module</h4><dl>";
  row("Vendor", TextOrNa(run.vendor));
  row("Part number", TextOrNa(run.part_number));
  row("Serial", TextOrNa(run.serial));
  row("Revision", TextOrNa(run.revision));
  row("Firmware", TextOrNa(run.firmware));
  out += "</dl></div><div class=\"card\"><h4>Plan</h4><dl>";
  row("Plan", TextOrNa(run.plan_name));
  row("SHA-256", run.plan_hash.empty() ? TextOrNa(run.plan_hash)
                                       : "<span class=\"mono\">" + Esc(run.plan_hash) + "</span>");
  row("Profile", TextOrNa(run.profile));
  row("Tool", TextOrNa(run.tool_version));
  out += "</dl></div><div class=\"card wide\"><h4>Station</h4><dl>";
  row("Host", TextOrNa(run.host));
  row("User", TextOrNa(run.user));
  row("Board", TextOrNa(run.board_path));
  row("Board serial", TextOrNa(run.board_serial));
  row("Started", UtcTime(run.started_ms));
  row("Ended", UtcTime(run.ended_ms));
  row("Duration", Duration(run.started_ms, run.ended_ms));
  out += "</dl></div></div></section>";
}

void StepSummary(std::string& out, const RunRecord& run) {
  auto o = std::back_inserter(out);
  out += "<section id=\"steps\"><h2>Steps</h2>";
  if (run.steps.empty()) {
    out += "<p class=\"empty\">The run has no steps.</p></section>";
    return;
  }
  out +=
      "<table><thead><tr><th class=\"num\">#</th><th>Step</th><th>Kind</th><th>Outcome</th>"
      "<th class=\"num\">Duration</th><th>Message</th></tr></thead><tbody>";
  for (size_t i = 0; i < run.steps.size(); ++i) {
    const StepRecord& s = run.steps[i];
    fmt::format_to(
        o,
        "<tr class=\"{}\"><td class=\"num\">{}</td><td>{}</td><td class=\"nw\">{}</td><td>{}</td>"
        "<td class=\"num\">{}</td><td>{}</td></tr>",
        OutcomeClass(s.outcome), i + 1, Esc(s.name), Esc(s.kind), Pill(s.outcome),
        Duration(s.started_ms, s.ended_ms), Esc(s.message));
  }
  out += "</tbody></table></section>";
}

void StepDetails(std::string& out, const RunRecord& run) {
  if (run.steps.empty()) return;
  auto o = std::back_inserter(out);
  out += "<section id=\"measurements\" class=\"newpage\"><h2>Measurements</h2>";
  for (size_t i = 0; i < run.steps.size(); ++i) {
    const StepRecord& s = run.steps[i];
    fmt::format_to(o, "<div class=\"step {}\"><h3>{}. {} <span class=\"kind\">{}</span>{}</h3>",
                   OutcomeClass(s.outcome), i + 1, Esc(s.name), Esc(s.kind), Pill(s.outcome));
    fmt::format_to(o, "<p class=\"meta\">{} · {}", UtcTime(s.started_ms),
                   Duration(s.started_ms, s.ended_ms));
    if (!s.samples.empty()) fmt::format_to(o, " · {} samples", s.samples.size());
    out += "</p>";
    if (!s.message.empty()) fmt::format_to(o, "<p class=\"msg\">{}</p>", Esc(s.message));
    if (s.measurements.empty()) {
      out += "<p class=\"empty\">No measurements.</p></div>";
      continue;
    }
    // The same columns in every step's table.
    out +=
        "<table class=\"measurements\"><colgroup><col style=\"width:19%\"><col style=\"width:7%\">"
        "<col style=\"width:14%\"><col style=\"width:10%\"><col style=\"width:10%\">"
        "<col style=\"width:13%\"><col style=\"width:8%\"><col></colgroup>"
        "<thead><tr><th>Measurement</th><th>Lane</th><th class=\"num\">Value</th>"
        "<th class=\"num\">Low limit</th><th class=\"num\">High limit</th><th>Expected</th>"
        "<th>Outcome</th><th>Note</th></tr></thead><tbody>";
    for (const Measurement& m : s.measurements) {
      std::string value;
      if (m.value)
        value = Num(*m.value) + (m.unit.empty() ? "" : " " + Esc(m.unit));
      else if (!m.text.empty())
        value = "<span class=\"mono\">" + Esc(m.text) + "</span>";
      else
        value = "<span class=\"na\">n/a</span>";
      const auto limit = [&](const std::optional<double>& l) {
        return l ? Num(*l) + (m.unit.empty() ? "" : " " + Esc(m.unit)) : std::string("—");
      };
      fmt::format_to(
          o,
          "<tr class=\"{}\"><td>{}</td><td>{}</td><td class=\"num\">{}</td>"
          "<td class=\"num\">{}</td><td class=\"num\">{}</td><td>{}</td><td>{}</td>"
          "<td>{}</td></tr>",
          OutcomeClass(m.outcome), Esc(m.name), LaneText(m.lane), value, limit(m.low),
          limit(m.high),
          m.expected.empty() ? "—" : "<span class=\"mono\">" + Esc(m.expected) + "</span>",
          Pill(m.outcome), Esc(m.note));
    }
    out += "</tbody></table></div>";
  }
  out += "</section>";
}

// The time axis of the BER or the DDM charts: from the first sample to the
// last, or from the start of the run when the samples began near it.
void TimeRange(const SeriesMap& series, bool ber, double* lo, double* hi) {
  *lo = INFINITY;
  *hi = -INFINITY;
  for (const auto& [key, points] : series) {
    if (IsBer(key.first) != ber || points.empty()) continue;
    *lo = std::min(*lo, points.front().t);
    *hi = std::max(*hi, points.back().t);
  }
  if (!(*lo <= *hi)) *lo = *hi = 0;
  if (*lo > 0 && *lo < (*hi - *lo) * 0.15) *lo = 0;
  if (!(*hi > *lo)) *hi = *lo + 1;
}

void BerSection(std::string& out, const RunRecord& run, const SeriesMap& series, int* chart_id) {
  auto o = std::back_inserter(out);
  out += "<section id=\"ber\" class=\"newpage\"><h2>Bit error ratio per lane</h2>";
  Chart chart;
  chart.log_y = true;
  chart.title = "BER per lane over time, log scale";
  std::set<int> lanes;
  bool any_upper = false;
  for (const auto& [key, points] : series) {
    if (!IsBer(key.first)) continue;
    lanes.insert(key.second);
    const bool upper = key.first == "ber upper";
    any_upper |= upper;
    chart.lines.push_back({key.second, upper, &points});
  }
  if (chart.lines.empty()) {
    out += "<p class=\"empty\">No BER samples were recorded.</p></section>";
    return;
  }
  // Draw the bounds under the measured values.
  std::stable_sort(chart.lines.begin(), chart.lines.end(),
                   [](const Line& a, const Line& b) { return a.dashed > b.dashed; });
  TimeRange(series, true, &chart.t_lo, &chart.t_hi);
  chart.limits = LimitsOf(run, {"ber", "ber upper"});
  out += "<figure><div class=\"legend\">";
  for (int lane : lanes)
    fmt::format_to(o, "<span>{}lane {}</span>", LegendSwatch(lane, false), LaneText(lane));
  if (any_upper) fmt::format_to(o, "<span>{}upper bound</span>", LegendSwatch(-1, true));
  out += "</div>";
  out += RenderChart(chart, (*chart_id)++);
  out +=
      "</figure><p class=\"note\">Measured BER solid, its upper confidence bound dashed, in the "
      "lane's colour. A BER of 0 (no error counted) cannot be drawn on the log scale; "
      "its upper bound is.</p>";

  // The last value of each lane, for reading without the chart.
  out +=
      "<table class=\"compact\"><thead><tr><th>Lane</th><th class=\"num\">Last BER</th>"
      "<th class=\"num\">Upper bound</th><th class=\"num\">At (s)</th>"
      "<th class=\"num\">Samples</th></tr></thead><tbody>";
  for (int lane : lanes) {
    auto last = [&](const char* name, double* t) -> std::optional<double> {
      const auto it = series.find({name, lane});
      if (it == series.end()) return std::nullopt;
      for (auto p = it->second.rbegin(); p != it->second.rend(); ++p)
        if (std::isfinite(p->v) && std::isfinite(p->t)) {
          *t = std::max(*t, p->t);
          return p->v;
        }
      return std::nullopt;
    };
    double t = -INFINITY;
    const auto ber = last("ber", &t);
    const auto upper = last("ber upper", &t);
    size_t count = 0;
    if (const auto it = series.find({"ber", lane}); it != series.end())
      count = static_cast<size_t>(std::count_if(it->second.begin(), it->second.end(),
                                                [](const Point& p) { return !p.gap; }));
    fmt::format_to(o,
                   "<tr><td>{}{}</td><td class=\"num\">{}</td><td class=\"num\">{}</td>"
                   "<td class=\"num\">{}</td><td class=\"num\">{}</td></tr>",
                   LegendSwatch(lane, false), LaneText(lane), NumOrNa(ber), NumOrNa(upper),
                   std::isfinite(t) ? Num(t) : std::string("<span class=\"na\">n/a</span>"), count);
  }
  out += "</tbody></table></section>";
}

void DdmSection(std::string& out, const RunRecord& run, const SeriesMap& series, int* chart_id) {
  auto o = std::back_inserter(out);
  out += "<section id=\"ddm\" class=\"newpage\"><h2>Diagnostics over time</h2>";
  // The usual monitors first, then any other series in name order.
  static const std::vector<std::string> kOrder = {"temperature", "vcc", "bias", "tx power",
                                                  "rx power"};
  std::vector<std::string> names;
  for (const std::string& n : kOrder)
    for (const auto& [key, points] : series)
      if (key.first == n) {
        names.push_back(n);
        break;
      }
  for (const auto& [key, points] : series)
    if (!IsBer(key.first) && std::find(names.begin(), names.end(), key.first) == names.end())
      names.push_back(key.first);
  if (names.empty()) {
    out += "<p class=\"empty\">No diagnostic samples were recorded.</p></section>";
    return;
  }
  double t_lo, t_hi;
  TimeRange(series, false, &t_lo, &t_hi);
  std::set<int> lanes;
  for (const auto& [key, points] : series)
    if (!IsBer(key.first)) lanes.insert(key.second);
  out += "<div class=\"legend\">";
  for (int lane : lanes)
    fmt::format_to(o, "<span>{}{}</span>", LegendSwatch(lane, false),
                   lane == 0 ? std::string("module") : "lane " + LaneText(lane));
  bool any_limit = false;
  for (const std::string& name : names) any_limit |= !LimitsOf(run, {name}).empty();
  if (any_limit)
    out +=
        "<span><svg class=\"swatch\" width=\"22\" height=\"10\" viewBox=\"0 0 22 10\" "
        "aria-hidden=\"true\"><line x1=\"1\" x2=\"21\" y1=\"5\" y2=\"5\" stroke=\"#c4242f\" "
        "stroke-width=\"1.5\" stroke-dasharray=\"5 3\"/></svg>limit</span>";
  out += "</div>";
  out += "<div class=\"multiples\">";
  for (const std::string& name : names) {
    Chart chart;
    chart.width = 480;
    chart.height = 230;
    chart.t_lo = t_lo;
    chart.t_hi = t_hi;
    chart.title = Esc(name) + " over time";
    for (const auto& [key, points] : series)
      if (key.first == name) chart.lines.push_back({key.second, false, &points});
    chart.limits = LimitsOf(run, {name});
    const std::string unit = UnitOf(run, name);
    fmt::format_to(o, "<figure><figcaption>{}{}</figcaption>", Esc(name),
                   unit.empty() ? "" : " <span class=\"unit\">(" + Esc(unit) + ")</span>");
    out += RenderChart(chart, (*chart_id)++);
    out += "</figure>";
  }
  out += "</div></section>";
}

void FlagSection(std::string& out, const RunRecord& run) {
  auto o = std::back_inserter(out);
  out += "<section id=\"flags\" class=\"newpage\"><h2>Flag events</h2>";
  if (run.flag_events.empty()) {
    out += "<p class=\"empty\">No latched flag was raised during the run.</p></section>";
    return;
  }
  // A module that chatters could leave thousands; the store keeps them all.
  constexpr size_t kShown = 2000;
  out +=
      "<table class=\"compact\"><thead><tr><th class=\"num\">Time (s)</th><th>Flag</th>"
      "<th>Lane</th><th>Event</th><th>During step</th></tr></thead><tbody>";
  // The step that was running when the flag was seen, from the steps' times.
  const auto during = [&](double t_s) -> std::string {
    if (!std::isfinite(t_s) || run.started_ms <= 0) return "";
    const double at_ms = static_cast<double>(run.started_ms) + t_s * 1000.0;
    for (const StepRecord& s : run.steps)
      if (s.started_ms > 0 && at_ms >= static_cast<double>(s.started_ms) &&
          at_ms < static_cast<double>(s.ended_ms))
        return Esc(s.name);
    return "";
  };
  for (size_t i = 0; i < run.flag_events.size() && i < kShown; ++i) {
    const FlagEvent& e = run.flag_events[i];
    fmt::format_to(o,
                   "<tr><td class=\"num\">{}</td><td>{}</td><td>{}</td><td>{}</td><td>{}</td></tr>",
                   std::isfinite(e.t_s) ? fmt::format("{:.1f}", e.t_s) : Num(e.t_s), Esc(e.flag),
                   LaneText(e.lane), Esc(e.event), during(e.t_s));
  }
  out += "</tbody></table>";
  if (run.flag_events.size() > kShown)
    fmt::format_to(o, "<p class=\"note\">The first {} of {} events are shown.</p>", kShown,
                   run.flag_events.size());
  out += "</section>";
}

void PlanSection(std::string& out, const RunRecord& run) {
  out += "<section id=\"plan\" class=\"newpage\"><h2>Plan</h2>";
  if (run.plan_text.empty()) {
    out += "<p class=\"empty\">The plan's text was not stored.</p></section>";
    return;
  }
  out += "<p class=\"note\">" + TextOrNa(run.plan_name) + ", SHA-256 <span class=\"mono\">" +
         TextOrNa(run.plan_hash) + "</span></p>";
  out += "<pre class=\"plan\">" + Esc(run.plan_text) + "</pre></section>";
}

}  // namespace

std::string RenderHtmlReport(const RunRecord& run) {
  SeriesMap series;
  // A sample without a valid time cannot be placed; one without a valid
  // value is kept, and breaks its line. A series that goes on in a later
  // step (bias in the DDM step, then in the Tx-disable step) is not joined
  // across the steps: what happened between them was not sampled.
  for (const StepRecord& step : run.steps) {
    std::map<SeriesKey, double> first;
    for (const Sample& s : step.samples)
      if (std::isfinite(s.t_s)) {
        auto [it, added] = first.try_emplace({s.series, s.lane}, s.t_s);
        if (!added) it->second = std::min(it->second, s.t_s);
      }
    for (const auto& [key, t] : first)
      if (const auto it = series.find(key); it != series.end() && !it->second.empty())
        it->second.push_back({t, NAN, true});
    for (const Sample& s : step.samples)
      if (std::isfinite(s.t_s)) series[{s.series, s.lane}].push_back({s.t_s, s.value});
  }
  for (auto& [key, points] : series)
    std::stable_sort(points.begin(), points.end(),
                     [](const Point& a, const Point& b) { return a.t < b.t; });

  std::string out;
  out.reserve(64 * 1024);
  auto o = std::back_inserter(out);
  out +=
      "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">"
      "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">";
  fmt::format_to(o, "<title>Run {} · {} {} · {}</title>", run.id, Esc(run.part_number),
                 Esc(run.serial), OutcomeName(run.verdict));
  out += "<style>";
  out += kStyle;
  out += "</style></head><body><main>";
  int chart_id = 0;
  Header(out, run);
  Identity(out, run);
  // The overview first, then the charts, then the details.
  StepSummary(out, run);
  BerSection(out, run, series, &chart_id);
  DdmSection(out, run, series, &chart_id);
  FlagSection(out, run);
  StepDetails(out, run);
  PlanSection(out, run);
  fmt::format_to(o, "<footer>Run {} · {} · recorded by {}</footer>", run.id, Esc(run.serial),
                 TextOrNa(run.tool_version));
  out += "</main></body></html>\n";
  return out;
}

}  // namespace records
