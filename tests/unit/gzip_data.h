// gzip_data.h: gzip data made by zlib for the tests of compressed input.
//
// Contents:
//   gzip_member  one gzip member holding a text
#ifndef MARROWIND_TESTS_UNIT_GZIP_DATA_H
#define MARROWIND_TESTS_UNIT_GZIP_DATA_H

#include <gtest/gtest.h>

#include <zlib.h>

#include <string>

// One gzip member holding `text`, as zlib's deflate writes it.
inline std::string gzip_member(const std::string& text)
{
    z_stream stream{};
    EXPECT_EQ(deflateInit2(&stream, Z_BEST_COMPRESSION, Z_DEFLATED, 16 + MAX_WBITS, 8,
                           Z_DEFAULT_STRATEGY),
              Z_OK);
    std::string member(deflateBound(&stream, text.size()), '\0');
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(text.data()));
    stream.avail_in = static_cast<uInt>(text.size());
    stream.next_out = reinterpret_cast<Bytef*>(member.data());
    stream.avail_out = static_cast<uInt>(member.size());
    EXPECT_EQ(deflate(&stream, Z_FINISH), Z_STREAM_END);
    member.resize(stream.total_out);
    deflateEnd(&stream);
    return member;
}

#endif
