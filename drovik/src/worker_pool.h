// The slave's worker threads: they run job handlers, access checks and the end-of-master callbacks,
// so that no user code ever runs on the network thread.
//
// Tasks are queued per owner (a master's connection) and the owners take turns: a worker takes the
// next task of the owner whose turn it is. So a connection that queued many jobs delays another
// connection's next job by at most one job of each connection with work queued, never by its whole
// queue.
#ifndef DROVIK_SRC_WORKER_POOL_H
#define DROVIK_SRC_WORKER_POOL_H

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <unordered_map>
#include <vector>

namespace drovik {

class WorkerPool {
public:
    explicit WorkerPool(size_t threads);
    ~WorkerPool();
    WorkerPool(const WorkerPool &) = delete;
    WorkerPool &operator=(const WorkerPool &) = delete;

    // Queues a task of an owner (null: the pool's own); an owner's tasks start in the order
    // queued.
    void submit(const void *owner, std::function<void()> task);
    void submit(std::function<void()> task) { submit(nullptr, std::move(task)); }
    // Runs what is queued, then ends the threads. Not from a worker of this pool.
    void stop();
    // True on one of this pool's threads.
    bool onWorkerThread() const;

private:
    void run();

    std::mutex lock_;
    std::condition_variable wake_;
    std::unordered_map<const void *, std::deque<std::function<void()>>> queues_;
    std::deque<const void *> turns_;  // owners with queued tasks, the next to be served first
    bool stopping_ = false;
    std::vector<std::thread> threads_;
};

}  // namespace drovik

#endif  // DROVIK_SRC_WORKER_POOL_H
