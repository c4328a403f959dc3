// Exported entry points: the cache. Every handle is looked up in the process-wide handle table, and
// each call runs under the cache's mutex.
#include <algorithm>
#include <limits>
#include <memory>
#include <string>

#include "api_support.h"
#include "cache.h"
#include "drovik.h"
#include "errors.h"
#include "handle_table.h"

using namespace drovik;

namespace {

HandleTable<Cache> &caches() {
    return tableOf<Cache>();
}

// Runs body on the locked store of handle; onFailure for an unknown handle or any exception.
template <class R, class F>
R withCache(intptr_t handle, R onFailure, F &&body) noexcept {
    return guarded<R>(onFailure, [&]() -> R {
        auto cache = caches().find(handle);
        if (!cache)
            return onFailure;
        std::lock_guard guard(cache->mutex);
        return body(cache->store);
    });
}

int32_t clampToInt32(int64_t value) {
    return static_cast<int32_t>(std::min<int64_t>(value, std::numeric_limits<int32_t>::max()));
}

}  // namespace

extern "C" {

DROVIK_API intptr_t DROVIK_CALL Drovik_Cache_New(int32_t maxBytes, int32_t maxEntries,
                                                 int32_t /*reserved*/) {
    return guarded<intptr_t>(0, [&]() -> intptr_t {
        if (maxBytes < 0 || maxEntries < 0)
            return 0;
        return caches().add(
            std::make_shared<Cache>(maxBytes > 0 ? maxBytes : CacheStore::kDefaultMaxBytes,
                                    maxEntries > 0 ? maxEntries : CacheStore::kDefaultMaxEntries));
    });
}

DROVIK_API int32_t DROVIK_CALL Drovik_Cache_Config(intptr_t cache, int32_t maxBytes,
                                                   int32_t maxEntries) {
    return withCache(
        cache, 0, [&](CacheStore &store) { return store.setBounds(maxBytes, maxEntries) ? 1 : 0; });
}

DROVIK_API int32_t DROVIK_CALL Drovik_Cache_CleanUp(intptr_t cache) {
    return withCache(cache, 0,
                     [](CacheStore &store) { return clampToInt32(store.removeExpired()); });
}

DROVIK_API int32_t DROVIK_CALL Drovik_Cache_Flush(intptr_t cache) {
    return withCache(cache, 0, [](CacheStore &store) { return clampToInt32(store.clear()); });
}

DROVIK_API int32_t DROVIK_CALL Drovik_Cache_Free(intptr_t cache) {
    // A call still running on another thread holds its own reference, so the entries are released
    // when the last of them ends, and outside the table's lock.
    return guarded<int32_t>(0, [&] { return caches().take(cache) ? 1 : 0; });
}

DROVIK_API int32_t DROVIK_CALL Drovik_Cache_GetSize(intptr_t cache) {
    return withCache(cache, 0, [](CacheStore &store) { return clampToInt32(store.bytes()); });
}

DROVIK_API int32_t DROVIK_CALL Drovik_Cache_isCached(intptr_t cache, const char *name) {
    if (name == nullptr)
        return 0;
    return withCache(cache, 0, [&](CacheStore &store) { return store.select(name) ? 1 : 0; });
}

DROVIK_API int32_t DROVIK_CALL Drovik_Cache_AddEntry(intptr_t cache, const char *name,
                                                     const void *data, int32_t size,
                                                     int32_t lifetimeSeconds, intptr_t xtraData) {
    if (name == nullptr || size < 0 || (data == nullptr && size > 0))
        return 0;
    return withCache(cache, 0, [&](CacheStore &store) {
        const std::span bytes(static_cast<const unsigned char *>(data), static_cast<size_t>(size));
        return store.add(name, bytes, lifetimeSeconds, xtraData) ? 1 : 0;
    });
}

DROVIK_API int32_t DROVIK_CALL Drovik_Cache_DeleteEntry(intptr_t cache, const char *name) {
    if (name == nullptr)
        return 0;
    return withCache(cache, 0, [&](CacheStore &store) { return store.remove(name) ? 1 : 0; });
}

DROVIK_API int32_t DROVIK_CALL Drovik_Cache_Examine(intptr_t cache) {
    return withCache(cache, 0, [](CacheStore &store) { return clampToInt32(store.startWalk()); });
}

DROVIK_API int32_t DROVIK_CALL Drovik_Cache_NextEntry(intptr_t cache) {
    return withCache(cache, 0, [](CacheStore &store) { return store.nextInWalk() ? 1 : 0; });
}

DROVIK_API const void *DROVIK_CALL Drovik_Cache_GetMem(intptr_t cache) {
    return withCache(
        cache, static_cast<const void *>(nullptr), [](CacheStore &store) -> const void * {
            const auto *entry = store.current();
            return entry == nullptr || entry->data.empty() ? nullptr : entry->data.data();
        });
}

DROVIK_API int32_t DROVIK_CALL Drovik_Cache_GetMemSize(intptr_t cache) {
    return withCache(cache, 0, [](CacheStore &store) {
        const auto *entry = store.current();
        return entry == nullptr ? 0 : static_cast<int32_t>(entry->data.size());
    });
}

DROVIK_API int32_t DROVIK_CALL Drovik_Cache_GetAge(intptr_t cache) {
    return withCache(cache, 0, [](CacheStore &store) {
        const auto *entry = store.current();
        if (entry == nullptr)
            return 0;
        const auto age = CacheStore::Clock::now() - entry->added;
        return clampToInt32(std::chrono::duration_cast<std::chrono::seconds>(age).count());
    });
}

DROVIK_API intptr_t DROVIK_CALL Drovik_Cache_GetXtraData(intptr_t cache) {
    return withCache(cache, intptr_t{0}, [](CacheStore &store) {
        const auto *entry = store.current();
        return entry == nullptr ? intptr_t{0} : entry->xtra;
    });
}

DROVIK_API const char *DROVIK_CALL Drovik_Cache_GetName(intptr_t cache) {
    return withCache(
        cache, static_cast<const char *>(nullptr), [](CacheStore &store) -> const char * {
            const auto *entry = store.current();
            return entry == nullptr ? nullptr : keepForThread(TextSlot::CacheName, entry->name);
        });
}

}  // extern "C"
