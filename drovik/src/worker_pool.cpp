#include "worker_pool.h"

#include <algorithm>
#include <iterator>

namespace drovik {
namespace {

struct ThreadRole {
    const WorkerPool *working = nullptr;  // runs a task of this pool
    const WorkerPool *leading = nullptr;  // runs this pool's network
    // Tasks network handlers left for this thread, in the order left.
    std::vector<WorkerPool::Task> held;
};
thread_local ThreadRole role;

void runTask(const WorkerPool *pool, std::function<void()> &task) {
    role.working = pool;
    try {
        task();
    } catch (...) {
        // Tasks handle their own failures; nothing may end a worker.
    }
    task = nullptr;  // release what the task held before waiting again
    role.working = nullptr;
}

}  // namespace

WorkerPool::WorkerPool(size_t workers) : workers_(workers > 0 ? workers : 1) {
    threads_.reserve(workers_ + 1);
    for (size_t i = 0; i < workers_ + 1; ++i)
        threads_.emplace_back([this] { run(); });
}

WorkerPool::~WorkerPool() {
    stop();
}

void WorkerPool::lead(asio::io_context &network) {
    std::condition_variable *wake;
    {
        std::lock_guard guard(lock_);
        network_ = &network;
        networkVacant_ = true;
        wake = wakeLocked();
    }
    notify(wake);
}

void WorkerPool::submit(const void *owner, std::function<void()> task) {
    size_t workers = 0, watcher = 0;  // wakes due on wake_ and on watch_
    auto count = [&](std::condition_variable *wake) {
        workers += wake == &wake_;
        watcher += wake == &watch_;
    };
    {
        std::lock_guard guard(lock_);
        if (role.leading == this) {
            // The owner's tasks held for after the handler are queued first: they keep their
            // places. The other owners' stay held, for this thread, in their order.
            auto kept = role.held.begin();
            for (auto held = role.held.begin(); held != role.held.end(); ++held) {
                if (held->owner == owner) {
                    queueLocked(std::move(*held));
                    count(wakeLocked());
                } else {
                    if (kept != held)
                        *kept = std::move(*held);
                    ++kept;
                }
            }
            role.held.erase(kept, role.held.end());
        }
        queueLocked({owner, std::move(task)});
        count(wakeLocked());
    }
    while (workers-- > 0)
        wake_.notify_one();
    if (watcher > 0)
        watch_.notify_one();
}

void WorkerPool::submitHere(const void *owner, std::function<void()> task) {
    if (role.leading == this && role.held.size() < kInlineBatch) {
        role.held.push_back({owner, std::move(task)});
        return;
    }
    submit(owner, std::move(task));
}

void WorkerPool::stop() {
    {
        std::lock_guard guard(lock_);
        stopping_ = true;
    }
    wake_.notify_all();
    watch_.notify_all();
    for (std::thread &t : threads_)
        if (t.joinable())
            t.join();
}

bool WorkerPool::onWorkerThread() const {
    return role.working == this;
}

void WorkerPool::queueLocked(Task task) {
    auto &queue = queues_[task.owner];
    if (queue.empty())
        turns_.push_back(task.owner);
    queue.push_back(std::move(task.run));
}

bool WorkerPool::takeLocked(Task &task) {
    if (turns_.empty() || running_ >= workers_)
        return false;
    const void *owner = turns_.front();
    turns_.pop_front();
    auto queue = queues_.find(owner);
    task.owner = owner;
    task.run = std::move(queue->second.front());
    queue->second.pop_front();
    if (queue->second.empty())
        queues_.erase(queue);  // an owner that is gone leaves nothing behind
    else
        turns_.push_back(owner);  // its next task waits for everyone else's turn
    return true;
}

std::condition_variable *WorkerPool::wakeLocked() {
    if (idle_ > wakesDue_) {
        ++wakesDue_;
        return &wake_;
    }
    return watching_ ? &watch_ : nullptr;
}

void WorkerPool::notify(std::condition_variable *wake) {
    if (wake != nullptr)
        wake->notify_one();
}

void WorkerPool::stopWatching(bool &watcher) {
    if (!watcher)
        return;
    watching_ = watcher = false;
    // A job on the leader must not go unwatched while this thread is busy: another idle thread
    // takes over the watch.
    if (jobOnLeader_)
        notify(wakeLocked());
}

void WorkerPool::run() {
    std::unique_lock guard(lock_);
    bool watcher = false;  // this thread watches the leader's job
    for (;;) {
        if (networkVacant_) {
            networkVacant_ = false;
            stopWatching(watcher);
            leadNetwork(guard);
            continue;
        }
        Task task;
        if (takeLocked(task)) {
            stopWatching(watcher);
            ++running_;
            guard.unlock();
            runTask(this, task.run);
            guard.lock();
            --running_;
            continue;
        }
        if (stopping_ && turns_.empty())
            return;
        const auto now = Clock::now();
        if (!watcher && !watching_ && (jobOnLeader_ || now - lastJobOnLeader_ < kWatchFor))
            watching_ = watcher = true;
        if (!watcher) {
            ++idle_;
            wake_.wait(guard);
            --idle_;
            if (wakesDue_ > 0)
                --wakesDue_;
            continue;
        }
        if (jobOnLeader_ && now >= jobOnLeaderSince_ + kRescueAfter) {
            // The job has held the network long enough: read it from here, and let the job's
            // thread be a worker when the job returns.
            ++leaderEpoch_;
            jobOnLeader_ = false;
            networkVacant_ = true;
            // The leader's jobs still to come take their turns with the workers, before anything
            // the network gives from now on.
            for (Task &left : batch_) {
                queueLocked(std::move(left));
                notify(wakeLocked());
            }
            batch_.clear();
            continue;
        }
        if (!jobOnLeader_ && now - lastJobOnLeader_ >= kWatchFor) {
            watching_ = watcher = false;  // quiet again: sleep until there is work
            continue;
        }
        // Nobody tells the watcher that a job started on the leader (that would cost the wake the
        // leader spares), so it looks again after at most kRescueAfter.
        watch_.wait_until(guard,
                          jobOnLeader_ ? jobOnLeaderSince_ + kRescueAfter : now + kRescueAfter);
    }
}

void WorkerPool::leadNetwork(std::unique_lock<std::mutex> &guard) {
    for (;;) {
        guard.unlock();
        role.leading = this;
        const size_t ran = network_->run_one();
        // Before a job runs here, what else the network has ready is taken: quick jobs among it
        // wait here too, up to kInlineBatch; the ones beyond go to the workers, each with its
        // owner's held ones (see submit), so a busy network keeps the workers at work and the
        // leader's batch still spares its wakes.
        for (int more = 0; ran > 0 && !role.held.empty() && more < kLookAhead; ++more)
            if (network_->poll_one() == 0)
                break;
        role.leading = nullptr;
        guard.lock();
        std::move(role.held.begin(), role.held.end(), std::back_inserter(batch_));
        role.held.clear();
        if (ran == 0)
            return;  // the network has stopped for good
        // The network waits for the whole batch, so the watcher's clock starts with its first.
        const Clock::time_point batchStart = Clock::now();
        while (!batch_.empty()) {
            Task task = std::move(batch_.front());
            batch_.pop_front();
            if (!runHere(guard, std::move(task), batchStart))
                return;
        }
    }
}

bool WorkerPool::runHere(std::unique_lock<std::mutex> &guard, Task task, Clock::time_point since) {
    if (running_ >= workers_ || queues_.count(task.owner) > 0) {
        // No worker is free to watch, or the owner's earlier tasks wait: it takes its turn.
        queueLocked(std::move(task));
        std::condition_variable *wake = wakeLocked();
        guard.unlock();
        notify(wake);
        guard.lock();
        return true;
    }
    ++running_;
    const uint64_t epoch = leaderEpoch_;
    jobOnLeader_ = true;
    jobOnLeaderSince_ = since;
    lastJobOnLeader_ = Clock::now();
    std::condition_variable *watcher = watching_ ? nullptr : wakeLocked();
    guard.unlock();
    notify(watcher);
    runTask(this, task.run);
    guard.lock();
    --running_;
    if (leaderEpoch_ != epoch)
        return false;  // the watcher took the network meanwhile
    jobOnLeader_ = false;
    return true;
}

}  // namespace drovik
