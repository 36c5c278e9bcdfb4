// test_readers.cpp: the alignment readers: every format read whole, in pieces, compressed and
// from a file; detection; the rules each format is held to; the program's reader, in which
// FASTA wins; the size estimates that size a batch's jobs.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/records.h"
#include "input/alignment_reader.h"
#include "input/fasta.h"
#include "marrowind/errors.h"
#include "marrowind/readers.h"
#include "gzip_data.h"

using marrowind::AlignmentFormat;

namespace {

// One family of three sequences and 8 columns, written in each format with the awkward cases
// that real files hold.
const std::vector<std::string> kNames = {"alpha/11-17", "beta", "gamma"};
const std::vector<std::string> kAsWritten = {"AC-DEfgH", "ACKD.FGH", "SCKDEFG-"};
const std::vector<std::string> kMatchColumns = {"AC-DEFGH", "ACKD-FGH", "SCKDEFG-"};

struct FamilyFile {
    AlignmentFormat format;
    std::string text;
    const std::vector<std::string>* rows;
};

const FamilyFile kFamily[] = {
    // CR LF, blank lines, sequence lines broken at odd places
    {AlignmentFormat::kFasta,
     ">alpha/11-17\r\nAC-DE\r\n\r\nfgH\r\n>beta\r\nACKD.FGH\r\n>gamma\r\nSCKD\r\nEFG-\r\n",
     &kAsWritten},
    // two blocks, markup, "." gaps, CR LF
    {AlignmentFormat::kStockholm,
     "# STOCKHOLM 1.0\r\n#=GF ID family\r\n#=GS beta DE second\r\n\r\n"
     "alpha/11-17 AC-DE\r\nbeta        ACKD.\r\ngamma       SCKDE\r\n#=GC SS_cons HHHHH\r\n\r\n"
     "alpha/11-17 fgH\r\nbeta        FGH\r\ngamma       FG-\r\n#=GC SS_cons EE.\r\n//\r\n",
     &kAsWritten},
    // two blocks with conservation lines and residue counts
    {AlignmentFormat::kClustal,
     "CLUSTAL W (1.83) multiple sequence alignment\n\n\n"
     "alpha/11-17     AC-DE 5\nbeta            ACKD.\ngamma           SCKDE\n"
     "                 *  *\n\nalpha/11-17     fgH\nbeta            FGH\ngamma           FG-\n"
     "                 **\n",
     &kAsWritten},
    // insert columns (lower case, "." padding) around the same match columns
    {AlignmentFormat::kA2m, ">alpha/11-17\nAC-DEkk.FGH\n>beta\nACKD-..sFGH\n>gamma\nSCKDEmm.FG-\n",
     &kMatchColumns},
    // unpadded inserts, a leading comment and a secondary-structure record
    {AlignmentFormat::kA3m,
     "#A3M#\n>ss_pred\nCCHHHHCC\n>alpha/11-17\nAC-DEkkFGH\n>beta\nACKD-sFGH\n>gamma\n"
     "SCKDEmmFG-\n",
     &kMatchColumns},
};

std::string temporary_path(const std::string& name)
{
    return (std::filesystem::temp_directory_path() /
            ("marrowind-readers-" + std::to_string(getpid()) + "-" + name))
        .string();
}

void write_file(const std::string& path, const std::string& contents)
{
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> out(std::fopen(path.c_str(), "wb"),
                                                        &std::fclose);
    ASSERT_TRUE(out);
    ASSERT_EQ(std::fwrite(contents.data(), 1, contents.size(), out.get()), contents.size());
}

// The text fed to a reader `piece` bytes at a time.
marrowind::AlignedSequences read_in_pieces(const std::string& text, std::size_t piece,
                                           AlignmentFormat format = AlignmentFormat::kDetect)
{
    marrowind::AlignmentReader reader("pieces", format);
    for (std::size_t at = 0; at < text.size(); at += piece)
        reader.feed(text.data() + at, std::min(piece, text.size() - at));
    return reader.finish();
}

// The reason a text is refused for, or "read" when it is not.
std::string refusal(const std::string& text, AlignmentFormat format = AlignmentFormat::kDetect,
                    const std::string& source = "x")
{
    try {
        marrowind::parse_alignment(text, format, source);
    } catch (const marrowind::MalformedAlignment& e) {
        EXPECT_EQ(std::string(e.what()), "\nError: " + e.reason() + "\n");
        return e.reason();
    }
    return "read";
}

std::unique_ptr<Alignment> program_reads(const std::string& text, std::size_t piece)
{
    marrowind::detail::FastaOrInterleavedParser parser("in");
    for (std::size_t at = 0; at < text.size(); at += piece)
        parser.feed(text.data() + at, std::min(piece, text.size() - at));
    return parser.finish();
}

}  // namespace

TEST(Readers, EveryFormatGivesTheFamilyWholeInPiecesCompressedAndFromAFile)
{
    const std::string path = temporary_path("family.txt");  // no telling suffix
    for (const FamilyFile& file : kFamily) {
        SCOPED_TRACE(marrowind::format_name(file.format));
        const marrowind::AlignedSequences named = marrowind::parse_alignment(file.text, file.format);
        EXPECT_EQ(named.format, file.format);
        EXPECT_EQ(named.names, kNames);
        EXPECT_EQ(named.sequences, *file.rows);
        ASSERT_EQ(named.ranges.size(), 3u);
        EXPECT_EQ(named.ranges[0]->start, 11);
        EXPECT_EQ(named.ranges[0]->end, 17);
        EXPECT_FALSE(named.ranges[1]);
        EXPECT_EQ(named.source, "<text>");

        // An A2M file is aligned FASTA too: only its name or a named format reads it as A2M.
        const AlignmentFormat detected =
            file.format == AlignmentFormat::kA2m ? AlignmentFormat::kFasta : file.format;
        const std::string packed = gzip_member(file.text);
        for (const std::size_t piece : {std::size_t{1}, std::size_t{3}, file.text.size()}) {
            EXPECT_EQ(read_in_pieces(file.text, piece, file.format).sequences, *file.rows);
            EXPECT_EQ(read_in_pieces(file.text, piece).format, detected);
            EXPECT_EQ(read_in_pieces(packed, piece, file.format).sequences, *file.rows);
        }
        write_file(path, packed);
        const marrowind::AlignedSequences from_file = marrowind::read_alignment(path);
        EXPECT_EQ(from_file.format, detected);
        EXPECT_EQ(from_file.names, kNames);
        EXPECT_EQ(from_file.source, path);

        // A UTF-8 byte-order mark before the text changes nothing, nor does it hide the format.
        const marrowind::AlignmentSizeEstimate unmarked = marrowind::estimate_alignment_size(path);
        const std::string marked = "\xEF\xBB\xBF" + file.text;
        EXPECT_EQ(marrowind::detect_format(marked), detected);
        write_file(path, marked);
        EXPECT_EQ(marrowind::read_alignment(path).names, kNames);
        EXPECT_EQ(marrowind::read_alignment(path, file.format).sequences, *file.rows);
        const marrowind::AlignmentSizeEstimate estimate = marrowind::estimate_alignment_size(path);
        EXPECT_EQ(estimate.columns, unmarked.columns);
        EXPECT_EQ(estimate.sequences, unmarked.sequences);
    }
    std::filesystem::remove(path);
}

TEST(Readers, DetectionByFirstLineThenSuffix)
{
    struct Case {
        const char* text;
        const char* source;
        AlignmentFormat format;
    };
    const Case cases[] = {
        {"\n \t\r\n  # STOCKHOLM 1.0\n", "", AlignmentFormat::kStockholm},
        {"MUSCLE (3.8) multiple sequence alignment\n", "x.a3m", AlignmentFormat::kClustal},
        {"Kalign\n", "", AlignmentFormat::kClustal},
        {">a\nAC\n", "x.A2M", AlignmentFormat::kA2m},
        {">a\nAC\n", "dir/x.a3m.gz", AlignmentFormat::kA3m},
        {"", "x.a3m", AlignmentFormat::kA3m},
        {">a\nAC\n", "dir.a3m/x", AlignmentFormat::kFasta},  // a directory's suffix
        {">a\nAC\n", "dir/.a3m", AlignmentFormat::kFasta},   // a hidden file has no suffix
        {"#A3M#\n>a\nAC\n", "", AlignmentFormat::kA3m},
        {"# STOCKHOLM", "", AlignmentFormat::kStockholm},
        {"# STOCKHOL\n", "", AlignmentFormat::kA3m},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.text) + " from " + c.source);
        EXPECT_EQ(marrowind::detect_format(c.text, c.source), c.format);
    }
    // Text in no known format; gzip data, which detection does not decompress.
    for (const char* text : {"", " \n\t\n", "hello\n", "\x1f\x8b\x08"}) {
        try {
            marrowind::detect_format(text);
            ADD_FAILURE() << "detected " << text;
        } catch (const marrowind::MalformedAlignment& e) {
            EXPECT_EQ(e.reason(), "the input: not an alignment in a known format (fasta, "
                                  "stockholm, a2m, a3m, clustal)");
        }
    }
    EXPECT_EQ(refusal("hello\n"),
              "x: not an alignment in a known format (fasta, stockholm, a2m, a3m, clustal)");

    for (const AlignmentFormat format : marrowind::kAlignmentFormats)
        EXPECT_EQ(marrowind::parse_format_name(marrowind::format_name(format)), format);
    EXPECT_FALSE(marrowind::parse_format_name("FASTA"));
    EXPECT_FALSE(marrowind::parse_format_name("detect"));
}

TEST(Readers, RaggedFastaIsA3mOnlyWhenEveryRecordHasTheQuerysMatchStates)
{
    const std::string a3m = ">ss_pred\nCCHHHHCC\n>q\nAC-DEkkFGH\n>b\nACKD-sFGH\n";
    const marrowind::AlignedSequences read = marrowind::parse_alignment(a3m);
    EXPECT_EQ(read.format, AlignmentFormat::kA3m);
    EXPECT_EQ(read.names, (std::vector<std::string>{"q", "b"}));
    EXPECT_EQ(read.sequences, (std::vector<std::string>{"AC-DEFGH", "ACKD-FGH"}));
    // Named FASTA, or a query without match states, is ragged FASTA.
    EXPECT_EQ(refusal(a3m, AlignmentFormat::kFasta),
              "x: sequences differ in length (ss_pred has 8 columns, q has 10)");
    EXPECT_EQ(refusal(">a\nacdef\n>b\nacd\n"),
              "x: sequences differ in length (a has 5 columns, b has 3)");
    EXPECT_EQ(refusal(">q\nACD\n>b\nACdEF\n"),
              "x: sequences differ in length (q has 3 columns, b has 5)");
    EXPECT_EQ(marrowind::parse_alignment(">q\nACD\n>b\nACdE\n").sequences,
              (std::vector<std::string>{"ACD", "ACE"}));
    // The records as written when they are of one length, lower case and all.
    EXPECT_EQ(marrowind::parse_alignment(">q\nACd\n>b\nAcD\n").sequences,
              (std::vector<std::string>{"ACd", "AcD"}));
}

// ColabFold's complex: a chain of 5 residues once and one of 3 twice, in columns 0-4 and 5-7.
TEST(Readers, ColabFoldsFirstLineGivesEachColumnItsChain)
{
    const std::string complex = "#5,3\t1,2\r\n>101\t102\nACDEFGHI\n>p\nACDEFgGHI\n"
                                ">a\nAC-EF---\n>b\n-----GHI\n";
    for (const std::size_t piece : {std::size_t(1), std::size_t(4096)}) {
        const marrowind::AlignedSequences read = read_in_pieces(complex, piece);
        ASSERT_EQ(read.chains.size(), 2u);
        EXPECT_EQ(read.chains[1].first_column, 5);
        EXPECT_EQ(read.chains[1].length, 3);
        EXPECT_EQ(read.chains[1].copies, 2);
        EXPECT_EQ(read.chains[0].chain_ids, "A");
        EXPECT_EQ(read.chains[1].chain_ids, "B,C");
        EXPECT_EQ(marrowind::column_chains(read.chains),
                  (std::vector<std::int32_t>{0, 0, 0, 0, 0, 1, 1, 1}));
    }
    // Other first lines are comments; the lists must agree with each other and the columns.
    EXPECT_TRUE(marrowind::parse_alignment("#A3M#\n>q\nAC\n").chains.empty());
    EXPECT_TRUE(marrowind::parse_alignment("# 5,3\t1\n>q\nAC\n").chains.empty());
    EXPECT_EQ(refusal("#1,2\t1\n>q\nACD\n"),
              "x: line 1: ColabFold's line of chains gives 2 lengths but 1 numbers of copies");
    EXPECT_EQ(refusal("#1,2\t1,0\n>q\nACD\n"),
              "x: line 1: ColabFold's line of chains gives a number of copies of 0; each must "
              "be at least 1");
    EXPECT_EQ(refusal("#1,2\t99999,2\n>q\nACD\n"),
              "x: line 1: ColabFold's line of chains names more than 100000 chains, copies "
              "included");
    EXPECT_EQ(refusal("#2,2\t1,1\n>q\nACD\n"),
              "x: line 1: ColabFold's line of chains has chains of 2,2 residues, 4 columns in "
              "all, but the alignment has 3");
    // Chains past Z are named as ColabFold names them.
    const auto many = marrowind::parse_alignment("#1,1\t26,2\n>q\nAC\n").chains;
    EXPECT_EQ(many[1].chain_ids, "AA,AB");
}

TEST(Readers, EachRuleRefusesWithTheFileAndTheLine)
{
    const std::string sto = "# STOCKHOLM 1.0\n";
    const std::string bad_sto = "x: not a valid Stockholm alignment: ";
    const std::string bad_aln = "x: not a valid Clustal alignment: ";
    const std::string order = " (every block lists the same sequences in the same order)";
    struct Case {
        std::string text;
        AlignmentFormat format;
        std::string reason;
    };
    const Case cases[] = {
        {"#A3M#\n", AlignmentFormat::kDetect, "x: no sequences"},
        {"", AlignmentFormat::kFasta, "x: no sequences"},
        {">a\nACD\n", AlignmentFormat::kStockholm,
         bad_sto + "it does not start with a \"# STOCKHOLM 1.0\" line"},
        {sto + "a ACD\nb AC\n//\n", AlignmentFormat::kDetect,
         "x: sequences differ in length (a has 3 columns, b has 2)"},
        {sto + "a AC\na DE\n//\n", AlignmentFormat::kDetect,
         bad_sto + "line 3: a appears twice in one block"},
        {sto + "a AC\nb AC\n\nb DE\na DE\n//\n", AlignmentFormat::kDetect,
         bad_sto + "line 5: b where the first block has a" + order},
        {sto + "a AC\n\na DE\nb DE\n//\n", AlignmentFormat::kDetect,
         bad_sto + "line 5: b where the first block has none" + order},
        {sto + "a AC\nb AC\n\nb DE\n//\n", AlignmentFormat::kDetect,
         bad_sto + "line 5: b where the first block has a" + order},
        {sto + "a AC\nb AC\n\na DE\n\n//\n", AlignmentFormat::kDetect,
         bad_sto + "line 5: the block starting here lacks b" + order},
        {sto + "a AC D\n//\n", AlignmentFormat::kDetect,
         bad_sto + "line 2: a sequence line is a name and its residues, with no space among the "
                   "residues"},
        {sto + "#=GX a\n", AlignmentFormat::kDetect,
         bad_sto + "line 2: unknown markup #=GX (there are #=GF, #=GS, #=GR and #=GC)"},
        {sto + "#=GS a\n", AlignmentFormat::kDetect,
         bad_sto + "line 2: #=GS needs a sequence name and a feature"},
        {sto + "#=GR a SS\n", AlignmentFormat::kDetect,
         bad_sto + "line 2: #=GR needs a sequence name, a feature and its annotation"},
        {sto + "#=GF ID  \r\n", AlignmentFormat::kDetect,
         bad_sto + "line 2: #=GF ID needs the alignment's name"},
        {sto + "a ACD\n#=GR a SS HH\n//\n", AlignmentFormat::kDetect,
         bad_sto + "line 3: the SS annotation has 2 columns, the sequences 3"},
        {sto + "a ACD\n#=GC SS_cons HHH\n\na E\n#=GC SS_cons H H\n//\n", AlignmentFormat::kDetect,
         bad_sto + "line 3: the SS_cons annotation has 6 columns, the sequences 4"},
        {sto + "#=GS b DE x\n#=GS c DE y\na AC\n\n#=GR d SS HH\n//\n", AlignmentFormat::kDetect,
         bad_sto + "line 2: markup for b, which is no sequence of the alignment"},
        {sto + "a AC\n\n#=GS d DE x\n//\n", AlignmentFormat::kDetect,
         bad_sto + "line 4: markup for d, which is no sequence of the alignment"},
        {sto + "a ACD\n//\n\nb ACD\n", AlignmentFormat::kDetect,
         bad_sto + "line 5: text after the \"//\" line that ends the alignment"},
        {sto + "a ACD\n//\n" + sto + "a ACD\n//\n", AlignmentFormat::kDetect,
         bad_sto + "line 4: a second alignment starts here; give one alignment per file"},
        {sto + "a ACD\n", AlignmentFormat::kDetect,
         bad_sto + "it does not end with a \"//\" line"},
        {sto + "# a comment\n//\n", AlignmentFormat::kDetect, bad_sto + "it holds no sequences"},
        // A lone carriage return ends a line too.
        {"# STOCKHOLM 1.0\ra AC\rb A C\r//\r", AlignmentFormat::kDetect,
         bad_sto + "line 3: a sequence line is a name and its residues, with no space among the "
                   "residues"},
        {"CLUSTAL W\n\na ACD\nb AC\n", AlignmentFormat::kDetect,
         "x: sequences differ in length (a has 3 columns, b has 2)"},
        {"CLUSTAL W\n\na ACD\n  b AC\n", AlignmentFormat::kDetect,
         bad_aln + "line 4: a line that starts with a space holds conservation marks (*, :, .) "
                   "only"},
        {"CLUSTAL W\n\na AC D\n", AlignmentFormat::kDetect,
         bad_aln + "line 3: a sequence line is a name and its residues, perhaps followed by their "
                   "count"},
        {"CLUSTAL W\n\na AC 2x\n", AlignmentFormat::kDetect,
         bad_aln + "line 3: a sequence line is a name and its residues, perhaps followed by their "
                   "count"},
        {"CLUSTAL W\n\na AC\nb AC\n\nb DE\na DE\n", AlignmentFormat::kDetect,
         bad_aln + "line 6: b where the first block has a" + order},
        {">a\nAC\n", AlignmentFormat::kClustal,
         bad_aln + "it does not start with a \"CLUSTAL\" line"},
        {"CLUSTAL\n\n", AlignmentFormat::kDetect, bad_aln + "it holds no sequences"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(refusal(c.text, c.format), c.reason);
    }
}

TEST(Readers, EveryBrokenStockholmFileOfHmmerExamplesIsRefused)
{
    // Deliberately broken alignments of Debian's hmmer-examples package.
    const std::string folder = "/usr/share/doc/hmmer/examples/easel/esl_msa_testfiles/stockholm/";
    if (!std::filesystem::exists(folder + "stockholm.bad.1"))
        GTEST_SKIP() << folder << " is missing: install Debian's hmmer-examples";
    const char* const rules[] = {
        "not an alignment in a known format",
        "line 6: the block starting here lacks seq2",
        "line 4: markup for seq2, which is no sequence of the alignment",
        "it does not end with a \"//\" line",
        "it holds no sequences",
        "line 3: #=GF needs a feature",
        "line 3: unknown markup #=GFX",
        "line 2: #=GF ID needs the alignment's name",
    };
    for (int number = 1; number <= 8; ++number) {
        const std::string path = folder + "stockholm.bad." + std::to_string(number);
        SCOPED_TRACE(path);
        try {
            marrowind::read_alignment(path);
            ADD_FAILURE() << "read";
        } catch (const marrowind::MalformedAlignment& e) {
            EXPECT_EQ(e.reason().rfind(path + ": ", 0), 0u) << e.reason();
            EXPECT_NE(e.reason().find(rules[number - 1]), std::string::npos) << e.reason();
        }
    }
    const marrowind::AlignedSequences good = marrowind::read_alignment(folder + "stockholm.good.1");
    EXPECT_EQ(good.format, AlignmentFormat::kStockholm);
    EXPECT_FALSE(good.sequences.empty());
}

TEST(Readers, UnreadableInputsAreInputErrors)
{
    const std::string missing = temporary_path("missing.sto");
    EXPECT_THROW(marrowind::read_alignment(missing), marrowind::InputError);
    const std::string packed = gzip_member(">a\nAC\n");
    EXPECT_THROW(marrowind::parse_alignment(packed.substr(0, packed.size() - 1)),
                 marrowind::DamagedCompressedData);
    EXPECT_THROW(marrowind::estimate_alignment_size(missing), marrowind::InputError);
}

TEST(ProgramReader, FastaWinsAndStockholmOrClustalFillsInWhereItFindsNoRecord)
{
    const std::string stockholm = "# STOCKHOLM 1.0\na AC\nb DE\n\na FG\nb HI\n//\n";
    const std::string clustal = "CLUSTAL\n\na AC\nb DE\n\na FG\nb HI\n";
    const std::vector<std::string> rows = {"ACFG", "DEHI"};
    for (const std::size_t piece : {std::size_t{1}, std::size_t{5}, std::size_t{1000}}) {
        SCOPED_TRACE(piece);
        for (const std::string& text : {stockholm, clustal}) {
            const std::unique_ptr<Alignment> read = program_reads(text, piece);
            ASSERT_EQ(read->nseq, 2);
            EXPECT_EQ(read->seqs[0].name, "a");
            EXPECT_EQ(read->seqs[1].seq, rows[1]);
            EXPECT_EQ(read->length, 4);
        }
        // A header line makes any text FASTA, whatever its first line and faults.
        for (const std::string& text : {stockholm + ">x\nAC\n",
                                        std::string("# STOCKHOLM 1.0\n#=GX\n>x\nAC"),
                                        std::string(">a\nAC\n")}) {
            const std::unique_ptr<Alignment> read = program_reads(text, piece);
            const std::unique_ptr<Alignment> fasta(ParseFasta(text));
            ASSERT_EQ(read->nseq, fasta->nseq);
            for (int i = 0; i < read->nseq; ++i) EXPECT_EQ(read->seqs[i].seq, fasta->seqs[i].seq);
        }
        // Without a header line: nothing from text in no other format, a fault of the other.
        EXPECT_EQ(program_reads("#A3M#\nACD\n", piece)->nseq, 0);
        EXPECT_EQ(program_reads("", piece)->nseq, 0);
        try {
            program_reads("# STOCKHOLM 1.0\na AC\n#=GX\n//\n", piece);
            ADD_FAILURE() << "a faulty Stockholm file was read";
        } catch (const marrowind::MalformedAlignment& e) {
            EXPECT_EQ(e.reason(), "in: not a valid Stockholm alignment: line 3: unknown markup "
                                  "#=GX (there are #=GF, #=GS, #=GR and #=GC)");
        }
    }
    // Unequal lengths are the program's validation's to refuse, not the reader's.
    EXPECT_EQ(program_reads("CLUSTAL\n\na ACD\nb AC\n", 7)->seqs[1].seq, "AC");
}

TEST(SizeEstimate, FirstRecordOrBlockTimesTheTextItsSizeFills)
{
    struct Case {
        std::string name;
        std::string text;
        marrowind::AlignmentSizeEstimate expected;
    };
    std::string fasta;
    for (int i = 0; i < 10; ++i) fasta += ">s" + std::to_string(i) + "\nACDEFGHIKL\nMN\n";
    std::string stockholm = "# STOCKHOLM 1.0\n#=GS s0 DE x\n\n";
    for (int block = 0; block < 4; ++block) {
        for (int i = 0; i < 3; ++i) stockholm += "s" + std::to_string(i) + " ACDEFGHIKL\n";
        stockholm += "#=GC SS_cons HHHHHHHHHH\n\n";
    }
    stockholm += "//\n";
    const auto line_ends = [](std::string text, const std::string& end) {
        for (std::size_t at = 0; (at = text.find('\n', at)) != std::string::npos; at += end.size())
            text.replace(at, 1, end);
        return text;
    };
    // A Stockholm file whose first CR LF falls across the first two pieces of a file (64 KiB):
    // the lone line feed after the piece is no blank line that would end the block.
    const std::string residues(65535 - 20, 'A');
    const std::string straddling = "# STOCKHOLM 1.0\r\ns0 " + residues + "\r\ns1 " + residues +
                                   "\r\n\r\ns0 " + residues + "\r\ns1 " + residues + "\r\n//\r\n";
    const Case cases[] = {
        // 10 records of 18 bytes, the first of 12 columns; the header line of the second
        // record is read too.
        {"f.fasta", fasta, {180, 10, 12}},
        // Line ends are counted as they stand: a lone CR is one byte, CR LF two.
        {"f.fasta", line_ends(fasta, "\r"), {180, 10, 12}},
        {"f.fasta", line_ends(fasta, "\r\n"), {210, 10, 12}},
        {"f.sto", line_ends(stockholm, "\r"), {301, 3, 41}},
        {"f.sto", straddling, {262103, 2, 131032}},
        // Blocks of 3 sequences of 10 columns in 66 bytes, with the annotation line that
        // follows them and not the markup before the first; 4.09 such blocks.
        {"f.sto", stockholm, {301, 3, 41}},
        // The match states of the first record, after the comment line.
        {"f.a3m", "#A3M#\n>q\nACdeF\n>b\nAKF\n", {22, 1, 3}},
        {"f.txt", "hello\n", {6, 1, 0}},
        {"f.txt", "\n\n", {2, 1, 0}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        for (const bool compressed : {false, true}) {
            const std::string path = temporary_path(c.name + (compressed ? ".gz" : ""));
            write_file(path, compressed ? gzip_member(c.text) : c.text);
            const marrowind::AlignmentSizeEstimate estimate =
                marrowind::estimate_alignment_size(path);
            std::filesystem::remove(path);
            EXPECT_EQ(estimate.text_bytes, c.expected.text_bytes);
            EXPECT_EQ(estimate.sequences, c.expected.sequences);
            EXPECT_EQ(estimate.columns, c.expected.columns);
        }
    }
}
