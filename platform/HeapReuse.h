#ifndef PLATFORM_HEAP_REUSE_H
#define PLATFORM_HEAP_REUSE_H

// Tells the C library's allocator to keep memory that the program frees for its next blocks,
// rather than give it back to the system at once. Called first thing in main, before any thread.
void KeepFreedMemoryForReuse();

#endif  // PLATFORM_HEAP_REUSE_H
