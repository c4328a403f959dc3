#include "store/Database.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstring>

std::string StoreErrorText(sqlite3 *db, int rc, std::string_view what) {
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

Statement::Statement(sqlite3 *db, std::string_view sql) : db_(db), sql_(sql) {
    int rc = sqlite3_prepare_v3(db_, sql_.data(), static_cast<int>(sql_.size()),
                                SQLITE_PREPARE_PERSISTENT, &stmt_, nullptr);
    if (rc != SQLITE_OK)
        throw StoreError(StoreErrorText(db_, rc, "prepare " + sql_));
}

Statement::~Statement() {
    sqlite3_finalize(stmt_);
}

Query::~Query() {
    sqlite3_reset(s_.handle());
    sqlite3_clear_bindings(s_.handle());
}

void Query::check(int rc, const char *what) const {
    if (rc != SQLITE_OK)
        throw StoreError(StoreErrorText(s_.db(), rc, std::string(what) + " in " + s_.sql()), rc);
}

Query &Query::bind(int index, int64_t value) {
    check(sqlite3_bind_int64(s_.handle(), index, value), "bind");
    return *this;
}

Query &Query::bindText(int index, std::string_view text) {
    check(sqlite3_bind_text(s_.handle(), index, text.data(), static_cast<int>(text.size()),
                            SQLITE_TRANSIENT),
          "bind");
    return *this;
}

Query &Query::bindBlob(int index, std::span<const uint8_t> bytes) {
    // A zero-length blob still binds as a blob (not NULL): the pointer only has to be non-null.
    static const uint8_t empty = 0;
    const void *data = bytes.empty() ? &empty : bytes.data();
    check(sqlite3_bind_blob(s_.handle(), index, data, static_cast<int>(bytes.size()),
                            SQLITE_TRANSIENT),
          "bind");
    return *this;
}

bool Query::step() {
    int rc = sqlite3_step(s_.handle());
    if (rc == SQLITE_ROW)
        return true;
    if (rc == SQLITE_DONE)
        return false;
    throw StoreError(StoreErrorText(s_.db(), rc, "step " + s_.sql()), rc);
}

void Query::run() {
    while (step()) {
    }
}

int64_t Query::integer(int column) const {
    return sqlite3_column_int64(s_.handle(), column);
}

std::string Query::text(int column) const {
    auto *p = static_cast<const char *>(sqlite3_column_blob(s_.handle(), column));
    int n = sqlite3_column_bytes(s_.handle(), column);
    return p && n > 0 ? std::string(p, static_cast<size_t>(n)) : std::string();
}

std::vector<uint8_t> Query::blob(int column) const {
    auto *p = static_cast<const uint8_t *>(sqlite3_column_blob(s_.handle(), column));
    int n = sqlite3_column_bytes(s_.handle(), column);
    return p && n > 0 ? std::vector<uint8_t>(p, p + n) : std::vector<uint8_t>();
}

bool Query::isNull(int column) const {
    return sqlite3_column_type(s_.handle(), column) == SQLITE_NULL;
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

}  // namespace

Database::Database(const std::filesystem::path &file) : file_(file) {
    MakeStoreFilesPrivate(file);
    int rc =
        sqlite3_open_v2(file.string().c_str(), &db_,
                        SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX, nullptr);
    if (rc != SQLITE_OK) {
        std::string text = StoreErrorText(db_, rc, "open " + file.string());
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

Database::~Database() {
    if (db_)
        sqlite3_close_v2(db_);
}

void Database::exec(std::string_view sql) {
    std::string text(sql);
    char *message = nullptr;
    int rc = sqlite3_exec(db_, text.c_str(), nullptr, nullptr, &message);
    if (rc != SQLITE_OK) {
        std::string error = StoreErrorText(db_, rc, text);
        sqlite3_free(message);
        throw StoreError(error, sqlite3_extended_errcode(db_));
    }
}

std::string Database::pragmaText(std::string_view pragma) {
    Statement statement(db_, pragma);
    Query query(statement);
    return query.step() ? query.text(0) : std::string();
}

int Database::userVersion() {
    Statement statement(db_, "PRAGMA user_version");
    Query query(statement);
    return query.step() ? static_cast<int>(query.integer(0)) : 0;
}

void Database::setUserVersion(int version) {
    exec("PRAGMA user_version=" + std::to_string(version));
}

Transaction::Transaction(Database &db) : db_(db), guard_(db.lock()) {
    db_.exec("SAVEPOINT tx");
}

Transaction::~Transaction() {
    if (!done_) {
        // Nothing can be reported from a destructor; if the rollback itself fails the outermost
        // savepoint's release still ends the transaction.
        sqlite3_exec(db_.handle(), "ROLLBACK TO tx; RELEASE tx", nullptr, nullptr, nullptr);
    }
}

void Transaction::commit() {
    db_.exec("RELEASE tx");
    done_ = true;
}
