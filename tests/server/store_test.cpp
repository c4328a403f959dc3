// The store: schema versions, and the repositories whose rules are more than one statement.
#include <gtest/gtest.h>

#include "ServerProcess.h"
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

TEST(Store, OfflineMessagesAreBoundedAndTakenOldestFirst) {
    TempFolder folder;
    Store store(folder.path() / "s.db");
    ASSERT_TRUE(store.accounts.insert("ben", "h", 1));
    int64_t dropped = 0;
    for (int i = 0; i < 5; ++i)
        dropped += store.offline.add("ben", "ann", "m" + std::to_string(i), 1, 3);
    EXPECT_EQ(dropped, 2);
    EXPECT_EQ(store.offline.count("ben"), 3);

    auto first = store.offline.take("ben", 2);
    ASSERT_EQ(first.size(), 2u);
    EXPECT_EQ(first[0].text, "m2");
    EXPECT_EQ(first[1].text, "m3");
    EXPECT_EQ(first[0].sender, "ann");
    auto rest = store.offline.take("ben", 10);
    ASSERT_EQ(rest.size(), 1u);
    EXPECT_EQ(rest[0].text, "m4");
    EXPECT_TRUE(store.offline.take("ben", 10).empty());

    // Texts are bytes: zero-free 8-bit text comes back unchanged.
    store.offline.add("ben", "ann", "\xe4\xf6\xfc\x80\xff", 1, 3);
    EXPECT_EQ(store.offline.take("ben", 1).at(0).text, "\xe4\xf6\xfc\x80\xff");
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
