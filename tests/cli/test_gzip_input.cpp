// test_gzip_input.cpp: the program reads an alignment compressed by gzip as it reads its text.
#include <gtest/gtest.h>

#include <string>

#include "cli/harness.h"

namespace {

const std::string kMatrix = std::string(MARROWIND_DATA_DIR) + "/blosum62.mat2";
const std::string kGlobins = std::string(MARROWIND_EXAMPLES_DIR) + "/globins45.fasta";

}  // namespace

class GzipInput : public CliTest {
protected:
    // Compresses the globins with the gzip program: whole, as two members (`cat a.gz b.gz`,
    // the second starting mid-line), and whole followed by zero padding.
    void SetUp() override
    {
        CliTest::SetUp();
        const ProgramRun made = this->run_script(
            "gzip -c \"$1\" > whole.fa.gz &&"
            " head -c 3001 \"$1\" | gzip -c > members.fa.gz &&"
            " tail -c +3002 \"$1\" | gzip -c >> members.fa.gz &&"
            " { cat whole.fa.gz; head -c 512 /dev/zero; } > padded.fa.gz",
            {kGlobins});
        ASSERT_EQ(made.status, 0) << made.err;
    }
};

TEST_F(GzipInput, CompressedAlignmentPrintsWhatItsTextPrints)
{
    const ProgramRun plain = this->run({"--aln", kGlobins, "--matrix", kMatrix});
    ASSERT_EQ(plain.status, 0) << plain.err;
    for (const char* name : {"whole.fa.gz", "members.fa.gz", "padded.fa.gz"}) {
        SCOPED_TRACE(name);
        const ProgramRun run = this->run({"--aln", name, "--matrix", kMatrix});
        EXPECT_EQ(run.status, 0);
        EXPECT_EQ(run.out, plain.out);
        EXPECT_EQ(run.err, plain.err);
    }
    // A pipe is recognised by its content as well.
    const ProgramRun piped =
        this->run_script("\"$0\" --aln /dev/stdin --matrix \"$1\" < whole.fa.gz", {kMatrix});
    EXPECT_EQ(piped.status, 0);
    EXPECT_EQ(piped.out, plain.out);
}

TEST_F(GzipInput, DamagedCutShortOrTrailedStreamIsAReadError)
{
    const std::string whole = read_file(path("whole.fa.gz"));
    std::string damaged = whole;
    damaged[whole.size() / 2] ^= 0x55;
    make_file("damaged.fa.gz", damaged);
    // Cut inside the eight-byte trailer (check sum and length), and cut inside the data.
    make_file("no_trailer.fa.gz", whole.substr(0, whole.size() - 3));
    make_file("half.fa.gz", whole.substr(0, whole.size() / 2));
    make_file("trailed.fa.gz", whole + "\n>x\nAC\n");
    make_file("magic_only.fa.gz", "\x1f\x8b");
    for (const char* name :
         {"damaged.fa.gz", "no_trailer.fa.gz", "half.fa.gz", "trailed.fa.gz", "magic_only.fa.gz"}) {
        SCOPED_TRACE(name);
        const ProgramRun run = this->run({"--aln", name, "--matrix", kMatrix});
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(run.out, "");
        EXPECT_EQ(run.err, std::string("Reading FASTA file....\n\nError: ") + name +
                               " could not be read\n");
    }
}
