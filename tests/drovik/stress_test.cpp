// Many masters with many jobs in flight at once: nothing lost, nothing delivered to the wrong job.
#include <random>

#include "test_slave.h"

namespace drovik_test {
namespace {

TEST(Stress, FiftyMastersTwoHundredJobsEachLoseAndMisrouteNothing) {
    constexpr int kMasters = 50;
    constexpr int kJobs = 200;
    int32_t port = 0;
    intptr_t slave = initSlave("127.0.0.1", 0, nullptr, 4, &port);
    ASSERT_NE(slave, 0);
    addTestJobs(slave);
    ASSERT_EQ(Drovik_Slave_SetMasterJobLimit(slave, 0, kJobs), 1);
    // Every master connects from the one loopback address.
    ASSERT_EQ(Drovik_Slave_SetLimit(slave, DROVIK_LIMIT_CONNECTIONS_PER_ADDRESS, kMasters), 1);

    std::vector<std::unique_ptr<TestMaster>> masters;
    std::vector<intptr_t> connections;
    for (int m = 0; m < kMasters; ++m) {
        masters.push_back(std::make_unique<TestMaster>(200, 5000));
        connections.push_back(masters.back()->connect(port));
        ASSERT_NE(connections.back(), 0) << masters.back()->lastError();
    }

    struct Sent {
        intptr_t master, slave;
        std::string payload;
    };
    std::mutex lock;
    std::map<intptr_t, Sent> sent;
    std::vector<std::thread> submitters;
    std::atomic<int> refused{0};
    for (int m = 0; m < kMasters; ++m) {
        submitters.emplace_back([&, m] {
            std::mt19937 random(m);
            for (int j = 0; j < kJobs; ++j) {
                std::string payload = "master " + std::to_string(m) + " job " + std::to_string(j) +
                                      " " + std::string(random() % 64, 'a' + random() % 26);
                intptr_t id = submit(masters[m]->handle(), connections[m], "Echo",
                                     listOf({payload}), DROVIK_TYPE_STRING);
                if (id == 0) {
                    ++refused;
                    continue;
                }
                std::lock_guard guard(lock);
                sent[id] = {masters[m]->handle(), connections[m], payload};
            }
        });
    }
    for (auto &t : submitters)
        t.join();
    ASSERT_EQ(refused, 0);
    ASSERT_EQ(sent.size(), size_t{kMasters * kJobs});

    int wrong = 0;
    for (const auto &[id, s] : sent) {
        auto events = Recorder::instance().waitFinal(id);
        ASSERT_TRUE(events) << "job " << id << " never finished";
        ASSERT_EQ(events->size(), 1u);
        const Event &e = events->front();
        bool right = e.event == DROVIK_EVENT_FINISHED && e.master == s.master &&
                     e.slave == s.slave && textOf(e) == s.payload + '\0';
        wrong += right ? 0 : 1;
    }
    EXPECT_EQ(wrong, 0);
    for (size_t m = 0; m < masters.size(); ++m)
        EXPECT_EQ(Drovik_Master_CountSlaveJobs(masters[m]->handle(), connections[m]), 0);
    masters.clear();
    EXPECT_EQ(Drovik_Slave_DeInit(slave), 1);
}

}  // namespace
}  // namespace drovik_test
