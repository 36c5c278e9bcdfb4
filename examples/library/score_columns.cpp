// score_columns.cpp: scores an aligned FASTA file with the Marrowind library and lists, for the
// first sequence, each of its residues with the score of the column it stands in.
//
// Usage: score_columns ALIGNMENT.fasta MATRIX.mat2
#include <cstdio>
#include <exception>

#include <marrowind/marrowind.h>

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s ALIGNMENT.fasta MATRIX.mat2\n", argv[0]);
        return 2;
    }
    try {
        const marrowind::Sequences alignment = marrowind::read_fasta(argv[1]);
        const auto matrix = marrowind::SubstitutionMatrix::load(argv[2]);
        const marrowind::ConservationScores scores =
            marrowind::score_alignment(alignment.residues, matrix);

        const std::string& reference = alignment.residues.at(0);
        std::printf("# %s: %zu sequences, %zu columns, DOPS %.3f\n", alignment.names[0].c_str(),
                    alignment.residues.size(), scores.column_scores.size(), scores.dops);
        std::printf("residue\tnumber\tcolumn\tscore\n");
        int number = 0;
        for (std::size_t column = 0; column < reference.size(); ++column) {
            const char residue = reference[column];
            if (residue == '-' || residue == '.') continue;
            std::printf("%c\t%d\t%zu\t%.6f\n", residue, ++number, column + 1,
                        scores.column_scores[column]);
        }
    } catch (const marrowind::Error& error) {
        std::fputs(error.what(), stderr);
        return error.exit_status();
    } catch (const std::exception& error) {
        std::fprintf(stderr, "%s\n", error.what());
        return 1;
    }
    return 0;
}
