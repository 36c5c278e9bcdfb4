// gzip.h: decompressing gzip data as it arrives in pieces, through zlib.
//
// Contents:
//   starts_gzip   whether bytes begin with a gzip member's magic number (1f 8b)
//   GzipInflater  incremental decompressor: feed it compressed pieces, it hands on the text
//
// A gzip file may hold several members one after another (`cat a.gz b.gz`, bgzip's blocks);
// their texts follow one another, as `gzip -dc` gives them. Zero bytes after the last member
// are padding (tape archives and some tools add them) and are skipped. Anything else after a
// member, a member cut short, or a member whose data or check sum is damaged makes the whole
// input unreadable: an alignment is never scored from part of a file.
#ifndef MARROWIND_INPUT_GZIP_H
#define MARROWIND_INPUT_GZIP_H

#include <cstddef>
#include <functional>
#include <memory>
#include <string>

namespace marrowind::detail {

bool starts_gzip(const char* data, std::size_t size);

class GzipInflater {
public:
    // Receives each run of decompressed text, in order.
    using TextSink = std::function<void(const char* text, std::size_t size)>;

    // `source` names the data in the error message: a file's path. Throws OutOfMemory.
    explicit GzipInflater(std::string source);
    ~GzipInflater();
    GzipInflater(const GzipInflater&) = delete;
    GzipInflater& operator=(const GzipInflater&) = delete;

    // Decompresses the next `size` bytes of the data, handing the text to `take` as it comes.
    // Throws marrowind::DamagedCompressedData ("\nError: <source> could not be read\n") as
    // soon as the data cannot be gzip, and OutOfMemory.
    void feed(const char* data, std::size_t size, const TextSink& take);

    // Ends the data: throws the same DamagedCompressedData when it stops inside a member.
    void finish() const;

private:
    struct Stream;  // zlib's state, its output buffer and where in the data it stands
    const std::string source_;
    std::unique_ptr<Stream> stream_;
};

}  // namespace marrowind::detail

#endif
