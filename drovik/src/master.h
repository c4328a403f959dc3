// The master side: a master owns its connections to slaves; each connection has a thread of its own
// that reads the slave's frames, keeps the heartbeat and runs the job and connection callbacks.
#ifndef DROVIK_SRC_MASTER_H
#define DROVIK_SRC_MASTER_H

#include <asio.hpp>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

#include "channel.h"
#include "codec.h"
#include "drovik.h"
#include "errors.h"

namespace drovik {

struct HeartbeatSettings {
    int32_t intervalMs = 1000;
    int32_t timeoutMs = 5000;
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
    static std::shared_ptr<MasterConnection> open(std::shared_ptr<MasterShared> master,
                                                  const Options &options, std::string &error);
    ~MasterConnection();
    MasterConnection(const MasterConnection &) = delete;
    MasterConnection &operator=(const MasterConnection &) = delete;

    intptr_t handle() const { return handle_; }
    const std::string &address() const { return address_; }

    // Starts the connection's thread. Called once, after the handle is published.
    void start();
    // Submits a job: its id, or 0 with the reason in error (then no callback follows).
    intptr_t submit(std::string_view name, const ParamList &params, Drovik_Callback callback,
                    int32_t replyType, bool deliver, Error &error);
    // No callback of this connection starts after this; the connection closes. Off the library's
    // threads, it also waits for the connection's thread, so no callback is running on return.
    void remove();
    // Waits for the connection's thread to end (never from that thread itself).
    void join();
    bool finished() const { return finished_.load(); }

    // Handshake done, not ended, not removed.
    bool alive() const;
    int32_t pendingJobs() const;
    intptr_t xtra() const;
    void setXtra(intptr_t value);

    // True on a thread of a connection of the given master (that is, inside its callbacks).
    static bool onThreadOf(const MasterShared *master);
    // True on the thread of any master connection.
    static bool onAnyConnectionThread();

private:
    struct PendingJob {
        Drovik_Callback callback = nullptr;
        bool deliver = true;
    };

    MasterConnection(std::shared_ptr<MasterShared> master, HeartbeatSettings heartbeat);

    bool handshake(const Options &options, std::string &error);
    void readMore();
    void onRead(const asio::error_code &ec, size_t n);
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

    // Declared first: destroyed last, after everything that uses it.
    asio::io_context io_{1};  // run by one thread only
    std::shared_ptr<MasterShared> master_;
    const intptr_t handle_;
    const HeartbeatSettings heartbeat_;
    std::string address_;
    std::shared_ptr<Channel> channel_;
    asio::steady_timer timer_;
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

    std::mutex joinLock_;
    std::thread thread_;
    std::atomic<bool> finished_{false};
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

    // Drops every connection and waits for their threads. Once only.
    void close();

private:
    void reapFinished();

    std::shared_ptr<MasterShared> shared_;
    mutable std::mutex lock_;
    std::map<intptr_t, std::shared_ptr<MasterConnection>> connections_;
    // Removed connections whose thread may still run; joined later from a thread of the caller's.
    std::vector<std::shared_ptr<MasterConnection>> retired_;
    HeartbeatSettings heartbeat_;
    std::string lastError_;
    bool closed_ = false;
};

}  // namespace drovik

#endif  // DROVIK_SRC_MASTER_H
