// Server-wide named values, such as the administrator password hash.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "store/Sql.h"

class SettingsTable {
public:
    explicit SettingsTable(Database &db) : db_(db) {}

    std::optional<std::string> get(std::string_view key);
    void set(std::string_view key, std::string_view value);

private:
    Database &db_;
};
