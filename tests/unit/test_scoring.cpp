// test_scoring.cpp: distances, sequence weights, column scores and the DOPS score.
//
// Contents: a small test matrix whose scores are exact binary fractions, a results fixture,
// and the tests of CalcPairDist, CalcWeights2, CalcDists/CalcWeights, ConsScore and DOPS.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "core/records.h"
#include "matrix/matrix.h"
#include "scoring/conservation.h"
#include "scoring/dops.h"
#include "scoring/weights.h"

namespace {

// Raw scores from 0 to 4, so every rescaled score is a multiple of 1/4 and exact in float:
//   Mut(A,A) = 1, Mut(A,C) = .5, Mut(A,D) = .25, Mut(C,C) = .75, Mut(C,D) = 0, Mut(D,D) = 1.
// X has a row and a column of top scores, which must not matter: X is a gap.
std::unique_ptr<Matrix> MakeMatrix()
{
    const char letters[] = {'A', 'C', 'D', 'X'};
    const int raw[4][4] = {{4, 2, 1, 4}, {2, 3, 0, 4}, {1, 0, 4, 4}, {4, 4, 4, 4}};
    auto matrix = std::make_unique<Matrix>();
    matrix->nres = 4;
    for (int r = 0; r < 4; ++r) {
        matrix->letters[r] = letters[r];
        for (int c = 0; c < 4; ++c) matrix->raw[r][c] = raw[r][c];
    }
    TransformMatrix(matrix.get());
    return matrix;
}

Prot MakeProt(const std::string& seq)
{
    Prot p;
    p.seq = seq;
    return p;
}

// An alignment with its results record sized as the pipeline sizes it. The spare weight entry
// holds a sentinel so that a write to it shows.
struct Scored {
    Alignment alignment;
    Data* data;
    static constexpr double kSpare = -12345.0;

    explicit Scored(const std::vector<std::string>& seqs) : data(new Data)
    {
        for (const std::string& s : seqs) alignment.seqs.push_back(MakeProt(s));
        alignment.nseq = static_cast<int>(seqs.size());
        alignment.length = seqs.empty() ? 0 : static_cast<int>(seqs[0].size());
        AssignDataMem(&alignment, data);
        data->weights[alignment.nseq] = kSpare;
    }
    ~Scored() { FreeData(data); }
    Scored(const Scored&) = delete;
    Scored& operator=(const Scored&) = delete;
};

bool SameBits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

class ScoringTest : public ::testing::Test {
protected:
    std::unique_ptr<Matrix> matrix = MakeMatrix();

    double Dist(const std::string& a, const std::string& b)
    {
        return CalcPairDist(MakeProt(a), MakeProt(b), matrix.get(), static_cast<int>(a.size()));
    }
};

TEST_F(ScoringTest, PairDistanceCountsGapAgainstResidueButSkipsGapAgainstGap)
{
    // A/A 1, C/D 0, -/- left out, D/D 1: 2 over 3 columns.
    EXPECT_EQ(Dist("AC-D", "AD-D"), 1.0 - 2.0 / 3.0);
    // A/C .5, C/C .75, -/X left out (X is a gap), D/- counts with 0.
    EXPECT_EQ(Dist("AC-D", "CCX-"), 1.0 - 1.25 / 3.0);
    // X against X and X against - are both left out, even though X has top scores.
    EXPECT_EQ(Dist("AXX", "AX-"), 0.0);
    EXPECT_EQ(Dist("AX", "AA"), 1.0 - 1.0 / 2.0);
    // A letter the matrix does not know scores 0 but, not being a gap, always counts.
    EXPECT_EQ(Dist("AZ", "A-"), 0.5);
    EXPECT_EQ(Dist("AZ", "AZ"), 0.5);
    // Identical sequences are at distance 0 only where every self-score is the top score.
    EXPECT_EQ(Dist("AD", "AD"), 0.0);
    EXPECT_EQ(Dist("CC", "CC"), 0.25);
    // Only the first n columns count.
    EXPECT_EQ(CalcPairDist(MakeProt("ACCC"), MakeProt("ADDD"), matrix.get(), 1), 0.0);
}

TEST_F(ScoringTest, PairDistanceOfAllGapSequencesIsZero)
{
    EXPECT_EQ(Dist("---", "---"), 0.0);
    EXPECT_EQ(Dist("X-X", "-XX"), 0.0);
    EXPECT_EQ(Dist("", ""), 0.0);
}

TEST_F(ScoringTest, PairDistanceDividesByTheCountInSinglePrecision)
{
    // 2^24 + 1 columns of A against C: the count rounds to 2^24 in single precision.
    const int n = (1 << 24) + 1;
    const double distance = CalcPairDist(MakeProt(std::string(n, 'A')),
                                         MakeProt(std::string(n, 'C')), matrix.get(), n);
    EXPECT_EQ(distance, 1.0 - (0.5 * n) / 16777216.0);
    EXPECT_NE(distance, 0.5);
}

TEST_F(ScoringTest, WeightsOfThreeSequencesAddHalvedDistancesInIndexOrder)
{
    Scored s({"AC-DC", "AD-DA", "CCX-D"});
    const double d01 = Dist("AC-DC", "AD-DA");
    const double d02 = Dist("AC-DC", "CCX-D");
    const double d12 = Dist("AD-DA", "CCX-D");
    CalcWeights2(&s.alignment, matrix.get(), s.data);
    EXPECT_TRUE(SameBits(s.data->weights[0], d01 / 2.0 + d02 / 2.0));
    EXPECT_TRUE(SameBits(s.data->weights[1], d01 / 2.0 + d12 / 2.0));
    EXPECT_TRUE(SameBits(s.data->weights[2], d02 / 2.0 + d12 / 2.0));
    EXPECT_EQ(s.data->weights[3], Scored::kSpare);
    EXPECT_EQ(s.data->dist.dim, 1);  // the distance table is left alone
}

TEST_F(ScoringTest, WeightsOfFourSequencesDivideEachTermBeforeAddingItInIndexOrder)
{
    const std::vector<std::string> seqs = {"ACDCA", "CDACC", "DCC-A", "CAXDC"};
    Scored s(seqs);
    CalcWeights2(&s.alignment, matrix.get(), s.data);
    for (int k = 0; k < 4; ++k) {
        double expected = 0.0;
        for (int j = 0; j < 4; ++j)
            if (j != k) expected += Dist(seqs[std::min(j, k)], seqs[std::max(j, k)]) / 3.0;
        EXPECT_TRUE(SameBits(s.data->weights[k], expected)) << k;
    }
}

TEST_F(ScoringTest, WeightsOfTwoSequencesEqualTheirDistance)
{
    Scored s({"ACD", "CCA"});
    CalcWeights2(&s.alignment, matrix.get(), s.data);
    EXPECT_EQ(s.data->weights[0], Dist("ACD", "CCA"));
    EXPECT_EQ(s.data->weights[1], Dist("ACD", "CCA"));
}

TEST_F(ScoringTest, WeightOfASingleSequenceIsZero)
{
    Scored s({"ACD"});
    s.data->weights[0] = 7.0;
    CalcWeights2(&s.alignment, matrix.get(), s.data);
    EXPECT_EQ(s.data->weights[0], 0.0);
    EXPECT_EQ(s.data->weights[1], Scored::kSpare);

    s.data->weights[0] = 7.0;
    CalcDists(&s.alignment, matrix.get(), s.data);
    CalcWeights(&s.alignment, s.data);
    EXPECT_EQ(s.data->weights[0], 0.0);
}

TEST_F(ScoringTest, DistanceTableIsSymmetricSinglePrecisionAndFeedsTheWeights)
{
    const std::vector<std::string> seqs = {"AC-DC", "AD-DA", "CCX-D", "DDDDD"};
    Scored s(seqs);
    s.data->dist.resize(4);
    std::fill(s.data->dist.cells.begin(), s.data->dist.cells.end(), 9.0f);
    CalcDists(&s.alignment, matrix.get(), s.data);
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(s.data->dist.access(i, i), 0.0f);
        for (int j = 0; j < 4; ++j) {
            if (i == j) continue;
            EXPECT_EQ(s.data->dist.access(i, j), static_cast<float>(Dist(seqs[i], seqs[j])))
                << i << "," << j;
        }
    }
    CalcWeights(&s.alignment, s.data);
    for (int i = 0; i < 4; ++i) {
        double sum = 0.0;
        for (int j = 0; j < 4; ++j)
            if (j != i) sum += static_cast<double>(static_cast<float>(Dist(seqs[i], seqs[j])));
        EXPECT_TRUE(SameBits(s.data->weights[i], sum / 3.0)) << i;
    }
    EXPECT_EQ(s.data->weights[4], Scored::kSpare);
}

TEST_F(ScoringTest, ColumnScoreIsTheWeightedMeanOfPairScores)
{
    Scored s({"A", "C", "D"});
    s.data->weights[0] = 0.5;
    s.data->weights[1] = 0.25;
    s.data->weights[2] = 1.0;
    ConsScore(&s.alignment, matrix.get(), s.data);
    // Pairs (0,1) .125 * .5, (0,2) .5 * .25, (1,2) .25 * 0.
    EXPECT_EQ(s.data->scores[0], (0.0625 + 0.125 + 0.0) / (0.125 + 0.5 + 0.25));
}

TEST_F(ScoringTest, ColumnScoreMultipliesTheWeightsBeforeThePairScore)
{
    // Weights that are not binary fractions, so that the grouping of the products shows.
    Scored s({"CD", "CD", "CC", "DC"});
    const double w[] = {0.1, 0.3, 0.7, 0.9};
    std::copy(w, w + 4, s.data->weights);
    ConsScore(&s.alignment, matrix.get(), s.data);
    for (int i = 0; i < 2; ++i) {
        double num = 0.0, den = 0.0;
        for (int j = 0; j < 4; ++j)
            for (int k = j + 1; k < 4; ++k) {
                num += (w[j] * w[k]) * Mut(matrix.get(), s.alignment.seqs[j].seq[i],
                                           s.alignment.seqs[k].seq[i]);
                den += w[j] * w[k];
            }
        EXPECT_TRUE(SameBits(s.data->scores[i], num / den)) << i;
    }
}

TEST_F(ScoringTest, ColumnOfOneRepeatedResidueScoresItsSelfScore)
{
    Scored s({"AC", "AC", "AC", "AC"});
    const double weights[] = {0.3, 0.7, 0.1, 0.9};
    std::copy(weights, weights + 4, s.data->weights);
    ConsScore(&s.alignment, matrix.get(), s.data);
    // With a self-score of 1 the numerator takes exactly the denominator's steps.
    EXPECT_EQ(s.data->scores[0], 1.0);
    EXPECT_DOUBLE_EQ(s.data->scores[1], 0.75);
}

TEST_F(ScoringTest, ColumnsWithoutScorablePairsScoreZero)
{
    // Column 0 is all gaps; in column 1 every pair holds a gap; column 2 holds unknown letters.
    Scored s({"-AZ", "X-Z", "--Z"});
    std::fill(s.data->weights, s.data->weights + 3, 0.5);
    ConsScore(&s.alignment, matrix.get(), s.data);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(s.data->scores[i], 0.0) << i;
}

TEST_F(ScoringTest, ColumnScoreIsZeroWithoutPairWeight)
{
    Scored one({"ACD"});
    one.data->weights[0] = 1.0;
    ConsScore(&one.alignment, matrix.get(), one.data);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(one.data->scores[i], 0.0);

    Scored zero({"AA", "AA"});
    zero.data->weights[0] = zero.data->weights[1] = 0.0;
    ConsScore(&zero.alignment, matrix.get(), zero.data);
    EXPECT_EQ(zero.data->scores[0], 0.0);
}

TEST_F(ScoringTest, EqualColumnsGiveBitIdenticalScoresThroughThePipeline)
{
    // Columns 0 and 3, and 1 and 4, hold the same residues sequence by sequence.
    Scored s({"ACDAC", "CADCA", "DC-DC", "AXCAX", "CDACD"});
    CalcWeights2(&s.alignment, matrix.get(), s.data);
    ConsScore(&s.alignment, matrix.get(), s.data);
    EXPECT_TRUE(SameBits(s.data->scores[0], s.data->scores[3]));
    EXPECT_TRUE(SameBits(s.data->scores[1], s.data->scores[4]));
    EXPECT_NE(s.data->scores[0], s.data->scores[1]);
    for (int i = 0; i < 5; ++i) {
        EXPECT_GE(s.data->scores[i], 0.0);
        EXPECT_LE(s.data->scores[i], 1.0);
    }
}

// DOPS --------------------------------------------------------------------------------------

std::string DopsLine(std::vector<double> scores)
{
    Alignment alignment;
    alignment.nseq = 1;
    alignment.length = static_cast<int>(scores.size());
    Data data;
    data.scores = scores.data();
    testing::internal::CaptureStdout();
    CalculateDops(&alignment, &data);
    return testing::internal::GetCapturedStdout();
}

const double kNaN = std::numeric_limits<double>::quiet_NaN();

TEST(DopsTest, PrintsEntropyAsAPercentageOfTheMaximum)
{
    EXPECT_EQ(DopsLine({0.25, 0.25, 0.5, 0.75}), "DOPS score: 75.000\n");
    EXPECT_EQ(DopsLine({0.1, 0.2, 0.3, 0.4, 0.5}), "DOPS score: 100.000\n");
    // One bin gives an entropy of -0.0, which must not print as -0.000.
    EXPECT_EQ(DopsLine({0.3, 0.3, 0.3}), "DOPS score:  0.000\n");
    EXPECT_FALSE(std::signbit(DopsScore(3, std::vector<double>(3, 0.3).data())));
}

TEST(DopsTest, DegenerateLengthsScoreZero)
{
    EXPECT_EQ(DopsLine({0.5}), "DOPS score:  0.000\n");
    EXPECT_EQ(DopsLine({kNaN}), "DOPS score:  0.000\n");
    EXPECT_EQ(DopsLine({}), "DOPS score:  0.000\n");
    // No columns and no score array at all: nothing is read, nothing is allocated.
    EXPECT_EQ(DopsScore(0, nullptr), 0.0);
}

TEST(DopsTest, BinsByExactEquality)
{
    // A not-a-number matches no bin, not even another not-a-number: 3 bins of 1, 1, 2 columns.
    const double nan_cols[] = {kNaN, kNaN, 0.5, 0.5};
    EXPECT_DOUBLE_EQ(DopsScore(4, nan_cols), 75.0);
    // Scores that print alike with three decimals are still different bins.
    const double close[] = {0.12341, 0.12344};
    EXPECT_DOUBLE_EQ(DopsScore(2, close), 100.0);
    // 0.0 and -0.0 compare equal and share a bin.
    const double zeros[] = {0.0, -0.0};
    EXPECT_EQ(DopsScore(2, zeros), 0.0);
}

// Many columns, few of them alike, through the bin index: the figure must be the one that bins
// found by FindScore's linear search give, bit for bit, since the bins' order is the order of
// the entropy's sum.
TEST(DopsTest, ManyColumnsBinAsTheLinearSearchBinsThem)
{
    std::vector<double> scores;
    for (int j = 0; j < 6000; ++j) {
        const int value = (j * 7919) % 1500;  // each value four times, scattered
        const double zero = j / 1500 % 2 ? 0.0 : -0.0;
        scores.push_back(value == 0 ? zero : value == 1 ? kNaN : value / 1499.0);
    }
    const int length = static_cast<int>(scores.size());
    std::vector<FreqScore> bins(scores.size());
    int nbins = 0;
    for (const double x : scores) {
        if (FreqScore* bin = FindScore(bins.data(), nbins, x)) {
            ++bin->count;
        } else {
            bins[nbins++] = {1, x, 0.0};
        }
    }
    double sum = 0.0;
    for (int b = 0; b < nbins; ++b) {
        const double freq = static_cast<double>(bins[b].count) / length;
        sum = sum + freq * std::log(freq);
    }
    const double expected = (100.0 * ((-1.0 * sum) / std::log(2.0))) / -log2s(1.0 / length);
    const double dops = DopsScore(length, scores.data());
    EXPECT_EQ(std::memcmp(&dops, &expected, sizeof dops), 0) << dops << " " << expected;
}

TEST(DopsTest, FindScoreReturnsTheFirstEqualBin)
{
    FreqScore bins[3] = {{1, 0.5, 0.0}, {1, -0.0, 0.0}, {1, 0.5, 0.0}};
    EXPECT_EQ(FindScore(bins, 3, 0.5), &bins[0]);
    EXPECT_EQ(FindScore(bins, 3, 0.0), &bins[1]);
    EXPECT_EQ(FindScore(bins, 1, 0.0), nullptr);
    EXPECT_EQ(FindScore(bins, 0, 0.5), nullptr);
    bins[0].score = kNaN;
    EXPECT_EQ(FindScore(bins, 1, kNaN), nullptr);
}

TEST(DopsTest, Log2s)
{
    EXPECT_DOUBLE_EQ(log2s(8.0), 3.0);
    EXPECT_EQ(log2s(0.0), -std::numeric_limits<double>::infinity());
    EXPECT_TRUE(std::isnan(log2s(-1.0)));
}

}  // namespace
