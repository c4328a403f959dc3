// Loading the library, the connection, and the events that end it: kicks, shutdowns, a server that
// dies, late replies and stray callbacks. None may wake a later request or hand it a stale value.
#include "Network/Include/DynamicLibrary.h"
#include "client_fixture.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <future>

extern char **environ;

using Connection = ClientTest;

namespace {
std::future<JobReply> StartRequest(const char *job, int32_t type) {
    return std::async(std::launch::async, [job, type] { return RequestRoundTrip(job, {}, type); });
}

bool Ends(std::future<JobReply> &request) {
    return request.wait_for(30s) == std::future_status::ready;
}
}  // namespace

TEST(ClusterLibrary, BindsEveryEntryPointThisBuildProvides) {
    const intptr_t library = LoadClusterLibrary();
    ASSERT_NE(library, 0) << ClusterLibraryLoadError();
    EXPECT_EQ(LoadClusterLibrary(), library);
    EXPECT_EQ(MissingClientEntryPoint(), "");

    const auto names = ClusterEntryPointNames();
    ASSERT_EQ(names.size(), 138u);
    EXPECT_STREQ(names[0], "Drovik_Slave_Init");
    EXPECT_STREQ(names[31], "Drovik_Master_Init");
    EXPECT_STREQ(names[65], "Drovik_Cache_New");
    EXPECT_STREQ(names[84], "Drovik_SQLite_Create");
    EXPECT_STREQ(names[112], "Drovik_Parameter_New");
    EXPECT_STREQ(names[128], "Drovik_Return_Memory");
    EXPECT_STREQ(names[137], "Drovik_GetVersion");

    for (const char *declared : {"Drovik_Master_DoJob", "Drovik_Slave_Job_SendMessage",
                                 "Drovik_Cache_GetName", "Drovik_Return_String"})
        EXPECT_TRUE(IsClusterEntryPointBound(declared)) << declared;
    // Names this build does not provide stay null.
    for (const char *reserved : {"Drovik_Master_WaitEvent", "Drovik_SQLite_Open"})
        EXPECT_FALSE(IsClusterEntryPointBound(reserved)) << reserved;
    EXPECT_EQ(Cluster::Drovik_GetVersion(), DROVIK_VERSION);
}

TEST_F(Connection, ConnectWhileConnectedReplacesTheConnection) {
    const intptr_t first = ClientState.Slave;
    const intptr_t second = ConnectToServer();
    ASSERT_NE(second, 0);
    EXPECT_EQ(ClientState.Slave, second);
    EXPECT_TRUE(Eventually([&] { return Drovik_Slave_CountMasters(server->handle()) == 1; }));
    EXPECT_EQ(Cluster::Drovik_Master_CountSlaves(ClientState.Master), 1);
    EXPECT_EQ(RequestRoundTrip("Test_Long", {1}, ReplyType_Long).Long, 2);
    (void)first;
}

TEST_F(Connection, FailedConnectEndsNotConnected) {
    drovik::Slave gone("127.0.0.1", 0, 1);
    const int32_t closedPort = gone.port();
    gone.shutdown();
    EXPECT_EQ(Connect("127.0.0.1", closedPort, "", 0, "", "", 0, 5), 0);
    EXPECT_EQ(ClientState.Slave, 0);
    EXPECT_FALSE(GetLastErrorText().empty());

    // A request without a connection is refused by the library, with its text.
    SetLastError("");
    const JobReply reply = RequestRoundTrip("Test_Long", {1}, ReplyType_Long);
    EXPECT_EQ(reply.Event, 0);
    EXPECT_EQ(reply.Long, 0);
    EXPECT_FALSE(GetLastErrorText().empty());
}

TEST_F(Connection, DisconnectEndsTheConnectionAndRepeatsHarmlessly) {
    EXPECT_EQ(Disconnect(), 0);
    EXPECT_EQ(ClientState.Slave, 0);
    EXPECT_EQ(Disconnect(), 0);
    EXPECT_TRUE(Eventually([&] { return Drovik_Slave_CountMasters(server->handle()) == 0; }));
    EXPECT_EQ(RequestRoundTrip("Test_Long", {1}, ReplyType_Long).Event, 0);
}

TEST_F(Connection, KickWhileIdleLeavesNoStaleWakeUp) {
    ASSERT_EQ(RequestRoundTrip("Test_Long", {6}, ReplyType_Long).Long, 7);
    ASSERT_TRUE(server->kick(ClientOnServer()));
    ASSERT_TRUE(Eventually([] { return ClientState.Slave == 0; }));
    EXPECT_EQ(GetLastErrorText(), "You where kicked from server");

    ASSERT_NE(ConnectToServer(), 0);
    // The kick released nothing that this request could take: it waits for its own answer.
    const JobReply reply = RequestRoundTrip("Test_Delayed", {42}, ReplyType_Long);
    EXPECT_EQ(reply.Event, JobEvent_Finished);
    EXPECT_EQ(reply.Long, 42);
}

TEST_F(Connection, KickDuringARequestEndsItWithTheFailureValue) {
    ASSERT_EQ(RequestRoundTrip("Test_Memory", {}, ReplyType_Memory).Memory.size(), 5u);
    auto request = StartRequest("Test_Hold", ReplyType_Memory);
    ASSERT_TRUE(WaitUntilHeld());
    ASSERT_TRUE(server->kick(ClientOnServer()));
    ASSERT_TRUE(Ends(request));
    const JobReply reply = request.get();
    EXPECT_EQ(reply.Event, JobEvent_Kicked);
    EXPECT_TRUE(reply.Memory.empty()) << "never the block of an earlier request";
    EXPECT_EQ(GetLastErrorText(), "You where kicked from server");
    EXPECT_EQ(ClientState.Slave, 0);
}

TEST_F(Connection, ShutdownDuringARequestEndsIt) {
    auto request = StartRequest("Test_Hold", ReplyType_Text);
    ASSERT_TRUE(WaitUntilHeld());
    // The server waits for its running job while it shuts down; the client must not.
    std::thread shutdown([this] { server->shutdown(); });
    const bool ended = Ends(request);
    ReleaseHeldJobs();
    shutdown.join();
    ASSERT_TRUE(ended);
    const JobReply reply = request.get();
    EXPECT_EQ(reply.Event, JobEvent_Shutdown);
    EXPECT_EQ(reply.Text, "");
    EXPECT_EQ(GetLastErrorText(), "Server was shutdown");
    EXPECT_EQ(ClientState.Slave, 0);
}

TEST_F(Connection, LateReplyAfterAKickIsNotTakenByTheNextRequest) {
    auto request = StartRequest("Test_Hold", ReplyType_Long);
    ASSERT_TRUE(WaitUntilHeld());
    const intptr_t oldJob = AwaitedJob();
    ASSERT_NE(oldJob, 0);
    const intptr_t oldSlave = ClientState.Slave;
    ASSERT_TRUE(server->kick(ClientOnServer()));
    ASSERT_TRUE(Ends(request));
    EXPECT_EQ(request.get().Event, JobEvent_Kicked);

    // The kicked job's answer arrives after all (as a library that delivered late would).
    const int32_t stale = 77;
    JobReplyCallback(ClientState.Master, oldSlave, oldJob, JobEvent_Finished,
                     LibraryBlock(&stale, 4), 4, ReplyType_Long);
    ASSERT_NE(ConnectToServer(), 0);
    const JobReply reply = RequestRoundTrip("Test_Delayed", {5}, ReplyType_Long);
    EXPECT_EQ(reply.Event, JobEvent_Finished);
    EXPECT_EQ(reply.Long, 5);
}

TEST_F(Connection, FinalEventWithoutItsValueEndsTheRequest) {
    auto request = StartRequest("Test_Hold", ReplyType_Long);
    ASSERT_TRUE(WaitUntilHeld());
    const intptr_t job = AwaitedJob();
    JobReplyCallback(ClientState.Master, ClientState.Slave, job, JobEvent_Finished, nullptr, 0,
                     ReplyType_Long);
    ASSERT_TRUE(Ends(request));
    EXPECT_EQ(request.get().Event, ReplyOutcome_Unreadable);

    // The real answer of that job comes later and is dropped; the next request gets its own.
    ReleaseHeldJobs();
    EXPECT_EQ(RequestRoundTrip("Test_Delayed", {8}, ReplyType_Long).Long, 8);
}

TEST_F(Connection, BufferUnderrunEndsTheRequestButKeepsTheConnection) {
    auto request = StartRequest("Test_Hold", ReplyType_Long);
    ASSERT_TRUE(WaitUntilHeld());
    const intptr_t slave = ClientState.Slave;
    ConnectionEventCallback(ClientState.Master, slave, 0, JobEvent_BufferUnderrun, nullptr, 0, 0);
    ASSERT_TRUE(Ends(request));
    EXPECT_EQ(request.get().Event, JobEvent_BufferUnderrun);
    EXPECT_EQ(GetLastErrorText(), "Buffer underrun");
    EXPECT_EQ(ClientState.Slave, slave);
    ReleaseHeldJobs();
    EXPECT_EQ(RequestRoundTrip("Test_Long", {2}, ReplyType_Long).Long, 3);
}

TEST_F(Connection, EventOfAConnectionThatIsNoLongerCurrentChangesNothing) {
    SetLastError("unchanged");
    const intptr_t current = ClientState.Slave;
    ConnectionEventCallback(ClientState.Master, current + 1000, 0, JobEvent_Kicked, nullptr, 0, 0);
    EXPECT_EQ(ClientState.Slave, current);
    EXPECT_EQ(GetLastErrorText(), "unchanged");
    EXPECT_EQ(RequestRoundTrip("Test_Long", {3}, ReplyType_Long).Long, 4);
}

// A server in a process of its own, so that it can die without a word.
class DyingServer : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        ClientDeInitDelayMs = 0;
        ASSERT_NE(LoadClusterLibrary(), 0) << ClusterLibraryLoadError();
    }
    void TearDown() override {
        if (pid > 0) {
            kill(pid, SIGKILL);
            waitpid(pid, nullptr, 0);
        }
        for (int fd : {toServer, fromServer})
            if (fd >= 0)
                close(fd);
        ClientDeInit();
    }
    // Starts the server; its port, or 0.
    int32_t Start() {
        int in[2], out[2];
        if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0)
            return 0;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, in[0], 0);
        posix_spawn_file_actions_adddup2(&actions, out[1], 1);
        const std::string path = (ExecutableDirectory() / "client_test_server").string();
        char *argv[] = {const_cast<char *>(path.c_str()), nullptr};
        const int failed = posix_spawn(&pid, path.c_str(), &actions, nullptr, argv, environ);
        posix_spawn_file_actions_destroy(&actions);
        close(in[0]);
        close(out[1]);
        toServer = in[1];
        fromServer = out[0];
        if (failed != 0) {
            pid = -1;
            return 0;
        }
        std::string line;
        pollfd ready{fromServer, POLLIN, 0};
        char c = 0;
        while (poll(&ready, 1, 20000) == 1 && read(fromServer, &c, 1) == 1 && c != '\n')
            line += c;
        return line.empty() ? 0 : std::stoi(line);
    }
    pid_t pid = -1;
    int toServer = -1;
    int fromServer = -1;
};

TEST_F(DyingServer, ServerDeathDuringARequestEndsIt) {
    const int32_t port = Start();
    ASSERT_NE(port, 0);
    ASSERT_EQ(ClientInit(), 1);
    ASSERT_NE(Connect("127.0.0.1", port, "", 0, "", "", 0, 5), 0) << GetLastErrorText();
    auto request = StartRequest("Test_Hold", ReplyType_Long);
    ASSERT_TRUE(Eventually([] { return AwaitedJob() != 0; }));
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    pid = -1;
    ASSERT_TRUE(Ends(request));
    const JobReply reply = request.get();
    EXPECT_EQ(reply.Event, JobEvent_Shutdown);
    EXPECT_EQ(reply.Long, 0);
    EXPECT_EQ(GetLastErrorText(), "Server was shutdown");
    EXPECT_EQ(ClientState.Slave, 0);
}
