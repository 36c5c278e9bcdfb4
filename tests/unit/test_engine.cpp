// test_engine.cpp: every fast path of the scoring stages gives the plain loops' bits; the
// stages' threads and buffers fail as the engine promises.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstring>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "core/records.h"
#include "marrowind/errors.h"
#include "matrix/matrix.h"
#include "scoring/approximate/partners.h"
#include "scoring/approximate/stages.h"
#include "scoring/exact/column_scorer.h"
#include "scoring/exact/stages.h"
#include "scoring/kernels/kernel_selection.h"
#include "scoring/kernels/residue_classes.h"
#include "scoring/kernels/residue_rows.h"
#include "scoring/parallel/buffers.h"
#include "scoring/parallel/worker_threads.h"
#include "scoring/reference/plain_loops.h"

namespace {

std::unique_ptr<Matrix> load_matrix(const std::string& text)
{
    std::istringstream in(text);
    std::unique_ptr<Matrix> matrix(ParseMatrix(in, "test"));
    TransformMatrix(matrix.get());
    return matrix;
}

std::unique_ptr<Matrix> shipped(const char* name)
{
    std::unique_ptr<Matrix> matrix(ReadMatrix((std::string(MARROWIND_DATA_DIR) + "/" + name).c_str()));
    TransformMatrix(matrix.get());
    return matrix;
}

// A matrix over `letters` with random scores in [low, high], not symmetric.
std::string random_matrix(const std::string& letters, int low, int high, std::mt19937& rng)
{
    std::uniform_int_distribution<int> score(low, high);
    std::string text;
    for (std::size_t i = 0; i < letters.size(); ++i) text += (i ? "," : "") + std::string(1, letters[i]);
    text += "\n";
    for (std::size_t r = 0; r < letters.size(); ++r) {
        for (std::size_t c = 0; c < letters.size(); ++c)
            text += (c ? "," : "") + std::to_string(score(rng));
        text += "\n";
    }
    return text;
}

// Residues with gaps in runs and scattered, X, unknown letters and bytes above 127.
Alignment random_alignment(int nseq, int length, std::mt19937& rng,
                           const std::string& alphabet =
                               "ACDEFGHIKLMNPQRSTVWYACDEFGHIKLMNPQRSTVWYBZX*J\xC3\xE9")
{
    std::uniform_int_distribution<std::size_t> letter(0, alphabet.size() - 1);
    std::uniform_real_distribution<double> chance(0.0, 1.0);
    Alignment alignment;
    alignment.nseq = nseq;
    alignment.length = length;
    for (int i = 0; i < nseq; ++i) {
        Prot prot;
        for (int k = 0; k < length; ++k) {
            if (chance(rng) < 0.15) {
                const int run = static_cast<int>(chance(rng) * 20);
                for (int r = 0; r < run && k < length; ++r, ++k) prot.seq += '-';
                if (k == length) break;
            }
            prot.seq += chance(rng) < 0.1 ? '-' : alphabet[letter(rng)];
        }
        alignment.seqs.push_back(prot);
    }
    return alignment;
}

bool same_bits(const double* a, const double* b, int n)
{
    return std::memcmp(a, b, sizeof(double) * static_cast<std::size_t>(n)) == 0;
}

// The rows of a normalised alignment as a user may have written them: some letters in lower
// case and some gaps as ".". Read as scored, in place, they must give the alignment's own bits.
std::vector<std::string> as_written(const Alignment& alignment)
{
    std::mt19937 rng(static_cast<unsigned>(alignment.nseq));
    std::bernoulli_distribution rewrite(0.4);
    std::vector<std::string> rows;
    for (const Prot& prot : alignment.seqs) {
        std::string row = prot.seq;
        for (char& c : row) {
            if (c >= 'A' && c <= 'Z' && rewrite(rng)) c = static_cast<char>(c - 'A' + 'a');
            if (c == '-' && rewrite(rng)) c = '.';
        }
        rows.push_back(row);
    }
    return rows;
}

void expect_every_path_matches_plain(const Alignment& alignment, const Matrix& matrix,
                                     const std::string& label)
{
    const int n = alignment.nseq;
    std::vector<double> plain_weights(static_cast<std::size_t>(n) + 1);
    marrowind::plain::weights(alignment, matrix, plain_weights.data());
    std::vector<double> plain_scores(static_cast<std::size_t>(alignment.length) + 1);
    marrowind::plain::column_scores(alignment, matrix, plain_weights.data(), plain_scores.data());
    f2dsquare plain_dist(n);
    marrowind::plain::distance_table(alignment, matrix, plain_dist);

    // The alignment's own rows, and the same residues as written, scored where they lie.
    const std::vector<std::string> written = as_written(alignment);
    const std::vector<std::string_view> views(written.begin(), written.end());
    const marrowind::ResidueRows own(alignment);
    const marrowind::ResidueRows in_place(views, alignment.length, true);
    for (marrowind::KernelLevel level : marrowind::supported_kernel_levels()) {
        for (int threads : {1, 3}) {
            for (const marrowind::ResidueRows* rows : {&own, &in_place}) {
                const std::string where = label + " on " + marrowind::kernel_level_name(level) +
                                          " with " + std::to_string(threads) + " threads" +
                                          (rows == &own ? "" : ", rows as written");
                marrowind::ScoringOptions options;
                options.kernel = level;
                options.threads = threads;
                std::vector<double> weights(plain_weights.size());
                marrowind::compute_weights(*rows, matrix, weights.data(), options);
                EXPECT_TRUE(same_bits(weights.data(), plain_weights.data(), n)) << where;

                std::vector<double> scores(plain_scores.size());
                marrowind::compute_column_scores(*rows, matrix, plain_weights.data(),
                                                 scores.data(), options);
                EXPECT_TRUE(same_bits(scores.data(), plain_scores.data(), alignment.length))
                    << where;

                f2dsquare dist(n);
                marrowind::compute_distance_table(*rows, matrix, dist, options);
                EXPECT_EQ(dist.cells, plain_dist.cells) << where;
            }
        }
    }
    EXPECT_EQ(std::vector<std::string>(views.begin(), views.end()), written)
        << label << ": rows scored in place must be left as they were";
}

}  // namespace

TEST(Engine, ShippedMatricesOnRandomAlignments)
{
    std::mt19937 rng(20261208);
    for (const char* name : {"blosum62.mat2", "pet91.mat2"}) {
        const auto matrix = shipped(name);
        // 800 sequences need more groups of rows than the distance ring has slots.
        for (auto [nseq, length] : {std::pair{1, 7}, {3, 0}, {2, 1}, {17, 70}, {9, 100},
                                    {40, 133}, {70, 257}, {800, 9}}) {
            const Alignment alignment = random_alignment(nseq, length, rng);
            expect_every_path_matches_plain(alignment, *matrix,
                                            std::string(name) + " " + std::to_string(nseq) +
                                                " x " + std::to_string(length));
        }
    }
}

// The column kernel is compiled for each number of sets (four letters each) that a row's 64
// columns need, from one to six, and once for any number; rows with and without runs of gaps
// take different loops. Alphabets of 1 to 23 letters reach every count.
TEST(Engine, RowsOfFewAndManyLetters)
{
    std::mt19937 rng(14);
    const std::string letters = "ACDEFGHIKLMNPQRSTVWYBZ*";
    for (const char* name : {"blosum62.mat2", "pet91.mat2"}) {
        const auto matrix = shipped(name);
        for (std::size_t count : {1, 4, 5, 8, 9, 12, 13, 16, 17, 20, 21, 23}) {
            const Alignment alignment = random_alignment(24, 140, rng, letters.substr(0, count));
            expect_every_path_matches_plain(alignment, *matrix,
                                            std::string(name) + " " + std::to_string(count) +
                                                " letters");
        }
    }
}

TEST(Engine, MatricesOutsideTheFastLimits)
{
    std::mt19937 rng(7);
    const Alignment alignment = random_alignment(37, 150, rng);
    struct Case {
        std::string label;
        std::string text;
    };
    const std::vector<Case> cases = {
        // Few values, asymmetric.
        {"few values", random_matrix("ACDEFGHIKLMNPQRSTVWY", -3, 3, rng)},
        // Many distinct values: more levels than the byte permutes can hold.
        {"many values", random_matrix("ACDEFGHIKLMNPQRSTVWY", -1000, 1000, rng)},
        // More letters than the kernels' 32 classes, bytes above 127 among them.
        {"many letters",
         random_matrix("ACDEFGHIKLMNPQRSTVWYBZ*Jabcdefghijklmn\xC3\xE9", -4, 11, rng)},
        // A range so wide that a sum of 150 values is no longer exact in any order.
        {"wide range", "A,C,D,E\n0,1,10000000,3\n1,5,7,2\n10000000,2,1,0\n3,3,3,9\n"},
    };
    for (const Case& c : cases)
        expect_every_path_matches_plain(alignment, *load_matrix(c.text), c.label);
}

// 30 letters with few values still fit the kernels; a row of 64 columns can then hold up to
// 30 classes that score, which the column kernel looks up in up to eight sets.
TEST(Engine, ThirtyLettersInEveryRow)
{
    std::mt19937 rng(30);
    const std::string letters = "ACDEFGHIKLMNPQRSTVWYBZ*JOU#$%&";
    const auto matrix = load_matrix(random_matrix(letters, -3, 3, rng));
    ASSERT_EQ(marrowind::column_kernel_level(marrowind::make_residue_classes(*matrix),
                                             marrowind::best_kernel_level()),
              marrowind::best_kernel_level());
    Alignment alignment = random_alignment(45, 200, rng, letters);
    for (int i = 0; i < alignment.nseq; i += 4)  // every letter in every 64 columns
        for (int k = 0; k < alignment.length; ++k)
            alignment.seqs[i].seq[k] = letters[(k + i) % letters.size()];
    expect_every_path_matches_plain(alignment, *matrix, "30 letters");
}

// Few columns on many threads cut the columns into narrow blocks, down to one vector of 8, the
// last often partial, and sequences that do not fill the kernel's last unit of rows. PET91 has
// more than 16 levels, which the kernel looks up in four tables of products instead of two.
TEST(Engine, NarrowColumnBlocksOnManyThreads)
{
    std::mt19937 rng(26);
    for (const char* name : {"blosum62.mat2", "pet91.mat2"}) {
        const auto matrix = shipped(name);
        for (int nseq : {2, 5, 9, 23}) {
            for (int length : {1, 7, 8, 9, 17, 40, 64, 65, 130}) {
                const Alignment alignment = random_alignment(nseq, length, rng);
                std::vector<double> weights(static_cast<std::size_t>(nseq) + 1);
                marrowind::plain::weights(alignment, *matrix, weights.data());
                std::vector<double> plain(static_cast<std::size_t>(length));
                marrowind::plain::column_scores(alignment, *matrix, weights.data(), plain.data());
                for (marrowind::KernelLevel level : marrowind::supported_kernel_levels()) {
                    for (int threads : {2, 3, 5, 16}) {
                        marrowind::ScoringOptions options;
                        options.kernel = level;
                        options.threads = threads;
                        std::vector<double> scores(plain.size());
                        marrowind::compute_column_scores(alignment, *matrix, weights.data(),
                                                         scores.data(), options);
                        EXPECT_TRUE(same_bits(scores.data(), plain.data(), length))
                            << name << " " << nseq << " x " << length << " on "
                            << marrowind::kernel_level_name(level) << " with " << threads
                            << " threads";
                    }
                }
            }
        }
    }
}

// The blocks cover the columns in order, each full but the last, in widths the kernels have;
// every thread gets a block while there are vectors to share, and the last round is shared out
// evenly rather than left to one thread.
TEST(Engine, ColumnBlocksKeepEveryThreadBusy)
{
    for (int max_vectors : {1, 4, 8}) {
        for (int columns : {1, 7, 8, 9, 64, 65, 200, 1000, 12345}) {
            for (int threads : {1, 2, 3, 7, 64}) {
                const auto blocks = marrowind::plan_column_blocks(columns, threads, max_vectors);
                const std::string where = std::to_string(columns) + " columns, " +
                                          std::to_string(threads) + " threads, up to " +
                                          std::to_string(max_vectors) + " vectors";
                int next = 0;
                for (std::size_t b = 0; b < blocks.size(); ++b) {
                    const marrowind::ColumnBlock& block = blocks[b];
                    ASSERT_EQ(block.first, next) << where;
                    ASSERT_TRUE(block.vectors >= 1 && block.vectors <= max_vectors &&
                                (block.vectors & (block.vectors - 1)) == 0)
                        << where;
                    ASSERT_GT(block.columns, 8 * block.vectors - 8) << where;
                    if (b + 1 < blocks.size()) {
                        ASSERT_EQ(block.columns, 8 * block.vectors) << where;
                    }
                    next += block.columns;
                }
                EXPECT_EQ(next, columns) << where;
                const int vectors = (columns + 7) / 8;
                EXPECT_GE(static_cast<int>(blocks.size()), std::min(threads, vectors)) << where;
            }
        }
    }
    // 64 columns on 2 threads: two blocks of 32, where one block of 64 would leave a thread idle.
    const auto halves = marrowind::plan_column_blocks(64, 2, 8);
    ASSERT_EQ(halves.size(), 2u);
    EXPECT_EQ(halves[0].columns, 32);
    EXPECT_EQ(halves[1].columns, 32);
    // 200 columns (25 vectors) on 3 threads: one round of 8 vectors, then shares of 6, 6 and 5
    // vectors, the widest blocks first.
    std::vector<int> widths;
    for (const auto& block : marrowind::plan_column_blocks(200, 3, 8)) widths.push_back(block.vectors);
    EXPECT_EQ(widths, (std::vector<int>{8, 4, 4, 4, 2, 2, 1}));
}

TEST(Engine, FastPathsCoverTheShippedMatrices)
{
    if (marrowind::best_kernel_level() != marrowind::KernelLevel::kAvx512)
        GTEST_SKIP() << "no AVX-512 on this processor";
    for (const char* name : {"blosum62.mat2", "pet91.mat2"}) {
        const marrowind::ResidueClasses classes = marrowind::make_residue_classes(*shipped(name));
        EXPECT_EQ(marrowind::distance_kernel_level(classes, 5000, marrowind::KernelLevel::kAvx512),
                  marrowind::KernelLevel::kAvx512) << name;
        EXPECT_EQ(marrowind::column_kernel_level(classes, marrowind::KernelLevel::kAvx512),
                  marrowind::KernelLevel::kAvx512) << name;
    }
}

TEST(Engine, ResidueClassesKeepMutsValues)
{
    const auto matrix = shipped("blosum62.mat2");
    const marrowind::ResidueClasses classes = marrowind::make_residue_classes(*matrix);
    EXPECT_LE(classes.count, 32);
    for (int a = 0; a < 256; ++a)
        for (int b = 0; b < 256; ++b)
            ASSERT_EQ(classes.value[classes.class_of[a] * classes.count + classes.class_of[b]],
                      Mut(matrix.get(), static_cast<char>(a), static_cast<char>(b)))
                << a << " " << b;
    EXPECT_TRUE(classes.sums_are_exact(100000));
    const auto wide = load_matrix("A,C\n0,1\n10000000,3\n");
    ASSERT_FALSE(marrowind::make_residue_classes(*wide).sums_are_exact(170));
    EXPECT_FALSE(marrowind::make_residue_classes(*wide).sums_are_exact(100));
}

// Work is claimed through a counter, so a helper that cannot get its working memory leaves its
// share to the others; the calling thread's failure is the stage's.
TEST(Engine, HelperWithoutMemoryLeavesItsShareToTheOthers)
{
    constexpr int kItems = 1000;
    std::atomic<int> next(0);
    std::vector<std::atomic<int>> done(kItems);
    marrowind::run_on_threads(
        4,
        [](int t) {
            if (t > 0) throw marrowind::OutOfMemory(123);
            return 0;
        },
        [&](int, int&) {
            for (int item = next++; item < kItems; item = next++) ++done[item];
        });
    for (int item = 0; item < kItems; ++item) ASSERT_EQ(done[item], 1) << item;

    try {
        marrowind::run_on_threads(
            3,
            [](int t) {
                if (t == 0) throw marrowind::OutOfMemory(456);
                return 0;
            },
            [](int, int&) {});
        FAIL() << "no exception";
    } catch (const marrowind::OutOfMemory& e) {
        EXPECT_EQ(e.requested(), 456);
    }
}

// Sizes no machine can give, and counts past what a vector may hold: each becomes an
// OutOfMemory that names the count asked for, never a std::bad_alloc or std::length_error.
TEST(Engine, ImpossibleBuffersReportTheirElementCount)
{
    const std::size_t huge = std::size_t{1} << 60;
    auto requested = [](auto&& allocate) -> long long {
        try {
            allocate();
        } catch (const marrowind::OutOfMemory& e) {
            return e.requested();
        }
        return -1;
    };
    // More doubles than a vector may hold, and more bytes than the system gives.
    EXPECT_EQ(requested([&] { marrowind::allocate<double>(huge); }), static_cast<long long>(huge));
    EXPECT_EQ(requested([&] { marrowind::CodeBuffer buffer(huge); }), static_cast<long long>(huge));
#ifndef __SANITIZE_ADDRESS__
    // A throwing new that fails: AddressSanitizer ends the process there, whatever its options.
    EXPECT_EQ(requested([&] { marrowind::allocate<uint8_t>(huge); }), static_cast<long long>(huge));
    EXPECT_EQ(requested([&] { marrowind::allocate_array<double>(huge); }),
              static_cast<long long>(huge));
    std::vector<int> room;
    EXPECT_EQ(requested([&] { marrowind::reserve(room, huge); }), static_cast<long long>(huge));
#endif
}

// The approximate stages. Grouping the column sums by residue class is an identity, so with the
// exact weights it must give the exact scores up to rounding, whatever the residues.
TEST(Approximate, GroupedColumnScoresEqualTheExactOnes)
{
    std::mt19937 rng(19);
    const auto blosum = shipped("blosum62.mat2");
    const auto asymmetric = load_matrix(random_matrix("ACDEFGHIKLMNPQRSTVWY", -3, 5, rng));
    for (const Matrix* matrix : {blosum.get(), asymmetric.get()}) {
        for (int nseq : {1, 2, 7, 90}) {
            const Alignment alignment = random_alignment(nseq, 130, rng);
            std::vector<double> weights(static_cast<std::size_t>(nseq) + 1);
            marrowind::plain::weights(alignment, *matrix, weights.data());
            // Zero weights, including all but one, leave pairs with no weight at all.
            for (int zeros : {0, nseq / 2, nseq - 1}) {
                std::fill_n(weights.begin(), zeros, 0.0);
                std::vector<double> exact(130), grouped(130);
                marrowind::plain::column_scores(alignment, *matrix, weights.data(), exact.data());
                marrowind::compute_grouped_column_scores(alignment, *matrix, weights.data(),
                                                         grouped.data(), {});
                for (int c = 0; c < 130; ++c)
                    ASSERT_NEAR(grouped[c], exact[c], 1e-12)
                        << nseq << " sequences, " << zeros << " zero weights, column " << c;
            }
        }
    }
}

TEST(Approximate, EveryPartnerGivesTheExactWeights)
{
    std::mt19937 rng(23);
    const auto asymmetric = load_matrix(random_matrix("ACDEFGHIKLMNPQRSTVWY", -3, 5, rng));
    const auto blosum = shipped("blosum62.mat2");
    // A range so wide that sums in units would pass 2^53: the distances sum in column order.
    const auto wide = load_matrix("A,C\n0,1\n10000000,3\n");
    ASSERT_FALSE(marrowind::make_residue_classes(*wide).sums_are_exact(170));
    for (const Matrix* matrix : {blosum.get(), asymmetric.get(), wide.get()}) {
        const Alignment alignment = random_alignment(41, 170, rng);
        std::vector<double> exact(42), sampled(42);
        marrowind::plain::weights(alignment, *matrix, exact.data());
        // The partners' kernels read the residues where they lie: the rows as written too.
        const std::vector<std::string> written = as_written(alignment);
        const std::vector<std::string_view> views(written.begin(), written.end());
        const marrowind::ResidueRows own(alignment);
        const marrowind::ResidueRows in_place(views, alignment.length, true);
        marrowind::ScoringOptions options;
        options.mode = marrowind::ScoringMode::kApproximate;
        for (marrowind::KernelLevel level : marrowind::supported_kernel_levels()) {
            options.kernel = level;
            for (int sample : {40, 1000}) {
                options.sample = sample;
                for (const marrowind::ResidueRows* rows : {&own, &in_place}) {
                    marrowind::compute_sampled_weights(*rows, *matrix, sampled.data(), options);
                    EXPECT_TRUE(same_bits(sampled.data(), exact.data(), 41))
                        << marrowind::kernel_level_name(level) << ", sample " << sample
                        << (rows == &own ? "" : ", rows as written");
                }
            }
        }
    }
}

TEST(Approximate, TheSeedAloneDecidesTheBits)
{
    std::mt19937 rng(29);
    const auto blosum = shipped("blosum62.mat2");
    // Not symmetric: the partners before a sequence read each pair from the other side.
    const auto asymmetric = load_matrix(random_matrix("ACDEFGHIKLMNPQRSTVWY", -3, 5, rng));
    const Alignment alignment = random_alignment(300, 90, rng);
    marrowind::ScoringOptions options;
    options.mode = marrowind::ScoringMode::kApproximate;
    options.sample = 17;
    for (const Matrix* matrix : {blosum.get(), asymmetric.get()}) {
        auto weights_with = [&](unsigned long long seed, marrowind::KernelLevel level,
                                int threads) {
            options.seed = seed;
            options.kernel = level;
            options.threads = threads;
            std::vector<double> weights(300), scores(90);
            marrowind::compute_sampled_weights(alignment, *matrix, weights.data(), options);
            marrowind::compute_grouped_column_scores(alignment, *matrix, weights.data(),
                                                     scores.data(), options);
            weights.insert(weights.end(), scores.begin(), scores.end());
            return weights;
        };
        const std::vector<double> first = weights_with(5, marrowind::KernelLevel::kPortable, 1);
        for (marrowind::KernelLevel level : marrowind::supported_kernel_levels())
            for (int threads : {1, 3})
                EXPECT_TRUE(same_bits(weights_with(5, level, threads).data(), first.data(), 390))
                    << marrowind::kernel_level_name(level) << ", " << threads << " threads";
        EXPECT_FALSE(same_bits(weights_with(6, marrowind::best_kernel_level(), 2).data(),
                               first.data(), 300));
    }

    // Partners: distinct others, ascending, as many as asked.
    marrowind::PartnerSampler sampler(300, 17, 5);
    const std::vector<int> partners = sampler.draw(123);
    ASSERT_EQ(partners.size(), 17u);
    EXPECT_TRUE(std::is_sorted(partners.begin(), partners.end()));
    EXPECT_EQ(std::adjacent_find(partners.begin(), partners.end()), partners.end());
    EXPECT_EQ(std::count(partners.begin(), partners.end(), 123), 0);
    EXPECT_GE(partners.front(), 0);
    EXPECT_LT(partners.back(), 300);

    options.sample = 0;
    std::vector<double> weights(300);
    EXPECT_THROW(marrowind::compute_sampled_weights(alignment, *blosum, weights.data(), options),
                 marrowind::InputError);
}
