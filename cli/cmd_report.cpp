// `report`: a stored run as one self-contained HTML file.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <ostream>

#include "cli/cli.h"
#include "records/report.h"
#include "records/store.h"

namespace cli {
namespace {

int Report(Context& ctx, std::vector<std::string>& args) {
  if (args.size() != 1) throw UsageError("usage: report RUN_ID [--out FILE.html]");
  const int64_t id = static_cast<int64_t>(ParseNumber(args[0], INT64_MAX, "RUN_ID"));
  const std::string default_name = "run-" + std::to_string(id) + ".html";
  std::string path = default_name;
  if (ctx.Option("--out", &path) && path.empty()) throw UsageError("--out: empty file name");
  const bool to_stdout = path == "-";
  if (to_stdout && ctx.json)
    throw UsageError("report --json prints what was written: give --out FILE, not -");
  std::error_code ec;
  if (!to_stdout && std::filesystem::is_directory(path, ec))
    path = (std::filesystem::path(path) / default_name).string();

  auto store = OpenStore(ctx, StoreUse::kRead);
  const std::string html = records::RenderHtmlReport(store->Load(id));
  if (to_stdout) {
    ctx.out << html;
    return kOk;
  }
  WriteWhole(path, html, "report");
  if (ctx.json)
    ctx.PrintJson({{"run_id", id}, {"file", path}, {"bytes", html.size()}});
  else
    ctx.out << path << "\n";
  return kOk;
}

}  // namespace

void RegisterReportCommands(std::vector<Command>& table) {
  table.push_back({"report",
                   "report RUN_ID [--out FILE.html]",
                   "a stored run as an HTML report",
                   "Writes the report of run RUN_ID as one self-contained HTML file: the module's\n"
                   "identity, the verdict, each step's measurements against their limits, BER\n"
                   "per lane with its bounds over time, the diagnostics over time and the flag\n"
                   "events. It needs no network, opens in any browser and prints to PDF from\n"
                   "there. The file is written whole or not at all; its path is printed.\n"
                   "\n"
                   "The records database is the --db option's, else LANEWRIGHT_DB's, else\n"
                   "$XDG_DATA_HOME/lanewright/results.db. A run that is not there is status 1.\n"
                   "\n"
                   "Example: lanewright-cli report 42 --out SN1234.html\n",
                   {{"--out", "FILE",
                     "the file to write (default run-RUN_ID.html in the current\n"
                     "folder; into a folder FILE under that name; - for stdout)"},
                    DbOption()},
                   Report});
}

}  // namespace cli
