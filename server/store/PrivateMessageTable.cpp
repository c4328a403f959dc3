#include "store/PrivateMessageTable.h"

#include <algorithm>

namespace {

// A recipient without an account adds no row, rather than failing on the foreign key: in a
// PostgreSQL transaction a failed statement would fail the rest of the writer's commit.
// On PostgreSQL, writers of several processes may add messages for one recipient at once; a
// reader that saw id N must never find a lower id committed later, so each insert locks the
// recipient's account row until its commit, which puts the recipient's ids in commit order.
// It also returns how many messages the recipient had before, as the statement saw them: the
// writers of other processes add messages too, so no writer's own count is the truth there.
// (SQLite has one writer at a time, whose own count is exact: it returns no rows, and the id is the
// row id it inserted. Its RETURNING would cost two temporary tables for every message.)
const Sql kInsert(
    "INSERT INTO private_messages(recipient, sender, text, sent_at) SELECT $1, $2, $3, $4 "
    "WHERE EXISTS (SELECT 1 FROM accounts WHERE name = $1)",
    "WITH recipient AS (SELECT name FROM accounts WHERE name = $1::text FOR NO KEY UPDATE) "
    "INSERT INTO private_messages(recipient, sender, text, sent_at) "
    "SELECT name, $2::text, $3::bytea, $4::bigint FROM recipient "
    "RETURNING id, (SELECT COUNT(*) FROM private_messages WHERE recipient = $1::text)");
const Sql kSelect(
    "SELECT id, sender, text FROM private_messages WHERE recipient = $1 AND id > $2 "
    "ORDER BY id LIMIT $3");
const Sql kDelete("DELETE FROM private_messages WHERE recipient = $1 AND id = $2");
const Sql kCount("SELECT COUNT(*) FROM private_messages WHERE recipient = $1");

// Rows are read a page at a time, so that the byte bound, not the count, decides how much is
// read when messages are large.
constexpr int64_t kPage = 64;

}  // namespace

namespace PrivateMessages {

std::optional<Added> add(Connection &c, std::string_view recipient, std::string_view sender,
                         std::string_view text, int64_t now) {
    Result result = c.run(kInsert, {recipient, sender, Param::blob(text), now});
    if (result.rows.empty()) {
        if (result.changed == 0)
            return std::nullopt;
        return Added{result.insertedId, std::nullopt};
    }
    const Row &row = result.rows[0];
    Added added{row.integer(0), std::nullopt};
    if (!row.cells[1].null)
        added.heldBefore = row.integer(1);
    return added;
}

std::vector<StoredMessage> after(Connection &c, std::string_view recipient, int64_t afterId,
                                 int64_t limit, size_t maxBytes, size_t (*sizeOf)(size_t, size_t),
                                 bool &complete) {
    std::vector<StoredMessage> messages;
    size_t bytes = 0;
    complete = true;
    for (;;) {
        // One row more than asked for tells whether more wait.
        const int64_t wanted = limit + 1 - static_cast<int64_t>(messages.size());
        const int64_t page = std::min(wanted, kPage);
        Result result = c.run(kSelect, {recipient, afterId, page});
        for (Row &row : result.rows) {
            StoredMessage m{row.integer(0), std::move(row.cells[1].bytes),
                            std::move(row.cells[2].bytes)};
            size_t size = sizeOf(m.sender.size(), m.text.size());
            if (static_cast<int64_t>(messages.size()) == limit ||
                (!messages.empty() && bytes + size > maxBytes)) {
                complete = false;
                return messages;
            }
            bytes += size;
            afterId = m.id;
            messages.push_back(std::move(m));
        }
        if (static_cast<int64_t>(result.rows.size()) < page)
            return messages;
    }
}

int64_t remove(Connection &c, std::string_view recipient, std::span<const int64_t> ids) {
    int64_t removed = 0;
    for (int64_t id : ids)
        removed += c.run(kDelete, {recipient, id}).changed;
    return removed;
}

int64_t count(Connection &c, std::string_view recipient) {
    Result result = c.run(kCount, {recipient});
    return result.rows.empty() ? 0 : result.rows[0].integer(0);
}

}  // namespace PrivateMessages

int64_t PrivateMessageTable::remove(std::string_view recipient, std::span<const int64_t> ids) {
    auto connection = db_.lease();
    Transaction transaction(*connection);
    int64_t removed = PrivateMessages::remove(*connection, recipient, ids);
    transaction.commit();
    return removed;
}
