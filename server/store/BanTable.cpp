#include "store/BanTable.h"

BanTable::BanTable(Database &db)
    : db_(db),
      select_(db.handle(), "SELECT 1 FROM bans WHERE name = ?1"),
      upsert_(db.handle(),
              "INSERT INTO bans(name, option, banned_at, banned_by) VALUES (?1, ?2, ?3, ?4) "
              "ON CONFLICT(name) DO UPDATE SET option = ?2, banned_at = ?3, banned_by = ?4"),
      delete_(db.handle(), "DELETE FROM bans WHERE name = ?1") {}

bool BanTable::isBanned(std::string_view name) {
    auto guard = db_.lock();
    Query query(select_);
    query.bindText(1, name);
    return query.step();
}

void BanTable::ban(std::string_view name, int32_t option, int64_t now, std::string_view bannedBy) {
    auto guard = db_.lock();
    Query query(upsert_);
    query.bindText(1, name).bind(2, option).bind(3, now).bindText(4, bannedBy);
    query.run();
}

void BanTable::lift(std::string_view name) {
    auto guard = db_.lock();
    Query query(delete_);
    query.bindText(1, name);
    query.run();
}
