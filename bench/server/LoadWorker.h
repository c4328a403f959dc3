// One process's share of the simulated clients. The library's master spends several descriptors
// on every connection, so thousands of clients are spread over several processes, each under
// the open-file limit; the parent process (server_load.cpp) starts them in step and adds up
// their figures.
#pragma once

#include <string>
#include <vector>

constexpr int kKinds = 6;
extern const char *const kJobNames[kKinds];

struct LoadOptions {
    std::string host = "127.0.0.1";
    std::vector<int> ports{7000};  // several: the nodes of one community, clients spread in turn
    int clients = 1000;
    int processes = 0;  // 0: as many as the open-file limit needs
    int masters = 4;    // per process
    int warmupSeconds = 10;
    int durationSeconds = 30;
    int drainSeconds = 30;  // at most; ends early once every message arrived
    int pollMs = 500;
    int listMs = 2500;
    int chatMs = 10000;                   // each client sends a private message this often
    int globalMs = 5000;                  // each process sends one global message this often
    std::vector<int> serverPids;          // for their CPU and memory
    std::vector<std::string> watchNames;  // processes named so (all of them), for their CPU
    std::string prefix = "load";
    bool plaintext = false;        // the server must be started with --plaintext too
    bool probeStalls = false;      // watch for the machine's own stalls while measuring
    std::string knownServersFile;  // empty: the user's own
};

struct WorkerPlan {
    int process = 0;
    int firstClient = 0;
    int clients = 0;
    int readyFd = -1;   // the worker writes "ready" here once its clients are logged in ...
    int goFd = -1;      // ... and starts chatting when a line arrives here
    int resultFd = -1;  // its figures, as lines of text (see LoadWorker.cpp)
};

// Runs the plan and ends the process.
[[noreturn]] void RunLoadWorker(const LoadOptions &options, const WorkerPlan &plan);
