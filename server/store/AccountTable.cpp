#include "store/AccountTable.h"

namespace {
const Sql kSelect("SELECT password_hash FROM accounts WHERE name = $1");
const Sql kInsert(
    "INSERT INTO accounts(name, password_hash, created_at) VALUES ($1, $2, $3) "
    "ON CONFLICT(name) DO NOTHING");
const Sql kUpdate("UPDATE accounts SET password_hash = $2 WHERE name = $1");
}  // namespace

std::optional<std::string> AccountTable::passwordHash(std::string_view name) {
    Result result = db_.run(kSelect, {name});
    if (result.rows.empty())
        return std::nullopt;
    return result.rows[0].text(0);
}

bool AccountTable::exists(std::string_view name) {
    return passwordHash(name).has_value();
}

bool AccountTable::insert(std::string_view name, std::string_view passwordHash, int64_t now) {
    return db_.run(kInsert, {name, passwordHash, now}).changed == 1;
}

void AccountTable::setPasswordHash(std::string_view name, std::string_view passwordHash) {
    db_.run(kUpdate, {name, passwordHash});
}
