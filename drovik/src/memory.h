// Blocks of Drovik_AllocateMemory: a small header in front of the caller's bytes records the size,
// and a registry of live blocks lets FreeMemory and Parameter_AddMem recognise our own blocks, so
// that a foreign pointer or a block freed twice is refused instead of corrupting the heap.
#ifndef DROVIK_SRC_MEMORY_H
#define DROVIK_SRC_MEMORY_H

#include <cstdint>
#include <optional>
#include <span>

namespace drovik {

inline constexpr int64_t kMaxBlockSize = int64_t{1} << 30;

// A zero-filled block of size bytes (0 <= size <= kMaxBlockSize), or null.
void *allocateBlock(int64_t size);
// A new block holding a copy of bytes, or null.
void *copyToBlock(std::span<const uint8_t> bytes);
// The size of a live block of ours, or nullopt for any other pointer.
std::optional<int64_t> blockSize(const void *block);
// Releases a live block of ours; false (and nothing done) for any other pointer.
bool freeBlock(void *block);

}  // namespace drovik

#endif  // DROVIK_SRC_MEMORY_H
