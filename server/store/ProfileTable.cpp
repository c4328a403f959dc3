#include "store/ProfileTable.h"

namespace {
const Sql kSelectText("SELECT text FROM profiles WHERE name = $1");
const Sql kUpsertText(
    "INSERT INTO profiles(name, text, updated_at) VALUES ($1, $2, $3) "
    "ON CONFLICT(name) DO UPDATE SET text = $2, updated_at = $3");
const Sql kSelectPicture("SELECT picture FROM avatars WHERE name = $1");
const Sql kUpsertPicture(
    "INSERT INTO avatars(name, picture, updated_at) VALUES ($1, $2, $3) "
    "ON CONFLICT(name) DO UPDATE SET picture = $2, updated_at = $3");
}  // namespace

std::optional<std::string> ProfileTable::text(std::string_view name) {
    Result result = db_.run(kSelectText, {name});
    if (result.rows.empty())
        return std::nullopt;
    return result.rows[0].text(0);
}

void ProfileTable::setText(std::string_view name, std::string_view text, int64_t now) {
    db_.run(kUpsertText, {name, Param::blob(text), now});
}

std::optional<std::vector<uint8_t>> AvatarTable::picture(std::string_view name) {
    Result result = db_.run(kSelectPicture, {name});
    if (result.rows.empty())
        return std::nullopt;
    return result.rows[0].blob(0);
}

void AvatarTable::setPicture(std::string_view name, std::span<const uint8_t> bytes, int64_t now) {
    db_.run(kUpsertPicture, {name, Param::blob(bytes), now});
}
