// The example plan, shortened where a test needs no more (fewer DDM
// samples, a looser BER target), for the qualification tests.
#pragma once

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>

namespace qualify_test {

inline std::string QuickPlan(const std::string& extra_steps = "") {
  std::ifstream in(std::string(LW_SOURCE_DIR) + "/examples/plan.toml");
  std::stringstream text;
  text << in.rdbuf();
  std::string s = text.str();
  auto replace = [&](const std::string& from, const std::string& to) {
    const auto at = s.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    if (at != std::string::npos) s.replace(at, from.size(), to);
  };
  replace("samples = 5\nseconds = 2", "samples = 2\nseconds = 0.2");
  replace("target = 1e-10", "target = 1e-9");
  return s + extra_steps;
}

}  // namespace qualify_test
