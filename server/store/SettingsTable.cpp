#include "store/SettingsTable.h"

namespace {
const Sql kSelect("SELECT value FROM settings WHERE key = $1");
const Sql kUpsert(
    "INSERT INTO settings(key, value) VALUES ($1, $2) ON CONFLICT(key) DO UPDATE SET value = $2");
}  // namespace

std::optional<std::string> SettingsTable::get(std::string_view key) {
    Result result = db_.run(kSelect, {key});
    if (result.rows.empty())
        return std::nullopt;
    return result.rows[0].text(0);
}

void SettingsTable::set(std::string_view key, std::string_view value) {
    db_.run(kUpsert, {key, value});
}
