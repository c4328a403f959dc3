// The slave side: a SlaveServer listens and keeps its masters; each MasterSession is one master's
// connection, read by the network thread of its shard; its jobs run on that shard's worker pool. A
// pool's threads take turns at being its shard's network thread, one at a time (worker_pool.h).
#ifndef DROVIK_SRC_SLAVE_H
#define DROVIK_SRC_SLAVE_H

#include <asio.hpp>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

#include "channel.h"
#include "codec.h"
#include "drovik.h"
#include "errors.h"
#include "shared_list.h"
#include "slave_admission.h"
#include "slave_limits.h"
#include "tls.h"
#include "worker_pool.h"

namespace drovik {

class SlaveServer;
struct SlaveJob;

// How long a job's handler typically runs: a moving average of its recent runs. A quick job runs on
// the thread that read it; a slow one goes to a worker at once, so that it does not hold the
// network until the pool's watcher takes it over.
class JobTiming {
public:
    static constexpr uint32_t kQuickMicros = 100;

    bool quick() const { return typicalMicros_.load(std::memory_order_relaxed) < kQuickMicros; }
    void record(std::chrono::steady_clock::duration ran);

private:
    std::atomic<uint32_t> typicalMicros_{0};
};

struct JobDefinition {
    std::string name;
    Drovik_JobHandler handler = nullptr;
    std::string signature;
    intptr_t userData = 0;
    std::shared_ptr<JobTiming> timing = std::make_shared<JobTiming>();
};

// One share of a slave's connections: the io_context they are read on and the pool whose threads
// run that network (one at a time) and the jobs that arrive on it. A slave spreads its connections
// over a few shards, so a thread held up in one (by a long handler, or by a processor the machine
// takes away for some milliseconds) holds up only that shard's connections, and the network is read
// on as many processors as there are shards.
struct SlaveShard {
    explicit SlaveShard(size_t workers) : work(asio::make_work_guard(io)), pool(workers) {}
    // Lets the network end, then the pool; from a thread outside the pool. Again, it does nothing
    // more (the shutdown stops the shards, and the server's end once more).
    void stop() {
        work.reset();
        io.stop();
        pool.stop();
    }

    asio::io_context io{1};  // run by one of the pool's threads at a time
    asio::executor_work_guard<asio::io_context::executor_type> work;
    WorkerPool pool;
    std::atomic<size_t> sessions{0};  // live sessions read here
};

class MasterSession : public std::enable_shared_from_this<MasterSession> {
public:
    MasterSession(SlaveServer &server, SlaveShard &shard, asio::ip::tcp::socket socket);

    // Network thread: starts reading and the handshake deadline.
    void start();
    // Network thread: closes the connection at once.
    void end(const std::string &reason, int32_t kind = DROVIK_LOG_CONNECTION);
    // Any thread: trust was given or taken back in the admission counts; the untrusted deadline
    // follows.
    void trustChanged();
    // The largest frame the master may send now: smaller while it is not trusted.
    uint32_t frameLimit() const;
    // Network thread: the server shuts down; tells the master and closes.
    void shutdownByServer();
    // Any thread: tells the master it is kicked and closes. False when not connected.
    bool kick();
    // Any thread: one of this master's jobs has ended; sends its outcome.
    void jobFinished(wire::Frame outcome);
    // Any thread: sends a frame; a master that does not read is dropped.
    bool send(wire::Frame frame);

    SlaveServer &server() const { return server_; }
    SlaveShard &shard() const { return shard_; }
    intptr_t handle() const { return handle_.load(); }
    const std::string &address() const { return address_; }
    const std::string &addressKey() const { return addressKey_; }
    uint16_t port() const { return port_; }

    // Handshake done and not ended.
    bool connected() const;
    intptr_t xtra() const;
    void setXtra(intptr_t value);
    void setJobLimit(int32_t limit);
    int32_t activeJobs() const;

private:
    using Clock = std::chrono::steady_clock;

    void readMore();
    void onRead(const asio::error_code &ec, size_t n);
    // Dispatches the frames that have arrived, then reads on, unless the master's unsent output
    // has passed its limit: then reading waits until it drains.
    void processFrames();
    // Network thread: the unsent output has passed its limit; its deadline starts, and reading
    // resumes (if it stopped) once it has drained.
    void outputOver();
    void outputDrained();
    void dispatch(const wire::FrameView &frame);
    void onHello(std::span<const uint8_t> body);
    void onJob(std::span<const uint8_t> body);
    // Worker: runs the connected callback, then lets the jobs held meanwhile go to the pool.
    void greet();
    void answer(uint64_t jobId, int32_t event);
    // The deadlines of the connection (handshake, silence, unfinished frame, trust, unread
    // output): one timer, set for the earliest. wakeBy moves it earlier when a new deadline is.
    void armWatchdog();
    void wakeBy(Clock::time_point when);
    void onWatchdog();
    // Network thread: sends a last frame, then waits a little for the master to close.
    void goodbye(wire::FrameType type, const std::string &reason);
    // Runs the end-of-master steps once the connection has ended and its last job has returned.
    void finaliseIfDone();

    SlaveServer &server_;
    SlaveShard &shard_;
    std::shared_ptr<Channel> channel_;
    asio::steady_timer timer_;
    wire::FrameAssembler assembler_;
    std::string address_;
    std::string addressKey_;
    uint16_t port_ = 0;
    std::atomic<intptr_t> handle_{0};

    // Network thread only.
    Clock::time_point accepted_;
    Clock::time_point lastReceived_;
    std::chrono::milliseconds silenceLimit_{10000};
    std::optional<Clock::time_point> frameBegun_;       // a frame is partly here
    std::optional<Clock::time_point> untrustedSince_;   // not trusted
    std::optional<Clock::time_point> outputOverSince_;  // too much output waits
    bool readPaused_ = false;                           // not read until the output drains
    std::atomic<bool> outputReported_{false};           // outputOver is posted or has run
    Clock::time_point watchdogDue_ = Clock::time_point::max();
    bool handshaken_ = false;
    bool closing_ = false;  // a goodbye was sent or the connection was closed
    bool ended_ = false;    // the socket is closed

    mutable std::mutex lock_;  // guards the fields below
    bool connected_ = false;
    bool closed_ = false;  // the socket is closed: the connection is over
    bool finalised_ = false;
    // The connected callback is queued or running: the master's jobs wait in held_, and the
    // end-of-master steps wait too, so that the callback comes first for every master.
    bool greeting_ = false;
    std::vector<std::shared_ptr<SlaveJob>> held_;
    intptr_t xtra_ = 0;
    int32_t jobLimit_ = 16;
    int32_t activeJobs_ = 0;
};

// One job from its arrival on a worker until its outcome is sent.
struct SlaveJob {
    intptr_t handle = 0;
    std::shared_ptr<MasterSession> session;
    std::shared_ptr<const JobDefinition> definition;
    uint64_t wireId = 0;
    std::shared_ptr<SharedList> params;

    std::mutex lock;      // guards the fields below
    bool running = true;  // until its outcome is on its way
    bool handlerReturned = false;
    std::optional<int32_t> finishedWith;  // Drovik_Slave_Job_Finish was called
    bool hasValue = false;
    int32_t valueType = 0;
    std::vector<uint8_t> value;
};

// Worker: runs the access check and the handler, then sends the outcome, unless the handler left
// the job pending.
void runJob(const std::shared_ptr<SlaveJob> &job);
// Drovik_Slave_Job_Finish: ends a job left pending, or marks how it ends once its handler returns
// pending. False when it is not running or was finished before.
bool finishJob(intptr_t job, int32_t event);
// Return_*: sets the value of a running job. False when the job is not running or the value cannot
// travel.
bool setJobValue(intptr_t job, int32_t type, std::span<const uint8_t> bytes);
// Job_SendMessage: streams bytes to the job's master. False when the job is not running any more
// or its connection has ended.
bool streamFromJob(intptr_t job, std::span<const uint8_t> bytes);

class SlaveServer {
public:
    // Binds and starts listening; null with a text in error.
    // tls: the identity connections are secured with; none for plaintext.
    static std::shared_ptr<SlaveServer> create(intptr_t handle, std::string_view bindAddress,
                                               int32_t port, Drovik_LogCallback log, size_t workers,
                                               tls::ServerIdentity tls, std::string &error);
    ~SlaveServer();

    intptr_t handle() const { return handle_; }
    int32_t port() const { return port_; }
    const tls::ContextPtr &tls() const { return tls_.context; }
    const std::string &fingerprint() const { return tls_.fingerprint; }
    // True on a thread of one of the shards' pools while it runs a task.
    bool onWorkerThread() const;
    void logLine(intptr_t peer, int32_t level, const std::string &text,
                 int32_t kind = DROVIK_LOG_GENERAL) const {
        emitLog(log_, handle_, peer, level, text, kind);
    }

    bool addJob(JobDefinition definition);
    std::shared_ptr<const JobDefinition> findJob(const std::string &name) const;
    int32_t countJobs() const;
    // The most values any registered job takes.
    size_t largestSignature() const { return largestSignature_.load(); }

    std::atomic<Drovik_AccessCheck> accessCheck{nullptr};
    std::atomic<Drovik_XtraDataDeinit> deinitCallback{nullptr};
    std::atomic<Drovik_MasterConnected> connectedCallback{nullptr};
    std::atomic<int32_t> defaultJobLimit{16};
    SlaveLimits limits;
    Admission admission;

    // Sessions: registered when the handshake succeeds (the master's handle, or 0 when the server
    // shuts down), forgotten once finalised.
    intptr_t registerMaster(const std::shared_ptr<MasterSession> &session);
    std::shared_ptr<MasterSession> findMaster(intptr_t master) const;
    int32_t countConnected() const;
    intptr_t nextConnected(intptr_t previous) const;
    // A session is gone for good: its handle (if any) is dropped and it no longer counts as live.
    void sessionGone(const std::shared_ptr<MasterSession> &session);
    bool shuttingDown() const;

    void setLastError(std::string text);
    std::string lastError() const;

    // DeInit: tells every master, waits for running jobs and the end-of-master callbacks, stops
    // the threads. Once only; false when already under way.
    bool shutdown();

private:
    SlaveServer(intptr_t handle, Drovik_LogCallback log, size_t workers, tls::ServerIdentity tls);
    // The shard with the fewest sessions; the acceptor's network thread.
    SlaveShard &quietestShard();
    void acceptNext();
    void acceptLater();
    void admit(SlaveShard &shard, asio::ip::tcp::socket socket);

    const Drovik_LogCallback log_;
    const intptr_t handle_;
    const tls::ServerIdentity tls_;
    int32_t port_ = 0;
    std::vector<std::unique_ptr<SlaveShard>> shards_;  // never empty; the first also accepts
    asio::ip::tcp::acceptor acceptor_;
    std::atomic<size_t> largestSignature_{0};

    mutable std::mutex lock_;  // guards the fields below
    std::condition_variable sessionsChanged_;
    std::unordered_map<std::string, std::shared_ptr<const JobDefinition>> jobs_;
    std::set<std::shared_ptr<MasterSession>> sessions_;           // every live session
    std::map<intptr_t, std::shared_ptr<MasterSession>> masters_;  // by handle, until finalised
    std::string lastError_;
    bool shuttingDown_ = false;
};

}  // namespace drovik

#endif  // DROVIK_SRC_SLAVE_H
