// text_stream.cpp: plain or gzip-compressed input handed on as text, piece by piece.
//
// Contents: without_byte_order_mark, ByteOrderMarkSkipper, TextDecoder, TextFile, stream_file.
#include "input/text_stream.h"

#include <sys/stat.h>

#include <utility>

#include "core/allocation.h"
#include "marrowind/errors.h"

namespace marrowind::detail {

namespace {

constexpr std::size_t kReadPiece = 1 << 16;

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

}  // namespace

std::string_view without_byte_order_mark(std::string_view text)
{
    if (text.substr(0, kByteOrderMark.size()) == kByteOrderMark)
        text.remove_prefix(kByteOrderMark.size());
    return text;
}

void ByteOrderMarkSkipper::feed(const char* data, std::size_t size, const TextSink& take)
{
    std::size_t at = 0;
    while (!decided_ && at < size) {
        held_.push_back(data[at++]);
        if (kByteOrderMark.substr(0, held_.size()) != held_) {
            decided_ = true;  // text: what was held back is its start
            take(held_.data(), held_.size());
        } else if (held_.size() == kByteOrderMark.size()) {
            decided_ = true;  // the mark: dropped
            dropped_ = held_.size();
        }
        if (decided_) std::string().swap(held_);
    }
    if (at < size) take(data + at, size - at);
}

void ByteOrderMarkSkipper::finish(const TextSink& take)
{
    if (!held_.empty()) take(held_.data(), held_.size());
    std::string().swap(held_);
    decided_ = true;
}

TextDecoder::TextDecoder(std::string source) : source_(std::move(source)) {}

void TextDecoder::feed(const char* data, std::size_t size, const TextSink& take)
{
    if (size == 0) return;
    if (!decided_) {
        // gzip's magic number may arrive split over two pieces.
        if (first_byte_.empty() && size == 1) {
            first_byte_.assign(data, 1);
            return;
        }
        const char magic[2] = {first_byte_.empty() ? data[0] : first_byte_[0],
                               first_byte_.empty() ? data[1] : data[0]};
        decided_ = true;
        if (starts_gzip(magic, 2)) inflater_.emplace(source_);
        if (!first_byte_.empty()) {
            pass_on(first_byte_.data(), first_byte_.size(), take);
            first_byte_.clear();
        }
    }
    pass_on(data, size, take);
}

void TextDecoder::finish(const TextSink& take)
{
    if (!first_byte_.empty()) {
        decided_ = true;
        text_start_.feed(first_byte_.data(), first_byte_.size(), take);
        first_byte_.clear();
    }
    if (inflater_) inflater_->finish();
    text_start_.finish(take);
}

void TextDecoder::pass_on(const char* data, std::size_t size, const TextSink& take)
{
    if (inflater_)
        inflater_->feed(data, size, [this, &take](const char* text, std::size_t length) {
            text_start_.feed(text, length, take);
        });
    else
        text_start_.feed(data, size, take);
}

TextFile::TextFile(const std::string& path)
    : path_(path), file_(std::fopen(path.c_str(), "r"), &std::fclose), decoder_(path)
{
    if (!file_) throw InputError::cannot_open(path);
    buffer_ = or_out_of_memory(static_cast<long long>(kReadPiece),
                               [] { return std::vector<char>(kReadPiece); });
}

bool TextFile::read_piece(const TextSink& take)
{
    if (ended_) return false;
    const std::size_t got = std::fread(buffer_.data(), 1, buffer_.size(), file_.get());
    decoder_.feed(buffer_.data(), got, take);
    if (got == buffer_.size()) return true;
    ended_ = true;
    if (std::ferror(file_.get())) throw InputError::cannot_read(path_);
    decoder_.finish(take);
    return false;
}

std::optional<std::uint64_t> TextFile::regular_file_size() const
{
    struct stat status;
    if (fstat(fileno(file_.get()), &status) != 0 || !S_ISREG(status.st_mode)) return std::nullopt;
    return static_cast<std::uint64_t>(status.st_size);
}

void stream_file(const std::string& path, const TextSink& take)
{
    TextFile file(path);
    while (file.read_piece(take)) {
    }
}

}  // namespace marrowind::detail
