// Private messages, kept from the moment they are acknowledged until their recipient has
// certainly received them; oldest (lowest id) first.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "store/Sql.h"

struct StoredMessage {
    int64_t id = 0;
    std::string sender;
    std::string text;
};

// The statements, on a connection the caller holds: the writer of private messages runs them
// inside its own transactions.
namespace PrivateMessages {

struct Added {
    int64_t id = 0;
    // How many messages the store held for the recipient before this one, where other processes
    // add messages too (PostgreSQL); none where the one writer's own count is exact (SQLite).
    std::optional<int64_t> heldBefore;
};
// Keeps the message and returns its id, which is higher than that of every message kept before;
// nothing when the recipient has no account.
std::optional<Added> add(Connection &c, std::string_view recipient, std::string_view sender,
                         std::string_view text, int64_t now);
// The recipient's messages with an id above `afterId`, in order: at most `limit` of them and no
// more than `maxBytes` as `sizeOf(senderLength, textLength)` counts them (but always the first).
// `complete` tells whether these are all there are.
std::vector<StoredMessage> after(Connection &c, std::string_view recipient, int64_t afterId,
                                 int64_t limit, size_t maxBytes, size_t (*sizeOf)(size_t, size_t),
                                 bool &complete);
// Removes the recipient's messages with these ids; returns how many there were.
int64_t remove(Connection &c, std::string_view recipient, std::span<const int64_t> ids);
int64_t count(Connection &c, std::string_view recipient);

}  // namespace PrivateMessages

// The same on a connection of the store's, each call on its own.
class PrivateMessageTable {
public:
    explicit PrivateMessageTable(Database &db) : db_(db) {}

    std::optional<int64_t> add(std::string_view recipient, std::string_view sender,
                               std::string_view text, int64_t now) {
        auto added = PrivateMessages::add(*db_.lease(), recipient, sender, text, now);
        return added ? std::optional<int64_t>(added->id) : std::nullopt;
    }
    std::vector<StoredMessage> after(std::string_view recipient, int64_t afterId, int64_t limit,
                                     size_t maxBytes, size_t (*sizeOf)(size_t, size_t),
                                     bool &complete) {
        return PrivateMessages::after(*db_.lease(), recipient, afterId, limit, maxBytes, sizeOf,
                                      complete);
    }
    // In one transaction.
    int64_t remove(std::string_view recipient, std::span<const int64_t> ids);
    int64_t count(std::string_view recipient) {
        return PrivateMessages::count(*db_.lease(), recipient);
    }

private:
    Database &db_;
};
