// printf-style formatting into a string of whatever length the text takes
// (fmt's sprintf, no fixed buffer to cut it short): for the formats that
// tables and texts carry as printf strings ("%0.2f", "%.6e", "%3d %%").
#pragma once

#include <fmt/printf.h>

#include <string>

template <typename... Args>
std::string Sprintf(const char* format, const Args&... args) {
  return fmt::sprintf(format, args...);
}
