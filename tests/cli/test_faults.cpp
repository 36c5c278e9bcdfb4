// test_faults.cpp: the program under hostile input and scarce memory: it ends with a message
// and a status, never with a crash, a hang or a silent loss of data.
#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <string>

#include "cli/harness.h"

namespace {

const std::string kBlosum = std::string(MARROWIND_DATA_DIR) + "/blosum62.mat2";
constexpr long kLongLine = 50L * 1024 * 1024;

// The last line of a run's standard error.
std::string last_line(std::string text)
{
    if (!text.empty() && text.back() == '\n') text.pop_back();
    return text.substr(text.rfind('\n') + 1);  // npos + 1 is 0: a single line is all of it
}

// The bytes of a literal, NULs included.
template <std::size_t N>
std::string bytes(const char (&literal)[N])
{
    return std::string(literal, N - 1);
}

bool is_out_of_memory_report(const std::string& line)
{
    return line.rfind("No memory for object (n = ", 0) == 0 &&
           line.size() > 28 && line.compare(line.size() - 2, 2, ")!") == 0;
}

// Writes records of `residues` repeated, one line each, without holding the file in memory.
void write_alignment(const std::string& path, int records, const std::string& residues, int repeats)
{
    std::ofstream out(path, std::ios::binary);
    for (int r = 0; r < records; ++r) {
        out << ">s" << r << '\n';
        for (int k = 0; k < repeats; ++k) out << residues;
        out << '\n';
    }
}

}  // namespace

class Faults : public CliTest {};

TEST_F(Faults, FiftyMegabyteResidueLineIsReadWhole)
{
    {
        std::ofstream out(path("long.fa"), std::ios::binary);
        out << ">long\n" << std::string(kLongLine, 'W') << "\n>short\nWC\n";
    }
    ProgramRun run = this->run({"-a", "long.fa", "-m", kBlosum});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, "");
    EXPECT_NE(run.err.find("(first sequence is of length " + std::to_string(kLongLine) +
                           " but sequence with index 1 is of length 2)\n"),
              std::string::npos)
        << run.err;

    write_alignment(path("long.fa"), 2, std::string(1024 * 1024, 'W'), 50);
    run = this->run({"-a", "long.fa", "-m", kBlosum}, "/dev/null");
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(last_line(run.err), "Done.");
}

TEST_F(Faults, NulAndHighBytesPassThroughNamesScoresAndOutput)
{
    // 0xC3 is a letter of this matrix; NUL, 0x80 and 0xFF are not, so they score 0.
    make_file("wide.mat2", "\xC3,A\n8,2\n4,0\n");
    make_file("bytes.fa", bytes(">n\0me\xFF\nA\xC3\0\x80\n>\x80\xFE\n\xC3\xC3\xFF\0\n"));
    const ProgramRun run = this->run({"-a", "bytes.fa", "-m", "wide.mat2"});
    EXPECT_EQ(run.status, 0) << run.err;
    const std::string gap = "           #              ";
    EXPECT_EQ(run.out, "0.500" + gap + "A\xC3\n" + "1.000" + gap + "\xC3\xC3\n" + "0.000" + gap +
                           bytes("\0\xFF\n") + "0.000" + gap + bytes("\x80\0\n") +
                           "DOPS score: 75.000\n");
}

TEST_F(Faults, MatrixCutShortByTheEndOfTheFileIsRefused)
{
    make_file("in.fa", ">a\nARN\n>b\nRNA\n");
    for (const char* cut : {"A,R,N\n4,-1,-2\n-1,5,0\n", "A,R,N\n4,-1,-2\n-1,5", "A,R,N"}) {
        make_file("cut.mat2", cut);
        const ProgramRun run = this->run({"-a", "in.fa", "-m", "cut.mat2"});
        SCOPED_TRACE(cut);
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(run.out, "");
        EXPECT_NE(run.err.find("!!!! Error in Matrix !!!!\ncut.mat2: "), std::string::npos) << run.err;
        EXPECT_EQ(run.err.find("Calculating"), std::string::npos);
    }
}

// A matrix whose faults the format reads past scores as it reads, with one warning line per
// fault after the matrix's name; one that cannot be rescaled is refused with its name.
TEST_F(Faults, MatrixFaultsAreWarningsAndEqualScoresARefusal)
{
    make_file("in.fa", ">a\nAR\n>b\nAR\n");
    make_file("lower.mat2", "a,r\n1,2\n3,4\n");
    const ProgramRun run = this->run({"-a", "in.fa", "-m", "lower.mat2"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, "0.000           #              AA\n0.000           #              RR\n"
                       "DOPS score:  0.000\n");
    const std::string lower = " is lower case; alignments are read in upper case, so its "
                              "scores are never used\n";
    EXPECT_NE(run.err.find("Using matrix file: \"lower.mat2\"\n"
                           "Warning: lower.mat2 line 1: header letter 'a'" + lower +
                           "Warning: lower.mat2 line 1: header letter 'r'" + lower +
                           "Calculating weights/distances....\n"),
              std::string::npos)
        << run.err;

    make_file("equal.mat2", "A,R\n1,1\n1,1.5\n");
    const ProgramRun refused = this->run({"-a", "in.fa", "-m", "equal.mat2"});
    EXPECT_EQ(refused.status, 1);
    EXPECT_EQ(refused.out, "");
    EXPECT_NE(refused.err.find("Using matrix file: \"equal.mat2\"\n"
                               "Warning: equal.mat2 line 3: score row 2 field 2 '1.5' is not a "
                               "whole number and is read as 1\n"
                               "!!!! Error in Matrix !!!!\n"
                               "equal.mat2: all scores are equal, so they cannot be rescaled\n"),
              std::string::npos)
        << refused.err;
}

#ifndef MARROWIND_SANITIZED

TEST_F(Faults, AlignmentLargerThanTheAddressSpaceEndsWithTheOutOfMemoryReport)
{
    // 64 MiB of residues against a limit of 48 MiB: reading must run out, whatever else does.
    write_alignment(path("big.fa"), 64, std::string(1024, 'A'), 1024);
    const ProgramRun run = this->run({"-a", "big.fa", "-m", kBlosum}, "", "ulimit -v 49152;");
    EXPECT_EQ(run.signal, 0);
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, "");
    EXPECT_TRUE(is_out_of_memory_report(last_line(run.err))) << run.err;
}

// Whichever allocation is the first to fail, the run ends with the out-of-memory report and
// status 1, and a limit that leaves enough gives the complete output. Below the smallest limit
// the dynamic loader itself fails (status 127), before any of the program runs.
// A limit too tight for a second thread's stack leaves the scoring to the first thread, which
// must then do the whole of every stage: the first few limits that complete are checked, and
// the sequences differ, so that work left undone would show in the scores.
TEST_F(Faults, EveryAddressSpaceLimitEndsInAReportOrACompleteRun)
{
    {
        std::ofstream out(path("in.fa"), std::ios::binary);
        const std::string residues = "ACDEFGHIKLMNPQRSTVWY--";
        std::uint32_t state = 7;
        for (int r = 0; r < 300; ++r) {
            out << ">s" << r << '\n';
            for (int k = 0; k < 90; ++k) {
                state = state * 1664525u + 1013904223u;
                out << residues[(state >> 8) % residues.size()];
            }
            out << '\n';
        }
    }
    const ProgramRun unlimited = this->run({"-a", "in.fa", "-m", kBlosum});
    ASSERT_EQ(unlimited.status, 0);
    int completed = 0;
    for (int limit_mb = 6; limit_mb <= 512 && completed < 4; limit_mb += 2) {
        const ProgramRun run = this->run({"-a", "in.fa", "-m", kBlosum}, "",
                                         "ulimit -v " + std::to_string(limit_mb * 1024) + ";");
        SCOPED_TRACE("limit " + std::to_string(limit_mb) + " MiB");
        EXPECT_EQ(run.signal, 0);
        if (run.status == 127) continue;
        if (run.status == 0) {
            EXPECT_EQ(run.out, unlimited.out);
            ++completed;
        } else {
            EXPECT_EQ(run.status, 1);
            EXPECT_EQ(run.out, "");
            EXPECT_TRUE(is_out_of_memory_report(last_line(run.err))) << run.err;
            // The matrix is read on a helper thread, but a failed table is reported where a
            // run that reads it in turn reports it, with the cells it asked for.
            if (run.err.find("Failed in attempt to resize array") != std::string::npos) {
                EXPECT_NE(run.err.find(".mat2\"\nFailed in attempt to resize array to 300 x 300 = "
                                       "90000 floats.\nNo memory for object (n = 90000)!\n"),
                          std::string::npos)
                    << run.err;
            }
        }
    }
    EXPECT_EQ(completed, 4);
}

#endif
