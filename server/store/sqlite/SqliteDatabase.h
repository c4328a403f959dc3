// The embedded store: one SQLite file. The server's threads share one connection, one at a time;
// the writer of private messages has a connection of its own.
#pragma once

#include <filesystem>
#include <memory>
#include <mutex>
#include <string>

#include "store/Sql.h"
#include "store/sqlite/SqliteConnection.h"

class SqliteDatabase : public Database {
public:
    explicit SqliteDatabase(const std::filesystem::path &file);

    Lease lease() override {
        mutex_.lock();
        return Lease(*this, connection_);
    }
    // Its commits leave the copying of the log into the file to a thread of its own, so that
    // no commit waits for that copy and its fsync.
    std::unique_ptr<Connection> connectWriter() override;
    // The version is PRAGMA user_version.
    void migrate() override;
    int schemaVersion() override;
    std::string name() const override { return file_.string(); }

    const std::filesystem::path &file() const { return file_; }

protected:
    void release(Connection &) noexcept override { mutex_.unlock(); }

private:
    std::filesystem::path file_;
    SqliteConnection connection_;
    std::mutex mutex_;
};
