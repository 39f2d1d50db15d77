// Memory that may not be had. In the browser the module's memory grows to 4 GiB at most, and an
// allocation that fails there ends the whole module; so everything that grows with the input asks for
// its room first, through these functions, and does without (a shorter roll, fewer resume points)
// when the memory can't hold it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// A block of size bytes from malloc, reaching blocks of 2 GiB and more, which the module's heap can't
// grow by at once; null when the memory can't hold it.
void* allocate_bytes(std::size_t size);
// True when a block of size bytes can be had now: in the module, reckoned from the heap's free top and
// what the memory may still grow by; natively, tried (taken and given back at once).
bool room_for(std::size_t size);

// Makes room in list for `more` entries past its size, at least doubling its capacity when it grows;
// false, with the list unchanged, when the memory can't hold the larger list beside the old one.
template <typename T>
bool make_room(std::vector<T>& list, std::size_t more = 1) {
    if (list.capacity() - list.size() >= more) return true;
    std::size_t most = list.max_size();
    if (more > most - list.size()) return false;
    std::size_t wanted = list.size() + more;
    if (list.capacity() <= most / 2 && wanted < 2 * list.capacity()) wanted = 2 * list.capacity();
    if (!room_for(wanted * sizeof(T))) return false;
    list.reserve(wanted);
    return true;
}

// Empties list and gives its memory back.
template <typename T>
void release(std::vector<T>& list) {
    std::vector<T>().swap(list);
}
