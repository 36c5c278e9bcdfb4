// util.h: Marrowind's general utility library: plain C-style routines over plain heap blocks.
//
// Contents:
//   Text and heap blocks  chomp, chop, newsplit, splitspace, Words, split, InitStrings,
//                         FreeStrings, InitIntArray, InitFloatArray, InitVec3fArray and their
//                         Free routines, floatcmp, intcmp, FileExists, ishydphob, clean
//   Maximum cliques       Set, init_Set, del_Set, copy_Set, CliqueCallback, bron_kerbosch,
//                         bk_extend_v2, print_clique_callback, CliqueGraph, Graph2, BKState,
//                         maximum_clique_finder, maximum_clique_finder2,
//                         old_maximum_clique_finder, InitGraph2, FreeGraph2, InitBK
//   Option parsing        OptSpec, GetOpt, OptToDie, OptIsInt, OptIsReal
//   Geometry, statistics  Vec3f, Mat3f, put_in_frame, sub_vects, vcopy, mcopy, vdist, vscore,
//                         vmag, mean, mean_int, variance, covariance, variance_int,
//                         CentreOfMass, round_up
//   Structure records     PROT, RES, clear_PROT, clear_RES, FreeProt
//   Throwing twins        namespace marrowind::util: the routines above that can fail, throwing
//                         instead of ending the process
//
// This is its own library: link Marrowind::util (pkg-config: marrowind_util), which brings the
// scoring core along. A program that links only the core gets none of these names.
//
// Every block handed out here comes from malloc or realloc and goes back through free (or the
// matching release routine), so a block made by one routine may be released by another.
//
// The routines at global scope are C-style: a failure writes its message to standard error and
// ends the process, so a caller needs to catch nothing. The failures, each with its message
// and exit status:
//   an allocation failed       "No memory for object (n = %d)!\n", status 1; n is the number of
//                              elements the failed request asked for (given routine by routine)
//   a graph matrix that is     "Graph matrix not symmetrical!!!\n", status 1
//   not symmetric
//   a command line that        "FATAL: " + message + usage + "\n", status 1 (see GetOpt)
//   GetOpt refuses
//   a graph or clique too      the message given at the finders, status 1
//   large, or a graph size
//   below 0
// Each routine that can fail has a twin of the same name in namespace marrowind::util, declared
// at the end of this header, which ends nothing: it throws the exception of
// <marrowind/errors.h> whose what() is that message and exit_status() that status, after
// releasing whatever the call had obtained. The routines that cannot fail have no twin.
// None of the routines keeps state between calls, except GetOpt (see there).
#ifndef MARROWIND_UTIL_H
#define MARROWIND_UTIL_H

#include "marrowind/errors.h"

// ---------------------------------------------------------------------------------------------
// Text splitting, line trimming and heap blocks
// ---------------------------------------------------------------------------------------------

// A point or direction in space: three floats stored consecutively (12 bytes, no padding).
struct Vec3f {
    float x;
    float y;
    float z;
};

static_assert(sizeof(Vec3f) == 3 * sizeof(float), "Vec3f rows are packed arrays of floats");

// If the last character of s is a newline, removes it (one character at most, so a carriage
// return before it stays). An empty string is left alone.
void chomp(char* s);

// Removes the last character of s, whatever it is. An empty string is left alone.
void chop(char* s);

// Splits s at every occurrence of delim. Empty fields are kept (leading, adjacent and trailing
// delimiters each give one), nothing is trimmed, and the count is the number of delimiters plus
// one, so never less than 1. Returns a list of *count heap strings with no terminating null
// entry; release it with FreeStrings(list, *count).
// Out of memory: n is the entries requested when the list grows, or a field's length + 1.
char** newsplit(const char* s, char delim, int* count);

// Splits s at runs of white space (as isspace decides). Leading white space is skipped; a run
// at the very end yields a final empty field, and an empty or all-blank string yields one empty
// field. Returns a list of *count heap strings; release it with FreeStrings(list, *count).
// Out of memory: n is 1 for the first list, the field's length + 1 for a field, and the new
// field count + 1 when the list grows.
char** splitspace(const char* s, int* count);

constexpr int kWordsMax = 100;      // word slots in a Words record
constexpr int kWordCapacity = 100;  // bytes per slot: at most 99 characters and the NUL

struct Words {
    char word[kWordsMax][kWordCapacity];
    int nwords;  // number of words stored
};

// Splits s at every occurrence of delim into the slots of words, allocating nothing; empty
// words count. Returns the number of words stored, which also goes into words->nwords. The
// record has room for 100 words of 99 characters: a longer word is cut to its first 99
// characters, and words after the 100th are dropped and not counted, so the result never
// exceeds 100 and every counted slot holds a terminated string.
int split(const char* s, char delim, Words* words);

// n buffers of len bytes each, each holding the empty string. len must be at least 1.
// Out of memory: n for the pointer list, len for a buffer.
char** InitStrings(int n, int len);

// Frees each non-null entry among the first n of strings, then strings itself if non-null.
void FreeStrings(char** strings, int n);

// n rows of m uninitialised elements. Out of memory: n for the row list, m for a row.
// Release with the matching Free routine and the same n.
int** InitIntArray(int n, int m);
float** InitFloatArray(int n, int m);
Vec3f** InitVec3fArray(int n, int m);

void FreeIntArray(int** rows, int n);
void FreeFloatArray(float** rows, int n);
void FreeVec3fArray(Vec3f** rows, int n);

// Compare the floats (or ints) behind a and b: -1, 0 or 1. floatcmp takes the sign of the
// single-precision difference, so a NaN on either side compares as 0 (equal).
int floatcmp(const void* a, const void* b);
int intcmp(const void* a, const void* b);

// 1 if path can be opened for reading (it is opened and closed again at once), else 0.
int FileExists(const char* path);

// 1 for the hydrophobic residues V, I, L, M, F, W and C (upper case only), else 0.
int ishydphob(char residue);

// Removes the working files *.corr, *.eqv, *.gph, *.vectors and *.ras from the current
// directory through the shell; failures are ignored.
void clean();

// ---------------------------------------------------------------------------------------------
// Maximum cliques
//
// A clique is a set of vertices that are all pairwise connected. The finders enumerate the
// maximal cliques of an undirected graph (Bron-Kerbosch, with a fixed point chosen at every
// level to prune branches that could only repeat cliques already found) and keep the largest.
// Vertices are numbered from 0, and a clique lists its members in the order the search added
// them, not sorted.
// ---------------------------------------------------------------------------------------------

constexpr int kCliqueGraphCapacity = 10000;  // vertices of a CliqueGraph (9999 for the old finder)
constexpr int kCliqueCapacity = 500;         // clique members that CliqueGraph and BKState hold

// What a clique callback tells the search, and what bron_kerbosch reports.
constexpr int kCliqueContinue = -13;  // go on searching
constexpr int kCliqueAbort = -12;     // abandon the search (any unknown code means this too)
constexpr int kCliqueStop = -11;      // stop and take this clique as the result; also "finished"

// A list of vertex numbers: members[0] to members[count - 1], in the order they were added.
struct Set {
    int count;
    int* members;  // heap block whose capacity the creator chose
};

// Sets count to 0 and allocates room for capacity members. Returns 1, or 0 when the allocation
// failed (members is then null).
int init_Set(Set* set, int capacity);

// Sets count to 0, frees members and sets it to null.
void del_Set(Set* set);

// Copies count and the first count members of from into to, whose capacity must suffice.
void copy_Set(const Set* from, Set* to);

// Sees each maximal clique as it is completed, with the caller's data; returns kCliqueContinue,
// kCliqueAbort or kCliqueStop.
typedef int (*CliqueCallback)(Set* clique, void* data);

// Searches the maximal cliques of the graph of n vertices whose connections are connected:
// n rows of n bytes, nonzero meaning connected; the diagonal must be nonzero. The third
// argument is not used (pass a null pointer). best, with room for n members, receives the
// largest clique found (the first of equally large ones) or, when the callback stops the
// search, the clique it stopped at. callback may be null.
// Returns kCliqueStop when the search ran to its end or the callback stopped it, and
// kCliqueAbort when the callback aborted it or the clique under construction could not be
// allocated. Out of memory: n for the vertex list, the length of a level's list for that list.
int bron_kerbosch(int n, char** connected, void* unused, Set* best, CliqueCallback callback,
                  void* data);

// One level of the search. old[0..ne-1] holds the vertices already tried at this level (whose
// cliques are covered), old[ne..ce-1] the candidates; both may be reordered. compsub is the
// clique under construction (capacity at least the number of vertices), best as above.
// Returns kCliqueContinue when every branch was completed, otherwise the code that stopped it.
// Out of memory: ce, for the level's list.
int bk_extend_v2(char** connected, int* old, int ne, int ce, Set* compsub, Set* best,
                 CliqueCallback callback, void* data);

// Writes "Size = %2d found\n" with the clique's size, then each member followed by a space,
// then a newline, to standard output, and returns kCliqueContinue: passed to bron_kerbosch it
// prints every maximal clique in the order they are found.
int print_clique_callback(Set* clique, void* data);

// A graph of at most 10000 vertices in one fixed block of about 100 MB: allocate it on the
// heap. Byte (i, j) of adj is 1 when vertices i and j are connected; only the exact value 1
// is an edge. The finders fill clique and clique_size.
struct CliqueGraph {
    char adj[kCliqueGraphCapacity][kCliqueGraphCapacity];
    int n;
    int clique[kCliqueCapacity];
    int clique_size;
};

// A graph sized at run time (see InitGraph2): adj holds n rows of n bytes, meaning as in
// CliqueGraph, and clique has room for n members.
struct Graph2 {
    char** adj;
    int n;
    int* clique;
    int clique_size;
};

// The working block of old_maximum_clique_finder, about 100 MB: allocate it on the heap.
// Vertices are numbered from 1 here. compsub[1..depth] is the clique under construction,
// best_members[0..best-1] the largest so far (numbered from 0), and conn[a][b] is the
// character '1' when vertices a and b are connected, '0' when not.
struct BKState {
    int depth;
    int best;
    int compsub[kCliqueGraphCapacity];
    int best_members[kCliqueCapacity];
    char conn[kCliqueGraphCapacity][kCliqueGraphCapacity];
};

// Each finder first sets the diagonal bytes of adj to 1 (they stay so in the caller's record)
// and checks that byte (i, j) equals byte (j, i) for every pair; a difference of any value
// ends the process with "Graph matrix not symmetrical!!!\n" (status 1; the twin throws
// marrowind::InputError). It then fills clique and clique_size with a largest clique and
// returns 1. A graph with no vertices gives clique_size 0.
//
// maximum_clique_finder keeps the first of equally large cliques. A clique of more than 500
// members ends the process with "Clique of %d members does not fit the record (500 at
// most)!\n" instead of overrunning clique, and n outside 0..10000 with "Graph of %d vertices
// does not fit the record (10000 at most)!\n", both status 1 (the twin throws marrowind::Error).
// Out of memory: n, for the result set, the connection rows or the search's vertex list, and a
// level's list length for that list. Only when the search cannot allocate its clique under
// construction (bron_kerbosch gives kCliqueAbort) are clique and clique_size left as they were;
// 1 is still returned.
int maximum_clique_finder(CliqueGraph* graph);

// As maximum_clique_finder on a Graph2; its clique array holds any clique of its graph.
int maximum_clique_finder2(Graph2* graph);

// The same search over a BKState, numbering vertices from 1: it keeps the last of equally
// large cliques instead of the first. Too large a clique ends the process as above, and so
// does an n outside 0..9999 (the rows of conn are numbered from 1).
// Out of memory: 1 for the BKState block, the level's list length for a level.
int old_maximum_clique_finder(CliqueGraph* graph);

// A new Graph2 with n rows of n uninitialised bytes and room for n clique members; n is set
// to the rows allocated and clique_size to 0. The caller fills adj, and may lower n before a
// search (but must restore it before FreeGraph2, which frees rows 0 to n-1). A negative n ends
// the process with "Invalid graph size (n = %d)!\n", status 1 (the twin throws
// marrowind::Error). Out of memory: 1 for the record, n for the row list, a row or the clique
// array.
Graph2* InitGraph2(int n);

// Frees rows 0 to n-1, the row list, the clique array and the record. A null graph is ignored.
void FreeGraph2(Graph2* graph);

// Sets depth and best to 0 and the first 100 x 100 characters of conn to '0'.
void InitBK(BKState* state);

// ---------------------------------------------------------------------------------------------
// Option parsing
// ---------------------------------------------------------------------------------------------

// One row of an option table.
struct OptSpec {
    const char* name;  // as written, dashes included: "-n" (single letter) or "--number"
    int single;        // 1: single-letter option; 0: long option; any other value never matches
    int argtype;       // 0: no argument; 1: integer (OptIsInt); 2: real number (OptIsReal);
                       // 3: exactly one character; any other value: any text
};

// Parses the next option of argv against the nopts rows of opts. Single-letter options may be
// grouped behind one dash ("-ab"), and take their argument attached ("-n5") or as the next
// word ("-n 5"). Long options may be shortened to any unambiguous prefix (an exact name always
// wins), and take their argument after "=" (the "=" in argv is overwritten with the end of the
// text) or as the next word.
// Returns 1 for a parsed option: *optname points at the matched row's name (callers tell
// options apart by it and must not write through it), *optarg at its argument or is null.
// Returns 0 when the options end: at the end of argv, at a word that does not begin with "-",
// at a lone "-" (which stays the first non-option word) or after a "--" (which is consumed);
// both pointers are then null. *optindex always receives the index of the next word.
// The position is kept in two static variables starting at word 1, never reset: one process
// walks one argument vector, once; GetOpt and its twin share it.
// A usage error ends the process as OptToDie(message, usage) does: "FATAL: ", the message, the
// usage text and "\n" on standard error, status 1 (the twin throws marrowind::UsageError, whose
// what() is that report, and leaves the position undefined). The messages, each followed by a
// newline and the usage text (%c is the letter, %s the word as written, cut at "=", or the
// matched row's name):
//   No such option "%c".  or  No such option "%s".       no row matches
//   Option "%s" is ambiguous; please be more specific.   a long prefix of several rows
//   Option %s requires an argument                       nothing follows at the end of argv
//   Option %s does not take an argument                  a value after "=" for a row with none
//   Option %s requires an integer argument               argtype 1, and OptIsInt refuses it
//   Option %s requires a numerical argument              argtype 2, and OptIsReal refuses it
//   Option %s requires a single-character argument       argtype 3, and it is not one byte
int GetOpt(int argc, char** argv, const OptSpec* opts, int nopts, const char* usage,
           int* optindex, char** optname, char** optarg);

// For a program's own fatal usage errors: writes "FATAL: ", the printf-style message and "\n"
// to standard error, flushes it and ends the process with status 1. Never returns.
[[noreturn]] void OptToDie(const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 1, 2)))
#endif
    ;

// 1 if text is an integer: optional leading white space, one optional sign, then decimal
// digits, or "0x"/"0X" and hexadecimal digits; nothing may follow, not even white space.
// Text with no digits at all (empty, blank or a lone sign) passes. A null pointer gives 0.
int OptIsInt(const char* text);

// 1 if text is a real number: optional white space and one sign, then a word holding at least
// one decimal digit, at most one "." and at most one "e"/"E" (the "." before it), then only
// white space. Other characters in the word are passed over ("12abc" passes). Null gives 0.
int OptIsReal(const char* text);

// ---------------------------------------------------------------------------------------------
// Geometry and statistics, in single precision unless said otherwise
// ---------------------------------------------------------------------------------------------

// A 3 x 3 matrix stored row by row: e[row][column].
struct Mat3f {
    float e[3][3];
};

// *out = m v: component r is (e[r][0] x + e[r][1] y) + e[r][2] z.
void put_in_frame(const Mat3f* m, Vec3f* out, Vec3f v);

// *out = a - b, component by component.
void sub_vects(Vec3f* out, Vec3f a, Vec3f b);

// Copy *from into *to.
void vcopy(const Vec3f* from, Vec3f* to);
void mcopy(const Mat3f* from, Mat3f* to);

// The distance between a and b: the squared differences summed in single precision, the
// square root taken in double precision.
float vdist(const Vec3f* a, const Vec3f* b);

// A closeness score, 500 / (10 + d) with d = vdist(a, b) (in double precision): 50 for equal
// points, falling towards 0 with distance.
float vscore(const Vec3f* a, const Vec3f* b);

// The length of v: single-precision squares summed and rooted in double precision.
float vmag(const Vec3f* v);

// The mean of n values: their single-precision sum over n. n = 0 gives not-a-number.
float mean(const float* values, int n);

// The mean of n ints, truncated toward zero (computed as float sum / float n). n = 0 gives 0.
int mean_int(const int* values, int n);

// The sample variance: the sum of squared deviations from the mean over n - 1. 0 for n <= 1.
float variance(const float* values, int n);

// The sample variance over the mean (the index of dispersion); 0 for n <= 1. A zero mean
// gives an infinite or not-a-number result.
float covariance(const float* values, int n);

// The sample variance of ints about their truncated mean_int, truncated toward zero.
// 0 for n <= 1.
int variance_int(const int* values, int n);

// A new heap point, released with free: each component the mean of that component over the
// n points. n = 0 gives not-a-number components. Out of memory: 1.
Vec3f* CentreOfMass(const Vec3f* points, int n);

// x rounded to the nearest integer, halves away from zero (2.5 gives 3, -2.5 gives -3).
// |x| must be below 2^31.
int round_up(float x);

// ---------------------------------------------------------------------------------------------
// Structure records: only their clearing and release are defined here; what the fields mean
// is up to the programs that use them.
// ---------------------------------------------------------------------------------------------

struct PROT {
    long long id;
    int counts[13];
    char name[100];
    char chain;
    double weight;
    void* owned;  // heap block from malloc, owned by the record and freed by FreeProt
    double score;
};

struct RES {
    long long id;
    int counts[13];
    char flags[3];
    char states[5];
    char code[6];
    Vec3f position;  // kept by clear_RES
    double values[3];
    int number;
};

static_assert(sizeof(long long) == 8 && sizeof(double) == 8 && sizeof(int) == 4,
              "the structure records use 8-byte and 4-byte fields");

// Sets the numbers to 0, name to " ", chain to NUL and owned to null (without freeing it).
void clear_PROT(PROT* prot);

// Sets the numbers to 0, each flag and state to '0' and code to "00000"; position is kept.
void clear_RES(RES* res);

// Frees the record's owned block, then the record itself, which must come from malloc.
// A null record is ignored.
void FreeProt(PROT* prot);

// ---------------------------------------------------------------------------------------------
// Throwing twins, for C++ callers that handle failures themselves
//
// Each does exactly what the global routine of the same name does, except that a failure ends
// nothing: it releases whatever the call had obtained and throws the exception of
// <marrowind/errors.h> that carries the global routine's message and status:
// marrowind::OutOfMemory, marrowind::InputError (a graph matrix that is not symmetric),
// marrowind::UsageError (GetOpt) or marrowind::Error (a graph or clique too large, a graph size
// below 0). A callback's own exceptions pass through bron_kerbosch and bk_extend_v2 unchanged.
// Call them qualified, as marrowind::util::GetOpt: the records they take live at global scope,
// so an unqualified call would see the global routine of the same name too.
// ---------------------------------------------------------------------------------------------

namespace marrowind::util {

char** newsplit(const char* s, char delim, int* count);
char** splitspace(const char* s, int* count);
char** InitStrings(int n, int len);
int** InitIntArray(int n, int m);
float** InitFloatArray(int n, int m);
Vec3f** InitVec3fArray(int n, int m);

int bron_kerbosch(int n, char** connected, void* unused, Set* best, CliqueCallback callback,
                  void* data);
int bk_extend_v2(char** connected, int* old, int ne, int ce, Set* compsub, Set* best,
                 CliqueCallback callback, void* data);
int maximum_clique_finder(CliqueGraph* graph);
int maximum_clique_finder2(Graph2* graph);
int old_maximum_clique_finder(CliqueGraph* graph);
Graph2* InitGraph2(int n);

int GetOpt(int argc, char** argv, const OptSpec* opts, int nopts, const char* usage,
           int* optindex, char** optname, char** optarg);

Vec3f* CentreOfMass(const Vec3f* points, int n);

}  // namespace marrowind::util

#endif
