#include "signal/dsp_json.h"

#include <cmath>
#include <sstream>

#include "signal/mini_json.h"

namespace sigtest {

namespace {

std::string Quote(const std::string& s) {
  std::string out = "\"";
  for (char c : s) {
    if (c == '"' || c == '\\') out += '\\';
    out += c;
  }
  return out + "\"";
}

// Index of `name` when the list holds it exactly once; -1 none, -2 several.
int UniqueIndex(Names list, const std::string& name) {
  int found = -1;
  for (size_t i = 0; i < list.size(); ++i) {
    if (name != list[i]) continue;
    if (found >= 0) return -2;
    found = static_cast<int>(i);
  }
  return found;
}

bool Named(Names list, unsigned value) {
  return value < list.size() && list[value][0] != '\0' &&
         UniqueIndex(list, list[value]) == static_cast<int>(value);
}

std::string EntryKey(DspSection section, int entry) {
  if (section == DspSection::kTx && entry >= kTxMonclkFirst)
    return "monclk" + std::to_string(entry - kTxMonclkFirst + 1);
  return "lane" + std::to_string(entry + 1);
}

const char* RowLabel(DspSection section, int entry) {
  if (section == DspSection::kTx) {
    for (const auto& r : kTxRows)
      if (r.entry == entry) return r.label;
  } else {
    for (const auto& r : kRxRows)
      if (r.entry == entry) return r.label;
  }
  return "?";
}

std::string FieldJson(const DspBlock& block, const DspField& f, int entry) {
  const unsigned v = GetDsp(block, f, entry);
  switch (f.control) {
    case DspControl::kList: return DspListValueJson(DspListFor(f, entry), v);
    case DspControl::kCheck: return v ? "true" : "false";
    case DspControl::kNumber: return std::to_string(v);
  }
  return "null";
}

// Reads one field's value; false with an error naming the path.
// A value beyond the list is accepted only when it is the one already there
// (what `dsp read --json` printed for a value the page has no entry for).
bool FieldValue(const json::Value& v, const DspField& f, int entry, const DspBlock& current,
                const std::string& path, unsigned* out, std::string* error) {
  const unsigned max = DspMaxValue(f, entry);
  if (f.control == DspControl::kCheck) {
    if (v.type == json::Value::Type::kBool) {
      *out = v.boolean ? 1 : 0;
      return true;
    }
  }
  if (f.control == DspControl::kList && v.type == json::Value::Type::kString) {
    const Names list = DspListFor(f, entry);
    const int index = UniqueIndex(list, v.text);
    if (index >= 0) {
      *out = static_cast<unsigned>(index);
      return true;
    }
    *error = path + ": \"" + v.text + "\" " +
             (index == -2 ? "names several entries; give the position" : "is not an entry of the list");
    return false;
  }
  if (v.type == json::Value::Type::kNumber) {
    const bool kept = v.number == GetDsp(current, f, entry);
    if (v.number < 0 || (v.number > max && !kept) || std::floor(v.number) != v.number) {
      *error = path + ": " + v.text + " is out of range (0-" + std::to_string(max) + ")";
      return false;
    }
    *out = static_cast<unsigned>(v.number);
    return true;
  }
  *error = path + ": " + v.TypeName() + " is not a valid value";
  return false;
}

}  // namespace

std::string DspListValueJson(Names list, unsigned value) {
  return Named(list, value) ? Quote(list[value]) : std::to_string(value);
}

std::string DspListValueText(Names list, unsigned value) {
  return Named(list, value) ? std::string(list[value]) : "#" + std::to_string(value);
}

std::string DspToJson(const DspBlock& block) {
  std::ostringstream out;
  out << "{\n";
  for (const auto& f : DspFields())
    if (f.section == DspSection::kGlobal)
      out << "  " << Quote(f.key) << ": " << FieldJson(block, f, 0) << ",\n";
  const int code = block[kDspRateCode];
  out << "  \"rate\": "
      << (code == 4 || code == 5 ? Quote(DspRateNames(block[0] & 1)[code - 4]) : std::to_string(code));
  for (DspSection section : {DspSection::kTx, DspSection::kRx}) {
    out << ",\n  " << (section == DspSection::kTx ? "\"tx\"" : "\"rx\"") << ": {";
    for (int entry = 0; entry < DspEntryCount(section); ++entry) {
      out << (entry ? "," : "") << "\n    " << Quote(EntryKey(section, entry)) << ": {\"row\": "
          << Quote(RowLabel(section, entry));
      for (const auto& f : DspFields())
        if (f.section == section) out << ", " << Quote(f.key) << ": " << FieldJson(block, f, entry);
      out << "}";
    }
    out << "\n  }";
  }
  out << "\n}\n";
  return out.str();
}

bool ApplyDspJson(const std::string& text, DspBlock* block, std::string* error) {
  json::Value doc;
  if (!json::Parse(text, &doc, error)) return false;
  if (!doc.IsObject()) {
    *error = "the file holds " + std::string(doc.TypeName()) + ", not an object of DSP fields";
    return false;
  }
  DspBlock next = *block;
  for (const auto& [key, value] : doc.members) {
    if (key == "rate") {
      int code = -1;
      if (value.type == json::Value::Type::kString) {
        for (int s = 0; s < 2 && code < 0; ++s) {
          const int i = IndexOf(DspRateNames(s), value.text);
          if (i >= 0) code = 4 + i;
        }
      } else if (value.type == json::Value::Type::kNumber &&
                 (value.number == 4 || value.number == 5 || value.number == next[kDspRateCode])) {
        code = static_cast<int>(value.number);
      }
      if (code < 0) {
        *error = "rate: give \"25.78125GBd\", \"26.5625GBd\", \"25.78125Gbps\", \"26.5625Gbps\", 4 or 5";
        return false;
      }
      next[kDspRateCode] = static_cast<uint8_t>(code);
      continue;
    }
    if (key == "tx" || key == "rx") {
      const DspSection section = key == "tx" ? DspSection::kTx : DspSection::kRx;
      if (!value.IsObject()) {
        *error = key + ": expected an object of rows (\"lane1\" ...)";
        return false;
      }
      for (const auto& [row_key, row] : value.members) {
        int entry = -1;
        for (int e = 0; e < DspEntryCount(section); ++e)
          if (row_key == EntryKey(section, e)) entry = e;
        const std::string row_path = key + "." + row_key;
        if (entry < 0) {
          *error = row_path + ": unknown row (lane1-lane8" +
                   (section == DspSection::kTx ? std::string(", monclk1, monclk2)") : ")");
          return false;
        }
        if (!row.IsObject()) {
          *error = row_path + ": expected an object of fields";
          return false;
        }
        for (const auto& [name, v] : row.members) {
          const std::string path = row_path + "." + name;
          if (name == "row") {
            if (v.type != json::Value::Type::kString || v.text != RowLabel(section, entry)) {
              *error = path + ": " + row_key + " is shown in row \"" + RowLabel(section, entry) +
                       "\"; rows cannot be moved";
              return false;
            }
            continue;
          }
          const DspField* f = FindDspField(section, name);
          if (!f) {
            *error = path + ": unknown field";
            return false;
          }
          unsigned n = 0;
          if (!FieldValue(v, *f, entry, next, path, &n, error)) return false;
          SetDsp(next, *f, entry, n);
        }
      }
      continue;
    }
    const DspField* f = FindDspField(DspSection::kGlobal, key);
    if (!f) {
      *error = key + ": unknown field";
      return false;
    }
    unsigned n = 0;
    if (!FieldValue(value, *f, 0, next, key, &n, error)) return false;
    SetDsp(next, *f, 0, n);
  }
  next[kDspWriteMarker] = 1;
  *block = next;
  return true;
}

}  // namespace sigtest
