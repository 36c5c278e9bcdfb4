// test_context.cpp: the figures a column's score is read with, against cases worked by hand,
// and figures written in full.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "marrowind/context.h"
#include "marrowind/output.h"

namespace {

const auto kMatrix = marrowind::SubstitutionMatrix::parse("A,C,D\n4,0,-2\n0,9,-3\n-2,-3,6\n");
const double kNaN = std::numeric_limits<double>::quiet_NaN();

}  // namespace

// Three sequences: "-", "." and "X" are gaps, "W" is no letter of the matrix, "c" is read as C.
TEST(Context, OccupancyCountsResiduesTheMatrixScores)
{
    const std::vector<std::string_view> rows = {"AC-Dc", "A.XDW", "AWCD-"};
    const std::vector<double> weights = {0.5, 0.25, 0.75};  // summing to 1.5
    const auto every = marrowind::column_occupancy(rows, kMatrix, weights);
    EXPECT_EQ(every.residues, (std::vector<std::int64_t>{3, 1, 1, 3, 1}));
    const double third = 1.0 / 3;
    const std::vector<double> gaps = {0.0, 2 * third, 2 * third, 0.0, 2 * third};
    const std::vector<double> weighted = {1.0, 0.5 / 1.5, 0.75 / 1.5, 1.0, 0.5 / 1.5};
    for (std::size_t k = 0; k < gaps.size(); ++k) {
        EXPECT_DOUBLE_EQ(every.gap_fraction[k], gaps[k]) << k;
        EXPECT_DOUBLE_EQ(every.weighted_occupancy[k], weighted[k]) << k;
    }

    // Chosen columns come in the order asked; read byte for byte, "c" is no residue.
    const auto chosen = marrowind::column_occupancy(rows, kMatrix, weights, {4, 2, 4}, false);
    EXPECT_EQ(chosen.residues, (std::vector<std::int64_t>{0, 1, 0}));

    // Weights of 0 (identical sequences): every sequence counts alike.
    const auto unweighted = marrowind::column_occupancy(rows, kMatrix, {0.0, 0.0, 0.0}, std::vector<std::size_t>{1});
    EXPECT_DOUBLE_EQ(unweighted.weighted_occupancy[0], third);

    EXPECT_THROW(marrowind::column_occupancy(rows, kMatrix, {1.0, 1.0}), std::invalid_argument);
    EXPECT_THROW(marrowind::column_occupancy(rows, kMatrix, weights, std::vector<std::size_t>{5}),
                 std::invalid_argument);
}

TEST(Context, ReliableNeedsResiduesAndFewGaps)
{
    EXPECT_TRUE(marrowind::is_reliable(10, 0.5, 10, 0.5));
    EXPECT_FALSE(marrowind::is_reliable(9, 0.0, 10, 0.5));
    EXPECT_FALSE(marrowind::is_reliable(100, 0.5000001, 10, 0.5));
}

// Scores 0.1, 0.3, ..., 0.9: mean 0.5, population standard deviation sqrt(0.08) = 0.2828, so z
// is 0, +-0.707 and +-1.414; a not-a-number score is left out and gets no grade.
TEST(Context, StandardScoresAndGrades)
{
    const std::vector<double> scores = {0.9, 0.1, kNaN, 0.5, 0.3, 0.7};
    const auto statistics = marrowind::score_statistics(scores.data(), scores.size());
    EXPECT_EQ(statistics.scored, 5u);
    EXPECT_NEAR(statistics.mean, 0.5, 1e-15);
    EXPECT_NEAR(statistics.standard_deviation, std::sqrt(0.08), 1e-15);
    const std::vector<int> grades = {8, 2, 0, 5, 4, 6};
    for (std::size_t k = 0; k < scores.size(); ++k)
        EXPECT_EQ(marrowind::conservation_grade(
                      marrowind::standard_score(scores[k], statistics)), grades[k]) << k;

    // Chosen entries: 0.1 and 0.5 give mean 0.3 and deviation 0.2, so z is -1 and +1.
    const std::int32_t rows[] = {1, 3};
    const auto chosen = marrowind::score_statistics(scores.data(), scores.size(), rows, 2);
    EXPECT_NEAR(marrowind::standard_score(0.5, chosen), 1.0, 1e-15);
    const std::int32_t outside[] = {6};
    EXPECT_THROW(marrowind::score_statistics(scores.data(), scores.size(), outside, 1),
                 std::invalid_argument);

    // One distinct score: no spread, every z 0, grade 5.
    const std::vector<double> flat = {0.4, 0.4};
    EXPECT_EQ(marrowind::standard_score(0.4, marrowind::score_statistics(flat.data(), 2)), 0.0);
    EXPECT_TRUE(std::isnan(marrowind::score_statistics(nullptr, 0).mean));
}

TEST(Context, GradeEdgesBelongToTheGradeAbove)
{
    for (int k = 0; k < 8; ++k) {
        const double edge = marrowind::kGradeEdges[k];
        EXPECT_EQ(marrowind::conservation_grade(edge), k + 2) << edge;
        EXPECT_EQ(marrowind::conservation_grade(std::nextafter(edge, -10.0)), k + 1) << edge;
    }
    EXPECT_EQ(marrowind::conservation_grade(-1e300), 1);
    EXPECT_EQ(marrowind::conservation_grade(1e300), 9);
}

TEST(Context, SmoothingShrinksTheWindowAtTheEnds)
{
    const std::vector<double> scores = {1.0, 2.0, 4.0, 8.0, kNaN, 32.0};
    const std::vector<double> means = marrowind::smoothed_scores(scores, 3);
    const std::vector<double> expected = {1.5, 7.0 / 3, 14.0 / 3, 6.0, 20.0, 32.0};
    for (std::size_t k = 0; k < means.size(); ++k) EXPECT_DOUBLE_EQ(means[k], expected[k]) << k;
    EXPECT_EQ(marrowind::smoothed_scores(scores, 1)[2], 4.0);
    EXPECT_EQ(marrowind::smoothed_scores(scores, 99)[0], 47.0 / 5);

    // A part of a chosen list gives what the whole list gives there.
    const std::int32_t rows[] = {5, 3, 2, 0};
    const auto part = marrowind::smoothed_scores(scores.data(), scores.size(), rows, 4, 3, 1, 3);
    EXPECT_EQ(part, (std::vector<double>{(32.0 + 8.0 + 4.0) / 3, (8.0 + 4.0 + 1.0) / 3}));
    EXPECT_THROW(marrowind::smoothed_scores(scores, 4), std::invalid_argument);
}

TEST(Output, FiguresAreTheShortestDigitsLaidOutAsRepr)
{
    const std::pair<double, const char*> cases[] = {
        {0.5, "0.5"}, {100.0, "100.0"}, {-0.0, "-0.0"}, {0.0, "0.0"}, {1e-4, "0.0001"},
        {1e-5, "1e-05"}, {0.1 + 0.2, "0.30000000000000004"}, {1e16, "1e+16"},
        {2.5e16, "2.5e+16"}, {1e15, "1000000000000000.0"}, {123.456, "123.456"},
        {-1.5e-300, "-1.5e-300"}, {5e-324, "5e-324"}, {kNaN, "nan"},
        {-std::numeric_limits<double>::infinity(), "-inf"}, {0.26684534938830473,
         "0.26684534938830473"}};
    for (const auto& [value, text] : cases) EXPECT_EQ(marrowind::format_figure(value), text);
}
