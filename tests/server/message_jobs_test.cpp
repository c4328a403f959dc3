// Global and private messages, the streamed layout, offline delivery, flood control and inboxes.
#include <cstring>

#include "ServerFixture.h"

namespace {

using namespace std::chrono_literals;

class MessageJobs : public ServerTest {
protected:
    std::vector<std::string> serverOptions() const override {
        return {"--flood-burst", "10", "--flood-rate", "1"};
    }
};

TEST_F(MessageJobs, StreamedMessageLayoutCountsEachZeroByte) {
    auto alice = newUser("Alice");
    ASSERT_EQ(alice->code("User_SendGlobalMessage", {std::string("hello")}), 1);
    drovik::Reply reply = alice->call("User_ReceiveMessages", {}, DROVIK_TYPE_NONE);
    ASSERT_EQ(reply.event, DROVIK_EVENT_FINISHED);
    EXPECT_EQ(reply.asLong(), 1);
    ASSERT_EQ(reply.streamed.size(), 1u);
    const uint8_t expected[] = {6,   0,   0,   0, 6,   0,   0,   0,   'a', 'l',
                                'i', 'c', 'e', 0, 'h', 'e', 'l', 'l', 'o', 0};
    EXPECT_EQ(reply.streamed[0], drovik::Bytes(std::begin(expected), std::end(expected)));

    // Nothing waiting: no stream, a count of 0.
    int32_t count = -1;
    EXPECT_TRUE(alice->receive(&count).empty());
    EXPECT_EQ(count, 0);
}

TEST_F(MessageJobs, GlobalMessageReachesEveryLoggedInUserOnce) {
    auto a = newUser("ann");
    auto b = newUser("ben");
    auto outsider = newClient();  // connected, not logged in
    ASSERT_EQ(b->code("User_SendGlobalMessage", {std::string("to all")}), 1);
    const std::vector<StreamedMessage> expected = {{"ben", "to all"}};
    EXPECT_EQ(a->receive(), expected);
    EXPECT_EQ(b->receive(), expected) << "the sender included";
    EXPECT_TRUE(a->receive().empty()) << "a message leaves the inbox once streamed";
    ASSERT_TRUE(outsider->enter("cid"));
    EXPECT_TRUE(outsider->receive().empty()) << "sent before the login";
}

TEST_F(MessageJobs, PrivateMessageReachesOnlyTheRecipientInOrder) {
    auto a = newUser("ann");
    auto b = newUser("ben");
    auto c = newUser("cid");
    for (int i = 0; i < 5; ++i)
        ASSERT_EQ(a->code("User_SendMessage", {std::string("BEN"), "m" + std::to_string(i)}), 1);
    auto got = b->receive();
    ASSERT_EQ(got.size(), 5u);
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(got[size_t(i)], (StreamedMessage{"ann", "m" + std::to_string(i)}));
    EXPECT_TRUE(a->receive().empty());
    EXPECT_TRUE(c->receive().empty());
    // To oneself is a message like any other.
    ASSERT_EQ(a->code("User_SendMessage", {std::string("ann"), std::string("note")}), 1);
    EXPECT_EQ(a->receive(), (std::vector<StreamedMessage>{{"ann", "note"}}));
}

TEST_F(MessageJobs, RefusedMessagesAreInvalidSoTheSenderIsTold) {
    auto a = newUser("ann");
    auto b = newUser("ben");
    EXPECT_EQ(a->code("User_SendMessage", {std::string("nobody"), std::string("hi")}),
              -DROVIK_EVENT_INVALID);
    EXPECT_EQ(a->code("User_SendMessage", {std::string("bad name"), std::string("hi")}),
              -DROVIK_EVENT_INVALID);
    EXPECT_EQ(a->code("User_SendMessage", {std::string("ben"), std::string("")}),
              -DROVIK_EVENT_INVALID);
    EXPECT_EQ(a->code("User_SendMessage", {std::string("ben"), std::string(4097, 'x')}),
              -DROVIK_EVENT_INVALID);
    EXPECT_EQ(a->code("User_SendGlobalMessage", {std::string("")}), -DROVIK_EVENT_INVALID);
    EXPECT_EQ(a->code("User_SendGlobalMessage", {std::string(4097, 'x')}), -DROVIK_EVENT_INVALID);
    EXPECT_TRUE(b->receive().empty());

    ASSERT_EQ(a->code("User_SendMessage", {std::string("ben"), std::string(4096, 'x')}), 1);
    auto got = b->receive();
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].text.size(), 4096u);
}

TEST_F(MessageJobs, OfflineRecipientGetsTheMessagesAtTheNextLogin) {
    auto a = newUser("ann");
    {
        auto b = newClient();
        ASSERT_EQ(b->registerAs("ben"), 1);
    }
    ASSERT_EQ(a->code("User_SendMessage", {std::string("ben"), std::string("one")}), 1);
    ASSERT_EQ(a->code("User_SendMessage", {std::string("ben"), std::string("two")}), 1);
    ASSERT_EQ(a->code("User_SendGlobalMessage", {std::string("global")}), 1);

    auto b = newClient();
    ASSERT_EQ(b->login("ben"), 1);
    const std::vector<StreamedMessage> expected = {{"ann", "one"}, {"ann", "two"}};
    EXPECT_EQ(b->receive(), expected) << "global messages are for those online";

    // Messages still in the inbox at logout wait in the store for the next login.
    ASSERT_EQ(a->code("User_SendMessage", {std::string("ben"), std::string("three")}), 1);
    ASSERT_EQ(b->code("User_Logout"), 1);
    ASSERT_EQ(b->login("ben"), 1);
    EXPECT_EQ(b->receive(), (std::vector<StreamedMessage>{{"ann", "three"}}));
}

TEST_F(MessageJobs, FloodOverBurstAndRateIsRefused) {
    auto a = newUser("ann");
    auto b = newUser("ben");
    int accepted = 0, refused = 0;
    for (int i = 0; i < 20; ++i) {
        int32_t code = a->code("User_SendMessage", {std::string("ben"), std::string("x")});
        if (code == 1)
            ++accepted;
        else if (code == -DROVIK_EVENT_LIMIT)
            ++refused;
    }
    // Ten at once; at one a second the rate refills hardly any while the twenty go out.
    EXPECT_GE(accepted, 10);
    EXPECT_LT(accepted, 20);
    EXPECT_EQ(accepted + refused, 20);
    EXPECT_EQ(b->receiveUntil(size_t(accepted), 5s).size(), size_t(accepted));
    // Another sender has an allowance of its own.
    EXPECT_EQ(b->code("User_SendMessage", {std::string("ann"), std::string("y")}), 1);
    // The allowance comes back with time.
    std::this_thread::sleep_for(1100ms);
    EXPECT_EQ(a->code("User_SendGlobalMessage", {std::string("later")}), 1);
}

TEST_F(MessageJobs, OnePollStreamsAtMostAHundred) {
    auto a = newUser("ann");
    auto b = newUser("ben");
    // Different senders, so flood control does not get in the way.
    std::vector<std::unique_ptr<Client>> senders;
    for (int s = 0; s < 15; ++s) {
        senders.push_back(newUser("s" + std::to_string(s)));
        for (int i = 0; i < 10; ++i)
            ASSERT_EQ(senders.back()->code("User_SendMessage",
                                           {std::string("ben"), std::to_string(s * 10 + i)}),
                      1);
    }
    int32_t count = 0;
    auto first = b->receive(&count);
    EXPECT_EQ(first.size(), 100u);
    EXPECT_EQ(count, 100);
    auto rest = b->receive(&count);
    EXPECT_EQ(rest.size(), 50u);
    EXPECT_EQ(count, 50);
    for (size_t i = 0; i < 100; ++i)
        EXPECT_EQ(first[i].text, std::to_string(i));
    for (size_t i = 0; i < 50; ++i)
        EXPECT_EQ(rest[i].text, std::to_string(100 + i));
}

class SmallInbox : public ServerTest {
protected:
    std::vector<std::string> serverOptions() const override {
        return {"--inbox-limit", "3", "--flood-burst", "100"};
    }
};

TEST_F(SmallInbox, PrivateMessagesBeyondTheInboxWaitGlobalOnesAreDropped) {
    auto a = newUser("ann");
    auto b = newUser("ben");
    for (int i = 0; i < 3; ++i)
        ASSERT_EQ(a->code("User_SendMessage", {std::string("ben"), std::to_string(i)}), 1);
    ASSERT_EQ(a->code("User_SendGlobalMessage", {std::string("dropped")}), 1);
    for (int i = 3; i < 5; ++i)
        ASSERT_EQ(a->code("User_SendMessage", {std::string("ben"), std::to_string(i)}), 1);
    EXPECT_EQ(b->receive(),
              (std::vector<StreamedMessage>{{"ann", "0"}, {"ann", "1"}, {"ann", "2"}}));
    EXPECT_EQ(b->receive(), (std::vector<StreamedMessage>{{"ann", "3"}, {"ann", "4"}}));
    EXPECT_NE(server->log().find("inbox of ben full: dropped a global message"), std::string::npos);

    // The same holds for a recipient who is offline.
    ASSERT_EQ(b->code("User_Logout"), 1);
    for (int i = 5; i < 10; ++i)
        ASSERT_EQ(a->code("User_SendMessage", {std::string("ben"), std::to_string(i)}), 1);
    ASSERT_EQ(b->login("ben"), 1);
    auto kept = b->receiveUntil(5, 5s);
    ASSERT_EQ(kept.size(), 5u);
    for (size_t i = 0; i < kept.size(); ++i)
        EXPECT_EQ(kept[i].text, std::to_string(5 + i));
}

}  // namespace
