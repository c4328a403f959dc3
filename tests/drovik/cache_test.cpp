// The cache family through the shared library's C interface.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "drovik.h"

namespace {

// Owns a cache for one test.
class ScopedCache {
public:
    explicit ScopedCache(int32_t maxBytes = 0, int32_t maxEntries = 0)
        : handle_(Drovik_Cache_New(maxBytes, maxEntries, 0)) {}
    ~ScopedCache() { Drovik_Cache_Free(handle_); }
    ScopedCache(const ScopedCache &) = delete;
    ScopedCache &operator=(const ScopedCache &) = delete;
    intptr_t get() const { return handle_; }

private:
    intptr_t handle_;
};

int32_t add(intptr_t cache, const std::string &name, const std::string &bytes,
            int32_t lifetimeSeconds = 0, intptr_t xtra = 0) {
    return Drovik_Cache_AddEntry(cache, name.c_str(), bytes.data(),
                                 static_cast<int32_t>(bytes.size()), lifetimeSeconds, xtra);
}

// The entry's bytes the way the client reads them: isCached, then GetMem and GetMemSize.
std::optional<std::string> lookUp(intptr_t cache, const std::string &name) {
    if (Drovik_Cache_isCached(cache, name.c_str()) == 0) {
        return std::nullopt;
    }
    const auto *data = static_cast<const char *>(Drovik_Cache_GetMem(cache));
    const int32_t size = Drovik_Cache_GetMemSize(cache);
    return size == 0 ? std::string() : std::string(data, static_cast<size_t>(size));
}

// The names of a full walk, oldest first.
std::vector<std::string> walk(intptr_t cache) {
    std::vector<std::string> names;
    Drovik_Cache_Examine(cache);
    while (Drovik_Cache_NextEntry(cache) != 0) {
        names.emplace_back(Drovik_Cache_GetName(cache));
    }
    return names;
}

void expectNoCurrentEntry(intptr_t cache) {
    EXPECT_EQ(Drovik_Cache_GetMem(cache), nullptr);
    EXPECT_EQ(Drovik_Cache_GetMemSize(cache), 0);
    EXPECT_EQ(Drovik_Cache_GetAge(cache), 0);
    EXPECT_EQ(Drovik_Cache_GetXtraData(cache), 0);
    EXPECT_EQ(Drovik_Cache_GetName(cache), nullptr);
}

using Names = std::vector<std::string>;

TEST(Cache, StoresACopyAndSelectsItAsCurrent) {
    ScopedCache cache;
    ASSERT_NE(cache.get(), 0);
    std::string block = "profile text";
    block.push_back('\0');
    ASSERT_EQ(add(cache.get(), "Profile_anna", block, 0, 77), 1);
    std::fill(block.begin(), block.end(), 'x');  // the caller reuses its block at once

    ASSERT_EQ(Drovik_Cache_isCached(cache.get(), "Profile_anna"), 1);
    EXPECT_STREQ(static_cast<const char *>(Drovik_Cache_GetMem(cache.get())), "profile text");
    EXPECT_EQ(Drovik_Cache_GetMemSize(cache.get()), 13);
    EXPECT_EQ(Drovik_Cache_GetXtraData(cache.get()), 77);
    EXPECT_STREQ(Drovik_Cache_GetName(cache.get()), "Profile_anna");
    EXPECT_EQ(Drovik_Cache_GetAge(cache.get()), 0);
    EXPECT_EQ(Drovik_Cache_GetSize(cache.get()), 13);

    // A miss leaves no current entry behind.
    EXPECT_EQ(Drovik_Cache_isCached(cache.get(), "Profile_bert"), 0);
    expectNoCurrentEntry(cache.get());
}

TEST(Cache, ExpiredEntriesCountAsAbsentAndCleanUpRemovesThem) {
    ScopedCache cache;
    ASSERT_EQ(add(cache.get(), "short1", "aaaa", 1), 1);
    ASSERT_EQ(add(cache.get(), "short2", "bbbb", 1), 1);
    ASSERT_EQ(add(cache.get(), "short3", "cccc", 1), 1);
    ASSERT_EQ(add(cache.get(), "forever", "dddd", 0), 1);
    EXPECT_EQ(lookUp(cache.get(), "short1"), "aaaa");
    EXPECT_EQ(Drovik_Cache_CleanUp(cache.get()), 0);

    std::this_thread::sleep_for(std::chrono::milliseconds(1200));
    EXPECT_EQ(lookUp(cache.get(), "short1"), std::nullopt);
    expectNoCurrentEntry(cache.get());
    // Deleting an expired entry removes it but reports it absent, as isCached would.
    EXPECT_EQ(Drovik_Cache_DeleteEntry(cache.get(), "short2"), 0);
    EXPECT_EQ(lookUp(cache.get(), "forever"), "dddd");
    EXPECT_GE(Drovik_Cache_GetAge(cache.get()), 1);
    EXPECT_EQ(Drovik_Cache_CleanUp(cache.get()), 1);  // short3: the others were dropped on access
    EXPECT_EQ(Drovik_Cache_GetSize(cache.get()), 4);
    EXPECT_EQ(walk(cache.get()), Names{"forever"});
}

TEST(Cache, DeletionAndReplacement) {
    ScopedCache cache;
    ASSERT_EQ(add(cache.get(), "a", "first"), 1);
    ASSERT_EQ(add(cache.get(), "b", "bee"), 1);
    ASSERT_EQ(Drovik_Cache_isCached(cache.get(), "a"), 1);

    // Replacing the current entry drops the selection rather than leaving a stale address.
    ASSERT_EQ(add(cache.get(), "a", "second!", 0, 5), 1);
    expectNoCurrentEntry(cache.get());
    EXPECT_EQ(lookUp(cache.get(), "a"), "second!");
    EXPECT_EQ(Drovik_Cache_GetXtraData(cache.get()), 5);
    EXPECT_EQ(Drovik_Cache_GetSize(cache.get()), 10);
    EXPECT_EQ(walk(cache.get()), (Names{"b", "a"}));  // the replacement is the newest

    ASSERT_EQ(Drovik_Cache_isCached(cache.get(), "b"), 1);
    EXPECT_EQ(Drovik_Cache_DeleteEntry(cache.get(), "b"), 1);
    expectNoCurrentEntry(cache.get());
    EXPECT_EQ(Drovik_Cache_DeleteEntry(cache.get(), "b"), 0);
    EXPECT_EQ(lookUp(cache.get(), "b"), std::nullopt);
    EXPECT_EQ(Drovik_Cache_GetSize(cache.get()), 7);

    EXPECT_EQ(Drovik_Cache_Flush(cache.get()), 1);
    EXPECT_EQ(Drovik_Cache_GetSize(cache.get()), 0);
    EXPECT_EQ(Drovik_Cache_Examine(cache.get()), 0);
}

TEST(Cache, MemoryBoundEvictsTheOldest) {
    ScopedCache cache(100, 0);
    const std::string forty(40, 'x');
    ASSERT_EQ(add(cache.get(), "a", forty), 1);
    ASSERT_EQ(add(cache.get(), "b", forty), 1);
    ASSERT_EQ(add(cache.get(), "a", forty), 1);  // a becomes the newest
    ASSERT_EQ(Drovik_Cache_isCached(cache.get(), "b"), 1);
    ASSERT_EQ(add(cache.get(), "c", forty), 1);
    expectNoCurrentEntry(cache.get());  // b, the current entry, was evicted
    EXPECT_EQ(walk(cache.get()), (Names{"a", "c"}));
    EXPECT_EQ(Drovik_Cache_GetSize(cache.get()), 80);

    // An entry larger than the whole bound is refused and evicts nothing; one that fills it
    // exactly evicts everything else.
    EXPECT_EQ(add(cache.get(), "a", std::string(101, 'y')), 0);
    EXPECT_EQ(lookUp(cache.get(), "a"), forty);
    ASSERT_EQ(add(cache.get(), "big", std::string(100, 'z')), 1);
    EXPECT_EQ(walk(cache.get()), Names{"big"});
    EXPECT_EQ(Drovik_Cache_GetSize(cache.get()), 100);
}

TEST(Cache, EntryBoundAndConfigShrinking) {
    ScopedCache cache(0, 3);
    for (const char *name : {"a", "b", "c", "d"}) {
        ASSERT_EQ(add(cache.get(), name, "0123456789"), 1);
    }
    EXPECT_EQ(walk(cache.get()), (Names{"b", "c", "d"}));

    EXPECT_EQ(Drovik_Cache_Config(cache.get(), 0, 0), 1);  // keeps both bounds
    EXPECT_EQ(walk(cache.get()), (Names{"b", "c", "d"}));
    EXPECT_EQ(Drovik_Cache_Config(cache.get(), 25, 0), 1);
    EXPECT_EQ(walk(cache.get()), (Names{"c", "d"}));
    EXPECT_EQ(Drovik_Cache_Config(cache.get(), 0, 1), 1);
    EXPECT_EQ(walk(cache.get()), Names{"d"});
    EXPECT_EQ(Drovik_Cache_Config(cache.get(), -1, 0), 0);
    EXPECT_EQ(Drovik_Cache_Config(cache.get(), 0, -1), 0);
    EXPECT_EQ(walk(cache.get()), Names{"d"});

    // Growing again lets entries accumulate up to the new bounds.
    EXPECT_EQ(Drovik_Cache_Config(cache.get(), 1000, 2), 1);
    ASSERT_EQ(add(cache.get(), "e", "0123456789"), 1);
    EXPECT_EQ(walk(cache.get()), (Names{"d", "e"}));

    EXPECT_EQ(Drovik_Cache_New(-1, 0, 0), 0);
    EXPECT_EQ(Drovik_Cache_New(0, -1, 0), 0);
}

TEST(Cache, WalkVisitsOldestFirstAndSurvivesChanges) {
    ScopedCache cache;
    for (const char *name : {"one", "two", "three", "four"}) {
        ASSERT_EQ(add(cache.get(), name, name, 0, static_cast<intptr_t>(std::strlen(name))), 1);
    }
    EXPECT_EQ(Drovik_Cache_NextEntry(cache.get()), 0);  // no walk started

    ASSERT_EQ(Drovik_Cache_Examine(cache.get()), 4);
    ASSERT_EQ(Drovik_Cache_NextEntry(cache.get()), 1);
    EXPECT_STREQ(Drovik_Cache_GetName(cache.get()), "one");
    EXPECT_EQ(Drovik_Cache_GetXtraData(cache.get()), 3);
    EXPECT_EQ(Drovik_Cache_GetMemSize(cache.get()), 3);

    // Changes during the walk: a deleted entry is skipped, added and replaced ones are not
    // visited again.
    ASSERT_EQ(Drovik_Cache_DeleteEntry(cache.get(), "two"), 1);
    ASSERT_EQ(add(cache.get(), "five", "five"), 1);
    ASSERT_EQ(add(cache.get(), "four", "FOUR"), 1);
    ASSERT_EQ(Drovik_Cache_NextEntry(cache.get()), 1);
    EXPECT_STREQ(Drovik_Cache_GetName(cache.get()), "three");
    EXPECT_EQ(Drovik_Cache_NextEntry(cache.get()), 0);
    expectNoCurrentEntry(cache.get());
    EXPECT_EQ(Drovik_Cache_NextEntry(cache.get()), 0);

    EXPECT_EQ(walk(cache.get()), (Names{"one", "three", "five", "four"}));
}

TEST(Cache, UnknownFreedAndNullArgumentsAreHarmless) {
    intptr_t freed = Drovik_Cache_New(0, 0, 0);
    ASSERT_NE(freed, 0);
    ASSERT_EQ(add(freed, "a", "data"), 1);
    EXPECT_EQ(Drovik_Cache_Free(freed), 1);
    EXPECT_EQ(Drovik_Cache_Free(freed), 0);
    const intptr_t fresh = Drovik_Cache_New(0, 0, 0);
    EXPECT_NE(fresh, freed);  // a freed handle never names a newer cache

    for (intptr_t bad : {intptr_t{0}, freed, intptr_t{-1}, intptr_t{123456789}}) {
        SCOPED_TRACE(bad);
        EXPECT_EQ(Drovik_Cache_Config(bad, 10, 10), 0);
        EXPECT_EQ(Drovik_Cache_CleanUp(bad), 0);
        EXPECT_EQ(Drovik_Cache_Flush(bad), 0);
        EXPECT_EQ(Drovik_Cache_GetSize(bad), 0);
        EXPECT_EQ(add(bad, "a", "data"), 0);
        EXPECT_EQ(Drovik_Cache_isCached(bad, "a"), 0);
        EXPECT_EQ(Drovik_Cache_DeleteEntry(bad, "a"), 0);
        EXPECT_EQ(Drovik_Cache_Examine(bad), 0);
        EXPECT_EQ(Drovik_Cache_NextEntry(bad), 0);
        expectNoCurrentEntry(bad);
        EXPECT_EQ(Drovik_Cache_Free(bad), 0);
    }

    EXPECT_EQ(Drovik_Cache_AddEntry(fresh, nullptr, "x", 1, 0, 0), 0);
    EXPECT_EQ(Drovik_Cache_AddEntry(fresh, "", "x", 1, 0, 0), 0);
    EXPECT_EQ(Drovik_Cache_AddEntry(fresh, "a", nullptr, 1, 0, 0), 0);
    EXPECT_EQ(Drovik_Cache_AddEntry(fresh, "a", "x", -1, 0, 0), 0);
    EXPECT_EQ(Drovik_Cache_AddEntry(fresh, "a", "x", 1, -1, 0), 0);
    EXPECT_EQ(Drovik_Cache_isCached(fresh, nullptr), 0);
    EXPECT_EQ(Drovik_Cache_DeleteEntry(fresh, nullptr), 0);
    EXPECT_EQ(Drovik_Cache_GetSize(fresh), 0);
    EXPECT_EQ(Drovik_Cache_Free(fresh), 1);
}

TEST(Cache, EmptyEntriesAndEightBitNames) {
    ScopedCache cache;
    ASSERT_EQ(Drovik_Cache_AddEntry(cache.get(), "Profile_empty", nullptr, 0, 0, 9), 1);
    ASSERT_EQ(Drovik_Cache_isCached(cache.get(), "Profile_empty"), 1);
    EXPECT_EQ(Drovik_Cache_GetMem(cache.get()), nullptr);
    EXPECT_EQ(Drovik_Cache_GetMemSize(cache.get()), 0);
    EXPECT_EQ(Drovik_Cache_GetXtraData(cache.get()), 9);
    EXPECT_EQ(lookUp(cache.get(), "Profile_empty"), "");

    const std::string accented = "Avatar_J\xE9r\xF4me\x80\xFF";
    const std::string similar = "Avatar_J\xE9r\xF4me\x80\xFE";
    ASSERT_EQ(add(cache.get(), accented, "one"), 1);
    ASSERT_EQ(add(cache.get(), similar, "two"), 1);
    EXPECT_EQ(lookUp(cache.get(), accented), "one");
    EXPECT_EQ(Drovik_Cache_GetName(cache.get()), accented);
    EXPECT_EQ(lookUp(cache.get(), similar), "two");
    EXPECT_EQ(Drovik_Cache_DeleteEntry(cache.get(), accented.c_str()), 1);
    EXPECT_EQ(lookUp(cache.get(), similar), "two");
}

TEST(Cache, ConcurrentCallersLoseNothing) {
    ScopedCache cache;
    constexpr int kThreads = 4;
    constexpr int kEntries = 300;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&cache, t] {
            for (int i = 0; i < kEntries; ++i) {
                const std::string name = "t" + std::to_string(t) + "_" + std::to_string(i);
                add(cache.get(), name, name);
                Drovik_Cache_isCached(cache.get(), name.c_str());
                if (i % 2 == 1) {
                    Drovik_Cache_DeleteEntry(cache.get(), name.c_str());
                }
            }
        });
    }
    for (auto &thread : threads) {
        thread.join();
    }
    EXPECT_EQ(Drovik_Cache_Examine(cache.get()), kThreads * kEntries / 2);
    for (int t = 0; t < kThreads; ++t) {
        const std::string name = "t" + std::to_string(t) + "_0";
        EXPECT_EQ(lookUp(cache.get(), name), name);
    }

    // GetName's text belongs to the calling thread: another thread's call does not overwrite it.
    ASSERT_EQ(Drovik_Cache_isCached(cache.get(), "t0_0"), 1);
    const char *mine = Drovik_Cache_GetName(cache.get());
    std::thread([&cache] {
        Drovik_Cache_isCached(cache.get(), "t1_0");
        EXPECT_STREQ(Drovik_Cache_GetName(cache.get()), "t1_0");
    }).join();
    EXPECT_STREQ(mine, "t0_0");
}

}  // namespace
