#include "store/OfflineMessageTable.h"

namespace {
std::span<const uint8_t> bytesOf(std::string_view text) {
    return {reinterpret_cast<const uint8_t *>(text.data()), text.size()};
}
}  // namespace

OfflineMessageTable::OfflineMessageTable(Database &db)
    : db_(db),
      insert_(db.handle(),
              "INSERT INTO offline_messages(recipient, sender, text, sent_at) "
              "VALUES (?1, ?2, ?3, ?4)"),
      trim_(db.handle(),
            "DELETE FROM offline_messages WHERE id IN ("
            "  SELECT id FROM offline_messages WHERE recipient = ?1 ORDER BY id"
            "  LIMIT max(0, (SELECT COUNT(*) FROM offline_messages WHERE recipient = ?1) - ?2))"),
      select_(db.handle(),
              "SELECT id, sender, text FROM offline_messages WHERE recipient = ?1 "
              "ORDER BY id LIMIT ?2"),
      deleteUpTo_(db.handle(), "DELETE FROM offline_messages WHERE recipient = ?1 AND id <= ?2"),
      count_(db.handle(), "SELECT COUNT(*) FROM offline_messages WHERE recipient = ?1") {}

int64_t OfflineMessageTable::add(std::string_view recipient, std::string_view sender,
                                 std::string_view text, int64_t now, int64_t limit) {
    Transaction transaction(db_);
    {
        Query query(insert_);
        query.bindText(1, recipient).bindText(2, sender).bindBlob(3, bytesOf(text)).bind(4, now);
        query.run();
    }
    int64_t dropped = 0;
    {
        Query query(trim_);
        query.bindText(1, recipient).bind(2, limit);
        query.run();
        dropped = sqlite3_changes(db_.handle());
    }
    transaction.commit();
    return dropped;
}

std::vector<OfflineMessage> OfflineMessageTable::take(std::string_view recipient, int64_t limit,
                                                      size_t maxBytes,
                                                      size_t (*sizeOf)(size_t, size_t)) {
    Transaction transaction(db_);
    std::vector<OfflineMessage> messages;
    int64_t lastId = 0;
    size_t bytes = 0;
    {
        Query query(select_);
        query.bindText(1, recipient).bind(2, limit);
        while (query.step()) {
            OfflineMessage m{query.text(1), query.text(2)};
            size_t size = sizeOf ? sizeOf(m.sender.size(), m.text.size()) : 0;
            if (!messages.empty() && bytes + size > maxBytes)
                break;
            bytes += size;
            lastId = query.integer(0);
            messages.push_back(std::move(m));
        }
    }
    if (!messages.empty()) {
        Query query(deleteUpTo_);
        query.bindText(1, recipient).bind(2, lastId);
        query.run();
    }
    transaction.commit();
    return messages;
}

int64_t OfflineMessageTable::count(std::string_view recipient) {
    auto guard = db_.lock();
    Query query(count_);
    query.bindText(1, recipient);
    return query.step() ? query.integer(0) : 0;
}
