#include "worker_pool.h"

namespace drovik {
namespace {
thread_local const WorkerPool *tlsPool = nullptr;
}

WorkerPool::WorkerPool(size_t threads) {
    threads_.reserve(threads);
    for (size_t i = 0; i < threads; ++i)
        threads_.emplace_back([this] { run(); });
}

WorkerPool::~WorkerPool() {
    stop();
}

void WorkerPool::submit(const void *owner, std::function<void()> task) {
    {
        std::lock_guard guard(lock_);
        auto &queue = queues_[owner];
        if (queue.empty())
            turns_.push_back(owner);
        queue.push_back(std::move(task));
    }
    wake_.notify_one();
}

void WorkerPool::stop() {
    {
        std::lock_guard guard(lock_);
        stopping_ = true;
    }
    wake_.notify_all();
    for (std::thread &t : threads_)
        if (t.joinable())
            t.join();
}

bool WorkerPool::onWorkerThread() const {
    return tlsPool == this;
}

void WorkerPool::run() {
    tlsPool = this;
    std::unique_lock guard(lock_);
    for (;;) {
        wake_.wait(guard, [this] { return stopping_ || !turns_.empty(); });
        if (turns_.empty())
            return;  // stopping, and nothing left to do
        const void *owner = turns_.front();
        turns_.pop_front();
        auto queue = queues_.find(owner);
        std::function<void()> task = std::move(queue->second.front());
        queue->second.pop_front();
        if (queue->second.empty())
            queues_.erase(queue);  // an owner that is gone leaves nothing behind
        else
            turns_.push_back(owner);  // its next task waits for everyone else's turn
        guard.unlock();
        try {
            task();
        } catch (...) {
            // Tasks handle their own failures; nothing may end a worker.
        }
        task = nullptr;  // release what the task held before waiting again
        guard.lock();
    }
}

}  // namespace drovik
