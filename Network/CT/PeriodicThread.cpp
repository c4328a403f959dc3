#include "Network/CT/PeriodicThread.h"

#include "Network/CT/Clock.h"

#include <algorithm>
#include <chrono>
#include <new>
#include <system_error>

namespace {
thread_local PeriodicThread *RunningRecord = nullptr;

bool StopRequested(const PeriodicThread &record) {
    return record.StopRequest.load(std::memory_order_acquire) != 0;
}

// Sleeps until `wait` milliseconds have passed since t0 by the program's clock; false when a stop
// request ended the wait. The clock is asked again after every wake-up, so a clock that jumps (or
// wraps) is followed rather than the time first computed.
bool WaitUntilDue(PeriodicThread &record, int32_t t0, int32_t wait) {
    std::unique_lock lock(record.WakeLock);
    for (;;) {
        // Also tested when there was nothing to wait for: a procedure that takes its whole
        // interval leaves a wait of 0, and the stop must still be seen.
        if (StopRequested(record))
            return false;
        const int64_t left = int64_t{wait} - ElapsedMilliseconds(t0, Milliseconds());
        if (left <= 0)
            return true;
        record.Wake.wait_for(lock, std::chrono::milliseconds(left));
    }
}

void RequestStop(PeriodicThread &record) {
    {
        std::lock_guard guard(record.WakeLock);
        record.StopRequest.store(1, std::memory_order_release);
    }
    record.Wake.notify_all();
}

void RunPeriodicThread(PeriodicThread *record) {
    RunningRecord = record;
    int32_t wait = record->Interval;
    while (WaitUntilDue(*record, Milliseconds(), wait)) {
        const int32_t t0 = Milliseconds();
        if (record->Procedure != nullptr)
            record->Procedure(record->Parameter);
        const int64_t left = int64_t{record->Interval} - ElapsedMilliseconds(t0, Milliseconds());
        wait = static_cast<int32_t>(std::clamp<int64_t>(left, 0, record->Interval));
    }
    RunningRecord = nullptr;
    if (record->FreeOnExit.load(std::memory_order_acquire))
        delete record;
}
}  // namespace

PeriodicThread *StartPeriodicThread(PeriodicProcedure Procedure, int32_t Interval,
                                    int32_t Parameter) {
    auto *record = new (std::nothrow) PeriodicThread{};
    if (record == nullptr)
        return nullptr;
    record->Procedure = Procedure;
    record->Interval = Interval < 0 ? 0 : Interval;
    record->Parameter = Parameter;
    try {
        record->Worker = std::thread(RunPeriodicThread, record);
    } catch (const std::system_error &) {
        delete record;
        return nullptr;
    }
    return record;
}

int32_t StopPeriodicThread(PeriodicThread *record) {
    if (record == nullptr)
        return 0;
    if (RunningRecord == record) {
        // Joining its own thread is impossible: the worker frees the record once the procedure
        // that called us has returned.
        record->FreeOnExit.store(true, std::memory_order_release);
        record->Worker.detach();
        RequestStop(*record);
        return 0;
    }
    RequestStop(*record);
    if (record->Worker.joinable())
        record->Worker.join();
    delete record;
    return 0;
}
