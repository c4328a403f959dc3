// The one file that knows how a platform's allocator is told to keep freed memory for reuse.
#include "HeapReuse.h"

#include <cstdlib>  // defines __GLIBC__ where it applies

#if defined(__GLIBC__)
#include <malloc.h>
#endif

void KeepFreedMemoryForReuse() {
#if defined(__GLIBC__)
    // glibc gives the free top of a heap back to the system once it exceeds 128 KiB, and serves a
    // block of 128 KiB or more from a mapping of its own. A process that handles large replies
    // many times a second (an online list of thousands of names is about 100 KiB, and is copied
    // twice on each side) then maps, faults in and gives back the same pages for every one: on a
    // virtual machine, where each of those is a trip to the host, that cost more than all the
    // rest of a job (measured with the load generator: 9,000 clients got 8,500 jobs a second
    // instead of 22,700). Blocks up to the largest frame come from the heap, and up to 64 MiB of
    // freed top is kept: memory the process has used at its peak anyway.
    mallopt(M_MMAP_THRESHOLD, 16 * 1024 * 1024);
    mallopt(M_TRIM_THRESHOLD, 64 * 1024 * 1024);
#endif
    // Elsewhere the allocators keep freed memory by themselves.
}
