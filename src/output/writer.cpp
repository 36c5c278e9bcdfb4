// writer.cpp: the scored alignment writer.
//
// Contents: round_it, WriteAlignment.
//
// The alignment goes out turned on its side: column i becomes line i, holding the column's
// score and then its residues. Lines are assembled in memory a block at a time and handed to
// the stream in one write per block.
#include "output/writer.h"

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "marrowind/errors.h"

namespace {

// Columns whose lines are assembled together; their lines for 100000 sequences take about 3 MB.
constexpr int kColumnsPerBlock = 32;

const char kAfterScore[] = "           #              ";  // 11 spaces, "#", 14 spaces
constexpr std::size_t kAfterScoreLength = sizeof(kAfterScore) - 1;

// Appends score formatted as "%5.3f" to line. Ordinary scores take 5 bytes; a score far outside
// 0..1 takes more and is still written in full.
void AppendScore(std::string& line, double score, const char* destination)
{
    char field[32];
    const int n = std::snprintf(field, sizeof field, "%5.3f", score);
    if (n < 0) throw marrowind::OutputError(destination);
    if (static_cast<std::size_t>(n) < sizeof field) {
        line.append(field, static_cast<std::size_t>(n));
        return;
    }
    std::vector<char> wide(static_cast<std::size_t>(n) + 1);
    std::snprintf(wide.data(), wide.size(), "%5.3f", score);
    line.append(wide.data(), static_cast<std::size_t>(n));
}

}  // namespace

double round_it(double x, int places)
{
    const double factor = std::pow(10.0, static_cast<double>(places));
    return std::round(x * factor) / factor;
}

void WriteAlignment(FILE** out, Alignment* alignment, Data* data, const char* destination)
{
    FILE* stream = *out;
    const int nseq = alignment->nseq;
    const int length = alignment->length;

    // Line i needs character i of every sequence. Gathering one line at a time would visit every
    // sequence once per column; instead the lines are built a block of columns at a time, so that
    // each sequence is visited once per block and its residues for the block are read together.
    // The block's lines lie one after another in one buffer, handed to the stream in one write:
    // a write per line would cost a system call per few kilobytes.
    const std::size_t most_lines = static_cast<std::size_t>(std::min(kColumnsPerBlock, length));
    std::string lines;
    lines.reserve(most_lines * (8 + kAfterScoreLength + static_cast<std::size_t>(nseq) + 1));
    std::vector<std::size_t> residues_at(most_lines);
    for (int first = 0; first < length; first += kColumnsPerBlock) {
        const int block = std::min(kColumnsPerBlock, length - first);

        lines.clear();
        for (int b = 0; b < block; ++b) {
            // The rounding works on a copy: the stored scores stay exact for the summary score.
            AppendScore(lines, round_it(data->scores[first + b], 3), destination);
            lines.append(kAfterScore, kAfterScoreLength);
            // The score field is wider for scores far outside 0..1, so where the residues begin
            // is found line by line.
            residues_at[b] = lines.size();
            lines.resize(lines.size() + static_cast<std::size_t>(nseq));
            lines.push_back('\n');
        }

        char* const text = &lines[0];
        for (int j = 0; j < nseq; ++j) {
            const char* seq = alignment->seqs[j].seq.data() + first;
            for (int b = 0; b < block; ++b) text[residues_at[b] + j] = seq[b];
        }

        if (std::fwrite(lines.data(), 1, lines.size(), stream) != lines.size())
            throw marrowind::OutputError(destination);
    }
}
