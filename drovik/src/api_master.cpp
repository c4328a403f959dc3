// Exported entry points: the master side.
#include "api_support.h"
#include "drovik.h"
#include "handle_table.h"
#include "master.h"
#include "shared_list.h"

using namespace drovik;

namespace {

HandleTable<Master> &masters() {
    return tableOf<Master>();
}

// Failures that have no master to keep them (Init, unknown handles) are kept per thread.
thread_local std::string tlsNoMasterError;

template <class R>
R failWithoutMaster(R result, Error e) {
    tlsNoMasterError = errorText(e);
    return result;
}

template <class R>
R fail(Master &m, R result, std::string text) {
    m.setLastError(std::move(text));
    return result;
}

template <class R>
R fail(Master &m, R result, Error e) {
    return fail(m, result, std::string(errorText(e)));
}

// Runs f with the master; the failure value, and the text for GetLastError, for an unknown one.
template <class R, class F>
R withMaster(intptr_t handle, R onFailure, F &&f) {
    return guarded<R>(onFailure, [&]() -> R {
        auto m = masters().find(handle);
        if (!m)
            return failWithoutMaster(onFailure, Error::UnknownMaster);
        return f(*m);
    });
}

}  // namespace

extern "C" {

DROVIK_API intptr_t DROVIK_CALL Drovik_Master_Init(Drovik_LogCallback log) {
    return guarded<intptr_t>(0, [&] {
        auto m = std::make_shared<Master>(log);
        intptr_t h = newHandle();
        m->shared()->handle = h;
        masters().insert(h, m);
        return h;
    });
}

DROVIK_API int32_t DROVIK_CALL Drovik_Master_DeInit(intptr_t master) {
    return withMaster<int32_t>(master, 0, [&](Master &m) -> int32_t {
        if (MasterConnection::onThreadOf(m.shared().get()))
            return fail(m, 0, Error::OwnCallback);
        auto taken = masters().take(master);
        if (!taken)  // released by another thread in the meantime
            return 0;
        taken->close();
        return 1;
    });
}

DROVIK_API const char *DROVIK_CALL Drovik_Master_GetLastError(intptr_t master) {
    return guarded<const char *>(nullptr, [&]() -> const char * {
        auto m = masters().find(master);
        std::string text = m ? m->lastError() : tlsNoMasterError;
        if (text.empty())
            return nullptr;
        return keepForThread(TextSlot::MasterLastError, std::move(text));
    });
}

DROVIK_API int32_t DROVIK_CALL Drovik_Master_SetCallback(intptr_t master, Drovik_Callback callback,
                                                         intptr_t) {
    return withMaster<int32_t>(master, 0, [&](Master &m) {
        m.shared()->connectionCallback.store(callback);
        return 1;
    });
}

DROVIK_API int32_t DROVIK_CALL Drovik_Master_SetStreamOptions(intptr_t master, int32_t intervalMs,
                                                              int32_t timeoutMs) {
    return withMaster<int32_t>(master, 0, [&](Master &m) -> int32_t {
        if (intervalMs < 10 || timeoutMs < 10 || timeoutMs < intervalMs)
            return fail(m, 0, Error::BadStreamOptions);
        m.setHeartbeat({intervalMs, timeoutMs});
        return 1;
    });
}

DROVIK_API intptr_t DROVIK_CALL Drovik_Master_AddSlave(intptr_t master, const char *host,
                                                       int32_t port, const char *clientName,
                                                       int32_t transport,
                                                       const char *knownServersFile, const char *,
                                                       int32_t, int32_t timeoutSeconds) {
    return withMaster<intptr_t>(master, 0, [&](Master &m) -> intptr_t {
        if (textOf(host).empty())
            return fail(m, intptr_t{0}, Error::NoHost);
        if (port < 1 || port > 65535)
            return fail(m, intptr_t{0}, Error::BadPort);
        MasterConnection::Options options;
        options.host = host;
        options.port = port;
        options.clientName = std::string(textOf(clientName));
        options.timeoutSeconds = timeoutSeconds;
        options.heartbeat = m.heartbeat();
        if (transport != DROVIK_TRANSPORT_TLS && transport != DROVIK_TRANSPORT_PLAINTEXT)
            return fail(m, intptr_t{0}, "Unknown transport " + std::to_string(transport));
        options.transport = transport;
        options.knownServersFile = std::string(textOf(knownServersFile));
        std::string error;
        intptr_t slave = m.addSlave(options, error);
        if (slave == 0)
            return fail(m, intptr_t{0}, std::move(error));
        return slave;
    });
}

DROVIK_API int32_t DROVIK_CALL Drovik_Master_RemoveSlave(intptr_t master, intptr_t slave) {
    return withMaster<int32_t>(master, 0, [&](Master &m) -> int32_t {
        if (!m.removeSlave(slave))
            return fail(m, 0, Error::UnknownSlave);
        return 1;
    });
}

DROVIK_API int32_t DROVIK_CALL Drovik_Master_CountSlaves(intptr_t master) {
    return withMaster<int32_t>(master, 0, [](Master &m) { return m.countLive(); });
}

DROVIK_API intptr_t DROVIK_CALL Drovik_Master_IterateSlaves(intptr_t master, intptr_t previous) {
    return withMaster<intptr_t>(master, 0, [&](Master &m) { return m.nextLive(previous); });
}

DROVIK_API const char *DROVIK_CALL Drovik_Master_GetSlaveIP(intptr_t master, intptr_t slave) {
    return withMaster<const char *>(master, nullptr, [&](Master &m) -> const char * {
        auto c = m.find(slave);
        return c ? keepForThread(TextSlot::SlaveIP, c->address()) : nullptr;
    });
}

DROVIK_API intptr_t DROVIK_CALL Drovik_Master_GetSlaveXtraData(intptr_t master, intptr_t slave) {
    return withMaster<intptr_t>(master, 0, [&](Master &m) -> intptr_t {
        auto c = m.find(slave);
        return c ? c->xtra() : 0;
    });
}

DROVIK_API int32_t DROVIK_CALL Drovik_Master_SetSlaveXtraData(intptr_t master, intptr_t slave,
                                                              intptr_t value) {
    return withMaster<int32_t>(master, 0, [&](Master &m) -> int32_t {
        auto c = m.find(slave);
        if (!c)
            return fail(m, 0, Error::UnknownSlave);
        c->setXtra(value);
        return 1;
    });
}

DROVIK_API int32_t DROVIK_CALL Drovik_Master_CountSlaveJobs(intptr_t master, intptr_t slave) {
    return withMaster<int32_t>(master, -1, [&](Master &m) -> int32_t {
        auto c = m.find(slave);
        return c ? c->pendingJobs() : -1;
    });
}

DROVIK_API intptr_t DROVIK_CALL Drovik_Master_DoJob(intptr_t master, const char *jobName,
                                                    intptr_t slave, intptr_t list,
                                                    Drovik_Callback callback, int32_t replyType,
                                                    int32_t, int32_t, int32_t, int32_t, int32_t,
                                                    int32_t, int32_t deliver) {
    return guarded<intptr_t>(0, [&]() -> intptr_t {
        // The list is the library's from here on, whatever the outcome.
        auto params = lists().take(list);
        auto m = masters().find(master);
        if (!m)
            return failWithoutMaster(intptr_t{0}, Error::UnknownMaster);
        if (slave == 0)
            return fail(*m, intptr_t{0}, Error::NoSlave);
        std::string_view name = textOf(jobName);
        if (name.empty())
            return fail(*m, intptr_t{0}, Error::NoJobName);
        if (name.size() > wire::kMaxJobNameLength)
            return fail(*m, intptr_t{0}, Error::JobNameTooLong);
        if (list != 0 && !params)
            return fail(*m, intptr_t{0}, Error::UnknownList);
        auto connection = m->find(slave);
        if (!connection)
            return fail(*m, intptr_t{0}, Error::UnknownSlave);

        ParamList none;
        std::unique_lock<std::mutex> listGuard;
        if (params)
            listGuard = std::unique_lock(params->lock);
        const ParamList &values = params ? params->list : none;
        if (wire::jobFrameSize(name, values) > size_t{4} + wire::kMaxFrameLength)
            return fail(*m, intptr_t{0}, Error::JobTooLarge);
        Error error = Error::Internal;
        intptr_t id = connection->submit(name, values, callback, replyType, deliver != 0, error);
        if (id == 0)
            return fail(*m, intptr_t{0}, error);
        return id;
    });
}

}  // extern "C"
