// size_estimate.cpp: an alignment file's size, told from its first record or block.
//
// Contents: FirstBlockProbe, estimate_alignment_size.
//
// A batch sizes each job before it starts, and reading a large alignment whole only to size
// its job would cost as much as the job. The first record (FASTA, A2M, A3M) or block
// (Stockholm, Clustal) is read line by line, each line counted with its line end (a line feed,
// a carriage return and line feed, or a lone carriage return, as the readers cut lines); the
// rest of the text is counted, not read (a plain file's size is its text's).
#include <algorithm>
#include <cmath>
#include <cstring>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "core/allocation.h"
#include "input/a3m.h"
#include "input/formats.h"
#include "input/lines.h"
#include "input/text_stream.h"
#include "marrowind/readers.h"

namespace marrowind {

namespace {

bool starts_with(std::string_view text, std::string_view prefix)
{
    return text.substr(0, prefix.size()) == prefix;
}

// Reads lines until the first record or block has ended, counting the bytes it reads.
class FirstBlockProbe {
public:
    explicit FirstBlockProbe(std::string source) : source_(std::move(source)) {}

    // Takes the next line, its line feed included. Returns false once the first record or
    // block has ended (the line that ends it counted as read).
    bool take(std::string_view line);

    // The estimate for a text of `text_bytes` bytes; once take() returned false or the text
    // has ended.
    AlignmentSizeEstimate estimate(std::uint64_t text_bytes) const;

private:
    enum class Stage { kFirstLine, kFirstRecord, kRecord, kBlock, kDone };

    void take_record_line(std::string_view line);
    void take_block_line(std::string_view line);

    const std::string source_;
    Stage stage_ = Stage::kFirstLine;
    AlignmentFormat format_ = AlignmentFormat::kFasta;
    std::uint64_t read_bytes_ = 0;
    std::uint64_t block_bytes_ = 0;  // 0: no alignment found
    std::int64_t sequences_ = 0;     // in the first block; 0 for FASTA, A2M and A3M
    std::int64_t columns_ = 0;
};

bool FirstBlockProbe::take(std::string_view line)
{
    read_bytes_ += line.size();
    switch (stage_) {
    case Stage::kFirstLine: {
        const std::string_view text = detail::trimmed(line);
        if (text.empty()) break;
        const std::optional<AlignmentFormat> format = detail::format_of_first_line(text, source_);
        if (!format) {
            stage_ = Stage::kDone;
        } else if (*format == AlignmentFormat::kStockholm ||
                   *format == AlignmentFormat::kClustal) {
            format_ = *format;
            stage_ = Stage::kBlock;
        } else {
            format_ = *format;
            stage_ = Stage::kFirstRecord;
            // The record starts at the first line that starts with ">" (A3M comments before).
            read_bytes_ -= line.size();
            return take(line);
        }
        break;
    }
    case Stage::kFirstRecord:
        if (line[0] == '>') {
            block_bytes_ = line.size();
            stage_ = Stage::kRecord;
        }
        break;
    case Stage::kRecord:
        take_record_line(line);
        break;
    case Stage::kBlock:
        take_block_line(line);
        break;
    case Stage::kDone:
        break;
    }
    return stage_ != Stage::kDone;
}

void FirstBlockProbe::take_record_line(std::string_view line)
{
    if (line[0] == '>') {
        stage_ = Stage::kDone;
        return;
    }
    block_bytes_ += line.size();
    const std::string_view residues = detail::trimmed(line);
    const bool inserts_marked =
        format_ == AlignmentFormat::kA2m || format_ == AlignmentFormat::kA3m;
    columns_ += static_cast<std::int64_t>(inserts_marked ? detail::count_match_states(residues)
                                                         : residues.size());
}

void FirstBlockProbe::take_block_line(std::string_view line)
{
    if (starts_with(line, "//")) {
        stage_ = Stage::kDone;
        return;
    }
    if (detail::is_blank(line)) {
        if (sequences_ > 0) stage_ = Stage::kDone;
        return;
    }
    // Markup before the first sequence line describes the file, not the block.
    if (sequences_ > 0 || line[0] != '#') block_bytes_ += line.size();
    if (line[0] == '#' || line[0] == ' ' || line[0] == '\t') return;  // markup, marks
    const auto fields = detail::split_fields(line, 3);
    if (fields.size() < 2) return;
    if (sequences_++ == 0) columns_ = static_cast<std::int64_t>(fields[1].size());
}

AlignmentSizeEstimate FirstBlockProbe::estimate(std::uint64_t text_bytes) const
{
    AlignmentSizeEstimate estimate;
    estimate.text_bytes = text_bytes;
    if (block_bytes_ == 0) return estimate;
    // Blocks (or records) of the first one's size that fill the text; rounded half to even.
    const double blocks = 1.0 + (static_cast<double>(text_bytes) -
                                 static_cast<double>(read_bytes_)) /
                                    static_cast<double>(block_bytes_);
    if (format_ == AlignmentFormat::kStockholm || format_ == AlignmentFormat::kClustal) {
        estimate.sequences = std::max<std::int64_t>(1, sequences_);
        estimate.columns = static_cast<std::int64_t>(std::nearbyint(columns_ * blocks));
    } else {
        estimate.sequences = std::max<std::int64_t>(1, static_cast<std::int64_t>(
                                                           std::nearbyint(blocks)));
        estimate.columns = columns_;
    }
    return estimate;
}

}  // namespace

AlignmentSizeEstimate estimate_alignment_size(const std::string& path)
{
    detail::TextFile file(path);
    FirstBlockProbe probe(path);
    std::uint64_t text_bytes = 0;
    bool probing = true;
    std::string line;
    bool line_ends_in_cr = false;  // `line` ended in a carriage return at the end of a piece
    const auto hand_on = [&]() {
        probing = probe.take(line);
        line.clear();
        line_ends_in_cr = false;
    };
    const auto take = [&](const char* text, std::size_t size) {
        text_bytes += size;
        std::size_t at = 0;
        if (probing && line_ends_in_cr && size > 0) {
            if (text[0] == '\n') detail::append_bytes(line, text, at = 1);
            hand_on();
        }
        while (probing && at < size) {
            std::size_t end = at;
            while (end < size && text[end] != '\n' && text[end] != '\r') ++end;
            if (end == size) {
                detail::append_bytes(line, text + at, size - at);
                return;
            }
            // The line end goes with its line: LF, CR LF, or a lone CR.
            if (text[end] == '\r' && end + 1 < size && text[end + 1] == '\n') ++end;
            detail::append_bytes(line, text + at, end + 1 - at);
            at = end + 1;
            if (text[end] == '\r' && at == size)
                line_ends_in_cr = true;  // a line feed may follow in the next piece
            else
                hand_on();
        }
    };
    while (probing && file.read_piece(take)) {
    }
    if (probing && !line.empty()) hand_on();
    if (!probing) {
        // The rest of a plain file is its size (less a byte-order mark, no text); gzip data
        // must be decompressed to count it.
        const std::optional<std::uint64_t> size = file.regular_file_size();
        if (size && !file.compressed())
            text_bytes = *size - file.dropped();
        else
            while (file.read_piece(take)) {
            }
    }
    return probe.estimate(text_bytes);
}

}  // namespace marrowind
