// The heap probe: malloc, calloc, realloc and free are defined here and hand every call to the C
// library's own allocator (glibc exports it as __libc_malloc and friends), counting on the way.
// Blocks therefore all belong to one allocator, whichever function took or returns them.
#include "tests/picture/HeapProbe.h"

#include <algorithm>
#include <cstdint>

#if defined(__GLIBC__) && !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
#define PICTURE_HEAP_PROBE 1
#include <malloc.h>
#endif

#ifdef PICTURE_HEAP_PROBE

extern "C" {
void *__libc_malloc(size_t size);
void *__libc_calloc(size_t count, size_t size);
void *__libc_realloc(void *block, size_t size);
void __libc_free(void *block);
}

namespace {

// Plain globals: the allocator is called before any constructor runs. Only the thread that runs
// WatchHeap changes them while watching is on.
bool watching = false;
size_t largestRequest = 0;
long long heldBytes = 0;
long long peakBytes = 0;

void Requested(size_t size) {
    if (watching)
        largestRequest = std::max(largestRequest, size);
}

void Held(void *block, int sign) {
    if (!watching || !block)
        return;
    heldBytes += sign * static_cast<long long>(malloc_usable_size(block));
    peakBytes = std::max(peakBytes, heldBytes);
}

}  // namespace

extern "C" void *malloc(size_t size) {
    Requested(size);
    void *block = __libc_malloc(size);
    Held(block, +1);
    return block;
}

extern "C" void *calloc(size_t count, size_t size) {
    size_t total = 0;
    Requested(__builtin_mul_overflow(count, size, &total) ? SIZE_MAX : total);
    void *block = __libc_calloc(count, size);
    Held(block, +1);
    return block;
}

extern "C" void *realloc(void *block, size_t size) {
    Requested(size);
    const size_t before = block && watching ? malloc_usable_size(block) : 0;
    void *moved = __libc_realloc(block, size);
    if (moved || size == 0) {  // the old block is gone
        heldBytes -= static_cast<long long>(before);
        Held(moved, +1);
    }
    return moved;
}

extern "C" void free(void *block) {
    Held(block, -1);
    __libc_free(block);
}

#endif  // PICTURE_HEAP_PROBE

namespace picture_test {

bool HeapProbeAvailable() {
#ifdef PICTURE_HEAP_PROBE
    return true;
#else
    return false;
#endif
}

HeapUse WatchHeap(const std::function<void()> &body) {
#ifdef PICTURE_HEAP_PROBE
    largestRequest = 0;
    heldBytes = peakBytes = 0;
    watching = true;
    body();
    watching = false;
    return {largestRequest, static_cast<size_t>(peakBytes)};
#else
    body();
    return {};
#endif
}

}  // namespace picture_test
