// The README's command-line examples, run as a user would type them (the
// built lanewright-cli through /bin/sh, in a scratch folder), each checked
// for doing what the README says it does.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <regex>
#include <set>

#include "module/module_dump.h"
#include "tests/cli_test_support.h"

namespace {

namespace fs = std::filesystem;
using cli_test::CliResult;
using cli_test::ReadFile;

bool Has(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> out;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) out.push_back(line);
  return out;
}

// The commands of the README's "The command-line tool" section, in order,
// without their comments.
std::vector<std::string> ReadmeCommands() {
  const std::string text = ReadFile(std::string(LW_SOURCE_DIR) + "/README.md");
  const auto section = text.find("## The command-line tool");
  const auto begin = text.find("```sh\n", section);
  const auto end = text.find("```", begin + 6);
  std::vector<std::string> commands;
  for (std::string line : Lines(text.substr(begin + 6, end - begin - 6))) {
    line = line.substr(0, line.find(" #"));
    while (!line.empty() && line.back() == ' ') line.pop_back();
    if (!line.empty() && line[0] != '#') commands.push_back(line);
  }
  return commands;
}

struct Example {
  std::string command;
  std::function<void(const CliResult&, const fs::path& dir)> check;
  int interrupt_after_ms = 0;  // a watch: Ctrl-C then
};

// A page file of ten groups (40 bytes).
void WriteImage(const fs::path& dir) {
  std::ofstream(dir / "image.txt") << "/ image\n0102030405060708\n1112131415161718\n"
                                      "2122232425262728\n3132333435363738\n4142434445464748\n";
}

void ExpectOk(const CliResult& r) {
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "");
}

const std::vector<Example>& Examples() {
  static const std::vector<Example> examples = {
      {"lanewright-cli --help",
       [](const CliResult& r, const fs::path&) {
         ExpectOk(r);
         for (const char* command :
              {"boards", "read", "write", "info", "ddm", "flags", "thresholds", "controls",
               "monitor", "set", "dump", "ber", "dsp", "power", "eeprom"})
           EXPECT_TRUE(Has(r.out, std::string("\n  ") + command)) << command;
       }},
      {"lanewright-cli read --help",
       [](const CliResult& r, const fs::path&) {
         ExpectOk(r);
         EXPECT_TRUE(Has(r.out, "Usage: lanewright-cli [OPTIONS] read ADDR [COUNT]")) << r.out;
       }},
      {"lanewright-cli --version",
       [](const CliResult& r, const fs::path&) {
         ExpectOk(r);
         EXPECT_TRUE(std::regex_match(r.out, std::regex("lanewright-cli \\d+\\.\\d+.*\n")))
             << r.out;
       }},
      {"lanewright-cli --emulate boards",
       [](const CliResult& r, const fs::path&) {
         ExpectOk(r);
         EXPECT_EQ(
             r.out,
             "0  emulated:board0  0483:0211:0200  Lanewright emulated test board  (emulated)\n");
       }},
      {"lanewright-cli --emulate read 0xA00080 16",
       [](const CliResult& r, const fs::path&) {
         ExpectOk(r);
         EXPECT_EQ(r.out, "0xA00080: 18 56 4F 52 4C 41 4E 49 58 20 20 20 20 20 20 20\n");
       }},
      {"lanewright-cli --emulate=board.state write 0xA01082 0x04",
       [](const CliResult& r, const fs::path& dir) {
         ExpectOk(r);
         EXPECT_EQ(r.out, "wrote 1 byte(s) at 0xA01082\n");
         EXPECT_TRUE(fs::exists(dir / "board.state"));
       }},
      {"lanewright-cli --emulate=board.state read 0xA01082",
       [](const CliResult& r, const fs::path&) {
         ExpectOk(r);
         EXPECT_EQ(r.out, "0xA01082: 04\n");
       }},
      {"lanewright-cli --emulate info",
       [](const CliResult& r, const fs::path&) {
         ExpectOk(r);
         EXPECT_TRUE(Has(r.out, "Vendor name        VORLANIX\n")) << r.out;
       }},
      {"lanewright-cli --emulate info --verbose",
       [](const CliResult& r, const fs::path&) {
         ExpectOk(r);
         EXPECT_EQ(r.out.rfind("Module Identifier", 0), 0u) << r.out;
         for (const char* section :
              {"\n== Applications\n", "\n== Revisions\n", "\n== Media\n", "\n== Page checksums\n"})
           EXPECT_TRUE(Has(r.out, section)) << section << r.out;
         EXPECT_TRUE(Has(r.out, "Max power      10.00 W\n")) << r.out;
       }},
      {"lanewright-cli --emulate ddm --watch 2 --csv ddm.csv | tee ddm.log",
       [](const CliResult& r, const fs::path& dir) {
         ExpectOk(r);
         // Refreshes at 0, 2 and 4 s: each on the screen (and in the log)
         // and as a row under the CSV header.
         const auto log = ReadFile((dir / "ddm.log").string());
         EXPECT_EQ(log, r.out);
         size_t blocks = 0;
         for (const auto& line : Lines(log)) blocks += line.rfind("== ", 0) == 0;
         const auto rows = Lines(ReadFile((dir / "ddm.csv").string()));
         EXPECT_EQ(blocks, 3u) << log;
         ASSERT_EQ(rows.size(), 1 + blocks);
         EXPECT_EQ(rows[0].rfind("time,temp_C,vcc_V,", 0), 0u);
       },
       4500},
      {"lanewright-cli --emulate flags",
       [](const CliResult& r, const fs::path&) {
         ExpectOk(r);
         EXPECT_EQ(r.out.rfind("Module State(0x03)", 0), 0u) << r.out;
         EXPECT_TRUE(Has(r.out, "\nLane  Lane Data Path State")) << r.out;
       }},
      {"lanewright-cli --emulate thresholds",
       [](const CliResult& r, const fs::path&) {
         ExpectOk(r);
         EXPECT_EQ(Lines(r.out).size(), 6u);
         EXPECT_TRUE(Has(r.out, "high alarm")) << r.out;
       }},
      {"lanewright-cli --emulate controls",
       [](const CliResult& r, const fs::path&) {
         ExpectOk(r);
         EXPECT_TRUE(Has(r.out, "\ntx-disable          off  off  off")) << r.out;
       }},
      {"lanewright-cli --emulate monitor --seconds 3 --json",
       [](const CliResult& r, const fs::path&) {
         ExpectOk(r);
         const auto lines = Lines(r.out);
         ASSERT_FALSE(lines.empty());
         const auto summary = cli_test::Json(lines.back());
         EXPECT_TRUE(summary.contains("summary")) << r.out;
         EXPECT_GE(summary["seconds"].get<double>(), 3.0);
       }},
      {"lanewright-cli --emulate set tx-disable 3 on",
       [](const CliResult& r, const fs::path&) {
         ExpectOk(r);
         EXPECT_TRUE(
             std::regex_match(r.out, std::regex("tx-disable lane 3 = on: wrote 0x.. to page "
                                                "10h 0x82\n")))
             << r.out;
       }},
      {"lanewright-cli --emulate dump --pages 00,01,02,10,11 module.txt",
       [](const CliResult& r, const fs::path& dir) {
         ExpectOk(r);
         EXPECT_EQ(r.out, "wrote lower memory and pages 00 01 02 10 11 to module.txt\n");
         ModuleDumpImage image;
         std::string error;
         EXPECT_TRUE(ParseModuleDump(ReadFile((dir / "module.txt").string()), &image, &error))
             << error;
         EXPECT_EQ(image.pages.size(), 5u);
       }},
      {"lanewright-cli --emulate-module module.txt info",
       [](const CliResult& r, const fs::path&) {
         ExpectOk(r);
         EXPECT_TRUE(Has(r.out, "Part number        LW-QDD-400G-SR8\n")) << r.out;
       }},
      {"lanewright-cli --emulate ber --seconds 5 --pattern PRBS31 --csv run.csv",
       [](const CliResult& r, const fs::path& dir) {
         ExpectOk(r);
         EXPECT_EQ(Lines(r.out).at(0), "PRBS31, 5 s");
         EXPECT_EQ(Lines(ReadFile((dir / "run.csv").string())).size(), 1u + 5 * 8);
       }},
      {"lanewright-cli --emulate-ber 0 ber --target 1e-6 --until-verdict",
       [](const CliResult& r, const fs::path&) {
         ExpectOk(r);
         EXPECT_TRUE(Has(r.out, ": PASS\n")) << r.out;
       }},
      {"lanewright-cli --emulate power",
       [](const CliResult& r, const fs::path&) {
         ExpectOk(r);
         EXPECT_EQ(r.out, "V: 3.31\nI: 2.72\nP: 8.99\n");
       }},
      {"lanewright-cli --emulate=board.state eeprom load image.txt",
       [](const CliResult& r, const fs::path&) {
         EXPECT_EQ(r.status, 0) << r.err;
         EXPECT_EQ(r.out, "loaded 40 bytes from image.txt\n");
       }},
      {"lanewright-cli --emulate=board.state eeprom check image.txt",
       [](const CliResult& r, const fs::path&) {
         EXPECT_EQ(r.status, 0) << r.err;
         EXPECT_EQ(r.out, "checked 40 bytes from image.txt: intact\n");
       }},
  };
  return examples;
}

// The DSP recipe: read the block to a file, edit it, write it and save it,
// each step a run of its own on one board state file.
const char* kDspRead = "lanewright-cli --emulate=board.state dsp read --json > dsp.json";
const char* kDspWriteSave =
    "lanewright-cli --emulate=board.state dsp write dsp.json && "
    "lanewright-cli --emulate=board.state dsp save";

fs::path ScratchDir(const std::string& name) {
  const fs::path dir =
      fs::temp_directory_path() / ("lw-readme-" + std::to_string(getpid()) + "-" + name);
  fs::remove_all(dir);
  fs::create_directories(dir);
  return dir;
}

TEST(Readme, EveryCommandLineExampleIsChecked) {
  std::set<std::string> known = {kDspRead, kDspWriteSave};
  for (const auto& e : Examples()) known.insert(e.command);
  for (const auto& command : ReadmeCommands())
    EXPECT_TRUE(known.count(command)) << "no check for the README example: " << command;
  const auto commands = ReadmeCommands();
  for (const auto& command : known)
    EXPECT_NE(std::find(commands.begin(), commands.end(), command), commands.end())
        << "not in the README any more: " << command;
}

TEST(Readme, CommandLineExamplesDoWhatTheySay) {
  const fs::path dir = ScratchDir("examples");
  WriteImage(dir);
  std::map<std::string, const Example*> by_command;
  for (const auto& e : Examples()) by_command[e.command] = &e;
  for (const auto& command : ReadmeCommands()) {
    const auto it = by_command.find(command);
    if (it == by_command.end()) continue;
    SCOPED_TRACE(command);
    const auto r = cli_test::RunShell(command, dir.string(), it->second->interrupt_after_ms);
    it->second->check(r, dir);
  }
  fs::remove_all(dir);
}

TEST(Readme, DspRecipeKeepsTheEditedBlock) {
  const fs::path dir = ScratchDir("dsp");
  auto r = cli_test::RunShell(kDspRead, dir.string());
  ASSERT_EQ(r.status, 0) << r.err;
  auto doc = nlohmann::json::parse(ReadFile((dir / "dsp.json").string()));
  ASSERT_EQ(doc["tx"]["lane3"]["pre"], 2);
  doc["tx"]["lane3"]["pre"] = 7;  // the edit
  std::ofstream(dir / "dsp.json") << doc.dump(2);

  r = cli_test::RunShell(kDspWriteSave, dir.string());
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out,
            "wrote the DSP configuration block (193 bytes) and read it back; `dsp save` keeps it\n"
            "Save successfully!\n");
  // What the board keeps: the next run starts from the saved block.
  r = cli_test::RunShell("lanewright-cli --emulate=board.state dsp read --json", dir.string());
  ASSERT_EQ(r.status, 0) << r.err;
  const int pre = nlohmann::json::parse(r.out)["tx"]["lane3"]["pre"];
  EXPECT_EQ(pre, 7);
  fs::remove_all(dir);
}

}  // namespace
