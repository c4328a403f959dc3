// What a user of the packages does first, against the packaged server: connect, register, log in,
// send a private and a global message and receive both, and start administrator mode with the
// password the server printed at its first start. The request layer loads the library from beside
// this program, as the client does.
//
// SMOKE_PORT names the server's port on 127.0.0.1; SMOKE_ADMIN_PASSWORD the administrator password.
#include "Network/Client/Client.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <set>
#include <thread>
#include <utility>

using namespace std::chrono_literals;

namespace {

std::string Environment(const char *name) {
    const char *value = std::getenv(name);
    return value != nullptr ? value : "";
}

// The messages of the collections until every expected one arrived or 20 s passed.
std::set<std::pair<std::string, std::string>> ReceiveAll(
    std::set<std::pair<std::string, std::string>> expected) {
    const auto end = std::chrono::steady_clock::now() + 20s;
    while (!expected.empty() && std::chrono::steady_clock::now() < end) {
        if (User_ReceiveMessages() != 0) {
            while (TakeNextMessage() == 1)
                expected.erase({GetMessageSender(), GetMessageText()});
        }
        std::this_thread::sleep_for(20ms);
    }
    return expected;
}

TEST(PackagedServer, AcceptsAUserWhoChatsAndTheAdministrator) {
    const int port = std::atoi(Environment("SMOKE_PORT").c_str());
    ASSERT_GT(port, 0) << "SMOKE_PORT names the packaged server's port";
    const std::string adminPassword = Environment("SMOKE_ADMIN_PASSWORD");
    ASSERT_FALSE(adminPassword.empty())
        << "SMOKE_ADMIN_PASSWORD is the password the server printed";

    ClientDeInitDelayMs = 0;
    ASSERT_NE(LoadClusterLibrary(), 0) << ClusterLibraryLoadError();
    ASSERT_EQ(ClientInit(), 1) << GetLastErrorText();
    ASSERT_NE(Connect("127.0.0.1", port, "", 0, "", "", 0, 5), 0) << GetLastErrorText();

    ASSERT_EQ(User_Register("smoke", "password1"), 1) << GetLastErrorText();
    ASSERT_EQ(User_Login("smoke", "password1"), 1) << GetLastErrorText();
    EXPECT_NE(User_GetOnlineUserList().find("smoke"), std::string::npos);

    ASSERT_EQ(User_SendMessage("smoke", "private hello"), 1) << GetLastErrorText();
    ASSERT_EQ(User_SendGlobalMessage("global hello"), 1) << GetLastErrorText();
    const auto missing = ReceiveAll({{"smoke", "private hello"}, {"smoke", "global hello"}});
    EXPECT_TRUE(missing.empty()) << missing.size() << " message(s) did not arrive";

    EXPECT_EQ(Control_Start(adminPassword + "x"), 2) << "a wrong password is refused";
    EXPECT_EQ(Control_Start(adminPassword), 1) << GetLastErrorText();
    EXPECT_EQ(User_Logout(), 1);
    ClientDeInit();
}

}  // namespace
