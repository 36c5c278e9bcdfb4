// test_writer.cpp: the decimal rounding, the figures as printed, text fields, and the scored
// alignment writer, of the program's records and of rows that callers hold.
//
// Contents: round_it cases, format_score, format_dops and escape_field cases, the exact bytes of
// the written lines, callers' rows normalised as validation normalises them, and failed writes.
#include <gtest/gtest.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <limits>
#include <string>
#include <string_view>
#include <vector>

#include "core/records.h"
#include "input/validate.h"
#include "marrowind/errors.h"
#include "marrowind/output.h"
#include "output/writer.h"

namespace {

const std::string kSeparators = "           #              ";

// Holds an alignment and its scores, and writes them to a temporary file to read back.
struct Written {
    Alignment alignment;
    std::vector<double> scores;
    Data data;

    Written(const std::vector<std::string>& seqs, std::vector<double> column_scores)
        : scores(std::move(column_scores))
    {
        for (const std::string& s : seqs) {
            Prot p;
            p.seq = s;
            alignment.seqs.push_back(p);
        }
        alignment.nseq = static_cast<int>(seqs.size());
        alignment.length = static_cast<int>(scores.size());
        data.scores = scores.data();
    }

    std::string Write()
    {
        FILE* file = std::tmpfile();
        EXPECT_NE(file, nullptr);
        WriteAlignment(&file, &alignment, &data);
        std::string text(static_cast<std::size_t>(std::ftell(file)), '\0');
        std::rewind(file);
        EXPECT_EQ(std::fread(&text[0], 1, text.size(), file), text.size());
        std::fclose(file);
        return text;
    }
};

TEST(RoundItTest, RoundsHalvesAwayFromZeroAfterScaling)
{
    EXPECT_EQ(round_it(0.0625, 3), 0.063);
    EXPECT_EQ(round_it(0.3125, 3), 0.313);
    EXPECT_EQ(round_it(0.06249, 3), 0.062);
    // The double nearest 0.1235 lies below it, but its product with 1000 rounds to 123.5.
    EXPECT_LT(0.1235, 0.1235L);
    EXPECT_EQ(round_it(0.1235, 3), 0.124);
    EXPECT_EQ(round_it(0.9995, 3), 1.0);
    EXPECT_EQ(round_it(-0.0625, 3), -0.063);
    EXPECT_EQ(round_it(2.5, 0), 3.0);
    EXPECT_TRUE(std::isnan(round_it(std::numeric_limits<double>::quiet_NaN(), 3)));
}

TEST(FormatTest, FiguresPrintAsTheProgramPrintsThem)
{
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const struct {
        double score;
        const char* shown;
    } scores[] = {
        {0.0005, "0.001"},   {0.0015, "0.002"},  {0.0625, "0.063"},   {0.06249, "0.062"},
        {0.1235, "0.124"},   {0.9995, "1.000"},  {1.0, "1.000"},      {0.0, "0.000"},
        {-0.0625, "-0.063"}, {-0.0, "-0.000"},   {-0.0001, "-0.000"}, {12.5, "12.500"},
        {nan, "  nan"},      {-nan, " -nan"},
    };
    for (const auto& c : scores) EXPECT_EQ(marrowind::format_score(c.score), c.shown) << c.score;
    EXPECT_EQ(marrowind::format_score(1e300).size(), 305u);

    EXPECT_EQ(marrowind::format_dops(99.2851), "99.285");
    EXPECT_EQ(marrowind::format_dops(0.0), " 0.000");
    EXPECT_EQ(marrowind::format_dops(100.0), "100.000");
    EXPECT_EQ(marrowind::format_dops(nan), "   nan");
}

// The four bytes that would split a line or be taken for an escape are escaped; every other
// byte, NUL and bytes of UTF-8 among them, stays.
TEST(FormatTest, FieldsEscapeTabsLineEndsAndBackslashesOnly)
{
    const struct {
        std::string text;
        std::string field;
    } cases[] = {
        {"", ""},
        {"MYG_HORSE/1-153 myoglobin", "MYG_HORSE/1-153 myoglobin"},
        {"a\tb", "a\\tb"},
        {"\r\n\n", "\\r\\n\\n"},
        {"C:\\t", "C:\\\\t"},  // a backslash before a t is no tab
        {std::string("n\0\xC3\xA9\x1F", 5), std::string("n\0\xC3\xA9\x1F", 5)},
    };
    for (const auto& c : cases) EXPECT_EQ(marrowind::escape_field(c.text), c.field) << c.text;
}

TEST(WriterTest, WritesOneLinePerColumnWithScoreSeparatorsAndResidues)
{
    Written w({"AC-", "XDE", "AAA"}, {0.0625, 1.0, 0.0});
    EXPECT_EQ(w.Write(), "0.063" + kSeparators + "AXA\n" +
                         "1.000" + kSeparators + "CDA\n" +
                         "0.000" + kSeparators + "-EA\n");
}

TEST(WriterTest, ScoreFieldShowsTheRoundedValue)
{
    Written w({"AAAA"}, {0.06249, 0.1235, 0.9995, 0.3125});
    const std::string text = w.Write();
    EXPECT_EQ(text, "0.062" + kSeparators + "A\n" + "0.124" + kSeparators + "A\n" +
                    "1.000" + kSeparators + "A\n" + "0.313" + kSeparators + "A\n");
}

TEST(WriterTest, ResiduesAreWrittenAsStoredIncludingNulAndHighBytes)
{
    const std::string first("a\0\xff", 3);
    const std::string second("\x80.\n", 3);
    Written w({first, second}, {0.5, 0.5, 0.5});
    const std::string text = w.Write();
    ASSERT_EQ(text.size(), 3u * (32 + 2));
    EXPECT_EQ(text.substr(31, 3), std::string("a\x80\n"));
    EXPECT_EQ(text.substr(34 + 31, 3), std::string("\0.\n", 3));
    EXPECT_EQ(text.substr(68 + 31, 3), std::string("\xff\n\n"));
}

TEST(WriterTest, ScoresOutsideTheUnitRangeAreFormattedInFull)
{
    const double nan = std::numeric_limits<double>::quiet_NaN();
    Written w({"AAAA"}, {nan, 12.5, -0.0001, 1e20});
    char expected[4][64];
    std::snprintf(expected[0], 64, "%5.3f", nan);
    std::snprintf(expected[1], 64, "%5.3f", 12.5);
    std::snprintf(expected[2], 64, "%5.3f", round_it(-0.0001, 3));  // -0.000
    std::snprintf(expected[3], 64, "%5.3f", round_it(1e20, 3));
    std::string all;
    for (const char* field : expected) all += field + kSeparators + "A\n";
    EXPECT_EQ(w.Write(), all);
}

TEST(WriterTest, LinesHaveNseqPlus32BytesForManySequences)
{
    std::vector<std::string> seqs;
    for (int j = 0; j < 5000; ++j) seqs.push_back(std::string(1, "ACD-X"[j % 5]) + "W");
    Written w(seqs, {0.25, 0.75});
    const std::string text = w.Write();
    ASSERT_EQ(text.size(), 2u * (32 + 5000));
    EXPECT_EQ(text[32 + 5000 - 1], '\n');
    EXPECT_EQ(text.substr(31, 6), "ACD-XA");
    EXPECT_EQ(text.substr(5032 + 31, 5000), std::string(5000, 'W'));
}

TEST(WriterTest, LongAlignmentsKeepColumnOrderAndResidueOrder)
{
    // Enough columns to cross several groups of lines built together, with a wide score field
    // in the middle so that residues start at a different place on that line.
    const int length = 101;
    std::vector<std::string> seqs(3, std::string(length, ' '));
    std::vector<double> scores(length);
    for (int i = 0; i < length; ++i) {
        for (int j = 0; j < 3; ++j) seqs[j][i] = static_cast<char>(33 + (i * 3 + j) % 90);
        scores[i] = i / 100.0;
    }
    scores[40] = 12.5;
    Written w(seqs, scores);
    std::string expected;
    for (int i = 0; i < length; ++i) {
        char field[16];
        std::snprintf(field, sizeof field, "%5.3f", round_it(scores[i], 3));
        expected += field + kSeparators + seqs[0][i] + seqs[1][i] + seqs[2][i] + "\n";
    }
    EXPECT_EQ(w.Write(), expected);
}

TEST(WriterTest, NoColumnsWriteNothing)
{
    Written w({"", ""}, {});
    EXPECT_EQ(w.Write(), "");
}

// Every byte value, in two orders: the callers' rows give what the program writes for the same
// rows once validation has normalised them.
TEST(WriterTest, CallersRowsGoOutAsTheProgramWritesThemAfterValidation)
{
    std::string ascending(256, ' ');
    std::string descending(256, ' ');
    for (int i = 0; i < 256; ++i) {
        ascending[i] = static_cast<char>(i);
        descending[i] = static_cast<char>(255 - i);
    }
    std::vector<double> scores(256);
    for (int i = 0; i < 256; ++i) scores[i] = i / 255.0;

    std::string text;
    marrowind::write_scored_alignment([&text](std::string_view lines) { text += lines; },
                                      {ascending, descending}, scores.data(), scores.size());

    Written validated({ascending, descending}, scores);
    CheckSeqs(&validated.alignment);
    EXPECT_EQ(text, validated.Write());
    EXPECT_EQ(text.substr(static_cast<std::size_t>('a') * 34 + 31, 2), "A\x9e");
    EXPECT_EQ(text.substr(static_cast<std::size_t>('.') * 34 + 31, 2), std::string("-\xd1"));
}

TEST(WriterTest, CallersRowsOfAnotherLengthAreRefusedBeforeAnyWrite)
{
    const double scores[] = {0.5, 0.5};
    bool written = false;
    EXPECT_THROW(marrowind::write_scored_alignment([&written](std::string_view) { written = true; },
                                                   {"AC", "A"}, scores, 2),
                 marrowind::InputError);
    EXPECT_FALSE(written);
}

TEST(WriterTest, FailedWriteThrowsOutputErrorNamingTheDestination)
{
    FILE* full = std::fopen("/dev/full", "w");
    if (full == nullptr) GTEST_SKIP() << "/dev/full is not available";
    // 200 lines of 1032 bytes: far more than any stream buffer holds.
    Written w(std::vector<std::string>(1000, std::string(200, 'A')), std::vector<double>(200, 0.5));
    try {
        WriteAlignment(&full, &w.alignment, &w.data, "out.txt");
        ADD_FAILURE() << "no OutputError";
    } catch (const marrowind::OutputError& e) {
        EXPECT_STREQ(e.what(), "\nError: out.txt could not be written\n");
        EXPECT_EQ(e.destination(), "out.txt");
        EXPECT_EQ(e.error_number(), ENOSPC);
    }

    // The callers' writer to a stream reports the same way.
    std::vector<std::string_view> rows(w.alignment.seqs.size(), w.alignment.seqs[0].seq);
    try {
        marrowind::write_scored_alignment(full, rows, w.scores.data(), w.scores.size(), "rows.txt");
        ADD_FAILURE() << "no OutputError";
    } catch (const marrowind::OutputError& e) {
        EXPECT_STREQ(e.what(), "\nError: rows.txt could not be written\n");
        EXPECT_EQ(e.error_number(), ENOSPC);
    }
    std::fclose(full);
}

}  // namespace
