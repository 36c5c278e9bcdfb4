// allocation.h: allocations whose failure is reported with the number of elements asked for.
//
// Contents:
//   or_out_of_memory  runs an allocating step, turning its failure into marrowind::OutOfMemory
#ifndef MARROWIND_CORE_ALLOCATION_H
#define MARROWIND_CORE_ALLOCATION_H

#include <new>
#include <stdexcept>

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

}  // namespace marrowind::detail

#endif
