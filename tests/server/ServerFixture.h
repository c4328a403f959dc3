// A fresh server with an empty store for every test, and a master to reach it.
#pragma once

#include <gtest/gtest.h>

#include <memory>

#include "ServerProcess.h"
#include "TestClient.h"

class ServerTest : public ::testing::Test {
protected:
    // Options added to every start of this fixture's server.
    virtual std::vector<std::string> serverOptions() const { return extraOptions; }
    // Stops the server and starts it again on the same store with these options added.
    void restartWith(std::vector<std::string> options) {
        extraOptions = std::move(options);
        restartServer();
    }

    void SetUp() override { startServer(); }
    void TearDown() override {
        if (HasFailure() && server)
            std::cerr << "---- server log ----\n" << server->log() << "--------------------\n";
    }

    void startServer() {
        server = std::make_unique<ServerProcess>(folder.path(), serverOptions());
        ASSERT_TRUE(server->started()) << server->log();
    }
    // Stops the server cleanly and starts it again on the same store.
    void restartServer() {
        ASSERT_EQ(server->stop(SIGTERM), 0) << server->log();
        startServer();
    }
    std::unique_ptr<Client> newClient() {
        auto client = std::make_unique<Client>(master, server->port());
        EXPECT_TRUE(client->connected()) << master.master.lastError();
        return client;
    }
    // A connection logged in with a newly registered account.
    std::unique_ptr<Client> newUser(const std::string &name) {
        auto client = newClient();
        EXPECT_TRUE(client->enter(name)) << name;
        return client;
    }
    // A logged-in connection in administrator mode.
    std::unique_ptr<Client> newAdmin(const std::string &name) {
        auto client = newUser(name);
        EXPECT_EQ(client->code("Control_Start", {std::string(kAdminDigest)}), 1);
        return client;
    }

    std::vector<std::string> extraOptions;
    TempFolder folder;
    std::unique_ptr<ServerProcess> server;
    TestMaster master;
};
