// Private messages kept for recipients who are not logged in, oldest first.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "store/Database.h"

struct OfflineMessage {
    std::string sender;
    std::string text;
};

class OfflineMessageTable {
public:
    explicit OfflineMessageTable(Database &db);

    // Keeps the message; when the recipient then holds more than `limit` messages the oldest are
    // dropped. Returns how many were dropped.
    int64_t add(std::string_view recipient, std::string_view sender, std::string_view text,
                int64_t now, int64_t limit);
    // Removes and returns the recipient's oldest messages, in order: at most `limit` of them, and
    // no more than `maxBytes` as `sizeOf` counts them (but always the first).
    std::vector<OfflineMessage> take(std::string_view recipient, int64_t limit,
                                     size_t maxBytes = SIZE_MAX,
                                     size_t (*sizeOf)(size_t, size_t) = nullptr);
    int64_t count(std::string_view recipient);

private:
    Database &db_;
    Statement insert_, trim_, select_, deleteUpTo_, count_;
};
