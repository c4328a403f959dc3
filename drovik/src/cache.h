// The store behind the Drovik_Cache_ entry points: named copies of byte blocks with optional
// lifetimes, bounded in bytes and in entries, evicting the oldest first.
//
// CacheStore itself does no locking; the entry points hold the cache's mutex around every call, so
// each call is atomic and the "current entry" stays coherent between isCached and the getters.
#ifndef DROVIK_SRC_CACHE_H
#define DROVIK_SRC_CACHE_H

#include <chrono>
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <unordered_map>
#include <vector>

namespace drovik {

class CacheStore {
public:
    using Clock = std::chrono::steady_clock;

    static constexpr int64_t kDefaultMaxBytes = 16 * 1024 * 1024;
    static constexpr int64_t kDefaultMaxEntries = 4096;

    struct Entry {
        std::string name;
        std::vector<unsigned char> data;
        Clock::time_point added;
        std::optional<Clock::time_point> expires;  // none: the entry never expires
        intptr_t xtra = 0;

        bool expiredAt(Clock::time_point now) const { return expires && now >= *expires; }
    };

    CacheStore(int64_t maxBytes, int64_t maxEntries)
        : maxBytes_(maxBytes), maxEntries_(maxEntries) {}

    // New bounds (0 keeps a bound); what exceeds them is evicted at once. False for a bound below
    // 0.
    bool setBounds(int64_t maxBytes, int64_t maxEntries);

    // Stores a copy of data under name, replacing an entry of that name; lifetimeSeconds 0 means
    // no expiry. False, with nothing changed, when the entry cannot be stored. Throws only
    // bad_alloc, and then the store is as it was.
    bool add(const std::string &name, std::span<const unsigned char> data, int64_t lifetimeSeconds,
             intptr_t xtra);
    // Removes the entry; true when it existed and had not expired.
    bool remove(const std::string &name);
    // Makes the unexpired entry of that name current; otherwise there is no current entry.
    bool select(const std::string &name);

    // Removes the expired entries; returns how many.
    int64_t removeExpired();
    // Removes every entry; returns how many.
    int64_t clear();

    // Starts a walk over the entries present now, oldest first, after dropping the expired ones;
    // returns their number. nextInWalk makes the next surviving one current, false at the end.
    int64_t startWalk();
    bool nextInWalk();

    // The current entry, or null when there is none (never selected, removed, evicted, replaced).
    const Entry *current() const;

    int64_t bytes() const { return bytes_; }
    int64_t count() const { return static_cast<int64_t>(entries_.size()); }

private:
    // Keyed by an ever-growing sequence number, so begin() is the oldest entry and a sequence
    // number held by the walk or the current-entry slot never refers to a different entry.
    using Order = std::map<uint64_t, Entry>;

    void erase(Order::iterator it);
    // Evicts expired entries first, then the oldest, until both bounds hold.
    void enforceBounds();
    bool withinBounds() const;

    Order entries_;
    std::unordered_map<std::string, Order::iterator> byName_;
    int64_t bytes_ = 0;
    int64_t maxBytes_;
    int64_t maxEntries_;
    uint64_t nextSequence_ = 1;  // 0 means "none" below
    uint64_t current_ = 0;
    uint64_t walkLast_ = 0;  // the entry the walk visited last
    uint64_t walkEnd_ = 0;   // the newest entry the walk will visit
};

// One cache as its handle names it: the store with the mutex that every entry point holds around
// its call.
struct Cache {
    Cache(int64_t maxBytes, int64_t maxEntries) : store(maxBytes, maxEntries) {}
    std::mutex mutex;
    CacheStore store;
};

}  // namespace drovik

#endif  // DROVIK_SRC_CACHE_H
