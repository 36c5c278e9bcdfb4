// test_input.cpp: the core records, the FASTA reader, gzip decompression, the byte-order mark
// and alignment validation.
#include <gtest/gtest.h>

#include <boost/numeric/conversion/cast.hpp>

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "core/records.h"
#include "input/fasta.h"
#include "input/gzip.h"
#include "input/text_stream.h"
#include "input/validate.h"
#include "marrowind/errors.h"
#include "marrowind/marrowind.h"
#include "gzip_data.h"

namespace {

std::unique_ptr<Alignment> parse(const std::string& text)
{
    return std::unique_ptr<Alignment>(ParseFasta(text));
}

std::string check_error(Alignment& alignment)
{
    try {
        CheckSeqs(&alignment);
    } catch (const marrowind::InputError& e) {
        EXPECT_EQ(e.exit_status(), 1);
        return e.what();
    }
    return "";
}

// The text of gzip data fed to an inflater `piece` bytes at a time.
std::string inflate_in_pieces(const std::string& data, std::size_t piece)
{
    std::string text;
    marrowind::detail::GzipInflater inflater("data");
    for (std::size_t at = 0; at < data.size(); at += piece)
        inflater.feed(data.data() + at, std::min(piece, data.size() - at),
                      [&text](const char* out, std::size_t size) { text.append(out, size); });
    inflater.finish();
    return text;
}

// The text that a TextDecoder hands on for `data` fed `piece` bytes at a time.
std::string decode_in_pieces(const std::string& data, std::size_t piece)
{
    std::string text;
    const auto take = [&text](const char* out, std::size_t size) { text.append(out, size); };
    marrowind::detail::TextDecoder decoder("data");
    for (std::size_t at = 0; at < data.size(); at += piece)
        decoder.feed(data.data() + at, std::min(piece, data.size() - at), take);
    decoder.finish(take);
    return text;
}

}  // namespace

TEST(Records, SquareTableAddressesRowByRowAndResizesFreshTables)
{
    f2dsquare table(1);
    EXPECT_EQ(table.dim, 1);
    EXPECT_EQ(table.access(0, 0), 0.0f);

    table.resize(300);
    ASSERT_EQ(table.cells.size(), 90000u);
    EXPECT_EQ(table.dim, 300);
    table.assign(2, 5, 0.25f);
    EXPECT_EQ(table.access(2, 5), 0.25f);
    EXPECT_EQ(table.cells[605], 0.25f);
    table.assign(1, 0, 1.0f);
    EXPECT_EQ(table.cells[300], 1.0f);

    EXPECT_THROW(table.resize(-1), boost::numeric::negative_overflow);
    EXPECT_EQ(table.dim, 300);
    EXPECT_EQ(table.cells.size(), 90000u);

    table.resize(0);
    EXPECT_EQ(table.dim, 0);
    EXPECT_TRUE(table.cells.empty());
}

TEST(Records, AssignDataMemSizesWeightsWithOneSpareEntry)
{
    Alignment alignment;
    alignment.nseq = 3;
    alignment.length = 10;
    Data* data = new Data();
    EXPECT_EQ(data->dist.dim, 1);
    AssignDataMem(&alignment, data);
    EXPECT_EQ(data->size, 4);
    ASSERT_NE(data->weights, nullptr);
    ASSERT_NE(data->scores, nullptr);
    data->weights[3] = 1.0;
    data->scores[9] = 1.0;
    FreeData(data);

    alignment.nseq = 1;
    alignment.length = 0;
    data = new Data();
    AssignDataMem(&alignment, data);
    EXPECT_EQ(data->size, 2);
    FreeData(data);
}

TEST(Records, CopiedProtIsIndependentAndFreeAlKeepsTheAlignment)
{
    Prot source;
    source.name = "a";
    source.seq = "ACD";
    Prot copy = source;
    copy.seq[0] = 'W';
    EXPECT_EQ(source.seq, "ACD");

    Alignment alignment;
    alignment.nseq = 1;
    alignment.length = 3;
    alignment.seqs.push_back(source);
    FreeAl(&alignment);
    ASSERT_EQ(alignment.seqs.size(), 1u);
    EXPECT_EQ(alignment.seqs[0].seq, "ACD");
}

TEST(FastaReader, SplitsRecordsAndJoinsResidueLines)
{
    auto a = parse(">s1\nAC-D\nEF\n>s2\nACDEFG\n");
    ASSERT_EQ(a->nseq, 2);
    EXPECT_EQ(a->length, 6);
    EXPECT_EQ(a->seqs[0].name, "s1");
    EXPECT_EQ(a->seqs[0].seq, "AC-DEF");
    EXPECT_EQ(a->seqs[1].seq, "ACDEFG");

    // Case is left for validation; names keep everything after ">", leading space included.
    a = parse("> sp|P1| kinase domain\nacgt");
    ASSERT_EQ(a->nseq, 1);
    EXPECT_EQ(a->length, 4);
    EXPECT_EQ(a->seqs[0].name, " sp|P1| kinase domain");
    EXPECT_EQ(a->seqs[0].seq, "acgt");
}

TEST(FastaReader, OddButLegalLayouts)
{
    // Text before the first header opens the first record.
    auto a = parse("XX\n>a\nAC\n");
    ASSERT_EQ(a->nseq, 1);
    EXPECT_EQ(a->seqs[0].seq, "XXAC");

    // Back-to-back headers give an empty record; blank lines add nothing anywhere.
    a = parse("\n>a\n>b\n\nA\n\nC\n\n");
    ASSERT_EQ(a->nseq, 2);
    EXPECT_EQ(a->seqs[0].seq, "");
    EXPECT_EQ(a->seqs[1].seq, "AC");
    EXPECT_EQ(a->length, 2);

    // Only a ">" in the first byte makes a header; spaces are residue text; ">" alone is a name.
    a = parse(">\n >x\n  \n");
    ASSERT_EQ(a->nseq, 1);
    EXPECT_EQ(a->seqs[0].name, "");
    EXPECT_EQ(a->seqs[0].seq, " >x  ");
}

// A line ends at LF, CR LF or a lone CR (old Mac files): the same records every way.
TEST(FastaReader, LineEndsOfEverySystemReadAlike)
{
    auto lf = parse(">a desc\nAC\nDE\n\n>b\nACDE");
    for (const char* text : {">a desc\r\nAC\r\nDE\r\n\r\n>b\r\nACDE\r",
                             ">a desc\rAC\rDE\r\r>b\rACDE\r", ">a desc\rAC\r\nDE\n\r>b\nACDE"}) {
        auto other = parse(text);
        ASSERT_EQ(other->nseq, 2) << text;
        for (int i = 0; i < 2; ++i) {
            EXPECT_EQ(other->seqs[i].name, lf->seqs[i].name) << text;
            EXPECT_EQ(other->seqs[i].seq, lf->seqs[i].seq) << text;
        }
        EXPECT_EQ(other->length, 4);
    }
    // A carriage return before a CR LF ends a line of its own, an empty one.
    EXPECT_EQ(parse(">a\nAC\r\r\n")->seqs[0].seq, "AC");
}

TEST(FastaReader, PiecesOfAnySizeGiveTheSameRecords)
{
    // Line ends of every kind, so that a piece may end between the CR and the LF of one.
    const std::string text = ">first one\r\nACDEF\r\nGHIK\n>second\rLMNPQ\r\nRSTV\r";
    for (std::size_t piece = 1; piece <= text.size(); ++piece) {
        Alignment alignment;
        marrowind::detail::FastaParser parser(alignment, "");
        for (std::size_t at = 0; at < text.size(); at += piece)
            parser.feed(text.data() + at, std::min(piece, text.size() - at));
        parser.finish();
        ASSERT_EQ(alignment.nseq, 2) << "piece " << piece;
        EXPECT_EQ(alignment.seqs[0].name, "first one");
        EXPECT_EQ(alignment.seqs[0].seq, "ACDEFGHIK");
        EXPECT_EQ(alignment.seqs[1].name, "second");
        EXPECT_EQ(alignment.seqs[1].seq, "LMNPQRSTV");
    }
}

TEST(FastaReader, KeepsNulAndHighBytes)
{
    const std::string text(">n\xC3\xA9\n\xC3\x00Z\n", 8);
    auto a = parse(text);
    ASSERT_EQ(a->nseq, 1);
    EXPECT_EQ(a->seqs[0].name, "n\xC3\xA9");
    EXPECT_EQ(a->seqs[0].seq, std::string("\xC3\x00Z", 3));
}

TEST(FastaReader, NoHeaderGivesNoRecords)
{
    for (const char* text : {"", "\n\n", "ACDE\nFGH\n"}) {
        auto a = parse(text);
        EXPECT_EQ(a->nseq, 0);
        EXPECT_EQ(a->length, 0);
        EXPECT_TRUE(a->seqs.empty());
    }
}

TEST(FastaReader, ReadsFilesPastTheInitialRoomAndReportsUnreadablePaths)
{
    const std::string path =
        (std::filesystem::temp_directory_path() / ("marrowind-fasta-" + std::to_string(getpid())))
            .string();
    {
        std::unique_ptr<std::FILE, int (*)(std::FILE*)> out(std::fopen(path.c_str(), "w"),
                                                            &std::fclose);
        ASSERT_TRUE(out);
        for (int i = 0; i < 20000; ++i) std::fprintf(out.get(), ">seq%d\nAC-DE\nFG\n", i);
    }
    std::unique_ptr<Alignment> a(ReadFasta(path.c_str()));
    std::filesystem::remove(path);
    ASSERT_EQ(a->nseq, 20000);
    EXPECT_EQ(a->seqs[19999].name, "seq19999");
    EXPECT_EQ(a->seqs[19999].seq, "AC-DEFG");
    EXPECT_EQ(a->length, 7);

    try {
        ReadFasta((path + "-missing").c_str());
        ADD_FAILURE() << "a missing file was read";
    } catch (const marrowind::InputError& e) {
        EXPECT_EQ(std::string(e.what()), "\nError: " + path + "-missing could not be opened\n");
    }
    const std::string directory = std::filesystem::temp_directory_path().string();
    try {
        ReadFasta(directory.c_str());
        ADD_FAILURE() << "a directory was read";
    } catch (const marrowind::InputError& e) {
        EXPECT_EQ(std::string(e.what()), "\nError: " + directory + " could not be read\n");
    }
}

TEST(Gzip, MembersFollowOneAnotherAndZeroPaddingIsSkippedInPiecesOfAnySize)
{
    // The second text is far larger than its member: one byte in gives many pieces out.
    const std::string first = ">a\nAC-DE\n>b\nAC";
    std::string second = "KDE\n";
    for (int i = 0; i < 3000; ++i) second += ">s" + std::to_string(i) + "\nACDEFGHIKLMNPQRSTVWY\n";
    const std::string data = gzip_member(first) + gzip_member(second) + gzip_member("") +
                             std::string(7, '\0');
    for (std::size_t piece : {std::size_t{1}, std::size_t{2}, std::size_t{3}, std::size_t{64},
                              data.size()}) {
        SCOPED_TRACE(piece);
        EXPECT_EQ(inflate_in_pieces(data, piece), first + second);
    }
    EXPECT_EQ(marrowind::gunzip(data, "data"), first + second);
}

// A UTF-8 byte-order mark at the start of the text, plain or decompressed, is dropped; bytes
// that only begin like one, or a mark anywhere else, are text.
TEST(TextDecoder, ByteOrderMarkAtTheStartIsDropped)
{
    const std::string mark = "\xEF\xBB\xBF";
    const struct {
        std::string data;
        std::string text;
    } cases[] = {
        {mark + ">a\nAC\n", ">a\nAC\n"},
        {gzip_member(mark + ">a\nAC\n"), ">a\nAC\n"},
        {mark, ""},
        {mark + mark + ">a", mark + ">a"},
        {"\xEF", "\xEF"},
        {"\xEF\xBB", "\xEF\xBB"},
        {"\xEF\xBB>a", "\xEF\xBB>a"},
        {">a\n" + mark, ">a\n" + mark},
        {"", ""},
    };
    for (const auto& c : cases)
        for (const std::size_t piece : {std::size_t{1}, std::size_t{2}, c.data.size() + 1})
            EXPECT_EQ(decode_in_pieces(c.data, piece), c.text) << c.text << " piece " << piece;
    EXPECT_EQ(parse(mark + ">a\nAC\n")->seqs[0].name, "a");
}

TEST(Gzip, DamagedCutShortOrTrailedDataIsUnreadable)
{
    const std::string member = gzip_member(">a\nACDEFGHIKL\n>b\nACDEFGHIKL\n");
    std::vector<std::string> unreadable = {member + "x", member + std::string(3, '\0') + "x",
                                           member + "\x1f", "plain text"};
    // Cut anywhere, the member's end is missing; the last eight bytes hold its check sum and
    // length, which a changed byte no longer matches.
    for (std::size_t size = 0; size < member.size(); ++size)
        unreadable.push_back(member.substr(0, size));
    for (std::size_t at = member.size() - 8; at < member.size(); ++at) {
        std::string damaged = member;
        damaged[at] ^= 0x01;
        unreadable.push_back(damaged);
    }
    for (const std::string& data : unreadable) {
        try {
            marrowind::gunzip(data, "in.fa.gz");
            ADD_FAILURE() << "read " << data.size() << " bytes of damaged data";
        } catch (const marrowind::DamagedCompressedData& e) {
            EXPECT_EQ(std::string(e.what()), "\nError: in.fa.gz could not be read\n");
        }
    }
}

TEST(Validation, NormalisesGapsAndCaseOnly)
{
    auto a = parse(">1\na-c.d\n>2\nABCDE\n>3\nx*?9\xE9\n");
    CheckSeqs(a.get());
    EXPECT_EQ(a->seqs[0].seq, "A-C-D");
    EXPECT_EQ(a->seqs[1].seq, "ABCDE");
    EXPECT_EQ(a->seqs[2].seq, "X*?9\xE9");

    auto single = parse(">only\nac.gt\n");
    CheckSeqs(single.get());
    EXPECT_EQ(single->seqs[0].seq, "AC-GT");

    auto empty_records = parse(">a\n>b\n");
    CheckSeqs(empty_records.get());
    EXPECT_EQ(empty_records->length, 0);
}

TEST(Validation, RefusesEmptyAndRaggedAlignments)
{
    auto none = parse("");
    EXPECT_EQ(check_error(*none), "\nError: No sequences parsed from FASTA file\n");

    const std::string prefix =
        "\nError: sequences in input aren't aligned to the same length (first sequence is of "
        "length ";
    auto second_short = parse(">a\nACDEFG\n>b\nACDEF\n");
    EXPECT_EQ(check_error(*second_short), prefix + "6 but sequence with index 1 is of length 5)\n");
    auto third_short = parse(">a\nACDEF\n>b\nACDEF\n>c\nACDE\n");
    EXPECT_EQ(check_error(*third_short), prefix + "5 but sequence with index 2 is of length 4)\n");
    auto both_short = parse(">a\nACDEF\n>b\nACDE\n>c\nACD\n");
    EXPECT_EQ(check_error(*both_short), prefix + "5 but sequence with index 1 is of length 4)\n");
    auto one_empty = parse(">a\nACDEF\n>b\n>c\nACDEF\n");
    EXPECT_EQ(check_error(*one_empty), prefix + "5 but sequence with index 1 is of length 0)\n");
}
