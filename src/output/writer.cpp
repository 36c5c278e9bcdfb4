// writer.cpp: the figures as the program prints them, and the scored alignment writer.
//
// Contents: write_columns, stream_sink, round_it, format_score, format_dops, WriteAlignment,
// write_scored_alignment.
//
// The alignment goes out turned on its side: column i becomes line i, holding the column's
// score and then its residues. Lines are assembled in memory a block at a time and handed on
// in one write per block. The program's records and the rows that library callers hold go
// through the same code; only the reading of a residue differs: the records are already
// normalised, the callers' rows are normalised on the way out.
#include "output/writer.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cmath>
#include <string>
#include <vector>

#include "core/residues.h"
#include "marrowind/errors.h"
#include "marrowind/output.h"

namespace {

// Columns whose lines are assembled together; their lines for 100000 sequences take about 3 MB.
constexpr std::size_t kColumnsPerBlock = 32;

const char kAfterScore[] = "           #              ";  // 11 spaces, "#", 14 spaces
constexpr std::size_t kAfterScoreLength = sizeof(kAfterScore) - 1;

// Every byte as the scoring reads it, for rows that have not been through validation.
constexpr std::array<unsigned char, 256> scored_bytes()
{
    std::array<unsigned char, 256> table{};
    for (int byte = 0; byte < 256; ++byte)
        table[byte] = marrowind::detail::as_scored(static_cast<unsigned char>(byte));
    return table;
}
constexpr std::array<unsigned char, 256> kAsScored = scored_bytes();

// Writes the lines of `columns` columns of `nrows` rows to sink, a block of whole lines at a
// time. row_at(j) gives the first byte of row j; Normalise says whether each residue is read
// through kAsScored.
//
// Line i needs byte i of every row. Gathering one line at a time would visit every row once per
// column; instead the lines are built a block of columns at a time, so that each row is visited
// once per block and its residues for the block are read together. The block's lines lie one
// after another in one buffer, handed on at once: a write per line would cost a system call per
// few kilobytes.
template <bool Normalise, typename RowAt, typename Sink>
void write_columns(std::size_t nrows, RowAt row_at, const double* scores, std::size_t columns,
                   const Sink& sink)
{
    const std::size_t most_lines = std::min(kColumnsPerBlock, columns);
    std::string lines;
    lines.reserve(most_lines * (8 + kAfterScoreLength + nrows + 1));
    std::vector<std::size_t> residues_at(most_lines);
    for (std::size_t first = 0; first < columns; first += kColumnsPerBlock) {
        const std::size_t block = std::min(kColumnsPerBlock, columns - first);

        lines.clear();
        for (std::size_t b = 0; b < block; ++b) {
            // The rounding works on a copy: the stored scores stay exact for the summary score.
            lines += marrowind::format_score(scores[first + b]);
            lines.append(kAfterScore, kAfterScoreLength);
            // The score field is wider for scores far outside 0..1, so where the residues begin
            // is found line by line.
            residues_at[b] = lines.size();
            lines.resize(lines.size() + nrows);
            lines.push_back('\n');
        }

        char* const text = &lines[0];
        for (std::size_t j = 0; j < nrows; ++j) {
            const unsigned char* row = reinterpret_cast<const unsigned char*>(row_at(j)) + first;
            for (std::size_t b = 0; b < block; ++b) {
                const unsigned char residue = Normalise ? kAsScored[row[b]] : row[b];
                text[residues_at[b] + j] = static_cast<char>(residue);
            }
        }
        sink(std::string_view(lines));
    }
}

// A sink for write_columns that writes to `stream`, naming `destination` when a write fails.
auto stream_sink(std::FILE* stream, const std::string& destination)
{
    return [stream, destination](std::string_view lines) {
        if (std::fwrite(lines.data(), 1, lines.size(), stream) != lines.size())
            throw marrowind::OutputError(destination, errno);
    };
}

}  // namespace

double round_it(double x, int places)
{
    const double factor = std::pow(10.0, static_cast<double>(places));
    return std::round(x * factor) / factor;
}

namespace marrowind {

namespace {

// "%5.3f" and "%6.3f" of any double fit: at most 309 digits before the point.
constexpr std::size_t kLongestFigure = 320;

std::string formatted(const char* format, double value)
{
    char field[kLongestFigure];
    const int n = std::snprintf(field, sizeof field, format, value);
    return std::string(field, static_cast<std::size_t>(std::max(n, 0)));
}

}  // namespace

std::string format_score(double score) { return formatted("%5.3f", round_it(score, 3)); }

std::string format_dops(double dops) { return formatted("%6.3f", dops); }

void write_scored_alignment(const std::function<void(std::string_view)>& sink,
                            const std::vector<std::string_view>& rows, const double* scores,
                            std::size_t columns)
{
    for (std::size_t j = 0; j < rows.size(); ++j)
        if (rows[j].size() != columns)
            throw InputError("\nError: sequence " + std::to_string(j) + " has " +
                             std::to_string(rows[j].size()) + " columns but there are " +
                             std::to_string(columns) + " column scores\n");
    write_columns<true>(rows.size(), [&rows](std::size_t j) { return rows[j].data(); }, scores,
                        columns, sink);
}

void write_scored_alignment(std::FILE* out, const std::vector<std::string_view>& rows,
                            const double* scores, std::size_t columns,
                            const std::string& destination)
{
    write_scored_alignment(stream_sink(out, destination), rows, scores, columns);
}

}  // namespace marrowind

void WriteAlignment(FILE** out, Alignment* alignment, Data* data, const char* destination)
{
    const std::vector<Prot>& seqs = alignment->seqs;
    write_columns<false>(static_cast<std::size_t>(alignment->nseq),
                         [&seqs](std::size_t j) { return seqs[j].seq.data(); }, data->scores,
                         static_cast<std::size_t>(alignment->length),
                         stream_sink(*out, destination));
}
