// pages.h: mapping fresh memory in one request instead of a page fault at a time.
//
// Contents:
//   map_pages_now  maps the whole pages of a block, writable, in one system call
//
// On a virtual machine each first touch of a fresh page can cost ten microseconds or more, as
// much as the work done in the page on a small alignment. Mapping a block's pages in one
// request roughly halves that cost.
#ifndef MARROWIND_CORE_PAGES_H
#define MARROWIND_CORE_PAGES_H

#include <cstddef>

namespace marrowind {

// Maps the whole pages inside [block, block + size). Only a request: where the system refuses
// it, the pages are mapped by faults when first touched, as they would have been.
void map_pages_now(void* block, std::size_t size);

}  // namespace marrowind

#endif
