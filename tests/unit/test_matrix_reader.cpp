// test_matrix_reader.cpp: the matrix file format, its refusals, its warnings and the shipped
// matrices.
#include <gtest/gtest.h>

#include <stdlib.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "marrowind/errors.h"
#include "marrowind/marrowind.h"
#include "matrix/matrix.h"

namespace {

std::unique_ptr<Matrix> Parse(const std::string& text)
{
    std::istringstream in(text);
    return std::unique_ptr<Matrix>(ParseMatrix(in, "test.mat2"));
}

std::unique_ptr<Matrix> Transformed(const std::string& text)
{
    std::unique_ptr<Matrix> matrix = Parse(text);
    TransformMatrix(matrix.get());
    return matrix;
}

// The message of the InputError that parsing text raises, or "" when it parses.
std::string Refusal(const std::string& text)
{
    try {
        Parse(text);
    } catch (const marrowind::InputError& e) {
        return e.what();
    }
    return "";
}

std::vector<int> Row(const Matrix& matrix, int r)
{
    return std::vector<int>(matrix.raw[r].begin(), matrix.raw[r].begin() + matrix.nres);
}

const std::string kThree = "A,R,N\n4,-1,-2\n-1,5,0\n-2,0,6\n";

}  // namespace

TEST(MatrixReader, ReadsHeaderAndRowsAfterAnyComments)
{
    for (const std::string& text : {kThree, "#c\n!c\n#\n" + kThree, kThree + "anything,at,all\n\n"}) {
        const auto matrix = Parse(text);
        ASSERT_EQ(matrix->nres, 3);
        EXPECT_EQ(std::string(matrix->letters.data(), 4), std::string("ARN\0", 4));
        EXPECT_EQ(Row(*matrix, 0), (std::vector<int>{4, -1, -2}));
        EXPECT_EQ(Row(*matrix, 2), (std::vector<int>{-2, 0, 6}));
        EXPECT_EQ(matrix->raw[0][3], 0);
    }
    // Without a final newline the last row still counts.
    EXPECT_EQ(Row(*Parse("A\n7"), 0), (std::vector<int>{7}));
}

TEST(MatrixReader, CarriageReturnsAndLenientFieldsReadAsNumbersOrZero)
{
    const auto crlf = Parse("A,R,N\r\n4,-1,-2\r\n-1,5,0\r\n-2,0,6\r\n");
    const auto plain = Parse(kThree);
    EXPECT_EQ(crlf->letters, plain->letters);
    EXPECT_EQ(crlf->raw, plain->raw);

    const auto lenient =
        Parse("A,B,C,D,E\n -3,-3abc,x,,+7\n0,0,0,0,0\n0,0,0,0,0\n0,0,0,0,0\n0,0,0,0,0\n");
    EXPECT_EQ(Row(*lenient, 0), (std::vector<int>{-3, -3, 0, 0, 7}));
}

TEST(MatrixReader, HeaderFieldsGiveTheirFirstCharacterLiterally)
{
    const auto matrix = Parse("AB, C\n1,2\n3,4\n");
    EXPECT_EQ(matrix->letters[0], 'A');
    EXPECT_EQ(matrix->letters[1], ' ');

    // Lines far longer than any fixed buffer: 300 fields of 500 characters each.
    std::string header;
    std::string row;
    for (int k = 0; k < kMatrixCapacity; ++k) {
        header += (k ? "," : "") + std::string(1, static_cast<char>('0' + k % 75)) +
                  std::string(499, 'z');
        row += (k ? "," : "") + std::to_string(k);
    }
    std::string text = header + "\n";
    for (int k = 0; k < kMatrixCapacity; ++k) text += row + "\n";
    const auto wide = Parse(text);
    EXPECT_EQ(wide->nres, kMatrixCapacity);
    EXPECT_EQ(wide->letters[299], static_cast<char>('0' + 299 % 75));
    EXPECT_EQ(wide->raw[299][299], 299);
}

TEST(MatrixReader, LookupFollowsRowsColumnsAndLaterDuplicates)
{
    // Asymmetric: A against R is not R against A.
    const auto asymmetric = Transformed("A,R\n0,10\n5,0\n");
    EXPECT_DOUBLE_EQ(Mut(asymmetric.get(), 'A', 'R'), 1.0);
    EXPECT_DOUBLE_EQ(Mut(asymmetric.get(), 'R', 'A'), 0.5);

    // The second A's row and column win.
    const auto duplicated = Transformed("A,R,A\n0,1,2\n3,4,5\n6,7,8\n");
    EXPECT_DOUBLE_EQ(Mut(duplicated.get(), 'A', 'A'), 1.0);
    EXPECT_DOUBLE_EQ(Mut(duplicated.get(), 'A', 'R'), static_cast<float>(7.0 / 8.0));
    EXPECT_DOUBLE_EQ(Mut(duplicated.get(), 'R', 'A'), static_cast<float>(5.0 / 8.0));

    // A letter with a byte value above 127 has its own row and column.
    const char high = static_cast<char>(0xC3);
    const auto wide = Transformed("\xC3,A\n8,2\n4,0\n");
    EXPECT_EQ(wide->letters[0], high);
    EXPECT_DOUBLE_EQ(Mut(wide.get(), high, high), 1.0);
    EXPECT_DOUBLE_EQ(Mut(wide.get(), high, 'A'), 0.25);
    EXPECT_DOUBLE_EQ(Mut(wide.get(), 'A', high), 0.5);

    // Scores at both ends of the int range span more than an int holds.
    const auto extreme = Transformed("Q,R\n2147483647,-2147483648\n0,5\n");
    EXPECT_DOUBLE_EQ(Mut(extreme.get(), 'Q', 'Q'), 1.0);
    EXPECT_DOUBLE_EQ(Mut(extreme.get(), 'Q', 'R'), 0.0);
    EXPECT_DOUBLE_EQ(Mut(extreme.get(), 'R', 'Q'), static_cast<float>(2147483648.0 / 4294967295.0));
}

TEST(MatrixReader, RefusesMalformedFilesWithOneLineSayingWhy)
{
    std::string too_wide = "A";
    for (int k = 1; k <= kMatrixCapacity; ++k) too_wide += ",A";
    const struct {
        std::string text;
        std::string reason;
    } cases[] = {
        {"", "no header line"},
        {"# only\n! comments\n", "no header line"},
        {too_wide + "\n", "the header has 301 letters; at most 300 are allowed"},
        {"A,,N\n1,2,3\n1,2,3\n1,2,3\n", "field 2 of the header (line 1) is empty"},
        {"A,R,\n", "field 3 of the header (line 1) is empty"},
        {"#c\n\n1\n", "field 1 of the header (line 2) is empty"},
        {"A,R,N\n4,-1,-2\n-1,5,0\n", "the file ends after 2 of 3 score rows"},
        {"A,R,N\n4,-1,-2,0\n", "score row 1 (line 2) has 4 fields; the header has 3 letters"},
        {"A,R,N\n4,-1,-2\n-1,5\n-2,0,6\n", "score row 2 (line 3) has 2 fields"},
        {"A,R\n# scores\n1,2\n3,4\n", "score row 1 (line 2) has 1 fields"},
        {"A,R\n\n1,2\n3,4\n", "score row 1 (line 2) has 1 fields"},
        // Nothing after a NUL byte or beyond the int range may be lost without a word.
        {std::string("A,R\0,N\n1,2\0,3\n4,5\0,6\n", 21), "line 1 holds a NUL byte"},
        {std::string("A,R\n1,2\n3,4\0\n", 13), "line 3 holds a NUL byte"},
        {"A,R\n1,-2147483649\n3,4\n", "score row 1 (line 2): field 2 does not fit an int"},
        {"A,R\n1,2\n3,99999999999999999999\n", "score row 2 (line 3): field 2 does not fit"},
    };
    for (const auto& c : cases) {
        const std::string message = Refusal(c.text);
        SCOPED_TRACE(c.text.substr(0, 40));
        EXPECT_EQ(message.rfind("!!!! Error in Matrix !!!!\ntest.mat2: ", 0), 0u) << message;
        EXPECT_NE(message.find(c.reason), std::string::npos) << message;
        EXPECT_EQ(std::count(message.begin(), message.end(), '\n'), 2) << message;
        EXPECT_EQ(message.back(), '\n');
    }
}

// Faults that the format reads past are read as ever and told as warnings, each once, in file
// order, naming the file and the line; the library keeps them with the matrix.
TEST(MatrixReader, FaultsReadPastAreWarningsInFileOrder)
{
    const std::string at = "test.mat2 line ";
    const std::string lower = " is lower case; alignments are read in upper case, so its "
                              "scores are never used";
    const struct {
        std::string text;
        std::vector<std::string> warnings;
    } cases[] = {
        // Sound files: CR LF, blank lines after the rows, blanks and signs around numbers.
        {"#c\n" + kThree, {}},
        {"A,R,N\r\n4,-1,-2\r\n-1,5,0\r\n-2,0,6\r\n\r\n\n", {}},
        {"A,B \n -3, +7 \n0,0\n", {}},
        {"a,R,n\n1,2,3\n3,4,5\n6,7,8\n",
         {at + "1: header letter 'a'" + lower, at + "1: header letter 'n'" + lower}},
        {"AB, R\n1,2\n3,4\n",
         {at + "1: header entry 1 'AB' is longer than one letter; only its first character, "
               "'A', is the letter",
          at + "1: header entry 2 ' R' is longer than one letter; only its first character, "
               "' ', is the letter"}},
        {"A,R,A,A\n1,2,3,4\n1,2,3,4\n1,2,3,4\n1,2,3,4\n",
         {at + "1: header letter 'A' appears again as entry 3 (first as entry 1); its later row "
               "and column replace the earlier ones",
          at + "1: header letter 'A' appears again as entry 4 (first as entry 1); its later row "
               "and column replace the earlier ones"}},
        {"A,R,N\n1.9,2,3\n3,5abc,\n-7e2,x,1 2\n",
         {at + "2: score row 1 field 1 '1.9' is not a whole number and is read as 1",
          at + "3: score row 2 field 2 '5abc' is not a whole number and is read as 5; 1 more "
               "field of the row is not a whole number either",
          at + "4: score row 3 field 1 '-7e2' is not a whole number and is read as -7; 2 more "
               "fields of the row are not whole numbers either"}},
        {kThree + "\n4,5,6\n\n# end\n",
         {at + "6: 2 lines after the last score row are never read: the header's 3 letters "
               "take 3 rows"}},
        {"\xEF\xBB\xBF" + kThree,
         {at + "1: the line starts with a UTF-8 byte-order mark, which the matrix format reads "
               "as text: the line is the header and its first letter is the byte \\xEF; save "
               "the file without the mark"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        std::vector<std::string> heard;
        std::istringstream in(c.text);
        try {
            delete ParseMatrix(in, "test.mat2",
                               [&heard](const std::string& warning) { heard.push_back(warning); });
        } catch (const marrowind::InputError& e) {
            ADD_FAILURE() << e.what();
        }
        EXPECT_EQ(heard, c.warnings);
        EXPECT_EQ(marrowind::SubstitutionMatrix::parse(c.text, "test.mat2").warnings(), heard);
    }
    // The matrix itself is what the format reads, warnings or not.
    EXPECT_EQ(Parse("AB, R\n1.9,2\n3,4x\nmore\n")->raw, Parse("A, \n1,2\n3,4\n")->raw);
    for (const char* shipped :
         {MARROWIND_DATA_DIR "/blosum62.mat2", MARROWIND_DATA_DIR "/pet91.mat2"})
        EXPECT_TRUE(marrowind::SubstitutionMatrix::load(shipped).warnings().empty()) << shipped;
}

TEST(MatrixReader, ReadMatrixRefusesMissingFilesAndDirectories)
{
    std::string dir = (std::filesystem::temp_directory_path() / "matrix-XXXXXX").string();
    ASSERT_NE(mkdtemp(dir.data()), nullptr);
    const std::string missing = dir + "/absent.mat2";
    try {
        delete ReadMatrix(missing.c_str());
        ADD_FAILURE() << "a missing file was read";
    } catch (const marrowind::InputError& e) {
        EXPECT_EQ(std::string(e.what()), "\nError: " + missing + " could not be opened\n");
    }
    try {
        delete ReadMatrix(dir.c_str());
        ADD_FAILURE() << "a directory was read";
    } catch (const marrowind::InputError& e) {
        EXPECT_EQ(std::string(e.what()),
                  "!!!! Error in Matrix !!!!\n" + dir + ": the file could not be read\n");
    }
    std::filesystem::remove_all(dir);
}

TEST(MatrixReader, ShippedMatricesLoadWithThePublishedScores)
{
    const std::unique_ptr<Matrix> blosum(ReadMatrix(MARROWIND_DATA_DIR "/blosum62.mat2"));
    ASSERT_EQ(blosum->nres, 24);
    EXPECT_EQ(std::string(blosum->letters.data(), 24), "ARNDCQEGHILKMFPSTWYVBZX*");
    TransformMatrix(blosum.get());
    // Scores run from -4 to 11: W/W = 11, A/C = 0, W/N = -4, A/S = 1, and X is a gap.
    EXPECT_EQ(Mut(blosum.get(), 'W', 'W'), 1.0);
    EXPECT_EQ(Mut(blosum.get(), 'A', 'C'), 0.2666666805744171);
    EXPECT_EQ(Mut(blosum.get(), 'W', 'N'), 0.0);
    EXPECT_EQ(Mut(blosum.get(), 'S', 'A'), static_cast<float>(5.0 / 15.0));
    EXPECT_EQ(Mut(blosum.get(), 'X', 'A'), 0.0);

    const std::unique_ptr<Matrix> jones(ReadMatrix(MARROWIND_DATA_DIR "/pet91.mat2"));
    ASSERT_EQ(jones->nres, 20);
    EXPECT_EQ(std::string(jones->letters.data(), 20), "ARNDCQEGHILKMFPSTWYV");
    // Published C/C 1.1, A/A 0.2, H/Y 0.4, stored times ten; they range from -0.5 to 1.5.
    EXPECT_EQ(jones->raw[4][4], 11);
    EXPECT_EQ(jones->raw[0][0], 2);
    EXPECT_EQ(jones->raw[8][18], 4);
    TransformMatrix(jones.get());
    EXPECT_EQ(Mut(jones.get(), 'W', 'W'), 1.0);
    EXPECT_EQ(Mut(jones.get(), 'C', 'C'), static_cast<float>(16.0 / 20.0));
    EXPECT_EQ(Mut(jones.get(), 'D', 'W'), 0.0);
}
