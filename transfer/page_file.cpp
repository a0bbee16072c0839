#include "transfer/page_file.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "board/text_format.h"

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

std::string Describe(const std::string& s, size_t at) {
  const auto c = static_cast<unsigned char>(s[at]);
  if (IsBlank(c)) return "a blank inside a group (blanks may only stand between whole groups)";
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
    if (!line.empty() && line.front() == '/') {
      ++out.comment_lines;
      continue;
    }
    if (line.find_first_not_of(" \t") == std::string_view::npos) {
      ++out.empty_lines;  // adds nothing to the text
      continue;
    }
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

std::string PageText::NoDataWords() const {
  if (comment_lines == 0 && empty_lines == 0) return "the file is empty";
  if (empty_lines == 0) return "the file holds only comment lines, no data";
  if (comment_lines == 0) return "the file holds only empty lines, no data";
  return "the file holds only comment lines and empty lines, no data";
}

std::string PageFileError::Text() const {
  return "line " + std::to_string(line) + ", column " + std::to_string(column) + ": " + what;
}

bool ConvertPageText(const PageText& page, std::vector<uint8_t>* image, PageFileError* error) {
  const std::string& s = page.text;
  image->clear();
  auto fail = [&](size_t at, std::string what) {
    image->clear();
    if (error) {
      error->what = std::move(what);
      page.Locate(at, &error->line, &error->column);
    }
    return false;
  };
  // The text's lines, and which of them hold blanks.
  struct Span {
    size_t start, end;
    bool blanks;
  };
  std::vector<Span> spans;
  spans.reserve(page.lines.size());
  for (size_t k = 0; k < page.lines.size(); ++k) {
    const size_t start = page.lines[k].start;
    const size_t end = k + 1 < page.lines.size() ? page.lines[k + 1].start : s.size();
    bool blanks = false;
    for (size_t i = start; i < end && !blanks; ++i)
      blanks = IsBlank(static_cast<unsigned char>(s[i]));
    spans.push_back({start, end, blanks});
  }
  if (spans.empty() && !s.empty())  // a text made without its lines
    spans.push_back({0, s.size(), s.find_first_of(" \t\v\f\r") != std::string::npos});
  size_t span = 0;  // the line that holds the group being read
  auto line_at = [&](size_t at) {
    while (span + 1 < spans.size() && spans[span + 1].start <= at) ++span;
    return spans[span];
  };
  image->reserve(std::min((s.size() + 7) / 8 * 4, kMaxImageSize));

  size_t i = 0;
  bool after_blank = false;
  for (;;) {
    while (i < s.size() && IsBlank(static_cast<unsigned char>(s[i]))) {
      after_blank = true;
      ++i;
    }
    if (i >= s.size()) break;
    const size_t start = i;
    size_t end = start;
    while (end < s.size() && end - start < 8 && !IsBlank(static_cast<unsigned char>(s[end]))) ++end;
    if (end - start < 8 && end < s.size()) {
      // A blank ends the group early: only blanks may follow (a short last group).
      size_t rest = end;
      while (rest < s.size() && IsBlank(static_cast<unsigned char>(s[rest]))) ++rest;
      if (rest < s.size()) return fail(end, Describe(s, end));
    }
    // Where blanks separate groups, every group is whole on its line; only the
    // file's last group may be shorter, and then a blank stands before it.
    const Span line = line_at(start);
    if (line.blanks) {
      const bool whole = end - start == 8 && end <= line.end;
      const bool last_after_blank = end - start < 8 && end <= line.end && after_blank;
      if (!whole && !last_after_blank) {
        const size_t on_line = std::min(end, line.end) - start;
        return fail(start, "a group of " + std::to_string(on_line) +
                               " characters on a line with blanks between groups (groups there "
                               "must be whole, 8 characters each)");
      }
    }
    if ((image->size() + 4) > kMaxImageSize)
      return fail(start, "the image passes 16 MiB, more than the 24-bit block offsets can address");
    size_t d = start;
    // A 0x prefix counts only with a digit after it, as the C library reads it.
    if (d + 2 < end && s[d] == '0' && (s[d + 1] | 0x20) == 'x' &&
        HexDigit(static_cast<unsigned char>(s[d + 2])) >= 0)
      d += 2;
    uint32_t value = 0;
    for (int digit; d < end && (digit = HexDigit(static_cast<unsigned char>(s[d]))) >= 0; ++d)
      value = value << 4 | static_cast<uint32_t>(digit);
    if (d < end) return fail(d, Describe(s, d));
    for (int b = 0; b < 4; ++b) image->push_back(static_cast<uint8_t>(value >> (8 * b)));
    i = end;
    after_blank = false;
  }
  return true;
}

}  // namespace transfer
