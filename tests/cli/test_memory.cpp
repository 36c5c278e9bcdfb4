// test_memory.cpp: the program's peak memory on a large alignment.
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>

#include "cli/harness.h"

#ifndef MARROWIND_SANITIZED

class Memory : public CliTest {};

// The run holds the alignment once, plus memory linear in sequences and columns (weights,
// column scores, one block of output lines) and the program's own few megabytes.
TEST_F(Memory, PeakStaysBelowThreeTimesTheAlignmentFile)
{
    constexpr int kSequences = 2000;
    constexpr int kColumns = 10000;
    const std::string residues = "ACDEFGHIKLMNPQRSTVWY-";
    {
        // A family of related sequences: one ancestor with a fifth of its columns changed in
        // each, written a line at a time so that this test itself stays small.
        std::ofstream out(path("large.fa"), std::ios::binary);
        std::uint32_t state = 12345;
        const auto next = [&state]() { return (state = state * 1664525u + 1013904223u) >> 8; };
        std::string ancestor(kColumns, 'A');
        for (char& c : ancestor) c = residues[next() % residues.size()];
        for (int s = 0; s < kSequences; ++s) {
            std::string seq = ancestor;
            for (int k = 0; k < kColumns / 5; ++k) seq[next() % kColumns] = residues[next() % residues.size()];
            out << ">seq" << s << '\n' << seq << '\n';
        }
    }
    const long file_kb = static_cast<long>(std::filesystem::file_size(path("large.fa")) / 1024);
    const ProgramRun run = this->run(
        {"-a", "large.fa", "-m", std::string(MARROWIND_DATA_DIR) + "/blosum62.mat2"}, "/dev/null");
    ASSERT_EQ(run.status, 0) << run.err;
    const long budget_kb = 3 * file_kb + 8 * 1024;
    EXPECT_LT(run.max_rss_kb, budget_kb)
        << "peak " << run.max_rss_kb << " KiB for an alignment file of " << file_kb << " KiB";
}

#endif
