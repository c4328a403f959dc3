// A store on a PostgreSQL server, which several server processes may share. The server's
// threads lease connections from a small pool; one that broke is closed, and the next lease
// connects anew. While the server does not answer, leases are refused at once and the store
// comes back by itself once the server does (PgAvailability).
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "store/Sql.h"
#include "store/postgres/PgAvailability.h"
#include "store/postgres/PgConnection.h"

class PgDatabase : public Database {
public:
    // At most `poolSize` connections besides the writer's. Connects once at start, so that a
    // wrong connection string is reported at once.
    static constexpr size_t kPoolSize = 8;
    explicit PgDatabase(std::string url, size_t poolSize = kPoolSize,
                        std::chrono::milliseconds answerTimeout = kStoreAnswerTimeout);
    ~PgDatabase() override;

    // Waits for a free connection, or connects one; fails with an Unavailable StoreError when
    // neither happens within a few seconds, and at once while the server is known to be down.
    Lease lease() override;
    std::unique_ptr<Connection> connectWriter() override;
    // The version is the row of table schema_version; nodes that start together migrate one
    // after the other under an advisory lock.
    void migrate() override;
    int schemaVersion() override;
    std::string name() const override { return PgDisplayName(url_); }
    bool reachable() const override { return availability_.up(); }

protected:
    void release(Connection &connection) noexcept override;

private:
    const std::string url_;
    const size_t poolSize_;
    const std::chrono::milliseconds answerTimeout_;
    std::mutex mutex_;  // guards the fields below
    std::condition_variable freed_;
    std::vector<std::unique_ptr<PgConnection>> idle_;
    size_t open_ = 0;              // idle and leased
    PgAvailability availability_;  // last: its thread uses the fields above
};
