// test_library_matches_program.cpp: the library and the program give the same figures.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <string>

#include "cli/harness.h"
#include "marrowind/marrowind.h"

class LibraryMatchesProgram : public CliTest {};

TEST_F(LibraryMatchesProgram, SameLinesAndDopsOnTheGlobins)
{
    const std::string fasta = std::string(MARROWIND_EXAMPLES_DIR) + "/globins45.fasta";
    for (const char* matrix_name : {"blosum62.mat2", "pet91.mat2"}) {
        const std::string matrix_path = std::string(MARROWIND_DATA_DIR) + "/" + matrix_name;
        const ProgramRun run = this->run({"-a", fasta, "-m", matrix_path});
        ASSERT_EQ(run.status, 0);

        const marrowind::Sequences seqs = marrowind::read_fasta(fasta);
        const marrowind::ConservationScores scores = marrowind::score_alignment(
            seqs.residues, marrowind::SubstitutionMatrix::load(matrix_path));

        // Rebuild the program's output from the library's figures. The DOPS line depends on
        // exact equality between column scores, so it checks the scores to the last bit.
        std::string rebuilt;
        char field[64];
        for (std::size_t c = 0; c < scores.column_scores.size(); ++c) {
            std::snprintf(field, sizeof field, "%5.3f",
                          std::round(scores.column_scores[c] * 1000.0) / 1000.0);
            rebuilt += field;
            rebuilt += "           #              ";
            for (const std::string& seq : seqs.residues) rebuilt += seq[c];
            rebuilt += '\n';
        }
        std::snprintf(field, sizeof field, "DOPS score: %6.3f\n", scores.dops);
        rebuilt += field;
        EXPECT_EQ(rebuilt, run.out) << matrix_name;
    }
}
