#include "store/sqlite/SqliteConnection.h"

#include <fcntl.h>
#include <unistd.h>

#include <cctype>
#include <cstring>

std::string SqliteErrorText(sqlite3 *db, int rc, std::string_view what) {
    std::string text = "store: ";
    text += what;
    text += ": ";
    text += sqlite3_errstr(rc);
    if (db) {
        const char *detail = sqlite3_errmsg(db);
        if (detail && std::strcmp(detail, sqlite3_errstr(rc)) != 0) {
            text += " (";
            text += detail;
            text += ")";
        }
    }
    return text;
}

namespace {

// The store holds password hashes and private messages: a folder it creates is the owner's alone
// (0700), and its files are 0600 whatever the umask. SQLite gives the WAL and shared-memory files
// the database file's permissions.
void MakeStoreFilesPrivate(const std::filesystem::path &file) {
    namespace fs = std::filesystem;
    std::error_code ec;
    if (file.has_parent_path() && !fs::exists(file.parent_path(), ec)) {
        fs::create_directories(file.parent_path(), ec);
        if (ec)
            throw StoreError("store: cannot create folder " + file.parent_path().string() + ": " +
                             ec.message());
        fs::permissions(file.parent_path(), fs::perms::owner_all, ec);
    }
    if (!fs::exists(file, ec)) {
        const int fd = ::open(file.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd >= 0)
            ::close(fd);
    }
    for (const char *suffix : {"", "-wal", "-shm"}) {
        const fs::path path = file.string() + suffix;
        if (fs::exists(path, ec))
            fs::permissions(path, fs::perms::owner_read | fs::perms::owner_write, ec);
    }
}

// The store's statements number their parameters as $1, $2...; SQLite's own spelling of a
// numbered parameter is ?1, ?2...
std::string SqliteSpelling(const std::string &text) {
    std::string out = text;
    for (size_t i = 0; i + 1 < out.size(); ++i)
        if (out[i] == '$' && std::isdigit(static_cast<unsigned char>(out[i + 1])))
            out[i] = '?';
    return out;
}

}  // namespace

SqliteConnection::SqliteConnection(const std::filesystem::path &file) {
    MakeStoreFilesPrivate(file);
    int rc =
        sqlite3_open_v2(file.string().c_str(), &db_,
                        SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX, nullptr);
    if (rc != SQLITE_OK) {
        std::string text = SqliteErrorText(db_, rc, "open " + file.string());
        sqlite3_close(db_);
        db_ = nullptr;
        throw StoreError(text);
    }
    sqlite3_extended_result_codes(db_, 1);
    sqlite3_busy_timeout(db_, 5000);
    try {
        if (pragmaText("PRAGMA journal_mode=WAL") != "wal")
            throw StoreError("store: " + file.string() + " cannot be switched to WAL mode");
        exec("PRAGMA foreign_keys=ON");
        if (pragmaText("PRAGMA foreign_keys") != "1")
            throw StoreError("store: foreign keys cannot be enabled");
        // Every acknowledged change must survive a crash of the machine, not only of the process.
        exec("PRAGMA synchronous=FULL");
    } catch (...) {
        sqlite3_close(db_);
        db_ = nullptr;
        throw;
    }
}

SqliteConnection::~SqliteConnection() {
    for (sqlite3_stmt *statement : statements_)
        sqlite3_finalize(statement);
    if (db_)
        sqlite3_close_v2(db_);
}

sqlite3_stmt *SqliteConnection::prepared(const Sql &sql) {
    if (sql.id() >= statements_.size())
        statements_.resize(sql.id() + 1, nullptr);
    sqlite3_stmt *&statement = statements_[sql.id()];
    if (!statement) {
        const std::string text = SqliteSpelling(sql.sqlite());
        int rc = sqlite3_prepare_v3(db_, text.data(), static_cast<int>(text.size()),
                                    SQLITE_PREPARE_PERSISTENT, &statement, nullptr);
        if (rc != SQLITE_OK)
            throw StoreError(SqliteErrorText(db_, rc, "prepare " + text));
    }
    return statement;
}

Result SqliteConnection::run(const Sql &sql, std::span<const Param> params) {
    sqlite3_stmt *statement = prepared(sql);
    // Reset on every path, so the next use starts clean and no read transaction stays open.
    struct Reset {
        sqlite3_stmt *s;
        ~Reset() {
            sqlite3_reset(s);
            sqlite3_clear_bindings(s);
        }
    } reset{statement};
    auto check = [&](int rc, const char *what) {
        if (rc != SQLITE_OK)
            throw StoreError(SqliteErrorText(db_, rc, std::string(what) + " in " + sql.sqlite()));
    };
    for (size_t i = 0; i < params.size(); ++i) {
        const Param &p = params[i];
        const int index = static_cast<int>(i + 1);
        const std::string_view bytes = p.bytes();
        switch (p.type()) {
            case Param::Type::Integer:
                check(sqlite3_bind_int64(statement, index, p.integer()), "bind");
                break;
            case Param::Type::Text:
                check(sqlite3_bind_text(statement, index, bytes.data(),
                                        static_cast<int>(bytes.size()), SQLITE_TRANSIENT),
                      "bind");
                break;
            case Param::Type::Blob: {
                // A zero-length blob still binds as a blob (not NULL): the pointer only has to
                // be non-null.
                static const char empty = 0;
                check(sqlite3_bind_blob(statement, index, bytes.empty() ? &empty : bytes.data(),
                                        static_cast<int>(bytes.size()), SQLITE_TRANSIENT),
                      "bind");
                break;
            }
        }
    }
    Result result;
    for (;;) {
        int rc = sqlite3_step(statement);
        if (rc == SQLITE_DONE)
            break;
        if (rc != SQLITE_ROW)
            throw StoreError(SqliteErrorText(db_, rc, "step " + sql.sqlite()));
        Row row;
        const int columns = sqlite3_column_count(statement);
        row.cells.resize(static_cast<size_t>(columns));
        for (int c = 0; c < columns; ++c) {
            Row::Cell &cell = row.cells[static_cast<size_t>(c)];
            const int type = sqlite3_column_type(statement, c);
            cell.null = type == SQLITE_NULL;
            if (type == SQLITE_INTEGER) {
                cell.integer = sqlite3_column_int64(statement, c);
            } else if (!cell.null) {
                auto *p = static_cast<const char *>(sqlite3_column_blob(statement, c));
                int n = sqlite3_column_bytes(statement, c);
                if (p && n > 0)
                    cell.bytes.assign(p, static_cast<size_t>(n));
            }
        }
        result.rows.push_back(std::move(row));
    }
    if (!sqlite3_stmt_readonly(statement)) {
        result.changed = sqlite3_changes64(db_);
        if (result.changed > 0)
            result.insertedId = sqlite3_last_insert_rowid(db_);
    }
    return result;
}

void SqliteConnection::exec(std::string_view script) {
    std::string text(script);
    char *message = nullptr;
    int rc = sqlite3_exec(db_, text.c_str(), nullptr, nullptr, &message);
    if (rc != SQLITE_OK) {
        std::string error = SqliteErrorText(db_, rc, text);
        sqlite3_free(message);
        throw StoreError(error);
    }
}

void SqliteConnection::rollback() noexcept {
    // Nothing can be reported from here; a transaction SQLite ended by itself is already gone.
    if (!sqlite3_get_autocommit(db_))
        sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
}

std::string SqliteConnection::pragmaText(std::string_view pragma) {
    sqlite3_stmt *statement = nullptr;
    int rc = sqlite3_prepare_v2(db_, pragma.data(), static_cast<int>(pragma.size()), &statement,
                                nullptr);
    std::string value;
    if (rc == SQLITE_OK && (rc = sqlite3_step(statement)) == SQLITE_ROW) {
        auto *p = sqlite3_column_text(statement, 0);
        value = p ? reinterpret_cast<const char *>(p) : "";
        rc = SQLITE_OK;
    } else if (rc == SQLITE_DONE) {
        rc = SQLITE_OK;
    }
    sqlite3_finalize(statement);
    if (rc != SQLITE_OK)
        throw StoreError(SqliteErrorText(db_, rc, pragma));
    return value;
}
