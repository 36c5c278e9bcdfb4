// test_library.cpp: the C++ library interface: matrices from any source, scores, errors.
#include <gtest/gtest.h>

#include <cmath>
#include <sstream>
#include <string>
#include <vector>

#include "marrowind/marrowind.h"

namespace {

const std::string kBlosum62 = std::string(MARROWIND_DATA_DIR) + "/blosum62.mat2";
const std::string kSmall = "# three letters\nA,C,D\n4,0,-2\n0,9,-3\n-2,-3,6\n";

template <typename F>
std::string error_of(F&& call)
{
    try {
        call();
    } catch (const marrowind::Error& e) {
        return e.what();
    }
    return "no error";
}

}  // namespace

TEST(Library, MatrixFromPathStreamAndTextAgree)
{
    const auto from_text = marrowind::SubstitutionMatrix::parse(kSmall);
    std::istringstream in(kSmall);
    const auto from_stream = marrowind::SubstitutionMatrix::load(in, "small");
    EXPECT_EQ(from_text.letters(), "ACD");
    for (char a : std::string("ACD-Xa"))
        for (char b : std::string("ACD-Xa"))
            EXPECT_EQ(from_text.similarity(a, b), from_stream.similarity(a, b));
    // Scores -3..9: C/C is the top, D/C the bottom, A/A (4) is 7/12 in single precision.
    EXPECT_EQ(from_text.similarity('C', 'C'), 1.0);
    EXPECT_EQ(from_text.similarity('D', 'C'), 0.0);
    EXPECT_EQ(from_text.similarity('A', 'A'), static_cast<double>(static_cast<float>(7.0 / 12)));
    EXPECT_EQ(from_text.similarity('a', 'A'), 0.0);

    const auto blosum = marrowind::SubstitutionMatrix::load(kBlosum62);
    EXPECT_EQ(blosum.similarity('W', 'W'), 1.0);
}

TEST(Library, ErrorsCarryTheProgramsMessages)
{
    EXPECT_EQ(error_of([] { marrowind::SubstitutionMatrix::load("/no/such.mat2"); }),
              "\nError: /no/such.mat2 could not be opened\n");
    EXPECT_EQ(error_of([] { marrowind::SubstitutionMatrix::parse("A,C\n1,2\n", "short"); })
                  .rfind("!!!! Error in Matrix !!!!\nshort: ", 0),
              0u);
    EXPECT_EQ(error_of([] { marrowind::read_fasta("/no/such.fa"); }),
              "\nError: /no/such.fa could not be opened\n");

    const auto matrix = marrowind::SubstitutionMatrix::parse(kSmall);
    EXPECT_EQ(error_of([&] { marrowind::score_alignment({}, matrix); }),
              "\nError: No sequences parsed from FASTA file\n");
    EXPECT_EQ(error_of([&] { marrowind::score_alignment({"ACD", "AC"}, matrix); }),
              "\nError: sequences in input aren't aligned to the same length (first sequence is "
              "of length 3 but sequence with index 1 is of length 2)\n");
    EXPECT_NE(error_of([&] { marrowind::pair_distance("ACD", "AC", matrix); }), "no error");
}

TEST(Library, ScoresNormaliseLikeTheProgram)
{
    const auto matrix = marrowind::SubstitutionMatrix::parse(kSmall);
    const auto lower = marrowind::score_alignment({"ac.d", "ACCD", "A-CD"}, matrix);
    const auto upper = marrowind::score_alignment({"AC-D", "ACCD", "A-CD"}, matrix);
    ASSERT_EQ(lower.column_scores.size(), 4u);
    ASSERT_EQ(lower.weights.size(), 3u);
    EXPECT_EQ(lower.column_scores, upper.column_scores);
    EXPECT_EQ(lower.weights, upper.weights);
    EXPECT_EQ(lower.dops, upper.dops);
    // Column 0 holds A in every sequence: its score is A/A's similarity, up to rounding.
    EXPECT_NEAR(lower.column_scores[0], 7.0 / 12, 1e-7);

    EXPECT_EQ(marrowind::pair_distance("AC", "ac", matrix),
              1.0 - (matrix.similarity('A', 'A') + matrix.similarity('C', 'C')) / 2.0);
    EXPECT_EQ(marrowind::pair_distance("--", "X-", matrix), 0.0);
    EXPECT_EQ(marrowind::dops_score({0.5, 0.5, 0.25, 0.75}), 75.0);
    EXPECT_EQ(marrowind::dops_score({0.5}), 0.0);
}

// Residues compared as given: "a" is not "A" (the small matrix lacks it, so it scores as no
// match) and "." is no gap; the weights from single-precision distances; and the stages
// reported in the order they run.
TEST(Library, ResiduesAsGivenAndSinglePrecisionWeights)
{
    const auto matrix = marrowind::SubstitutionMatrix::parse(kSmall);
    marrowind::ScoringOptions options;
    options.normalise_residues = false;
    std::vector<marrowind::ScoringStage> stages;
    options.stage_begins = [&stages](marrowind::ScoringStage stage) { stages.push_back(stage); };
    const auto as_given = marrowind::score_alignment({"aC.D", "ACCD", "A-CD"}, matrix, options);
    const auto normalised = marrowind::score_alignment({"aC.D", "ACCD", "A-CD"}, matrix);
    EXPECT_NE(as_given.column_scores[0], normalised.column_scores[0]);
    EXPECT_EQ(marrowind::pair_distance("a", "A", matrix, false), 1.0);
    EXPECT_EQ(marrowind::pair_distance("a", "A", matrix), 1.0 - matrix.similarity('A', 'A'));
    using marrowind::ScoringStage;
    EXPECT_EQ(stages, (std::vector<ScoringStage>{ScoringStage::kWeights,
                                                 ScoringStage::kColumnScores, ScoringStage::kDops}));

    stages.clear();
    options.single_precision_distances = true;
    const auto single = marrowind::score_alignment({"aC.D", "ACCD", "A-CD"}, matrix, options);
    EXPECT_EQ(stages.front(), ScoringStage::kDistances);
    for (std::size_t i = 0; i < single.weights.size(); ++i)
        EXPECT_NEAR(single.weights[i], as_given.weights[i], 1e-7);
}

// Every kernel and thread count a caller may choose gives the default's bits.
TEST(Library, OptionsChangeNoFigure)
{
    const auto matrix = marrowind::SubstitutionMatrix::load(kBlosum62);
    std::vector<std::string> family;
    for (int s = 0; s < 70; ++s) {
        std::string seq;
        for (int c = 0; c < 150; ++c) seq += "ACDEFGHIKLMNPQRSTVWY--"[(s * 7 + c * c + s * c) % 22];
        family.push_back(seq);
    }
    const auto expected = marrowind::score_alignment(family, matrix);
    for (const marrowind::KernelLevel kernel : marrowind::supported_kernel_levels()) {
        for (const int threads : {1, 2, 3, 8}) {
            SCOPED_TRACE(std::string(marrowind::kernel_level_name(kernel)) + " x " +
                         std::to_string(threads));
            marrowind::ScoringOptions options;
            options.kernel = kernel;
            options.threads = threads;
            const auto scores = marrowind::score_alignment(family, matrix, options);
            EXPECT_EQ(scores.weights, expected.weights);
            EXPECT_EQ(scores.column_scores, expected.column_scores);
            EXPECT_EQ(scores.dops, expected.dops);
        }
    }
}

TEST(Library, ParsesFastaWithNames)
{
    const marrowind::Sequences seqs = marrowind::parse_fasta(">a one\r\nAC\r\nGT\r\n>b\nac-t\n");
    ASSERT_EQ(seqs.names.size(), 2u);
    EXPECT_EQ(seqs.names[0], "a one");
    EXPECT_EQ(seqs.residues[0], "ACGT");
    EXPECT_EQ(seqs.residues[1], "ac-t");
}
