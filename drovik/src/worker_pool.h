// The slave's worker threads: they run job handlers, access checks and the end-of-master callbacks,
// so that no user code ever runs on the network thread.
#ifndef DROVIK_SRC_WORKER_POOL_H
#define DROVIK_SRC_WORKER_POOL_H

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace drovik {

class WorkerPool {
public:
    explicit WorkerPool(size_t threads);
    ~WorkerPool();
    WorkerPool(const WorkerPool &) = delete;
    WorkerPool &operator=(const WorkerPool &) = delete;

    // Queues a task; tasks start in the order queued.
    void submit(std::function<void()> task);
    // Runs what is queued, then ends the threads. Not from a worker of this pool.
    void stop();
    // True on one of this pool's threads.
    bool onWorkerThread() const;

private:
    void run();

    std::mutex lock_;
    std::condition_variable wake_;
    std::deque<std::function<void()>> tasks_;
    bool stopping_ = false;
    std::vector<std::thread> threads_;
};

}  // namespace drovik

#endif  // DROVIK_SRC_WORKER_POOL_H
