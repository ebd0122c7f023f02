#include <windows.h>

#include "platform/heap.h"

namespace platform {

void* AllocateFromHeap(std::size_t bytes) {
    return HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, bytes);
}

void ReleaseToHeap(void* block) {
    if (block != nullptr) {
        HeapFree(GetProcessHeap(), 0, block);
    }
}

}  // namespace platform
