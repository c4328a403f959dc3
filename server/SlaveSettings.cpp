#include "SlaveSettings.h"

#include <algorithm>
#include <array>
#include <atomic>

#include "Log.h"

#ifndef _WIN32
#include <sys/resource.h>
#endif

namespace {

// Descriptors the server keeps for itself: the store and its journal, logs, the listening socket,
// and what a library may open on its own.
constexpr int64_t kOwnFiles = 128;
// Room around the largest value in a job frame: the job's name, ids and the other values.
constexpr int64_t kFrameOverhead = 64 * 1024;
// The largest profile text or message a client sends, which the server answers with a reply code
// of its own rather than with a closed connection.
constexpr int64_t kLargestText = 8 * 1024;

}  // namespace

int64_t RaiseOpenFileLimit() {
#ifndef _WIN32
    rlimit rl{};
    if (getrlimit(RLIMIT_NOFILE, &rl) != 0)
        return 1024;
    if (rl.rlim_cur < rl.rlim_max) {
        rlimit raised = rl;
        raised.rlim_cur = rl.rlim_max;
        if (setrlimit(RLIMIT_NOFILE, &raised) == 0)
            rl = raised;
        else
            LogEvent("cannot raise the open-file limit to ", rl.rlim_max);
    }
    if (rl.rlim_cur == RLIM_INFINITY)
        return int64_t{1} << 20;
    return static_cast<int64_t>(rl.rlim_cur);
#else
    return 16384;
#endif
}

int64_t ConnectionLimit(const ServerOptions &options, int64_t openFileLimit) {
    const int64_t fits = std::max<int64_t>(16, openFileLimit - kOwnFiles);
    if (options.maxConnections > 0)
        return std::min<int64_t>(options.maxConnections, fits);
    return fits;
}

int64_t FrameLimit(const ServerOptions &options) {
    if (options.maxFrameBytes > 0)
        return options.maxFrameBytes;
    return std::max<int64_t>(options.maxAvatarBytes, kLargestText) + kFrameOverhead;
}

bool ApplySlaveLimits(drovik::Slave &slave, const ServerOptions &options, int64_t openFileLimit) {
    const int64_t connections = ConnectionLimit(options, openFileLimit);
    const struct {
        int32_t limit;
        int64_t value;
        const char *name;
    } settings[] = {
        {DROVIK_LIMIT_CONNECTIONS, connections, "--max-connections"},
        {DROVIK_LIMIT_CONNECTIONS_PER_ADDRESS, options.maxConnectionsPerAddress,
         "--max-connections-per-address"},
        {DROVIK_LIMIT_UNTRUSTED, options.maxUntrusted, "--max-untrusted-connections"},
        {DROVIK_LIMIT_HANDSHAKE_TIME, int64_t{options.handshakeSeconds} * 1000,
         "--handshake-seconds"},
        {DROVIK_LIMIT_FRAME_TIME, int64_t{options.frameSeconds} * 1000, "--frame-seconds"},
        {DROVIK_LIMIT_SILENCE_TIME, int64_t{options.maxSilenceSeconds} * 1000,
         "--max-silence-seconds"},
        {DROVIK_LIMIT_UNTRUSTED_TIME, int64_t{options.loginGraceSeconds} * 1000,
         "--login-grace-seconds"},
        {DROVIK_LIMIT_OUTPUT_BYTES, int64_t{options.outputLimitKiB} * 1024, "--output-limit-kib"},
        {DROVIK_LIMIT_OUTPUT_TIME, int64_t{options.outputStallSeconds} * 1000,
         "--output-stall-seconds"},
        {DROVIK_LIMIT_FRAME_BYTES, FrameLimit(options), "--max-frame-bytes"},
        {DROVIK_LIMIT_UNTRUSTED_FRAME_BYTES,
         std::min<int64_t>(options.untrustedFrameBytes, FrameLimit(options)),
         "--untrusted-frame-bytes"},
    };
    for (const auto &s : settings)
        if (!slave.setLimit(s.limit, s.value)) {
            LogEvent("the library refuses ", s.name, " ", s.value);
            return false;
        }
    LogEvent("connections: at most ", connections, " (open-file limit ", openFileLimit, "), ",
             options.maxConnectionsPerAddress, " per address, ",
             slave.limit(DROVIK_LIMIT_UNTRUSTED), " not logged in; frames up to ",
             FrameLimit(options), " bytes, ", slave.limit(DROVIK_LIMIT_UNTRUSTED_FRAME_BYTES),
             " before a login");
    return true;
}

int32_t DROVIK_CALL LogLibraryEvent(intptr_t, intptr_t, int32_t level, const char *text,
                                    int32_t kind, int32_t) {
    static std::array<std::atomic<uint64_t>, 5> counts{};
    const char *levelName = level >= 2 ? "error" : level == 1 ? "warning" : "info";
    if (kind <= DROVIK_LOG_GENERAL || kind >= static_cast<int32_t>(counts.size())) {
        LogEvent("library ", levelName, ": ", text ? text : "");
        return 0;
    }
    uint64_t count = ++counts[static_cast<size_t>(kind)];
    if (IsLoggedOccurrence(count))
        LogEvent("library ", levelName, ": ", text ? text : "",
                 count > 1 ? " (" + std::to_string(count) + " of this kind)" : "");
    return 0;
}
