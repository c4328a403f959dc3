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

// Sleeps in steps of 1 ms until `wait` milliseconds have passed since t0; false when a stop
// request ended the wait.
bool WaitUntilDue(const PeriodicThread &record, int32_t t0, int32_t wait) {
    while (wait > ElapsedMilliseconds(t0, Milliseconds())) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        if (StopRequested(record))
            return false;
    }
    // Also tested when there was nothing to wait for: a procedure that takes its whole interval
    // leaves a wait of 0, and the stop must still be seen.
    return !StopRequested(record);
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
        record->StopRequest.store(1, std::memory_order_release);
        return 0;
    }
    record->StopRequest.store(1, std::memory_order_release);
    if (record->Worker.joinable())
        record->Worker.join();
    delete record;
    return 0;
}
