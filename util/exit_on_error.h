// exit_on_error.h: how the utility library's C-style routines end the process on a failure.
//
// Contents:
//   ExitWith  writes an error's message to standard error and ends with its status
//   OrExit    runs a throwing twin and ends the process if it fails
//
// Each C-style routine that can fail is its throwing twin of namespace marrowind::util run
// through OrExit, so the two cannot drift apart: the message a C-style caller sees on standard
// error is exactly the what() a C++ caller catches.
#ifndef MARROWIND_UTIL_EXIT_ON_ERROR_H
#define MARROWIND_UTIL_EXIT_ON_ERROR_H

#include <cstdio>
#include <cstdlib>
#include <new>

#include "marrowind/errors.h"

namespace marrowind::detail {

[[noreturn]] inline void ExitWith(const Error& error)
{
    std::fputs(error.what(), stderr);
    std::fflush(stderr);
    std::exit(error.exit_status());
}

// The twins allocate with malloc and report that themselves; only building a message can run
// out of memory inside the standard library, and that is reported as exhausted memory too.
template <typename Call>
auto OrExit(Call call) -> decltype(call())
{
    try {
        return call();
    } catch (const Error& error) {
        ExitWith(error);
    } catch (const std::bad_alloc&) {
        ExitWith(OutOfMemory(1));
    }
}

}  // namespace marrowind::detail

#endif
