#include "store/sqlite/SqliteDatabase.h"

#include <chrono>
#include <condition_variable>
#include <thread>

#include "Log.h"

SqliteDatabase::SqliteDatabase(const std::filesystem::path &file)
    : file_(file), connection_(file) {}

int SqliteDatabase::schemaVersion() {
    static const Sql version("PRAGMA user_version");
    Result result = run(version);
    return result.rows.empty() ? 0 : static_cast<int>(result.rows[0].integer(0));
}

namespace {

// The writer's connection. A passive checkpoint copies what it can without holding up the
// writer; the log is started over by the next commit once all of it has been copied.
class WriterConnection : public SqliteConnection {
public:
    explicit WriterConnection(const std::filesystem::path &file)
        : SqliteConnection(file), checkpointDb_(file), thread_([this] { checkpoints(); }) {
        // Checkpoints are the other thread's.
        exec("PRAGMA wal_autocheckpoint=0");
    }
    ~WriterConnection() override {
        {
            std::lock_guard guard(mutex_);
            stopping_ = true;
        }
        due_.notify_one();
        thread_.join();
    }
    void commit() override {
        SqliteConnection::commit();
        std::lock_guard guard(mutex_);
        ++commits_;
    }

private:
    void checkpoints() {
        constexpr auto kInterval = std::chrono::milliseconds(200);
        std::unique_lock guard(mutex_);
        while (!stopping_) {
            due_.wait_for(guard, kInterval, [&] { return stopping_; });
            if (stopping_ || commits_ == checkpointedAt_)
                continue;
            checkpointedAt_ = commits_;
            guard.unlock();
            int rc = sqlite3_wal_checkpoint_v2(checkpointDb_.handle(), nullptr,
                                               SQLITE_CHECKPOINT_PASSIVE, nullptr, nullptr);
            if (rc != SQLITE_OK && rc != SQLITE_BUSY)
                LogEvent(SqliteErrorText(checkpointDb_.handle(), rc, "checkpoint"));
            guard.lock();
        }
    }

    SqliteConnection checkpointDb_;
    std::mutex mutex_;  // guards the fields below
    std::condition_variable due_;
    bool stopping_ = false;
    uint64_t commits_ = 0, checkpointedAt_ = 0;
    std::thread thread_;  // last: starts once everything above exists
};

}  // namespace

std::unique_ptr<Connection> SqliteDatabase::connectWriter() {
    return std::make_unique<WriterConnection>(file_);
}
