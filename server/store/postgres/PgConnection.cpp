#include "store/postgres/PgConnection.h"

#include <poll.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace {

// Type oids of the built-in integer types (pg_type.h, which is the server's header).
constexpr Oid kBoolOid = 16, kInt8Oid = 20, kInt2Oid = 21, kInt4Oid = 23;

int64_t BigEndian(const char *p, int n) {
    int64_t value = (n > 0 && (static_cast<unsigned char>(p[0]) & 0x80)) ? -1 : 0;
    for (int i = 0; i < n; ++i)
        value = static_cast<int64_t>((static_cast<uint64_t>(value) << 8) |
                                     static_cast<unsigned char>(p[i]));
    return value;
}

// Server notices (e.g. "relation already exists, skipping") are not failures and would go to
// stderr unasked.
void IgnoreNotice(void *, const char *) {}

// libpq's messages span lines; a log line is one line.
std::string TrimmedMessage(const char *message) {
    std::string text;
    for (const char *p = message ? message : ""; *p; ++p) {
        const bool space = *p == '\n' || *p == '\t' || *p == ' ';
        if (!space)
            text += *p;
        else if (!text.empty() && text.back() != ' ')
            text += ' ';
    }
    while (!text.empty() && text.back() == ' ')
        text.pop_back();
    return text;
}

}  // namespace

std::string PgDisplayName(const std::string &url) {
    char *error = nullptr;
    PQconninfoOption *options = PQconninfoParse(url.c_str(), &error);
    if (!options) {
        PQfreemem(error);
        return "postgresql://(unreadable connection string)";
    }
    std::string user, host, port, dbname;
    for (PQconninfoOption *o = options; o->keyword; ++o) {
        if (!o->val)
            continue;
        if (std::strcmp(o->keyword, "user") == 0)
            user = o->val;
        else if (std::strcmp(o->keyword, "host") == 0 || std::strcmp(o->keyword, "hostaddr") == 0)
            host = host.empty() ? o->val : host;
        else if (std::strcmp(o->keyword, "port") == 0)
            port = o->val;
        else if (std::strcmp(o->keyword, "dbname") == 0)
            dbname = o->val;
    }
    PQconninfoFree(options);
    return "postgresql://" + (user.empty() ? "" : user + "@") + host +
           (port.empty() ? "" : ":" + port) + "/" + dbname;
}

PgConnection::PgConnection(const std::string &url, PgAvailability *availability,
                           std::chrono::milliseconds answerTimeout)
    : answerTimeout_(answerTimeout),
      availability_(availability),
      generation_(availability ? availability->generation() : 0) {
    // Defaults first: the connection string's own settings come after them and win. A server
    // that does not answer is given up on after a few seconds, and a peer that vanished is
    // noticed by keepalives while idle, and by the kernel when what was sent stays unacknowledged
    // for the answer time-out.
    const std::string unacknowledged = std::to_string(answerTimeout.count());
    const char *keywords[] = {"connect_timeout",
                              "keepalives_idle",
                              "keepalives_interval",
                              "keepalives_count",
                              "tcp_user_timeout",
                              "dbname",
                              nullptr};
    const char *values[] = {"5", "10", "5", "3", unacknowledged.c_str(), url.c_str(), nullptr};
    conn_ = PQconnectdbParams(keywords, values, 1);
    if (!conn_)
        throw StoreError("store: out of memory connecting to PostgreSQL",
                         StoreError::Kind::Unavailable);
    if (PQstatus(conn_) != CONNECTION_OK) {
        std::string text = "store: cannot connect to " + PgDisplayName(url) + ": " +
                           TrimmedMessage(PQerrorMessage(conn_));
        PQfinish(conn_);
        conn_ = nullptr;
        throw StoreError(text, StoreError::Kind::Unavailable);
    }
    PQsetNoticeProcessor(conn_, &IgnoreNotice, nullptr);
    // Sending must not block either: a server that stopped reading would hold the thread.
    PQsetnonblocking(conn_, 1);
}

PgConnection::~PgConnection() {
    if (conn_)
        PQfinish(conn_);
}

bool PgConnection::reusable() const {
    return !abandoned_ && PQstatus(conn_) == CONNECTION_OK &&
           PQtransactionStatus(conn_) == PQTRANS_IDLE;
}

bool PgConnection::awaitResult() {
    const auto deadline = std::chrono::steady_clock::now() + answerTimeout_;
    // Waits until the socket is ready for `events` or the deadline; false at the deadline.
    auto await = [&](short events) {
        for (;;) {
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0)
                return false;
            pollfd p{PQsocket(conn_), events, 0};
            const int ready = poll(&p, 1, static_cast<int>(left.count()));
            if (ready > 0 || (ready < 0 && errno != EINTR))
                return true;  // libpq's next call tells what is wrong with the socket, if anything
        }
    };
    for (int pending; (pending = PQflush(conn_)) != 0;) {
        if (pending < 0)
            return false;
        // Reading too, so the server's answers never wait behind what it has not taken yet.
        if (!await(POLLIN | POLLOUT))
            return abandon();
        if (!PQconsumeInput(conn_))
            return false;
    }
    while (PQisBusy(conn_)) {
        if (!await(POLLIN))
            return abandon();
        if (!PQconsumeInput(conn_))
            return false;
    }
    return true;
}

bool PgConnection::abandon() {
    // What the server does with the statement is unknown now: the session is given up on.
    abandoned_ = true;
    return false;
}

PGresult *PgConnection::nextResult() {
    return awaitResult() ? PQgetResult(conn_) : nullptr;
}

PGresult *PgConnection::answer(bool sent) {
    if (!sent)
        return nullptr;
    PGresult *result = nextResult();
    // One statement, one result; the null after it leaves the connection ready for the next.
    for (PGresult *extra; result && (extra = nextResult()) != nullptr;)
        PQclear(extra);
    if (abandoned_) {
        PQclear(result);
        return nullptr;
    }
    return result;
}

void PgConnection::fail(PGresult *result, std::string_view what) {
    std::string text = "store: ";
    text += what;
    text += ": ";
    if (abandoned_) {
        // A server that leaves a statement unanswered this long is as good as down. The session
        // is connected anew at its next use, or closed by the pool.
        text += "no answer within " + std::to_string(answerTimeout_.count()) + " ms";
        PQclear(result);
        if (availability_)
            availability_->markDown(text);
        throw StoreError(text, StoreError::Kind::Unavailable);
    }
    text += TrimmedMessage(result ? PQresultErrorMessage(result) : PQerrorMessage(conn_));
    if (text.back() == ' ')
        text += TrimmedMessage(PQerrorMessage(conn_));
    PQclear(result);
    if (PQstatus(conn_) == CONNECTION_OK)
        throw StoreError(text);
    if (availability_ && !inTransaction_) {
        // A session the server ended (terminated by an administrator, say) is no outage; a
        // server that takes no new connection is. Inside a transaction the next use tells.
        PQreset(conn_);
        statements_.clear();
        if (PQstatus(conn_) == CONNECTION_OK)
            generation_ = availability_->generation();
        else
            availability_->markDown(text);
    }
    throw StoreError(text, StoreError::Kind::Unavailable);
}

void PgConnection::reconnectIfBroken() {
    if (inTransaction_)
        return;
    bool stale = false;
    if (availability_) {
        availability_->check();
        // The server went away since this connection was made: even if the socket has not
        // told yet, its session is gone.
        stale = generation_ != availability_->generation();
        generation_ = availability_->generation();
    }
    if (!stale && !abandoned_ && PQstatus(conn_) == CONNECTION_OK)
        return;
    PQreset(conn_);
    statements_.clear();  // the server forgot them with the old session
    abandoned_ = PQstatus(conn_) != CONNECTION_OK;
    if (PQstatus(conn_) != CONNECTION_OK) {
        const std::string text =
            "store: cannot connect again: " + TrimmedMessage(PQerrorMessage(conn_));
        if (availability_)
            availability_->markDown(text);
        throw StoreError(text, StoreError::Kind::Unavailable);
    }
}

const std::string &PgConnection::prepared(const Sql &sql) {
    if (sql.id() >= statements_.size())
        statements_.resize(sql.id() + 1);
    std::string &name = statements_[sql.id()];
    if (name.empty()) {
        const std::string candidate = "s" + std::to_string(sql.id());
        PGresult *result =
            answer(PQsendPrepare(conn_, candidate.c_str(), sql.postgres().c_str(), 0, nullptr));
        if (PQresultStatus(result) != PGRES_COMMAND_OK)
            fail(result, "prepare " + sql.postgres());
        PQclear(result);
        name = candidate;
    }
    return name;
}

Result PgConnection::run(const Sql &sql, std::span<const Param> params) {
    reconnectIfBroken();
    const std::string &name = prepared(sql);
    const size_t n = params.size();
    std::vector<std::string> texts(n);  // integers spelled out, texts NUL-terminated
    std::vector<const char *> values(n);
    std::vector<int> lengths(n), formats(n);
    for (size_t i = 0; i < n; ++i) {
        const Param &p = params[i];
        switch (p.type()) {
            case Param::Type::Integer:
                texts[i] = std::to_string(p.integer());
                values[i] = texts[i].c_str();
                break;
            case Param::Type::Text:
                texts[i] = p.bytes();
                values[i] = texts[i].c_str();
                break;
            case Param::Type::Blob:
                values[i] = p.bytes().data() ? p.bytes().data() : "";
                lengths[i] = static_cast<int>(p.bytes().size());
                formats[i] = 1;
                break;
        }
    }
    PGresult *r = answer(PQsendQueryPrepared(conn_, name.c_str(), static_cast<int>(n),
                                             values.data(), lengths.data(), formats.data(), 1));
    const ExecStatusType status = PQresultStatus(r);
    if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK)
        fail(r, sql.postgres());
    Result result;
    const int rows = PQntuples(r), columns = PQnfields(r);
    result.rows.resize(static_cast<size_t>(rows));
    for (int row = 0; row < rows; ++row) {
        std::vector<Row::Cell> &cells = result.rows[static_cast<size_t>(row)].cells;
        cells.resize(static_cast<size_t>(columns));
        for (int c = 0; c < columns; ++c) {
            Row::Cell &cell = cells[static_cast<size_t>(c)];
            cell.null = PQgetisnull(r, row, c);
            if (cell.null)
                continue;
            const char *data = PQgetvalue(r, row, c);
            const int length = PQgetlength(r, row, c);
            const Oid type = PQftype(r, c);
            if (type == kInt8Oid || type == kInt4Oid || type == kInt2Oid || type == kBoolOid)
                cell.integer = BigEndian(data, length);
            else
                cell.bytes.assign(data, static_cast<size_t>(length));
        }
    }
    const char *changed = PQcmdTuples(r);
    result.changed = changed && *changed ? std::atoll(changed) : 0;
    PQclear(r);
    return result;
}

void PgConnection::exec(std::string_view script) {
    reconnectIfBroken();
    const std::string text(script);
    // A script of several statements gives a result for each, up to the first that failed;
    // all are taken before the failure is reported, so the connection is ready again.
    if (!PQsendQuery(conn_, text.c_str()))
        fail(nullptr, text);
    PGresult *failure = nullptr;
    for (PGresult *result; (result = nextResult()) != nullptr;) {
        const ExecStatusType status = PQresultStatus(result);
        if (!failure && status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK)
            failure = result;
        else
            PQclear(result);
    }
    // fail() tells an unanswered statement, a failed one and a broken connection apart.
    if (failure || abandoned_ || PQstatus(conn_) != CONNECTION_OK)
        fail(failure, text);
}

void PgConnection::begin() {
    exec("BEGIN");
    inTransaction_ = true;
}

void PgConnection::commit() {
    // Whatever the outcome, the transaction is over: a failed COMMIT ends it too.
    inTransaction_ = false;
    exec("COMMIT");
}

void PgConnection::rollback() noexcept {
    inTransaction_ = false;
    // Nothing can be reported from here. A broken connection has no transaction left; the pool
    // closes it.
    if (!abandoned_ && PQstatus(conn_) == CONNECTION_OK &&
        PQtransactionStatus(conn_) != PQTRANS_IDLE)
        PQclear(answer(PQsendQuery(conn_, "ROLLBACK")));
}
