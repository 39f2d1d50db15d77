#include "module_memory.h"

#include <cstdint>
#include <cstdlib>

#ifdef __EMSCRIPTEN__
#include <emscripten/heap.h>
#include <malloc.h>
#include <unistd.h>
#endif

namespace {
constexpr std::uint64_t heap_step = std::uint64_t{1} << 30;  // what the heap is grown by at a time on the way to a large block
// The last block taken only to be given back. The compiler may drop a malloc whose block is only freed
// (and take it to have succeeded): a block that passes through here must have been taken.
void* volatile block_given_back = nullptr;

// Gives back a block taken only to see that it could be had, or to grow the heap.
void give_back(void* block) {
    block_given_back = block;
    std::free(block_given_back);
    block_given_back = nullptr;
}

#ifdef __EMSCRIPTEN__
constexpr std::size_t heap_slack = std::size_t{1} << 20;  // kept aside for the heap's own bookkeeping and rounding

// What is left of n bytes once the slack is kept aside.
std::size_t less_slack(std::size_t n) { return n > heap_slack ? n - heap_slack : 0; }
#endif
}  // namespace

bool room_for(std::size_t size) {
#ifdef __EMSCRIPTEN__
    // In the module a failed allocation costs more than itself (the heap stops growing in one piece
    // after it, and from then on asks for the whole of a block it grows for), so the room is reckoned
    // rather than tried: a block fits in the free space at the heap's top, or in what the memory may
    // still grow by. (Taking both together would hold only while the heap grows in one piece; a block
    // that would fit only in a free chunk inside the heap is taken not to fit.)
    auto top = static_cast<std::size_t>(mallinfo().keepcost);
    auto end = reinterpret_cast<std::uintptr_t>(sbrk(0));
    std::size_t most = emscripten_get_heap_max();
    return size <= less_slack(top) || size <= less_slack(end < most ? most - end : 0);
#else
    void* block = std::malloc(size);
    if (block == nullptr) return false;
    give_back(block);
    return true;
#endif
}

void* allocate_bytes(std::size_t size) {
    if (!room_for(size)) return nullptr;
    // The heap grows by less than 2 GiB at a time (the allocator asks for no more at once): the way to
    // a block of 1.5 GiB or more is grown in steps of 1 GiB, each step's block given back at once, after
    // which the block needs at most one and a half steps more.
    for (std::uint64_t step = heap_step; step + heap_step / 2 < size; step += heap_step) {
        void* part = std::malloc(static_cast<std::size_t>(step));
        if (part == nullptr) return nullptr;
        give_back(part);
    }
    return std::malloc(size);
}
