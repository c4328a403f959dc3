// The server's connection limits, set from its options: one address cannot take every
// connection, and a connection that does not log in in time is closed while a logged-in one stays.
#include "ServerFixture.h"

namespace {

using namespace std::chrono_literals;

class ConnectionLimits : public ServerTest {
protected:
    std::vector<std::string> serverOptions() const override {
        return {"--max-connections-per-address", "2", "--login-grace-seconds", "1"};
    }
};

TEST_F(ConnectionLimits, AddressCapAndLoginGraceLeaveALoggedInClientServed) {
    auto member = newUser("ann");
    Client idle(master, server->port());
    ASSERT_TRUE(idle.connected());
    Client third(master, server->port());
    EXPECT_FALSE(third.connected());  // a third connection from 127.0.0.1

    // The connection without a login is closed once its grace is over; the logged-in one is not.
    EXPECT_EQ(idle.connectionEvent(20s), DROVIK_EVENT_SHUTDOWN);
    EXPECT_EQ(member->code("User_Logout"), 1);
    EXPECT_EQ(member->login("ann"), 1);
    EXPECT_NE(server->log().find("not trusted within"), std::string::npos) << server->log();
    EXPECT_NE(server->log().find("the limit of one address"), std::string::npos);

    // Its place is free again.
    Client again(master, server->port());
    EXPECT_TRUE(again.connected());
}

}  // namespace
