// The community server: the cluster library's slave side with the jobs of the chat client,
// sessions, inboxes and a SQLite store. Stops cleanly on SIGINT, SIGTERM or Control_StopServer.
#include <sodium.h>
#include <drovik.hpp>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <exception>
#include <thread>

#include "AdminPassword.h"
#include "HeapReuse.h"
#include "JobDispatch.h"
#include "Log.h"
#include "ServerContext.h"
#include "ServerOptions.h"
#include "SlaveSettings.h"
#include "StopSignal.h"
#include "jobs/Jobs.h"
#include "store/Store.h"

namespace {

// Lets the reply of the job that asked for the stop leave before the library announces the
// shutdown to every connection.
void awaitStopReply(drovik::Slave &slave, intptr_t master) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    while (Drovik_Slave_CountMasterJobs(slave.handle(), master) > 0 &&
           std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
}

// TLS with the given pair, or with the pair beside the store that the library makes on the first
// start; or no TLS at all.
drovik::Slave::Transport transportOf(const ServerOptions &options) {
    drovik::Slave::Transport transport;
    if (options.plaintext) {
        transport.kind = DROVIK_TRANSPORT_PLAINTEXT;
    } else if (!options.tlsCert.empty()) {
        transport.certificateFile = options.tlsCert;
        transport.keyFile = options.tlsKey;
    } else {
        transport.certificateFile = DefaultCertificateFile(options);
        transport.keyFile = DefaultKeyFile(options);
        transport.createIfMissing = true;
    }
    return transport;
}

// Printed after the "listening on" line (which whoever started the server waits for) so that the
// operator can compare it with what a client is shown, and logged with every start: logged first,
// so that whoever read the printed line finds it in the log too.
void announceTransport(const ServerOptions &options, const drovik::Slave &slave) {
    if (options.plaintext) {
        const char *warning =
            "connections are NOT encrypted (--plaintext): anyone on the path "
            "can read and change them";
        LogEvent(warning);
        std::printf("%s\n", warning);
        std::fflush(stdout);
        return;
    }
    const std::string fingerprint = slave.fingerprint();
    LogEvent("TLS certificate ",
             options.tlsCert.empty() ? DefaultCertificateFile(options) : options.tlsCert,
             ", fingerprint (SHA-256) ", fingerprint);
    std::printf("TLS certificate fingerprint (SHA-256): %s\n", fingerprint.c_str());
    std::fflush(stdout);
}

// Stops the slave when the scope ends, on every path, before what its callbacks use is gone.
struct SlaveStopper {
    drovik::Slave &slave;
    ~SlaveStopper() { slave.shutdown(); }
};

int run(const ServerOptions &options) {
    const int64_t openFiles = RaiseOpenFileLimit();
    Store store(OpenDatabase(options.db, std::chrono::seconds(options.storeTimeoutSeconds)));
    StopRequest stop;
    StopSignalWatcher watcher(stop);
    // Set while the slave runs; job threads read it to kick a connection.
    std::atomic<drovik::Slave *> listening{nullptr};
    ServerContext context(options, store, stop, [&listening](intptr_t master) {
        if (drovik::Slave *slave = listening.load())
            slave->kick(master);
    });
    EnsureAdminPassword(store, context.hasher, options.adminPasswordFile);

    drovik::Slave slave(options.bind, options.port, JobThreads(options), &LogLibraryEvent,
                        transportOf(options));
    if (!slave.ok()) {
        LogEvent("cannot listen on ", options.bind, ":", options.port, ": ", slave.error());
        return 1;
    }
    // Set before anyone is told the port; until then only a connection that raced the start
    // meets the library's defaults.
    if (!ApplySlaveLimits(slave, options, openFiles))
        return 1;
    listening = &slave;
    JobDispatch dispatch(slave, context);
    SlaveStopper stopper{slave};
    AddAccountJobs(dispatch, context);
    AddMessageJobs(dispatch, context);
    AddProfileJobs(dispatch, context);
    AddControlJobs(dispatch, context);

    std::printf("listening on %s:%d\n", options.bind.c_str(), slave.port());
    std::fflush(stdout);
    LogEvent("listening on ", options.bind, ":", slave.port(), " with store ", store.db.name());
    announceTransport(options, slave);

    stop.wait();
    LogEvent("stopping: ", stop.reason());
    if (intptr_t master = stop.master())
        awaitStopReply(slave, master);
    // Every connection receives the shutdown and its session ends: undelivered private messages
    // go to the store, which is closed after that.
    slave.shutdown();
    listening = nullptr;
    dispatch.endRemainingSessions();
    return 0;
}

}  // namespace

int main(int argc, char **argv) {
    KeepFreedMemoryForReuse();
    int exitCode = 0;
    auto options = ParseServerOptions(argc, argv, exitCode);
    if (!options)
        return exitCode;
    BlockStopSignals();  // before any thread starts
    if (sodium_init() < 0) {
        LogEvent("libsodium cannot be initialised");
        return 1;
    }
    try {
        exitCode = run(*options);
    } catch (const std::exception &e) {
        LogEvent("fatal: ", e.what());
        return 1;
    }
    if (exitCode == 0)
        LogEvent("stopped");
    return exitCode;
}
