// Memory blocks, parameter lists and handles used wrongly: refused, never a crash.
#include <cstdlib>
#include <set>
#include <vector>

#include "test_support.h"

namespace drovik_test {
namespace {

TEST(Memory, BlocksAreZeroFilledAndBounded) {
    auto *b = static_cast<uint8_t *>(Drovik_AllocateMemory(64));
    ASSERT_NE(b, nullptr);
    for (int i = 0; i < 64; ++i)
        EXPECT_EQ(b[i], 0);
    Drovik_FreeMemory(b);
    EXPECT_EQ(Drovik_AllocateMemory(-1), nullptr);
    EXPECT_EQ(Drovik_AllocateMemory((1 << 30) + 1), nullptr);
    void *empty = Drovik_AllocateMemory(0);
    EXPECT_NE(empty, nullptr);
    Drovik_FreeMemory(empty);
}

TEST(Memory, ForeignAndDoubleFreesAreIgnored) {
    void *foreign = std::malloc(32);
    Drovik_FreeMemory(foreign);  // not ours: left alone (the sanitizers would see a wrong free)
    std::free(foreign);
    void *b = Drovik_AllocateMemory(8);
    Drovik_FreeMemory(b);
    Drovik_FreeMemory(b);
    Drovik_FreeMemory(nullptr);
}

TEST(Parameters, ValuesComeBackByIndexAndType) {
    intptr_t list = Drovik_Parameter_New();
    ASSERT_NE(list, 0);
    EXPECT_EQ(Drovik_Parameter_AddLong(list, -5), 1);
    EXPECT_EQ(Drovik_Parameter_AddString(list, "text"), 1);
    EXPECT_EQ(Drovik_Parameter_AddString(list, nullptr), 1);
    EXPECT_EQ(Drovik_Parameter_AddDouble(list, 0.5), 1);
    EXPECT_EQ(Drovik_Parameter_AddQuad(list, INT64_MAX), 1);
    EXPECT_EQ(Drovik_Parameter_AddInteger(list, -1), 1);
    EXPECT_EQ(Drovik_Parameter_AddFloat(list, 3.25f), 1);
    EXPECT_EQ(Drovik_Parameter_Count(list), 7);

    EXPECT_EQ(Drovik_Parameter_GetLong(list, 0), -5);
    EXPECT_STREQ(Drovik_Parameter_GetString(list, 1), "text");
    EXPECT_STREQ(Drovik_Parameter_GetString(list, 2), "");
    EXPECT_EQ(Drovik_Parameter_GetDouble(list, 3), 0.5);
    EXPECT_EQ(Drovik_Parameter_GetQuad(list, 4), INT64_MAX);
    EXPECT_EQ(Drovik_Parameter_GetInteger(list, 5), -1);
    EXPECT_EQ(Drovik_Parameter_GetFloat(list, 6), 3.25f);

    // Wrong type, index out of range, negative index: zero values.
    EXPECT_EQ(Drovik_Parameter_GetLong(list, 1), 0);
    EXPECT_EQ(Drovik_Parameter_GetString(list, 0), nullptr);
    EXPECT_EQ(Drovik_Parameter_GetLong(list, 7), 0);
    EXPECT_EQ(Drovik_Parameter_GetLong(list, -1), 0);
    int32_t size = 99;
    EXPECT_EQ(Drovik_Parameter_GetMem(list, 0, &size), nullptr);
    EXPECT_EQ(size, 0);
    EXPECT_EQ(Drovik_Parameter_GetMem(list, 0, nullptr), nullptr);
}

TEST(Parameters, PointersStayValidWhileTheListGrows) {
    intptr_t list = Drovik_Parameter_New();
    Drovik_Parameter_AddString(list, "a");
    const char *first = Drovik_Parameter_GetString(list, 0);
    for (int i = 0; i < 1000; ++i)
        Drovik_Parameter_AddLong(list, i);
    EXPECT_EQ(Drovik_Parameter_GetString(list, 0), first);
    EXPECT_STREQ(first, "a");
}

TEST(Parameters, MemoryValuesTakeTheBlock) {
    intptr_t list = Drovik_Parameter_New();
    void *block = Drovik_AllocateMemory(16);
    std::memset(block, 0xAB, 16);
    EXPECT_EQ(Drovik_Parameter_AddMem(list, block, 10), 1);
    int32_t size = 0;
    auto *p = static_cast<uint8_t *>(Drovik_Parameter_GetMem(list, 0, &size));
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(size, 10);
    EXPECT_EQ(p[9], 0xAB);

    // An empty memory value reads as present, with size 0.
    EXPECT_EQ(Drovik_Parameter_AddMem(list, Drovik_AllocateMemory(0), 0), 1);
    EXPECT_NE(Drovik_Parameter_GetMem(list, 1, &size), nullptr);
    EXPECT_EQ(size, 0);

    // A size beyond the block, a negative size, a block that is not ours: refused.
    EXPECT_EQ(Drovik_Parameter_AddMem(list, Drovik_AllocateMemory(4), 5), 0);
    EXPECT_EQ(Drovik_Parameter_AddMem(list, Drovik_AllocateMemory(4), -1), 0);
    char foreign[8] = {};
    EXPECT_EQ(Drovik_Parameter_AddMem(list, foreign, 8), 0);
    EXPECT_EQ(Drovik_Parameter_AddMem(list, nullptr, 1), 0);
    // The block belongs to the list even when the list is unknown; nothing leaks (ASan checks).
    EXPECT_EQ(Drovik_Parameter_AddMem(0, Drovik_AllocateMemory(4), 4), 0);
    EXPECT_EQ(Drovik_Parameter_Count(list), 2);
}

TEST(Handles, StaleAndForeignHandlesAreHarmless) {
    intptr_t master = Drovik_Master_Init(nullptr);
    intptr_t list = Drovik_Parameter_New();
    // A handle of another kind is unknown here.
    EXPECT_EQ(Drovik_Parameter_Count(master), 0);
    EXPECT_EQ(Drovik_Parameter_AddLong(master, 1), 0);
    EXPECT_EQ(Drovik_Master_CountSlaves(list), 0);
    EXPECT_EQ(Drovik_Slave_CountMasters(master), 0);
    EXPECT_EQ(Drovik_Slave_DeInit(master), 0);

    // DoJob takes the list even when it refuses the job.
    Drovik_Parameter_AddLong(list, 1);
    EXPECT_EQ(Drovik_Master_DoJob(master, "Job", 0, list, &recordCallback, 2, 0, 0, 0, 0, 0, 0, 1),
              0);
    EXPECT_NE(std::string(Drovik_Master_GetLastError(master)).find("slave"), std::string::npos);
    EXPECT_EQ(Drovik_Parameter_Count(list), 0);
    EXPECT_EQ(Drovik_Parameter_AddLong(list, 1), 0);

    EXPECT_EQ(Drovik_Master_DoJob(master, "Job", 12345, 0, &recordCallback, 2, 0, 0, 0, 0, 0, 0, 1),
              0);
    EXPECT_EQ(Drovik_Master_DoJob(master, "", 12345, 0, &recordCallback, 2, 0, 0, 0, 0, 0, 0, 1),
              0);
    EXPECT_EQ(Drovik_Master_DoJob(master, std::string(256, 'x').c_str(), 12345, 0, &recordCallback,
                                  2, 0, 0, 0, 0, 0, 0, 1),
              0);
    EXPECT_EQ(Drovik_Master_RemoveSlave(master, 12345), 0);
    EXPECT_EQ(Drovik_Master_CountSlaveJobs(master, 12345), -1);
    EXPECT_EQ(Drovik_Master_GetSlaveIP(master, 12345), nullptr);
    EXPECT_EQ(Drovik_Master_SetStreamOptions(master, 5, 100), 0);
    EXPECT_EQ(Drovik_Master_SetStreamOptions(master, 100, 50), 0);
    EXPECT_EQ(Drovik_Master_SetStreamOptions(master, 10, 10), 1);

    EXPECT_EQ(Drovik_Master_DeInit(master), 1);
    EXPECT_EQ(Drovik_Master_DeInit(master), 0);
    EXPECT_EQ(Drovik_Master_DoJob(master, "Job", 1, 0, &recordCallback, 2, 0, 0, 0, 0, 0, 0, 1), 0);
    EXPECT_NE(Drovik_Master_GetLastError(master), nullptr);
    EXPECT_EQ(Drovik_Master_SetCallback(master, &recordCallback, 0), 0);
}

TEST(Handles, SlaveArgumentsAreChecked) {
    int32_t port = 0;
    intptr_t slave = initSlave("127.0.0.1", 0, nullptr, 2, &port);
    ASSERT_NE(slave, 0);
    EXPECT_GT(port, 0);
    // A function, not a lambda: on 32-bit Windows a handler is __stdcall, which no lambda becomes.
    struct Job {
        static int32_t DROVIK_CALL run(intptr_t, intptr_t, intptr_t, intptr_t, intptr_t) {
            return 1;
        }
    };
    const Drovik_JobHandler handler = &Job::run;
    EXPECT_EQ(Drovik_Slave_AddJob(slave, "Job", handler, "lsx", 0), 0);
    EXPECT_EQ(Drovik_Slave_AddJob(slave, "", handler, "", 0), 0);
    EXPECT_EQ(Drovik_Slave_AddJob(slave, "Job", nullptr, "", 0), 0);
    EXPECT_NE(Drovik_Slave_GetLastError(slave), nullptr);
    EXPECT_EQ(Drovik_Slave_AddJob(slave, "Job", handler, nullptr, 0), 1);
    EXPECT_EQ(Drovik_Slave_AddJob(slave, "Job", handler, "mlifdqs", 0), 1);
    EXPECT_EQ(Drovik_Slave_CountJobs(slave), 1);
    EXPECT_EQ(Drovik_Slave_KickMaster(slave, 12345), 0);
    EXPECT_EQ(Drovik_Slave_CountMasterJobs(slave, 12345), -1);
    EXPECT_EQ(Drovik_Slave_GetMasterIP(slave, 12345), nullptr);
    EXPECT_EQ(Drovik_Slave_SetMasterJobLimit(slave, 0, 0), 0);

    // The port is taken now: a second slave on it is refused with a text.
    EXPECT_EQ(initSlave("127.0.0.1", port, nullptr, 2, nullptr), 0);
    EXPECT_NE(std::string(Drovik_Slave_GetLastError(0)).find("Cannot listen"), std::string::npos);
    EXPECT_EQ(initSlave("no.such.host.invalid", 0, nullptr, 2, nullptr), 0);
    EXPECT_EQ(initSlave("127.0.0.1", 70000, nullptr, 2, nullptr), 0);

    EXPECT_EQ(Drovik_Slave_DeInit(slave), 1);
    EXPECT_EQ(Drovik_Slave_DeInit(slave), 0);
    EXPECT_EQ(Drovik_Slave_CountJobs(slave), 0);
    EXPECT_EQ(Drovik_Return_Long(12345, 1), 0);
    EXPECT_EQ(Drovik_Slave_Job_SendMessage(12345, "x", 1), 0);
}

TEST(Handles, EveryKindComesFromOneSequence) {
    // Created interleaved, so that a kind with a counter of its own would repeat another's numbers.
    std::vector<intptr_t> masters, slaves, caches;
    for (int i = 0; i < 3; ++i) {
        caches.push_back(Drovik_Cache_New(0, 0, 0));
        masters.push_back(Drovik_Master_Init(nullptr));
        slaves.push_back(initSlave("127.0.0.1", 0, nullptr, 1, nullptr));
        caches.push_back(Drovik_Cache_New(0, 0, 0));
    }
    std::set<intptr_t> seen;
    for (const auto *kind : {&masters, &slaves, &caches})
        for (intptr_t h : *kind) {
            EXPECT_NE(h, 0);
            EXPECT_TRUE(seen.insert(h).second) << "handle " << h << " given out twice";
        }
    // A cache handle names no master, and a master handle no cache.
    EXPECT_EQ(Drovik_Master_CountSlaves(caches[0]), 0);
    EXPECT_EQ(Drovik_Cache_GetSize(masters[0]), 0);
    EXPECT_EQ(Drovik_Cache_Free(masters[0]), 0);

    for (intptr_t h : masters)
        EXPECT_EQ(Drovik_Master_DeInit(h), 1);
    for (intptr_t h : slaves)
        EXPECT_EQ(Drovik_Slave_DeInit(h), 1);
    for (intptr_t h : caches)
        EXPECT_EQ(Drovik_Cache_Free(h), 1);
}

TEST(Version, MatchesTheHeader) {
    EXPECT_EQ(Drovik_GetVersion(), DROVIK_VERSION);
}

}  // namespace
}  // namespace drovik_test
