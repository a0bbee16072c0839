#include "emulator/module_model.h"

#include <cctype>
#include <cstdio>
#include <cstring>
#include <sstream>

namespace emu {

ModuleModel::ModuleModel() { LoadDefaults(); }

uint8_t& ModuleModel::At(uint8_t page, uint8_t reg) {
  if (reg < 0x80) return lower_[reg];
  return pages_[page][reg - 0x80];
}

uint8_t ModuleModel::Peek(uint8_t page, uint8_t reg) const {
  if (reg < 0x80) return lower_[reg];
  auto it = pages_.find(page);
  return it == pages_.end() ? 0 : it->second[reg - 0x80];
}

void ModuleModel::Poke(uint8_t page, uint8_t reg, uint8_t value) { At(page, reg) = value; }

std::vector<uint8_t> ModuleModel::PageNumbers() const {
  std::vector<uint8_t> out;
  for (const auto& [n, p] : pages_) out.push_back(n);
  return out;
}

void ModuleModel::Read(uint8_t device, uint8_t page, uint8_t reg, uint8_t* out, int count) {
  for (int i = 0; i < count; ++i)
    out[i] = device == 0xA0 ? Peek(page, static_cast<uint8_t>(reg + i)) : 0xFF;
}

void ModuleModel::Write(uint8_t device, uint8_t page, uint8_t reg, const uint8_t* data,
                        int count) {
  if (device != 0xA0) return;
  for (int i = 0; i < count; ++i) At(page, static_cast<uint8_t>(reg + i)) = data[i];
}

namespace {
void PutText(ModuleModel::Page& p, int reg, int width, const char* text) {
  int n = static_cast<int>(std::strlen(text));
  for (int i = 0; i < width; ++i) p[reg - 0x80 + i] = i < n ? text[i] : ' ';
}
void PutWord(ModuleModel::Page& p, int reg, uint16_t value) {
  p[reg - 0x80] = value >> 8;
  p[reg - 0x80 + 1] = value & 0xFF;
}
}  // namespace

void ModuleModel::LoadDefaults() {
  lower_.fill(0);
  pages_.clear();
  lower_[0x00] = 0x18;  // QSFP-DD
  lower_[0x01] = 0x50;  // CMIS 5.0
  lower_[0x02] = 0x00;  // paged memory
  lower_[0x03] = 0x07;  // ModReady, interrupt deasserted (bit 0 = 1)

  Page& p0 = pages_[0x00];
  p0[0] = 0x18;  // identifier (page 00h byte 128)
  PutText(p0, 129, 16, "VORLANIX");
  p0[145 - 0x80] = 0x00;
  p0[146 - 0x80] = 0x17;
  p0[147 - 0x80] = 0x6A;
  PutText(p0, 148, 16, "LW-QDD-400G-SR8");
  PutText(p0, 164, 2, "A1");
  PutText(p0, 166, 16, "LWX2612090042");
  PutText(p0, 182, 8, "261209  ");
  PutText(p0, 190, 10, "");
  p0[200 - 0x80] = 0x60;  // power class 4
  p0[201 - 0x80] = 40;    // 10 W
  p0[203 - 0x80] = 0x28;  // MPO 1X16
  p0[212 - 0x80] = 0x00;  // 850 nm VCSEL

  Page& p1 = pages_[0x01];
  PutWord(p1, 138, 850 * 20);  // nominal wavelength
  PutWord(p1, 140, 10 * 200);  // tolerance

  pages_[0x02];
  pages_[0x10];
  pages_[0x11];
}


bool ParseModuleDump(const std::string& text, ModuleDumpImage* image, std::string* error) {
  ModuleDumpImage out;
  std::istringstream in(text);
  std::string line;
  int line_no = 0;
  ModuleModel::Page* target = nullptr;
  int rows = 0;
  auto fail = [&](const std::string& why) {
    if (error) *error = "line " + std::to_string(line_no) + ": " + why;
    return false;
  };
  while (std::getline(in, line)) {
    ++line_no;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    size_t start = line.find_first_not_of(" \t");
    if (start == std::string::npos) continue;
    std::string t = line.substr(start);
    while (!t.empty() && (t.back() == ' ' || t.back() == '\t')) t.pop_back();
    if (t[0] == '#') continue;
    if (t == "lower") {
      if (target && rows != 8) return fail("the previous block has " + std::to_string(rows) + " of 8 lines");
      target = &out.lower;
      out.has_lower = true;
      rows = 0;
      continue;
    }
    if (t.rfind("page ", 0) == 0) {
      if (target && rows != 8) return fail("the previous block has " + std::to_string(rows) + " of 8 lines");
      std::string num = t.substr(5);
      unsigned value = 0;
      char extra = 0;
      if (num.size() != 2 || std::sscanf(num.c_str(), "%2x%c", &value, &extra) != 1 ||
          !std::isxdigit(static_cast<unsigned char>(num[0])) ||
          !std::isxdigit(static_cast<unsigned char>(num[1])))
        return fail("\"page\" needs two hex digits, got \"" + num + "\"");
      target = &out.pages[static_cast<uint8_t>(value)];
      rows = 0;
      continue;
    }
    if (!target) return fail("data before a \"lower\" or \"page XX\" line");
    if (rows == 8) return fail("more than 8 data lines in a block");
    std::istringstream fields(t);
    std::string field;
    int col = 0;
    while (fields >> field) {
      if (field.size() != 2 || !std::isxdigit(static_cast<unsigned char>(field[0])) ||
          !std::isxdigit(static_cast<unsigned char>(field[1])))
        return fail("\"" + field + "\" is not a hex byte");
      if (col == 16) return fail("more than 16 bytes on a line");
      (*target)[rows * 16 + col++] = static_cast<uint8_t>(std::stoul(field, nullptr, 16));
    }
    if (col != 16) return fail("expected 16 bytes, found " + std::to_string(col));
    ++rows;
  }
  if (target && rows != 8) {
    ++line_no;
    return fail("the last block has " + std::to_string(rows) + " of 8 lines");
  }
  if (!out.has_lower && out.pages.empty()) return fail("no \"lower\" or \"page XX\" block");
  *image = std::move(out);
  return true;
}

std::string FormatModuleDump(const ModuleDumpImage& image, const std::string& comment) {
  std::string out;
  if (!comment.empty()) out += "# " + comment + "\n";
  auto block = [&out](const char* title, const ModuleModel::Page& p) {
    out += title;
    out += '\n';
    char buf[8];
    for (int r = 0; r < 8; ++r) {
      for (int c = 0; c < 16; ++c) {
        std::snprintf(buf, sizeof buf, c ? " %02x" : "%02x", p[r * 16 + c]);
        out += buf;
      }
      out += '\n';
    }
  };
  if (image.has_lower) block("lower", image.lower);
  for (const auto& [n, p] : image.pages) {
    char title[16];
    std::snprintf(title, sizeof title, "page %02x", n);
    block(title, p);
  }
  return out;
}

bool ModuleModel::LoadDump(const std::string& text, std::string* error) {
  ModuleDumpImage image;
  if (!ParseModuleDump(text, &image, error)) return false;
  if (image.has_lower) lower_ = image.lower;
  for (auto& [n, p] : image.pages) pages_[n] = p;
  return true;
}

std::string ModuleModel::Dump(const std::vector<uint8_t>& pages) const {
  ModuleDumpImage image;
  image.lower = lower_;
  image.has_lower = true;
  for (uint8_t n : pages) {
    auto it = pages_.find(n);
    image.pages[n] = it == pages_.end() ? Page{} : it->second;
  }
  return FormatModuleDump(image);
}

std::string ModuleModel::DumpAll() const { return Dump(PageNumbers()); }

}  // namespace emu
