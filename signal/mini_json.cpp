#include "signal/mini_json.h"

#include <cstdlib>

namespace sigtest::json {

const char* Value::TypeName() const {
  switch (type) {
    case Type::kNull: return "null";
    case Type::kBool: return "a boolean";
    case Type::kNumber: return "a number";
    case Type::kString: return "a string";
    case Type::kArray: return "an array";
    case Type::kObject: return "an object";
  }
  return "?";
}

namespace {

class Parser {
 public:
  explicit Parser(const std::string& text) : s_(text) {}

  bool Document(Value* out, std::string* error) {
    if (!ParseValue(out, 0) || (Skip(), pos_ != s_.size() && Fail("text after the end"))) {
      if (error) *error = "line " + std::to_string(Line()) + ": " + error_;
      return false;
    }
    return true;
  }

 private:
  bool Fail(const std::string& what) {
    if (error_.empty()) error_ = what;
    return false;
  }
  int Line() const {
    int line = 1;
    for (size_t i = 0; i < pos_ && i < s_.size(); ++i) line += s_[i] == '\n';
    return line;
  }
  void Skip() {
    while (pos_ < s_.size() && (s_[pos_] == ' ' || s_[pos_] == '\t' || s_[pos_] == '\n' || s_[pos_] == '\r'))
      ++pos_;
  }
  bool Literal(const char* word) {
    const std::string w(word);
    if (s_.compare(pos_, w.size(), w) != 0) return Fail("unexpected text");
    pos_ += w.size();
    return true;
  }

  bool ParseValue(Value* v, int depth) {
    if (depth > 64) return Fail("nested too deeply");
    Skip();
    if (pos_ >= s_.size()) return Fail("unexpected end of the file");
    const char c = s_[pos_];
    if (c == '{') return Object(v, depth);
    if (c == '[') return Array(v, depth);
    if (c == '"') {
      v->type = Value::Type::kString;
      return String(&v->text);
    }
    if (c == 't') { v->type = Value::Type::kBool; v->boolean = true; return Literal("true"); }
    if (c == 'f') { v->type = Value::Type::kBool; v->boolean = false; return Literal("false"); }
    if (c == 'n') { v->type = Value::Type::kNull; return Literal("null"); }
    if (c == '-' || (c >= '0' && c <= '9')) return Number(v);
    return Fail(std::string("unexpected character '") + c + "'");
  }

  bool Number(Value* v) {
    const size_t start = pos_;
    if (s_[pos_] == '-') ++pos_;
    while (pos_ < s_.size() && std::string("0123456789.eE+-").find(s_[pos_]) != std::string::npos) ++pos_;
    v->type = Value::Type::kNumber;
    v->text = s_.substr(start, pos_ - start);
    char* end = nullptr;
    v->number = std::strtod(v->text.c_str(), &end);
    if (end != v->text.c_str() + v->text.size()) return Fail("bad number " + v->text);
    return true;
  }

  bool String(std::string* out) {
    ++pos_;  // opening quote
    while (pos_ < s_.size()) {
      const char c = s_[pos_++];
      if (c == '"') return true;
      if (static_cast<unsigned char>(c) < 0x20) return Fail("control character in a string");
      if (c != '\\') {
        *out += c;
        continue;
      }
      if (pos_ >= s_.size()) break;
      const char e = s_[pos_++];
      switch (e) {
        case '"': *out += '"'; break;
        case '\\': *out += '\\'; break;
        case '/': *out += '/'; break;
        case 'b': *out += '\b'; break;
        case 'f': *out += '\f'; break;
        case 'n': *out += '\n'; break;
        case 'r': *out += '\r'; break;
        case 't': *out += '\t'; break;
        case 'u': {
          if (pos_ + 4 > s_.size()) return Fail("bad \\u escape");
          const unsigned code = std::strtoul(s_.substr(pos_, 4).c_str(), nullptr, 16);
          pos_ += 4;
          if (code < 0x80) {
            *out += static_cast<char>(code);
          } else if (code < 0x800) {
            *out += static_cast<char>(0xC0 | code >> 6);
            *out += static_cast<char>(0x80 | (code & 0x3F));
          } else {
            *out += static_cast<char>(0xE0 | code >> 12);
            *out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
            *out += static_cast<char>(0x80 | (code & 0x3F));
          }
          break;
        }
        default: return Fail("bad escape in a string");
      }
    }
    return Fail("unterminated string");
  }

  bool Array(Value* v, int depth) {
    v->type = Value::Type::kArray;
    ++pos_;
    Skip();
    if (pos_ < s_.size() && s_[pos_] == ']') return ++pos_, true;
    for (;;) {
      v->items.emplace_back();
      if (!ParseValue(&v->items.back(), depth + 1)) return false;
      Skip();
      if (pos_ < s_.size() && s_[pos_] == ',') { ++pos_; continue; }
      if (pos_ < s_.size() && s_[pos_] == ']') return ++pos_, true;
      return Fail("expected ',' or ']'");
    }
  }

  bool Object(Value* v, int depth) {
    v->type = Value::Type::kObject;
    ++pos_;
    Skip();
    if (pos_ < s_.size() && s_[pos_] == '}') return ++pos_, true;
    for (;;) {
      Skip();
      if (pos_ >= s_.size() || s_[pos_] != '"') return Fail("expected a quoted name");
      std::string key;
      if (!String(&key)) return false;
      Skip();
      if (pos_ >= s_.size() || s_[pos_] != ':') return Fail("expected ':' after \"" + key + "\"");
      ++pos_;
      for (const auto& m : v->members)
        if (m.first == key) return Fail("\"" + key + "\" given twice");
      v->members.emplace_back(key, Value{});
      if (!ParseValue(&v->members.back().second, depth + 1)) return false;
      Skip();
      if (pos_ < s_.size() && s_[pos_] == ',') { ++pos_; continue; }
      if (pos_ < s_.size() && s_[pos_] == '}') return ++pos_, true;
      return Fail("expected ',' or '}'");
    }
  }

  const std::string& s_;
  size_t pos_ = 0;
  std::string error_;
};

}  // namespace

bool Parse(const std::string& text, Value* out, std::string* error) {
  *out = Value{};
  return Parser(text).Document(out, error);
}

}  // namespace sigtest::json
