// `lanewright-cli qualify` storing its record in a real PostgreSQL server
// (the ctest fixture of the tests labelled db, tests/pg_server.sh).
#include <gtest/gtest.h>

#include <cstdlib>

#include "records/soci_session.h"
#include "tests/cli_test_support.h"
#include "tests/qualify_cli_support.h"

namespace {

using cli_test::RunCli;
using qualify_test::Failed;
using qualify_test::QualifyCli;
using qualify_test::StepOf;
using records::Outcome;

TEST_F(QualifyCli, AFailedRunIsStoredInPostgresql) {
  const char* base = std::getenv("LW_TEST_PG_URL");
  if (!base || !*base) GTEST_SKIP() << "LW_TEST_PG_URL is not set: run the db tests through ctest";
  // A database of this test's own on the fixture's server.
  const std::string admin = base;
  const size_t slash = admin.find("/postgres?");
  ASSERT_NE(slash, std::string::npos) << admin;
  const std::string name = "lw_qualify_cli";
  const std::string url = admin.substr(0, slash) + "/" + name + admin.substr(slash + 9);
  auto sql = [&](const std::string& statement) {
    soci::session session;
    records::OpenSession(session, records::ResolveLocation(admin));
    session << statement;
  };
  sql("DROP DATABASE IF EXISTS " + name);
  sql("CREATE DATABASE " + name);
  // A shared database is migrated by hand, once.
  ASSERT_EQ(RunCli({"db", "migrate", "--db", url}).status, 0);
  Fault("tx-stuck=3");
  const auto r = RunCli({"qualify", plan, "--db", url, "--json"}, board);
  ASSERT_EQ(r.status, 3) << r.out << r.err;
  const auto last = Events(r.out).back();
  const auto run = Stored(url, last["run_id"]);
  EXPECT_EQ(run.verdict, Outcome::kFail);
  EXPECT_EQ(run.serial, "LWX2612090042");
  EXPECT_EQ(run.plan_text, qualify_test::QuickPlan());
  EXPECT_TRUE(Failed(StepOf(run, "tx-disable"), "disabled bias", 3));
  EXPECT_FALSE(Failed(StepOf(run, "tx-disable"), "disabled bias", 4));
  sql("DROP DATABASE IF EXISTS " + name);
}

}  // namespace
