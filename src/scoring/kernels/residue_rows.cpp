// residue_rows.cpp: the rows of an alignment, its own or held elsewhere.
//
// Contents: ResidueRows, holding_copies.
#include "scoring/kernels/residue_rows.h"

#include "core/allocation.h"
#include "core/residues.h"
#include "scoring/parallel/buffers.h"

namespace marrowind {

ResidueRows::ResidueRows(const Alignment& alignment)
    : alignment_(&alignment), length_(alignment.length),
      rows_(allocate<const uint8_t*>(static_cast<std::size_t>(alignment.nseq)))
{
    for (int i = 0; i < alignment.nseq; ++i)
        rows_[i] = reinterpret_cast<const uint8_t*>(alignment.seqs[i].seq.data());
}

ResidueRows::ResidueRows(const std::vector<std::string_view>& rows, int length,
                         bool read_as_scored)
    : length_(length), read_as_scored_(read_as_scored),
      rows_(allocate<const uint8_t*>(rows.size()))
{
    for (std::size_t i = 0; i < rows.size(); ++i)
        rows_[i] = reinterpret_cast<const uint8_t*>(rows[i].data());
}

std::unique_ptr<Alignment> holding_copies(const ResidueRows& rows)
{
    auto alignment = make_owned<Alignment>();
    alignment->nseq = rows.nseq();
    alignment->length = rows.length();
    alignment->seqs = allocate<Prot>(static_cast<std::size_t>(rows.nseq()));
    const auto length = static_cast<std::size_t>(rows.length());
    for (int i = 0; i < rows.nseq(); ++i) {
        std::string& copy = alignment->seqs[i].seq;
        detail::or_out_of_memory(static_cast<long long>(length), [&] { copy.resize(length); });
        for (std::size_t k = 0; k < length; ++k)
            copy[k] = static_cast<char>(rows.read_as_scored() ? detail::as_scored(rows[i][k])
                                                              : rows[i][k]);
    }
    return alignment;
}

}  // namespace marrowind
