#include "transfer/page_file.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

namespace transfer {

namespace {

constexpr char kCtrlZ = 0x1A;  // text mode ends the file here

bool IsBlank(unsigned char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

int HexDigit(unsigned char c) {
  if (c >= '0' && c <= '9') return c - '0';
  c = static_cast<unsigned char>(c | 0x20);
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// Length of the UTF-8 character starting at `at`, or 0 when it is not one.
size_t Utf8Length(const std::string& s, size_t at) {
  const auto lead = static_cast<unsigned char>(s[at]);
  const size_t n = lead >= 0xF0 && lead <= 0xF4 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC2 ? 2 : 0;
  if (n == 0 || lead >= 0xF8 || at + n > s.size()) return 0;
  for (size_t i = 1; i < n; ++i)
    if ((static_cast<unsigned char>(s[at + i]) & 0xC0) != 0x80) return 0;
  return n;
}

std::string Describe(const std::string& s, size_t at) {
  const auto c = static_cast<unsigned char>(s[at]);
  if (IsBlank(c)) return "a blank inside a group (only leading blanks are allowed)";
  if (c >= 0x80) {
    if (size_t n = Utf8Length(s, at)) return "'" + s.substr(at, n) + "' is not a hexadecimal digit";
  } else if (c >= 0x20 && c < 0x7F) {
    return std::string("'") + static_cast<char>(c) + "' is not a hexadecimal digit";
  }
  char buf[48];
  std::snprintf(buf, sizeof buf, "byte 0x%02X is not a hexadecimal digit", c);
  return buf;
}

}  // namespace

void PageText::Locate(size_t at, int* line, int* column) const {
  auto it = std::upper_bound(lines.begin(), lines.end(), at,
                             [](size_t offset, const Line& l) { return offset < l.start; });
  if (it == lines.begin()) {
    *line = 0;
    *column = 0;
    return;
  }
  --it;
  *line = it->number;
  int col = 1;
  for (size_t i = it->start; i < at && i < text.size(); ++i)
    if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80) ++col;  // count characters
  *column = col;
}

PageText JoinDataLines(std::string_view contents) {
  if (auto eof = contents.find(kCtrlZ); eof != std::string_view::npos)
    contents = contents.substr(0, eof);
  PageText out;
  int number = 0;
  size_t pos = 0;
  while (pos < contents.size()) {
    size_t end = contents.find('\n', pos);
    const size_t next = end == std::string_view::npos ? contents.size() : end + 1;
    if (end == std::string_view::npos) end = contents.size();
    std::string_view line = contents.substr(pos, end - pos);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    ++number;
    pos = next;
    if (!line.empty() && line.front() == '/') continue;  // comment
    if (line.empty()) continue;                          // adds nothing to the text
    out.lines.push_back({out.text.size(), number});
    out.text.append(line);
  }
  return out;
}

bool ReadPageFile(const std::string& path, PageText* out, OpenError* error) {
  *out = PageText();
  std::FILE* f = std::fopen(path.c_str(), "rb");
  auto fail = [&](int code) {
    if (error) *error = {code, std::strerror(code)};
    return false;
  };
  if (!f) return fail(errno);
  std::string contents;
  char buf[65536];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) contents.append(buf, n);
  const int read_error = std::ferror(f) ? (errno ? errno : EIO) : 0;
  std::fclose(f);
  if (read_error) return fail(read_error);
  *out = JoinDataLines(contents);
  return true;
}

std::string PageFileError::Text() const {
  return "line " + std::to_string(line) + ", column " + std::to_string(column) + ": " + what;
}

bool ConvertPageText(const PageText& page, std::vector<uint8_t>* image, PageFileError* error) {
  const std::string& s = page.text;
  image->clear();
  const size_t groups = (s.size() + 7) / 8;
  auto fail = [&](size_t at, std::string what) {
    image->clear();
    if (error) {
      error->what = std::move(what);
      page.Locate(at, &error->line, &error->column);
    }
    return false;
  };
  if (groups * 4 > kMaxImageSize)
    return fail(kMaxImageSize / 4 * 8,
                "the image passes 16 MiB, more than the 24-bit block "
                "offsets can address");
  image->reserve(groups * 4);
  for (size_t start = 0; start < s.size(); start += 8) {
    const size_t end = std::min(start + 8, s.size());
    size_t i = start;
    while (i < end && IsBlank(static_cast<unsigned char>(s[i]))) ++i;
    // A 0x prefix counts only with a digit after it, as the C library reads it.
    if (i + 2 < end && s[i] == '0' && (s[i + 1] | 0x20) == 'x' &&
        HexDigit(static_cast<unsigned char>(s[i + 2])) >= 0)
      i += 2;
    uint32_t value = 0;
    for (int d; i < end && (d = HexDigit(static_cast<unsigned char>(s[i]))) >= 0; ++i)
      value = value << 4 | static_cast<uint32_t>(d);
    if (i < end) return fail(i, Describe(s, i));
    for (int b = 0; b < 4; ++b) image->push_back(static_cast<uint8_t>(value >> (8 * b)));
  }
  return true;
}

}  // namespace transfer
