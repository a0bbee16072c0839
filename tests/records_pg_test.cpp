// The records store on a real PostgreSQL server (the ctest fixture of the
// tests labelled db, tests/pg_server.sh): the same round trip as on SQLite,
// no migration but by `db migrate`, and no writes across schema versions.
#include <glob.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "records/soci_session.h"
#include "records/store.h"
#include "tests/cli_test_support.h"
#include "tests/records_test_support.h"

namespace {

using records::Store;
using records::StoreError;
using records_test::FullRun;

bool ServerBinariesInstalled() {
  glob_t found{};
  const bool any = glob("/usr/lib/postgresql/*/bin/pg_ctl", 0, nullptr, &found) == 0;
  globfree(&found);
  return any || std::system("command -v pg_ctl >/dev/null 2>&1") == 0;
}

// A fresh database on the fixture's server for each test, by its name.
class RecordsPg : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* base = std::getenv("LW_TEST_PG_URL");
    if (!base || !*base)
      GTEST_SKIP() << "LW_TEST_PG_URL is not set: run the db tests through ctest";
    if (!ServerBinariesInstalled())
      GTEST_SKIP() << "the PostgreSQL server binaries are not installed (Debian's postgresql)";
    base_ = base;
    name_ = std::string("lw_") + ::testing::UnitTest::GetInstance()->current_test_info()->name();
    for (auto& c : name_) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    Admin("DROP DATABASE IF EXISTS " + name_);
    Admin("CREATE DATABASE " + name_);
    const size_t slash = base_.find("/postgres?");
    ASSERT_NE(slash, std::string::npos) << base_;
    url_ = base_.substr(0, slash) + "/" + name_ + base_.substr(slash + 9);
  }
  void TearDown() override {
    if (!name_.empty()) Admin("DROP DATABASE IF EXISTS " + name_);
  }
  void Admin(const std::string& statement) {
    soci::session session;
    records::OpenSession(session, records::ResolveLocation(base_));
    session << statement;
  }
  void Exec(const std::string& statement) {
    soci::session session;
    records::OpenSession(session, records::ResolveLocation(url_));
    session << statement;
  }
  std::string base_, name_, url_;
};

StoreError::Kind SaveFails(Store& store, std::string* message) {
  try {
    store.Save(FullRun());
  } catch (const StoreError& e) {
    *message = e.what();
    return e.kind;
  }
  ADD_FAILURE() << "saved across schema versions";
  return StoreError::Kind::kQuery;
}

TEST_F(RecordsPg, MigratedOnlyByMigrateThenRunsComeBackAsStored) {
  auto store = Store::Open(records::ResolveLocation(url_));
  // Opening never changes a shared database: a station that is newer
  // than it refuses to write and says so.
  EXPECT_EQ(store->SchemaVersion(), 0);
  std::string message;
  EXPECT_EQ(SaveFails(*store, &message), StoreError::Kind::kSchemaOlder);
  EXPECT_NE(message.find("the program is newer"), std::string::npos) << message;
  EXPECT_NE(message.find("db migrate"), std::string::npos) << message;

  EXPECT_EQ(store->Migrate(), 0);
  EXPECT_EQ(store->SchemaVersion(), Store::ProgramSchemaVersion());
  EXPECT_EQ(store->Migrate(), Store::ProgramSchemaVersion());  // once is enough

  const records::RunRecord run = FullRun();
  const int64_t id = store->Save(run);
  const int64_t second = store->Save(FullRun(run.serial, run.started_ms + 1000));
  EXPECT_GT(second, id);
  records::RunRecord expected = run;
  expected.id = id;
  const records::RunRecord loaded = Store::Open(records::ResolveLocation(url_))->Load(id);
  EXPECT_TRUE(loaded == expected);
  ASSERT_EQ(loaded.steps.size(), 3u);
  EXPECT_EQ(loaded.steps[1].measurements[2].value, std::nullopt);
  EXPECT_EQ(loaded.steps[1].measurements[1].value, std::optional<double>(0.0));
  EXPECT_EQ(loaded.plan_text, run.plan_text);
  const auto history = store->History(run.serial);
  ASSERT_EQ(history.size(), 2u);
  EXPECT_EQ(history[0].id, second);
  records_test::ExpectRawTextsAndNaNsStored(*store);
}

TEST_F(RecordsPg, ANewerDatabaseIsReadButNeitherWrittenNorMigrated) {
  Store::Open(records::ResolveLocation(url_))->Migrate();
  Store::Open(records::ResolveLocation(url_))->Save(FullRun());
  Exec("UPDATE schema_version SET version = version + 1");
  auto store = Store::Open(records::ResolveLocation(url_));
  std::string message;
  EXPECT_EQ(SaveFails(*store, &message), StoreError::Kind::kSchemaNewer);
  EXPECT_NE(message.find("the database is newer"), std::string::npos) << message;
  try {
    store->Migrate();
    ADD_FAILURE() << "migrated a newer database";
  } catch (const StoreError& e) {
    EXPECT_EQ(e.kind, StoreError::Kind::kSchemaNewer);
  }
  EXPECT_EQ(store->History(FullRun().serial).size(), 1u);
  EXPECT_EQ(store->SchemaVersion(), Store::ProgramSchemaVersion() + 1);
}

TEST_F(RecordsPg, DbMigrateCommand) {
  auto r = cli_test::RunCli({"db", "migrate", "--db", url_});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("schema migrated from version 0 to " +
                       std::to_string(Store::ProgramSchemaVersion())),
            std::string::npos)
      << r.out;
  r = cli_test::RunCli({"db", "migrate", "--json", "--db", url_});
  ASSERT_EQ(r.status, 0) << r.err;
  const auto doc = cli_test::Json(r.out);
  EXPECT_EQ(doc["from"], Store::ProgramSchemaVersion());
  EXPECT_EQ(doc["to"], Store::ProgramSchemaVersion());
  r = cli_test::RunCli({"history", "SN1", "--json", "--db", url_});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "[]\n");

  Exec("UPDATE schema_version SET version = version + 1");
  r = cli_test::RunCli({"db", "migrate", "--db", url_});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("the database is newer"), std::string::npos) << r.err;

  // A password given in the URL goes to the server, never to the output.
  const size_t at = url_.find("lanewright@");
  ASSERT_NE(at, std::string::npos);
  std::string with_password = url_;
  with_password.replace(at, 11, "lanewright:s3cret@");
  with_password.replace(with_password.find("/" + name_), name_.size() + 1, "/lw_no_such_database");
  r = cli_test::RunCli({"db", "version", "--db", with_password});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("lw_no_such_database"), std::string::npos) << r.err;
  EXPECT_EQ(r.err.find("s3cret"), std::string::npos) << r.err;
}

}  // namespace
