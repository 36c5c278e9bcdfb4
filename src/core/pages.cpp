// pages.cpp: mapping fresh memory in one request.
//
// Contents: map_pages_now.
#include "core/pages.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>

namespace marrowind {

void map_pages_now(void* block, std::size_t size)
{
#ifdef MADV_POPULATE_WRITE
    const std::uintptr_t page = static_cast<std::uintptr_t>(sysconf(_SC_PAGESIZE));
    const std::uintptr_t start = reinterpret_cast<std::uintptr_t>(block);
    const std::uintptr_t first = (start + page - 1) & ~(page - 1);
    const std::uintptr_t end = (start + size) & ~(page - 1);
    if (end > first) madvise(reinterpret_cast<void*>(first), end - first, MADV_POPULATE_WRITE);
#else
    (void)block;
    (void)size;
#endif
}

}  // namespace marrowind
