// The one file that knows how each platform delivers a request to stop.
#include "StopSignal.h"

#include <chrono>

#if defined(_WIN32)
#include <windows.h>
#else
#include <signal.h>
#include <time.h>
#endif

void StopRequest::request(const std::string &reason, intptr_t master) {
    std::lock_guard guard(mutex_);
    if (requested_)
        return;
    requested_ = true;
    reason_ = reason;
    master_ = master;
    changed_.notify_all();
}

void StopRequest::wait() {
    std::unique_lock guard(mutex_);
    changed_.wait(guard, [&] { return requested_; });
}

std::string StopRequest::reason() {
    std::lock_guard guard(mutex_);
    return reason_;
}

intptr_t StopRequest::master() {
    std::lock_guard guard(mutex_);
    return master_;
}

#if defined(_WIN32)

namespace {
StopRequest *g_request = nullptr;
BOOL WINAPI consoleHandler(DWORD type) {
    if (g_request &&
        (type == CTRL_C_EVENT || type == CTRL_BREAK_EVENT || type == CTRL_CLOSE_EVENT)) {
        g_request->request(type == CTRL_C_EVENT ? "console interrupt" : "console close");
        return TRUE;
    }
    return FALSE;
}
}  // namespace

void BlockStopSignals() {}

StopSignalWatcher::StopSignalWatcher(StopRequest &request) : request_(request) {
    g_request = &request_;
    SetConsoleCtrlHandler(consoleHandler, TRUE);
}

StopSignalWatcher::~StopSignalWatcher() {
    SetConsoleCtrlHandler(consoleHandler, FALSE);
    g_request = nullptr;
}

#else

namespace {
sigset_t stopSignals() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    return set;
}
}  // namespace

void BlockStopSignals() {
    sigset_t set = stopSignals();
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

StopSignalWatcher::StopSignalWatcher(StopRequest &request) : request_(request) {
    thread_ = std::thread([this] {
        sigset_t set = stopSignals();
        const timespec tick{0, 100 * 1000 * 1000};
        for (;;) {
            {
                std::lock_guard guard(mutex_);
                if (!running_)
                    return;
            }
            siginfo_t info;
            int signal = sigtimedwait(&set, &info, &tick);
            if (signal == SIGINT || signal == SIGTERM) {
                request_.request(signal == SIGINT ? "SIGINT" : "SIGTERM");
            }
        }
    });
}

StopSignalWatcher::~StopSignalWatcher() {
    {
        std::lock_guard guard(mutex_);
        running_ = false;
    }
    thread_.join();
}

#endif
