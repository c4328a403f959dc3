// The server's persistent store: a database brought to the current schema, and one repository
// per table.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

#include "store/AccountTable.h"
#include "store/AdminLogTable.h"
#include "store/BanTable.h"
#include "store/PrivateMessageTable.h"
#include "store/ProfileTable.h"
#include "store/SettingsTable.h"
#include "store/Sql.h"

inline int64_t UnixSeconds() {
    return std::chrono::duration_cast<std::chrono::seconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

class Store {
public:
    // `location`: a SQLite file, or a postgresql:// connection string.
    explicit Store(const std::string &location) : Store(OpenDatabase(location)) {}
    explicit Store(std::unique_ptr<Database> database)
        : database_((database->migrate(), std::move(database))),
          db(*database_),
          accounts(db),
          bans(db),
          profiles(db),
          avatars(db),
          settings(db),
          messages(db),
          adminLog(db) {}

private:
    std::unique_ptr<Database> database_;

public:
    Database &db;
    AccountTable accounts;
    BanTable bans;
    ProfileTable profiles;
    AvatarTable avatars;
    SettingsTable settings;
    PrivateMessageTable messages;
    AdminLogTable adminLog;
};
