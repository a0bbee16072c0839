// The records of qualification runs: a module's history, the runs of a
// period, one run's measurements as CSV, and the schema of the database.
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <ostream>

#include "cli/cli.h"
#include "records/store.h"

namespace cli {

CommandOption DbOption() {
  return {"--db", "URL",
          "the records database: a file, sqlite:///path or\n"
          "postgresql://... (default: LANEWRIGHT_DB, else the file\n"
          "$XDG_DATA_HOME/lanewright/results.db)"};
}

std::unique_ptr<records::Store> OpenStore(Context& ctx, StoreUse use) {
  std::string option;
  if (ctx.Option("--db", &option) && option.empty()) throw UsageError("--db: empty URL");
  const records::Location where = records::ResolveLocation(option);
  // A command that only reads never leaves an empty database behind (a
  // mistyped --db would otherwise look like a station with no runs).
  std::error_code ec;
  if (use == StoreUse::kRead && where.backend == records::Location::Backend::kSqlite &&
      !std::filesystem::exists(where.sqlite_path, ec))
    throw records::StoreError(records::StoreError::Kind::kNotFound,
                              "no records database at " + where.display);
  return records::Store::Open(where);
}

std::string UtcTime(int64_t ms) {
  std::time_t seconds = static_cast<std::time_t>(ms / 1000);
  long millis = static_cast<long>(ms % 1000);
  if (millis < 0) {
    millis += 1000;
    --seconds;
  }
  std::tm utc{};
  gmtime_r(&seconds, &utc);
  char date[32], out[40];
  std::strftime(date, sizeof date, "%Y-%m-%dT%H:%M:%S", &utc);
  std::snprintf(out, sizeof out, "%s.%03ldZ", date, millis);
  return out;
}

int64_t ParseSince(const std::string& text) {
  auto bad = [&] {
    return UsageError("--since: \"" + text +
                      "\" is not a date; give YYYY-MM-DD or YYYY-MM-DDTHH:MM[:SS][Z|+HH:MM]"
                      " (local time without an offset)");
  };
  int y = 0, mo = 0, d = 0, h = 0, mi = 0, s = 0, used = 0;
  if (std::sscanf(text.c_str(), "%4d-%2d-%2d%n", &y, &mo, &d, &used) != 3 || used != 10)
    throw bad();
  std::string rest = text.substr(10);
  if (!rest.empty()) {
    if (rest[0] != 'T' && rest[0] != ' ') throw bad();
    int n = 0;
    if (std::sscanf(rest.c_str() + 1, "%2d:%2d%n", &h, &mi, &n) != 2 || n != 5) throw bad();
    rest = rest.substr(6);
    if (!rest.empty() && rest[0] == ':') {
      if (std::sscanf(rest.c_str() + 1, "%2d%n", &s, &n) != 1 || n != 2) throw bad();
      rest = rest.substr(3);
    }
  }
  if (mo < 1 || mo > 12 || d < 1 || d > 31 || h > 23 || mi > 59 || s > 60 || h < 0 || mi < 0 ||
      s < 0)
    throw bad();
  std::tm tm{};
  tm.tm_year = y - 1900;
  tm.tm_mon = mo - 1;
  tm.tm_mday = d;
  tm.tm_hour = h;
  tm.tm_min = mi;
  tm.tm_sec = s;
  std::time_t t;
  if (rest.empty()) {
    tm.tm_isdst = -1;
    t = std::mktime(&tm);
  } else {
    int offset = 0;
    if (rest != "Z") {
      int oh = 0, om = 0, n = 0;
      if ((rest[0] != '+' && rest[0] != '-') ||
          std::sscanf(rest.c_str() + 1, "%2d:%2d%n", &oh, &om, &n) != 2 || n != 5 ||
          rest.size() != 6 || oh > 23 || om > 59)
        throw bad();
      offset = (oh * 60 + om) * 60 * (rest[0] == '-' ? -1 : 1);
    }
    t = timegm(&tm) - offset;
  }
  return static_cast<int64_t>(t) * 1000;
}

namespace {

using records::RunSummary;

Json SummaryJson(const RunSummary& r) {
  return {{"run_id", r.id},
          {"serial", r.serial},
          {"verdict", records::OutcomeName(r.verdict)},
          {"started", UtcTime(r.started_ms)},
          {"ended", UtcTime(r.ended_ms)},
          {"part_number", r.part_number},
          {"vendor", r.vendor},
          {"plan", r.plan_name},
          {"host", r.host}};
}

void PrintSummaries(Context& ctx, const std::vector<RunSummary>& runs, const std::string& none) {
  if (ctx.json) {
    Json list = Json::array();
    for (const auto& r : runs) list.push_back(SummaryJson(r));
    ctx.PrintJson(list);
    return;
  }
  if (runs.empty()) {
    ctx.out << none << "\n";
    return;
  }
  char line[160];
  std::snprintf(line, sizeof line, "%-8s %-24s %-7s %-18s %-18s %s\n", "RUN", "STARTED (UTC)",
                "VERDICT", "SERIAL", "PART NUMBER", "PLAN");
  ctx.out << line;
  for (const auto& r : runs) {
    std::snprintf(line, sizeof line, "%-8lld %-24s %-7s ", static_cast<long long>(r.id),
                  UtcTime(r.started_ms).c_str(), records::OutcomeName(r.verdict));
    ctx.out << line << ValidUtf8(r.serial);
    if (r.serial.size() < 18) ctx.out << std::string(18 - r.serial.size(), ' ');
    ctx.out << " " << ValidUtf8(r.part_number);
    if (r.part_number.size() < 18) ctx.out << std::string(18 - r.part_number.size(), ' ');
    ctx.out << " " << ValidUtf8(r.plan_name) << "\n";
  }
}

int History(Context& ctx, std::vector<std::string>& args) {
  if (args.size() != 1) throw UsageError("usage: history SERIAL");
  if (args[0].empty()) throw UsageError("history: empty serial number");
  auto store = OpenStore(ctx, StoreUse::kRead);
  PrintSummaries(ctx, store->History(args[0]), "no runs of serial " + ValidUtf8(args[0]));
  return kOk;
}

int Runs(Context& ctx, std::vector<std::string>& args) {
  if (!args.empty()) throw UsageError("usage: runs [--since DATE] [--verdict PASS|FAIL|ERROR]");
  records::RunFilter filter;
  std::string text;
  if (ctx.Option("--since", &text)) filter.since_ms = ParseSince(text);
  if (ctx.Option("--verdict", &text)) {
    records::Outcome verdict;
    if (!records::ParseOutcome(text, &verdict) || verdict == records::Outcome::kSkip)
      throw UsageError("--verdict: \"" + text + "\" is not PASS, FAIL or ERROR");
    filter.verdict = verdict;
  }
  auto store = OpenStore(ctx, StoreUse::kRead);
  PrintSummaries(ctx, store->Runs(filter), "no runs");
  return kOk;
}

std::string CsvField(const std::string& text) {
  const std::string valid = ValidUtf8(text);
  if (valid.find_first_of(",\"\r\n") == std::string::npos) return valid;
  std::string out = "\"";
  for (char c : valid) {
    if (c == '"') out += '"';
    out += c;
  }
  return out + "\"";
}

std::string Number(const std::optional<double>& v, const char* absent) {
  if (!v) return absent;
  char buf[32];
  const auto r = std::to_chars(buf, buf + sizeof buf, *v);
  return std::string(buf, r.ptr);
}

}  // namespace

std::string MeasurementsCsv(const records::RunRecord& run) {
  std::string out =
      "run_id,step,kind,step_outcome,name,lane,value,text,unit,low,high,expected,outcome,note\r\n";
  for (const auto& step : run.steps)
    for (const auto& m : step.measurements) {
      const std::vector<std::string> fields = {
          std::to_string(run.id), CsvField(step.name), CsvField(step.kind),
          records::OutcomeName(step.outcome), CsvField(m.name), std::to_string(m.lane),
          // A number the module did not give is n/a; a limit not set is empty.
          m.text.empty() || m.value ? Number(m.value, "n/a") : "", CsvField(m.text),
          CsvField(m.unit), Number(m.low, ""), Number(m.high, ""), CsvField(m.expected),
          records::OutcomeName(m.outcome), CsvField(m.note)};
      for (size_t i = 0; i < fields.size(); ++i) out += (i ? "," : "") + fields[i];
      out += "\r\n";
    }
  return out;
}

namespace {

int Export(Context& ctx, std::vector<std::string>& args) {
  if (args.size() != 1) throw UsageError("usage: export RUN_ID --csv [--out FILE]");
  const int64_t id = static_cast<int64_t>(ParseNumber(args[0], INT64_MAX, "RUN_ID"));
  if (!ctx.Flag("--csv")) throw UsageError("export: give the format: --csv");
  std::string path;
  const bool to_file = ctx.Option("--out", &path);
  if (to_file && path.empty()) throw UsageError("--out: empty file name");
  if (ctx.json && !to_file)
    throw UsageError("export --json prints what was written: give --out FILE");
  std::error_code ec;
  if (to_file && std::filesystem::is_directory(path, ec))
    throw FileError("export: " + path + " is a directory");
  auto store = OpenStore(ctx, StoreUse::kRead);
  const records::RunRecord run = store->Load(id);
  const std::string text = MeasurementsCsv(run);
  size_t rows = 0;
  for (const auto& step : run.steps) rows += step.measurements.size();
  if (!to_file) {
    ctx.out << text;
    return kOk;
  }
  WriteWhole(path, text, "export");
  if (ctx.json)
    ctx.PrintJson({{"run_id", id}, {"file", path}, {"rows", rows}});
  else
    ctx.out << "wrote " << rows << " measurement(s) of run " << id << " to " << path << "\n";
  return kOk;
}

int Db(Context& ctx, std::vector<std::string>& args) {
  if (args.size() != 1 || (args[0] != "migrate" && args[0] != "version"))
    throw UsageError("usage: db migrate|version");
  std::string option;
  if (ctx.Option("--db", &option) && option.empty()) throw UsageError("--db: empty URL");
  const records::Location where = records::ResolveLocation(option);
  // `version` only looks; `migrate` may create an SQLite file.
  auto store = OpenStore(ctx, args[0] == "version" ? StoreUse::kRead : StoreUse::kWrite);
  const int program = records::Store::ProgramSchemaVersion();
  if (args[0] == "version") {
    const int database = store->SchemaVersion();
    if (ctx.json) {
      ctx.PrintJson(
          {{"database", where.display}, {"schema", database}, {"program_schema", program}});
      return kOk;
    }
    ctx.out << "records database " << where.display << ": schema version " << database
            << " (this program writes version " << program << ")";
    if (database < program) ctx.out << "; run `lanewright-cli db migrate`";
    if (database > program) ctx.out << "; the database is newer than this program";
    ctx.out << "\n";
    return kOk;
  }
  const int from = store->Migrate();
  if (ctx.json) {
    ctx.PrintJson({{"database", where.display}, {"from", from}, {"to", program}});
    return kOk;
  }
  if (from == program)
    ctx.out << "records database " << where.display << ": schema version " << program
            << ", up to date\n";
  else
    ctx.out << "records database " << where.display << ": schema migrated from version " << from
            << " to " << program << "\n";
  return kOk;
}

}  // namespace

void RegisterRecordsCommands(std::vector<Command>& table) {
  const std::string where =
      "\nThe records database is the --db option's, else LANEWRIGHT_DB's, else\n"
      "$XDG_DATA_HOME/lanewright/results.db (~/.local/share when unset). Times\n"
      "are UTC, ISO 8601.\n";
  table.push_back({"history",
                   "history SERIAL",
                   "a module's qualification runs, newest first",
                   "Lists the stored runs of the module with serial number SERIAL: run id,\n"
                   "start time, verdict, serial, part number and plan. --json prints an array\n"
                   "of {run_id, serial, verdict, started, ended, part_number, vendor, plan,\n"
                   "host}.\n" +
                       where + "\nExample: lanewright-cli history SN1234 --db results.db\n",
                   {DbOption()},
                   History});
  table.push_back({"runs",
                   "runs [--since DATE] [--verdict V]",
                   "the stored runs, newest first",
                   "Lists the stored runs of every module, as history does, optionally only\n"
                   "those started at or after DATE and those with one verdict.\n" +
                       where,
                   {{"--since", "DATE",
                     "YYYY-MM-DD or YYYY-MM-DDTHH:MM[:SS], local time unless\n"
                     "it ends in Z or +HH:MM"},
                    {"--verdict", "V", "PASS, FAIL or ERROR"},
                    DbOption()},
                   Runs});
  table.push_back({"export",
                   "export RUN_ID --csv [--out FILE]",
                   "one run's measurements as CSV",
                   "Writes one row per measurement of run RUN_ID: run_id, step, kind,\n"
                   "step_outcome, name, lane (0: the module), value (n/a where the module gave\n"
                   "none), text, unit, low, high (empty: no limit), expected, outcome, note.\n"
                   "Fields with a comma, a quote or a line break are quoted (RFC 4180, CRLF\n"
                   "line ends). To stdout, or to FILE, replaced once complete.\n" +
                       where,
                   {{"--csv", "", "write CSV (the format)"},
                    {"--out", "FILE", "write to FILE instead of stdout"},
                    DbOption()},
                   Export});
  table.push_back(
      {"db",
       "db migrate|version",
       "the records database's schema",
       "`db migrate` brings the records database's schema up to this program's\n"
       "version; a shared PostgreSQL database is migrated only this way (an SQLite\n"
       "file is migrated when opened). A database whose schema is newer than the\n"
       "program's is left alone. `db version` prints both versions.\n" +
           where + "\nExample: lanewright-cli db migrate --db postgresql://qa@dbhost/lanewright\n",
       {DbOption()},
       Db});
}

}  // namespace cli
