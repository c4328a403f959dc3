#include "store/ProfileTable.h"

ProfileTable::ProfileTable(Database &db)
    : db_(db),
      select_(db.handle(), "SELECT text FROM profiles WHERE name = ?1"),
      upsert_(db.handle(),
              "INSERT INTO profiles(name, text, updated_at) VALUES (?1, ?2, ?3) "
              "ON CONFLICT(name) DO UPDATE SET text = ?2, updated_at = ?3") {}

std::optional<std::string> ProfileTable::text(std::string_view name) {
    auto guard = db_.lock();
    Query query(select_);
    query.bindText(1, name);
    if (!query.step())
        return std::nullopt;
    return query.text(0);
}

void ProfileTable::setText(std::string_view name, std::string_view text, int64_t now) {
    auto guard = db_.lock();
    Query query(upsert_);
    query.bindText(1, name)
        .bindBlob(2, {reinterpret_cast<const uint8_t *>(text.data()), text.size()})
        .bind(3, now);
    query.run();
}

AvatarTable::AvatarTable(Database &db)
    : db_(db),
      select_(db.handle(), "SELECT picture FROM avatars WHERE name = ?1"),
      upsert_(db.handle(),
              "INSERT INTO avatars(name, picture, updated_at) VALUES (?1, ?2, ?3) "
              "ON CONFLICT(name) DO UPDATE SET picture = ?2, updated_at = ?3") {}

std::optional<std::vector<uint8_t>> AvatarTable::picture(std::string_view name) {
    auto guard = db_.lock();
    Query query(select_);
    query.bindText(1, name);
    if (!query.step())
        return std::nullopt;
    return query.blob(0);
}

void AvatarTable::setPicture(std::string_view name, std::span<const uint8_t> bytes, int64_t now) {
    auto guard = db_.lock();
    Query query(upsert_);
    query.bindText(1, name).bindBlob(2, bytes).bind(3, now);
    query.run();
}
