// Exported entry points: the slave side and the Return_ family.
#include <algorithm>
#include <cstring>
#include <thread>

#include "api_support.h"
#include "bytes.h"
#include "drovik.h"
#include "handle_table.h"
#include "params.h"
#include "slave.h"

using namespace drovik;

namespace {

HandleTable<SlaveServer> &slaves() {
    return tableOf<SlaveServer>();
}

thread_local std::string tlsNoSlaveError;

template <class R>
R failWithoutSlave(R result, std::string text) {
    tlsNoSlaveError = std::move(text);
    return result;
}

template <class R>
R fail(SlaveServer &s, R result, Error e) {
    s.setLastError(errorText(e));
    return result;
}

template <class R, class F>
R withSlave(intptr_t handle, R onFailure, F &&f) {
    return guarded<R>(onFailure, [&]() -> R {
        auto s = slaves().find(handle);
        if (!s)
            return failWithoutSlave(onFailure, errorText(Error::UnknownSlaveHandle));
        return f(*s);
    });
}

// Runs f with one master of the slave; onFailure when either is unknown.
template <class R, class F>
R withSession(intptr_t slave, intptr_t master, R onFailure, F &&f) {
    return withSlave<R>(slave, onFailure, [&](SlaveServer &s) -> R {
        auto session = s.findMaster(master);
        if (!session)
            return fail(s, onFailure, Error::UnknownMasterConnection);
        return f(s, *session);
    });
}

std::span<const uint8_t> bytesOf(const void *data, int32_t size) {
    return std::span(static_cast<const uint8_t *>(data), static_cast<size_t>(size));
}

// Sets a number as the job's value, in its little-endian wire form.
template <class Put>
int32_t returnNumber(intptr_t job, int32_t type, Put put) {
    return guarded<int32_t>(0, [&] {
        std::vector<uint8_t> bytes;
        ByteWriter w(bytes);
        put(w);
        return setJobValue(job, type, bytes) ? 1 : 0;
    });
}

}  // namespace

extern "C" {

DROVIK_API intptr_t DROVIK_CALL Drovik_Slave_Init(const char *bindAddress, int32_t port,
                                                  Drovik_LogCallback log, int32_t workers,
                                                  int32_t *boundPort) {
    return Drovik_Slave_InitTransport(bindAddress, port, log, workers, boundPort,
                                      DROVIK_TRANSPORT_TLS, "", "", 0);
}

DROVIK_API intptr_t DROVIK_CALL Drovik_Slave_InitTransport(const char *bindAddress, int32_t port,
                                                           Drovik_LogCallback log, int32_t workers,
                                                           int32_t *boundPort, int32_t transport,
                                                           const char *certificateFile,
                                                           const char *keyFile, int32_t flags) {
    return guarded<intptr_t>(0, [&]() -> intptr_t {
        if (transport != DROVIK_TRANSPORT_TLS && transport != DROVIK_TRANSPORT_PLAINTEXT)
            return failWithoutSlave(intptr_t{0}, "Unknown transport " + std::to_string(transport));
        if ((flags & ~DROVIK_TLS_CREATE_IF_MISSING) != 0)
            return failWithoutSlave(intptr_t{0}, "Unknown flags " + std::to_string(flags));
        if (port < 0 || port > 65535)
            return failWithoutSlave(intptr_t{0}, "The port must be between 0 and 65535");
        if (workers < 0 || workers > 1024)
            return failWithoutSlave(intptr_t{0},
                                    "The number of workers must be between 0 and 1024");
        size_t threads = workers > 0 ? static_cast<size_t>(workers)
                                     : std::max<size_t>(2, std::thread::hardware_concurrency());
        std::string error;
        tls::ServerIdentity identity;
        if (transport == DROVIK_TRANSPORT_TLS) {
            identity = tls::serverIdentity(std::string(textOf(certificateFile)),
                                           std::string(textOf(keyFile)),
                                           (flags & DROVIK_TLS_CREATE_IF_MISSING) != 0, error);
            if (!identity.context)
                return failWithoutSlave(intptr_t{0}, std::move(error));
        }
        intptr_t h = newHandle();
        auto s = SlaveServer::create(h, textOf(bindAddress), port, log, threads,
                                     std::move(identity), error);
        if (!s)
            return failWithoutSlave(intptr_t{0}, std::move(error));
        if (boundPort != nullptr)
            *boundPort = s->port();
        slaves().insert(h, std::move(s));
        return h;
    });
}

DROVIK_API const char *DROVIK_CALL Drovik_Slave_GetFingerprint(intptr_t slave) {
    thread_local std::string text;
    return withSlave<const char *>(slave, nullptr, [&](SlaveServer &s) -> const char * {
        if (s.fingerprint().empty())
            return nullptr;
        text = s.fingerprint();
        return text.c_str();
    });
}

DROVIK_API int32_t DROVIK_CALL Drovik_Slave_DeInit(intptr_t slave) {
    return withSlave<int32_t>(slave, 0, [&](SlaveServer &s) -> int32_t {
        if (s.onWorkerThread())
            return fail(s, 0, Error::OwnHandler);
        if (!s.shutdown())
            return 0;
        slaves().take(slave);
        return 1;
    });
}

DROVIK_API const char *DROVIK_CALL Drovik_Slave_GetLastError(intptr_t slave) {
    return guarded<const char *>(nullptr, [&]() -> const char * {
        auto s = slaves().find(slave);
        std::string text = s ? s->lastError() : tlsNoSlaveError;
        if (text.empty())
            return nullptr;
        return keepForThread(TextSlot::SlaveLastError, std::move(text));
    });
}

DROVIK_API int32_t DROVIK_CALL Drovik_Slave_AddJob(intptr_t slave, const char *jobName,
                                                   Drovik_JobHandler handler,
                                                   const char *parameterTypes, intptr_t userData) {
    return withSlave<int32_t>(slave, 0, [&](SlaveServer &s) -> int32_t {
        std::string_view name = textOf(jobName);
        if (name.empty())
            return fail(s, 0, Error::NoJobName);
        if (name.size() > wire::kMaxJobNameLength)
            return fail(s, 0, Error::JobNameTooLong);
        if (handler == nullptr)
            return fail(s, 0, Error::NoHandler);
        std::string_view signature = textOf(parameterTypes);
        if (!validSignature(signature))
            return fail(s, 0, Error::BadSignature);
        return s.addJob({std::string(name), handler, std::string(signature), userData}) ? 1 : 0;
    });
}

DROVIK_API int32_t DROVIK_CALL Drovik_Slave_CountJobs(intptr_t slave) {
    return withSlave<int32_t>(slave, 0, [](SlaveServer &s) { return s.countJobs(); });
}

DROVIK_API int32_t DROVIK_CALL Drovik_Slave_CountMasters(intptr_t slave) {
    return withSlave<int32_t>(slave, 0, [](SlaveServer &s) { return s.countConnected(); });
}

DROVIK_API intptr_t DROVIK_CALL Drovik_Slave_IterateMasters(intptr_t slave, intptr_t previous) {
    return withSlave<intptr_t>(slave, 0, [&](SlaveServer &s) { return s.nextConnected(previous); });
}

DROVIK_API int32_t DROVIK_CALL Drovik_Slave_KickMaster(intptr_t slave, intptr_t master) {
    return withSession<int32_t>(slave, master, 0, [](SlaveServer &s, MasterSession &m) -> int32_t {
        if (!m.kick())
            return fail(s, 0, Error::UnknownMasterConnection);
        return 1;
    });
}

DROVIK_API int32_t DROVIK_CALL Drovik_Slave_SetMasterJobLimit(intptr_t slave, intptr_t master,
                                                              int32_t limit) {
    return withSlave<int32_t>(slave, 0, [&](SlaveServer &s) -> int32_t {
        if (limit < 1)
            return fail(s, 0, Error::BadJobLimit);
        if (master == 0) {
            s.defaultJobLimit.store(limit);
            return 1;
        }
        auto session = s.findMaster(master);
        if (!session)
            return fail(s, 0, Error::UnknownMasterConnection);
        session->setJobLimit(limit);
        return 1;
    });
}

DROVIK_API int32_t DROVIK_CALL Drovik_Slave_SetLimit(intptr_t slave, int32_t limit, int64_t value) {
    return withSlave<int32_t>(slave, 0, [&](SlaveServer &s) -> int32_t {
        if (!s.limits.set(limit, value))
            return fail(s, 0, Error::BadLimit);
        return 1;
    });
}

DROVIK_API int64_t DROVIK_CALL Drovik_Slave_GetLimit(intptr_t slave, int32_t limit) {
    return withSlave<int64_t>(slave, -1, [&](SlaveServer &s) { return s.limits.get(limit); });
}

DROVIK_API int32_t DROVIK_CALL Drovik_Slave_SetMasterTrusted(intptr_t slave, intptr_t master,
                                                             int32_t trusted) {
    return withSession<int32_t>(slave, master, 0, [&](SlaveServer &s, MasterSession &m) -> int32_t {
        if (!s.admission.setTrusted(&m, trusted != 0))
            return fail(s, 0, Error::UnknownMasterConnection);
        m.trustChanged();
        return 1;
    });
}

DROVIK_API int32_t DROVIK_CALL Drovik_Slave_CountMasterJobs(intptr_t slave, intptr_t master) {
    return withSession<int32_t>(slave, master, -1,
                                [](SlaveServer &, MasterSession &m) { return m.activeJobs(); });
}

DROVIK_API const char *DROVIK_CALL Drovik_Slave_GetMasterIP(intptr_t slave, intptr_t master) {
    return withSession<const char *>(slave, master, nullptr, [](SlaveServer &, MasterSession &m) {
        return keepForThread(TextSlot::MasterIP, m.address());
    });
}

DROVIK_API int32_t DROVIK_CALL Drovik_Slave_GetMasterPort(intptr_t slave, intptr_t master) {
    return withSession<int32_t>(slave, master, 0, [](SlaveServer &, MasterSession &m) {
        return static_cast<int32_t>(m.port());
    });
}

DROVIK_API intptr_t DROVIK_CALL Drovik_Slave_GetMasterXtraData(intptr_t slave, intptr_t master) {
    return withSession<intptr_t>(slave, master, 0,
                                 [](SlaveServer &, MasterSession &m) { return m.xtra(); });
}

DROVIK_API int32_t DROVIK_CALL Drovik_Slave_SetMasterXtraData(intptr_t slave, intptr_t master,
                                                              intptr_t value) {
    return withSession<int32_t>(slave, master, 0, [&](SlaveServer &, MasterSession &m) {
        m.setXtra(value);
        return 1;
    });
}

DROVIK_API int32_t DROVIK_CALL
Drovik_Slave_SetMasterXtraDataDeinitCallback(intptr_t slave, Drovik_XtraDataDeinit callback) {
    return withSlave<int32_t>(slave, 0, [&](SlaveServer &s) {
        s.deinitCallback.store(callback);
        return 1;
    });
}

DROVIK_API int32_t DROVIK_CALL
Drovik_Slave_SetMasterConnectedCallback(intptr_t slave, Drovik_MasterConnected callback) {
    return withSlave<int32_t>(slave, 0, [&](SlaveServer &s) {
        s.connectedCallback.store(callback);
        return 1;
    });
}

DROVIK_API int32_t DROVIK_CALL Drovik_Slave_SetMasterJobAccessCheck(intptr_t slave,
                                                                    Drovik_AccessCheck check) {
    return withSlave<int32_t>(slave, 0, [&](SlaveServer &s) {
        s.accessCheck.store(check);
        return 1;
    });
}

DROVIK_API int32_t DROVIK_CALL Drovik_Slave_Job_SendMessage(intptr_t job, const void *data,
                                                            int32_t size) {
    return guarded<int32_t>(0, [&] {
        if (size < 0 || (data == nullptr && size > 0))
            return 0;
        return streamFromJob(job, bytesOf(data, size)) ? 1 : 0;
    });
}

DROVIK_API int32_t DROVIK_CALL Drovik_Slave_Job_Finish(intptr_t job, int32_t event) {
    return guarded<int32_t>(0, [&] { return finishJob(job, event) ? 1 : 0; });
}

DROVIK_API int32_t DROVIK_CALL Drovik_Return_Memory(intptr_t job, const void *data, int32_t size) {
    return guarded<int32_t>(0, [&] {
        if (size < 0 || (data == nullptr && size > 0))
            return 0;
        return setJobValue(job, DROVIK_TYPE_MEMORY, bytesOf(data, size)) ? 1 : 0;
    });
}

DROVIK_API int32_t DROVIK_CALL Drovik_Return_Long(intptr_t job, int32_t value) {
    return returnNumber(job, DROVIK_TYPE_LONG, [&](ByteWriter &w) { w.i32(value); });
}

DROVIK_API int32_t DROVIK_CALL Drovik_Return_Integer(intptr_t job, intptr_t value) {
    return returnNumber(job, DROVIK_TYPE_INTEGER, [&](ByteWriter &w) { w.i64(value); });
}

DROVIK_API int32_t DROVIK_CALL Drovik_Return_Float(intptr_t job, float value) {
    return returnNumber(job, DROVIK_TYPE_FLOAT, [&](ByteWriter &w) { w.f32(value); });
}

DROVIK_API int32_t DROVIK_CALL Drovik_Return_Double(intptr_t job, double value) {
    return returnNumber(job, DROVIK_TYPE_DOUBLE, [&](ByteWriter &w) { w.f64(value); });
}

DROVIK_API int32_t DROVIK_CALL Drovik_Return_Quad(intptr_t job, int64_t value) {
    return returnNumber(job, DROVIK_TYPE_QUAD, [&](ByteWriter &w) { w.i64(value); });
}

DROVIK_API int32_t DROVIK_CALL Drovik_Return_String(intptr_t job, const char *text) {
    return guarded<int32_t>(0, [&] {
        std::string_view s = textOf(text);
        return setJobValue(job, DROVIK_TYPE_STRING,
                           std::span(reinterpret_cast<const uint8_t *>(s.data()), s.size()))
                   ? 1
                   : 0;
    });
}

}  // extern "C"
