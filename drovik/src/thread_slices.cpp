#include "thread_slices.h"

#ifdef __linux__
#include <sys/syscall.h>
#include <unistd.h>

#include <cstdint>
#endif

namespace drovik {

#if defined(__linux__) && defined(SYS_sched_setattr)

namespace {

// The kernel's struct sched_attr, which glibc does not declare.
struct SchedAttr {
    uint32_t size;
    uint32_t policy;
    uint64_t flags;
    int32_t nice;
    uint32_t priority;
    uint64_t runtime;  // for the normal policy: the slice asked for, in nanoseconds
    uint64_t deadline;
    uint64_t period;
};

// The shortest slice the kernel grants: about one job.
constexpr uint64_t kSliceNs = 100'000;

}  // namespace

void requestShortTimeSlices() {
    SchedAttr attr{};
    attr.size = sizeof attr;
    attr.policy = 0;  // SCHED_OTHER, the thread's policy already; its nice value stays 0
    attr.runtime = kSliceNs;
    // A refusal (an older kernel, a container that filters the call) leaves the default slices.
    (void)syscall(SYS_sched_setattr, 0, &attr, 0u);
}

#else

void requestShortTimeSlices() {}

#endif

}  // namespace drovik
