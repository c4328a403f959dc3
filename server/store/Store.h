// The server's persistent store: the connection, brought to the current schema, and one
// repository per table.
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>

#include "store/AccountTable.h"
#include "store/AdminLogTable.h"
#include "store/BanTable.h"
#include "store/Database.h"
#include "store/Migrations.h"
#include "store/PrivateMessageTable.h"
#include "store/ProfileTable.h"
#include "store/SettingsTable.h"

inline int64_t UnixSeconds() {
    return std::chrono::duration_cast<std::chrono::seconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

class Store {
public:
    explicit Store(const std::filesystem::path &file)
        : db(file),
          migrated_((MigrateStore(db), true)),
          accounts(db),
          bans(db),
          profiles(db),
          avatars(db),
          settings(db),
          messages(db),
          adminLog(db) {}

    Database db;

private:
    bool migrated_;  // runs the migrations before any repository prepares its statements

public:
    AccountTable accounts;
    BanTable bans;
    ProfileTable profiles;
    AvatarTable avatars;
    SettingsTable settings;
    PrivateMessageTable messages;
    AdminLogTable adminLog;
};
