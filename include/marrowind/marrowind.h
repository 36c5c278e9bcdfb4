// marrowind.h: the C++ library interface of Marrowind.
//
// Contents:
//   Sequences           names and aligned residue strings, as read from FASTA
//   read_fasta          reads an aligned FASTA file
//   parse_fasta         reads aligned FASTA text held in memory
//   gunzip              the text of gzip-compressed data, as read_fasta reads a compressed file
//   SubstitutionMatrix  a matrix read from a file, a stream or text, rescaled to 0..1
//   KernelLevel         which instruction set the scoring's inner loops use
//   ScoringMode         exact scores, or approximate ones that grow linearly with the sequences
//   ScoringStage        the stages of a scoring call
//   default_thread_count  the threads a scoring call uses unless told
//   ScoringOptions      mode, kernel level, thread count, residue reading, weights and progress
//                       reports of a scoring call
//   ConservationScores  sequence weights, column scores and the DOPS score of an alignment
//   score_alignment     scores aligned sequences with a matrix
//   score_alignment_views  the same on views of sequences held elsewhere
//   pair_distance       the distance between two aligned sequences
//   dops_score          the DOPS score of a list of column scores
// and, from <marrowind/readers.h>, the readers of alignments in FASTA, Stockholm, A2M, A3M and
// Clustal (read_alignment, parse_alignment, AlignmentReader, detect_format,
// estimate_alignment_size).
//
// Nothing here prints or ends the process. Failures are thrown as the exceptions of
// <marrowind/errors.h>, whose what() is the message the command-line program would print:
// InputError for unreadable or malformed input, OutOfMemory when memory runs out (copying the
// caller's strings may also throw std::bad_alloc).
// score_alignment runs the very stages of the command-line program, so its figures equal the
// program's to the last bit. Objects may be shared between threads for reading.
#ifndef MARROWIND_MARROWIND_H
#define MARROWIND_MARROWIND_H

#include <functional>
#include <istream>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "marrowind/errors.h"
#include "marrowind/readers.h"

namespace marrowind {

namespace detail {
struct MatrixRecord;  // the library's own form of a matrix
}

struct Sequences {
    std::vector<std::string> names;     // header text after ">", as written
    std::vector<std::string> residues;  // residues as written (not yet upper-cased)
};

// Reads an aligned FASTA file: a line starting with ">" starts a record, every other line is
// appended to it, blank lines add nothing, and a line ends at LF, CR LF or a lone CR (old Mac
// files). A file without any header
// gives no sequences. A gzip-compressed file (it starts with the bytes 1f 8b) reads as its
// text. A UTF-8 byte-order mark (EF BB BF) at the start of the text is skipped. Throws
// InputError when the file cannot be opened or read, or its gzip data is damaged.
Sequences read_fasta(const std::string& path);

// As read_fasta, on text held in memory (not compressed).
Sequences parse_fasta(std::string_view text);

// The text of gzip-compressed data, exactly as read_fasta decompresses a file: its members one
// after another, zero bytes after the last one skipped. Throws InputError "\nError: <source>
// could not be read\n" when the data is damaged, cut short or followed by anything else.
std::string gunzip(const std::string& data, const std::string& source);

class SubstitutionMatrix {
public:
    // Reads a matrix file: comment lines starting with "#" or "!", a header of comma-separated
    // letters, then one row of comma-separated integer scores per letter. Throws InputError
    // when the file cannot be opened, is malformed, or has no range (all scores equal). Faults
    // that the format reads past are kept as warnings().
    static SubstitutionMatrix load(const std::string& path);

    // As load, from a stream, which it reads to its end; `source` names it in messages.
    static SubstitutionMatrix load(std::istream& in, const std::string& source);

    // As load, from the text of a matrix file.
    static SubstitutionMatrix parse(const std::string& text,
                                    const std::string& source = "matrix text");

    // The rescaled similarity of residue a against residue b, from 0 to 1: 0 when either is a
    // gap ("-" or "X") or a character that the matrix does not list. Case matters.
    double similarity(char a, char b) const;

    // The header letters in order.
    std::string letters() const;

    // One line per fault that the matrix format reads past, in file order, each naming the
    // source, the line and the consequence (none for a sound file), as the program prints them
    // after "Warning: ": "m.mat2 line 2: header letter 'a' is lower case; alignments are read
    // in upper case, so its scores are never used". The faults: a header letter in lower case,
    // a header entry longer than one letter (only its first character counts), a letter listed
    // again (its later row and column win), a score that is not a whole number (read as its
    // leading digits, or 0), lines after the last score row (never read), a byte-order mark
    // (read as the first letter).
    const std::vector<std::string>& warnings() const;

    // The matrix as the library's own stages read it.
    const detail::MatrixRecord& record() const { return *matrix_; }

private:
    explicit SubstitutionMatrix(std::shared_ptr<const detail::MatrixRecord> matrix);
    std::shared_ptr<const detail::MatrixRecord> matrix_;
};

// The inner loops' instruction set. Every level gives the same bits; the fastest that this
// processor and the build support is the default.
enum class KernelLevel {
    kPortable,  // plain C++ on class codes and small tables, on any processor
    kAvx512,    // AVX-512 with byte permutes (VBMI) and byte dot products (VNNI); x86-64 builds
};

// The fastest level that this processor supports and this build has.
KernelLevel best_kernel_level();
// Every level that this processor can run, the portable one first.
std::vector<KernelLevel> supported_kernel_levels();
// "portable" or "avx512".
const char* kernel_level_name(KernelLevel level);

// Exact scores cost nseq^2 x length: every pair of sequences, for the weights and again for
// each column. Approximate scores cost nseq x sample x length:
// - each sequence's weight is its mean distance to `sample` partners drawn at random, without
//   replacement, from the other sequences (every other sequence when sample >= nseq - 1, which
//   gives the exact weights bit for bit). The draw for sequence i depends only on (seed, i).
// - each column's score is the same weighted mean over all pairs as the exact one, summed by
//   residue class instead of pair by pair: equal to the exact score within about 1e-12 for the
//   same weights, so the sampled weights are the only approximation.
// The DOPS score is that of the approximate column scores.
enum class ScoringMode {
    kExact,
    kApproximate,
};

// The stages of a scoring call, in the order they run.
enum class ScoringStage {
    kDistances,     // the table of pair distances (single_precision_distances only)
    kWeights,       // the sequence weights
    kColumnScores,  // the column scores
    kDops,          // the DOPS score
};

// The threads a scoring call uses when ScoringOptions::threads is 0: the environment variable
// MARROWIND_THREADS when it is set, else the CPUs this process may run on (its CPU affinity,
// capped by a cgroup CPU quota). Throws InputError "\nError: MARROWIND_THREADS is \"<value>\";
// it must be a whole number of threads from 1 to 2147483647\n" for a value that is not such a
// number.
int default_thread_count();

// How a scoring call runs. Only the mode (and, when approximate, sample and seed),
// normalise_residues and single_precision_distances change any figure: the results are bit for
// bit the same for every kernel level and every thread count.
struct ScoringOptions {
    ScoringMode mode = ScoringMode::kExact;
    int sample = 256;             // approximate mode: partners per sequence, at least 1
    unsigned long long seed = 0;  // approximate mode: which partners are drawn
    KernelLevel kernel = best_kernel_level();  // a level the processor lacks runs portably
    // Threads to use. 0: the environment variable MARROWIND_THREADS when it is set, else as
    // many as this process may run on (its CPU affinity, capped by a cgroup CPU quota).
    int threads = 0;
    // Residues read as the command-line program reads them ("." as "-", a-z as A-Z); false
    // compares them byte for byte as given, as the in-memory entry points of <marrowind/api.h>
    // do (so "x" is no gap and "a" is not "A").
    bool normalise_residues = true;
    // Exact mode: each sequence's weight from a table of pair distances rounded to single
    // precision, as the in-memory entry points weigh, instead of from the full-precision
    // distances the program uses. The scores may then differ in their last bits.
    bool single_precision_distances = false;
    // Called now and then on the calling thread with the fraction of a stage done (0 to 1).
    std::function<void(double)> progress;
    // Called on the calling thread as each stage begins.
    std::function<void(ScoringStage)> stage_begins;
};

struct ConservationScores {
    std::vector<double> weights;        // one per sequence: its mean distance to the others
                                        // (to its sampled partners when approximate)
    std::vector<double> column_scores;  // one per column, 0 to 1: higher is more conserved
    double dops = 0.0;                  // 0 to 100: how varied the column scores are
    bool approximate = false;           // scored in ScoringMode::kApproximate
};

// Scores aligned sequences as the command-line program does: "." becomes "-" and a-z become
// A-Z first, then weights, column scores and the DOPS score (approximately when options.mode
// says so). Throws InputError when there are no sequences or they differ in length (the
// program's messages) or an approximate sample is below 1, OutOfMemory.
ConservationScores score_alignment(const std::vector<std::string>& sequences,
                                   const SubstitutionMatrix& matrix,
                                   const ScoringOptions& options = ScoringOptions());

// As score_alignment, on views of sequences held elsewhere (a million sequences need not be
// copied into strings first); the views must stay valid until it returns. Both read the
// sequences where they lie, normalised as they are read, and never change them.
ConservationScores score_alignment_views(const std::vector<std::string_view>& sequences,
                                         const SubstitutionMatrix& matrix,
                                         const ScoringOptions& options = ScoringOptions());

// The distance between two aligned sequences after the same normalisation (none when
// normalise_residues is false, as in ScoringOptions): one minus their mean similarity over the
// columns where at least one has a residue, 0.0 when there is no such column. Full double
// precision. Throws InputError when the lengths differ.
double pair_distance(std::string_view first, std::string_view second,
                     const SubstitutionMatrix& matrix, bool normalise_residues = true);

// The DOPS score of column scores: the entropy of their spread over groups of exactly equal
// value, as a percentage of log2 of their number. 0 for fewer than two scores.
double dops_score(const std::vector<double>& column_scores);

}  // namespace marrowind

#endif
