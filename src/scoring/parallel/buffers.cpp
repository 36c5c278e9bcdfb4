// buffers.cpp: the aligned byte buffer of the scoring stages.
//
// Contents: CodeBuffer.
#include "scoring/parallel/buffers.h"

#include <algorithm>
#include <cstdlib>

#include <sys/mman.h>

#include "core/pages.h"

namespace marrowind {

CodeBuffer::CodeBuffer(std::size_t size)
{
    constexpr std::size_t kHugePage = std::size_t{2} << 20;
    const std::size_t alignment = size >= 4 * kHugePage ? kHugePage : 64;
    void* block = nullptr;
    if (posix_memalign(&block, alignment, std::max<std::size_t>(size, 1)) != 0)
        throw OutOfMemory(static_cast<long long>(size));
#ifdef MADV_HUGEPAGE
    if (alignment == kHugePage) madvise(block, size, MADV_HUGEPAGE);  // a hint; may be refused
#endif
    map_pages_now(block, size);
    bytes_.reset(static_cast<uint8_t*>(block));
}

void CodeBuffer::Free::operator()(uint8_t* block) const { std::free(block); }

}  // namespace marrowind
