// How the platform schedules the library's own threads, kept behind one call.
#ifndef DROVIK_SRC_THREAD_SLICES_H
#define DROVIK_SRC_THREAD_SLICES_H

namespace drovik {

// Asks the scheduler for short time slices for the calling thread. A slave's threads run bursts
// of tens of microseconds and then sleep; with the default slices of several milliseconds, one
// that wakes behind a busy thread of another process waits for that slice to end, which is most
// of a job's delay on a busy machine. A short slice lets it run at once and costs the other thread
// nothing of its share. Where the platform has no such request (Linux before 6.12 ignores it,
// Windows has none) this does nothing.
void requestShortTimeSlices();

}  // namespace drovik

#endif
