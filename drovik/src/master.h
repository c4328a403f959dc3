// The master side: a master owns its connections to slaves and a few network threads, however many
// connections it has. Each connection lives on one of them, which reads the slave's frames, keeps
// the heartbeat and runs the connection's job and connection callbacks.
#ifndef DROVIK_SRC_MASTER_H
#define DROVIK_SRC_MASTER_H

#include <asio.hpp>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

#include "channel.h"
#include "codec.h"
#include "drovik.h"
#include "errors.h"

// Asio picks its own thread type by whether <pthread.h> came before it, and MinGW's <thread> brings
// it in; the build tells Asio once for every file (drovik/CMakeLists.txt). A file left to choose
// otherwise gives an io_context a timer thread of one kind that is joined as the other.
#if defined(_WIN32) && defined(_POSIX_THREADS) && !defined(ASIO_HAS_PTHREADS)
#error "Asio was configured before <pthread.h>: the build must define ASIO_HAS_PTHREADS"
#endif

namespace drovik {

struct HeartbeatSettings {
    int32_t intervalMs = 1000;
    int32_t timeoutMs = 5000;
};

struct MasterShared;

// One network thread of a master and the io_context it runs. Every handler of a connection runs
// on its thread, one at a time, so a connection's own state needs no lock.
class NetworkThread {
public:
    NetworkThread() = default;
    NetworkThread(const NetworkThread &) = delete;
    NetworkThread &operator=(const NetworkThread &) = delete;

    // Starts the thread for the master's connections. Once, under the master's lock.
    void start(const MasterShared *master);
    // Lets the thread end once its connections are closed, and waits for it. Once, never on the
    // thread itself.
    void stop();

    // Queues f for the thread. False, with f dropped, once the thread has stopped running what is
    // posted: a caller must then not wait for f, and may do its work itself, as no handler of the
    // thread's connections runs any more. Any thread.
    template <class F>
    bool post(F &&f) {
        std::lock_guard guard(lock_);
        if (finished_)
            return false;
        asio::post(io_, std::forward<F>(f));
        return true;
    }

    bool isCurrent() const { return id_.load() == std::this_thread::get_id(); }
    // For the sockets and timers of its connections.
    asio::io_context &io() { return io_; }

    std::atomic<size_t> connections{0};  // live connections on this thread

private:
    // The body of the thread.
    void serve(const MasterShared *master);

    asio::io_context io_{1};
    asio::executor_work_guard<asio::io_context::executor_type> work_{asio::make_work_guard(io_)};
    std::thread thread_;
    std::atomic<std::thread::id> id_{};  // set by the thread itself before it runs anything
    std::mutex lock_;
    bool finished_ = false;  // under lock_: what is posted from now on would never run
};

// What a master's connections need of their master.
struct MasterShared {
    intptr_t handle = 0;
    Drovik_LogCallback log = nullptr;
    std::atomic<Drovik_Callback> connectionCallback{nullptr};

    void logLine(intptr_t peer, int32_t level, const std::string &text) const {
        emitLog(log, handle, peer, level, text);
    }
};

class MasterConnection : public std::enable_shared_from_this<MasterConnection> {
public:
    struct Options {
        std::string host;
        int32_t port = 0;
        std::string clientName;
        int32_t timeoutSeconds = 10;
        HeartbeatSettings heartbeat;
        int32_t transport = DROVIK_TRANSPORT_TLS;
        std::string knownServersFile;  // "" for the user's default
    };

    // Connects and shakes hands on the calling thread, within the time-out; null with a text that
    // tells why in error.
    // The connection then lives on the given network thread, whose count it holds until it ends.
    static std::shared_ptr<MasterConnection> open(std::shared_ptr<MasterShared> master,
                                                  const Options &options,
                                                  std::shared_ptr<NetworkThread> network,
                                                  std::string &error);
    ~MasterConnection();
    MasterConnection(const MasterConnection &) = delete;
    MasterConnection &operator=(const MasterConnection &) = delete;

    intptr_t handle() const { return handle_; }
    const std::string &address() const { return address_; }

    // Starts reading on the network thread. Called once, after the handle is published.
    void start();
    // Closes a connection that was never started (its master closed meanwhile).
    void discard();
    // Submits a job: its id, or 0 with the reason in error (then no callback follows).
    intptr_t submit(std::string_view name, const ParamList &params, Drovik_Callback callback,
                    int32_t replyType, bool deliver, Error &error);
    // No callback of this connection starts after this; the connection closes. Off the library's
    // threads, it also waits until the connection's thread has closed it, so no callback is
    // running on return.
    void remove();

    // Handshake done, not ended, not removed.
    bool alive() const;
    int32_t pendingJobs() const;
    intptr_t xtra() const;
    void setXtra(intptr_t value);

    // True on a network thread of the given master (that is, inside its callbacks).
    static bool onThreadOf(const MasterShared *master);
    // True on a network thread of any master.
    static bool onAnyConnectionThread();
    // Marks the calling thread as a network thread of the master, for good.
    static void markNetworkThread(const MasterShared *master);

private:
    struct PendingJob {
        Drovik_Callback callback = nullptr;
        bool deliver = true;
    };

    MasterConnection(std::shared_ptr<MasterShared> master, HeartbeatSettings heartbeat,
                     std::shared_ptr<NetworkThread> network);

    struct Attempt;
    using Endpoints = std::vector<asio::ip::tcp::endpoint>;
    void begin(const std::shared_ptr<Attempt> &attempt, std::unique_ptr<tls::Session> security);
    void connect(const std::shared_ptr<Attempt> &attempt, const Endpoints &endpoints,
                 std::unique_ptr<tls::Session> security);
    void readWelcome(const std::shared_ptr<Attempt> &attempt);
    void decide(Attempt &attempt);
    bool failed(Attempt &attempt, const asio::error_code &e);
    std::string handshakeFailure(const Attempt &attempt) const;
    void readMore();
    void onRead(const asio::error_code &ec, size_t n);
    // Dispatches the frames that have arrived; false when the connection ended meanwhile.
    bool processFrames();
    void dispatch(const wire::FrameView &frame);
    void onResult(const wire::Result &result);
    void onStream(const wire::StreamMessage &message);
    void armHeartbeat();
    void onHeartbeat();
    void sendOrEnd(wire::Frame frame);
    void noteSent();
    // Ends the connection from its own thread: one connection event unless removed.
    void end(int32_t event, const std::string &reason);
    void closeNow();
    void invoke(Drovik_Callback cb, intptr_t jobId, int32_t event, void *data, int32_t size,
                int32_t type);

    // Declared first: destroyed last, after the socket and timer that use its io_context.
    std::shared_ptr<NetworkThread> network_;
    std::shared_ptr<MasterShared> master_;
    const intptr_t handle_;
    const HeartbeatSettings heartbeat_;
    std::string address_;
    std::shared_ptr<Channel> channel_;
    std::optional<asio::steady_timer> timer_;  // made on the network thread's io_context
    wire::FrameAssembler assembler_;

    // Used on the connection's thread only.
    std::chrono::steady_clock::time_point lastReceived_;
    bool ending_ = false;
    uint64_t pingToken_ = 0;
    // When a frame last left, from any thread (steady_clock ticks).
    std::atomic<std::chrono::steady_clock::rep> lastSent_{0};

    mutable std::mutex lock_;  // guards the fields below
    bool alive_ = false;
    bool removed_ = false;
    intptr_t xtra_ = 0;
    std::unordered_map<uint64_t, PendingJob> jobs_;
};

class Master {
public:
    explicit Master(Drovik_LogCallback log);

    const std::shared_ptr<MasterShared> &shared() const { return shared_; }

    // The new connection's handle, or 0 with the reason in error.
    intptr_t addSlave(const MasterConnection::Options &options, std::string &error);
    bool removeSlave(intptr_t slave);
    std::shared_ptr<MasterConnection> find(intptr_t slave) const;
    int32_t countLive() const;
    intptr_t nextLive(intptr_t previous) const;

    HeartbeatSettings heartbeat() const;
    void setHeartbeat(HeartbeatSettings settings);

    void setLastError(std::string text);
    std::string lastError() const;

    // Drops every connection and ends the network threads. Once only.
    void close();

    // Network threads of a master at most: enough for the processor to serve many connections,
    // few enough that a master of thousands of connections stays a handful of threads.
    static size_t maxNetworkThreads();

private:
    // The thread for a new connection, counted for it: an idle one, a new one while fewer than the
    // most, else the least busy. Under lock_.
    std::shared_ptr<NetworkThread> pickNetworkThread();

    std::shared_ptr<MasterShared> shared_;
    mutable std::mutex lock_;
    std::map<intptr_t, std::shared_ptr<MasterConnection>> connections_;
    std::vector<std::shared_ptr<NetworkThread>> network_;
    HeartbeatSettings heartbeat_;
    std::string lastError_;
    bool closed_ = false;
};

}  // namespace drovik

#endif  // DROVIK_SRC_MASTER_H
