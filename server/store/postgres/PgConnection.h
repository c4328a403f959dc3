// A connection to a PostgreSQL store: statements prepared once per connection, parameters sent
// as text (integers, texts) or bytes (blobs), rows received in binary. Every failure is a
// StoreError; one that left the connection broken is Unavailable, and marks the server down in
// the availability given, if any. While the server is down, a use outside a transaction is
// refused at once. A broken connection, or one opened before the latest outage, connects again at
// its next use outside a transaction; a statement that failed is never repeated, since it may have
// taken effect. A statement left unanswered for the answer time-out (a server that hangs, or a
// network that drops packets without a word) counts as the server's failure too: it is never
// waited for longer.
#pragma once

#include <libpq-fe.h>

#include <chrono>
#include <string>
#include <string_view>
#include <vector>

#include "store/Sql.h"
#include "store/postgres/PgAvailability.h"

class PgConnection : public Connection {
public:
    // Connects within a few seconds or fails with an Unavailable StoreError (which marks
    // nothing down: the caller knows whether that is an outage or a wrong connection string).
    explicit PgConnection(const std::string &url, PgAvailability *availability = nullptr,
                          std::chrono::milliseconds answerTimeout = kStoreAnswerTimeout);
    ~PgConnection() override;
    PgConnection(const PgConnection &) = delete;
    PgConnection &operator=(const PgConnection &) = delete;

    Result run(const Sql &sql, std::span<const Param> params) override;
    void exec(std::string_view script) override;
    void begin() override;
    void commit() override;
    void rollback() noexcept override;

    // Connected, and outside any transaction: fit to be used again by someone else.
    bool reusable() const;

private:
    void reconnectIfBroken();
    // The one result of the statement a PQsend* call queued (`sent`: its outcome), each part of
    // it awaited within the answer time-out; null when the connection broke or the time ran out.
    PGresult *answer(bool sent);
    // The next result, or null at their end or on a failure (the connection's state tells which).
    PGresult *nextResult();
    // Sends what is queued and waits until a result can be taken without blocking: false when
    // the connection broke, or when the answer time-out passed (the session is then abandoned).
    bool awaitResult();
    bool abandon();
    const std::string &prepared(const Sql &sql);
    [[noreturn]] void fail(PGresult *result, std::string_view what);

    PGconn *conn_ = nullptr;
    const std::chrono::milliseconds answerTimeout_;
    bool inTransaction_ = false;
    bool abandoned_ = false;  // a statement was given up on: the session's state is unknown
    PgAvailability *availability_;
    uint64_t generation_ = 0;              // the availability's generation when connected
    std::vector<std::string> statements_;  // by Sql::id(): its prepared name once prepared
};

// The connection string without its password, for logs.
std::string PgDisplayName(const std::string &url);
