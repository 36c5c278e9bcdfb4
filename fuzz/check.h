// check.h: the property checks that the fuzz targets make beyond the sanitizers' own.
//
// Contents:
//   FUZZ_CHECK  aborts with the failed condition when a property does not hold, which libFuzzer
//               reports as a crash and keeps the input that caused it
#ifndef MARROWIND_FUZZ_CHECK_H
#define MARROWIND_FUZZ_CHECK_H

#include <cstdio>
#include <cstdlib>

#define FUZZ_CHECK(condition)                                                               \
    do {                                                                                    \
        if (!(condition)) {                                                                 \
            std::fprintf(stderr, "%s:%d: property failed: %s\n", __FILE__, __LINE__, #condition); \
            std::abort();                                                                   \
        }                                                                                   \
    } while (0)

#endif
