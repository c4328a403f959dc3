// A real slave on a free loopback port with jobs that the tests script, and the client layer
// connected to it through the library that it loaded from beside the test executable.
#pragma once

#include "Network/Client/Callbacks.h"
#include "Network/Client/Client.h"
#include "Network/Client/RoundTrip.h"

#include "drovik.hpp"

#include <gtest/gtest.h>

#include "Eventually.h"

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

using namespace std::chrono_literals;

// The job id that the running request waits for, 0 when none.
inline intptr_t AwaitedJob() {
    std::lock_guard guard(ClientState.ReplySemaphore.Lock);
    return ClientState.ReplySemaphore.AwaitedJob;
}

// A block of the library's, as it hands them to callbacks.
inline void *LibraryBlock(const void *bytes, int32_t size) {
    void *block = Cluster::Drovik_AllocateMemory(size);
    std::memcpy(block, bytes, size_t(size));
    return block;
}

class ClientTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        ClientDeInitDelayMs = 0;
        ASSERT_NE(LoadClusterLibrary(), 0) << ClusterLibraryLoadError();
    }

    void SetUp() override {
        server = std::make_unique<drovik::Slave>("127.0.0.1", 0, 4);
        ASSERT_TRUE(server->ok()) << server->error();
        RegisterJobs();
        ASSERT_EQ(ClientInit(), 1) << GetLastErrorText();
        ASSERT_NE(ConnectToServer(), 0) << GetLastErrorText();
    }

    void TearDown() override {
        ReleaseHeldJobs();
        ClientDeInit();
        server.reset();
    }

    intptr_t ConnectToServer() { return Connect("127.0.0.1", server->port(), "", 0, "", "", 0, 5); }

    // The server's handle of the client's connection.
    intptr_t ClientOnServer() { return Drovik_Slave_IterateMasters(server->handle(), 0); }

    // Test_Hold jobs wait here until released; they then answer 42.
    void ReleaseHeldJobs() {
        std::lock_guard guard(holdLock);
        released = true;
        holdChanged.notify_all();
    }
    // Until the server holds the job and the client knows the job's id.
    bool WaitUntilHeld(int count = 1) {
        return Eventually([&] { return holding >= count && AwaitedJob() != 0; });
    }

    // Messages that Test_Stream sends before it answers with their number.
    std::vector<std::vector<uint8_t>> streamed;

    std::unique_ptr<drovik::Slave> server;
    std::mutex holdLock;
    std::condition_variable holdChanged;
    bool released = false;
    std::atomic<int> holding{0};

private:
    void RegisterJobs();
};

// The messages in ClientState.Messages, first to last, as "sender: text".
std::vector<std::string> ReceivedMessages();
