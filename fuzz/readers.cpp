// readers.cpp: fuzz target for the alignment readers of every format and the program's reader.
//
// Contents: LLVMFuzzerTestOneInput.
//
// Any bytes may arrive as an alignment, detected or read in any named format. Whatever a
// reader accepts must be an alignment: as many names as rows, every row of one length; written
// back as FASTA it must read back as the same names and rows. A reader must give the same
// alignment, or the same refusal, whether it gets the text at once or in pieces (a line, a
// line end or gzip's magic number may cross a piece boundary anywhere). The program's reader
// must give exactly the FASTA reader's records wherever that finds one.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

#include "check.h"
#include "core/records.h"
#include "input/alignment_reader.h"
#include "input/fasta.h"
#include "input/text_stream.h"
#include "marrowind/errors.h"
#include "marrowind/readers.h"

namespace {

using marrowind::AlignedSequences;
using marrowind::AlignmentFormat;

// An accepted alignment, or the message of its refusal.
using Outcome = std::variant<AlignedSequences, std::string>;

Outcome read_in_pieces(const std::string& text, AlignmentFormat format, std::size_t piece)
{
    try {
        marrowind::AlignmentReader reader("in", format);
        for (std::size_t at = 0; at < text.size(); at += piece)
            reader.feed(text.data() + at, std::min(piece, text.size() - at));
        return reader.finish();
    } catch (const marrowind::Error& e) {
        return std::string(e.what());
    }
}

bool same(const Outcome& a, const Outcome& b)
{
    if (a.index() != b.index()) return false;
    if (const auto* message = std::get_if<std::string>(&a)) return *message == std::get<1>(b);
    const AlignedSequences& x = std::get<0>(a);
    const AlignedSequences& y = std::get<0>(b);
    return x.names == y.names && x.sequences == y.sequences && x.format == y.format;
}

void check_alignment(const AlignedSequences& read, AlignmentFormat requested)
{
    FUZZ_CHECK(!read.sequences.empty());
    FUZZ_CHECK(read.names.size() == read.sequences.size());
    FUZZ_CHECK(read.ranges.size() == read.sequences.size());
    FUZZ_CHECK(read.format != AlignmentFormat::kDetect);
    FUZZ_CHECK(requested == AlignmentFormat::kDetect || read.format == requested);
    for (const std::string& row : read.sequences)
        FUZZ_CHECK(row.size() == read.sequences[0].size());

    // A row that starts with ">" would be a header line in FASTA, so it cannot go there.
    if (std::any_of(read.sequences.begin(), read.sequences.end(),
                    [](const std::string& row) { return !row.empty() && row[0] == '>'; }))
        return;
    // FASTA drops one carriage return at a line end, so each line ends in one.
    std::string fasta;
    for (std::size_t i = 0; i < read.sequences.size(); ++i)
        fasta += ">" + read.names[i] + "\r\n" + read.sequences[i] + "\r\n";
    const AlignedSequences again = marrowind::parse_alignment(fasta, AlignmentFormat::kFasta);
    FUZZ_CHECK(again.names == read.names);
    FUZZ_CHECK(again.sequences == read.sequences);
}

void check_program_reader(const std::string& text)
{
    std::unique_ptr<Alignment> fasta(ParseFasta(text));
    try {
        // The program's parser is fed by the text decoder, which has dropped a byte-order mark
        // by then, as ParseFasta drops it itself.
        const std::string_view decoded = marrowind::detail::without_byte_order_mark(text);
        marrowind::detail::FastaOrInterleavedParser parser("in");
        parser.feed(decoded.data(), decoded.size());
        const std::unique_ptr<Alignment> read = parser.finish();
        FUZZ_CHECK(read->nseq == static_cast<int32_t>(read->seqs.size()));
        if (fasta->nseq == 0) return;
        FUZZ_CHECK(read->nseq == fasta->nseq && read->length == fasta->length);
        for (std::size_t i = 0; i < read->seqs.size(); ++i) {
            FUZZ_CHECK(read->seqs[i].name == fasta->seqs[i].name);
            FUZZ_CHECK(read->seqs[i].seq == fasta->seqs[i].seq);
        }
    } catch (const marrowind::Error&) {
        // Only a text without any FASTA record is read in another format, and refused in it.
        FUZZ_CHECK(fasta->nseq == 0);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string text(reinterpret_cast<const char*>(data), size);
    // The piece size comes from the input itself, so that the fuzzer explores it too.
    const std::size_t piece = size == 0 ? 1 : 1 + data[0] % 16;
    const AlignmentFormat formats[] = {AlignmentFormat::kDetect,    AlignmentFormat::kFasta,
                                       AlignmentFormat::kStockholm, AlignmentFormat::kA2m,
                                       AlignmentFormat::kA3m,       AlignmentFormat::kClustal};
    for (const AlignmentFormat format : formats) {
        const Outcome whole = read_in_pieces(text, format, std::max<std::size_t>(size, 1));
        FUZZ_CHECK(same(whole, read_in_pieces(text, format, piece)));
        if (const auto* read = std::get_if<AlignedSequences>(&whole)) check_alignment(*read, format);
    }
    check_program_reader(text);
    return 0;
}
