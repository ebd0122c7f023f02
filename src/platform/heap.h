#pragma once

#include <cstddef>

// Blocks of the process's own heap.
namespace platform {

// A zero-filled block of the given bytes from the process heap (HeapAlloc); null when the heap
// cannot provide it.
void* AllocateFromHeap(std::size_t bytes);

// Gives a block back to the process heap (HeapFree); null is ignored.
void ReleaseToHeap(void* block);

}  // namespace platform
