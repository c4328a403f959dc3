// Stopping the server: a request that the main thread waits for, made by SIGINT, SIGTERM (or a
// console break on Windows) or by the administrator's stop job.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>

class StopRequest {
public:
    // The first request wins; later ones are ignored. `master` is the connection that asked,
    // 0 for a signal.
    void request(const std::string &reason, intptr_t master = 0);
    // Blocks until a request came.
    void wait();
    std::string reason();
    intptr_t master();

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    bool requested_ = false;
    std::string reason_;
    intptr_t master_ = 0;
};

// Keeps the stop signals from interrupting any thread; call first in main, before any thread
// starts, so that every later thread inherits it. The watcher below then receives them.
void BlockStopSignals();

// Turns the stop signals into a StopRequest while it lives.
class StopSignalWatcher {
public:
    explicit StopSignalWatcher(StopRequest &request);
    ~StopSignalWatcher();
    StopSignalWatcher(const StopSignalWatcher &) = delete;
    StopSignalWatcher &operator=(const StopSignalWatcher &) = delete;

private:
    StopRequest &request_;
    std::thread thread_;
    bool running_ = true;
    std::mutex mutex_;
};
