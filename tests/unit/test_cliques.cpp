// test_cliques.cpp: the largest-clique finders and the callback search beneath them.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <new>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "marrowind/errors.h"
#include "marrowind/util.h"

namespace {

using Edges = std::vector<std::pair<int, int>>;
using Members = std::vector<int>;

Edges Complete(int n)
{
    Edges edges;
    for (int i = 0; i < n; ++i)
        for (int j = i + 1; j < n; ++j) edges.emplace_back(i, j);
    return edges;
}

void AddEdges(CliqueGraph& graph, const Edges& edges, char value = 1)
{
    for (const auto& [a, b] : edges) graph.adj[a][b] = graph.adj[b][a] = value;
}

struct FreeBlock {
    void operator()(void* block) const { std::free(block); }
};

// The fixed-size record is about 100 MB: always on the heap, and zeroed by calloc, which
// leaves the untouched pages to the system instead of writing them.
std::unique_ptr<CliqueGraph, FreeBlock> FixedGraph(int n, const Edges& edges, char value = 1)
{
    std::unique_ptr<CliqueGraph, FreeBlock> graph(
        static_cast<CliqueGraph*>(std::calloc(1, sizeof(CliqueGraph))));
    if (!graph) throw std::bad_alloc();
    graph->n = n;
    AddEdges(*graph, edges, value);
    return graph;
}

struct Graph2Deleter {
    void operator()(Graph2* graph) const { FreeGraph2(graph); }
};

std::unique_ptr<Graph2, Graph2Deleter> SizedGraph(int n, const Edges& edges, char value = 1)
{
    std::unique_ptr<Graph2, Graph2Deleter> graph(InitGraph2(n));
    for (int i = 0; i < n; ++i) std::fill(graph->adj[i], graph->adj[i] + n, 0);
    for (const auto& [a, b] : edges) graph->adj[a][b] = graph->adj[b][a] = value;
    return graph;
}

Members Found(const int* clique, int size) { return Members(clique, clique + size); }

// The connection rows bron_kerbosch takes, with the diagonal set.
std::vector<std::vector<char>> Rows(int n, const Edges& edges)
{
    std::vector<std::vector<char>> rows(n, std::vector<char>(n, 0));
    for (int i = 0; i < n; ++i) rows[i][i] = 1;
    for (const auto& [a, b] : edges) rows[a][b] = rows[b][a] = 1;
    return rows;
}

}  // namespace

TEST(CliqueFinders, ListMembersInSearchOrderAndKeepTheFirstOrLastOfEqualCliques)
{
    struct Case {
        const char* graph;
        int n;
        Edges edges;
        Members first_kept;  // maximum_clique_finder and maximum_clique_finder2
        Members last_kept;   // old_maximum_clique_finder
        char edge = 1;       // the byte marking the edges listed
    };
    const Case cases[] = {
        {"no edges", 3, {}, {0}, {2}},
        {"path", 4, {{0, 1}, {1, 2}, {2, 3}}, {1, 0}, {3, 2}},
        {"two triangles", 6, {{0, 1}, {1, 2}, {0, 2}, {3, 4}, {4, 5}, {3, 5}}, {0, 1, 2}, {3, 4, 5}},
        {"triangle and a pendant", 4, {{0, 1}, {1, 2}, {0, 2}, {2, 3}}, {2, 1, 0}, {2, 1, 0}},
        {"complete", 5, Complete(5), {0, 1, 2, 3, 4}, {0, 1, 2, 3, 4}},
        {"cells of 2 are no edges", 3, Complete(3), {0}, {2}, 2},
        {"no vertices", 0, {}, {}, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.graph);
        auto fixed = FixedGraph(c.n, c.edges, c.edge);
        ASSERT_EQ(maximum_clique_finder(fixed.get()), 1);
        EXPECT_EQ(Found(fixed->clique, fixed->clique_size), c.first_kept);
        for (int i = 0; i < c.n; ++i) EXPECT_EQ(fixed->adj[i][i], 1);  // the caller sees it set

        auto sized = SizedGraph(c.n, c.edges, c.edge);
        ASSERT_EQ(maximum_clique_finder2(sized.get()), 1);
        EXPECT_EQ(Found(sized->clique, sized->clique_size), c.first_kept);

        ASSERT_EQ(old_maximum_clique_finder(fixed.get()), 1);
        EXPECT_EQ(Found(fixed->clique, fixed->clique_size), c.last_kept);
    }
}

TEST(CliqueFinders, FindACliqueOfTheLargestSizeInRandomGraphs)
{
    constexpr int kMost = 11;
    std::mt19937 random(6);
    auto fixed = FixedGraph(0, {});
    for (int trial = 0; trial < 200; ++trial) {
        const int n = 1 + trial % kMost;
        std::bernoulli_distribution edge(0.2 + 0.6 * (trial % 7) / 6.0);
        std::vector<std::vector<bool>> connected(n, std::vector<bool>(n, true));
        Edges edges;
        for (int a = 0; a < n; ++a)
            for (int b = a + 1; b < n; ++b) {
                connected[a][b] = connected[b][a] = edge(random);
                if (connected[a][b]) edges.emplace_back(a, b);
            }
        int largest = 0;
        for (unsigned subset = 1; subset < (1u << n); ++subset) {
            bool clique = true;
            for (int a = 0; a < n && clique; ++a)
                for (int b = 0; b < n && clique; ++b)
                    clique = !((subset >> a) & (subset >> b) & 1u) || connected[a][b];
            if (clique) largest = std::max(largest, __builtin_popcount(subset));
        }

        const auto check = [&](const char* finder, const int* clique, int size) {
            SCOPED_TRACE(std::string(finder) + ", trial " + std::to_string(trial));
            ASSERT_EQ(size, largest);
            for (int a = 0; a < size; ++a)
                for (int b = 0; b < size; ++b) EXPECT_TRUE(connected[clique[a]][clique[b]]);
        };
        for (int i = 0; i < kMost; ++i) std::fill(fixed->adj[i], fixed->adj[i] + kMost, 0);
        AddEdges(*fixed, edges);
        fixed->n = n;
        maximum_clique_finder(fixed.get());
        check("maximum_clique_finder", fixed->clique, fixed->clique_size);
        old_maximum_clique_finder(fixed.get());
        check("old_maximum_clique_finder", fixed->clique, fixed->clique_size);
        auto sized = SizedGraph(n, edges);
        maximum_clique_finder2(sized.get());
        check("maximum_clique_finder2", sized->clique, sized->clique_size);
    }
}

TEST(CliqueFinders, RefuseAsymmetricMatricesAndRecordsTooSmall)
{
    // The message a finder's throwing twin refuses the graph with, or "" when it accepts it.
    const auto refusal = [](int (*finder)(CliqueGraph*), CliqueGraph& graph) -> std::string {
        try {
            finder(&graph);
        } catch (const marrowind::Error& e) {
            EXPECT_EQ(e.exit_status(), 1);
            return e.what();
        }
        return "";
    };
    auto graph = FixedGraph(3, {});
    graph->adj[0][1] = 1;
    using marrowind::util::maximum_clique_finder;
    using marrowind::util::old_maximum_clique_finder;
    EXPECT_EQ(refusal(maximum_clique_finder, *graph), "Graph matrix not symmetrical!!!\n");
    EXPECT_EQ(refusal(old_maximum_clique_finder, *graph), "Graph matrix not symmetrical!!!\n");

    // 501 members would overrun clique (and best_members): refused, the record untouched.
    graph->adj[0][1] = 0;
    AddEdges(*graph, Complete(501));
    graph->n = 501;
    graph->clique_size = -1;
    const std::string too_large = "Clique of 501 members does not fit the record (500 at most)!\n";
    EXPECT_EQ(refusal(maximum_clique_finder, *graph), too_large);
    EXPECT_EQ(refusal(old_maximum_clique_finder, *graph), too_large);
    EXPECT_EQ(graph->clique_size, -1);

    graph->n = 10000;
    EXPECT_EQ(refusal(old_maximum_clique_finder, *graph),
              "Graph of 10000 vertices does not fit the record (9999 at most)!\n");
    graph->n = 10001;
    EXPECT_EQ(refusal(maximum_clique_finder, *graph),
              "Graph of 10001 vertices does not fit the record (10000 at most)!\n");

    // The run-time sized record has room for any clique of its graph.
    auto sized = SizedGraph(501, Complete(501));
    maximum_clique_finder2(sized.get());
    EXPECT_EQ(sized->clique_size, 501);

    try {
        marrowind::util::InitGraph2(-5);
        ADD_FAILURE() << "a negative size was accepted";
    } catch (const marrowind::Error& e) {
        EXPECT_STREQ(e.what(), "Invalid graph size (n = -5)!\n");
        EXPECT_EQ(e.exit_status(), 1);
    }
}

// What a program that catches nothing sees: the report on standard error and status 1.
TEST(CliqueFinders, CStyleRoutinesReportAndEndTheProcessWithStatusOne)
{
    auto graph = FixedGraph(3, {});
    graph->adj[0][1] = 1;
    const char asymmetric[] = "^Graph matrix not symmetrical!!!\n$";
    EXPECT_EXIT(maximum_clique_finder(graph.get()), testing::ExitedWithCode(1), asymmetric);
    EXPECT_EXIT(old_maximum_clique_finder(graph.get()), testing::ExitedWithCode(1), asymmetric);
    auto sized = SizedGraph(3, {});
    sized->adj[1][2] = 1;
    EXPECT_EXIT(maximum_clique_finder2(sized.get()), testing::ExitedWithCode(1), asymmetric);

    EXPECT_EXIT(InitGraph2(-5), testing::ExitedWithCode(1), "^Invalid graph size \\(n = -5\\)!\n$");
}

TEST(CliqueSearch, CallbackSeesEveryMaximalCliqueAndCanStopOrAbort)
{
    // A triangle and an isolated vertex: maximal cliques {0, 1, 2}, then {3}.
    auto rows = Rows(4, {{0, 1}, {1, 2}, {0, 2}});
    std::vector<char*> connected;
    for (auto& row : rows) connected.push_back(row.data());

    Set best;
    ASSERT_EQ(init_Set(&best, 4), 1);
    testing::internal::CaptureStdout();
    EXPECT_EQ(bron_kerbosch(4, connected.data(), nullptr, &best, print_clique_callback, nullptr),
              kCliqueStop);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Size =  3 found\n0 1 2 \nSize =  1 found\n3 \n");
    EXPECT_EQ(Found(best.members, best.count), (Members{0, 1, 2}));

    struct Case {
        int verdict;
        int at_call;  // the callback answers verdict here and kCliqueContinue before
        int returned;
        Members best;
        int calls;
    };
    const Case cases[] = {
        {kCliqueStop, 1, kCliqueStop, {0, 1, 2}, 1},
        {kCliqueStop, 2, kCliqueStop, {3}, 2},  // a stop takes its clique whatever its size
        {kCliqueAbort, 1, kCliqueAbort, {0, 1, 2}, 1},
        {7, 2, kCliqueAbort, {0, 1, 2}, 2},  // an unknown verdict aborts
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.verdict);
        std::pair<const Case*, int> state{&c, 0};
        const CliqueCallback answer = [](Set*, void* data) {
            auto* state = static_cast<std::pair<const Case*, int>*>(data);
            return ++state->second == state->first->at_call ? state->first->verdict
                                                            : kCliqueContinue;
        };
        EXPECT_EQ(bron_kerbosch(4, connected.data(), nullptr, &best, answer, &state), c.returned);
        EXPECT_EQ(Found(best.members, best.count), c.best);
        EXPECT_EQ(state.second, c.calls);
    }
    del_Set(&best);
    EXPECT_EQ(best.members, nullptr);
}
