// The simulated clients of one process. Like the chat client, each runs one job at a time:
// collect messages every 500 ms, fetch the online list every 2500 ms, send a private message
// now and then; one of them sends a global message every few seconds.
//
// Figures go to the parent as lines: "H kind step count" (latency histogram steps of the
// measured window), "C name value" (counters), "S window count" (round trips over kSlowJob by the
// 10-ms window they started in), "G id acked deliveries" (global messages), "END".
#include "LoadWorker.h"

#include <drovik.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <queue>
#include <random>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

#include "LoadStats.h"
#include "MessageLedger.h"
#include "SlowJobs.h"

const char *const kJobNames[kKinds] = {"User_Register",        "User_Login",
                                       "User_ReceiveMessages", "User_GetOnlineUserList",
                                       "User_SendMessage",     "User_SendGlobalMessage"};

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

enum class Kind { Register, Login, Poll, List, Send, Global };
const int32_t kReplyTypes[kKinds] = {DROVIK_TYPE_LONG,   DROVIK_TYPE_LONG, DROVIK_TYPE_NONE,
                                     DROVIK_TYPE_STRING, DROVIK_TYPE_LONG, DROVIK_TYPE_LONG};

struct Action {
    Action(Kind kind = Kind::Poll) : kind(kind) {}
    Kind kind;
    std::string target;  // recipient of a private message
    uint64_t id = 0;     // message id of a send
};

struct SimClient {
    int index = 0;  // within this process
    std::string name;
    intptr_t master = 0, slave = 0;
    std::mutex mutex;
    bool busy = false;
    Action current;
    Clock::time_point started;
    std::deque<Action> queue;
    uint32_t sent = 0;
};

struct Worker {
    LoadOptions options;
    WorkerPlan plan;
    std::vector<std::unique_ptr<SimClient>> clients;
    std::map<std::pair<intptr_t, intptr_t>, SimClient *> byConnection;  // read-only once running

    std::atomic<int> phase{0};  // 0 log in, 1 chat, 2 drain (no sends), 3 stop
    std::atomic<bool> measuring{false};
    LatencyHistogram perKind[kKinds];
    SlowJobs slow;
    std::atomic<uint64_t> jobs{0}, errors{0}, refusedSends{0}, loggedIn{0}, connectionEvents{0};
    std::atomic<uint32_t> nextGlobal{0};

    MessageLedger ledger;
};

Worker w;

void issue(SimClient &c);

void recordDelivery(const uint8_t *data, int32_t size) {
    if (size < 8)
        return;
    int32_t s = 0, t = 0;
    std::memcpy(&s, data, 4);
    std::memcpy(&t, data + 4, 4);
    if (s < 1 || t < 1 || 8 + int64_t(s) + t > size)
        return;
    const char *part = reinterpret_cast<const char *>(data) + 8 + s;
    w.ledger.delivered(std::string(part, strnlen(part, size_t(t))));
}

std::string globalText(uint64_t id) {
    return "G" + std::to_string(w.plan.process) + "_" + std::to_string(id);
}

void finish(SimClient &c, int32_t event, const void *data, int32_t size) {
    Action done;
    Clock::time_point started;
    Clock::duration latency;
    {
        std::lock_guard guard(c.mutex);
        done = c.current;
        started = c.started;
        latency = Clock::now() - started;
        c.busy = false;
    }
    w.jobs.fetch_add(1, std::memory_order_relaxed);
    if (w.measuring.load(std::memory_order_relaxed)) {
        w.perKind[int(done.kind)].add(latency);
        if (latency > kSlowJob)
            w.slow.add(started);
    }
    int32_t value = 0;
    if (event == DROVIK_EVENT_FINISHED && data && size >= 4)
        std::memcpy(&value, data, 4);
    bool accepted = event == DROVIK_EVENT_FINISHED && value == 1;
    if (event != DROVIK_EVENT_FINISHED)
        w.errors.fetch_add(1, std::memory_order_relaxed);

    if (done.kind == Kind::Login && accepted) {
        w.loggedIn.fetch_add(1);
    } else if (done.kind == Kind::Send || done.kind == Kind::Global) {
        if (!accepted)
            w.refusedSends.fetch_add(1);
        else if (done.kind == Kind::Send)
            w.ledger.acknowledgedPrivate(done.id);
        else
            w.ledger.acknowledgedGlobal(globalText(done.id));
    }
    issue(c);
}

int32_t DROVIK_CALL jobCallback(intptr_t master, intptr_t slave, intptr_t, int32_t event,
                                void *data, int32_t size, int32_t) {
    auto it = w.byConnection.find({master, slave});
    if (it != w.byConnection.end()) {
        if (event == DROVIK_EVENT_STREAM)
            recordDelivery(static_cast<const uint8_t *>(data), size);
        else
            finish(*it->second, event, data, size);
    }
    Drovik_FreeMemory(data);
    return 0;
}

int32_t DROVIK_CALL connectionCallback(intptr_t, intptr_t, intptr_t, int32_t, void *data, int32_t,
                                       int32_t) {
    w.connectionEvents.fetch_add(1);
    Drovik_FreeMemory(data);
    return 0;
}

intptr_t parametersOf(const SimClient &c, const Action &a) {
    // Every simulated account has the same password digest: the load is not about passwords.
    const char *digest = "0123456789abcdef0123456789abcdef";
    intptr_t list = 0;
    switch (a.kind) {
        case Kind::Register:
        case Kind::Login:
            list = Drovik_Parameter_New();
            Drovik_Parameter_AddString(list, c.name.c_str());
            Drovik_Parameter_AddString(list, digest);
            if (a.kind == Kind::Register)
                Drovik_Parameter_AddLong(list, 8);
            break;
        case Kind::Send: {
            list = Drovik_Parameter_New();
            Drovik_Parameter_AddString(list, a.target.c_str());
            Drovik_Parameter_AddString(list, MessageLedger::privateText(a.id).c_str());
            break;
        }
        case Kind::Global:
            list = Drovik_Parameter_New();
            Drovik_Parameter_AddString(list, globalText(a.id).c_str());
            break;
        case Kind::Poll:
        case Kind::List:
            break;
    }
    return list;
}

// Starts the client's next queued job unless one is running.
void issue(SimClient &c) {
    Action next;
    {
        std::lock_guard guard(c.mutex);
        if (c.busy || c.queue.empty() || w.phase.load() >= 3)
            return;
        next = std::move(c.queue.front());
        c.queue.pop_front();
        c.busy = true;
        c.current = next;
        c.started = Clock::now();
    }
    intptr_t id =
        Drovik_Master_DoJob(c.master, kJobNames[int(next.kind)], c.slave, parametersOf(c, next),
                            &jobCallback, kReplyTypes[int(next.kind)], 0, 0, 0, 0, 0, 0, 1);
    if (id == 0) {
        w.errors.fetch_add(1);
        std::lock_guard guard(c.mutex);
        c.busy = false;
    }
}

void enqueue(SimClient &c, Action action) {
    {
        std::lock_guard guard(c.mutex);
        // Like the client's periodic threads, a poll does not pile up behind a slow one.
        if (action.kind == Kind::Poll || action.kind == Kind::List)
            for (const Action &a : c.queue)
                if (a.kind == action.kind)
                    return;
        c.queue.push_back(std::move(action));
    }
    issue(c);
}

// Runs the clients' periodic actions until the phase reaches 3.
void schedule() {
    struct Due {
        Clock::time_point at;
        int client;
        Kind kind;
        bool operator>(const Due &o) const { return at > o.at; }
    };
    std::priority_queue<Due, std::vector<Due>, std::greater<>> heap;
    std::mt19937 random(uint32_t(42 + w.plan.process));
    const LoadOptions &o = w.options;
    const int n = int(w.clients.size());
    auto now = Clock::now();
    auto spread = [&](int ms) { return std::chrono::milliseconds(random() % uint32_t(ms)); };
    for (int i = 0; i < n; ++i) {
        heap.push({now + spread(o.pollMs), i, Kind::Poll});
        heap.push({now + spread(o.listMs), i, Kind::List});
        heap.push({now + spread(o.chatMs), i, Kind::Send});
    }
    heap.push({now + spread(o.globalMs), 0, Kind::Global});
    while (w.phase.load() < 3) {
        now = Clock::now();
        while (!heap.empty() && heap.top().at <= now) {
            Due due = heap.top();
            heap.pop();
            Action action(due.kind);
            int interval = o.pollMs;
            if (due.kind == Kind::List)
                interval = o.listMs;
            else if (due.kind == Kind::Send)
                interval = o.chatMs;
            else if (due.kind == Kind::Global)
                interval = o.globalMs;
            heap.push({due.at + std::chrono::milliseconds(interval), due.client, due.kind});
            int client = due.client;
            if (due.kind == Kind::Send || due.kind == Kind::Global) {
                if (w.phase.load() != 1)
                    continue;  // no new messages while draining
                if (due.kind == Kind::Send) {
                    SimClient &c = *w.clients[size_t(client)];
                    action.target = w.clients[random() % uint32_t(n)]->name;
                    action.id = (uint64_t(c.index) << 32) | c.sent++;
                } else {
                    action.id = w.nextGlobal++;
                    client = int(action.id % uint32_t(n));  // senders take turns
                }
            }
            enqueue(*w.clients[size_t(client)], std::move(action));
        }
        auto wake = now + 5ms;
        if (!heap.empty() && heap.top().at < wake)
            wake = heap.top().at;
        std::this_thread::sleep_until(wake);
    }
}

void connectAll() {
    const LoadOptions &o = w.options;
    std::vector<intptr_t> masters;
    for (int m = 0; m < o.masters; ++m) {
        intptr_t master = Drovik_Master_Init(nullptr);
        Drovik_Master_SetCallback(master, &connectionCallback, 0);
        masters.push_back(master);
    }
    for (int i = 0; i < w.plan.clients; ++i) {
        auto c = std::make_unique<SimClient>();
        c->index = i;
        c->name = o.prefix + std::to_string(w.plan.firstClient + i);
        c->master = masters[size_t(i % o.masters)];
        w.clients.push_back(std::move(c));
    }
    std::atomic<int> next{0}, failed{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&] {
            for (int i; (i = next++) < w.plan.clients;) {
                SimClient &c = *w.clients[size_t(i)];
                c.slave = Drovik_Master_AddSlave(
                    c.master, o.host.c_str(),
                    o.ports[size_t(w.plan.firstClient + i) % o.ports.size()], "load",
                    o.plaintext ? DROVIK_TRANSPORT_PLAINTEXT : DROVIK_TRANSPORT_TLS,
                    o.knownServersFile.c_str(), "", 0, 10);
                if (c.slave == 0) {
                    if (failed++ == 0) {
                        const char *why = Drovik_Master_GetLastError(c.master);
                        std::fprintf(stderr, "process %d: connecting failed: %s\n", w.plan.process,
                                     why ? why : "");
                    }
                }
            }
        });
    for (auto &t : threads)
        t.join();
    if (failed > 0) {
        std::fprintf(stderr, "process %d: %d of %d connections failed\n", w.plan.process,
                     failed.load(), w.plan.clients);
        std::_Exit(1);
    }
    for (auto &c : w.clients)
        w.byConnection[{c->master, c->slave}] = c.get();
}

void writeLine(const std::string &line) {
    std::string text = line + "\n";
    for (size_t done = 0; done < text.size();) {
        ssize_t n = write(w.plan.resultFd, text.data() + done, text.size() - done);
        if (n <= 0)
            return;
        done += size_t(n);
    }
}

void writeResults(double cpuSeconds) {
    for (int k = 0; k < kKinds; ++k)
        w.perKind[k].forEach([&](size_t step, uint64_t n) {
            writeLine("H " + std::to_string(k) + " " + std::to_string(step) + " " +
                      std::to_string(n));
        });
    const std::pair<const char *, uint64_t> counters[] = {{"jobs", w.jobs},
                                                          {"errors", w.errors},
                                                          {"refused", w.refusedSends},
                                                          {"connection_events", w.connectionEvents},
                                                          {"cpu_ms", uint64_t(cpuSeconds * 1000)}};
    for (auto &[name, value] : counters)
        writeLine(std::string("C ") + name + " " + std::to_string(value));
    for (auto &[window, n] : w.slow.windows())
        writeLine("S " + std::to_string(window) + " " + std::to_string(n));
    w.ledger.report(writeLine);
    writeLine("END");
}

std::string readLine(int fd) {
    std::string line;
    char c;
    while (read(fd, &c, 1) == 1 && c != '\n')
        line.push_back(c);
    return line;
}

}  // namespace

void RunLoadWorker(const LoadOptions &options, const WorkerPlan &plan) {
    w.options = options;
    w.plan = plan;
    connectAll();
    for (auto &c : w.clients)
        enqueue(*c, {Kind::Register});
    for (auto &c : w.clients)
        enqueue(*c, {Kind::Login});
    auto t0 = Clock::now();
    while (w.loggedIn.load() < uint64_t(plan.clients) && Clock::now() - t0 < 300s)
        std::this_thread::sleep_for(20ms);
    std::string ready = "ready " + std::to_string(w.loggedIn.load()) + "\n";
    if (write(plan.readyFd, ready.data(), ready.size()) < 0)
        std::_Exit(1);
    readLine(plan.goFd);

    w.phase = 1;
    std::thread scheduler(schedule);
    std::this_thread::sleep_for(std::chrono::seconds(options.warmupSeconds));
    double cpu0 = ProcessCpuSeconds(int(getpid()));
    w.measuring = true;
    std::this_thread::sleep_for(std::chrono::seconds(options.durationSeconds));
    w.measuring = false;
    double cpu = ProcessCpuSeconds(int(getpid())) - cpu0;
    // No new messages; keep collecting until everything arrived (and a little longer, so that a
    // duplicate would show), or the drain time is up: what is missing then is lost.
    w.phase = 2;
    auto drainEnd = Clock::now() + std::chrono::seconds(options.drainSeconds);
    auto settle = std::chrono::milliseconds(2 * options.pollMs);
    auto quietSince = Clock::now();
    while (Clock::now() < drainEnd) {
        if (w.ledger.outstanding(uint64_t(plan.clients)) != 0)
            quietSince = Clock::now();
        else if (Clock::now() - quietSince >= settle)
            break;
        std::this_thread::sleep_for(50ms);
    }
    w.phase = 3;
    scheduler.join();
    auto deadline = Clock::now() + 10s;
    for (auto &c : w.clients)
        while (Clock::now() < deadline) {
            {
                std::lock_guard guard(c->mutex);
                if (!c->busy)
                    break;
            }
            std::this_thread::sleep_for(1ms);
        }
    writeResults(cpu);
    std::_Exit(0);  // the masters' connection threads need no tidy end
}
