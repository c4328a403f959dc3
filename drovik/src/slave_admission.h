// Which connections a slave keeps: every open connection counts in total and against its address,
// and until it is trusted against the untrusted ones. A new connection beyond the total or its
// address's share is refused; one beyond the untrusted share makes room by closing the oldest
// untrusted connection of the address that holds the most, so that a flood from one place pushes
// out its own connections first and a patient person at the login fields last.
#ifndef DROVIK_SRC_SLAVE_ADMISSION_H
#define DROVIK_SRC_SLAVE_ADMISSION_H

#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <unordered_map>

namespace drovik {

class MasterSession;
class SlaveLimits;

class Admission {
public:
    struct Verdict {
        bool admitted = false;
        std::string refusal;               // why not, when not admitted
        MasterSession *evicted = nullptr;  // an untrusted connection to close to make room
    };

    // A new connection from the address key; network thread. The evicted session, if any, has been
    // released from the counts already and is alive until the caller closes it.
    Verdict admit(MasterSession *session, const std::string &key, const SlaveLimits &limits);
    // Trust given or taken back; false when the session is not counted (any more).
    bool setTrusted(MasterSession *session, bool trusted);
    bool trusted(const MasterSession *session) const;
    // The connection is closed: it counts no longer. Harmless when it was not counted.
    void release(const MasterSession *session);

    size_t open() const;
    size_t untrusted() const;

private:
    struct Record {
        std::string key;
        uint64_t order = 0;  // accepted before every record with a larger order
        bool trusted = false;
    };
    struct AddressUse {
        int64_t open = 0;
        std::map<uint64_t, MasterSession *> untrusted;  // oldest first
    };
    void releaseLocked(const MasterSession *session);
    MasterSession *evictionCandidateLocked() const;

    mutable std::mutex lock_;
    std::unordered_map<const MasterSession *, Record> records_;
    std::unordered_map<std::string, AddressUse> addresses_;
    size_t untrusted_ = 0;
    uint64_t nextOrder_ = 0;
};

}  // namespace drovik

#endif  // DROVIK_SRC_SLAVE_ADMISSION_H
