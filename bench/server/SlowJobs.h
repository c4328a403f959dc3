// Where a run's tail comes from. The slow round trips of a run are counted per 10-ms window of
// their start (on the steady clock, which all processes of the machine share), and a thread on
// each processor, in the generator's parent, sleeps 1 ms at a time and notes every wake-up that
// comes more than 3 ms late: the machine (a virtual machine's host) did not run that processor,
// so nothing else of ours ran on it either. A burst of slow jobs that starts during such a stall
// was the machine's doing, not the server's.
#pragma once

#include <pthread.h>
#include <sched.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

constexpr std::chrono::milliseconds kSlowJob{5};
constexpr std::chrono::milliseconds kSlowWindow{10};
constexpr uint64_t kBurstJobs = 20;  // slow jobs in one window that make it part of a burst

inline int64_t SlowWindowOf(std::chrono::steady_clock::time_point t) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(t.time_since_epoch()) /
           kSlowWindow;
}

// Slow jobs by the window they started in; any thread.
class SlowJobs {
public:
    void add(std::chrono::steady_clock::time_point started) {
        std::lock_guard guard(lock_);
        ++windows_[SlowWindowOf(started)];
    }
    void add(int64_t window, uint64_t n) {
        std::lock_guard guard(lock_);
        windows_[window] += n;
    }
    std::map<int64_t, uint64_t> windows() const {
        std::lock_guard guard(lock_);
        return windows_;
    }

private:
    mutable std::mutex lock_;
    std::map<int64_t, uint64_t> windows_;
};

// The machine's own stalls while it runs: wake-ups more than 3 ms late of a 1-ms sleeper kept on
// each processor this process may use.
class StallProbe {
public:
    using Clock = std::chrono::steady_clock;
    struct Stall {
        Clock::time_point from, to;
    };

    StallProbe() {
        cpu_set_t allowed;
        CPU_ZERO(&allowed);
        sched_getaffinity(0, sizeof allowed, &allowed);
        for (int cpu = 0; cpu < CPU_SETSIZE; ++cpu)
            if (CPU_ISSET(cpu, &allowed))
                threads_.emplace_back([this, cpu] { run(cpu); });
    }
    ~StallProbe() { stop(); }
    void stop() {
        stopping_ = true;
        for (auto &t : threads_)
            if (t.joinable())
                t.join();
    }
    // After stop().
    std::vector<Stall> stalls() const { return stalls_; }

private:
    void run(int cpu) {
        cpu_set_t one;
        CPU_ZERO(&one);
        CPU_SET(cpu, &one);
        pthread_setaffinity_np(pthread_self(), sizeof one, &one);
        std::vector<Stall> found;
        auto last = Clock::now();
        while (!stopping_) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
            const auto now = Clock::now();
            if (now - last > std::chrono::milliseconds(3))
                found.push_back({last, now});
            last = now;
        }
        std::lock_guard guard(lock_);
        stalls_.insert(stalls_.end(), found.begin(), found.end());
    }

    std::atomic<bool> stopping_{false};
    std::mutex lock_;
    std::vector<Stall> stalls_;
    std::vector<std::thread> threads_;
};

struct TailReport {
    uint64_t slowJobs = 0;
    uint64_t bursts = 0, jobsInBursts = 0;
    uint64_t burstsInStalls = 0, jobsInStallBursts = 0;
    uint64_t stalls = 0;
    double longestStallMs = 0;
};

// Adjacent windows of at least kBurstJobs slow jobs make one burst; a burst whose first window
// overlaps a stall of the machine, or is the window just before one (its jobs were still waiting
// when the stall came), is counted as the machine's.
inline TailReport ExplainTail(const std::map<int64_t, uint64_t> &windows,
                              const std::vector<StallProbe::Stall> &stalls) {
    TailReport r;
    r.stalls = stalls.size();
    for (const auto &s : stalls)
        r.longestStallMs = std::max(
            r.longestStallMs, std::chrono::duration<double, std::milli>(s.to - s.from).count());
    auto duringStall = [&](int64_t window) {
        for (const auto &s : stalls)
            if (SlowWindowOf(s.from) - 1 <= window && window <= SlowWindowOf(s.to))
                return true;
        return false;
    };
    int64_t previous = INT64_MIN;
    bool currentInStall = false;
    for (const auto &[window, n] : windows) {
        r.slowJobs += n;
        if (n < kBurstJobs)
            continue;
        if (window != previous + 1) {
            ++r.bursts;
            currentInStall = duringStall(window);
            r.burstsInStalls += currentInStall;
        }
        r.jobsInBursts += n;
        if (currentInStall)
            r.jobsInStallBursts += n;
        previous = window;
    }
    return r;
}
