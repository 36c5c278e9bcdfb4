// test_output.cpp: where the program's results go, the golden output, and failed writes.
#include <gtest/gtest.h>

#include <string>

#include "cli/harness.h"

namespace {

const std::string kMatrix = std::string(MARROWIND_DATA_DIR) + "/blosum62.mat2";
const std::string kGlobins = std::string(MARROWIND_EXAMPLES_DIR) + "/globins45.fasta";
const std::string kAlignment = ">a\nWCAH-\n>b\nWCAHX\n>c\nWCGH-\n>d\nWKAY-\n";

const std::string kProgressToScores =
    "Reading FASTA file....\nFinishing parsing....\n"
    "Using matrix file: \"" + kMatrix + "\"\n"
    "Calculating weights/distances....\n"
    "Calculating positional conservation scores....\n";

const std::string kProgressAll =
    kProgressToScores + "Writing alignment....\nCalculating DOPs score....\nDone.\n";

}  // namespace

class Output : public CliTest {};

TEST_F(Output, GoldenRunOnTheBundledGlobins)
{
    const ProgramRun run = this->run({"--aln", kGlobins, "--matrix", kMatrix});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.err, kProgressAll);
    EXPECT_EQ(run.out, read_file(std::string(MARROWIND_TEST_DATA_DIR) + "/globins45.blosum62.out"));
}

TEST_F(Output, OutputFileHoldsTheAlignmentAndStandardOutputTheDopsLine)
{
    make_file("in.fa", kAlignment);
    const ProgramRun to_stdout = this->run({"-a", "in.fa", "-m", kMatrix});
    ASSERT_EQ(to_stdout.status, 0);

    const ProgramRun to_file = this->run({"-a", "in.fa", "-m", kMatrix, "-o", "out.txt"});
    EXPECT_EQ(to_file.status, 0);
    EXPECT_EQ(to_file.err, kProgressAll);
    const std::string written = read_file(path("out.txt"));
    const std::size_t dops_at = to_stdout.out.rfind("DOPS score: ");
    ASSERT_NE(dops_at, std::string::npos);
    EXPECT_EQ(written, to_stdout.out.substr(0, dops_at));
    EXPECT_EQ(to_file.out, to_stdout.out.substr(dops_at));
    // Five columns, four residues each: 32 + 4 bytes a line.
    EXPECT_EQ(written.size(), 5u * 36u);
}

TEST_F(Output, UnopenableOutputIsReportedAfterTheScores)
{
    make_file("in.fa", kAlignment);
    const ProgramRun run = this->run({"-a", "in.fa", "-m", kMatrix, "-o", "no/such/dir/out.txt"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, kProgressToScores + "\nError: no/such/dir/out.txt could not be opened\n");
}

TEST_F(Output, InputsAreNeverOverwritten)
{
    const std::string alignment = make_file("in.fa", kAlignment);
    make_file("m.mat2", read_file(kMatrix));
    for (const char* output : {"./in.fa", "in.fa", "m.mat2", "../" "%DIR%/m.mat2"}) {
        std::string target = output;
        const std::size_t marker = target.find("%DIR%");
        if (marker != std::string::npos)
            target.replace(marker, 5, dir_.substr(dir_.rfind('/') + 1));
        const ProgramRun run = this->run({"-a", "in.fa", "-m", "m.mat2", "-o", target});
        EXPECT_EQ(run.status, 1) << target;
        EXPECT_EQ(run.out, "");
        EXPECT_NE(run.err.find("\nError: " + target +
                               " is an input file and will not be overwritten\n"),
                  std::string::npos)
            << run.err;
        EXPECT_EQ(run.err.find("Writing alignment"), std::string::npos);
    }
    EXPECT_EQ(read_file(alignment), kAlignment);
    EXPECT_EQ(read_file(path("m.mat2")), read_file(kMatrix));
}

TEST_F(Output, FailedWritesEndWithStatusOneAndNoDone)
{
    make_file("in.fa", kAlignment);
    ProgramRun run = this->run({"-a", "in.fa", "-m", kMatrix, "-o", "/dev/full"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err.find("Done."), std::string::npos);
    EXPECT_NE(run.err.find("\nError: /dev/full could not be written\n"), std::string::npos)
        << run.err;

    run = this->run({"-a", "in.fa", "-m", kMatrix}, "/dev/full");
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err.find("Done."), std::string::npos);
    EXPECT_NE(run.err.find("\nError: standard output could not be written\n"), std::string::npos)
        << run.err;

    // A large alignment fails inside the writer itself rather than at the final flush.
    std::string large;
    for (int i = 0; i < 200; ++i) large += ">s" + std::to_string(i) + "\n" + std::string(500, 'W') + "\n";
    make_file("large.fa", large);
    run = this->run({"-a", "large.fa", "-m", kMatrix}, "/dev/full");
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("Writing alignment....\n\nError: standard output could not be written\n"),
              std::string::npos)
        << run.err;
}

TEST_F(Output, OneColumnHasDopsZero)
{
    make_file("one.fa", ">a\nW\n>b\nC\n>c\nW\n");
    const ProgramRun run = this->run({"-a", "one.fa", "-m", kMatrix});
    EXPECT_EQ(run.status, 0);
    const std::size_t dops_at = run.out.rfind("DOPS score: ");
    ASSERT_NE(dops_at, std::string::npos);
    EXPECT_EQ(run.out.substr(dops_at), "DOPS score:  0.000\n");
}
