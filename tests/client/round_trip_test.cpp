// The request round trip against a real server over loopback: values of every reply type, the
// parameter list, error events, streamed messages, and requests from several threads at once.
#include "client_fixture.h"
#include "streamed_block.h"

#include <future>

using RoundTrip = ClientTest;

TEST_F(RoundTrip, DeliversAValueOfEveryReplyType) {
    JobReply reply = RequestRoundTrip("Test_Long", {41}, ReplyType_Long);
    EXPECT_EQ(reply.Event, JobEvent_Finished);
    EXPECT_EQ(reply.Long, 42);

    EXPECT_EQ(RequestRoundTrip("Test_Text", {}, ReplyType_Text).Text, "alice\n\rbob\n\r");
    EXPECT_EQ(RequestRoundTrip("Test_Double", {}, ReplyType_Double).Double, -2.5);

    reply = RequestRoundTrip("Test_Memory", {}, ReplyType_Memory);
    EXPECT_EQ(reply.Memory, (std::vector<uint8_t>{1, 2, 3, 0, 255}));
    EXPECT_TRUE(ClientState.ReplyMemory.empty()) << "the block passed to the request";
}

TEST_F(RoundTrip, SendsTheParametersInOrder) {
    const std::vector<uint8_t> bytes = {7, 0, 9};
    const JobReply reply =
        RequestRoundTrip("Test_Parameters", {"J\xfcrgen", -5, std::span(bytes)}, ReplyType_Text);
    EXPECT_EQ(reply.Text, "J\xfcrgen|-5|7|0|9");
}

TEST_F(RoundTrip, MemoryReplyWithoutDataIsNoData) {
    const JobReply reply = RequestRoundTrip("Test_EmptyMemory", {}, ReplyType_Memory);
    EXPECT_EQ(reply.Event, JobEvent_Finished);
    EXPECT_TRUE(reply.Memory.empty());
    EXPECT_EQ(ClientState.ReplyMemorySize, 0);
}

TEST_F(RoundTrip, ErrorEventsEndWithTheirEnglishText) {
    const std::pair<int32_t, std::string> cases[] = {
        {JobEvent_Limit, "Reached maximum parallel jobs limit"},
        {JobEvent_Denied, "You have not the rights to do this request"},
        {JobEvent_Invalid, "You have done an invalid request"},
        {JobEvent_Failed, "An error occurred during your last request"},
    };
    for (const auto &[event, text] : cases) {
        RequestRoundTrip("Test_Long", {1}, ReplyType_Long);  // leaves 2 in ReplyLong
        const JobReply reply = RequestRoundTrip("Test_Event", {event}, ReplyType_Long);
        EXPECT_EQ(reply.Event, event);
        EXPECT_EQ(reply.Long, 0);
        EXPECT_EQ(GetLastErrorText(), text);
    }
    const JobReply unknown = RequestRoundTrip("No_Such_Job", {}, ReplyType_Text);
    EXPECT_EQ(unknown.Event, JobEvent_UnknownJob);
    EXPECT_EQ(unknown.Text, "");
    EXPECT_EQ(GetLastErrorText(), "Server does not know your last request");

    // Wrong parameters are refused by the library on the server's side.
    EXPECT_EQ(RequestRoundTrip("Test_Long", {"not a number"}, ReplyType_Long).Event,
              JobEvent_Invalid);
}

TEST_F(RoundTrip, AValueOfAnotherTypeEndsTheRequestInsteadOfWaiting) {
    RequestRoundTrip("Test_Long", {6}, ReplyType_Long);  // leaves 7 in ReplyLong
    for (const char *job : {"Test_Float", "Test_Text"}) {
        const JobReply reply = RequestRoundTrip(job, {}, ReplyType_Long);
        EXPECT_EQ(reply.Event, ReplyOutcome_Unreadable) << job;
        EXPECT_EQ(reply.Long, 0) << job;
        EXPECT_EQ(GetLastErrorText(), UnreadableReplyText);
    }
    EXPECT_EQ(RequestRoundTrip("Test_Long", {9}, ReplyType_Long).Long, 10);
}

TEST_F(RoundTrip, ThreeStreamedMessagesArriveInOrder) {
    streamed = {StreamedBlock(6, 6, std::string("alice\0hello\0", 12)),
                StreamedBlock(3, 2, "bobhi"),  // parts without a zero byte
                StreamedBlock(0, 4, "anon")};
    const JobReply reply = RequestRoundTrip("Test_Stream", {}, ReplyType_None);
    EXPECT_EQ(reply.Event, JobEvent_Finished);
    EXPECT_EQ(reply.MessageCount, 3);
    EXPECT_EQ(ReceivedMessages(), (std::vector<std::string>{"alice: hello", "bob: hi", ": anon"}));
}

TEST_F(RoundTrip, MalformedStreamedMessagesAreDropped) {
    streamed = {StreamedBlock(1, 1, "ax"),     StreamedBlock(-1, 1, "bx"),
                StreamedBlock(4, 4, "short"),  StreamedBlock(INT32_MAX, 1, "cx"),
                std::vector<uint8_t>{1, 0, 0}, StreamedBlock(1, 1, "dx")};
    const JobReply reply = RequestRoundTrip("Test_Stream", {}, ReplyType_None);
    EXPECT_EQ(reply.MessageCount, 6);
    EXPECT_EQ(ReceivedMessages(), (std::vector<std::string>{"a: x", "d: x"}));
    EXPECT_EQ(GetLastErrorText(), MalformedMessageText);
}

TEST_F(RoundTrip, StreamedJobWithoutACountEndsWithAFailure) {
    const JobReply reply = RequestRoundTrip("Test_StreamWithoutCount", {}, ReplyType_None);
    EXPECT_EQ(reply.Event, ReplyOutcome_Unreadable);
    EXPECT_EQ(reply.MessageCount, 0);
}

TEST_F(RoundTrip, StreamedJobEndingWithAnErrorKeepsThePreviousCount) {
    streamed = {StreamedBlock(1, 1, "ax"), StreamedBlock(1, 1, "by")};
    ASSERT_EQ(RequestRoundTrip("Test_Stream", {}, ReplyType_None).MessageCount, 2);
    const JobReply reply = RequestRoundTrip("Test_Event", {JobEvent_Denied}, ReplyType_None);
    EXPECT_EQ(reply.Event, JobEvent_Denied);
    EXPECT_EQ(reply.MessageCount, 2);
    EXPECT_EQ(GetLastErrorText(), "You have not the rights to do this request");
}

TEST_F(RoundTrip, RequestsFromSeveralThreadsEachGetTheirOwnReply) {
    auto worker = [](int32_t base) {
        for (int32_t i = 0; i < 25; ++i)
            if (RequestRoundTrip("Test_Long", {base + i}, ReplyType_Long).Long != base + i + 1)
                return false;
        return true;
    };
    auto a = std::async(std::launch::async, worker, 1000);
    auto b = std::async(std::launch::async, worker, 2000);
    auto c = std::async(std::launch::async, worker, 3000);
    EXPECT_TRUE(a.get());
    EXPECT_TRUE(b.get());
    EXPECT_TRUE(c.get());
}

TEST_F(RoundTrip, NestsUnderAHeldRequestLock) {
    // The login pattern: one request holds RequestMutex across a second one.
    std::lock_guard request(ClientState.RequestMutex);
    EXPECT_EQ(RequestRoundTrip("Test_Long", {0}, ReplyType_Long).Long, 1);
    EXPECT_EQ(RequestRoundTrip("Test_Memory", {}, ReplyType_Memory).Memory.size(), 5u);
}

TEST_F(RoundTrip, LastErrorIsReadWholeWhileAnotherThreadReplacesIt) {
    const std::string a(300, 'a');
    const std::string b(700, 'b');
    SetLastError(a);
    std::atomic<bool> stop{false};
    std::thread writer([&] {
        for (int i = 0; !stop; ++i)
            SetLastError(i % 2 ? a : b);
    });
    bool whole = true;
    for (int i = 0; i < 20000 && whole; ++i) {
        const std::string seen = GetLastErrorText();
        whole = seen == a || seen == b;
    }
    stop = true;
    writer.join();
    EXPECT_TRUE(whole);
}

TEST_F(RoundTrip, DeletingCachedProfilesTouchesOnlyTheirEntries) {
    const char text[] = "VERSION 1";
    for (const char *name :
         {"Profile_bob", "Avatar_bob", "Profile_carl", "Profile_@Own", "Avatar_@Own"})
        ASSERT_EQ(Cluster::Drovik_Cache_AddEntry(ClientState.Cache, name, text, sizeof text, 0, 0),
                  1);
    auto cached = [](const char *name) {
        return Cluster::Drovik_Cache_isCached(ClientState.Cache, name) != 0;
    };
    EXPECT_EQ(DeleteCachedProfile("nobody"), 0);
    EXPECT_TRUE(cached("Profile_bob") && cached("Avatar_bob") && cached("Profile_carl"));
    DeleteCachedProfile("bob");
    EXPECT_FALSE(cached("Profile_bob") || cached("Avatar_bob"));
    EXPECT_TRUE(cached("Profile_carl") && cached("Profile_@Own"));
    EXPECT_EQ(DeleteOwnCachedProfile(), 0);
    EXPECT_FALSE(cached("Profile_@Own") || cached("Avatar_@Own"));
    EXPECT_TRUE(cached("Profile_carl"));
}
