// utilities.h: text splitting, line trimming and plain heap-block allocation helpers.
//
// Contents:
//   chomp, chop                       trim the end of a line in place
//   newsplit, splitspace              split a string into a heap list of heap fields
//   Words, split                      split a string into fixed slots, without allocating
//   InitStrings, FreeStrings          arrays of string buffers (also frees field lists)
//   InitIntArray, FreeIntArray        n rows of m ints
//   InitFloatArray, FreeFloatArray    n rows of m floats
//   InitVec3fArray, FreeVec3fArray    n rows of m three-float vectors
//   floatcmp, intcmp                  three-way comparators with the qsort signature
//   FileExists, ishydphob, clean      a readability test, a residue class test, file clean-up
//
// Every block comes from malloc or realloc and goes back through free, so a block made by one
// routine may be released by another. A failed allocation frees whatever the call had already
// obtained and throws marrowind::OutOfMemory with the number of elements it asked for; nothing
// here prints or ends the process.
#ifndef MARROWIND_UTIL_UTILITIES_H
#define MARROWIND_UTIL_UTILITIES_H

#include "util/vec3f.h"

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

#endif
