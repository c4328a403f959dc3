// One SQLite connection shared by the whole server, with prepared statements that are reset after
// every use. Every failure becomes a StoreError whose text carries sqlite3_errstr.
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <filesystem>
#include <mutex>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

class StoreError : public std::runtime_error {
public:
    // `code` is SQLite's extended result code when the failure came from SQLite, else 0.
    explicit StoreError(const std::string &what, int code = 0)
        : std::runtime_error(what), code_(code) {}
    int code() const { return code_; }

private:
    int code_;
};

// A statement prepared once for the life of the connection.
class Statement {
public:
    Statement(sqlite3 *db, std::string_view sql);
    ~Statement();
    Statement(const Statement &) = delete;
    Statement &operator=(const Statement &) = delete;

    sqlite3_stmt *handle() const { return stmt_; }
    sqlite3 *db() const { return db_; }
    const std::string &sql() const { return sql_; }

private:
    sqlite3 *db_;
    sqlite3_stmt *stmt_ = nullptr;
    std::string sql_;
};

// One use of a prepared statement: bind, step, read columns. The destructor resets the statement
// and clears its bindings, so the next use starts clean whatever path this one took.
class Query {
public:
    explicit Query(Statement &statement) : s_(statement) {}
    ~Query();
    Query(const Query &) = delete;
    Query &operator=(const Query &) = delete;

    Query &bind(int index, int64_t value);
    Query &bindText(int index, std::string_view text);
    Query &bindBlob(int index, std::span<const uint8_t> bytes);

    // True while a row is ready, false when the statement has finished.
    bool step();
    // Runs a statement that returns no rows.
    void run();

    int64_t integer(int column) const;
    std::string text(int column) const;
    std::vector<uint8_t> blob(int column) const;
    bool isNull(int column) const;

private:
    void check(int rc, const char *what) const;
    Statement &s_;
};

class Database {
public:
    // Opens or creates the store file, switches on WAL and foreign keys and checks that both took.
    explicit Database(const std::filesystem::path &file);
    ~Database();
    Database(const Database &) = delete;
    Database &operator=(const Database &) = delete;

    // The connection is used by one thread at a time; callers hold this lock around a use. It is
    // recursive so that a transaction can span several repository calls.
    std::unique_lock<std::recursive_mutex> lock() { return std::unique_lock(mutex_); }

    void exec(std::string_view sql);
    int userVersion();
    void setUserVersion(int version);
    sqlite3 *handle() const { return db_; }
    const std::filesystem::path &file() const { return file_; }

private:
    std::string pragmaText(std::string_view pragma);

    sqlite3 *db_ = nullptr;
    std::filesystem::path file_;
    std::recursive_mutex mutex_;
};

// A savepoint: rolled back unless commit() was reached. Savepoints nest, so a repository call that
// needs one works both alone and inside a caller's larger transaction. Holds the database lock.
class Transaction {
public:
    explicit Transaction(Database &db);
    ~Transaction();
    Transaction(const Transaction &) = delete;
    Transaction &operator=(const Transaction &) = delete;
    void commit();

private:
    Database &db_;
    std::unique_lock<std::recursive_mutex> guard_;
    bool done_ = false;
};

// Builds the text of a failure: what was attempted, the result code's text and the connection's
// own message.
std::string StoreErrorText(sqlite3 *db, int rc, std::string_view what);
