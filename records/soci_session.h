// The store's way into SOCI, also for the tests that set a database up by
// hand: the SOCI headers as this package can take them, and a session on
// the database a Location names.
#pragma once

// Debian's SOCI says it was built with Boost, yet its package does not pull
// in Boost's headers; the Boost parts are header-only templates we do not use.
#include <soci/soci-config.h>
#undef SOCI_HAVE_BOOST
#undef SOCI_HAVE_BOOST_DATE_TIME
#include <soci/soci.h>

#include "records/store.h"

namespace records {

// Connects `session` to SQLite or PostgreSQL as `where` says. SQLite's
// folder is not created here. Throws what SOCI throws.
void OpenSession(soci::session& session, const Location& where);

}  // namespace records
