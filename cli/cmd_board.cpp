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

// A register range split at the 0x7F/0x80 boundary, so each piece stays in
// one 128-byte half: lower memory or the upper page. A range that runs past
// register 0xFF would wrap to lower memory: refused.
struct Piece {
  uint8_t reg;
  int offset, count;
};
std::vector<Piece> Halves(const Address& a, int count, const char* command) {
  if (a.reg + count > 0x100)
    throw UsageError(std::string(command) + ": " + std::to_string(count) + " bytes from " +
                     AddressText(a.value) + " run past the end of page " + Hex2(a.page) +
                     "h; at most " + std::to_string(0x100 - a.reg) + " from there");
  std::vector<Piece> pieces;
  if (a.reg < 0x80 && a.reg + count > 0x80) {
    pieces.push_back({a.reg, 0, 0x80 - a.reg});
    pieces.push_back({0x80, 0x80 - a.reg, count - (0x80 - a.reg)});
  } else {
    pieces.push_back({a.reg, 0, count});
  }
  return pieces;
}

int Boards(Context& ctx, std::vector<std::string>& args) {
  if (!args.empty()) throw UsageError("boards takes no arguments");
  CHid hid(ctx.backend);
  hid.SetMatch(BoardMatch{});
  hid.FindDevices();
  const auto boards = hid.MatchingDevices();
  char ids[32];
  if (ctx.json) {
    Json list = Json::array();
    for (size_t i = 0; i < boards.size(); ++i) {
      const auto& b = boards[i];
      std::snprintf(ids, sizeof ids, "%04x:%04x:%04x", b.vendor, b.product, b.release);
      list.push_back({{"index", i},
                      {"path", b.path},
                      {"id", ids},
                      {"name", b.product_name},
                      {"emulated", ctx.emulated != nullptr}});
    }
    ctx.PrintJson(list);
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
  if (args.empty() || args.size() > 2) throw UsageError("usage: read ADDR [COUNT]");
  const Address a = ParseAddress(args[0]);
  int count = 1;
  if (args.size() == 2) {
    count = static_cast<int>(ParseNumber(args[1], 255, "COUNT"));
    if (count == 0) throw UsageError("COUNT: 0 bytes; give 1-255");
  }
  const auto pieces = Halves(a, count, "read");
  uint8_t data[255] = {};
  CDevice& board = ctx.Board();
  for (const Piece& p : pieces)
    if (const BoardResult r = board.ReadModule(1, a.device, a.page, p.reg, data + p.offset,
                                               static_cast<uint8_t>(p.count));
        !r)
      throw BoardError("read " + AddressText(a.value + p.offset) + ": " + r.Text());
  if (ctx.json) {
    ctx.PrintJson(
        {{"address", AddressText(a.value)}, {"bytes", std::vector<int>(data, data + count)}});
    return kOk;
  }
  for (int i = 0; i < count; i += 16) {
    // Rows are named by the register address of their first byte.
    ctx.out << AddressText(a.value + i) << ":";
    for (int j = i; j < count && j < i + 16; ++j) ctx.out << " " << Hex2(data[j]);
    ctx.out << "\n";
  }
  return kOk;
}

int Write(Context& ctx, std::vector<std::string>& args) {
  if (args.size() < 2) throw UsageError("usage: write ADDR BYTE...");
  if (args.size() > 256) throw UsageError("at most 255 bytes per write");
  const Address a = ParseAddress(args[0]);
  std::vector<uint8_t> data;
  for (size_t i = 1; i < args.size(); ++i)
    data.push_back(static_cast<uint8_t>(ParseNumber(args[i], 0xFF, "BYTE")));
  const auto pieces = Halves(a, static_cast<int>(data.size()), "write");
  CDevice& board = ctx.Board();
  for (const Piece& p : pieces)
    if (const BoardResult r = board.WriteModule(1, a.device, a.page, p.reg, data.data() + p.offset,
                                                static_cast<uint8_t>(p.count));
        !r)
      throw BoardError("write " + AddressText(a.value + p.offset) + ": " + r.Text());
  if (ctx.json)
    ctx.PrintJson({{"address", AddressText(a.value)}, {"written", data.size()}});
  else
    ctx.out << "wrote " << data.size() << " byte(s) at " << AddressText(a.value) << "\n";
  return kOk;
}

}  // namespace

void RegisterBoardCommands(std::vector<Command>& table) {
  table.push_back({"boards",
                   "boards",
                   "list the matching test boards",
                   "Lists index, device path and vendor:product:version of every board that\n"
                   "matches 0483:0211 version 0200. --board INDEX picks one of them.\n",
                   {},
                   Boards});
  table.push_back({"read",
                   "read ADDR [COUNT]",
                   "read COUNT (1-255, default 1) module bytes",
                   "Module register reads through the board (channel 1). ADDR bits 23-16\n"
                   "are the device (0xA0), 15-8 the page and 7-0 the register. Prints rows of\n"
                   "\"0xADDRESS: \" and up to 16 hex bytes. The range stays inside the page:\n"
                   "a range from lower memory into the upper page is read as two reads, one\n"
                   "past register 0xFF is refused.\n\n"
                   "Example: lanewright-cli --emulate read 0xA00080 16\n",
                   {},
                   Read});
  table.push_back({"write",
                   "write ADDR BYTE...",
                   "write 1-255 bytes to module registers",
                   "Module register writes through the board (channel 1), without read-back.\n"
                   "Bytes are decimal or 0x-prefixed hex, 0-255 each. The range stays inside\n"
                   "the page, as for read.\n\n"
                   "Example: lanewright-cli --emulate write 0xA01082 0x04\n",
                   {},
                   Write});
}

}  // namespace cli
