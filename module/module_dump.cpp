#include "module/module_dump.h"

#include <cctype>
#include <cstdio>
#include <sstream>

bool ParseModuleDump(const std::string& text, ModuleDumpImage* image, std::string* error,
                     int first_line) {
  ModuleDumpImage out;
  std::istringstream in(text);
  std::string line;
  int line_no = first_line - 1;
  int lower_line = 0;
  std::map<uint8_t, int> page_lines;  // where each block began
  ModulePage* target = nullptr;
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
      if (target && rows != 8)
        return fail("the previous block has " + std::to_string(rows) + " of 8 lines");
      if (lower_line)
        return fail("a second \"lower\" block (the first is at line " + std::to_string(lower_line) +
                    ")");
      lower_line = line_no;
      target = &out.lower;
      out.has_lower = true;
      rows = 0;
      continue;
    }
    if (t.rfind("page ", 0) == 0) {
      if (target && rows != 8)
        return fail("the previous block has " + std::to_string(rows) + " of 8 lines");
      std::string num = t.substr(5);
      unsigned value = 0;
      char extra = 0;
      if (num.size() != 2 || std::sscanf(num.c_str(), "%2x%c", &value, &extra) != 1 ||
          !std::isxdigit(static_cast<unsigned char>(num[0])) ||
          !std::isxdigit(static_cast<unsigned char>(num[1])))
        return fail("\"page\" needs two hex digits, got \"" + num + "\"");
      const auto [first, fresh] = page_lines.emplace(static_cast<uint8_t>(value), line_no);
      if (!fresh)
        return fail("a second \"page " + num + "\" block (the first is at line " +
                    std::to_string(first->second) + ")");
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
  auto block = [&out](const char* title, const ModulePage& p) {
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
