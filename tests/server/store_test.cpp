// The store: schema versions, the repositories whose rules are more than one statement, and the
// writer of private messages.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <mutex>
#include <thread>

#include "ChatMessage.h"
#include "ServerProcess.h"
#include "store/MessageWriter.h"
#include "store/Store.h"

namespace {

TEST(Store, FreshStoreIsMigratedInWalModeAndKeepsItsData) {
    TempFolder folder;
    auto file = folder.path() / "nested" / "s.db";
    {
        Store store(file);
        EXPECT_EQ(store.db.userVersion(), CurrentSchemaVersion());
        EXPECT_TRUE(store.accounts.insert("ann", "hash1", 1));
        EXPECT_FALSE(store.accounts.insert("ann", "hash2", 2)) << "the name is taken";
        store.settings.set("k", "v1");
        store.settings.set("k", "v2");
        store.bans.ban("ann", 3, 5, "root");
    }
    Store again(file);
    EXPECT_EQ(again.accounts.passwordHash("ann"), "hash1");
    EXPECT_FALSE(again.accounts.passwordHash("ben").has_value());
    EXPECT_EQ(again.settings.get("k"), "v2");
    EXPECT_TRUE(again.bans.isBanned("ann"));
    again.bans.lift("ann");
    again.bans.lift("ann");
    EXPECT_FALSE(again.bans.isBanned("ann"));
    Statement mode(again.db.handle(), "PRAGMA journal_mode");
    Query query(mode);
    ASSERT_TRUE(query.step());
    EXPECT_EQ(query.text(0), "wal");
}

TEST(Store, StoreOfANewerServerIsRefused) {
    TempFolder folder;
    auto file = folder.path() / "s.db";
    {
        Database db(file);
        db.setUserVersion(CurrentSchemaVersion() + 1);
    }
    EXPECT_THROW(Store store(file), StoreError);
}

TEST(Store, BanOfAnUnknownAccountFailsWithTheReason) {
    TempFolder folder;
    Store store(folder.path() / "s.db");
    try {
        store.bans.ban("nobody", 3, 1, "root");
        FAIL() << "a ban needs an account";
    } catch (const StoreError &e) {
        EXPECT_NE(std::string(e.what()).find("constraint"), std::string::npos) << e.what();
    }
    // The failed statement was reset: the next use works.
    ASSERT_TRUE(store.accounts.insert("ann", "h", 1));
    store.bans.ban("ann", 3, 1, "root");
    EXPECT_TRUE(store.bans.isBanned("ann"));
}

TEST(Store, PrivateMessagesAreReadInOrderAndRemovedOnlyByIdAndRecipient) {
    TempFolder folder;
    Store store(folder.path() / "s.db");
    ASSERT_TRUE(store.accounts.insert("ben", "h", 1));
    ASSERT_TRUE(store.accounts.insert("cid", "h", 1));
    std::vector<int64_t> ids;
    for (int i = 0; i < 5; ++i)
        ids.push_back(store.messages.add("ben", "ann", "m" + std::to_string(i), 1));
    int64_t other = store.messages.add("cid", "ann", "for cid", 1);
    EXPECT_TRUE(std::is_sorted(ids.begin(), ids.end()));

    auto size = [](size_t s, size_t t) { return s + t; };
    bool complete = true;
    auto first = store.messages.after("ben", 0, 2, SIZE_MAX, size, complete);
    ASSERT_EQ(first.size(), 2u);
    EXPECT_FALSE(complete);
    EXPECT_EQ(first[0].text, "m0");
    EXPECT_EQ(first[1].id, ids[1]);
    EXPECT_EQ(first[0].sender, "ann");
    // Reading removes nothing; the byte bound stops early but always yields one.
    auto bounded = store.messages.after("ben", ids[1], 10, 6, size, complete);
    ASSERT_EQ(bounded.size(), 1u);
    EXPECT_EQ(bounded[0].text, "m2");
    EXPECT_FALSE(complete);
    auto rest = store.messages.after("ben", ids[1], 3, SIZE_MAX, size, complete);
    EXPECT_EQ(rest.size(), 3u);
    EXPECT_TRUE(complete) << "exactly as many as asked for, and no more wait";

    // Another recipient's id does not remove it.
    const std::vector<int64_t> gone = {ids[0], ids[1], other};
    EXPECT_EQ(store.messages.remove("ben", gone), 2);
    EXPECT_EQ(store.messages.count("ben"), 3);
    EXPECT_EQ(store.messages.count("cid"), 1);

    // Texts are bytes: zero-free 8-bit text comes back unchanged.
    int64_t id = store.messages.add("ben", "ann", "\xe4\xf6\xfc\x80\xff", 1);
    EXPECT_EQ(store.messages.after("ben", id - 1, 1, SIZE_MAX, size, complete).at(0).text,
              "\xe4\xf6\xfc\x80\xff");
    try {
        store.messages.add("nobody", "ann", "x", 1);
        FAIL() << "a message needs a recipient's account";
    } catch (const StoreError &e) {
        EXPECT_EQ(e.code(), SQLITE_CONSTRAINT_FOREIGNKEY) << e.what();
    }
}

// A store as the first released server wrote it, with undelivered messages, opens with them.
TEST(Store, FirstSchemaIsMigratedWithItsUndeliveredMessages) {
    TempFolder folder;
    auto file = folder.path() / "s.db";
    {
        Database db(file);
        db.exec(R"sql(
        CREATE TABLE accounts (name TEXT PRIMARY KEY, password_hash TEXT NOT NULL,
            created_at INTEGER NOT NULL) WITHOUT ROWID;
        CREATE TABLE bans (name TEXT PRIMARY KEY REFERENCES accounts(name) ON DELETE CASCADE,
            option INTEGER NOT NULL, banned_at INTEGER NOT NULL, banned_by TEXT NOT NULL)
            WITHOUT ROWID;
        CREATE TABLE profiles (name TEXT PRIMARY KEY REFERENCES accounts(name) ON DELETE CASCADE,
            text BLOB NOT NULL, updated_at INTEGER NOT NULL) WITHOUT ROWID;
        CREATE TABLE avatars (name TEXT PRIMARY KEY REFERENCES accounts(name) ON DELETE CASCADE,
            picture BLOB NOT NULL, updated_at INTEGER NOT NULL) WITHOUT ROWID;
        CREATE TABLE settings (key TEXT PRIMARY KEY, value TEXT NOT NULL) WITHOUT ROWID;
        CREATE TABLE offline_messages (id INTEGER PRIMARY KEY AUTOINCREMENT,
            recipient TEXT NOT NULL REFERENCES accounts(name) ON DELETE CASCADE,
            sender TEXT NOT NULL, text BLOB NOT NULL, sent_at INTEGER NOT NULL);
        CREATE INDEX offline_messages_by_recipient ON offline_messages(recipient, id);
        CREATE TABLE admin_log (id INTEGER PRIMARY KEY AUTOINCREMENT, at INTEGER NOT NULL,
            actor TEXT NOT NULL, address TEXT NOT NULL, action TEXT NOT NULL,
            target TEXT NOT NULL, detail TEXT NOT NULL);
        INSERT INTO accounts VALUES ('ben', 'h', 1);
        INSERT INTO offline_messages(recipient, sender, text, sent_at) VALUES
            ('ben', 'ann', CAST('first' AS BLOB), 1), ('ben', 'cid', CAST('second' AS BLOB), 2);
        PRAGMA user_version = 1;
        )sql");
    }
    Store store(file);
    EXPECT_EQ(store.db.userVersion(), CurrentSchemaVersion());
    bool complete = false;
    auto kept = store.messages.after("ben", 0, 10, SIZE_MAX, &InboxBytes, complete);
    ASSERT_EQ(kept.size(), 2u);
    EXPECT_EQ(kept[0].text, "first");
    EXPECT_EQ(kept[1].sender, "cid");
    // New messages come after the old ones.
    EXPECT_GT(store.messages.add("ben", "ann", "third", 3), kept[1].id);
}

// The writer commits what queues up together, keeps each recipient's bound and reports every
// kept message once, in id order.
TEST(Store, WriterGroupsConcurrentMessagesAndRefusesBeyondTheBound) {
    TempFolder folder;
    Store store(folder.path() / "s.db");
    ASSERT_TRUE(store.accounts.insert("ben", "h", 1));
    ASSERT_TRUE(store.accounts.insert("cid", "h", 1));
    std::mutex mutex;
    std::vector<int64_t> reported;
    constexpr int kThreads = 32, kEach = 20;
    MessageWriter writer(
        store.db.file(), kThreads * kEach + 1,
        [&](int64_t id, const std::string &, const std::string &, const std::string &) {
            std::lock_guard guard(mutex);
            reported.push_back(id);
        });
    std::vector<std::thread> threads;
    std::atomic<int> kept{0};
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&, t] {
            for (int i = 0; i < kEach; ++i)
                if (writer.add("ben", "s" + std::to_string(t), std::to_string(i)).status ==
                    MessageWriter::Status::Kept)
                    ++kept;
        });
    for (auto &t : threads)
        t.join();
    EXPECT_EQ(kept, kThreads * kEach);
    EXPECT_EQ(store.messages.count("ben"), kThreads * kEach);
    EXPECT_LT(writer.counts().commits, uint64_t(kThreads * kEach)) << "no commit was shared";
    EXPECT_EQ(reported.size(), size_t(kThreads * kEach));
    EXPECT_TRUE(std::is_sorted(reported.begin(), reported.end()));

    EXPECT_EQ(writer.add("ben", "ann", "last").status, MessageWriter::Status::Kept);
    EXPECT_EQ(writer.add("ben", "ann", "over").status, MessageWriter::Status::Full);
    EXPECT_EQ(writer.add("cid", "ann", "other").status, MessageWriter::Status::Kept)
        << "the bound is per recipient";
    EXPECT_EQ(writer.add("nobody", "ann", "x").status, MessageWriter::Status::UnknownRecipient);
    // Removing makes room again.
    writer.waitFor(writer.remove("ben", {reported[0], reported[1]}));
    EXPECT_EQ(store.messages.count("ben"), kThreads * kEach - 1);
    EXPECT_EQ(writer.add("ben", "ann", "again").status, MessageWriter::Status::Kept);
    EXPECT_EQ(store.messages.count("ben"), kThreads * kEach);
}

TEST(Store, TransactionRollsBackUnlessCommitted) {
    TempFolder folder;
    Store store(folder.path() / "s.db");
    {
        Transaction transaction(store.db);
        store.accounts.insert("ann", "h", 1);
    }
    EXPECT_FALSE(store.accounts.exists("ann"));
    {
        Transaction outer(store.db);
        store.accounts.insert("ann", "h", 1);
        {
            Transaction inner(store.db);
            store.accounts.insert("ben", "h", 1);
        }
        outer.commit();
    }
    EXPECT_TRUE(store.accounts.exists("ann"));
    EXPECT_FALSE(store.accounts.exists("ben"));
}

}  // namespace
