// The request layer against the real community server on a free loopback port. A second user is
// a master of the library of its own (TestClient), as another program would be.
#include "Network/Client/Client.h"
#include "ServerProcess.h"
#include "TestClient.h"
#include "protocol/PasswordDigest.h"
#include "tests/drovik/RecordingRelay.h"
#include "tests/picture/PictureEncoders.h"

#include <gtest/gtest.h>

#include <csignal>
#include <fstream>
#include <thread>

using namespace std::chrono_literals;

namespace {
// The messages of the request layer's collections until one from `sender` with `text` arrived
// (a generous limit against hangs). True when it did.
bool ReceiveUntil(const std::string &sender, const std::string &text) {
    const auto end = std::chrono::steady_clock::now() + 20s;
    while (std::chrono::steady_clock::now() < end) {
        if (User_ReceiveMessages() != 0) {
            while (TakeNextMessage() == 1) {
                if (GetMessageSender() == sender && GetMessageText() == text)
                    return true;
            }
        }
        std::this_thread::sleep_for(20ms);
    }
    return false;
}

class RequestsEndToEnd : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        ClientDeInitDelayMs = 0;
        ASSERT_NE(LoadClusterLibrary(), 0) << ClusterLibraryLoadError();
    }

    void SetUp() override {
        server = std::make_unique<ServerProcess>(folder.path());
        ASSERT_TRUE(server->started()) << server->log();
        ClientState.Preferences = {};
        ASSERT_EQ(ClientInit(), 1) << GetLastErrorText();
        ASSERT_NE(Connect("127.0.0.1", server->port(), "", 0, "", "", 0, 5), 0)
            << GetLastErrorText();
    }

    void TearDown() override {
        ClientDeInit();
        if (HasFailure())
            std::cerr << "---- server log ----\n" << server->log() << "--------------------\n";
    }

    void EnterAs(const std::string &name) {
        ASSERT_EQ(User_Register(name, "password1"), 1) << GetLastErrorText();
        ASSERT_EQ(User_Login(name, "password1"), 1) << GetLastErrorText();
    }

    std::unique_ptr<Client> OtherUser(const std::string &name) {
        auto client = std::make_unique<Client>(others, server->port());
        EXPECT_TRUE(client->enter(name)) << name;
        return client;
    }

    std::string WriteFile(const std::string &name, const std::vector<uint8_t> &bytes) {
        const auto path = folder.path() / name;
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char *>(bytes.data()), std::streamsize(bytes.size()));
        return path.string();
    }

    TempFolder folder;
    std::unique_ptr<ServerProcess> server;
    TestMaster others;
};
}  // namespace

TEST_F(RequestsEndToEnd, AccountsListsAndMessages) {
    EXPECT_EQ(User_Register("alice", "abc"), 3) << "too short for the server";
    EXPECT_EQ(User_Register("al ice", "password1"), 5);
    EnterAs("alice");
    EXPECT_EQ(User_Register("alice", "password1"), 2) << "taken";
    // A connection holding an account learns nothing of other names and passwords.
    EXPECT_EQ(User_Login("nobody", "password1"), 5);

    // The login brought the server's preferences.
    EXPECT_EQ(ClientState.Preferences.MaxAvatarSize, 10240);
    EXPECT_EQ(ClientState.Preferences.MaxAvatarWidth, 100);
    EXPECT_EQ(ClientState.Preferences.MaxAvatarHeight, 100);
    EXPECT_EQ(ClientState.Preferences.ProfileCacheSetting, 60);
    EXPECT_EQ(ClientState.Preferences.AvatarCacheSetting, 300);

    auto bob = OtherUser("bob");
    const std::string online = User_GetOnlineUserList();
    EXPECT_NE(online.find("alice\n\r"), std::string::npos) << online;
    EXPECT_NE(online.find("bob\n\r"), std::string::npos) << online;

    EXPECT_EQ(User_SendGlobalMessage("hello all"), 1);
    EXPECT_TRUE(ReceiveUntil("alice", "hello all")) << "the global message comes back";

    EXPECT_EQ(User_SendMessage("bob", "hi bob \xe4"), 1);
    const auto atBob = bob->receiveUntil(2, 20s);  // the global one, then the private one
    EXPECT_NE(std::find(atBob.begin(), atBob.end(), StreamedMessage{"alice", "hi bob \xe4"}),
              atBob.end());
    EXPECT_EQ(bob->code("User_SendMessage", {std::string("alice"), std::string("hi alice")}), 1);
    EXPECT_TRUE(ReceiveUntil("bob", "hi alice"));

    EXPECT_EQ(User_Logout(), 1);
    EXPECT_EQ(User_GetOnlineUserList(), "") << "no longer logged in";
}

// Whoever records the bytes between the client and the server sees neither a user's name, nor
// the password's digest (which is as good as the password), nor a message's text.
TEST_F(RequestsEndToEnd, ARecordingRelaySeesNoNameDigestOrMessageInClear) {
    drovik_test::Relay relay(server->port());
    ClientDeInit();  // the fixture's client went straight to the server; this one goes through
    ASSERT_EQ(ClientInit(), 1) << GetLastErrorText();
    ASSERT_NE(Connect("127.0.0.1", relay.port(), "", 0, "", "", 0, 5), 0) << GetLastErrorText();
    EnterAs("carol_unseen");
    auto dave = OtherUser("dave");
    EXPECT_NE(User_GetOnlineUserList().find("carol_unseen"), std::string::npos);
    ASSERT_EQ(User_SendMessage("dave", "meet at the old mill"), 1);
    EXPECT_EQ(dave->code("User_SendMessage",
                         {std::string("carol_unseen"), std::string("bring the lantern")}),
              1);
    EXPECT_TRUE(ReceiveUntil("dave", "bring the lantern"));

    const std::vector<uint8_t> seen = relay.recorded();
    EXPECT_GT(seen.size(), 1000u) << "the session went through the relay";
    for (const std::string &clear : {std::string("carol_unseen"), PasswordDigest("password1"),
                                     std::string("meet at the old mill"),
                                     std::string("bring the lantern"), std::string("User_Login")})
        EXPECT_FALSE(drovik_test::contains(seen, clear)) << clear;
}

TEST_F(RequestsEndToEnd, ProfileAndAvatarAreStoredAndFetched) {
    EnterAs("alice");
    ASSERT_EQ(User_SetProfile("Anna", "M\xfcller", "DE", "Bonn", "1.2.1990", "", "a\r\nb"), 1);
    const std::string expected =
        "VERSION 1\n\rFirstName: Anna\n\rSureName: M\xfcller\n\rCountry: DE\n\rCity: "
        "Bonn\n\rBirth: 1.2.1990\n\rHomepage: \n\rSignature: a\r\nb";
    EXPECT_EQ(User_GetProfile(), expected);
    auto bob = OtherUser("bob");
    EXPECT_EQ(User_GetUserProfile("alice"), expected);
    EXPECT_EQ(User_GetUserProfile("bob"), "") << "bob has no profile";

    EXPECT_EQ(User_SetProfileAvatar(
                  WriteFile("wide.png", picture_test::EncodePng(picture_test::Gradient(101, 100)))),
              3);
    const std::string avatar =
        WriteFile("avatar.png", picture_test::EncodePng(picture_test::Gradient(64, 48)));
    ASSERT_EQ(User_SetProfileAvatar(avatar), 1) << GetLastErrorText();
    auto own = User_GetProfileAvatar();
    ASSERT_NE(own, nullptr);
    EXPECT_EQ(own->Width, 64);
    EXPECT_EQ(own->Height, 48);
    auto byName = User_GetUserProfileAvatar("alice");
    ASSERT_NE(byName, nullptr);
    EXPECT_EQ(byName->Pixels, own->Pixels);
    EXPECT_EQ(User_GetUserProfileAvatar("bob"), nullptr);
}

TEST_F(RequestsEndToEnd, Administration) {
    EnterAs("alice");
    auto bob = OtherUser("bob");
    EXPECT_EQ(Control_KickUser("bob"), 3) << "not in administrator mode";
    EXPECT_EQ(Control_Start("wrong"), 2);
    ASSERT_EQ(Control_Start(kAdminPassword), 1);

    EXPECT_EQ(Control_KickUser("nobody"), 4);
    EXPECT_EQ(Control_KickUser("alice"), 6);
    EXPECT_EQ(Control_KickUser("bob"), 1);
    EXPECT_EQ(bob->connectionEvent(20s), DROVIK_EVENT_KICKED);
    EXPECT_EQ(Control_KickUser("bob"), 5) << "no longer logged in";

    EXPECT_EQ(Control_BannUser("bob", 1, 3), 1);
    Client banned(others, server->port());
    EXPECT_EQ(banned.login("bob"), 6);
    EXPECT_EQ(Control_BannUser("bob", 0, 3), 1);
    EXPECT_EQ(banned.login("bob"), 1);

    EXPECT_EQ(Control_KickBannUser("bob", 1, 3), 1);
    EXPECT_EQ(banned.connectionEvent(20s), DROVIK_EVENT_KICKED);
    Client again(others, server->port());
    EXPECT_EQ(again.login("bob"), 6);
    EXPECT_EQ(Control_BannUser("bob", 0, 3), 1);

    // This connection takes over carol's login: a message sent now comes from carol.
    auto dave = OtherUser("dave");
    {
        Client carol(others, server->port());
        ASSERT_EQ(carol.registerAs("carol"), 1);
    }
    EXPECT_EQ(Control_ForceLogin("carol"), 1);
    EXPECT_EQ(User_SendMessage("dave", "from carol"), 1);
    const auto atDave = dave->receiveUntil(1, 20s);
    ASSERT_EQ(atDave.size(), 1u);
    EXPECT_EQ(atDave[0], (StreamedMessage{"carol", "from carol"}));

    EXPECT_EQ(Control_ChangePassword("new secret"), 1);
    EXPECT_EQ(Control_Stop(), 1);
    EXPECT_EQ(Control_KickUser("dave"), 3);
    EXPECT_EQ(Control_Start(kAdminPassword), 2);
    ASSERT_EQ(Control_Start("new secret"), 1);

    EXPECT_EQ(Control_StopServer(), 1);
    EXPECT_EQ(server->waitForExit(20s), 0) << server->log();
    EXPECT_EQ(Control_Stop(), 0) << "the server is gone";
}
