// text_stream.h: the text of an input, plain or gzip-compressed, handed on in pieces.
//
// Contents:
//   TextDecoder  takes an input's bytes in pieces and hands on its text, decompressing gzip data
//   TextFile     reads a file piece by piece through a TextDecoder
//   stream_file  hands the whole text of a file to a sink
//
// An input whose first two bytes are gzip's magic number (1f 8b) is decompressed as it arrives
// (see input/gzip.h); any other input is its own text. Nothing is ever held whole: each piece
// goes on as soon as it is read.
#ifndef MARROWIND_INPUT_TEXT_STREAM_H
#define MARROWIND_INPUT_TEXT_STREAM_H

#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "input/gzip.h"

namespace marrowind::detail {

using TextSink = GzipInflater::TextSink;

class TextDecoder {
public:
    // `source` names the input in error messages.
    explicit TextDecoder(std::string source);

    // Hands the text of the next `size` bytes to `take`. Throws DamagedCompressedData for gzip
    // data that cannot be decompressed, OutOfMemory, and whatever `take` throws.
    void feed(const char* data, std::size_t size, const TextSink& take);

    // Ends the input: hands on a first byte still held back, and throws DamagedCompressedData
    // when gzip data ends inside a member.
    void finish(const TextSink& take);

    // Whether the input is gzip data; false until its first two bytes have arrived.
    bool compressed() const { return inflater_.has_value(); }

private:
    void pass_on(const char* data, std::size_t size, const TextSink& take);

    const std::string source_;
    std::optional<GzipInflater> inflater_;
    bool decided_ = false;    // the first two bytes have been seen
    std::string first_byte_;  // a lone first byte, held until the second tells what it starts
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
