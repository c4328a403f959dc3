#include "store/postgres/PgDatabase.h"

#include <algorithm>

PgDatabase::PgDatabase(std::string url, size_t poolSize, std::chrono::milliseconds answerTimeout)
    : url_(std::move(url)),
      poolSize_(std::max<size_t>(1, poolSize)),
      answerTimeout_(answerTimeout),
      availability_(
          PgDisplayName(url_), [this] { PgConnection probe(url_); },
          [this] {
              // Those waiting for a connection are refused now rather than at their time-out.
              std::lock_guard guard(mutex_);
              freed_.notify_all();
          }) {
    idle_.push_back(std::make_unique<PgConnection>(url_, &availability_, answerTimeout_));
    open_ = 1;
}

PgDatabase::~PgDatabase() = default;

Database::Lease PgDatabase::lease() {
    constexpr auto kWait = std::chrono::seconds(10);
    availability_.check();
    std::unique_lock guard(mutex_);
    if (!freed_.wait_for(guard, kWait, [&] {
            return !availability_.up() || !idle_.empty() || open_ < poolSize_;
        }))
        throw StoreError("store: no connection to " + name() + " came free within 10 s",
                         StoreError::Kind::Unavailable);
    if (!availability_.up()) {
        guard.unlock();
        availability_.refuse();
    }
    if (!idle_.empty()) {
        PgConnection *connection = idle_.back().release();
        idle_.pop_back();
        return Lease(*this, *connection);
    }
    ++open_;
    guard.unlock();
    auto giveBack = [&] {
        guard.lock();
        --open_;
        freed_.notify_one();
    };
    try {
        return Lease(*this, *new PgConnection(url_, &availability_, answerTimeout_));
    } catch (const StoreError &e) {
        giveBack();
        guard.unlock();
        if (e.kind() == StoreError::Kind::Unavailable)
            availability_.markDown(e.what());
        throw;
    } catch (...) {
        giveBack();
        throw;
    }
}

void PgDatabase::release(Connection &connection) noexcept {
    std::unique_ptr<PgConnection> owned(static_cast<PgConnection *>(&connection));
    std::lock_guard guard(mutex_);
    if (owned->reusable()) {
        idle_.push_back(std::move(owned));
    } else {
        --open_;
        // Closed outside the pool's lock would be kinder, but closing a broken connection does
        // not wait for the peer.
        owned.reset();
    }
    freed_.notify_one();
}

std::unique_ptr<Connection> PgDatabase::connectWriter() {
    return std::make_unique<PgConnection>(url_, &availability_, answerTimeout_);
}
