// buffers.h: the scoring stages' working memory, every failure reported as OutOfMemory.
//
// Contents:
//   allocate        a vector of `count` copies of a value
//   allocate_array  an array of `count` default-initialised elements (left unset for numbers)
//   reserve         room for `count` elements in a vector, so that later appends cannot fail
//   make_owned      one object on the heap, like std::make_unique
//   CodeBuffer      an aligned byte buffer for the class codes of a whole alignment
//
// The stages never let std::bad_alloc or std::length_error escape: each allocation that fails
// becomes marrowind::OutOfMemory with the number of elements it asked for.
#ifndef MARROWIND_SCORING_PARALLEL_BUFFERS_H
#define MARROWIND_SCORING_PARALLEL_BUFFERS_H

#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>
#include <stdexcept>
#include <utility>
#include <vector>

#include "marrowind/errors.h"

namespace marrowind {

template <typename T>
std::vector<T> allocate(std::size_t count, const T& fill = T())
{
    try {
        return std::vector<T>(count, fill);
    } catch (const std::bad_alloc&) {
        throw OutOfMemory(static_cast<long long>(count));
    } catch (const std::length_error&) {
        throw OutOfMemory(static_cast<long long>(count));
    }
}

template <typename T>
std::unique_ptr<T[]> allocate_array(std::size_t count)
{
    try {
        return std::unique_ptr<T[]>(new T[count]);
    } catch (const std::bad_alloc&) {  // std::bad_array_new_length too
        throw OutOfMemory(static_cast<long long>(count));
    }
}

template <typename T>
void reserve(std::vector<T>& vector, std::size_t count)
{
    try {
        vector.reserve(count);
    } catch (const std::bad_alloc&) {
        throw OutOfMemory(static_cast<long long>(count));
    } catch (const std::length_error&) {
        throw OutOfMemory(static_cast<long long>(count));
    }
}

// The object's own memory is asked for first, so that a failure there reports one element
// and an OutOfMemory from its constructor passes through as it is.
template <typename T, typename... Args>
std::unique_ptr<T> make_owned(Args&&... args)
{
    static_assert(alignof(T) <= __STDCPP_DEFAULT_NEW_ALIGNMENT__, "over-aligned for make_owned");
    void* place = ::operator new(sizeof(T), std::nothrow);
    if (place == nullptr) throw OutOfMemory(1);
    try {
        return std::unique_ptr<T>(new (place) T(std::forward<Args>(args)...));
    } catch (...) {
        ::operator delete(place);
        throw;
    }
}

// 64-byte aligned, its pages mapped at once, and for large alignments backed by huge pages
// where the system allows, since the pair loops sweep the whole buffer again and again and
// would otherwise spend their time on address translation.
class CodeBuffer {
public:
    CodeBuffer() = default;
    // Uninitialised, for a caller that writes every byte.
    explicit CodeBuffer(std::size_t size);

    uint8_t* data() const { return bytes_.get(); }
    uint8_t& operator[](std::size_t at) const { return bytes_.get()[at]; }

private:
    struct Free {
        void operator()(uint8_t* block) const;
    };
    std::unique_ptr<uint8_t, Free> bytes_;
};

}  // namespace marrowind

#endif
