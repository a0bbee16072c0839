// A small JSON reader for the files the tools take (`dsp write FILE.json`).
// Objects keep their key order; numbers are doubles.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace sigtest::json {

struct Value {
  enum class Type { kNull, kBool, kNumber, kString, kArray, kObject };
  Type type = Type::kNull;
  bool boolean = false;
  double number = 0;
  std::string text;  // strings, and the number's source text
  std::vector<Value> items;
  std::vector<std::pair<std::string, Value>> members;

  bool IsObject() const { return type == Type::kObject; }
  const char* TypeName() const;
};

// Parses a whole document; on failure returns false with "line L: ...".
bool Parse(const std::string& text, Value* out, std::string* error);

}  // namespace sigtest::json
