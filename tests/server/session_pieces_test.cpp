// The pieces behind the jobs: names, the streamed layout, Redis addresses, inboxes, rate limits,
// and moving messages between sessions and the store while users log in and out.
#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <thread>

#include "ChatMessage.h"
#include "MessageRouter.h"
#include "Presence.h"
#include "RateLimit.h"
#include "ServerProcess.h"
#include "UserName.h"
#include "cluster/RedisConnection.h"
#include "store/Store.h"

namespace {

using namespace std::chrono_literals;

TEST(UserName, ValidNamesAreLowerCasedOthersRefused) {
    EXPECT_EQ(NormalizeUserName("Ann_Marie9"), "ann_marie9");
    EXPECT_EQ(NormalizeUserName(std::string(32, 'Z')), std::string(32, 'z'));
    for (std::string bad : {std::string(), std::string(33, 'a'), std::string("a b"),
                            std::string("a-b"), std::string("\xe4"), std::string("a\n")})
        EXPECT_FALSE(NormalizeUserName(bad).has_value()) << Printable(bad);
    EXPECT_EQ(Printable("a\nb\\\xff"), "a\\x0ab\\x5c\\xff");
    EXPECT_EQ(Printable(std::string(60, 'x')), std::string(48, 'x') + "...");
}

TEST(ChatMessage, EmptyPartsStillCarryTheirZeroByte) {
    EXPECT_EQ(EncodeStreamedMessage("", ""), (std::vector<uint8_t>{1, 0, 0, 0, 1, 0, 0, 0, 0, 0}));
    auto block = EncodeStreamedMessage("ab", std::string(300, 'x'));
    ASSERT_EQ(block.size(), 8u + 3 + 301);
    EXPECT_EQ(block[4], 301 & 0xff);
    EXPECT_EQ(block[5], 301 >> 8);
    EXPECT_EQ(block[10], 0);
    EXPECT_EQ(block.back(), 0);
}

TEST(RedisUrl, CredentialsArePercentDecodedAndBrokenOnesRefused) {
    auto plain = ParseRedisUrl("redis://cache.example:6380/");
    ASSERT_TRUE(plain);
    EXPECT_EQ(plain->host, "cache.example");
    EXPECT_EQ(plain->port, 6380);
    EXPECT_TRUE(plain->password.empty());
    auto withUser = ParseRedisUrl("redis://node%3A1:p%40ss:word@10.0.0.1");
    ASSERT_TRUE(withUser);
    EXPECT_EQ(withUser->user, "node:1");
    EXPECT_EQ(withUser->password, "p@ss:word");
    EXPECT_EQ(withUser->host, "10.0.0.1");
    EXPECT_EQ(withUser->port, 6379);
    auto passwordOnly = ParseRedisUrl("redis://:secret@localhost:7000");
    ASSERT_TRUE(passwordOnly);
    EXPECT_TRUE(passwordOnly->user.empty());
    EXPECT_EQ(passwordOnly->password, "secret");
    for (const char *bad :
         {"redis://user@host", "redis://:@host", "redis://:pw%2@host", "redis://:pw%zz@host",
          "redis://:pw@", "redis://:pw@host:0", "http://:pw@host:6379"})
        EXPECT_FALSE(ParseRedisUrl(bad)) << bad;
}

TEST(Inbox, IsAWindowOverTheStoreForPrivateMessages) {
    Inbox inbox(InboxLimits{2, 1000});
    EXPECT_TRUE(inbox.storeAhead()) << "nothing read from the store yet";
    EXPECT_FALSE(inbox.offerPrivate(MakeChatMessage("a", "1", 1)));
    inbox.fill({MakeChatMessage("a", "1", 1)}, true);
    EXPECT_FALSE(inbox.storeAhead());
    EXPECT_TRUE(inbox.offerPrivate(MakeChatMessage("a", "1", 1))) << "already here, not twice";
    EXPECT_TRUE(inbox.pushGlobal(MakeChatMessage("a", "g", 0)));
    EXPECT_EQ(inbox.size(), 2u);
    // Full: a private message waits in the store, and so does every later one, though room comes.
    EXPECT_FALSE(inbox.offerPrivate(MakeChatMessage("a", "2", 2)));
    EXPECT_TRUE(inbox.storeAhead());
    EXPECT_FALSE(inbox.pushGlobal(MakeChatMessage("a", "g2", 0)));
    EXPECT_EQ(inbox.dropped(), 1u) << "a global message has nowhere else to wait";
    inbox.popStreamed();
    inbox.popStreamed();
    EXPECT_FALSE(inbox.offerPrivate(MakeChatMessage("a", "3", 3))) << "2 comes first";
    EXPECT_EQ(inbox.takeStreamed(), std::vector<int64_t>{1}) << "only private ones await proof";
    EXPECT_TRUE(inbox.takeStreamed().empty());
    EXPECT_EQ(inbox.windowEnd(), 1);

    // The byte bound: each of these takes 8 + 2 + 101 bytes.
    Inbox small(InboxLimits{100, 250});
    small.fill({}, true);
    EXPECT_TRUE(small.offerPrivate(MakeChatMessage("a", std::string(100, '1'), 1)));
    EXPECT_TRUE(small.offerPrivate(MakeChatMessage("a", std::string(100, '2'), 2)));
    EXPECT_FALSE(small.offerPrivate(MakeChatMessage("a", std::string(100, '3'), 3)));
    EXPECT_EQ(small.byteRoom(), 250u - 2 * 111);
    small.reset();
    EXPECT_TRUE(small.empty());
    EXPECT_TRUE(small.storeAhead());
    EXPECT_EQ(small.windowEnd(), 0);
}

TEST(RateLimit, BucketAllowsABurstThenTheRate) {
    TokenBucket bucket(3, 2);
    SteadyTime t{};
    for (int i = 0; i < 3; ++i)
        EXPECT_TRUE(bucket.take(t));
    EXPECT_FALSE(bucket.take(t));
    EXPECT_FALSE(bucket.take(t + 400ms));
    EXPECT_TRUE(bucket.take(t + 500ms));
    EXPECT_TRUE(bucket.take(t + 60s));
    EXPECT_TRUE(bucket.take(t + 60s));
    EXPECT_TRUE(bucket.take(t + 60s));
    EXPECT_FALSE(bucket.take(t + 60s)) << "the burst does not grow past its size";
}

// Sessions, the router and presence over a real store, without the network.
// Sends a private message and waits until the store has decided, as a client waits for its answer.
MessageRouter::Outcome SendPrivate(MessageRouter &router, const std::string &sender,
                                   const std::string &recipient, std::string text) {
    auto decided = std::make_shared<std::promise<MessageRouter::Outcome>>();
    std::future<MessageRouter::Outcome> outcome = decided->get_future();
    router.sendPrivate(sender, recipient, std::move(text),
                       [decided](MessageRouter::Outcome o) { decided->set_value(o); });
    return outcome.get();
}

// Streams the session's messages and waits until they are handed over, as a client waits for the
// end of its poll.
int32_t Stream(MessageRouter &router, const SessionPtr &session, int32_t max,
               MessageRouter::Send send) {
    auto handed = std::make_shared<std::promise<int32_t>>();
    std::future<int32_t> count = handed->get_future();
    if (std::optional<int32_t> now = router.stream(session, max, std::move(send),
                                                   [handed](int32_t n) { handed->set_value(n); }))
        return *now;
    return count.get();
}

class Routing : public ::testing::Test {
protected:
    Routing() : store(folder.path() / "s.db"), router(sessions, store, 100000) {
        for (const char *name : {"ann", "ben", "cid"})
            store.accounts.insert(name, "h", 1);
    }
    SessionPtr connect(intptr_t master) {
        bool created = false;
        return sessions.attach(master, "127.0.0.1", int32_t(master), InboxLimits{100000, 1u << 30},
                               created);
    }
    std::vector<std::string> drain(const SessionPtr &session) {
        std::vector<std::string> texts;
        Stream(router, session, 1000, [&](std::span<const uint8_t> block) {
            texts.emplace_back(reinterpret_cast<const char *>(block.data()) + 8 + block[0]);
            return true;
        });
        return texts;
    }

    TempFolder folder;
    Store store;
    SessionRegistry sessions;
    MessageRouter router;
    std::vector<intptr_t> kicked;
    Presence presence{sessions, router, nullptr, [this](intptr_t m) { kicked.push_back(m); }};
};

TEST_F(Routing, RefusedSendLeavesTheMessageWaiting) {
    auto ben = connect(1);
    ASSERT_EQ(presence.login(ben, "ben"), Presence::LoginOutcome::LoggedIn);
    SendPrivate(router, "ann", "ben", "one");
    SendPrivate(router, "ann", "ben", "two");
    int calls = 0;
    EXPECT_EQ(Stream(router, ben, 100, [&](auto) { return ++calls == 1; }), 1);
    EXPECT_EQ(drain(ben), std::vector<std::string>{"two"});
    EXPECT_EQ(SendPrivate(router, "ann", "nobody", "x"), MessageRouter::Outcome::UnknownRecipient);
}

TEST_F(Routing, ForcedLoginMovesTheInboxAndKicksTheHolder) {
    auto ben = connect(1);
    auto admin = connect(2);
    ASSERT_EQ(presence.login(ben, "ben"), Presence::LoginOutcome::LoggedIn);
    ASSERT_EQ(presence.login(admin, "cid"), Presence::LoginOutcome::LoggedIn);
    SendPrivate(router, "ann", "ben", "kept");
    router.sendGlobal("ann", "global");
    EXPECT_EQ(presence.forceLogin(admin, "ben"), Presence::ForceOutcome::Kicked);
    EXPECT_EQ(kicked, std::vector<intptr_t>{1});
    EXPECT_EQ(drain(admin), std::vector<std::string>{"kept"});
    EXPECT_EQ(*sessions.onlineList(), "ben\n\r");
    EXPECT_EQ(store.messages.count("cid"), 0) << "cid had nothing private waiting";
}

TEST_F(Routing, OfflineMessagesBeyondTheInboxComeOverLaterPolls) {
    SessionRegistry tight;
    MessageRouter router(tight, store, 100000);
    Presence presence(tight, router, nullptr, [](intptr_t) {});
    for (int i = 0; i < 300; ++i)
        SendPrivate(router, "ann", "ben", std::to_string(i) + std::string(1000, 'x'));
    bool created = false;
    // Room for about 70 such messages at a time.
    auto ben = tight.attach(1, "127.0.0.1", 1, InboxLimits{1000, 64 << 10}, created);
    ASSERT_EQ(presence.login(ben, "ben"), Presence::LoginOutcome::LoggedIn);
    std::vector<int> order;
    for (int poll = 0; poll < 10; ++poll)
        Stream(router, ben, 100, [&](std::span<const uint8_t> block) {
            order.push_back(std::atoi(reinterpret_cast<const char *>(block.data()) + 8 + 4));
            return true;
        });
    ASSERT_EQ(order.size(), 300u);
    for (int i = 0; i < 300; ++i)
        EXPECT_EQ(order[size_t(i)], i);
    EXPECT_EQ(ben->inbox.dropped(), 0u);
}

TEST_F(Routing, NoMessageIsLostWhileTheRecipientLogsInAndOut) {
    auto ben = connect(1);
    constexpr int kSenders = 4, kPerSender = 300;
    std::atomic<bool> sending{true};
    std::vector<std::string> received;
    std::thread recipient([&] {
        while (sending) {
            ASSERT_EQ(presence.login(ben, "ben"), Presence::LoginOutcome::LoggedIn);
            for (auto &t : drain(ben))
                received.push_back(t);
            router.jobArrived(*ben);  // the logout job proves the stream arrived
            presence.logout(ben);
        }
    });
    std::vector<std::thread> senders;
    for (int s = 0; s < kSenders; ++s)
        senders.emplace_back([&, s] {
            for (int i = 0; i < kPerSender; ++i)
                SendPrivate(router, "ann", "ben", std::to_string(s) + ":" + std::to_string(i));
        });
    for (auto &t : senders)
        t.join();
    sending = false;
    recipient.join();
    ASSERT_EQ(presence.login(ben, "ben"), Presence::LoginOutcome::LoggedIn);
    for (auto &t : drain(ben))
        received.push_back(t);
    std::sort(received.begin(), received.end());
    EXPECT_EQ(std::unique(received.begin(), received.end()), received.end()) << "duplicates";
    EXPECT_EQ(received.size(), size_t(kSenders * kPerSender));
}

}  // namespace
