// `dump`: module memory in the module dump format (or JSON), to a file or
// stdout.
#include <fmt/format.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <ostream>
#include <sstream>

#include "cli/cmd_module.h"
#include "module/module_dump.h"
#include "module/qsfp_dd.h"

namespace cli {
namespace {

// ---- dump ----

std::vector<uint8_t> ParsePages(const std::string& text) {
  std::vector<uint8_t> pages;
  std::stringstream in(text);
  std::string item;
  while (std::getline(in, item, ',')) {
    if (item.empty()) throw UsageError("--pages: empty item in \"" + text + "\"");
    std::string digits = item;
    if (digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X'))
      digits = digits.substr(2);
    if (digits.empty() || digits.size() > 2 ||
        digits.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos)
      throw UsageError("--pages: \"" + item + "\" is not a page number (two hex digits, e.g. 10)");
    const auto page = static_cast<uint8_t>(std::stoul(digits, nullptr, 16));
    if (std::find(pages.begin(), pages.end(), page) == pages.end()) pages.push_back(page);
  }
  if (pages.empty()) throw UsageError("--pages: no page given");
  return pages;
}

int Dump(Context& ctx, std::vector<std::string>& args) {
  std::string pages_text = "00,01,02,10,11";
  ctx.Option("--pages", &pages_text);
  if (args.size() > 1) throw UsageError("usage: dump [--pages LIST] [FILE]");
  const auto pages = ParsePages(pages_text);
  const std::string path = args.empty() ? "" : args[0];
  const std::string temp = path.empty() ? "" : path + ".part";
  std::error_code ec;
  if (!path.empty() && std::filesystem::is_directory(path, ec))
    throw FileError("dump: " + path + " is a directory");
  std::ofstream file;
  if (!path.empty()) {
    errno = 0;
    file.open(temp, std::ios::trunc);
    if (!file)
      throw FileError("dump: cannot write " + temp +
                      (errno ? std::string(": ") + std::strerror(errno) : std::string()));
  }
  auto fail = [&](const std::string& why) {
    if (file.is_open()) {
      file.close();
      std::remove(temp.c_str());
    }
    throw BoardError(why);
  };

  CDevice& board = ctx.Board();
  qsfp_dd::CQSFP_DD module(&board);
  ModuleDumpImage image;
  image.has_lower = true;
  if (const BoardResult r = module.ReadBlockAt(RegisterAddress(0, 0x00), 128, image.lower.data());
      !r)
    fail("dump: reading lower memory failed: " + r.Text());
  for (uint8_t page : pages)
    if (const BoardResult r =
            module.ReadBlockAt(RegisterAddress(page, 0x80), 128, image.pages[page].data());
        !r)
      fail("dump: reading page " + Hex2(page) + "h failed: " + r.Text());

  std::string text;
  if (ctx.json) {
    Json doc = {{"lower", image.lower}, {"pages", Json::object()}};
    for (const auto& [n, p] : image.pages) doc["pages"][fmt::format("{:02x}", n)] = p;
    text = DumpJson(doc, -1) + "\n";
  } else {
    text = FormatModuleDump(image, "module memory, lanewright-cli dump, " + Now());
  }
  if (path.empty()) {
    ctx.out << text;
    return kOk;
  }
  errno = 0;
  file << text;
  file.close();
  if (!file || std::rename(temp.c_str(), path.c_str()) != 0) {
    const int error = errno;
    std::remove(temp.c_str());
    throw FileError("dump: cannot write " + path +
                    (error ? std::string(": ") + std::strerror(error) : std::string()));
  }
  std::string list;
  for (uint8_t p : pages) list += " " + Hex2(p);
  ctx.out << "wrote lower memory and pages" << list << " to " << path << "\n";
  return kOk;
}

}  // namespace

Command DumpCommand() {
  return {"dump",
          "dump [--pages LIST] [FILE]",
          "capture module memory in the dump format",
          "Reads lower memory and the listed pages and writes them in the module dump\n"
          "format to FILE (replacing it once the dump is complete), or to stdout. The\n"
          "file loads again with --emulate-module FILE.\n",
          {{"--pages", "LIST",
            "pages to read, two hex digits each, comma separated\n"
            "(default 00,01,02,10,11)"}},
          Dump};
}

}  // namespace cli
