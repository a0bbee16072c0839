#include "signal/dsp_json.h"

#include <bit>
#include <cmath>
#include <nlohmann/json.hpp>
#include <set>

namespace sigtest {

namespace {

using Json = nlohmann::ordered_json;

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

const char* SectionKey(DspSection section) { return section == DspSection::kTx ? "tx" : "rx"; }

std::string FieldPath(const DspField& f, int entry) {
  if (f.section == DspSection::kGlobal) return f.key;
  return std::string(SectionKey(f.section)) + "." + EntryKey(f.section, entry) + "." + f.key;
}

Json ListValue(Names list, unsigned value) {
  return Named(list, value) ? Json(list[value]) : Json(value);
}

Json FieldJson(const DspBlock& block, const DspField& f, int entry) {
  const DspFieldValue v = DspValueOf(block, f, entry);
  if (v.name) return v.name;
  if (v.control == DspControl::kCheck) return v.value != 0;
  return v.value;
}

Json RateJson(const DspBlock& block) {
  const int code = block[kDspRateCode];
  if (code == 4 || code == 5) return DspRateNames(block[0] & 1)[code - 4];
  return code;
}

// The most a field's entry can hold in its bits (or sixteen bits).
unsigned Capacity(const DspField& f, int entry) {
  const auto at = LocateDsp(f, entry);
  if (!at) return 0;
  if (at->width == 2) return 0xFFFF;
  return static_cast<unsigned>(at->mask) >> std::countr_zero(at->mask);
}

const char* KindName(const Json& v) {
  switch (v.type()) {
    case Json::value_t::null:
      return "null";
    case Json::value_t::boolean:
      return "a boolean";
    case Json::value_t::string:
      return "a string";
    case Json::value_t::array:
      return "an array";
    case Json::value_t::object:
      return "an object";
    default:
      return "a number";
  }
}

// A JSON number that is a whole number from 0 to `limit`; the number's text
// for messages either way.
bool WholeNumber(const Json& v, unsigned limit, unsigned* out, std::string* text) {
  *text = v.dump();
  if (v.is_number_unsigned()) {
    const auto n = v.get<uint64_t>();
    if (n > limit) return false;
    *out = static_cast<unsigned>(n);
    return true;
  }
  if (v.is_number_integer()) return v.get<int64_t>() == 0 ? (*out = 0, true) : false;
  const double d = v.get<double>();
  if (!(d >= 0 && d <= limit) || std::floor(d) != d) return false;
  *out = static_cast<unsigned>(d);
  return true;
}

// Reads one field's value; false with an error naming the path.
bool FieldValue(const Json& v, const DspField& f, int entry, const std::string& path,
                DspSetting* out, std::string* error) {
  const unsigned max = DspMaxValue(f, entry);
  *out = {path, &f, entry, 0, false};
  if (f.control == DspControl::kCheck && v.is_boolean()) {
    out->value = v.get<bool>() ? 1 : 0;
    return true;
  }
  if (f.control == DspControl::kList && v.is_string()) {
    const Names list = DspListFor(f, entry);
    const auto& name = v.get_ref<const std::string&>();
    const int index = UniqueIndex(list, name);
    if (index >= 0) {
      out->value = static_cast<unsigned>(index);
      return true;
    }
    *error =
        path + ": " + v.dump() + " " +
        (index == -2 ? "names several entries; give the position" : "is not an entry of the list");
    return false;
  }
  if (v.is_number()) {
    std::string text;
    if (!WholeNumber(v, Capacity(f, entry), &out->value, &text)) {
      *error = path + ": " + text + " is out of range (0-" + std::to_string(max) + ")";
      return false;
    }
    out->beyond_list = out->value > max;
    return true;
  }
  *error = path + ": " + KindName(v) + " is not a valid value";
  return false;
}

const char* kRateHelp =
    "rate: give \"25.78125GBd\", \"26.5625GBd\", \"25.78125Gbps\", \"26.5625Gbps\", 4 or 5";

bool RateValue(const Json& v, DspSetting* out, std::string* error) {
  *out = {"rate", nullptr, 0, 0, false};
  if (v.is_string()) {
    for (int s = 0; s < 2; ++s) {
      const int i = IndexOf(DspRateNames(s), v.get_ref<const std::string&>());
      if (i >= 0) {
        out->value = static_cast<unsigned>(4 + i);
        return true;
      }
    }
  } else if (v.is_number()) {
    std::string text;
    if (WholeNumber(v, 0xFF, &out->value, &text)) {
      out->beyond_list = out->value != 4 && out->value != 5;
      return true;
    }
  }
  *error = kRateHelp;
  return false;
}

// Refuses a name given twice in one object: a JSON reader would silently
// keep one of the two values.
class DuplicateCheck {
 public:
  struct Found {
    std::string path;
  };
  bool operator()(int depth, Json::parse_event_t event, Json& parsed) {
    switch (event) {
      case Json::parse_event_t::object_start:
        objects_.push_back({{}, path_.size()});
        break;
      case Json::parse_event_t::key: {
        auto& object = objects_.back();
        const auto& key = parsed.get_ref<const std::string&>();
        path_.resize(object.path_length);
        path_.push_back(key);
        if (!object.keys.insert(key).second) throw Found{Joined()};
        break;
      }
      case Json::parse_event_t::object_end:
        path_.resize(objects_.back().path_length);
        objects_.pop_back();
        break;
      default:
        break;
    }
    (void)depth;
    return true;
  }

 private:
  std::string Joined() const {
    std::string s;
    for (const auto& p : path_) s += (s.empty() ? "" : ".") + p;
    return s;
  }
  struct Object {
    std::set<std::string> keys;
    size_t path_length;
  };
  std::vector<Object> objects_;
  std::vector<std::string> path_;
};

bool ParseDocument(const std::string& text, Json* doc, std::string* error) {
  try {
    DuplicateCheck check;
    *doc = Json::parse(text, std::ref(check));
    return true;
  } catch (const DuplicateCheck::Found& found) {
    *error = found.path + ": given twice";
  } catch (const Json::exception& e) {
    // "[json.exception.parse_error.101] parse error at line 1, column 3: ...",
    // "[json.exception.out_of_range.406] number overflow parsing '1e400'"
    std::string what = e.what();
    const auto at = what.find("] ");
    *error = at == std::string::npos ? what : what.substr(at + 2);
  }
  return false;
}

}  // namespace

std::string DspListValueJson(Names list, unsigned value) { return ListValue(list, value).dump(); }

std::string DspListValueText(Names list, unsigned value) {
  return Named(list, value) ? std::string(list[value]) : "#" + std::to_string(value);
}

DspFieldValue DspValueOf(const DspBlock& block, const DspField& f, int entry) {
  const unsigned v = GetDsp(block, f, entry);
  if (f.control != DspControl::kList) return {f.control, v, nullptr};
  const Names list = DspListFor(f, entry);
  return {f.control, v, Named(list, v) ? list[v] : nullptr};
}

std::string DspFieldText(const DspBlock& block, const DspField& f, int entry) {
  const DspFieldValue v = DspValueOf(block, f, entry);
  if (v.name) return v.name;
  switch (v.control) {
    case DspControl::kList:
      return "#" + std::to_string(v.value);
    case DspControl::kCheck:
      return v.value ? "yes" : "no";
    case DspControl::kNumber:
      return std::to_string(v.value);
  }
  return "?";
}

std::string DspToJson(const DspBlock& block) {
  Json doc = Json::object();
  for (const auto& f : DspFields())
    if (f.section == DspSection::kGlobal) doc[f.key] = FieldJson(block, f, 0);
  doc["rate"] = RateJson(block);
  for (DspSection section : {DspSection::kTx, DspSection::kRx}) {
    Json rows = Json::object();
    for (int entry = 0; entry < DspEntryCount(section); ++entry) {
      Json row = Json::object();
      row["row"] = RowLabel(section, entry);
      for (const auto& f : DspFields())
        if (f.section == section) row[f.key] = FieldJson(block, f, entry);
      rows[EntryKey(section, entry)] = std::move(row);
    }
    doc[SectionKey(section)] = std::move(rows);
  }
  return doc.dump(2) + "\n";
}

bool ParseDspJson(const std::string& text, DspEdit* edit, std::string* error) {
  Json doc;
  if (!ParseDocument(text, &doc, error)) return false;
  if (!doc.is_object()) {
    *error = std::string("the file holds ") + KindName(doc) + ", not an object of DSP fields";
    return false;
  }
  DspEdit out;
  for (const auto& [key, value] : doc.items()) {
    DspSetting setting;
    if (key == "rate") {
      if (!RateValue(value, &setting, error)) return false;
      out.push_back(setting);
      continue;
    }
    if (key == "tx" || key == "rx") {
      const DspSection section = key == "tx" ? DspSection::kTx : DspSection::kRx;
      if (!value.is_object()) {
        *error = key + ": expected an object of rows (\"lane1\" ...)";
        return false;
      }
      for (const auto& [row_key, row] : value.items()) {
        int entry = -1;
        for (int e = 0; e < DspEntryCount(section); ++e)
          if (row_key == EntryKey(section, e)) entry = e;
        const std::string row_path = key + "." + row_key;
        if (entry < 0) {
          *error = row_path + ": unknown row (lane1-lane8" +
                   (section == DspSection::kTx ? std::string(", monclk1, monclk2)") : ")");
          return false;
        }
        if (!row.is_object()) {
          *error = row_path + ": expected an object of fields";
          return false;
        }
        for (const auto& [name, v] : row.items()) {
          const std::string path = row_path + "." + name;
          if (name == "row") {
            if (!v.is_string() || v.get_ref<const std::string&>() != RowLabel(section, entry)) {
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
          if (!FieldValue(v, *f, entry, path, &setting, error)) return false;
          out.push_back(setting);
        }
      }
      continue;
    }
    const DspField* f = FindDspField(DspSection::kGlobal, key);
    if (!f) {
      *error = key + ": unknown field";
      return false;
    }
    if (!FieldValue(value, *f, 0, key, &setting, error)) return false;
    out.push_back(setting);
  }
  *edit = std::move(out);
  return true;
}

bool ApplyDspEdit(const DspEdit& edit, DspBlock* block, std::string* error) {
  DspBlock next = *block;
  for (const auto& s : edit) {
    const unsigned current = s.field ? GetDsp(*block, *s.field, s.entry) : (*block)[kDspRateCode];
    if (s.beyond_list && s.value != current) {
      *error = s.field ? s.path + ": " + std::to_string(s.value) + " is out of range (0-" +
                             std::to_string(DspMaxValue(*s.field, s.entry)) + ")"
                       : kRateHelp;
      return false;
    }
    if (s.field)
      SetDsp(next, *s.field, s.entry, s.value);
    else
      next[kDspRateCode] = static_cast<uint8_t>(s.value);
  }
  next[kDspWriteMarker] = 1;
  *block = next;
  return true;
}

bool ApplyDspJson(const std::string& text, DspBlock* block, std::string* error) {
  DspEdit edit;
  return ParseDspJson(text, &edit, error) && ApplyDspEdit(edit, block, error);
}

std::vector<std::string> DspDifferences(const DspBlock& a, const DspBlock& b) {
  std::vector<std::string> paths;
  auto compare = [&](DspSection section) {
    for (int entry = 0; entry < DspEntryCount(section); ++entry)
      for (const auto& f : DspFields())
        if (f.section == section && LocateDsp(f, entry) &&
            GetDsp(a, f, entry) != GetDsp(b, f, entry))
          paths.push_back(FieldPath(f, entry));
  };
  compare(DspSection::kGlobal);
  if (a[kDspRateCode] != b[kDspRateCode]) paths.push_back("rate");
  compare(DspSection::kTx);
  compare(DspSection::kRx);
  return paths;
}

}  // namespace sigtest
