#include "store/AccountTable.h"

AccountTable::AccountTable(Database &db)
    : db_(db),
      select_(db.handle(), "SELECT password_hash FROM accounts WHERE name = ?1"),
      insert_(db.handle(),
              "INSERT INTO accounts(name, password_hash, created_at) VALUES (?1, ?2, ?3) "
              "ON CONFLICT(name) DO NOTHING"),
      update_(db.handle(), "UPDATE accounts SET password_hash = ?2 WHERE name = ?1") {}

std::optional<std::string> AccountTable::passwordHash(std::string_view name) {
    auto guard = db_.lock();
    Query query(select_);
    query.bindText(1, name);
    if (!query.step())
        return std::nullopt;
    return query.text(0);
}

bool AccountTable::exists(std::string_view name) {
    return passwordHash(name).has_value();
}

bool AccountTable::insert(std::string_view name, std::string_view passwordHash, int64_t now) {
    auto guard = db_.lock();
    Query query(insert_);
    query.bindText(1, name).bindText(2, passwordHash).bind(3, now);
    query.run();
    return sqlite3_changes(db_.handle()) == 1;
}

void AccountTable::setPasswordHash(std::string_view name, std::string_view passwordHash) {
    auto guard = db_.lock();
    Query query(update_);
    query.bindText(1, name).bindText(2, passwordHash);
    query.run();
}
