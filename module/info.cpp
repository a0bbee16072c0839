#include "module/info.h"

#include <cstdint>
#include <cstdio>
#include <functional>

#include "board/text_format.h"
#include "module/names.h"
#include "module/register_map.h"
#include "module/sfp_base.h"

namespace {

constexpr uint32_t Page0(uint8_t reg) { return RegisterAddress(0x00, reg); }
constexpr uint32_t Page1(uint8_t reg) { return RegisterAddress(0x01, reg); }

// Bytes as text, ending at the first NUL.
std::string Text(const uint8_t* bytes, int length) {
  std::string s;
  for (int i = 0; i < length && bytes[i]; ++i) s += static_cast<char>(bytes[i]);
  return s;
}

struct Row {
  const char* label;
  std::function<std::string(CSfpBase&, BoardResult&)> read;
};

uint8_t Byte(CSfpBase& m, uint32_t address, BoardResult& ok) {
  uint8_t value = 0;
  ok.Merge(m.ReadByteAt(address, &value));
  return value;
}

// Lower byte 2 bit 7: a module without pages (page 01h would read as
// page 00h).
bool FlatMemory(CSfpBase& m, BoardResult& ok) {
  uint8_t characteristics = 0;
  const BoardResult r = m.ReadByteAt(RegisterAddress(0x00, 0x02), &characteristics);
  ok.Merge(r);
  return r && (characteristics & 0x80);
}

std::function<std::string(CSfpBase&, BoardResult&)> TextField(uint8_t reg, uint8_t length) {
  return [reg, length](CSfpBase& m, BoardResult& ok) {
    uint8_t bytes[16] = {};
    ok.Merge(m.ReadBlockAt(Page0(reg), length, bytes));
    return Text(bytes, length);
  };
}

const std::vector<Row>& Rows() {
  static const std::vector<Row> rows = {
      {"Module Identifier",
       [](CSfpBase& m, BoardResult& ok) {
         return names::ItemOr(names::Identifiers(), Byte(m, Page0(128), ok), "Reserved");
       }},
      {"Power Class",
       [](CSfpBase& m, BoardResult& ok) {
         char buf[16];
         std::snprintf(buf, sizeof buf, "Class %d", (Byte(m, Page0(200), ok) >> 5) + 1);
         return std::string(buf);
       }},
      {"Max Power",
       [](CSfpBase& m, BoardResult& ok) {
         const float watts = static_cast<float>(Byte(m, Page0(201), ok)) * 0.25f;
         return std::to_string(static_cast<int>(watts));
       }},
      {"Vendor name", TextField(129, 16)},
      {"Vendor OUI(Hex)",
       [](CSfpBase& m, BoardResult& ok) {
         uint8_t oui[3] = {};
         ok.Merge(m.ReadBlockAt(Page0(145), 3, oui));
         char buf[16];
         std::snprintf(buf, sizeof buf, "0x%02X%02X%02X", oui[0], oui[1], oui[2]);
         return std::string(buf);
       }},
      {"Part number", TextField(148, 16)},
      {"Serial number", TextField(166, 16)},
      {"Data Code", TextField(182, 8)},
      {"CLEI Code(IS)", TextField(190, 10)},
      {"Vendor Revision", TextField(164, 2)},
      {"Wavelength(nm)",
       [](CSfpBase& m, BoardResult& ok) {
         if (FlatMemory(m, ok)) return std::string("n/a");
         uint16_t raw = 0;
         ok.Merge(m.ReadWordAt(Page1(138), &raw, false));
         return Sprintf("%0.0f", static_cast<float>(raw) / 20.0f);
       }},
      {"Wavelength(nm)",
       [](CSfpBase& m, BoardResult& ok) {
         if (FlatMemory(m, ok)) return std::string("n/a");
         uint16_t raw = 0;
         ok.Merge(m.ReadWordAt(Page1(140), &raw, false));
         return Sprintf("%0.2f", static_cast<float>(raw) / 200.0f);
       }},
      {"Device Technology",
       [](CSfpBase& m, BoardResult& ok) {
         return names::ItemOr(names::DeviceTechnologies(), Byte(m, Page0(212), ok), "Reserved");
       }},
      {"Module Type",
       [](CSfpBase& m, BoardResult& ok) {
         return names::ItemOr(names::Connectors(), Byte(m, Page0(203), ok), "Reserved");
       }},
  };
  return rows;
}

}  // namespace

std::vector<InfoRow> ReadInformation(CSfpBase& module, BoardResult* result) {
  std::vector<InfoRow> out;
  out.reserve(kInfoRows);
  BoardResult all;
  for (const Row& row : Rows()) {
    BoardResult r;
    std::string value = row.read(module, r);
    out.push_back({row.label, std::move(value), r.ok()});
    all.Merge(r);
  }
  if (result) *result = all;
  return out;
}
