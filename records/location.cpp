// Where the records are: `--db`, LANEWRIGHT_DB or the user's data directory.
#include <cctype>
#include <cstdlib>
#include <string>

#include "records/store.h"

namespace records {
namespace {

std::string Env(const char* name) {
  const char* value = std::getenv(name);
  return value ? value : "";
}

// "name://" at the start of `text`: the scheme in lower case, or "".
std::string Scheme(const std::string& text) {
  const size_t colon = text.find("://");
  if (colon == std::string::npos || colon == 0) return "";
  if (!std::isalpha(static_cast<unsigned char>(text[0]))) return "";
  std::string scheme;
  for (size_t i = 0; i < colon; ++i) {
    const char c = text[i];
    if (!std::isalnum(static_cast<unsigned char>(c)) && c != '+' && c != '-' && c != '.') return "";
    scheme += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  }
  return scheme;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// %XX sequences decoded; false for a broken one.
bool PercentDecode(const std::string& text, std::string* out) {
  out->clear();
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '%') {
      *out += text[i];
      continue;
    }
    const int hi = i + 1 < text.size() ? HexDigit(text[i + 1]) : -1;
    const int lo = i + 2 < text.size() ? HexDigit(text[i + 2]) : -1;
    if (hi < 0 || lo < 0) return false;
    *out += static_cast<char>(hi * 16 + lo);
    i += 2;
  }
  return true;
}

// A PostgreSQL URI without its password: the one of the user part
// (user:secret@) and a `password` parameter are left out. libpq reads the
// user part up to the first '@' or '/', as here.
std::string WithoutPassword(const std::string& uri, const std::string& scheme) {
  const size_t start = scheme.size() + 3;
  std::string out = uri.substr(0, start);
  size_t at = start;
  while (at < uri.size() && uri[at] != '@' && uri[at] != '/') ++at;
  size_t rest = start;
  if (at < uri.size() && uri[at] == '@') {
    const std::string user_info = uri.substr(start, at - start);
    out += user_info.substr(0, user_info.find(':')) + "@";
    rest = at + 1;
  }
  const size_t query = uri.find('?', rest);
  out += uri.substr(rest, query == std::string::npos ? std::string::npos : query - rest);
  if (query == std::string::npos) return out;
  std::string kept;
  size_t pos = query + 1;
  while (pos <= uri.size()) {
    size_t end = uri.find('&', pos);
    if (end == std::string::npos) end = uri.size();
    const std::string pair = uri.substr(pos, end - pos);
    std::string key;
    PercentDecode(pair.substr(0, pair.find('=')), &key);
    if (!pair.empty() && key != "password") kept += (kept.empty() ? "" : "&") + pair;
    pos = end + 1;
  }
  if (!kept.empty()) out += "?" + kept;
  return out;
}

}  // namespace

std::string DefaultDatabasePath() {
  std::string base = Env("XDG_DATA_HOME");
  // The XDG base directory rules ignore a relative XDG_DATA_HOME.
  if (base.empty() || base[0] != '/') {
    const std::string home = Env("HOME");
    if (home.empty())
      throw StoreError(StoreError::Kind::kBadUrl,
                       "no data directory (neither XDG_DATA_HOME nor HOME is set): give --db");
    base = home + "/.local/share";
  }
  return base + "/lanewright/results.db";
}

Location ResolveLocation(const std::string& option) {
  std::string text = option;
  std::string origin = "--db";
  if (text.empty()) {
    text = Env("LANEWRIGHT_DB");
    origin = "LANEWRIGHT_DB";
  }
  Location where;
  if (text.empty()) {
    where.sqlite_path = DefaultDatabasePath();
    where.display = where.sqlite_path;
    return where;
  }
  const std::string scheme = Scheme(text);
  if (scheme.empty()) {
    where.sqlite_path = text;
    where.display = text;
    return where;
  }
  if (scheme == "sqlite") {
    // sqlite:///path/to/results.db: an absolute path, percent-encoded as in a file URI.
    const std::string rest = text.substr(scheme.size() + 3);
    std::string path;
    if (rest.size() < 2 || rest[0] != '/' || !PercentDecode(rest, &path) ||
        path.find('\0') != std::string::npos)
      throw StoreError(StoreError::Kind::kBadUrl,
                       origin + ": \"" + text +
                           "\" is not an SQLite URL; give sqlite:///absolute/path or a file path");
    where.sqlite_path = path;
    where.display = path;
    return where;
  }
  if (scheme == "postgresql" || scheme == "postgres") {
    where.backend = Location::Backend::kPostgresql;
    where.connect = text;  // libpq reads the URI itself
    where.display = WithoutPassword(text, scheme);
    return where;
  }
  throw StoreError(StoreError::Kind::kBadUrl,
                   origin + ": unknown database scheme \"" + scheme +
                       "://\"; give a file path, sqlite:///path or postgresql://...");
}

}  // namespace records
