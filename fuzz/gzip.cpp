// gzip.cpp: fuzz target for the decompression of gzip-compressed alignment files.
//
// Contents: LLVMFuzzerTestOneInput.
//
// Any bytes may arrive as a compressed file, and a file is read in chunks that may split its
// data anywhere (inside a header, a block, a check sum, between members or in the padding).
// Fed in pieces, the data must give the very text, or the very refusal, that it gives at once.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>

#include "check.h"
#include "input/gzip.h"
#include "marrowind/errors.h"
#include "marrowind/marrowind.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string compressed(reinterpret_cast<const char*>(data), size);
    std::string whole;
    bool whole_read = true;
    try {
        whole = marrowind::gunzip(compressed, "input");
    } catch (const marrowind::InputError&) {
        whole_read = false;
    }

    // The piece size comes from the last byte: the first two are the magic number.
    const std::size_t piece = size == 0 ? 1 : 1 + data[size - 1] % 16;
    std::string pieced;
    bool pieced_read = true;
    try {
        marrowind::detail::GzipInflater inflater("input");
        for (std::size_t at = 0; at < size; at += piece)
            inflater.feed(compressed.data() + at, std::min(piece, size - at),
                          [&pieced](const char* text, std::size_t length) {
                              pieced.append(text, length);
                          });
        inflater.finish();
    } catch (const marrowind::InputError&) {
        pieced_read = false;
    }
    FUZZ_CHECK(pieced_read == whole_read);
    if (whole_read) FUZZ_CHECK(pieced == whole);
    return 0;
}
