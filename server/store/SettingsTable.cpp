#include "store/SettingsTable.h"

SettingsTable::SettingsTable(Database &db)
    : db_(db),
      select_(db.handle(), "SELECT value FROM settings WHERE key = ?1"),
      upsert_(db.handle(),
              "INSERT INTO settings(key, value) VALUES (?1, ?2) "
              "ON CONFLICT(key) DO UPDATE SET value = ?2") {}

std::optional<std::string> SettingsTable::get(std::string_view key) {
    auto guard = db_.lock();
    Query query(select_);
    query.bindText(1, key);
    if (!query.step())
        return std::nullopt;
    return query.text(0);
}

void SettingsTable::set(std::string_view key, std::string_view value) {
    auto guard = db_.lock();
    Query query(upsert_);
    query.bindText(1, key).bindText(2, value);
    query.run();
}
