// A connection to a SQLite store file: WAL mode and foreign keys switched on and checked, every
// statement prepared once and reset after every use, every failure a StoreError that carries
// sqlite3_errstr.
#pragma once

#include <sqlite3.h>

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "store/Sql.h"

class SqliteConnection : public Connection {
public:
    // Opens or creates the file (and its folder), private to the owner.
    explicit SqliteConnection(const std::filesystem::path &file);
    ~SqliteConnection() override;
    SqliteConnection(const SqliteConnection &) = delete;
    SqliteConnection &operator=(const SqliteConnection &) = delete;

    Result run(const Sql &sql, std::span<const Param> params) override;
    void exec(std::string_view script) override;
    // IMMEDIATE: the write lock is taken at the start, so no statement inside fails for it.
    void begin() override { exec("BEGIN IMMEDIATE"); }
    void commit() override { exec("COMMIT"); }
    void rollback() noexcept override;

    sqlite3 *handle() const { return db_; }

private:
    sqlite3_stmt *prepared(const Sql &sql);
    std::string pragmaText(std::string_view pragma);

    sqlite3 *db_ = nullptr;
    std::vector<sqlite3_stmt *> statements_;  // by Sql::id(), prepared on first use
};

// Builds the text of a failure: what was attempted, the result code's text and the connection's
// own message.
std::string SqliteErrorText(sqlite3 *db, int rc, std::string_view what);
