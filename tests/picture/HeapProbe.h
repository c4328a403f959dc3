// Watches every request to the C heap (malloc and its family, and so operator new and the
// libraries' own allocations) while a piece of code runs. It replaces malloc in the executable that
// links it, so it lives in a test executable of its own, and only where the C library lets a
// program do so (glibc, without a sanitizer that replaces malloc itself).
#pragma once

#include <cstddef>
#include <functional>

namespace picture_test {

struct HeapUse {
    size_t LargestRequest = 0;  // the largest single request, granted or not
    size_t PeakBytes = 0;       // the most bytes held at once, beyond what was held at the start
};

// False where the heap cannot be watched; the tests then skip.
bool HeapProbeAvailable();

// Runs `body` and reports the heap it asked for. Not for concurrent use.
HeapUse WatchHeap(const std::function<void()> &body);

}  // namespace picture_test
