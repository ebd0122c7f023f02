#include <cstdlib>

#include "fake/world.h"
#include "platform/heap.h"

namespace platform {

void* AllocateFromHeap(std::size_t bytes) {
    const auto lock = fake::Lock();
    const auto& limit = fake::TheWorld().heapLimitBytes;
    if (limit && bytes > *limit) {
        return nullptr;
    }
    return std::calloc(bytes, 1);
}

void ReleaseToHeap(void* block) {
    std::free(block);
}

}  // namespace platform
