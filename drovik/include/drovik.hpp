// drovik.hpp - a thin header-only C++ layer over drovik.h for our own C++ code (server, tests,
// tools): RAII handles, lambdas as job handlers, and a blocking call for masters.
//
// It adds no behaviour of its own: everything goes through the C entry points, so what it does is
// what any C user of the library gets.
#pragma once

#include "drovik.h"

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

namespace drovik {

using Bytes = std::vector<uint8_t>;

// One parameter of a job, as a master sends it.
struct Integer {
    intptr_t value;
};
struct Quad {
    int64_t value;
};
using Value = std::variant<int32_t, Integer, float, double, Quad, std::string, Bytes>;

// Builds a library parameter list from values; 0 for an empty vector (a job without arguments).
inline intptr_t makeList(const std::vector<Value> &values) {
    if (values.empty())
        return 0;
    intptr_t list = Drovik_Parameter_New();
    for (const Value &v : values) {
        if (auto *l = std::get_if<int32_t>(&v))
            Drovik_Parameter_AddLong(list, *l);
        else if (auto *i = std::get_if<Integer>(&v))
            Drovik_Parameter_AddInteger(list, i->value);
        else if (auto *f = std::get_if<float>(&v))
            Drovik_Parameter_AddFloat(list, *f);
        else if (auto *d = std::get_if<double>(&v))
            Drovik_Parameter_AddDouble(list, *d);
        else if (auto *q = std::get_if<Quad>(&v))
            Drovik_Parameter_AddQuad(list, q->value);
        else if (auto *s = std::get_if<std::string>(&v))
            Drovik_Parameter_AddString(list, s->c_str());
        else if (auto *b = std::get_if<Bytes>(&v)) {
            void *block = Drovik_AllocateMemory(static_cast<int32_t>(b->size()));
            if (block && !b->empty())
                std::memcpy(block, b->data(), b->size());
            Drovik_Parameter_AddMem(list, block, static_cast<int32_t>(b->size()));
        }
    }
    return list;
}

// The outcome of one job as a blocking call sees it.
struct Reply {
    intptr_t jobId = 0;
    int32_t event = 0;  // DROVIK_EVENT_*; 0: not submitted, timed out, or the connection ended
    int32_t type = 0;   // DROVIK_TYPE_* of data
    Bytes data;         // the final value's bytes
    std::vector<Bytes> streamed;  // DROVIK_EVENT_STREAM blocks, in order
    int32_t connectionEvent = 0;  // KICKED or SHUTDOWN when the connection ended the wait

    int32_t asLong() const {
        int32_t v = 0;
        if (data.size() >= 4)
            std::memcpy(&v, data.data(), 4);
        return v;
    }
    std::string asString() const {
        std::string s(data.begin(), data.end());
        if (auto z = s.find('\0'); z != std::string::npos)
            s.resize(z);
        return s;
    }
};

namespace detail {
// Waiters of blocking calls, by job id; and per-master connection hooks. The library's callbacks
// carry no user pointer of their own, so these tables route them.
struct Pending {
    Reply reply;
    bool done = false;
    intptr_t slave = 0;
};
struct Router {
    std::mutex lock;
    std::condition_variable changed;
    std::map<intptr_t, std::shared_ptr<Pending>> jobs;
    std::map<intptr_t, std::function<void(intptr_t slave, int32_t event)>> connectionHooks;
};
inline Router &router() {
    static Router r;
    return r;
}

inline int32_t DROVIK_CALL jobCallback(intptr_t, intptr_t, intptr_t jobId, int32_t event,
                                       void *data, int32_t size, int32_t type) {
    Bytes bytes;
    if (data && size > 0)
        bytes.assign(static_cast<uint8_t *>(data), static_cast<uint8_t *>(data) + size);
    Drovik_FreeMemory(data);
    Router &r = router();
    std::lock_guard guard(r.lock);
    auto it = r.jobs.find(jobId);
    if (it == r.jobs.end())
        return 0;
    Pending &p = *it->second;
    if (event == DROVIK_EVENT_STREAM) {
        p.reply.streamed.push_back(std::move(bytes));
        return 0;
    }
    p.reply.event = event;
    p.reply.type = type;
    p.reply.data = std::move(bytes);
    p.done = true;
    r.changed.notify_all();
    return 0;
}

inline int32_t DROVIK_CALL connectionCallback(intptr_t master, intptr_t slave, intptr_t,
                                              int32_t event, void *data, int32_t, int32_t) {
    Drovik_FreeMemory(data);
    std::function<void(intptr_t, int32_t)> hook;
    {
        Router &r = router();
        std::lock_guard guard(r.lock);
        for (auto &[id, p] : r.jobs)
            if (p->slave == slave && !p->done) {
                p->reply.connectionEvent = event;
                p->done = true;
            }
        r.changed.notify_all();
        if (auto it = r.connectionHooks.find(master); it != r.connectionHooks.end())
            hook = it->second;
    }
    if (hook)
        hook(slave, event);
    return 0;
}
}  // namespace detail

// A master with its connections; DeInit on destruction.
class Master {
public:
    Master() : handle_(Drovik_Master_Init(nullptr)) {
        Drovik_Master_SetCallback(handle_, &detail::connectionCallback, 0);
    }
    ~Master() {
        {
            std::lock_guard guard(detail::router().lock);
            detail::router().connectionHooks.erase(handle_);
        }
        Drovik_Master_DeInit(handle_);
    }
    Master(const Master &) = delete;
    Master &operator=(const Master &) = delete;

    intptr_t handle() const { return handle_; }
    std::string lastError() const {
        const char *t = Drovik_Master_GetLastError(handle_);
        return t ? t : "";
    }
    // Connects (TLS unless transport says plaintext; knownServersFile "" is the user's default);
    // the slave handle, or 0 with lastError().
    intptr_t connect(const std::string &host, int32_t port, int32_t timeoutSeconds = 5,
                     int32_t transport = DROVIK_TRANSPORT_TLS,
                     const std::string &knownServersFile = "") {
        return Drovik_Master_AddSlave(handle_, host.c_str(), port, "", transport,
                                      knownServersFile.c_str(), "", 0, timeoutSeconds);
    }
    void disconnect(intptr_t slave) { Drovik_Master_RemoveSlave(handle_, slave); }
    // Called on a library thread with KICKED or SHUTDOWN when a connection ends.
    void onConnectionEvent(std::function<void(intptr_t slave, int32_t event)> hook) {
        std::lock_guard guard(detail::router().lock);
        detail::router().connectionHooks[handle_] = std::move(hook);
    }

    // Submits a job and waits for its outcome, at most `timeout`.
    Reply call(intptr_t slave, const std::string &job, const std::vector<Value> &params,
               int32_t replyType, std::chrono::milliseconds timeout = std::chrono::seconds(30)) {
        detail::Router &r = detail::router();
        auto pending = std::make_shared<detail::Pending>();
        pending->slave = slave;
        // The router lock is held across the submission so that an outcome that arrives at once
        // finds its waiter.
        std::unique_lock guard(r.lock);
        intptr_t id = Drovik_Master_DoJob(handle_, job.c_str(), slave, makeList(params),
                                          &detail::jobCallback, replyType, 0, 0, 0, 0, 0, 0, 1);
        if (id == 0)
            return {};
        pending->reply.jobId = id;
        r.jobs[id] = pending;
        r.changed.wait_for(guard, timeout, [&] { return pending->done; });
        r.jobs.erase(id);
        return pending->reply;
    }

private:
    intptr_t handle_;
};

// A running job as its handler sees it.
class Job {
public:
    Job(intptr_t slave, intptr_t master, intptr_t job, intptr_t list)
        : slave_(slave), master_(master), job_(job), list_(list) {}

    intptr_t slave() const { return slave_; }
    intptr_t master() const { return master_; }
    intptr_t id() const { return job_; }

    int32_t count() const { return Drovik_Parameter_Count(list_); }
    int32_t getLong(int32_t i) const { return Drovik_Parameter_GetLong(list_, i); }
    intptr_t getInteger(int32_t i) const { return Drovik_Parameter_GetInteger(list_, i); }
    float getFloat(int32_t i) const { return Drovik_Parameter_GetFloat(list_, i); }
    double getDouble(int32_t i) const { return Drovik_Parameter_GetDouble(list_, i); }
    int64_t getQuad(int32_t i) const { return Drovik_Parameter_GetQuad(list_, i); }
    std::string_view getString(int32_t i) const {
        const char *s = Drovik_Parameter_GetString(list_, i);
        return s ? std::string_view(s) : std::string_view();
    }
    std::span<const uint8_t> getMem(int32_t i) const {
        int32_t size = 0;
        auto *p = static_cast<const uint8_t *>(Drovik_Parameter_GetMem(list_, i, &size));
        return p ? std::span<const uint8_t>(p, static_cast<size_t>(size))
                 : std::span<const uint8_t>();
    }

    bool returnLong(int32_t v) const { return Drovik_Return_Long(job_, v) != 0; }
    bool returnInteger(intptr_t v) const { return Drovik_Return_Integer(job_, v) != 0; }
    bool returnFloat(float v) const { return Drovik_Return_Float(job_, v) != 0; }
    bool returnDouble(double v) const { return Drovik_Return_Double(job_, v) != 0; }
    bool returnQuad(int64_t v) const { return Drovik_Return_Quad(job_, v) != 0; }
    bool returnString(const std::string &s) const {
        return Drovik_Return_String(job_, s.c_str()) != 0;
    }
    bool returnMemory(std::span<const uint8_t> b) const {
        return Drovik_Return_Memory(job_, b.data(), static_cast<int32_t>(b.size())) != 0;
    }
    bool sendMessage(std::span<const uint8_t> b) const {
        return Drovik_Slave_Job_SendMessage(job_, b.data(), static_cast<int32_t>(b.size())) != 0;
    }
    // Ends the job after its handler returned DROVIK_JOB_PENDING; from any thread. The parameters
    // are gone by then: only the return..., sendMessage and finish calls remain.
    bool finish(int32_t event) const { return Drovik_Slave_Job_Finish(job_, event) != 0; }

private:
    intptr_t slave_, master_, job_, list_;
};

// A listening slave with its jobs; DeInit (shutdown to every master) on destruction.
// How a slave's connections are secured: TLS with the certificate and key in these files (both
// empty: a key made in memory; createIfMissing: a self-signed pair is made when neither file
// exists), or plaintext.
struct SlaveTransport {
    int32_t kind = DROVIK_TRANSPORT_TLS;
    std::string certificateFile;
    std::string keyFile;
    bool createIfMissing = false;
};

class Slave {
public:
    // The handler's result is the event that ends the job (DROVIK_EVENT_FINISHED after a return*).
    using Handler = std::function<int32_t(const Job &)>;
    using AccessCheck = std::function<bool(intptr_t master, std::string_view job, intptr_t xtra)>;
    using MasterGone = std::function<void(intptr_t master, intptr_t xtra)>;
    using MasterConnected = std::function<void(intptr_t master)>;

    using Transport = SlaveTransport;

    // log (may be null) receives the slave's events, on library threads.
    Slave(const std::string &bindAddress, int32_t port, int32_t workers = 0,
          Drovik_LogCallback log = nullptr, const Transport &transport = {}) {
        handle_ = Drovik_Slave_InitTransport(
            bindAddress.c_str(), port, log, workers, &port_, transport.kind,
            transport.certificateFile.c_str(), transport.keyFile.c_str(),
            transport.createIfMissing ? DROVIK_TLS_CREATE_IF_MISSING : 0);
        if (handle_ == 0) {
            const char *t = Drovik_Slave_GetLastError(0);
            error_ = t ? t : "unknown failure";
            return;
        }
        std::lock_guard guard(registry().lock);
        registry().slaves[handle_] = this;
    }
    ~Slave() { shutdown(); }
    Slave(const Slave &) = delete;
    Slave &operator=(const Slave &) = delete;

    bool ok() const { return handle_ != 0; }
    const std::string &error() const { return error_; }
    // The certificate's SHA-256 fingerprint; empty for plaintext.
    std::string fingerprint() const {
        const char *t = Drovik_Slave_GetFingerprint(handle_);
        return t ? t : "";
    }
    intptr_t handle() const { return handle_; }
    int32_t port() const { return port_; }

    // Stops the slave: every master receives SHUTDOWN. Safe to call twice.
    void shutdown() {
        if (handle_ == 0)
            return;
        Drovik_Slave_DeInit(handle_);
        std::lock_guard guard(registry().lock);
        registry().slaves.erase(handle_);
        handle_ = 0;
    }

    bool addJob(const std::string &name, const std::string &types, Handler handler) {
        auto owned = std::make_unique<Handler>(std::move(handler));
        intptr_t user = reinterpret_cast<intptr_t>(owned.get());
        handlers_.push_back(std::move(owned));
        return Drovik_Slave_AddJob(handle_, name.c_str(), &runHandler, types.c_str(), user) != 0;
    }
    void setAccessCheck(AccessCheck check) {
        accessCheck_ = std::move(check);
        Drovik_Slave_SetMasterJobAccessCheck(handle_, accessCheck_ ? &runAccessCheck : nullptr);
    }
    // Called on a worker once a master has connected, before any of its jobs is checked or run.
    void onMasterConnected(MasterConnected connected) {
        masterConnected_ = std::move(connected);
        Drovik_Slave_SetMasterConnectedCallback(handle_,
                                                masterConnected_ ? &runMasterConnected : nullptr);
    }
    void onMasterGone(MasterGone gone) {
        masterGone_ = std::move(gone);
        Drovik_Slave_SetMasterXtraDataDeinitCallback(handle_,
                                                     masterGone_ ? &runMasterGone : nullptr);
    }

    bool kick(intptr_t master) const { return Drovik_Slave_KickMaster(handle_, master) != 0; }
    int32_t countMasters() const { return Drovik_Slave_CountMasters(handle_); }
    // The first connected master after previous (0: the first), or 0.
    intptr_t nextMaster(intptr_t previous = 0) const {
        return Drovik_Slave_IterateMasters(handle_, previous);
    }
    intptr_t xtra(intptr_t master) const { return Drovik_Slave_GetMasterXtraData(handle_, master); }
    bool setXtra(intptr_t master, intptr_t v) const {
        return Drovik_Slave_SetMasterXtraData(handle_, master, v) != 0;
    }
    std::string masterIP(intptr_t master) const {
        const char *t = Drovik_Slave_GetMasterIP(handle_, master);
        return t ? t : "";
    }
    bool setJobLimit(intptr_t master, int32_t limit) const {
        return Drovik_Slave_SetMasterJobLimit(handle_, master, limit) != 0;
    }
    // One of the DROVIK_LIMIT_* limits.
    bool setLimit(int32_t limit, int64_t value) const {
        return Drovik_Slave_SetLimit(handle_, limit, value) != 0;
    }
    int64_t limit(int32_t limit) const { return Drovik_Slave_GetLimit(handle_, limit); }
    bool setTrusted(intptr_t master, bool trusted) const {
        return Drovik_Slave_SetMasterTrusted(handle_, master, trusted ? 1 : 0) != 0;
    }

private:
    struct Registry {
        std::mutex lock;
        std::map<intptr_t, Slave *> slaves;
    };
    static Registry &registry() {
        static Registry r;
        return r;
    }
    static Slave *find(intptr_t handle) {
        std::lock_guard guard(registry().lock);
        auto it = registry().slaves.find(handle);
        return it == registry().slaves.end() ? nullptr : it->second;
    }
    // The trampolines below are called through C function pointers: nothing may leave them as an
    // exception. A handler that throws has failed; an access check that throws, or whose slave
    // object cannot be found, refuses.
    static int32_t DROVIK_CALL runHandler(intptr_t slave, intptr_t master, intptr_t job,
                                          intptr_t list, intptr_t user) {
        try {
            return (*reinterpret_cast<Handler *>(user))(Job(slave, master, job, list));
        } catch (...) {
            return DROVIK_EVENT_FAILED;
        }
    }
    static int32_t DROVIK_CALL runAccessCheck(intptr_t slave, intptr_t master, const char *job,
                                              intptr_t xtra) {
        try {
            Slave *s = find(slave);
            if (s == nullptr)
                return 0;
            return !s->accessCheck_ || s->accessCheck_(master, job ? job : "", xtra) ? 1 : 0;
        } catch (...) {
            return 0;
        }
    }
    static void DROVIK_CALL runMasterConnected(intptr_t slave, intptr_t master) {
        try {
            Slave *s = find(slave);
            if (s && s->masterConnected_)
                s->masterConnected_(master);
        } catch (...) {
        }
    }
    static void DROVIK_CALL runMasterGone(intptr_t slave, intptr_t master, intptr_t xtra) {
        try {
            Slave *s = find(slave);
            if (s && s->masterGone_)
                s->masterGone_(master, xtra);
        } catch (...) {
        }
    }

    intptr_t handle_ = 0;
    int32_t port_ = 0;
    std::string error_;
    std::vector<std::unique_ptr<Handler>> handlers_;
    AccessCheck accessCheck_;
    MasterGone masterGone_;
    MasterConnected masterConnected_;
};

}  // namespace drovik
