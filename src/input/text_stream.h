// text_stream.h: the text of an input, plain or gzip-compressed, handed on in pieces.
//
// Contents:
//   without_byte_order_mark  a text without the UTF-8 byte-order mark at its start
//   ByteOrderMarkSkipper     drops that mark from a text that arrives in pieces
//   TextDecoder  takes an input's bytes in pieces and hands on its text, decompressing gzip data
//   TextFile     reads a file piece by piece through a TextDecoder
//   stream_file  hands the whole text of a file to a sink
//
// An input whose first two bytes are gzip's magic number (1f 8b) is decompressed as it arrives
// (see input/gzip.h); any other input is its own text. A UTF-8 byte-order mark (EF BB BF) at
// the start of the text, which many editors write, marks its encoding and is no part of it: it
// is dropped, after decompression, so every reader sees the text that follows it. Nothing is
// ever held whole: each piece goes on as soon as it is read.
#ifndef MARROWIND_INPUT_TEXT_STREAM_H
#define MARROWIND_INPUT_TEXT_STREAM_H

#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "input/gzip.h"

namespace marrowind::detail {

using TextSink = GzipInflater::TextSink;

// `text` less a UTF-8 byte-order mark at its start; the whole of it when it starts otherwise.
std::string_view without_byte_order_mark(std::string_view text);

// Hands on a text that arrives in pieces, less a UTF-8 byte-order mark at its start: the first
// bytes are held back only while they may still be the start of one.
class ByteOrderMarkSkipper {
public:
    void feed(const char* data, std::size_t size, const TextSink& take);

    // Ends the text: hands on bytes still held back (a text shorter than the mark).
    void finish(const TextSink& take);

    // The bytes dropped: the mark's 3 once it has been seen, else 0.
    std::size_t dropped() const { return dropped_; }

private:
    bool decided_ = false;  // the start of the text has been seen to be a mark, or not
    std::string held_;
    std::size_t dropped_ = 0;
};

class TextDecoder {
public:
    // `source` names the input in error messages.
    explicit TextDecoder(std::string source);

    // Hands the text of the next `size` bytes to `take`. Throws DamagedCompressedData for gzip
    // data that cannot be decompressed, OutOfMemory, and whatever `take` throws.
    void feed(const char* data, std::size_t size, const TextSink& take);

    // Ends the input: hands on bytes still held back, and throws DamagedCompressedData when
    // gzip data ends inside a member.
    void finish(const TextSink& take);

    // Whether the input is gzip data; false until its first two bytes have arrived.
    bool compressed() const { return inflater_.has_value(); }

    // The bytes of text dropped so far: a byte-order mark's, or none.
    std::size_t dropped() const { return text_start_.dropped(); }

private:
    void pass_on(const char* data, std::size_t size, const TextSink& take);

    const std::string source_;
    std::optional<GzipInflater> inflater_;
    bool decided_ = false;    // the first two bytes have been seen
    std::string first_byte_;  // a lone first byte, held until the second tells what it starts
    ByteOrderMarkSkipper text_start_;
};

class TextFile {
public:
    // Opens the file at `path` exactly as given. Throws InputError::cannot_open.
    explicit TextFile(const std::string& path);

    // Reads the next piece of the file and hands its text to `take`. Returns false, after
    // handing on the last of the text, once the file has ended. Throws InputError::cannot_read
    // when a read fails (a directory cannot be read), and what TextDecoder::feed throws.
    bool read_piece(const TextSink& take);

    bool compressed() const { return decoder_.compressed(); }
    std::size_t dropped() const { return decoder_.dropped(); }

    // The file's size in bytes when it is a regular file; none for a pipe or a device.
    std::optional<std::uint64_t> regular_file_size() const;

private:
    const std::string path_;
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> file_;
    std::vector<char> buffer_;
    TextDecoder decoder_;
    bool ended_ = false;
};

// Hands the whole text of the file at `path` to `take`, piece by piece. Throws what TextFile
// throws.
void stream_file(const std::string& path, const TextSink& take);

}  // namespace marrowind::detail

#endif
