// alignment_reader.cpp: the library's and the program's alignment readers.
//
// Contents: AlignmentParser, FastaOrInterleavedParser, ReadFastaOrInterleaved.
#include "input/alignment_reader.h"

#include <algorithm>
#include <utility>

#include "core/allocation.h"
#include "input/text_stream.h"
#include "marrowind/errors.h"

namespace marrowind::detail {

namespace {

std::unique_ptr<Alignment> new_alignment()
{
    return or_out_of_memory(1, [] { return std::make_unique<Alignment>(); });
}

std::unique_ptr<InterleavedParser> interleaved_parser(AlignmentFormat format, Alignment& target,
                                                      const std::string& source)
{
    if (format == AlignmentFormat::kStockholm)
        return std::make_unique<StockholmParser>(target, source);
    return std::make_unique<ClustalParser>(target, source);
}

bool is_interleaved(AlignmentFormat format)
{
    return format == AlignmentFormat::kStockholm || format == AlignmentFormat::kClustal;
}

bool is_ragged(const Alignment& alignment)
{
    const std::vector<Prot>& records = alignment.seqs;
    return std::any_of(records.begin(), records.end(), [&](const Prot& record) {
        return record.seq.size() != records[0].seq.size();
    });
}

void check_aligned(const Alignment& alignment, const std::string& source)
{
    const std::vector<Prot>& records = alignment.seqs;
    if (records.empty()) throw MalformedAlignment(source + ": no sequences");
    for (const Prot& record : records)
        if (record.seq.size() != records[0].seq.size())
            throw MalformedAlignment(source + ": sequences differ in length (" +
                                     records[0].name + " has " +
                                     std::to_string(records[0].seq.size()) + " columns, " +
                                     record.name + " has " + std::to_string(record.seq.size()) +
                                     ")");
}

}  // namespace

AlignmentParser::AlignmentParser(std::string source, AlignmentFormat format)
    : source_(std::move(source)), format_(format), detecting_(format == AlignmentFormat::kDetect)
{
    if (detecting_)
        sniffer_.emplace(source_);
    else
        start(format);
}

void AlignmentParser::start(AlignmentFormat format)
{
    format_ = format;
    alignment_ = new_alignment();
    if (is_interleaved(format))
        interleaved_ = interleaved_parser(format, *alignment_, source_);
    else
        fasta_.emplace(*alignment_, source_, 0);
}

void AlignmentParser::feed(const char* data, std::size_t size)
{
    if (!sniffer_) {
        parse(data, size);
        return;
    }
    if (sniffer_->take(data, size)) start_detected();
}

void AlignmentParser::start_detected()
{
    const std::optional<AlignmentFormat> format = sniffer_->format();
    if (!format) throw not_an_alignment(source_);
    start(*format);
    parse(sniffer_->held().data(), sniffer_->held().size());
    sniffer_.reset();
}

void AlignmentParser::parse(const char* data, std::size_t size)
{
    if (interleaved_) {
        interleaved_->feed(data, size);
        return;
    }
    if (format_ != AlignmentFormat::kA2m && format_ != AlignmentFormat::kA3m) {
        fasta_->feed(data, size);
        return;
    }
    const std::size_t first = first_record_.skip(data, size);
    fasta_->feed(data + first, size - first);
    // Each record's inserts go as soon as it is complete: in A3M they may outweigh the
    // alignment.
    std::vector<Prot>& records = alignment_->seqs;
    for (; records_cut_ < records.size(); ++records_cut_)
        keep_match_states(records[records_cut_].seq);
}

std::unique_ptr<Alignment> AlignmentParser::finish(AlignmentFormat& format)
{
    if (sniffer_) {
        sniffer_->end();
        start_detected();
    }
    if (interleaved_) {
        interleaved_->finish();
    } else {
        fasta_->finish();
        if (format_ == AlignmentFormat::kA2m || format_ == AlignmentFormat::kA3m) {
            keep_match_columns(*alignment_);
            if (!alignment_->seqs.empty())
                chains_ = read_complex_chains(first_record_.first_line(), alignment_->length,
                                              source_);
        } else if (detecting_ && is_ragged(*alignment_) && looks_like_a3m(*alignment_)) {
            format_ = AlignmentFormat::kA3m;
            keep_match_columns(*alignment_);
        }
    }
    check_aligned(*alignment_, source_);
    format = format_;
    return std::move(alignment_);
}

FastaOrInterleavedParser::FastaOrInterleavedParser(std::string source)
    : source_(std::move(source)), fasta_alignment_(new_alignment()),
      fasta_(*fasta_alignment_, source_)
{
    sniffer_.emplace(source_);
}

void FastaOrInterleavedParser::feed(const char* data, std::size_t size)
{
    fasta_.feed(data, size);
    // Once a header line is seen the text is FASTA, whatever its first line says.
    if (fasta_.records_seen() > 0) {
        drop_other();
        return;
    }
    if (sniffer_) {
        if (sniffer_->take(data, size)) start_other();
    } else if (other_) {
        parse_other(data, size);
    }
}

void FastaOrInterleavedParser::start_other()
{
    const std::optional<AlignmentFormat> format = sniffer_->format();
    if (format && is_interleaved(*format)) {
        other_alignment_ = new_alignment();
        other_ = interleaved_parser(*format, *other_alignment_, source_);
        parse_other(sniffer_->held().data(), sniffer_->held().size());
    }
    sniffer_.reset();
}

void FastaOrInterleavedParser::parse_other(const char* data, std::size_t size)
{
    try {
        other_->feed(data, size);
    } catch (...) {
        other_failure_ = std::current_exception();
        other_.reset();
        other_alignment_.reset();
    }
}

void FastaOrInterleavedParser::drop_other()
{
    sniffer_.reset();
    other_.reset();
    other_alignment_.reset();
    other_failure_ = nullptr;
}

std::unique_ptr<Alignment> FastaOrInterleavedParser::finish()
{
    fasta_.finish();
    if (fasta_alignment_->nseq > 0) return std::move(fasta_alignment_);
    if (sniffer_) {
        sniffer_->end();
        start_other();
    }
    if (other_failure_) std::rethrow_exception(other_failure_);
    if (!other_) return std::move(fasta_alignment_);
    other_->finish();
    return std::move(other_alignment_);
}

}  // namespace marrowind::detail

Alignment* ReadFastaOrInterleaved(const char* path)
{
    marrowind::detail::FastaOrInterleavedParser parser(path);
    marrowind::detail::stream_file(path, [&parser](const char* text, std::size_t size) {
        parser.feed(text, size);
    });
    return parser.finish().release();
}
