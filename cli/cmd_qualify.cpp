// The qualify command: runs a plan on the module of one board (or of every
// board at once), stores each run's record and, when asked, writes its
// HTML report.
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <ostream>

#include "cli/cli.h"
#include "qualify/plan.h"
#include "qualify/runner.h"
#include "records/report.h"
#include "records/store.h"

namespace cli {
namespace {

using records::Outcome;

int ExitOf(Outcome verdict) {
  switch (verdict) {
    case Outcome::kPass:
      return kOk;
    case Outcome::kFail:
      return kFail;
    default:
      return kBoardFailure;
  }
}

// Output of several boards' runs: one line at a time.
struct Printer {
  Context& ctx;
  std::mutex mutex;
  bool many = false;  // more than one board: lines say which

  std::string Prefix(int board) const {
    return many ? "board " + std::to_string(board) + ": " : "";
  }

  void Json(Json doc, int board) {
    std::lock_guard lock(mutex);
    if (many) doc["board"] = board;
    ctx.PrintJson(doc);
    ctx.out.flush();
  }
  void Line(const std::string& text, int board) {
    std::lock_guard lock(mutex);
    ctx.out << Prefix(board) << text << "\n" << std::flush;
  }
  void Error(const std::string& text, int board) {
    std::lock_guard lock(mutex);
    ctx.err << "lanewright-cli: " << Prefix(board) << text << "\n" << std::flush;
  }
};

std::string StepLabel(const qualify::Plan& plan, const qualify::RunEvent& e) {
  const int total = static_cast<int>(plan.steps.size());
  if (e.is_finally) return "[finally] " + e.step_name;
  return "[" + std::to_string(e.step_index + 1) + "/" + std::to_string(total) + "] " + e.step_name;
}

// A file name from module text: letters, digits, '-', '_' and '.' only.
std::string SafeName(const std::string& text) {
  std::string out;
  for (char c : text)
    out +=
        std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '_' || c == '.' ? c : '_';
  return out.empty() ? "unknown" : out;
}

struct Shared {
  const qualify::Plan& plan;
  records::Store& store;
  std::mutex store_mutex;
  std::string report_dir;  // empty: no report
  Printer printer;
};

// Runs the plan on one board and stores its record; the exit status of
// that board's run.
int QualifyOne(Shared& shared, CDevice& device, int board, const std::string& path) {
  Printer& p = shared.printer;
  Context& ctx = p.ctx;
  const qualify::Plan& plan = shared.plan;
  const bool live = ctx.interactive && !ctx.json && !p.many;
  qualify::RunOptions options;
  options.board_path = path;
  options.tool_version = VersionText();
  options.stop = &g_interrupted;
  auto on_event = [&](const qualify::RunEvent& e) {
    using Kind = qualify::RunEvent::Kind;
    if (ctx.json) {
      cli::Json doc;
      switch (e.kind) {
        case Kind::kRunStarted:
          doc = {{"event", "run_started"},
                 {"plan", plan.name},
                 {"plan_hash", plan.hash},
                 {"board_path", path},
                 {"steps", plan.steps.size() + plan.finally.size()}};
          break;
        case Kind::kStepStarted:
          doc = {{"event", "step_started"},
                 {"index", e.step_index},
                 {"name", e.step_name},
                 {"finally", e.is_finally}};
          break;
        case Kind::kProgress:
          doc = {{"event", "progress"},
                 {"index", e.step_index},
                 {"name", e.step_name},
                 {"text", e.text}};
          break;
        case Kind::kStepFinished:
          doc = {{"event", "step_finished"}, {"index", e.step_index},
                 {"name", e.step_name},      {"kind", e.step ? e.step->kind : std::string()},
                 {"finally", e.is_finally},  {"outcome", records::OutcomeName(e.outcome)},
                 {"message", e.text}};
          break;
        case Kind::kRunFinished:
          return;  // after the record is stored, with its id
      }
      p.Json(std::move(doc), board);
      return;
    }
    switch (e.kind) {
      case Kind::kRunStarted:
        p.Line("plan " + plan.name + " (sha256 " + plan.hash.substr(0, 12) + ") on " +
                   (path.empty() ? "board " + std::to_string(board) : path),
               board);
        break;
      case Kind::kStepStarted:
        if (live) ctx.out << StepLabel(plan, e) << " ..." << std::flush;
        break;
      case Kind::kProgress:
        if (live) ctx.out << "\r\x1b[2K" << StepLabel(plan, e) << " ... " << e.text << std::flush;
        break;
      case Kind::kStepFinished: {
        std::string line = StepLabel(plan, e) + "  " + records::OutcomeName(e.outcome);
        if (!e.text.empty()) line += ": " + e.text;
        if (live) ctx.out << "\r\x1b[2K";
        p.Line(line, board);
        break;
      }
      case Kind::kRunFinished:
        break;
    }
  };

  records::RunRecord run = qualify::RunPlan(device, plan, options, on_event);
  int status = ExitOf(run.verdict);
  std::string stored_error;
  {
    std::lock_guard lock(shared.store_mutex);
    try {
      run.id = shared.store.Save(run);
    } catch (const records::StoreError& e) {
      stored_error = e.what();
    }
  }
  std::string report_path, report_error;
  if (run.id && !shared.report_dir.empty()) {
    namespace fs = std::filesystem;
    std::error_code ec;
    fs::create_directories(shared.report_dir, ec);
    report_path = (fs::path(shared.report_dir) /
                   ("run-" + std::to_string(run.id) + "-" + SafeName(run.serial) + ".html"))
                      .string();
    try {
      WriteWhole(report_path, records::RenderHtmlReport(run), "qualify");
    } catch (const FileError& e) {
      report_error = e.what();
    }
  }

  if (ctx.json) {
    cli::Json doc = {{"event", "run_finished"},
                     {"verdict", records::OutcomeName(run.verdict)},
                     {"message", run.verdict_message},
                     {"run_id", run.id ? cli::Json(run.id) : cli::Json(nullptr)},
                     {"serial", run.serial},
                     {"part_number", run.part_number},
                     {"profile", run.profile}};
    if (!report_path.empty() && report_error.empty()) doc["report"] = report_path;
    p.Json(std::move(doc), board);
  } else {
    std::string line = std::string("verdict ") + records::OutcomeName(run.verdict);
    if (!run.verdict_message.empty()) line += " (" + run.verdict_message + ")";
    line += ", module " + (run.serial.empty() ? std::string("unknown") : run.serial);
    if (run.id) line += ", record " + std::to_string(run.id);
    p.Line(line, board);
    if (!report_path.empty() && report_error.empty()) p.Line("report " + report_path, board);
  }
  if (!stored_error.empty()) {
    p.Error("the run's record was not stored: " + stored_error, board);
    status = kBoardFailure;
  }
  if (!report_error.empty()) {
    p.Error(report_error, board);
    status = kBoardFailure;
  }
  return status;
}

int Qualify(Context& ctx, std::vector<std::string>& args) {
  if (args.size() != 1) throw UsageError("usage: qualify PLAN.toml (see qualify --help)");
  // --board after the command, as its usage shows it, does what the global
  // one does.
  std::string board_text;
  if (ctx.Option("--board", &board_text)) {
    if (board_text == "all")
      ctx.all_boards = true;
    else
      ctx.board_index = static_cast<int>(ParseNumber(board_text, 255, "--board"));
  }
  // The plan, the database and the report folder before any board traffic.
  qualify::Plan plan;
  try {
    plan = qualify::LoadPlan(args[0]);
  } catch (const qualify::PlanError& e) {
    if (e.line == 0) throw FileError(e.what());  // could not be read
    ctx.err << "lanewright-cli: " << e.what() << "\n";
    return kUsage;
  }
  std::unique_ptr<records::Store> store = OpenStore(ctx);
  store->CheckWritable();  // a record it could not keep is no run to start
  Shared shared{plan, *store, {}, {}, {ctx, {}, ctx.all_boards}};
  ctx.Option("--report", &shared.report_dir);

  // One run per board, each on its board's own thread and CDevice; under
  // --board all every board at once.
  std::mutex status_mutex;
  std::vector<int> statuses;
  const auto outcomes = ctx.RunOnBoards([&](const board::BoardSlot& slot, CDevice& device) {
    const int status = QualifyOne(shared, device, slot.index, slot.path);
    std::lock_guard lock(status_mutex);
    statuses.push_back(status);
  });
  bool error = false, fail = false;
  for (const auto& o : outcomes) {
    if (!o.opened) {
      shared.printer.Error("cannot open board " + std::to_string(o.slot.index) + " (" +
                               o.slot.path + "): " + o.opened.Text(),
                           o.slot.index);
      error = true;
    } else if (o.error) {
      try {
        std::rethrow_exception(o.error);
      } catch (const std::exception& e) {
        shared.printer.Error(e.what(), o.slot.index);
      }
      error = true;
    }
  }
  for (int s : statuses) {
    error = error || s == kBoardFailure;
    fail = fail || s == kFail;
  }
  return error ? kBoardFailure : fail ? kFail : kOk;
}

}  // namespace

void RegisterQualifyCommands(std::vector<Command>& table) {
  table.push_back(
      {"qualify",
       "qualify PLAN.toml [--board INDEX|all] [--db URL] [--report DIR]",
       "run a qualification plan on a module and store its record",
       "Runs the plan's steps in order on the module of the board (identify,\n"
       "thresholds, ddm, tx-disable, application, ber, flags, eeprom-check), each\n"
       "measurement against the limits of the profile whose glob matches the\n"
       "module's part number, then the plan's finally steps, which always run\n"
       "(after a step with stop_on_fail that failed, and after Ctrl-C too).\n"
       "The plan is checked fully before any board traffic; a bad plan is\n"
       "reported as FILE:LINE:COL: reason.\n\n"
       "Each run is stored as one record (station, board, module identity, plan\n"
       "text and hash, every measurement, the verdict) in the database --db names\n"
       "(an SQLite file, sqlite:///path or postgresql://...; else LANEWRIGHT_DB;\n"
       "else $XDG_DATA_HOME/lanewright/results.db). A terminal sees each step's\n"
       "outcome as it ends; --json prints JSON Lines events (run_started,\n"
       "step_started, progress, step_finished, run_finished with the record id).\n\n"
       "Exit status: 0 PASS; 3 FAIL (the module); 1 ERROR (the board, the database\n"
       "or a file failed, or Ctrl-C ended the run); 2 a bad plan or option.\n\n"
       "Example: lanewright-cli --emulate-ber 0 qualify examples/plan.toml --report reports\n",
       {{"--board", "INDEX|all", "the board to use (default 0), or all: every board at once"},
        DbOption(),
        {"--report", "DIR", "also write the run's HTML report into DIR"}},
       Qualify,
       /*all_boards=*/true});
}

}  // namespace cli
