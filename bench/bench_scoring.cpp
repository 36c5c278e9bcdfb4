// bench_scoring.cpp: throughput of the scoring stages on every path, and of reading and writing.
//
// Contents: a seeded synthetic alignment, and benchmarks of the pair distances with weights,
// the column scores (pair-columns per second: one pair of sequences at one column), the
// approximate mode's sampled weights (pair-columns of the sampled pairs per second) and grouped
// column scores (residues per second), the FASTA reader and the scored alignment writer (bytes
// per second).
//
// Run: build/bench/bench_scoring [--benchmark_filter=...]; MARROWIND_BENCH_MATRIX may name
// another matrix file than the shipped BLOSUM62.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "core/records.h"
#include "input/fasta.h"
#include "matrix/matrix.h"
#include "output/writer.h"
#include "scoring/approximate/stages.h"
#include "scoring/exact/stages.h"
#include "scoring/reference/plain_loops.h"

namespace {

// Descendants of one random ancestor, with about a quarter of the positions gaps in runs.
std::string synthetic_fasta(int nseq, int length, unsigned seed)
{
    const std::string amino_acids = "ACDEFGHIKLMNPQRSTVWY";
    std::mt19937 rng(seed);
    std::uniform_real_distribution<double> chance(0.0, 1.0);
    std::uniform_int_distribution<int> letter(0, 19), run(1, 30);
    std::string ancestor(static_cast<std::size_t>(length), 'A');
    std::vector<double> rate(static_cast<std::size_t>(length));
    for (int k = 0; k < length; ++k) {
        ancestor[k] = amino_acids[letter(rng)];
        rate[k] = chance(rng) * chance(rng);
    }
    std::string text;
    for (int i = 0; i < nseq; ++i) {
        std::string seq = ancestor;
        for (int k = 0; k < length; ++k)
            if (chance(rng) < rate[k]) seq[k] = amino_acids[letter(rng)];
        for (int k = 0; k < length;) {
            if (chance(rng) < 0.02) {
                for (int r = run(rng); r > 0 && k < length; --r) seq[k++] = '-';
            } else {
                ++k;
            }
        }
        text += ">seq" + std::to_string(i) + "\n" + seq + "\n";
    }
    return text;
}

struct Workload {
    std::unique_ptr<Alignment> alignment;
    std::unique_ptr<Matrix> matrix;
    std::vector<double> weights;
};

constexpr int kDeepAlignment = 20000;

const Workload& workload(int nseq, int length)
{
    static std::map<std::pair<int, int>, Workload> cache;
    Workload& w = cache[{nseq, length}];
    if (!w.alignment) {
        w.alignment.reset(ParseFasta(synthetic_fasta(nseq, length, 1)));
        const char* path = std::getenv("MARROWIND_BENCH_MATRIX");
        const std::string matrix_path =
            path ? path : std::string(MARROWIND_DATA_DIR) + "/blosum62.mat2";
        w.matrix.reset(ReadMatrix(matrix_path.c_str()));
        TransformMatrix(w.matrix.get());
        w.weights.resize(static_cast<std::size_t>(nseq) + 1);
        // A deep alignment's exact weights would take minutes; the column stages run as fast
        // on sampled ones.
        if (nseq > kDeepAlignment)
            marrowind::compute_sampled_weights(*w.alignment, *w.matrix, w.weights.data(), {});
        else
            marrowind::compute_weights(*w.alignment, *w.matrix, w.weights.data());
    }
    return w;
}

void set_pair_columns(benchmark::State& state, const Alignment& alignment)
{
    const double pair_columns = 0.5 * alignment.nseq * (alignment.nseq - 1.0) * alignment.length;
    state.counters["pair_columns_per_s"] =
        benchmark::Counter(pair_columns, benchmark::Counter::kIsIterationInvariantRate);
}

marrowind::ScoringOptions options_for(const benchmark::State& state)
{
    marrowind::ScoringOptions options;
    options.kernel = static_cast<marrowind::KernelLevel>(state.range(2));
    options.threads = static_cast<int>(state.range(3));
    return options;
}

void BM_WeightsPlain(benchmark::State& state)
{
    const Workload& w = workload(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
    std::vector<double> weights(w.weights.size());
    for (auto _ : state) marrowind::plain::weights(*w.alignment, *w.matrix, weights.data());
    set_pair_columns(state, *w.alignment);
}

void BM_Weights(benchmark::State& state)
{
    const Workload& w = workload(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
    std::vector<double> weights(w.weights.size());
    const marrowind::ScoringOptions options = options_for(state);
    for (auto _ : state) marrowind::compute_weights(*w.alignment, *w.matrix, weights.data(), options);
    set_pair_columns(state, *w.alignment);
}

void BM_ColumnScoresPlain(benchmark::State& state)
{
    const Workload& w = workload(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
    std::vector<double> scores(static_cast<std::size_t>(w.alignment->length));
    for (auto _ : state)
        marrowind::plain::column_scores(*w.alignment, *w.matrix, w.weights.data(), scores.data());
    set_pair_columns(state, *w.alignment);
}

// Runs a column stage, exact or grouped, on the state's workload, which it returns.
template <typename Stage>
const Workload& run_column_stage(benchmark::State& state, Stage stage)
{
    const Workload& w = workload(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
    std::vector<double> scores(static_cast<std::size_t>(w.alignment->length));
    const marrowind::ScoringOptions options = options_for(state);
    for (auto _ : state) stage(*w.alignment, *w.matrix, w.weights.data(), scores.data(), options);
    return w;
}

void BM_ColumnScores(benchmark::State& state)
{
    set_pair_columns(state, *run_column_stage(state, marrowind::compute_column_scores).alignment);
}

// The approximate stages on a deeper alignment, range(4) partners per sequence.
void BM_SampledWeights(benchmark::State& state)
{
    const Workload& w = workload(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
    std::vector<double> weights(w.weights.size());
    marrowind::ScoringOptions options = options_for(state);
    options.mode = marrowind::ScoringMode::kApproximate;
    options.sample = static_cast<int>(state.range(4));
    for (auto _ : state)
        marrowind::compute_sampled_weights(*w.alignment, *w.matrix, weights.data(), options);
    state.counters["pair_columns_per_s"] = benchmark::Counter(
        static_cast<double>(w.alignment->nseq) * options.sample * w.alignment->length,
        benchmark::Counter::kIsIterationInvariantRate);
}

void BM_GroupedColumnScores(benchmark::State& state)
{
    const Workload& w = run_column_stage(state, marrowind::compute_grouped_column_scores);
    state.counters["residues_per_s"] = benchmark::Counter(
        static_cast<double>(w.alignment->nseq) * w.alignment->length,
        benchmark::Counter::kIsIterationInvariantRate);
}

void BM_ReadFasta(benchmark::State& state)
{
    const std::string text = synthetic_fasta(static_cast<int>(state.range(0)),
                                             static_cast<int>(state.range(1)), 1);
    for (auto _ : state) std::unique_ptr<Alignment>(ParseFasta(text));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}

void BM_WriteAlignment(benchmark::State& state)
{
    const Workload& w = workload(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
    std::vector<double> scores(static_cast<std::size_t>(w.alignment->length), 0.5);
    Data data;
    data.scores = scores.data();
    std::FILE* sink = std::fopen("/dev/null", "w");
    for (auto _ : state) WriteAlignment(&sink, w.alignment.get(), &data, "/dev/null");
    std::fclose(sink);
    data.scores = nullptr;
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                            w.alignment->length * (32 + w.alignment->nseq));
}

void paths(benchmark::internal::Benchmark* b)
{
    for (marrowind::KernelLevel level : marrowind::supported_kernel_levels())
        for (int threads : {1, 2}) b->Args({2000, 400, static_cast<int>(level), threads});
    b->Unit(benchmark::kMillisecond)->UseRealTime();
}

// Few columns and many sequences: 8 to 64 columns on one thread are one block of 1 to 8
// vectors, the kernel's rate at each width; 64 columns on two threads must keep both busy.
void few_columns(benchmark::internal::Benchmark* b)
{
    const int level = static_cast<int>(marrowind::best_kernel_level());
    for (int length : {8, 16, 32, 64}) b->Args({12000, length, level, 1});
    b->Args({12000, 64, level, 2});
    b->Unit(benchmark::kMillisecond)->UseRealTime();
}

}  // namespace

BENCHMARK(BM_WeightsPlain)->Args({2000, 400})->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_Weights)->Apply(paths);
BENCHMARK(BM_ColumnScoresPlain)->Args({2000, 400})->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_ColumnScores)->Apply(paths);
BENCHMARK(BM_ColumnScores)->Apply(few_columns);
BENCHMARK(BM_SampledWeights)
    ->Apply([](benchmark::internal::Benchmark* b) {
        for (marrowind::KernelLevel level : marrowind::supported_kernel_levels())
            for (int threads : {1, 2})
                b->Args({100000, 300, static_cast<int>(level), threads, 256});
        b->Unit(benchmark::kMillisecond)->UseRealTime();
    });
BENCHMARK(BM_GroupedColumnScores)
    ->Apply([](benchmark::internal::Benchmark* b) {
        for (int threads : {1, 2}) b->Args({100000, 300, 0, threads});
        b->Unit(benchmark::kMillisecond)->UseRealTime();
    });
BENCHMARK(BM_ReadFasta)->Args({2000, 400})->Unit(benchmark::kMillisecond);
BENCHMARK(BM_WriteAlignment)->Args({2000, 400})->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
