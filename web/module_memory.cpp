#include "module_memory.h"

#include <cstdlib>

namespace {
constexpr std::size_t heap_step = std::size_t{1} << 30;  // what the heap is grown by at a time on the way to a large block
constexpr int heap_steps_most = 3;                       // steps enough for any block below 4 GiB
}  // namespace

void* allocate_bytes(std::size_t size) {
    void* block = std::malloc(size);
    // The heap grows through sbrk, whose signed 32-bit increment can't reach 2 GiB: a larger block is
    // found by growing the heap in steps of 1 GiB (each step's block given back at once), after which
    // the block needs less than a step more.
    std::size_t step = 0;
    for (int i = 0; block == nullptr && i < heap_steps_most && step + heap_step < size; ++i) {
        step += heap_step;
        void* part = std::malloc(step);
        if (part == nullptr) return nullptr;
        std::free(part);
        block = std::malloc(size);
    }
    return block;
}

bool room_for(std::size_t size) {
    void* block = allocate_bytes(size);
    if (block == nullptr) return false;
    std::free(block);
    return true;
}
