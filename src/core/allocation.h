// allocation.h: allocations whose failure is reported with the number of elements asked for.
//
// Contents:
//   or_out_of_memory  runs an allocating step, turning its failure into marrowind::OutOfMemory
//   append_bytes      appends to a string, reporting the grown size when memory runs out
#ifndef MARROWIND_CORE_ALLOCATION_H
#define MARROWIND_CORE_ALLOCATION_H

#include <cstddef>
#include <new>
#include <stdexcept>
#include <string>

#include "marrowind/errors.h"

namespace marrowind::detail {

// Runs allocate() and returns what it returns. A std::bad_alloc (or the std::length_error of a
// size beyond what a container can hold) becomes OutOfMemory(elements): the report names how
// much was asked for, not merely that something failed.
template <typename Allocate>
decltype(auto) or_out_of_memory(long long elements, Allocate&& allocate)
{
    try {
        return allocate();
    } catch (const std::bad_alloc&) {
        throw OutOfMemory(elements);
    } catch (const std::length_error&) {
        throw OutOfMemory(elements);
    }
}

// Appends `size` bytes to `text`; when it cannot grow, throws OutOfMemory with the number of
// bytes the grown string would need.
inline void append_bytes(std::string& text, const char* data, std::size_t size)
{
    or_out_of_memory(static_cast<long long>(text.size() + size),
                     [&] { text.append(data, size); });
}

}  // namespace marrowind::detail

#endif
