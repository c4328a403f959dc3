// The SQLite schema, one numbered step at a time under PRAGMA user_version.
#include <array>
#include <string>

#include "store/sqlite/SqliteDatabase.h"

namespace {

// Step N brings a store of version N-1 to version N. Steps are never edited once released; a
// change of schema is a new step. Names and texts from clients are 8-bit bytes in no particular
// code page, so message and profile texts are blobs.
constexpr std::array<const char *, kSchemaVersion> kSteps = {
    // 1: the first schema.
    R"sql(
    CREATE TABLE accounts (
        name          TEXT PRIMARY KEY,
        password_hash TEXT NOT NULL,
        created_at    INTEGER NOT NULL
    ) WITHOUT ROWID;
    CREATE TABLE bans (
        name      TEXT PRIMARY KEY REFERENCES accounts(name) ON DELETE CASCADE,
        option    INTEGER NOT NULL,
        banned_at INTEGER NOT NULL,
        banned_by TEXT NOT NULL
    ) WITHOUT ROWID;
    CREATE TABLE profiles (
        name       TEXT PRIMARY KEY REFERENCES accounts(name) ON DELETE CASCADE,
        text       BLOB NOT NULL,
        updated_at INTEGER NOT NULL
    ) WITHOUT ROWID;
    CREATE TABLE avatars (
        name       TEXT PRIMARY KEY REFERENCES accounts(name) ON DELETE CASCADE,
        picture    BLOB NOT NULL,
        updated_at INTEGER NOT NULL
    ) WITHOUT ROWID;
    CREATE TABLE settings (
        key   TEXT PRIMARY KEY,
        value TEXT NOT NULL
    ) WITHOUT ROWID;
    CREATE TABLE offline_messages (
        id        INTEGER PRIMARY KEY AUTOINCREMENT,
        recipient TEXT NOT NULL REFERENCES accounts(name) ON DELETE CASCADE,
        sender    TEXT NOT NULL,
        text      BLOB NOT NULL,
        sent_at   INTEGER NOT NULL
    );
    CREATE INDEX offline_messages_by_recipient ON offline_messages(recipient, id);
    CREATE TABLE admin_log (
        id      INTEGER PRIMARY KEY AUTOINCREMENT,
        at      INTEGER NOT NULL,
        actor   TEXT NOT NULL,
        address TEXT NOT NULL,
        action  TEXT NOT NULL,
        target  TEXT NOT NULL,
        detail  TEXT NOT NULL
    );
    )sql",
    // 2: every private message is kept until its recipient has it, online or not; the rows that
    // waited for offline recipients are the first of them.
    R"sql(
    ALTER TABLE offline_messages RENAME TO private_messages;
    DROP INDEX offline_messages_by_recipient;
    CREATE INDEX private_messages_by_recipient ON private_messages(recipient, id);
    )sql",
};

}  // namespace

void SqliteDatabase::migrate() {
    auto connection = lease();
    static const Sql version("PRAGMA user_version");
    Result current = connection->run(version);
    const int stored = current.rows.empty() ? 0 : static_cast<int>(current.rows[0].integer(0));
    if (stored > kSchemaVersion)
        throw StoreError("store: " + file_.string() + " has schema version " +
                         std::to_string(stored) + ", newer than this server's " +
                         std::to_string(kSchemaVersion));
    for (int step = stored + 1; step <= kSchemaVersion; ++step) {
        Transaction transaction(*connection);
        connection->exec(kSteps[static_cast<size_t>(step - 1)]);
        connection->exec("PRAGMA user_version=" + std::to_string(step));
        transaction.commit();
    }
}
