#include "slave_admission.h"

#include "slave_limits.h"

namespace drovik {

Admission::Verdict Admission::admit(MasterSession *session, const std::string &key,
                                    const SlaveLimits &limits) {
    Verdict v;
    std::lock_guard guard(lock_);
    if (static_cast<int64_t>(records_.size()) >= limits.connections()) {
        v.refusal = "the slave has " + std::to_string(records_.size()) + " connections, its limit";
        return v;
    }
    auto use = addresses_.find(key);
    if (use != addresses_.end() && use->second.open >= limits.perAddress()) {
        v.refusal = std::to_string(use->second.open) + " connections from " + key +
                    " are open, the limit of one address";
        return v;
    }
    if (static_cast<int64_t>(untrusted_) >= limits.untrusted()) {
        v.evicted = evictionCandidateLocked();
        if (v.evicted == nullptr) {
            v.refusal = "too many connections are not trusted yet";
            return v;
        }
        releaseLocked(v.evicted);
    }
    Record &r = records_[session];
    r.key = key;
    r.order = nextOrder_++;
    AddressUse &u = addresses_[key];
    ++u.open;
    u.untrusted.emplace(r.order, session);
    ++untrusted_;
    v.admitted = true;
    return v;
}

MasterSession *Admission::evictionCandidateLocked() const {
    // The address with the most untrusted connections gives its oldest; among equals, the one
    // whose oldest is oldest. Only runs when the untrusted share is full, so a scan is cheap
    // enough.
    const AddressUse *pick = nullptr;
    for (const auto &[key, use] : addresses_) {
        if (use.untrusted.empty())
            continue;
        if (pick == nullptr || use.untrusted.size() > pick->untrusted.size() ||
            (use.untrusted.size() == pick->untrusted.size() &&
             use.untrusted.begin()->first < pick->untrusted.begin()->first))
            pick = &use;
    }
    return pick ? pick->untrusted.begin()->second : nullptr;
}

bool Admission::setTrusted(MasterSession *session, bool trusted) {
    std::lock_guard guard(lock_);
    auto it = records_.find(session);
    if (it == records_.end())
        return false;
    Record &r = it->second;
    if (r.trusted == trusted)
        return true;
    r.trusted = trusted;
    AddressUse &u = addresses_[r.key];
    if (trusted) {
        u.untrusted.erase(r.order);
        --untrusted_;
    } else {
        // Taken back: it counts as the newest untrusted connection, so it is evicted last.
        r.order = nextOrder_++;
        u.untrusted.emplace(r.order, session);
        ++untrusted_;
    }
    return true;
}

bool Admission::trusted(const MasterSession *session) const {
    std::lock_guard guard(lock_);
    auto it = records_.find(session);
    return it != records_.end() && it->second.trusted;
}

void Admission::release(const MasterSession *session) {
    std::lock_guard guard(lock_);
    releaseLocked(session);
}

void Admission::releaseLocked(const MasterSession *session) {
    auto it = records_.find(session);
    if (it == records_.end())
        return;
    const Record &r = it->second;
    auto use = addresses_.find(r.key);
    if (!r.trusted) {
        use->second.untrusted.erase(r.order);
        --untrusted_;
    }
    if (--use->second.open == 0)
        addresses_.erase(use);
    records_.erase(it);
}

size_t Admission::open() const {
    std::lock_guard guard(lock_);
    return records_.size();
}

size_t Admission::untrusted() const {
    std::lock_guard guard(lock_);
    return untrusted_;
}

}  // namespace drovik
