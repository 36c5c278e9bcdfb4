// gzip.cpp: incremental gzip decompression with zlib.
//
// Contents: starts_gzip, GzipInflater.
#include "input/gzip.h"

#include <zlib.h>

#include <algorithm>
#include <cstdlib>
#include <limits>
#include <utility>
#include <vector>

#include "core/allocation.h"
#include "marrowind/errors.h"

namespace marrowind::detail {

namespace {

constexpr std::size_t kTextPiece = 1 << 16;
// inflate's window bits for gzip only: a zlib or raw deflate stream is refused as damaged.
constexpr int kGzipWindowBits = 16 + MAX_WBITS;

enum class Position {
    kInMember,     // inside a member, its end not yet seen
    kAfterMember,  // at the end of a member, no byte of what follows seen yet
    kInPadding,    // in the zero bytes after the last member
};

}  // namespace

struct GzipInflater::Stream {
    z_stream zlib{};
    std::vector<char> text;
    Position position = Position::kInMember;
    // The size of the allocation that zlib could not get, for the out-of-memory report.
    long long refused_bytes = 0;
};

namespace {

// zlib's allocator; `refused_bytes` points to where the size of a failed request goes.
voidpf allocate(voidpf refused_bytes, uInt items, uInt size)
{
    void* block = std::calloc(items, size);
    if (block == nullptr)
        *static_cast<long long*>(refused_bytes) =
            static_cast<long long>(items) * static_cast<long long>(size);
    return block;
}

void release(voidpf, voidpf block) { std::free(block); }

}  // namespace

bool starts_gzip(const char* data, std::size_t size)
{
    return size >= 2 && static_cast<unsigned char>(data[0]) == 0x1f &&
           static_cast<unsigned char>(data[1]) == 0x8b;
}

GzipInflater::GzipInflater(std::string source) : source_(std::move(source))
{
    stream_ = or_out_of_memory(static_cast<long long>(sizeof(Stream)),
                               [] { return std::make_unique<Stream>(); });
    stream_->text = or_out_of_memory(static_cast<long long>(kTextPiece),
                                     [] { return std::vector<char>(kTextPiece); });
    z_stream& zlib = stream_->zlib;
    zlib.zalloc = allocate;
    zlib.zfree = release;
    zlib.opaque = &stream_->refused_bytes;
    const int status = inflateInit2(&zlib, kGzipWindowBits);
    if (status == Z_MEM_ERROR) throw OutOfMemory(stream_->refused_bytes);
    if (status != Z_OK) throw InputError::cannot_read(source_);
}

GzipInflater::~GzipInflater() { inflateEnd(&stream_->zlib); }

void GzipInflater::feed(const char* data, std::size_t size, const TextSink& take)
{
    Stream& stream = *stream_;
    z_stream& zlib = stream.zlib;
    while (size > 0) {
        if (stream.position == Position::kAfterMember) {
            // What follows a member is padding or the next member, whose header inflate checks.
            if (data[0] == '\0') {
                stream.position = Position::kInPadding;
            } else {
                inflateReset(&zlib);
                stream.position = Position::kInMember;
            }
        }
        if (stream.position == Position::kInPadding) {
            if (std::any_of(data, data + size, [](char c) { return c != '\0'; }))
                throw DamagedCompressedData(source_);
            return;
        }

        // zlib counts its input in uInt, which may be narrower than size_t.
        const uInt piece = static_cast<uInt>(
            std::min<std::size_t>(size, std::numeric_limits<uInt>::max()));
        zlib.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data));
        zlib.avail_in = piece;
        int status;
        do {
            zlib.next_out = reinterpret_cast<Bytef*>(stream.text.data());
            zlib.avail_out = static_cast<uInt>(stream.text.size());
            status = inflate(&zlib, Z_NO_FLUSH);
            if (status == Z_MEM_ERROR) throw OutOfMemory(stream.refused_bytes);
            // Z_BUF_ERROR: all the input is used and no more text is waiting.
            if (status != Z_OK && status != Z_STREAM_END && status != Z_BUF_ERROR)
                throw DamagedCompressedData(source_);
            const std::size_t produced = stream.text.size() - zlib.avail_out;
            if (produced > 0) take(stream.text.data(), produced);
        } while (status == Z_OK && (zlib.avail_in > 0 || zlib.avail_out == 0));

        const std::size_t used = piece - zlib.avail_in;
        data += used;
        size -= used;
        if (status == Z_STREAM_END) stream.position = Position::kAfterMember;
    }
}

void GzipInflater::finish() const
{
    if (stream_->position == Position::kInMember) throw DamagedCompressedData(source_);
}

}  // namespace marrowind::detail
