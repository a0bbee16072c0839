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

// Writes `text` to `path` whole or not at all: into a file of its own beside
// it, flushed to the disk, then renamed over it. A reader never sees half a
// report, and a report there before stays when writing fails.
void WriteWhole(const std::string& path, const std::string& text) {
  const std::string temp = path + "." + std::to_string(::getpid()) + ".part";
  const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  int error = fd < 0 ? errno : 0;
  for (size_t done = 0; !error && done < text.size();) {
    const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0)
      error = n < 0 ? errno : EIO;
    else
      done += static_cast<size_t>(n);
  }
  if (!error && ::fsync(fd) != 0) error = errno;
  if (fd >= 0 && ::close(fd) != 0 && !error) error = errno;
  if (!error && std::rename(temp.c_str(), path.c_str()) != 0) error = errno;
  if (error) {
    if (fd >= 0) ::unlink(temp.c_str());
    throw FileError("report: cannot write " + path + ": " + std::strerror(error));
  }
}

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
  WriteWhole(path, html);
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
