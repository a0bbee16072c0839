// printf-style formatting into a string of whatever length the text takes
// (fmt's sprintf, no fixed buffer to cut it short): for the formats that
// tables and texts carry as printf strings ("%0.2f", "%.6e", "%3d %%").
#pragma once

#include <fmt/printf.h>

#include <cstddef>
#include <string>
#include <string_view>

template <typename... Args>
std::string Sprintf(const char* format, const Args&... args) {
  return fmt::sprintf(format, args...);
}

// Length of the well-formed UTF-8 sequence at text[i] (RFC 3629: no
// overlong forms, no surrogates, nothing above U+10FFFF), or 0.
inline size_t Utf8Length(std::string_view text, size_t i) {
  const auto at = [&](size_t k) { return static_cast<unsigned char>(text[i + k]); };
  const unsigned char c = at(0);
  if (c < 0x80) return 1;
  size_t n = 0;
  unsigned char low = 0x80, high = 0xBF;  // range of the second byte
  if (c >= 0xC2 && c <= 0xDF)
    n = 2;
  else if (c == 0xE0)
    n = 3, low = 0xA0;
  else if (c == 0xED)
    n = 3, high = 0x9F;
  else if (c >= 0xE1 && c <= 0xEF)
    n = 3;
  else if (c == 0xF0)
    n = 4, low = 0x90;
  else if (c == 0xF4)
    n = 4, high = 0x8F;
  else if (c >= 0xF1 && c <= 0xF3)
    n = 4;
  if (n == 0 || i + n > text.size()) return 0;
  if (at(1) < low || at(1) > high) return 0;
  for (size_t k = 2; k < n; ++k)
    if ((at(k) & 0xC0) != 0x80) return 0;
  return n;
}

// The byte at text[i] that is not UTF-8, appended as the Latin-1 character
// of its value (module text is raw bytes: 0xFF shows as "ÿ").
inline void AppendLatin1(std::string& out, unsigned char c) {
  out += static_cast<char>(0xC0 | c >> 6);
  out += static_cast<char>(0x80 | (c & 0x3F));
}

// Module text as valid UTF-8: well-formed sequences kept, every other byte
// as its Latin-1 character.
inline std::string ValidUtf8(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size());
  for (size_t i = 0; i < bytes.size();) {
    if (const size_t n = Utf8Length(bytes, i)) {
      out.append(bytes, i, n);
      i += n;
    } else {
      AppendLatin1(out, static_cast<unsigned char>(bytes[i++]));
    }
  }
  return out;
}
