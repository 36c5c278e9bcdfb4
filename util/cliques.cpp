// cliques.cpp: largest cliques of undirected graphs given as adjacency matrices.
//
// Contents:
//   init_Set, del_Set, copy_Set           vertex lists
//   bron_kerbosch, bk_extend_v2           the maximal-clique search, with a per-clique callback
//   print_clique_callback                 a callback that prints every maximal clique
//   maximum_clique_finder, maximum_clique_finder2, old_maximum_clique_finder
//   InitGraph2, FreeGraph2, InitBK        the run-time sized graph and the old finder's block
//
// The routines that can fail are written once, as the throwing twins of namespace
// marrowind::util; the C-style routines of the same names run them through OrExit.
//
// The search enumerates maximal cliques (Bron-Kerbosch, version 2). Each level holds a list of
// vertices: first the "not" set, vertices already tried here whose cliques are covered, then
// the candidates. It picks as fixed point the vertex disconnected from the fewest candidates
// and branches only on the fixed point (when it is a candidate) and on the candidates
// disconnected from it: every other branch would repeat a clique already found.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <utility>

#include "marrowind/errors.h"
#include "marrowind/util.h"
#include "util/exit_on_error.h"

using marrowind::detail::OrExit;

namespace {

struct FreeBlock {
    void operator()(void* block) const { std::free(block); }
};

// A malloc block released when the scope ends, however it ends.
template <typename T>
using HeapBlock = std::unique_ptr<T, FreeBlock>;

// malloc of count elements. An empty list still gets a block, so that an empty graph is not
// taken for exhausted memory; a negative count is a request that cannot be met.
template <typename T>
T* Allocate(int count)
{
    if (count < 0) return nullptr;
    const std::size_t entries = count > 0 ? static_cast<std::size_t>(count) : 1;
    return static_cast<T*>(std::malloc(entries * sizeof(T)));
}

}  // namespace

namespace marrowind::util {

namespace {

// One level of the search, shared by both finders. Positions in old start at
// Search::kFirstPosition: ne "not" vertices, then the candidates, ce entries in all. The policy
// says which vertices are connected, builds the clique under construction (push, pop) and
// decides what a maximal clique does to the search (maximal). Returns kCliqueContinue when
// every branch was completed, otherwise the code that stopped the search.
template <typename Search>
int ExtendLevel(Search& search, int* old, int ne, int ce)
{
    constexpr int first = Search::kFirstPosition;
    const int candidates_from = first + ne;
    const int end = first + ce;
    HeapBlock<int> next_block(Allocate<int>(end));
    if (!next_block) throw marrowind::OutOfMemory(end);
    int* next = next_block.get();

    // The fixed point: only a strictly smaller count replaces it, so the first of equals wins.
    // A count of 0 cannot be beaten, and the scan of a vertex stops once it cannot win.
    int minnod = ce;
    int nod = 0;
    int s = 0;
    int fixp = 0;
    for (int i = first; i < end && minnod != 0; ++i) {
        const int p = old[i];
        int count = 0;
        int pos = 0;
        for (int j = candidates_from; j < end && count < minnod; ++j) {
            if (!search.connected(p, old[j])) {
                ++count;
                pos = j;
            }
        }
        if (count < minnod) {
            fixp = p;
            minnod = count;
            if (i < candidates_from) {
                s = pos;
            } else {
                s = i;
                nod = 1;  // a candidate fixed point is a branch of its own
            }
        }
    }

    int result = kCliqueContinue;
    for (nod += minnod; nod >= 1; --nod) {
        const int select_at = first + ne;
        std::swap(old[s], old[select_at]);
        const int sel = old[select_at];

        int newne = 0;
        for (int i = first; i < select_at; ++i)
            if (search.connected(old[i], sel)) next[first + newne++] = old[i];
        int newce = newne;
        for (int i = select_at + 1; i < end; ++i)
            if (search.connected(old[i], sel)) next[first + newce++] = old[i];

        search.push(sel);
        if (newce == 0) {
            result = search.maximal();
            if (result != kCliqueContinue) break;
        } else if (newne < newce) {
            // With no candidate beyond the "not" set the branch holds only covered cliques.
            result = ExtendLevel(search, next, newne, newce);
            if (result != kCliqueContinue) break;
        }
        search.pop();
        ++ne;

        if (nod > 1) {
            // The next branch: the next candidate disconnected from the fixed point. Only a
            // matrix whose diagonal is not set can leave none.
            s = first + ne;
            while (s < end && search.connected(fixp, old[s])) ++s;
            if (s == end) break;
        }
    }
    return result;
}

// bron_kerbosch's search: vertices and positions from 0, nonzero bytes are edges, the first of
// equally large cliques is kept, and the callback sees every maximal clique.
struct CallbackSearch {
    static constexpr int kFirstPosition = 0;
    char** rows;
    Set* compsub;
    Set* best;
    CliqueCallback callback;
    void* data;

    bool connected(int a, int b) const { return rows[a][b] != 0; }
    void push(int vertex) { compsub->members[compsub->count++] = vertex; }
    void pop() { --compsub->count; }

    int maximal()
    {
        if (best->count < compsub->count) copy_Set(compsub, best);
        if (callback == nullptr) return kCliqueContinue;
        const int verdict = callback(compsub, data);
        if (verdict == kCliqueContinue) return kCliqueContinue;
        if (verdict == kCliqueStop) {
            copy_Set(compsub, best);
            return kCliqueStop;
        }
        return kCliqueAbort;
    }
};

// old_maximum_clique_finder's search: vertices and positions from 1, the characters '1' are
// edges, and the last of equally large cliques is kept.
struct NumberedFromOneSearch {
    static constexpr int kFirstPosition = 1;
    BKState* state;

    bool connected(int a, int b) const { return state->conn[a][b] == '1'; }
    void push(int vertex) { state->compsub[++state->depth] = vertex; }
    void pop() { --state->depth; }

    int maximal()
    {
        if (state->depth >= state->best) {
            // A clique too large for best_members is only counted; the finder refuses it.
            if (state->depth <= kCliqueCapacity) {
                for (int k = 0; k < state->depth; ++k)
                    state->best_members[k] = state->compsub[k + 1] - 1;
            }
            state->best = state->depth;
        }
        return kCliqueContinue;
    }
};

[[noreturn]] void RefuseClique(int members)
{
    throw marrowind::Error("Clique of " + std::to_string(members) +
                               " members does not fit the record (" +
                               std::to_string(kCliqueCapacity) + " at most)!\n",
                           1);
}

void RequireVertexCount(int n, int most)
{
    if (n < 0 || n > most) {
        throw marrowind::Error("Graph of " + std::to_string(n) +
                                   " vertices does not fit the record (" + std::to_string(most) +
                                   " at most)!\n",
                               1);
    }
}

// Sets the diagonal of adj to 1 (a vertex is connected to itself) and refuses a matrix in which
// byte (i, j) differs from byte (j, i), whatever the values.
template <typename Adjacency>
void RequireSymmetric(Adjacency adj, int n)
{
    bool symmetric = true;
    for (int i = 0; i < n; ++i) {
        adj[i][i] = 1;
        for (int j = 0; j < n; ++j)
            if (adj[i][j] != adj[j][i]) symmetric = false;
    }
    if (!symmetric) throw marrowind::InputError("Graph matrix not symmetrical!!!\n");
}

struct SetReleaser {
    Set* set;
    ~SetReleaser() { del_Set(set); }
};

struct StringsReleaser {
    char** strings;
    int n;
    ~StringsReleaser() { FreeStrings(strings, n); }
};

// The common body of maximum_clique_finder and maximum_clique_finder2; capacity is the room in
// clique.
template <typename Adjacency>
void FindLargestClique(Adjacency adj, int n, int* clique, int* clique_size, int capacity)
{
    RequireSymmetric(adj, n);

    Set result;
    if (!init_Set(&result, n)) throw marrowind::OutOfMemory(n);
    SetReleaser release_result{&result};

    // Only the exact byte 1 is an edge; anything else, 2 included, is none.
    char** rows = marrowind::util::InitStrings(n, n);
    StringsReleaser release_rows{rows, n};
    for (int i = 0; i < n; ++i)
        for (int j = 0; j < n; ++j) rows[i][j] = adj[i][j] == 1 ? 1 : 0;

    if (marrowind::util::bron_kerbosch(n, rows, nullptr, &result, nullptr, nullptr) != kCliqueStop)
        return;
    if (result.count > capacity) RefuseClique(result.count);
    *clique_size = result.count;
    std::memcpy(clique, result.members, static_cast<std::size_t>(result.count) * sizeof(int));
}

}  // namespace

int bron_kerbosch(int n, char** connected, void* /*unused*/, Set* best, CliqueCallback callback,
                  void* data)
{
    HeapBlock<int> all(Allocate<int>(n));
    if (!all) throw marrowind::OutOfMemory(n);
    Set compsub;
    if (!init_Set(&compsub, n)) return kCliqueAbort;
    SetReleaser release_compsub{&compsub};

    best->count = 0;
    for (int i = 0; i < n; ++i) all.get()[i] = i;
    const int result =
        marrowind::util::bk_extend_v2(connected, all.get(), 0, n, &compsub, best, callback, data);
    return result == kCliqueContinue ? kCliqueStop : result;
}

int bk_extend_v2(char** connected, int* old, int ne, int ce, Set* compsub, Set* best,
                 CliqueCallback callback, void* data)
{
    CallbackSearch search{connected, compsub, best, callback, data};
    return ExtendLevel(search, old, ne, ce);
}

int maximum_clique_finder(CliqueGraph* graph)
{
    RequireVertexCount(graph->n, kCliqueGraphCapacity);
    FindLargestClique(graph->adj, graph->n, graph->clique, &graph->clique_size, kCliqueCapacity);
    return 1;
}

int maximum_clique_finder2(Graph2* graph)
{
    FindLargestClique(graph->adj, graph->n, graph->clique, &graph->clique_size, graph->n);
    return 1;
}

int old_maximum_clique_finder(CliqueGraph* graph)
{
    const int n = graph->n;
    // Vertices are numbered from 1 in rows and columns of conn, so the last row is the limit.
    RequireVertexCount(n, kCliqueGraphCapacity - 1);
    RequireSymmetric(graph->adj, n);

    HeapBlock<BKState> state(static_cast<BKState*>(std::malloc(sizeof(BKState))));
    if (!state) throw marrowind::OutOfMemory(1);
    InitBK(state.get());
    for (int i = 0; i < n; ++i)
        for (int j = 0; j < n; ++j) state->conn[i + 1][j + 1] = graph->adj[i][j] == 1 ? '1' : '0';

    int vertices[kCliqueGraphCapacity + 2];
    for (int i = 0; i <= n; ++i) vertices[i] = i;
    NumberedFromOneSearch search{state.get()};
    ExtendLevel(search, vertices, 0, n);

    if (state->best > kCliqueCapacity) RefuseClique(state->best);
    graph->clique_size = state->best;
    std::memcpy(graph->clique, state->best_members,
                static_cast<std::size_t>(state->best) * sizeof(int));
    return 1;
}

Graph2* InitGraph2(int n)
{
    // A negative size is the caller's mistake, not a request that memory could not meet.
    if (n < 0) throw marrowind::Error("Invalid graph size (n = " + std::to_string(n) + ")!\n", 1);
    Graph2* graph = static_cast<Graph2*>(std::malloc(sizeof(Graph2)));
    if (graph == nullptr) throw marrowind::OutOfMemory(1);
    // n counts the rows obtained so far, so that FreeGraph2 can undo a partial record.
    graph->n = 0;
    graph->clique_size = 0;
    graph->clique = nullptr;
    graph->adj = Allocate<char*>(n);
    const auto fail = [graph, n]() {
        FreeGraph2(graph);
        throw marrowind::OutOfMemory(n);
    };
    if (graph->adj == nullptr) fail();
    for (; graph->n < n; ++graph->n) {
        graph->adj[graph->n] = Allocate<char>(n);
        if (graph->adj[graph->n] == nullptr) fail();
    }
    graph->clique = Allocate<int>(n);
    if (graph->clique == nullptr) fail();
    return graph;
}

}  // namespace marrowind::util

int init_Set(Set* set, int capacity)
{
    set->count = 0;
    set->members = Allocate<int>(capacity);
    return set->members != nullptr ? 1 : 0;
}

void del_Set(Set* set)
{
    set->count = 0;
    std::free(set->members);
    set->members = nullptr;
}

void copy_Set(const Set* from, Set* to)
{
    to->count = from->count;
    std::memcpy(to->members, from->members, static_cast<std::size_t>(from->count) * sizeof(int));
}

int bron_kerbosch(int n, char** connected, void* unused, Set* best, CliqueCallback callback,
                  void* data)
{
    return OrExit([=] {
        return marrowind::util::bron_kerbosch(n, connected, unused, best, callback, data);
    });
}

int bk_extend_v2(char** connected, int* old, int ne, int ce, Set* compsub, Set* best,
                 CliqueCallback callback, void* data)
{
    return OrExit([=] {
        return marrowind::util::bk_extend_v2(connected, old, ne, ce, compsub, best, callback,
                                             data);
    });
}

int print_clique_callback(Set* clique, void* /*data*/)
{
    std::printf("Size = %2d found\n", clique->count);
    for (int k = 0; k < clique->count; ++k) std::printf("%d ", clique->members[k]);
    std::printf("\n");
    return kCliqueContinue;
}

int maximum_clique_finder(CliqueGraph* graph)
{
    return OrExit([=] { return marrowind::util::maximum_clique_finder(graph); });
}

int maximum_clique_finder2(Graph2* graph)
{
    return OrExit([=] { return marrowind::util::maximum_clique_finder2(graph); });
}

int old_maximum_clique_finder(CliqueGraph* graph)
{
    return OrExit([=] { return marrowind::util::old_maximum_clique_finder(graph); });
}

Graph2* InitGraph2(int n)
{
    return OrExit([=] { return marrowind::util::InitGraph2(n); });
}

void FreeGraph2(Graph2* graph)
{
    if (graph == nullptr) return;
    for (int i = 0; i < graph->n; ++i) std::free(graph->adj[i]);
    std::free(graph->adj);
    std::free(graph->clique);
    std::free(graph);
}

void InitBK(BKState* state)
{
    state->depth = 0;
    state->best = 0;
    constexpr int kCleared = 100;
    for (int row = 0; row < kCleared; ++row) std::memset(state->conn[row], '0', kCleared);
}
