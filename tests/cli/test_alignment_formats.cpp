// test_alignment_formats.cpp: the program reads a Stockholm or Clustal alignment, plain,
// compressed or piped, as it reads the same alignment in FASTA, reads past a byte-order mark
// and old Mac line ends, and reports a faulty one.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "cli/harness.h"
#include "marrowind/marrowind.h"

namespace {

const std::string kMatrix = std::string(MARROWIND_DATA_DIR) + "/blosum62.mat2";
const std::string kGlobins = std::string(MARROWIND_EXAMPLES_DIR) + "/globins45.fasta";
const std::string kGlobinsStockholm = std::string(MARROWIND_EXAMPLES_DIR) + "/globins45.sto";

// The globins in Clustal form: blocks of 60 columns, each line ending in its residue count,
// each block followed by a line of conservation marks.
std::string globins_in_clustal()
{
    const marrowind::Sequences globins = marrowind::read_fasta(kGlobins);
    const std::size_t columns = globins.residues[0].size();
    std::string text = "CLUSTAL W (1.83) multiple sequence alignment\n\n";
    for (std::size_t start = 0; start < columns; start += 60) {
        text += "\n";
        const std::size_t width = std::min<std::size_t>(60, columns - start);
        for (std::size_t i = 0; i < globins.names.size(); ++i) {
            std::string name = globins.names[i].substr(0, globins.names[i].find(' '));
            name.resize(std::max<std::size_t>(name.size() + 1, 20), ' ');
            text += name + globins.residues[i].substr(start, width) + " " +
                    std::to_string(start + width) + "\n";
        }
        text += std::string(20, ' ') + std::string(width, '*') + "\n";
    }
    return text;
}

}  // namespace

class AlignmentFormats : public CliTest {};

TEST_F(AlignmentFormats, StockholmAndClustalPrintWhatTheirFastaPrints)
{
    const ProgramRun fasta = this->run({"--aln", kGlobins, "--matrix", kMatrix});
    ASSERT_EQ(fasta.status, 0) << fasta.err;
    make_file("globins.aln", globins_in_clustal());
    const ProgramRun packed = this->run_script(
        "gzip -c \"$1\" > globins.sto.gz && gzip -c globins.aln > globins.aln.gz",
        {kGlobinsStockholm});
    ASSERT_EQ(packed.status, 0) << packed.err;

    for (const std::string& file :
         {kGlobinsStockholm, std::string("globins.sto.gz"), std::string("globins.aln"),
          std::string("globins.aln.gz")}) {
        SCOPED_TRACE(file);
        const ProgramRun run = this->run({"--aln", file, "--matrix", kMatrix});
        EXPECT_EQ(run.status, 0);
        EXPECT_EQ(run.out, fasta.out);
        EXPECT_EQ(run.err, fasta.err);
        // A pipe is read once, as it streams.
        const ProgramRun piped = this->run_script(
            "cat \"$1\" | \"$0\" --aln /dev/stdin --matrix \"$2\"", {file, kMatrix});
        EXPECT_EQ(piped.status, 0);
        EXPECT_EQ(piped.out, fasta.out);
    }
}

// A UTF-8 byte-order mark that an editor wrote before the text, plain or compressed, is no
// residue, and old Mac line ends (a lone CR) end lines: the program prints exactly what it
// prints for the plain file.
TEST_F(AlignmentFormats, ByteOrderMarkAndLineEndsChangeNoByte)
{
    const ProgramRun plain = this->run({"--aln", kGlobins, "--matrix", kMatrix});
    ASSERT_EQ(plain.status, 0) << plain.err;
    const ProgramRun made = this->run_script(
        "for f in \"$1\" \"$2\"; do"
        "  printf '\\357\\273\\277' | cat - \"$f\" > \"$(basename \"$f\")\"; done &&"
        " gzip -k globins45.sto && tr '\\n' '\\r' < \"$1\" > mac.fasta",
        {kGlobins, kGlobinsStockholm});
    ASSERT_EQ(made.status, 0) << made.err;
    ASSERT_EQ(read_file(path("globins45.fasta")).substr(0, 4), "\xEF\xBB\xBF>");
    ASSERT_EQ(read_file(path("mac.fasta")).find('\n'), std::string::npos);
    for (const char* file : {"globins45.fasta", "globins45.sto", "globins45.sto.gz", "mac.fasta"}) {
        const ProgramRun run = this->run({"--aln", file, "--matrix", kMatrix});
        EXPECT_EQ(run.status, 0) << file;
        EXPECT_EQ(run.out, plain.out) << file;
        EXPECT_EQ(run.err, plain.err) << file;
    }
}

TEST_F(AlignmentFormats, FaultyStockholmOrClustalIsOneErrorAndFastaRulesStay)
{
    struct Case {
        const char* text;
        const char* error;
    };
    const Case cases[] = {
        {"# STOCKHOLM 1.0\na ACD\n#=GR c SS HHH\nb ACD\n//\n",
         "\nError: in.txt: not a valid Stockholm alignment: line 3: markup for c, which is no "
         "sequence of the alignment\n"},
        {"CLUSTAL W\n\na ACD\n  b ACD\n",
         "\nError: in.txt: not a valid Clustal alignment: line 4: a line that starts with a space "
         "holds conservation marks (*, :, .) only\n"},
        // The program's own refusal of rows of unequal lengths, in any format.
        {"CLUSTAL W\n\na ACD\nb AC\n",
         "Finishing parsing....\n\nError: sequences in input aren't aligned to the same length "
         "(first sequence is of length 3 but sequence with index 1 is of length 2)\n"},
        // A2M and A3M are FASTA to the program: a line before the first header belongs to the
        // first record, every column is kept, and ragged rows are refused.
        {"#A3M#\n>a\nACD\n>b\nAcCD\n",
         "Finishing parsing....\n\nError: sequences in input aren't aligned to the same length "
         "(first sequence is of length 8 but sequence with index 1 is of length 4)\n"},
        // Neither FASTA nor a format that the program reads.
        {"hello\n",
         "Empty alignment file!\nFinishing parsing....\n\nError: No sequences parsed from FASTA "
         "file\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        make_file("in.txt", c.text);
        const ProgramRun run = this->run({"--aln", "in.txt", "--matrix", kMatrix});
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(run.out, "");
        EXPECT_EQ(run.err, std::string("Reading FASTA file....\n") + c.error);
    }
}
