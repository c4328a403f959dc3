// The request layer against a server that stalls or floods: a job that never ends, a stream of a
// million messages, texts and avatars far beyond anything a well-behaved server sends, and an
// avatar file whose name is not ASCII.
#include "Network/Client/AvatarFile.h"
#include "Network/Client/ReplyBounds.h"
#include "request_fixture.h"
#include "streamed_block.h"
#include "tests/picture/PictureEncoders.h"

#include <filesystem>
#include <fstream>
#include <random>

namespace {
class HostileServer : public RequestTest {
protected:
    void TearDown() override {
        RequestTimeoutMs = RequestTimeoutLimitMs;
        RequestTest::TearDown();
    }
    void SetAvatarLimits(int32_t size, int32_t width, int32_t height) {
        ClientState.Preferences.MaxAvatarSize = size;
        ClientState.Preferences.MaxAvatarWidth = width;
        ClientState.Preferences.MaxAvatarHeight = height;
    }
};

std::vector<uint8_t> Png(int width, int height) {
    return picture_test::EncodePng(picture_test::Gradient(width, height));
}
}  // namespace

TEST_F(HostileServer, AJobThatNeverEndsReturnsWithinTheLimitAndItsLateOutcomeIsDropped) {
    RequestTimeoutMs = 300;
    AnswerWith("User_Login", HeldAnswer{});
    EXPECT_EQ(User_Login("alice", "secret"), 0);
    EXPECT_EQ(GetLastErrorText(), TimedOutText);
    EXPECT_EQ(AwaitedJob(), 0);
    EXPECT_EQ(SubmittedNames(), std::vector<std::string>{"User_Login"}) << "no preferences asked";

    // A fetch that times out caches nothing: the next one asks the server again.
    AnswerWith("User_GetUserProfile", HeldAnswer{});
    EXPECT_EQ(User_GetUserProfile("bob"), "");
    EXPECT_EQ(GetLastErrorText(), TimedOutText);

    // The held jobs now end with an error event each. The requests that follow on the same
    // connection take their own answers, never those late outcomes.
    RequestTimeoutMs = RequestTimeoutLimitMs;
    ReleaseHeldJobs();
    AnswerWith("User_GetUserProfile", std::string("VERSION 1\n\rFirstName: Bob"));
    AnswerWith("User_SendMessage", 1);
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(User_SendMessage("bob", "hi"), 1);
    EXPECT_EQ(User_GetUserProfile("bob"), "VERSION 1\n\rFirstName: Bob");
    EXPECT_EQ(GetLastErrorText(), TimedOutText) << "no late error event was taken as a reply";
}

TEST_F(HostileServer, AMillionMessagesAreCountedButTheQueueStaysBounded) {
    RequestTimeoutMs = 120000;  // the whole flood is one job
    FloodMessage = StreamedBlock(6, 3, std::string("flood\0hi\0", 9));
    FloodCopies = 1'000'000;
    Messages = {StreamedBlock(6, 6, std::string("alice\0first\0", 12))};
    MessagesCount = 1'000'001;
    EXPECT_EQ(User_ReceiveMessages(), 1'000'001) << "the server's count, as designed";
    EXPECT_EQ(ClientState.QueuedMessages, MaxQueuedMessages);
    EXPECT_EQ(ClientState.DroppedMessages, 1'000'001 - MaxQueuedMessages);

    // The oldest are kept, in order; taking them frees room for the next collection.
    ASSERT_EQ(TakeNextMessage(), 1);
    EXPECT_EQ(GetMessageSender() + ": " + GetMessageText(), "alice: first");
    int taken = 1;
    while (TakeNextMessage() == 1)
        ++taken;
    EXPECT_EQ(taken, MaxQueuedMessages);
    EXPECT_EQ(GetMessageText(), "hi");
    EXPECT_EQ(ClientState.QueuedBytes, 0u);

    FloodCopies = 0;
    Messages = {StreamedBlock(5, 4, "carolyes!")};
    MessagesCount = 1;
    EXPECT_EQ(User_ReceiveMessages(), 1);
    ASSERT_EQ(TakeNextMessage(), 1);
    EXPECT_EQ(GetMessageSender(), "carol");
}

TEST_F(HostileServer, LargeMessagesAreBoundedByTheirBytes) {
    const std::string text(64 << 10, 'x');
    FloodMessage = StreamedBlock(3, int32_t(text.size()), "bob" + text);
    FloodCopies = 200;  // 12.5 MiB of text
    MessagesCount = 200;
    EXPECT_EQ(User_ReceiveMessages(), 200);
    EXPECT_LE(ClientState.QueuedBytes, MaxQueuedBytes);
    EXPECT_GT(ClientState.QueuedMessages, 0);
    EXPECT_EQ(ClientState.QueuedMessages + ClientState.DroppedMessages, 200);
    while (TakeNextMessage() == 1)
        EXPECT_EQ(GetMessageText().size(), text.size());
}

TEST_F(HostileServer, HugeTextsAreBoundedBeforeTheyAreKept) {
    std::string list;
    for (int i = 0; list.size() < 2 * MaxOnlineListBytes; ++i)
        list += "user_" + std::to_string(i) + "\n\r";
    AnswerWith("User_GetOnlineUserList", list);
    const std::string bounded = User_GetOnlineUserList();
    ASSERT_FALSE(bounded.empty());
    EXPECT_LE(bounded.size(), MaxOnlineListBytes);
    EXPECT_EQ(list.compare(0, bounded.size(), bounded), 0);
    EXPECT_EQ(bounded.substr(bounded.size() - 2), "\n\r") << "whole entries only";

    ClientState.Preferences.ProfileCacheSetting = 0;
    const std::string profile = "VERSION 1\n\rFirstName: " + std::string(4 << 20, 'A');
    AnswerWith("User_GetUserProfile", profile);
    const std::string fetched = User_GetUserProfile("bob");
    EXPECT_EQ(fetched, profile.substr(0, MaxProfileTextBytes));
    EXPECT_EQ(User_GetUserProfile("bob"), fetched) << "the bounded text is what was cached";
    EXPECT_EQ(SubmittedNames().size(), 2u);
}

TEST_F(HostileServer, AvatarsBeyondTheAnnouncedLimitsAreNotDecoded) {
    SetAvatarLimits(20000, 100, 100);
    ClientState.Preferences.AvatarCacheSetting = 0;
    AnswerWith("User_GetUserProfileAvatar", Png(100, 100));
    const auto fitting = User_GetUserProfileAvatar("alice");
    ASSERT_NE(fitting, nullptr);
    EXPECT_EQ(fitting->Width, 100);

    // Within the decoder's own limits, but wider than announced.
    AnswerWith("User_GetUserProfileAvatar", Png(101, 100));
    EXPECT_EQ(User_GetUserProfileAvatar("bob"), nullptr);

    // More bytes than announced: neither decoded nor cached, so the next call asks again.
    std::vector<uint8_t> padded = Png(10, 10);
    padded.resize(20001, 0);
    AnswerWith("User_GetUserProfileAvatar", padded);
    EXPECT_EQ(User_GetUserProfileAvatar("carol"), nullptr);
    AnswerWith("User_GetUserProfileAvatar", Png(10, 10));
    EXPECT_NE(User_GetUserProfileAvatar("carol"), nullptr);

    // Before any preferences arrived nothing from the server is decoded.
    ClientState.Preferences = {};
    EXPECT_EQ(User_GetUserProfileAvatar("alice"), nullptr) << "cached bytes, no limits yet";
}

TEST_F(HostileServer, AnAvatarFileWithANonAsciiNameIsSentUnchanged) {
    SetAvatarLimits(20000, 100, 100);
    const auto folder = std::filesystem::temp_directory_path() /
                        ("client-avatar-" + std::to_string(std::random_device{}()));
    std::filesystem::create_directories(folder);
    const std::string name = "Bild-\xc3\xa4\xc3\xb6\xe2\x82\xac.png";  // UTF-8, as handed over
    const std::vector<uint8_t> bytes = Png(20, 10);
    std::ofstream(folder / name, std::ios::binary)
        .write(reinterpret_cast<const char *>(bytes.data()), std::streamsize(bytes.size()));

    EXPECT_EQ(User_SetProfileAvatar((folder / name).string()), 1);
    const auto received = Received();
    ASSERT_EQ(received.size(), 1u);
    EXPECT_EQ(received[0].Values, (ReceivedValues{"m:" + std::string(bytes.begin(), bytes.end())}));
    std::filesystem::remove_all(folder);
}
