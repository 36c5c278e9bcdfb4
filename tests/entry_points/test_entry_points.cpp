// test_entry_points.cpp: ScoreAlignment, FindSeqDist and OpenFiles, which end the process on
// failure. Each test works in a temporary directory of its own, where the matrix that these
// functions read ("fixed/PET91mod.mat2" in this build) is present or not.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "core/records.h"
#include "marrowind/api.h"
#include "marrowind/marrowind.h"
#include "matrix/matrix.h"
#include "output/writer.h"
#include "scoring/conservation.h"
#include "scoring/weights.h"

namespace fs = std::filesystem;

namespace {

const std::string kPet91 = std::string(MARROWIND_DATA_DIR) + "/pet91.mat2";

class EntryPoints : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::string pattern = (fs::temp_directory_path() / "marrowind-entry-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        dir_ = pattern;
        previous_ = fs::current_path();
        fs::current_path(dir_);
    }
    void TearDown() override
    {
        fs::current_path(previous_);
        fs::remove_all(dir_);
    }
    void provide_matrix() const
    {
        fs::create_directory("fixed");
        fs::copy_file(kPet91, "fixed/PET91mod.mat2");
    }

    fs::path dir_, previous_;
};

// The same stages run by hand, the way the entry point is meant to run them.
std::vector<double> scores_by_hand(const std::vector<std::string>& seqs)
{
    std::unique_ptr<Matrix> matrix(ReadMatrix(kPet91.c_str()));
    TransformMatrix(matrix.get());
    Alignment alignment;
    alignment.nseq = static_cast<int>(seqs.size());
    alignment.length = static_cast<int>(seqs[0].size());
    for (const std::string& seq : seqs) alignment.seqs.push_back({"", seq});
    Data* data = new Data();
    AssignDataMem(&alignment, data);
    data->dist.resize(alignment.nseq);
    CalcDists(&alignment, matrix.get(), data);
    CalcWeights(&alignment, data);
    ConsScore(&alignment, matrix.get(), data);
    std::vector<double> scores(data->scores, data->scores + alignment.length);
    FreeData(data);
    return scores;
}

}  // namespace

TEST_F(EntryPoints, ScoreAlignmentRunsTheDistanceTableStages)
{
    provide_matrix();
    std::vector<std::string> seqs = {"MKV-LAWc", "MRVELSWC", "MKIDLAYC", "AKVELA-.",
                                     "MKVELAWCQQ"};  // longer strings are read only so far
    std::vector<char*> pointers;
    for (std::string& seq : seqs) pointers.push_back(seq.data());

    testing::internal::CaptureStderr();
    double* scores = ScoreAlignment(pointers.data(), static_cast<int>(pointers.size()));
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "Calculate sequence distances....\nCalculating sequence weights....\n"
              "Calculating positional conservation scores....\nbob\n");

    seqs.back().resize(8);
    const std::vector<double> expected = scores_by_hand(seqs);
    ASSERT_EQ(expected.size(), 8u);
    for (std::size_t c = 0; c < expected.size(); ++c) EXPECT_EQ(scores[c], expected[c]) << c;
    // Lower case is a different byte and unknown to the matrix: column 7 scores less than if
    // the first residue were upper case.
    EXPECT_GT(expected[7], 0.0);
    std::free(scores);

    char single[] = "ACDE";
    char* one[] = {single};
    testing::internal::CaptureStderr();
    scores = ScoreAlignment(one, 1);
    testing::internal::GetCapturedStderr();
    for (int c = 0; c < 4; ++c) EXPECT_EQ(scores[c], 0.0);
    std::free(scores);
}

TEST_F(EntryPoints, FindSeqDistIsTheSinglePrecisionPairDistance)
{
    provide_matrix();
    std::unique_ptr<Matrix> matrix(ReadMatrix(kPet91.c_str()));
    TransformMatrix(matrix.get());
    const Prot a{"", "MKV-LAWC"};
    const Prot b{"", "MRVELSWA"};

    testing::internal::CaptureStderr();
    EXPECT_EQ(FindSeqDist("MKV-LAWC", "MRVELSWA", 8),
              static_cast<double>(static_cast<float>(CalcPairDist(a, b, matrix.get(), 8))));
    EXPECT_EQ(FindSeqDist("MKV-LAWC", "MRVELSWA", 5),
              static_cast<double>(static_cast<float>(CalcPairDist(a, b, matrix.get(), 5))));
    EXPECT_EQ(FindSeqDist("MKV", "", 0), 0.0);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "Calculate sequence distances....\nCalculate sequence distances....\n"
              "Calculate sequence distances....\n");
}

TEST_F(EntryPoints, BadArgumentsEndTheProcessWithAMessage)
{
    provide_matrix();
    char first[] = "ACDE";
    char shorter[] = "AC";
    char* ragged[] = {first, shorter};
    char* with_null[] = {first, nullptr};
    EXPECT_EXIT(ScoreAlignment(nullptr, 1), testing::ExitedWithCode(1),
                "ScoreAlignment: the sequence array is a null pointer");
    EXPECT_EXIT(ScoreAlignment(ragged, 0), testing::ExitedWithCode(1),
                "ScoreAlignment: the sequence count is 0; at least 1 is needed");
    EXPECT_EXIT(ScoreAlignment(ragged, 2), testing::ExitedWithCode(1),
                "ScoreAlignment: sequence 1 holds 2 bytes but 4 columns are compared");
    EXPECT_EXIT(ScoreAlignment(with_null, 2), testing::ExitedWithCode(1),
                "ScoreAlignment: sequence 1 is a null pointer");
    EXPECT_EXIT(FindSeqDist("ACDE", "AC", 3), testing::ExitedWithCode(1),
                "FindSeqDist: the second sequence holds 2 bytes but 3 columns are compared");
    EXPECT_EXIT(FindSeqDist(nullptr, "AC", 1), testing::ExitedWithCode(1),
                "FindSeqDist: the first sequence is a null pointer");
    EXPECT_EXIT(FindSeqDist("A", "A", -1), testing::ExitedWithCode(1),
                "FindSeqDist: the column count is -1; it cannot be negative");
}

TEST_F(EntryPoints, MissingMatrixOrFileEndsTheProcess)
{
    char seq[] = "ACDE";
    char* seqs[] = {seq, seq};
    EXPECT_EXIT(ScoreAlignment(seqs, 2), testing::ExitedWithCode(1),
                "\nError: fixed/PET91mod.mat2 could not be opened\n");
    EXPECT_EXIT(FindSeqDist("AC", "AC", 2), testing::ExitedWithCode(1),
                "\nError: fixed/PET91mod.mat2 could not be opened\n");

    char mode[] = "r";
    FILE* stream = nullptr;
    EXPECT_EXIT(OpenFiles("absent.txt", &stream, mode), testing::ExitedWithCode(1),
                "\nError: absent.txt could not be opened\n");
    std::ofstream("present.txt") << "x";
    OpenFiles("present.txt", &stream, mode);
    ASSERT_NE(stream, nullptr);
    std::fclose(stream);
}

// The command line takes its weights from full-precision distances, these entry points from
// the single-precision table, so the scores may differ in the last bits but never in the
// printed figures. The library interface equals the command line to the last bit (checked in
// the whole-program tests), so it stands in for the command line here.
TEST_F(EntryPoints, ScoreAlignmentPrintsLikeTheCommandLine)
{
    provide_matrix();
    marrowind::Sequences globins =
        marrowind::read_fasta(std::string(MARROWIND_EXAMPLES_DIR) + "/globins45.fasta");
    const marrowind::ConservationScores program_scores = marrowind::score_alignment(
        globins.residues, marrowind::SubstitutionMatrix::load(kPet91));

    std::vector<char*> pointers;
    for (std::string& seq : globins.residues) pointers.push_back(seq.data());
    testing::internal::CaptureStderr();
    double* scores = ScoreAlignment(pointers.data(), static_cast<int>(pointers.size()));
    testing::internal::GetCapturedStderr();
    for (std::size_t c = 0; c < program_scores.column_scores.size(); ++c) {
        char printed[16], expected[16];
        std::snprintf(printed, sizeof printed, "%5.3f", round_it(scores[c], 3));
        std::snprintf(expected, sizeof expected, "%5.3f",
                      round_it(program_scores.column_scores[c], 3));
        EXPECT_STREQ(printed, expected) << "column " << c;
    }
    std::free(scores);
}
