#include "store/postgres/PgAvailability.h"

#include <algorithm>
#include <exception>

#include "Log.h"
#include "store/Sql.h"

namespace {

using namespace std::chrono_literals;

constexpr auto kFirstPause = 500ms;
constexpr auto kLongestPause = 5s;
constexpr auto kReportEvery = 10s;

int64_t SecondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() -
                                                            start)
        .count();
}

}  // namespace

PgAvailability::PgAvailability(std::string name, std::function<void()> probe,
                               std::function<void()> wentDown)
    : name_(std::move(name)),
      probe_(std::move(probe)),
      wentDown_(std::move(wentDown)),
      thread_([this] { run(); }) {}

PgAvailability::~PgAvailability() {
    {
        std::lock_guard guard(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    thread_.join();
}

void PgAvailability::markDown(const std::string &reason) {
    {
        std::lock_guard guard(mutex_);
        if (!up_.load() || stopping_)
            return;
        refused_ = 0;
        downSince_ = std::chrono::steady_clock::now();
        generation_.fetch_add(1, std::memory_order_acq_rel);
        up_.store(false, std::memory_order_release);
    }
    LogEvent("store unreachable (", name_, "): ", reason,
             "; logins and jobs that need the store are refused until it answers again");
    wake_.notify_all();
    if (wentDown_)
        wentDown_();
}

void PgAvailability::refuse() {
    refused_.fetch_add(1, std::memory_order_relaxed);
    throw StoreError("store: " + name_ + " is unreachable", StoreError::Kind::Unavailable);
}

void PgAvailability::run() {
    std::unique_lock guard(mutex_);
    for (;;) {
        wake_.wait(guard, [&] { return stopping_ || !up_.load(); });
        if (stopping_)
            return;
        auto pause = std::chrono::duration_cast<std::chrono::milliseconds>(kFirstPause);
        auto reported = downSince_;
        while (!up_.load()) {
            if (wake_.wait_for(guard, pause, [&] { return stopping_; }))
                return;
            std::string failure;
            guard.unlock();
            try {
                probe_();
            } catch (const std::exception &e) {
                failure = e.what();
            }
            guard.lock();
            if (failure.empty()) {
                up_.store(true, std::memory_order_release);
                LogEvent("store reachable again (", name_, ") after ", SecondsSince(downSince_),
                         " s; ", refused_.load(), " uses of the store refused meanwhile");
                break;
            }
            pause = std::min<std::chrono::milliseconds>(pause * 2, kLongestPause);
            if (std::chrono::steady_clock::now() - reported >= kReportEvery) {
                reported = std::chrono::steady_clock::now();
                LogEvent("store still unreachable (", name_, ") after ", SecondsSince(downSince_),
                         " s, ", refused_.load(), " uses of the store refused so far: ", failure);
            }
        }
    }
}
