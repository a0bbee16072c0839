// Board-level commands: list boards, raw module register reads and writes.
#include <cstdio>
#include <ostream>

#include "cli/cli.h"

namespace cli {
namespace {

struct Address {
  uint8_t device, page, reg;
  uint32_t value;
};

Address ParseAddress(const std::string& text) {
  const auto v = static_cast<uint32_t>(ParseNumber(text, 0xFFFFFF, "ADDR"));
  return {static_cast<uint8_t>(v >> 16), static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v), v};
}

std::string AddressText(uint32_t address) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "0x%06X", address & 0xFFFFFF);
  return buf;
}

int Boards(Context& ctx, std::vector<std::string>& args) {
  ExpectNoMoreOptions(args);
  if (!args.empty()) throw UsageError("boards takes no arguments");
  CHid hid(ctx.backend);
  hid.SetMatch(BoardMatch{});
  hid.FindDevices();
  const auto boards = hid.MatchingDevices();
  char ids[32];
  if (ctx.json) {
    ctx.out << "[";
    for (size_t i = 0; i < boards.size(); ++i) {
      const auto& b = boards[i];
      std::snprintf(ids, sizeof ids, "%04x:%04x:%04x", b.vendor, b.product, b.release);
      ctx.out << (i ? ",\n " : "") << "{\"index\": " << i << ", \"path\": " << JsonString(b.path)
              << ", \"id\": " << JsonString(ids) << ", \"name\": " << JsonString(b.product_name)
              << ", \"emulated\": " << (ctx.emulated ? "true" : "false") << "}";
    }
    ctx.out << "]\n";
    return kOk;
  }
  if (boards.empty()) {
    ctx.out << "no matching board (0483:0211 version 0200)\n";
    return kOk;
  }
  for (size_t i = 0; i < boards.size(); ++i) {
    const auto& b = boards[i];
    std::snprintf(ids, sizeof ids, "%04x:%04x:%04x", b.vendor, b.product, b.release);
    ctx.out << i << "  " << b.path << "  " << ids;
    if (!b.product_name.empty()) ctx.out << "  " << b.product_name;
    if (ctx.emulated) ctx.out << "  (emulated)";
    ctx.out << "\n";
  }
  return kOk;
}

int Read(Context& ctx, std::vector<std::string>& args) {
  ExpectNoMoreOptions(args);
  if (args.empty() || args.size() > 2) throw UsageError("usage: read ADDR [COUNT]");
  const Address a = ParseAddress(args[0]);
  int count = 1;
  if (args.size() == 2) {
    count = static_cast<int>(ParseNumber(args[1], 255, "COUNT"));
    if (count == 0) throw UsageError("COUNT: 0 bytes; give 1-255");
  }
  uint8_t data[255] = {};
  CDevice& board = ctx.Board();
  if (auto r = board.ReadModule(1, a.device, a.page, a.reg, data, static_cast<uint8_t>(count)); !r)
    throw BoardError("read " + AddressText(a.value) + ": " + r.Text());
  if (ctx.json) {
    ctx.out << "{\"address\": " << JsonString(AddressText(a.value)) << ", \"bytes\": [";
    for (int i = 0; i < count; ++i) ctx.out << (i ? ", " : "") << int(data[i]);
    ctx.out << "]}\n";
    return kOk;
  }
  for (int i = 0; i < count; i += 16) {
    // Rows are named by the register address of their first byte.
    const uint32_t row = (a.value & 0xFFFF00) | ((a.reg + i) & 0xFF);
    ctx.out << AddressText(row) << ":";
    for (int j = i; j < count && j < i + 16; ++j) ctx.out << " " << Hex2(data[j]);
    ctx.out << "\n";
  }
  return kOk;
}

int Write(Context& ctx, std::vector<std::string>& args) {
  ExpectNoMoreOptions(args);
  if (args.size() < 2) throw UsageError("usage: write ADDR BYTE...");
  if (args.size() > 256) throw UsageError("at most 255 bytes per write");
  const Address a = ParseAddress(args[0]);
  std::vector<uint8_t> data;
  for (size_t i = 1; i < args.size(); ++i)
    data.push_back(static_cast<uint8_t>(ParseNumber(args[i], 0xFF, "BYTE")));
  CDevice& board = ctx.Board();
  if (auto r = board.WriteModule(1, a.device, a.page, a.reg, data.data(),
                                 static_cast<uint8_t>(data.size()));
      !r)
    throw BoardError("write " + AddressText(a.value) + ": " + r.Text());
  if (ctx.json)
    ctx.out << "{\"address\": " << JsonString(AddressText(a.value))
            << ", \"written\": " << data.size() << "}\n";
  else
    ctx.out << "wrote " << data.size() << " byte(s) at " << AddressText(a.value) << "\n";
  return kOk;
}

}  // namespace

void RegisterBoardCommands(std::vector<Command>& table) {
  table.push_back({"boards", "boards", "list the matching test boards",
                   "Lists index, device path and vendor:product:version of every board that\n"
                   "matches 0483:0211 version 0200. --board INDEX picks one of them.\n",
                   Boards});
  table.push_back({"read", "read ADDR [COUNT]", "read COUNT (1-255, default 1) module bytes",
                   "One module register read through the board (channel 1). ADDR bits 23-16\n"
                   "are the device (0xA0), 15-8 the page and 7-0 the register. Prints rows of\n"
                   "\"0xADDRESS: \" and up to 16 hex bytes.\n\n"
                   "Example: lanewright-cli --emulate read 0xA00080 16\n",
                   Read});
  table.push_back({"write", "write ADDR BYTE...", "write 1-255 bytes to module registers",
                   "One module register write through the board (channel 1), without read-back.\n"
                   "Bytes are decimal or 0x-prefixed hex, 0-255 each.\n\n"
                   "Example: lanewright-cli --emulate write 0xA01082 0x04\n",
                   Write});
}

}  // namespace cli
