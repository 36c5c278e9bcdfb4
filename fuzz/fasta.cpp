// fasta.cpp: fuzz target for the FASTA reader followed by the alignment validation.
//
// Contents: LLVMFuzzerTestOneInput.
//
// Any bytes may arrive as an alignment file. The reader must split them into the same records
// whether it gets the text at once or in pieces (a file is read in chunks, and a line, a line
// end or a byte-order mark may cross a chunk boundary anywhere), and an alignment that the
// validation accepts must keep its promise: every sequence as long as the first, no "." and no
// lower-case letter left.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "check.h"
#include "core/records.h"
#include "input/fasta.h"
#include "input/text_stream.h"
#include "input/validate.h"
#include "marrowind/errors.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string text(reinterpret_cast<const char*>(data), size);
    try {
        std::unique_ptr<Alignment> whole(ParseFasta(text));
        FUZZ_CHECK(whole->nseq == static_cast<int32_t>(whole->seqs.size()));

        // The piece size comes from the input itself, so that the fuzzer explores it too. The
        // record list is reused: its room for 10000 records, made anew for every input, would
        // cost more than the parsing.
        const std::size_t piece = size == 0 ? 1 : 1 + data[0] % 16;
        static Alignment pieced;
        pieced.seqs.clear();
        marrowind::detail::FastaParser parser(pieced, "");
        marrowind::detail::ByteOrderMarkSkipper text_start;
        const auto take = [&parser](const char* bytes, std::size_t count) {
            parser.feed(bytes, count);
        };
        for (std::size_t at = 0; at < size; at += piece)
            text_start.feed(text.data() + at, std::min(piece, size - at), take);
        text_start.finish(take);
        parser.finish();
        FUZZ_CHECK(pieced.nseq == whole->nseq && pieced.length == whole->length);
        for (std::size_t i = 0; i < whole->seqs.size(); ++i) {
            FUZZ_CHECK(pieced.seqs[i].name == whole->seqs[i].name);
            FUZZ_CHECK(pieced.seqs[i].seq == whole->seqs[i].seq);
        }

        CheckSeqs(whole.get());
        FUZZ_CHECK(whole->nseq >= 1);
        for (const Prot& prot : whole->seqs) {
            FUZZ_CHECK(static_cast<int32_t>(prot.seq.size()) == whole->length);
            for (const char c : prot.seq) FUZZ_CHECK(c != '.' && !(c >= 'a' && c <= 'z'));
        }
    } catch (const marrowind::Error&) {
        // A refused alignment is a reported input error, not a finding.
    }
    return 0;
}
