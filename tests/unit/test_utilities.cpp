// test_utilities.cpp: text splitting, trimming, heap arrays, comparators and file helpers.
#include <gtest/gtest.h>

#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "marrowind/errors.h"
#include "marrowind/util.h"

namespace {

// Splits with newsplit (or splitspace when delim is 0) and frees the list again.
std::vector<std::string> Fields(const std::string& text, char delim)
{
    int count = -1;
    char** list = delim ? newsplit(text.c_str(), delim, &count) : splitspace(text.c_str(), &count);
    std::vector<std::string> fields(list, list + count);
    FreeStrings(list, count);
    return fields;
}

using Strings = std::vector<std::string>;

std::filesystem::path MakeTempDir()
{
    std::string pattern = (std::filesystem::temp_directory_path() / "util-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    return pattern;
}

}  // namespace

TEST(UtilitiesSplit, NewsplitKeepsEveryEmptyFieldAndTrimsNothing)
{
    EXPECT_EQ(Fields("A,R,N", ','), (Strings{"A", "R", "N"}));
    EXPECT_EQ(Fields("a,,b,", ','), (Strings{"a", "", "b", ""}));
    EXPECT_EQ(Fields(",", ','), (Strings{"", ""}));
    EXPECT_EQ(Fields("", ','), (Strings{""}));
    EXPECT_EQ(Fields(" a b \r", ','), (Strings{" a b \r"}));

    // Many fields: the list must grow past any initial capacity without losing entries.
    std::string line;
    for (int i = 0; i < 5000; ++i) line += std::to_string(i) + ",";
    const Strings many = Fields(line, ',');
    ASSERT_EQ(many.size(), 5001u);
    EXPECT_EQ(many[0], "0");
    EXPECT_EQ(many[4999], "4999");
    EXPECT_EQ(many[5000], "");
}

TEST(UtilitiesSplit, SplitspaceSkipsLeadingBlanksAndEndsWithAnEmptyFieldAfterTrailingOnes)
{
    EXPECT_EQ(Fields("  a\t b  ", 0), (Strings{"a", "b", ""}));
    EXPECT_EQ(Fields("a b", 0), (Strings{"a", "b"}));
    EXPECT_EQ(Fields("a\r\n\v\fb", 0), (Strings{"a", "b"}));
    EXPECT_EQ(Fields("", 0), (Strings{""}));
    EXPECT_EQ(Fields("   ", 0), (Strings{""}));
    // A byte above 127 is not white space, whatever the sign of char.
    EXPECT_EQ(Fields("\xA0x \xC3", 0), (Strings{"\xA0x", "\xC3"}));
}

TEST(UtilitiesSplit, SplitFillsFixedSlotsAndStaysInsideThem)
{
    auto words = std::make_unique<Words>();
    EXPECT_EQ(split("x:y", ':', words.get()), 2);
    EXPECT_EQ(words->nwords, 2);
    EXPECT_STREQ(words->word[0], "x");
    EXPECT_STREQ(words->word[1], "y");

    EXPECT_EQ(split(":", ':', words.get()), 2);
    EXPECT_STREQ(words->word[0], "");
    EXPECT_STREQ(words->word[1], "");
    EXPECT_EQ(split("", ':', words.get()), 1);

    // A word of 150 characters is cut to 99, and the next word is still found.
    const std::string longword(150, 'w');
    EXPECT_EQ(split((longword + ":z").c_str(), ':', words.get()), 2);
    EXPECT_EQ(std::string(words->word[0]), std::string(99, 'w'));
    EXPECT_STREQ(words->word[1], "z");

    // 150 words: the first 100 are stored and counted, the rest dropped.
    std::string many;
    for (int i = 0; i < 150; ++i) many += std::to_string(i) + ":";
    EXPECT_EQ(split(many.c_str(), ':', words.get()), 100);
    EXPECT_EQ(words->nwords, 100);
    EXPECT_STREQ(words->word[99], "99");
}

TEST(UtilitiesTrim, ChompRemovesOneNewlineAndChopOneCharacter)
{
    const auto chomped = [](std::string s) { chomp(s.data()); return std::string(s.c_str()); };
    const auto chopped = [](std::string s) { chop(s.data()); return std::string(s.c_str()); };
    EXPECT_EQ(chomped("ABC\n"), "ABC");
    EXPECT_EQ(chomped("ABC"), "ABC");
    EXPECT_EQ(chomped("ABC\r\n"), "ABC\r");
    EXPECT_EQ(chomped("\n\n"), "\n");
    EXPECT_EQ(chomped(""), "");
    EXPECT_EQ(chopped("ABC"), "AB");
    EXPECT_EQ(chopped("\n"), "");
    EXPECT_EQ(chopped(""), "");
}

TEST(UtilitiesCompare, ComparatorsOrderValuesAndTreatNanAsEqual)
{
    const auto fcmp = [](float a, float b) { return floatcmp(&a, &b); };
    const auto icmp = [](int a, int b) { return intcmp(&a, &b); };
    const float nan = std::nanf("");
    EXPECT_EQ(fcmp(1.0f, 2.0f), -1);
    EXPECT_EQ(fcmp(2.0f, 1.0f), 1);
    EXPECT_EQ(fcmp(-0.0f, 0.0f), 0);
    EXPECT_EQ(fcmp(nan, 1.0f), 0);
    EXPECT_EQ(fcmp(1.0f, nan), 0);
    EXPECT_EQ(fcmp(-3e38f, 3e38f), -1);  // the difference overflows to -inf, still negative
    // Neighbouring floats differ by one unit in the last place, which single precision keeps.
    EXPECT_EQ(fcmp(1.0f, std::nextafter(1.0f, 2.0f)), -1);

    EXPECT_EQ(icmp(INT_MIN, INT_MAX), -1);
    EXPECT_EQ(icmp(INT_MAX, INT_MIN), 1);
    EXPECT_EQ(icmp(-7, -7), 0);

    std::vector<float> values{3.0f, -1.0f, 2.5f, 0.0f};
    std::qsort(values.data(), values.size(), sizeof(float), floatcmp);
    EXPECT_EQ(values, (std::vector<float>{-1.0f, 0.0f, 2.5f, 3.0f}));
}

TEST(UtilitiesAlloc, ArraysHaveTheirShapeAndFailuresReportTheRequest)
{
    char** strings = InitStrings(3, 10);
    for (int i = 0; i < 3; ++i) {
        EXPECT_STREQ(strings[i], "");
        std::snprintf(strings[i], 10, "%d-abcdef", i);  // each buffer is its own 10 bytes
    }
    EXPECT_STREQ(strings[0], "0-abcdef");
    FreeStrings(strings, 3);
    FreeStrings(nullptr, 3);

    int** ints = InitIntArray(4, 5);
    float** floats = InitFloatArray(4, 5);
    Vec3f** vectors = InitVec3fArray(4, 5);
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 5; ++c) {
            ints[r][c] = r * 5 + c;
            floats[r][c] = 0.5f * c;
            vectors[r][c] = Vec3f{1.0f * r, 2.0f * c, 3.0f};
        }
    EXPECT_EQ(ints[3][4], 19);
    EXPECT_EQ(vectors[3][4].y, 8.0f);
    FreeIntArray(ints, 4);
    FreeFloatArray(floats, 4);
    FreeVec3fArray(vectors, 4);

    // A request that cannot be met (a negative count becomes an enormous size) names its count,
    // for the row list and for a row alike: thrown by the twins, reported with status 1 by the
    // C-style routines.
    const auto requested = [](auto allocate) {
        try {
            allocate();
        } catch (const marrowind::OutOfMemory& e) {
            return e.requested();
        }
        return 0LL;
    };
    namespace util = marrowind::util;
    EXPECT_EQ(requested([] { util::InitStrings(-2, 10); }), -2);
    EXPECT_EQ(requested([] { util::InitStrings(2, -10); }), -10);
    EXPECT_EQ(requested([] { util::InitIntArray(-3, 4); }), -3);
    EXPECT_EQ(requested([] { util::InitFloatArray(3, -4); }), -4);
    EXPECT_EQ(requested([] { util::InitVec3fArray(3, -5); }), -5);
    // Not anchored at the start: AddressSanitizer warns of the failed allocation first.
    EXPECT_EXIT(InitFloatArray(3, -4), testing::ExitedWithCode(1),
                "No memory for object \\(n = -4\\)!\n$");
}

TEST(UtilitiesFiles, FileExistsAndCleanRemovesOnlyWorkingFiles)
{
    const std::filesystem::path dir = MakeTempDir();
    const std::vector<std::string> working{"a.corr", "b.eqv", "c.gph", "d.vectors", "e.ras"};
    for (const std::string& name : working) std::ofstream(dir / name) << "x";
    std::ofstream(dir / "keep.mat2") << "x";

    EXPECT_EQ(FileExists((dir / "a.corr").c_str()), 1);
    EXPECT_EQ(FileExists((dir / "absent").c_str()), 0);

    const std::filesystem::path previous = std::filesystem::current_path();
    std::filesystem::current_path(dir);
    clean();
    std::filesystem::current_path(previous);
    for (const std::string& name : working) EXPECT_FALSE(std::filesystem::exists(dir / name));
    EXPECT_TRUE(std::filesystem::exists(dir / "keep.mat2"));
    std::filesystem::remove_all(dir);
}

TEST(UtilitiesResidues, HydrophobicAreTheSevenUpperCaseLetters)
{
    std::string found;
    for (int code = 0; code < 256; ++code)
        if (ishydphob(static_cast<char>(code))) found += static_cast<char>(code);
    EXPECT_EQ(found, "CFILMVW");
}
