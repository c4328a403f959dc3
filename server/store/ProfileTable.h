// Profile texts and avatar pictures, one row per account each.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "store/Sql.h"

class ProfileTable {
public:
    explicit ProfileTable(Database &db) : db_(db) {}

    std::optional<std::string> text(std::string_view name);
    void setText(std::string_view name, std::string_view text, int64_t now);

private:
    Database &db_;
};

class AvatarTable {
public:
    explicit AvatarTable(Database &db) : db_(db) {}

    std::optional<std::vector<uint8_t>> picture(std::string_view name);
    void setPicture(std::string_view name, std::span<const uint8_t> bytes, int64_t now);

private:
    Database &db_;
};
