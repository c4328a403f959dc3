// The PostgreSQL schema, one numbered step at a time, numbered as the SQLite steps are: the same
// version means the same tables and meaning. Texts from clients are bytes in no particular code
// page, so message and profile texts are bytea; names are validated ASCII.
#include <array>
#include <string>

#include "store/postgres/PgDatabase.h"

namespace {

// Step N brings a store of version N-1 to version N. Steps are never edited once released; a
// change of schema is a new step.
constexpr std::array<const char *, kSchemaVersion> kSteps = {
    // 1: the first schema.
    R"sql(
    CREATE TABLE accounts (
        name          TEXT PRIMARY KEY,
        password_hash TEXT NOT NULL,
        created_at    BIGINT NOT NULL
    );
    CREATE TABLE bans (
        name      TEXT PRIMARY KEY REFERENCES accounts(name) ON DELETE CASCADE,
        option    INTEGER NOT NULL,
        banned_at BIGINT NOT NULL,
        banned_by TEXT NOT NULL
    );
    CREATE TABLE profiles (
        name       TEXT PRIMARY KEY REFERENCES accounts(name) ON DELETE CASCADE,
        text       BYTEA NOT NULL,
        updated_at BIGINT NOT NULL
    );
    CREATE TABLE avatars (
        name       TEXT PRIMARY KEY REFERENCES accounts(name) ON DELETE CASCADE,
        picture    BYTEA NOT NULL,
        updated_at BIGINT NOT NULL
    );
    CREATE TABLE settings (
        key   TEXT PRIMARY KEY,
        value TEXT NOT NULL
    );
    CREATE TABLE offline_messages (
        id        BIGINT GENERATED ALWAYS AS IDENTITY PRIMARY KEY,
        recipient TEXT NOT NULL REFERENCES accounts(name) ON DELETE CASCADE,
        sender    TEXT NOT NULL,
        text      BYTEA NOT NULL,
        sent_at   BIGINT NOT NULL
    );
    CREATE INDEX offline_messages_by_recipient ON offline_messages(recipient, id);
    CREATE TABLE admin_log (
        id      BIGINT GENERATED ALWAYS AS IDENTITY PRIMARY KEY,
        at      BIGINT NOT NULL,
        actor   TEXT NOT NULL,
        address TEXT NOT NULL,
        action  TEXT NOT NULL,
        target  TEXT NOT NULL,
        detail  TEXT NOT NULL
    );
    )sql",
    // 2: every private message is kept until its recipient has it, online or not.
    R"sql(
    ALTER TABLE offline_messages RENAME TO private_messages;
    ALTER INDEX offline_messages_by_recipient RENAME TO private_messages_by_recipient;
    )sql",
};

// Any number that no other user of the database takes its advisory locks under.
constexpr const char *kMigrationLock = "SELECT pg_advisory_xact_lock(7410375326)";

const Sql kReadVersion("SELECT version FROM schema_version");
const Sql kWriteVersion("UPDATE schema_version SET version = $1");

}  // namespace

int PgDatabase::schemaVersion() {
    Result result = run(kReadVersion);
    return result.rows.empty() ? 0 : static_cast<int>(result.rows[0].integer(0));
}

void PgDatabase::migrate() {
    auto connection = lease();
    Transaction transaction(*connection);
    connection->exec(kMigrationLock);
    connection->exec(
        "CREATE TABLE IF NOT EXISTS schema_version (version INTEGER NOT NULL);"
        "INSERT INTO schema_version SELECT 0 WHERE NOT EXISTS (SELECT 1 FROM schema_version)");
    Result current = connection->run(kReadVersion);
    const int stored = current.rows.empty() ? 0 : static_cast<int>(current.rows[0].integer(0));
    if (stored > kSchemaVersion)
        throw StoreError("store: " + name() + " has schema version " + std::to_string(stored) +
                         ", newer than this server's " + std::to_string(kSchemaVersion));
    for (int step = stored + 1; step <= kSchemaVersion; ++step) {
        connection->exec(kSteps[static_cast<size_t>(step - 1)]);
        connection->run(kWriteVersion, {step});
    }
    transaction.commit();
}
