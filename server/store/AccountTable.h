// Registered accounts: lower-case name and the Argon2id hash of the password digest.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "store/Sql.h"

class AccountTable {
public:
    explicit AccountTable(Database &db) : db_(db) {}

    // The stored password hash, or nothing for an unknown name.
    std::optional<std::string> passwordHash(std::string_view name);
    bool exists(std::string_view name);
    // False when the name is taken already.
    bool insert(std::string_view name, std::string_view passwordHash, int64_t now);
    void setPasswordHash(std::string_view name, std::string_view passwordHash);

private:
    Database &db_;
};
