// The threads of one of the slave's shards: they run job handlers, access checks and the
// end-of-master callbacks, and, one at a time, the network (the io_context the shard's connections
// are read on).
//
// Tasks are queued per owner (a master's connection) and the owners take turns: a worker takes the
// next task of the owner whose turn it is. So a connection that queued many jobs delays another
// connection's next job by at most one job of each connection with work queued, never by its whole
// queue.
//
// Leader and followers: the thread that runs the network (the leader) and reads a job may run that
// job itself, right after the read's handler returns, when nothing else of the network is ready,
// instead of waking a worker for it and going back to sleep in the reactor. That spares a job two
// thread hand-offs (the wake of a worker, and the leader's own sleep before the reply). While the
// leader runs a job nobody reads the network, so an idle thread watches: a job that runs longer
// than kRescueAfter loses the network to the watcher, and its thread becomes a worker once the job
// returns. The watcher only polls while jobs have run on the leader in the last kWatchFor; an idle
// slave sleeps. The quick jobs read at once, up to kInlineBatch, are run by the leader one after
// the other: the watcher's rescue, not their number, bounds how long they keep the network unread,
// and on a busy slave a wake per job costs more processor time than the job (measured: with a
// batch of 4, most jobs went to the workers under load, and the server spent a third more). Only
// the ones beyond go to the workers, each of which costs a wake, taking along the jobs of their
// own connection that the leader held before them (a connection's jobs start in order).
#ifndef DROVIK_SRC_WORKER_POOL_H
#define DROVIK_SRC_WORKER_POOL_H

#include <asio.hpp>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <unordered_map>
#include <vector>

namespace drovik {

class WorkerPool {
public:
    using Clock = std::chrono::steady_clock;
    // How long a job may keep the network from being read before another thread reads it.
    static constexpr std::chrono::microseconds kRescueAfter{1000};
    // How many ready network handlers the leader runs before a job it holds, at the most.
    static constexpr int kLookAhead = 8;
    // How many quick jobs read together the leader runs itself, at the most.
    static constexpr size_t kInlineBatch = 32;
    // How long after the last job on the leader the watcher keeps polling.
    static constexpr std::chrono::milliseconds kWatchFor{20};

    // At most `workers` tasks run at once; one thread more is started for the network.
    explicit WorkerPool(size_t workers);
    ~WorkerPool();
    WorkerPool(const WorkerPool &) = delete;
    WorkerPool &operator=(const WorkerPool &) = delete;

    // From now on one of the pool's threads at a time runs the network, until it is stopped.
    void lead(asio::io_context &network);

    // Queues a task of an owner (null: the pool's own); an owner's tasks start in the order
    // queued, those the leader holds for after its handler included.
    void submit(const void *owner, std::function<void()> task);
    void submit(std::function<void()> task) { submit(nullptr, std::move(task)); }
    // As submit, but on the leader inside a network handler the task may run on this thread as soon
    // as the handler returns (when a worker is free and nothing of the owner waits before it),
    // together with at most kInlineBatch - 1 others read with it.
    void submitHere(const void *owner, std::function<void()> task);
    // Runs what is queued, then ends the threads. The network must be stopped first. Not from a
    // worker of this pool.
    void stop();
    // True on one of this pool's threads while it runs a task (not while it runs the network).
    bool onWorkerThread() const;

    struct Task {
        const void *owner = nullptr;
        std::function<void()> run;
    };

private:
    void run();
    // Runs the network on this thread until a job on it is rescued or the network stops. Called
    // and returns with the lock held.
    void leadNetwork(std::unique_lock<std::mutex> &guard);
    // Runs one task held back by a network handler on this thread, as part of a batch that began
    // at `since`. Lock held; true when this thread still leads afterwards.
    bool runHere(std::unique_lock<std::mutex> &guard, Task task, Clock::time_point since);
    void queueLocked(Task task);
    bool takeLocked(Task &task);
    // The idle thread that watches a job on the leader (it looks at least every kRescueAfter and
    // takes the network once the job has held it that long) leaves the watch to run a task or the
    // network. Lock held.
    void stopWatching(bool &watcher);
    // Whom to wake for new work: an idle thread that does not watch and that no earlier wake is
    // already bringing, else the watcher (it then leaves the watch to another), else nobody (every
    // thread is busy, and takes the work when it is done). Lock held.
    std::condition_variable *wakeLocked();
    static void notify(std::condition_variable *wake);

    const size_t workers_;
    std::mutex lock_;
    std::condition_variable wake_;   // idle threads that do not watch wait here
    std::condition_variable watch_;  // the watcher's own wait, so that work wakes it last
    size_t idle_ = 0;                // threads waiting on wake_
    size_t wakesDue_ = 0;            // of them, woken and not yet awake
    std::unordered_map<const void *, std::deque<std::function<void()>>> queues_;
    std::deque<const void *> turns_;  // owners with queued tasks, the next to be served first
    size_t running_ = 0;              // tasks running, on the leader's thread included
    bool stopping_ = false;

    asio::io_context *network_ = nullptr;
    bool networkVacant_ = false;  // the network waits for a thread to run it
    bool watching_ = false;       // an idle thread is the watcher
    bool jobOnLeader_ = false;    // the leader runs a task and the network is not read
    uint64_t leaderEpoch_ = 0;    // counts the times the watcher took the network from a job
    std::deque<Task> batch_;      // the leader's jobs read together, still to run on it
    Clock::time_point jobOnLeaderSince_;
    Clock::time_point lastJobOnLeader_;

    std::vector<std::thread> threads_;
};

}  // namespace drovik

#endif  // DROVIK_SRC_WORKER_POOL_H
