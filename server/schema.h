#pragma once
// The central database's schema, created or brought up to date when the server or the seed starts.

#include "server/serverdb.h"

namespace vnd::server {

// Applies the migrations the database lacks, each in its own transaction, recording them in
// SCHEMA_VERSAO. Returns the schema version reached. Exception when the database is newer than this
// program or a migration fails (nothing of that migration stays).
int UpgradeSchema(const ServerDb &db);

// The schema version this program writes.
int SchemaVersion();

} // namespace vnd::server
