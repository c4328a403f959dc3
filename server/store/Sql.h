// What the tables of the store need from a SQL database, whichever it is: statements prepared
// once per connection, values in, rows out, and transactions. The SQLite and PostgreSQL
// back-ends implement it; the tables are written once against it.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <memory>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

class StoreError : public std::runtime_error {
public:
    // Unavailable: the database cannot be reached now (a server that is down, a broken
    // connection); it may come back. Failed: everything else.
    enum class Kind { Failed, Unavailable };
    explicit StoreError(const std::string &what, Kind kind = Kind::Failed)
        : std::runtime_error(what), kind_(kind) {}
    Kind kind() const { return kind_; }

private:
    Kind kind_;
};

// A statement of the store with $1, $2... for its parameters. Defined once, at namespace scope;
// every connection prepares it on first use and keeps it prepared. Where the two dialects
// differ, the statement carries a text for each.
class Sql {
public:
    explicit Sql(std::string_view text) : Sql(text, text) {}
    Sql(std::string_view sqliteText, std::string_view postgresText);
    Sql(const Sql &) = delete;
    Sql &operator=(const Sql &) = delete;

    size_t id() const { return id_; }  // dense, from 0: an index into a connection's cache
    const std::string &sqlite() const { return sqlite_; }
    const std::string &postgres() const { return postgres_; }

private:
    std::string sqlite_, postgres_;
    size_t id_;
};

// A parameter: an integer, a text (no NUL bytes) or bytes.
class Param {
public:
    enum class Type { Integer, Text, Blob };
    Param(int64_t value) : type_(Type::Integer), integer_(value) {}
    Param(int32_t value) : Param(static_cast<int64_t>(value)) {}
    Param(std::string_view text) : type_(Type::Text), bytes_(text) {}
    Param(const std::string &text) : Param(std::string_view(text)) {}
    Param(const char *text) : Param(std::string_view(text)) {}
    static Param blob(std::span<const uint8_t> bytes) {
        return Param(Type::Blob,
                     std::string_view(reinterpret_cast<const char *>(bytes.data()), bytes.size()));
    }
    static Param blob(std::string_view bytes) { return Param(Type::Blob, bytes); }

    Type type() const { return type_; }
    int64_t integer() const { return integer_; }
    std::string_view bytes() const { return bytes_; }

private:
    Param(Type type, std::string_view bytes) : type_(type), bytes_(bytes) {}
    Type type_;
    int64_t integer_ = 0;
    std::string_view bytes_;
};

// One row of a result: every column either NULL, an integer, or bytes (texts and blobs alike).
class Row {
public:
    struct Cell {
        bool null = true;
        int64_t integer = 0;
        std::string bytes;
    };
    std::vector<Cell> cells;

    bool isNull(size_t column) const { return cells.at(column).null; }
    int64_t integer(size_t column) const { return cells.at(column).integer; }
    const std::string &text(size_t column) const { return cells.at(column).bytes; }
    std::vector<uint8_t> blob(size_t column) const {
        const std::string &b = cells.at(column).bytes;
        return std::vector<uint8_t>(b.begin(), b.end());
    }
};

struct Result {
    std::vector<Row> rows;
    int64_t changed = 0;  // rows inserted, updated or deleted
    // After an insert that added rows: the id of the last of them, where the database tells it
    // without a RETURNING clause (SQLite, whose RETURNING buffers its rows in a temporary table for
    // every statement); 0 elsewhere. Meaningless after other statements.
    int64_t insertedId = 0;
};

// One connection, used by one thread at a time.
class Connection {
public:
    virtual ~Connection() = default;
    virtual Result run(const Sql &sql, std::span<const Param> params) = 0;
    Result run(const Sql &sql, std::initializer_list<Param> params = {}) {
        return run(sql, std::span<const Param>(params.begin(), params.size()));
    }
    // Statements without parameters or rows, such as a schema step.
    virtual void exec(std::string_view script) = 0;
    // A transaction that writes: it holds the write lock from the start where the database has
    // one, so it cannot fail halfway for want of it.
    virtual void begin() = 0;
    virtual void commit() = 0;
    virtual void rollback() noexcept = 0;
};

// A transaction on a connection, rolled back unless commit() was reached.
class Transaction {
public:
    explicit Transaction(Connection &connection) : connection_(connection) { connection.begin(); }
    ~Transaction() {
        if (!done_)
            connection_.rollback();
    }
    Transaction(const Transaction &) = delete;
    Transaction &operator=(const Transaction &) = delete;
    void commit() {
        connection_.commit();
        done_ = true;
    }

private:
    Connection &connection_;
    bool done_ = false;
};

// A database: where the store lives, and the connections to it.
class Database {
public:
    virtual ~Database() = default;

    // A connection for the holder's use alone until the lease ends.
    class Lease {
    public:
        Lease(Database &owner, Connection &connection) : owner_(&owner), c_(&connection) {}
        Lease(Lease &&other) noexcept : owner_(other.owner_), c_(other.c_) {
            other.owner_ = nullptr;
        }
        Lease &operator=(Lease &&) = delete;
        ~Lease() {
            if (owner_)
                owner_->release(*c_);
        }
        Connection &operator*() const { return *c_; }
        Connection *operator->() const { return c_; }

    private:
        Database *owner_;
        Connection *c_;
    };
    virtual Lease lease() = 0;

    // A single statement on a leased connection.
    Result run(const Sql &sql, std::initializer_list<Param> params = {}) {
        Lease connection = lease();
        return connection->run(sql, params);
    }

    // A connection of its own for the one thread that writes private messages.
    virtual std::unique_ptr<Connection> connectWriter() = 0;
    // Brings the schema to kSchemaVersion, one numbered step at a time; refuses a store that a
    // newer server wrote.
    virtual void migrate() = 0;
    virtual int schemaVersion() = 0;
    // Where the store is, for logs: a file, or a connection string without its password.
    virtual std::string name() const = 0;
    // False while the database is known not to answer: uses of it are refused at once then.
    virtual bool reachable() const { return true; }

protected:
    virtual void release(Connection &connection) noexcept = 0;
};

// The schema version this build writes. Both back-ends number their steps alike: version N
// means the same tables and meaning on each.
inline constexpr int kSchemaVersion = 2;

// How long a database server may leave a statement unanswered before it is taken for unreachable,
// unless told otherwise (PostgreSQL; SQLite answers in the process).
inline constexpr std::chrono::milliseconds kStoreAnswerTimeout{10'000};

// Opens the database `location` names: a postgresql:// (or postgres://) connection string, or
// else a SQLite file. It is not migrated yet.
std::unique_ptr<Database> OpenDatabase(
    const std::string &location, std::chrono::milliseconds answerTimeout = kStoreAnswerTimeout);
bool IsPostgresLocation(std::string_view location);
