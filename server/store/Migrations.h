// Brings a store to the schema this server works with, one numbered step at a time.
#pragma once

class Database;

// The schema version this build writes.
int CurrentSchemaVersion();

// Runs every step above the store's PRAGMA user_version, each in its own transaction that also
// sets the new version. A store written by a newer server is refused with a StoreError.
void MigrateStore(Database &db);
