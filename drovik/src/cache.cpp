// The cache family: CacheStore's logic and the exported Drovik_Cache_ entry points, which look
// every handle up in a locked table and keep all C++ exceptions inside the library.
#include "cache.h"

#include <algorithm>
#include <limits>
#include <memory>
#include <mutex>
#include <utility>

#include "drovik.h"

namespace drovik {

bool CacheStore::setBounds(int64_t maxBytes, int64_t maxEntries) {
    if (maxBytes < 0 || maxEntries < 0) {
        return false;
    }
    if (maxBytes > 0) {
        maxBytes_ = maxBytes;
    }
    if (maxEntries > 0) {
        maxEntries_ = maxEntries;
    }
    enforceBounds();
    return true;
}

bool CacheStore::add(const std::string &name, std::span<const unsigned char> data,
                     int64_t lifetimeSeconds, intptr_t xtra) {
    const auto size = static_cast<int64_t>(data.size());
    if (name.empty() || size > maxBytes_ || lifetimeSeconds < 0) {
        return false;
    }
    // Everything that may throw happens before any existing entry is touched.
    const auto now = Clock::now();
    Entry entry{name, std::vector<unsigned char>(data.begin(), data.end()), now, std::nullopt,
                xtra};
    if (lifetimeSeconds > 0) {
        entry.expires = now + std::chrono::seconds(lifetimeSeconds);
    }
    const auto inserted = entries_.emplace_hint(entries_.end(), nextSequence_, std::move(entry));
    auto named = byName_.find(name);
    if (named == byName_.end()) {
        try {
            byName_.emplace(name, inserted);
        } catch (...) {
            entries_.erase(inserted);
            throw;
        }
    } else {
        // The replaced entry goes; the new one is the newest, so it is evicted last.
        bytes_ -= static_cast<int64_t>(named->second->second.data.size());
        entries_.erase(named->second);
        named->second = inserted;
    }
    ++nextSequence_;
    bytes_ += size;
    enforceBounds();
    return true;
}

bool CacheStore::remove(const std::string &name) {
    const auto named = byName_.find(name);
    if (named == byName_.end()) {
        return false;
    }
    const bool live = !named->second->second.expiredAt(Clock::now());
    erase(named->second);
    return live;
}

bool CacheStore::select(const std::string &name) {
    current_ = 0;
    const auto named = byName_.find(name);
    if (named == byName_.end()) {
        return false;
    }
    if (named->second->second.expiredAt(Clock::now())) {
        erase(named->second);
        return false;
    }
    current_ = named->second->first;
    return true;
}

int64_t CacheStore::removeExpired() {
    const auto now = Clock::now();
    int64_t removed = 0;
    for (auto it = entries_.begin(); it != entries_.end();) {
        const auto next = std::next(it);
        if (it->second.expiredAt(now)) {
            erase(it);
            ++removed;
        }
        it = next;
    }
    return removed;
}

int64_t CacheStore::clear() {
    const auto removed = count();
    entries_.clear();
    byName_.clear();
    bytes_ = 0;
    current_ = 0;
    return removed;
}

int64_t CacheStore::startWalk() {
    removeExpired();
    current_ = 0;
    walkLast_ = 0;
    walkEnd_ = entries_.empty() ? 0 : entries_.rbegin()->first;
    return count();
}

bool CacheStore::nextInWalk() {
    current_ = 0;
    const auto now = Clock::now();
    // Entries removed since the walk began are simply not found; entries added or replaced since
    // have a sequence number above walkEnd_ and are left out.
    for (auto it = entries_.upper_bound(walkLast_);
         it != entries_.end() && it->first <= walkEnd_;) {
        walkLast_ = it->first;
        if (!it->second.expiredAt(now)) {
            current_ = it->first;
            return true;
        }
        const auto next = std::next(it);
        erase(it);
        it = next;
    }
    walkLast_ = walkEnd_;
    return false;
}

const CacheStore::Entry *CacheStore::current() const {
    if (current_ == 0) {
        return nullptr;
    }
    const auto it = entries_.find(current_);
    return it == entries_.end() ? nullptr : &it->second;
}

void CacheStore::erase(Order::iterator it) {
    bytes_ -= static_cast<int64_t>(it->second.data.size());
    byName_.erase(it->second.name);
    entries_.erase(it);
}

bool CacheStore::withinBounds() const {
    return bytes_ <= maxBytes_ && count() <= maxEntries_;
}

void CacheStore::enforceBounds() {
    if (withinBounds()) {
        return;
    }
    // Expired entries are dead weight: drop them before evicting anything still in use.
    removeExpired();
    while (!withinBounds() && !entries_.empty()) {
        erase(entries_.begin());
    }
}

}  // namespace drovik

namespace {

struct Cache {
    Cache(int64_t maxBytes, int64_t maxEntries) : store(maxBytes, maxEntries) {}
    std::mutex mutex;
    drovik::CacheStore store;
};

// Handles are never reused, so a freed handle stays unknown instead of reaching a newer cache.
class CacheTable {
public:
    intptr_t insert(std::shared_ptr<Cache> cache) {
        std::lock_guard lock(mutex_);
        const intptr_t handle = next_++;
        caches_.emplace(handle, std::move(cache));
        return handle;
    }
    std::shared_ptr<Cache> find(intptr_t handle) {
        std::lock_guard lock(mutex_);
        const auto it = caches_.find(handle);
        return it == caches_.end() ? nullptr : it->second;
    }
    // Hands the cache back so that its entries are released outside the table's lock.
    std::shared_ptr<Cache> take(intptr_t handle) {
        std::lock_guard lock(mutex_);
        const auto it = caches_.find(handle);
        if (it == caches_.end()) {
            return nullptr;
        }
        auto cache = std::move(it->second);
        caches_.erase(it);
        return cache;
    }

private:
    std::mutex mutex_;
    std::unordered_map<intptr_t, std::shared_ptr<Cache>> caches_;
    intptr_t next_ = 1;
};

CacheTable &cacheTable() {
    static CacheTable table;
    return table;
}

// Runs body on the locked cache of handle; onFailure for an unknown handle or any exception.
template <typename Result, typename Body>
Result withCache(intptr_t handle, Result onFailure, Body &&body) noexcept {
    try {
        const auto cache = cacheTable().find(handle);
        if (!cache) {
            return onFailure;
        }
        std::lock_guard lock(cache->mutex);
        return body(cache->store);
    } catch (...) {
        return onFailure;
    }
}

int32_t clampToInt32(int64_t value) {
    return static_cast<int32_t>(std::min<int64_t>(value, std::numeric_limits<int32_t>::max()));
}

}  // namespace

extern "C" {

DROVIK_API intptr_t DROVIK_CALL Drovik_Cache_New(int32_t maxBytes, int32_t maxEntries,
                                                 int32_t /*reserved*/) {
    if (maxBytes < 0 || maxEntries < 0) {
        return 0;
    }
    try {
        return cacheTable().insert(std::make_shared<Cache>(
            maxBytes > 0 ? maxBytes : drovik::CacheStore::kDefaultMaxBytes,
            maxEntries > 0 ? maxEntries : drovik::CacheStore::kDefaultMaxEntries));
    } catch (...) {
        return 0;
    }
}

DROVIK_API int32_t DROVIK_CALL Drovik_Cache_Config(intptr_t cache, int32_t maxBytes,
                                                   int32_t maxEntries) {
    return withCache(cache, 0, [&](drovik::CacheStore &store) {
        return store.setBounds(maxBytes, maxEntries) ? 1 : 0;
    });
}

DROVIK_API int32_t DROVIK_CALL Drovik_Cache_CleanUp(intptr_t cache) {
    return withCache(cache, 0,
                     [](drovik::CacheStore &store) { return clampToInt32(store.removeExpired()); });
}

DROVIK_API int32_t DROVIK_CALL Drovik_Cache_Flush(intptr_t cache) {
    return withCache(cache, 0,
                     [](drovik::CacheStore &store) { return clampToInt32(store.clear()); });
}

DROVIK_API int32_t DROVIK_CALL Drovik_Cache_Free(intptr_t cache) {
    try {
        // A call still running on another thread holds its own reference, so the entries are
        // released when the last of them ends.
        return cacheTable().take(cache) ? 1 : 0;
    } catch (...) {
        return 0;
    }
}

DROVIK_API int32_t DROVIK_CALL Drovik_Cache_GetSize(intptr_t cache) {
    return withCache(cache, 0,
                     [](drovik::CacheStore &store) { return clampToInt32(store.bytes()); });
}

DROVIK_API int32_t DROVIK_CALL Drovik_Cache_isCached(intptr_t cache, const char *name) {
    if (name == nullptr) {
        return 0;
    }
    return withCache(cache, 0,
                     [&](drovik::CacheStore &store) { return store.select(name) ? 1 : 0; });
}

DROVIK_API int32_t DROVIK_CALL Drovik_Cache_AddEntry(intptr_t cache, const char *name,
                                                     const void *data, int32_t size,
                                                     int32_t lifetimeSeconds, intptr_t xtraData) {
    if (name == nullptr || size < 0 || (data == nullptr && size > 0)) {
        return 0;
    }
    return withCache(cache, 0, [&](drovik::CacheStore &store) {
        const std::span bytes(static_cast<const unsigned char *>(data), static_cast<size_t>(size));
        return store.add(name, bytes, lifetimeSeconds, xtraData) ? 1 : 0;
    });
}

DROVIK_API int32_t DROVIK_CALL Drovik_Cache_DeleteEntry(intptr_t cache, const char *name) {
    if (name == nullptr) {
        return 0;
    }
    return withCache(cache, 0,
                     [&](drovik::CacheStore &store) { return store.remove(name) ? 1 : 0; });
}

DROVIK_API int32_t DROVIK_CALL Drovik_Cache_Examine(intptr_t cache) {
    return withCache(cache, 0,
                     [](drovik::CacheStore &store) { return clampToInt32(store.startWalk()); });
}

DROVIK_API int32_t DROVIK_CALL Drovik_Cache_NextEntry(intptr_t cache) {
    return withCache(cache, 0,
                     [](drovik::CacheStore &store) { return store.nextInWalk() ? 1 : 0; });
}

DROVIK_API const void *DROVIK_CALL Drovik_Cache_GetMem(intptr_t cache) {
    return withCache(
        cache, static_cast<const void *>(nullptr), [](drovik::CacheStore &store) -> const void * {
            const auto *entry = store.current();
            return entry == nullptr || entry->data.empty() ? nullptr : entry->data.data();
        });
}

DROVIK_API int32_t DROVIK_CALL Drovik_Cache_GetMemSize(intptr_t cache) {
    return withCache(cache, 0, [](drovik::CacheStore &store) {
        const auto *entry = store.current();
        return entry == nullptr ? 0 : static_cast<int32_t>(entry->data.size());
    });
}

DROVIK_API int32_t DROVIK_CALL Drovik_Cache_GetAge(intptr_t cache) {
    return withCache(cache, 0, [](drovik::CacheStore &store) {
        const auto *entry = store.current();
        if (entry == nullptr) {
            return 0;
        }
        const auto age = drovik::CacheStore::Clock::now() - entry->added;
        return clampToInt32(std::chrono::duration_cast<std::chrono::seconds>(age).count());
    });
}

DROVIK_API intptr_t DROVIK_CALL Drovik_Cache_GetXtraData(intptr_t cache) {
    return withCache(cache, intptr_t{0}, [](drovik::CacheStore &store) {
        const auto *entry = store.current();
        return entry == nullptr ? intptr_t{0} : entry->xtra;
    });
}

DROVIK_API const char *DROVIK_CALL Drovik_Cache_GetName(intptr_t cache) {
    // The text stays valid on this thread until its next GetName call.
    thread_local std::string name;
    return withCache(cache, static_cast<const char *>(nullptr),
                     [](drovik::CacheStore &store) -> const char * {
                         const auto *entry = store.current();
                         if (entry == nullptr) {
                             return nullptr;
                         }
                         name = entry->name;
                         return name.c_str();
                     });
}

}  // extern "C"
