// test_command_line.cpp: the program's options, its outcomes and its messages, run as a user would.
#include <gtest/gtest.h>

#include <unistd.h>

#include <string>

#include "cli/harness.h"

namespace {

const std::string kUsage =
    "\n\nMarrowind\nAllowed options:\n"
    "  -h [ --help ]         produce this message\n"
    "  -a [ --aln ] arg      <FASTA alignment file> (required)\n"
    "  -o [ --output ] arg   output file (optional) (if this is not set, output goes\n"
    "                        to stdout)\n"
    "  -m [ --matrix ] arg   matrix file (optional) (must be converted from BLAST \n"
    "                        matrix)\n"
    "  -d [ --debug ]        Debug mode (optional)\n"
    "\n";

const std::string kDefaultSearchFailure =
    "Could not find a non-empty matrix file in list: "
    "\"\"/usr/local/svn/source/Gildmoor/trunk/src/Marrowind/PET91mod.mat2\"\" "
    "\"\"/export/svn/source/Gildmoor/trunk/src/Marrowind/PET91mod.mat2\"\"\n";

const std::string kSmallMatrix = "# three letters\nA,C,D\n4,0,-2\n0,9,-3\n-2,-3,6\n";
const std::string kSmallAlignment = ">s1\nAC-D\n>s2\nacdd\n>s3\nA.CD\n";

const std::string kReadLines = "Reading FASTA file....\nFinishing parsing....\n";

}  // namespace

class CommandLine : public CliTest {};

TEST_F(CommandLine, UsageTextForNoArgumentsAndForHelp)
{
    const std::string alignment = make_file("in.fa", kSmallAlignment);
    for (const auto& args : std::vector<std::vector<std::string>>{
             {}, {"--help"}, {"-h"}, {"--he"}, {"-a", alignment, "--help"}, {"-hd"}}) {
        const ProgramRun run = this->run(args);
        EXPECT_EQ(run.status, 0);
        EXPECT_EQ(run.out, "");
        EXPECT_EQ(run.err, kUsage);
    }
}

TEST_F(CommandLine, CommandLineErrorsEndWithStatusOne)
{
    struct Case {
        std::vector<std::string> args;
        std::string message;
    };
    const std::vector<Case> cases = {
        {{"--help", "--bogus"}, "unrecognised option '--bogus'"},
        {{"-a", "x.fa", "-a", "x.fa"}, "option '--aln' cannot be specified more than once"},
        {{"-a"}, "the required argument for option '--aln' is missing"},
        {{"--debug=yes", "-a", "x.fa"}, "option '--debug' does not take any arguments"},
    };
    for (const Case& c : cases) {
        const ProgramRun run = this->run(c.args);
        EXPECT_EQ(run.status, 1) << c.message;
        EXPECT_EQ(run.out, "");
        EXPECT_EQ(run.err, "Command line error: " + c.message + "\n");
    }
}

TEST_F(CommandLine, MissingAlignmentOptionPrintsUsage)
{
    for (const auto& args : std::vector<std::vector<std::string>>{{"in.fa"}, {"-d"}, {"-m", "x"}}) {
        const ProgramRun run = this->run(args);
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(run.out, "");
        EXPECT_EQ(run.err, "alignment file required!\n" + kUsage);
    }
}

TEST_F(CommandLine, AlignmentOptionSpellings)
{
    make_file("x.fa", kSmallAlignment);
    make_file("m.mat2", kSmallMatrix);
    for (const auto& args : std::vector<std::vector<std::string>>{
             {"--al=x.fa", "--ma=m.mat2"}, {"-ax.fa", "-mm.mat2"}, {"-a", "x.fa", "-m", "m.mat2"},
             {"--aln", "x.fa", "--matrix", "m.mat2", "stray", "words"}}) {
        const ProgramRun run = this->run(args);
        EXPECT_EQ(run.status, 0) << run.err;
        EXPECT_NE(run.err.find("Using matrix file: \"m.mat2\"\n"), std::string::npos) << run.err;
    }
}

TEST_F(CommandLine, UnreadableAlignmentsAreReportedBeforeTheMatrixSearch)
{
    ProgramRun run = this->run({"-a", "missing.fa"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, "Reading FASTA file....\n\nError: missing.fa could not be opened\n");

    run = this->run({"-a", dir_});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "Reading FASTA file....\n\nError: " + dir_ + " could not be read\n");

    // The matrix is read while the alignment is; a broken one must not show before the
    // alignment's own failure, nor after it.
    const std::string broken = make_file("broken.mat2", "A,C\n1,x\n");
    run = this->run({"-a", "missing.fa", "-m", broken});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "Reading FASTA file....\n\nError: missing.fa could not be opened\n");
    make_file("ragged.fa", ">a\nACDE\n>b\nACD\n");
    run = this->run({"-a", "ragged.fa", "-m", broken});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, kReadLines +
                           "\nError: sequences in input aren't aligned to the same length (first "
                           "sequence is of length 4 but sequence with index 1 is of length 3)\n");
}

TEST_F(CommandLine, EmptyAndRaggedAlignmentsAreRefused)
{
    make_file("empty.fa", "");
    make_file("headless.fa", "ACDE\nACDE\n");
    for (const char* name : {"empty.fa", "headless.fa"}) {
        const ProgramRun run = this->run({"-a", name});
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(run.out, "");
        EXPECT_EQ(run.err, "Reading FASTA file....\nEmpty alignment file!\nFinishing parsing....\n"
                           "\nError: No sequences parsed from FASTA file\n");
    }
    make_file("ragged.fa", ">a\nACDE\n>b\nACDE\n>c\nACD\n");
    const ProgramRun run = this->run({"-a", "ragged.fa"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, kReadLines +
                           "\nError: sequences in input aren't aligned to the same length (first "
                           "sequence is of length 4 but sequence with index 2 is of length 3)\n");
}

TEST_F(CommandLine, MatrixSearchFailures)
{
    make_file("in.fa", kSmallAlignment);
    make_file("zero.mat2", "");
    make_file("m.mat2", kSmallMatrix);

    ProgramRun run = this->run({"-a", "in.fa"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, kReadLines + kDefaultSearchFailure);

    for (const char* name : {"zero.mat2", "absent.mat2"}) {
        run = this->run({"-a", "in.fa", "-m", name});
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(run.err, kReadLines + "Could not find a non-empty matrix file in list: \"\"" +
                               name + "\"\"\n");
    }
    // A directory with entries is not an empty candidate; it is then refused as unreadable.
    run = this->run({"-a", "in.fa", "-m", dir_});
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("Using matrix file: \"" + dir_ + "\"\n"), std::string::npos);
    EXPECT_EQ(run.out, "");
}

TEST_F(CommandLine, MatrixPathIsShownQuoted)
{
    make_file("in.fa", kSmallAlignment);
    make_file("a&b\"c.mat2", kSmallMatrix);
    const ProgramRun run = this->run({"-a", "in.fa", "-m", "a&b\"c.mat2"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.err.find("Using matrix file: \"a&&b&\"c.mat2\"\n"), std::string::npos) << run.err;
}

TEST_F(CommandLine, SuccessfulRunWritesProgressInOrder)
{
    make_file("in.fa", kSmallAlignment);
    make_file("m.mat2", kSmallMatrix);
    const ProgramRun run = this->run({"-a", "in.fa", "-m", "m.mat2"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.err, kReadLines +
                           "Using matrix file: \"m.mat2\"\n"
                           "Calculating weights/distances....\n"
                           "Calculating positional conservation scores....\n"
                           "Writing alignment....\n"
                           "Calculating DOPs score....\n"
                           "Done.\n");
    EXPECT_NE(run.out.find("DOPS score: "), std::string::npos);

    // --debug changes nothing at all.
    const ProgramRun debug_run = this->run({"-a", "in.fa", "-m", "m.mat2", "-d"});
    EXPECT_EQ(debug_run.status, run.status);
    EXPECT_EQ(debug_run.out, run.out);
    EXPECT_EQ(debug_run.err, run.err);
}

TEST_F(CommandLine, CrLfAlignmentScoresLikeLf)
{
    make_file("m.mat2", kSmallMatrix);
    make_file("lf.fa", ">s1\nAC-D\nAC\n>s2\nacdd\nAA\n");
    make_file("crlf.fa", ">s1\r\nAC-D\r\nAC\r\n>s2\r\nacdd\r\nAA\r\n");
    const ProgramRun lf = this->run({"-a", "lf.fa", "-m", "m.mat2"});
    const ProgramRun crlf = this->run({"-a", "crlf.fa", "-m", "m.mat2"});
    EXPECT_EQ(lf.status, 0);
    EXPECT_EQ(crlf.status, 0);
    EXPECT_EQ(crlf.out, lf.out);
}
