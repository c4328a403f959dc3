// CacheStore: the entries of one cache, their lifetimes, the bounds and eviction.
#include "cache.h"

#include <utility>

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
