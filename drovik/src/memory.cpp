#include "memory.h"

#include <array>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <mutex>
#include <unordered_set>

namespace drovik {
namespace {

constexpr uint64_t kLiveMagic = 0x4B4C4256524F4421ull;  // "!DORVBLK"

// 16 bytes keep the caller's bytes aligned for any scalar type.
struct alignas(16) Header {
    uint64_t magic;
    int64_t size;
};

// Live blocks, split by address so that threads freeing different blocks rarely meet.
struct Registry {
    static constexpr size_t kShards = 16;
    struct Shard {
        std::mutex lock;
        std::unordered_set<const void *> blocks;
    };
    std::array<Shard, kShards> shards;

    Shard &shardOf(const void *p) { return shards[(std::hash<const void *>{}(p) >> 4) % kShards]; }
};

Registry &registry() {
    // Never destroyed: blocks may be released by other static destructors at exit.
    static Registry *r = new Registry;
    return *r;
}

Header *headerOf(const void *block) {
    return reinterpret_cast<Header *>(const_cast<char *>(static_cast<const char *>(block)) -
                                      sizeof(Header));
}

}  // namespace

void *allocateBlock(int64_t size) {
    if (size < 0 || size > kMaxBlockSize)
        return nullptr;
    auto *h = static_cast<Header *>(std::calloc(1, sizeof(Header) + static_cast<size_t>(size)));
    if (h == nullptr)
        return nullptr;
    h->magic = kLiveMagic;
    h->size = size;
    void *block = h + 1;
    auto &shard = registry().shardOf(block);
    try {
        std::lock_guard guard(shard.lock);
        shard.blocks.insert(block);
    } catch (...) {
        std::free(h);
        return nullptr;
    }
    return block;
}

void *copyToBlock(std::span<const uint8_t> bytes) {
    void *block = allocateBlock(static_cast<int64_t>(bytes.size()));
    if (block != nullptr && !bytes.empty())
        std::memcpy(block, bytes.data(), bytes.size());
    return block;
}

std::optional<int64_t> blockSize(const void *block) {
    if (block == nullptr)
        return std::nullopt;
    auto &shard = registry().shardOf(block);
    std::lock_guard guard(shard.lock);
    if (shard.blocks.count(block) == 0)
        return std::nullopt;
    return headerOf(block)->size;
}

bool freeBlock(void *block) {
    if (block == nullptr)
        return false;
    auto &shard = registry().shardOf(block);
    {
        std::lock_guard guard(shard.lock);
        if (shard.blocks.erase(block) == 0)
            return false;
    }
    Header *h = headerOf(block);
    h->magic = 0;
    std::free(h);
    return true;
}

}  // namespace drovik
