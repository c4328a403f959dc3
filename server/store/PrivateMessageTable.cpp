#include "store/PrivateMessageTable.h"

PrivateMessageTable::PrivateMessageTable(Database &db)
    : db_(db),
      insert_(db.handle(),
              "INSERT INTO private_messages(recipient, sender, text, sent_at) "
              "VALUES (?1, ?2, ?3, ?4)"),
      select_(db.handle(),
              "SELECT id, sender, text FROM private_messages WHERE recipient = ?1 AND id > ?2 "
              "ORDER BY id LIMIT ?3"),
      delete_(db.handle(), "DELETE FROM private_messages WHERE recipient = ?1 AND id = ?2"),
      count_(db.handle(), "SELECT COUNT(*) FROM private_messages WHERE recipient = ?1") {}

int64_t PrivateMessageTable::add(std::string_view recipient, std::string_view sender,
                                 std::string_view text, int64_t now) {
    auto guard = db_.lock();
    Query query(insert_);
    query.bindText(1, recipient)
        .bindText(2, sender)
        .bindBlob(3, {reinterpret_cast<const uint8_t *>(text.data()), text.size()})
        .bind(4, now);
    query.run();
    return sqlite3_last_insert_rowid(db_.handle());
}

std::vector<StoredMessage> PrivateMessageTable::after(std::string_view recipient, int64_t afterId,
                                                      int64_t limit, size_t maxBytes,
                                                      size_t (*sizeOf)(size_t, size_t),
                                                      bool &complete) {
    auto guard = db_.lock();
    std::vector<StoredMessage> messages;
    size_t bytes = 0;
    complete = true;
    Query query(select_);
    // One row more than asked for tells whether more wait.
    query.bindText(1, recipient).bind(2, afterId).bind(3, limit + 1);
    while (query.step()) {
        StoredMessage m{query.integer(0), query.text(1), query.text(2)};
        size_t size = sizeOf(m.sender.size(), m.text.size());
        if (static_cast<int64_t>(messages.size()) == limit ||
            (!messages.empty() && bytes + size > maxBytes)) {
            complete = false;
            break;
        }
        bytes += size;
        messages.push_back(std::move(m));
    }
    return messages;
}

int64_t PrivateMessageTable::remove(std::string_view recipient, std::span<const int64_t> ids) {
    Transaction transaction(db_);
    int64_t removed = 0;
    for (int64_t id : ids) {
        Query query(delete_);
        query.bindText(1, recipient).bind(2, id);
        query.run();
        removed += sqlite3_changes(db_.handle());
    }
    transaction.commit();
    return removed;
}

int64_t PrivateMessageTable::count(std::string_view recipient) {
    auto guard = db_.lock();
    Query query(count_);
    query.bindText(1, recipient);
    return query.step() ? query.integer(0) : 0;
}
