// The records store: SQLite on the station (the default) or a shared
// PostgreSQL, one schema and one code path for both.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "records/run_record.h"

namespace records {

// Every failure of the store: could not open, schema of another version,
// a query that failed. The message says which and never holds a password.
struct StoreError : std::runtime_error {
  enum class Kind { kOpen, kSchemaOlder, kSchemaNewer, kQuery, kNotFound, kBadUrl };
  StoreError(Kind k, const std::string& what) : std::runtime_error(what), kind(k) {}
  Kind kind;
};

// What `--db` (or LANEWRIGHT_DB, or the default) names.
struct Location {
  enum class Backend { kSqlite, kPostgresql } backend = Backend::kSqlite;
  std::string sqlite_path;  // for SQLite
  std::string connect;      // for PostgreSQL: a libpq connection string
  std::string display;      // for messages: never holds a password
};

// Resolves `--db URL` (empty when not given): the option, else the
// LANEWRIGHT_DB environment variable, else
// $XDG_DATA_HOME/lanewright/results.db (~/.local/share/... when unset).
// Accepts a file path, sqlite:///path, postgresql://... or postgres://...
// (libpq's URI syntax, ?host=/socket/dir included). Throws kBadUrl.
Location ResolveLocation(const std::string& option);
// $XDG_DATA_HOME/lanewright/results.db, or ~/.local/share/lanewright/results.db
// when XDG_DATA_HOME is unset or relative. Throws kBadUrl without HOME.
std::string DefaultDatabasePath();

// A summary row for `history` and `runs`.
struct RunSummary {
  int64_t id = 0;
  std::string serial;
  std::string part_number;
  std::string vendor;
  std::string plan_name;
  Outcome verdict = Outcome::kError;
  int64_t started_ms = 0;
  int64_t ended_ms = 0;
  std::string host;
};

struct RunFilter {
  std::optional<int64_t> since_ms;  // runs started at or after
  std::optional<Outcome> verdict;
  std::string serial;  // empty: any
  int limit = 0;       // 0: all
};

class Store {
 public:
  virtual ~Store() = default;

  // Opens the store. SQLite files (and their folder) are created and
  // migrated on open; a PostgreSQL database is never migrated here: when
  // its schema version differs from this program's, Open succeeds, reads
  // work where they can, and Save throws kSchemaOlder or kSchemaNewer
  // saying which side is newer. Throws StoreError.
  static std::unique_ptr<Store> Open(const Location& where);

  // The schema version this program writes, and the database's.
  static int ProgramSchemaVersion();
  virtual int SchemaVersion() = 0;
  // Brings the schema up to this program's version (`db migrate`); refuses
  // a database whose schema is newer. Returns the version it started from.
  virtual int Migrate() = 0;

  // Throws kSchemaOlder or kSchemaNewer when Save would refuse this
  // database for its schema, so a caller finds out before a run, not after.
  virtual void CheckWritable() = 0;
  // Stores a whole run in one transaction; returns its id.
  virtual int64_t Save(const RunRecord& run) = 0;
  // Loads a whole run; throws kNotFound.
  virtual RunRecord Load(int64_t id) = 0;
  // A module's runs, newest first.
  virtual std::vector<RunSummary> History(const std::string& serial) = 0;
  virtual std::vector<RunSummary> Runs(const RunFilter& filter) = 0;
};

}  // namespace records
