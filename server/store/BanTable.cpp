#include "store/BanTable.h"

namespace {
const Sql kSelect("SELECT 1 FROM bans WHERE name = $1");
const Sql kUpsert(
    "INSERT INTO bans(name, option, banned_at, banned_by) VALUES ($1, $2, $3, $4) "
    "ON CONFLICT(name) DO UPDATE SET option = $2, banned_at = $3, banned_by = $4");
const Sql kDelete("DELETE FROM bans WHERE name = $1");
}  // namespace

bool BanTable::isBanned(std::string_view name) {
    return !db_.run(kSelect, {name}).rows.empty();
}

void BanTable::ban(std::string_view name, int32_t option, int64_t now, std::string_view bannedBy) {
    db_.run(kUpsert, {name, option, now, bannedBy});
}

void BanTable::lift(std::string_view name) {
    db_.run(kDelete, {name});
}
