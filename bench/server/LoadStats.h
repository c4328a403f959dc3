// Figures of the load generator: a lock-free latency histogram, and the CPU time and memory of a
// process read from /proc.
#pragma once

#include <unistd.h>
#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>

// Round trips in steps of 10 microseconds up to 2 seconds; longer ones land in the last step.
class LatencyHistogram {
public:
    void add(std::chrono::nanoseconds latency) {
        auto step = static_cast<size_t>(latency.count() / 10000);
        buckets_[step < kSteps ? step : kSteps - 1].fetch_add(1, std::memory_order_relaxed);
    }
    uint64_t count() const {
        uint64_t n = 0;
        for (const auto &b : buckets_)
            n += b.load(std::memory_order_relaxed);
        return n;
    }
    // The latency in milliseconds below which `fraction` of the samples lie.
    double percentileMs(double fraction) const {
        uint64_t total = count();
        if (total == 0)
            return 0;
        auto wanted = static_cast<uint64_t>(fraction * static_cast<double>(total));
        uint64_t seen = 0;
        for (size_t i = 0; i < kSteps; ++i) {
            seen += buckets_[i].load(std::memory_order_relaxed);
            if (seen > wanted)
                return static_cast<double>(i + 1) * 0.01;
        }
        return static_cast<double>(kSteps) * 0.01;
    }

    // Visits every step that holds samples, for copying a histogram between processes.
    template <typename Visit>
    void forEach(Visit visit) const {
        for (size_t i = 0; i < kSteps; ++i)
            if (uint64_t n = buckets_[i].load(std::memory_order_relaxed))
                visit(i, n);
    }
    void addStep(size_t step, uint64_t n) {
        buckets_[step < kSteps ? step : kSteps - 1].fetch_add(n, std::memory_order_relaxed);
    }

private:
    static constexpr size_t kSteps = 200000;
    std::array<std::atomic<uint64_t>, kSteps> buckets_{};
};

// User plus system CPU time of a process in seconds, from /proc/PID/stat; -1 when unreadable.
inline double ProcessCpuSeconds(int pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    auto close = text.rfind(')');  // the command name may hold blanks
    if (close == std::string::npos)
        return -1;
    std::istringstream fields(text.substr(close + 2));
    std::string field;
    unsigned long long utime = 0, stime = 0;
    for (int i = 3; i <= 15 && fields >> field; ++i) {
        if (i == 14)
            utime = std::stoull(field);
        if (i == 15)
            stime = std::stoull(field);
    }
    return static_cast<double>(utime + stime) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

// Context switches of every thread of a process so far, voluntary (it waited) and not (it was
// preempted), from /proc/PID/task/*/status; threads that ended are not counted.
inline uint64_t ProcessContextSwitches(int pid) {
    uint64_t total = 0;
    std::error_code ec;
    for (const auto &task :
         std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/task", ec)) {
        std::ifstream in(task.path() / "status");
        std::string line;
        while (std::getline(in, line))
            if (line.rfind("voluntary_ctxt_switches:", 0) == 0 ||
                line.rfind("nonvoluntary_ctxt_switches:", 0) == 0)
                total += std::stoull(line.substr(line.find(':') + 1));
    }
    return total;
}

// CPU seconds of every process whose name (/proc/PID/comm) is `name`, by process.
inline std::map<int, double> CpuSecondsByProcessNamed(const std::string &name) {
    std::map<int, double> seconds;
    for (const auto &entry : std::filesystem::directory_iterator("/proc")) {
        const std::string pid = entry.path().filename().string();
        if (pid.find_first_not_of("0123456789") != std::string::npos)
            continue;
        std::ifstream comm(entry.path() / "comm");
        std::string text;
        if (std::getline(comm, text) && text == name)
            seconds[std::stoi(pid)] = ProcessCpuSeconds(std::stoi(pid));
    }
    return seconds;
}

// CPU seconds spent between two samples by the processes of the later one (a process that began
// in between counts from its start).
inline double CpuSecondsBetween(const std::map<int, double> &before,
                                const std::map<int, double> &after) {
    double total = 0;
    for (const auto &[pid, s] : after) {
        auto it = before.find(pid);
        total += it == before.end() ? s : s - it->second;
    }
    return total;
}

// A "VmRSS"-style line of /proc/PID/status in MiB; -1 when unreadable.
inline double ProcessMemoryMiB(int pid, const std::string &key) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(in, line))
        if (line.rfind(key + ":", 0) == 0)
            return std::stod(line.substr(key.size() + 1)) / 1024.0;  // the value is in kB
    return -1;
}
