#include "JobClient.h"

#include <map>
#include <stdexcept>

#include "Network/CT/SpinWait.h"
#include "drovik.h"

namespace {

// The waiter of each master. Entries are added and removed only while none of the benchmark's
// jobs is in flight (clients are opened before a measurement and closed after it), so the
// callbacks read the map without a lock, which would add to what they measure.
std::map<intptr_t, JobClient::Waiter *> gWaiters;

int32_t DROVIK_CALL replyCallback(intptr_t master, intptr_t, intptr_t, int32_t event, void *data,
                                  int32_t, int32_t) {
    const auto now = JobClient::Clock::now();
    Drovik_FreeMemory(data);
    if (event == DROVIK_EVENT_STREAM)
        return 0;
    JobClient::Waiter *waiter = gWaiters.at(master);
    waiter->calledBack = now;
    waiter->event = event;
    waiter->done.release();
    return 0;
}

std::string lastError(intptr_t master) {
    const char *text = Drovik_Master_GetLastError(master);
    return text ? text : "no reason given";
}

}  // namespace

JobClient::JobClient(int32_t port, int32_t transport, const std::string &knownServersFile,
                     bool lookFirst)
    : lookFirst_(lookFirst) {
    master_ = Drovik_Master_Init(nullptr);
    if (master_ == 0)
        throw std::runtime_error("master: " + lastError(0));
    slave_ = Drovik_Master_AddSlave(master_, "127.0.0.1", port, "bench", transport,
                                    knownServersFile.c_str(), "", 0, 5);
    if (slave_ == 0) {
        std::string reason = lastError(master_);
        Drovik_Master_DeInit(master_);
        throw std::runtime_error("connect: " + reason);
    }
    gWaiters[master_] = &waiter_;
}

JobClient::~JobClient() {
    Drovik_Master_DeInit(master_);
    gWaiters.erase(master_);
}

JobClient::Clock::time_point JobClient::call() {
    if (Drovik_Master_DoJob(master_, "Ping", slave_, 0, &replyCallback, DROVIK_TYPE_LONG, 0, 0, 0,
                            0, 0, 0, 1) == 0)
        throw std::runtime_error("job refused: " + lastError(master_));
    // As the client's requests do: a short look for the outcome before sleeping.
    const bool quick = lookFirst_ && SpinBriefly([&] { return waiter_.done.try_acquire(); },
                                                 std::chrono::microseconds(50));
    if (!quick && !waiter_.done.try_acquire_for(std::chrono::seconds(5)))
        throw std::runtime_error("job: no outcome within 5 s");
    if (waiter_.event != DROVIK_EVENT_FINISHED)
        throw std::runtime_error("job ended with event " + std::to_string(waiter_.event));
    return waiter_.calledBack;
}
