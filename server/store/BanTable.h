// Banned accounts, with the option value the administrator gave and who banned them when.
#pragma once

#include <cstdint>
#include <string_view>

#include "store/Sql.h"

class BanTable {
public:
    explicit BanTable(Database &db) : db_(db) {}

    bool isBanned(std::string_view name);
    // Sets or replaces the ban of an existing account.
    void ban(std::string_view name, int32_t option, int64_t now, std::string_view bannedBy);
    // Lifts the ban; nothing happens when there was none.
    void lift(std::string_view name);

private:
    Database &db_;
};
