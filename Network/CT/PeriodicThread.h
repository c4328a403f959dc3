// Periodic worker threads: each calls its procedure again and again at a fixed rate until it is
// stopped. The first call comes one interval after the start, each later call one interval after
// the start of the previous one, or at once when the procedure took the interval or longer.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>

using PeriodicProcedure = void (*)(int32_t parameter);

struct PeriodicThread {
    PeriodicProcedure Procedure = nullptr;
    int32_t Parameter = 0;
    int32_t Interval = 0;                 // milliseconds
    std::atomic<int32_t> StopRequest{0};  // set to 1 by StopPeriodicThread
    // The worker sleeps on Wake until its next call is due, so an idle worker costs nothing;
    // StopPeriodicThread wakes it at once.
    std::mutex WakeLock;
    std::condition_variable Wake;
    // The worker. Its end is the acknowledgement of a stop: StopPeriodicThread joins it before it
    // frees the record, so the record outlives the worker's last touch of it.
    std::thread Worker;
    std::atomic<bool> FreeOnExit{false};  // stopped from its own procedure: the worker frees it
};

// Starts a worker that calls Procedure(Parameter) every Interval milliseconds (below 0: 0). The
// record, or null when the thread cannot be created.
PeriodicThread *StartPeriodicThread(PeriodicProcedure Procedure, int32_t Interval,
                                    int32_t Parameter);

// Asks the worker to stop and waits until it has ended; a procedure that is running is finished
// first. A waiting worker is woken at once; a worker whose procedure takes its whole interval or
// longer honours the stop right after that call. Frees the record and returns 0; null is ignored.
// Called from the worker's own procedure, it returns at once and the worker ends and frees the
// record after that call of the procedure.
int32_t StopPeriodicThread(PeriodicThread *record);
