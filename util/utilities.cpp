// utilities.cpp: text splitting, line trimming and plain heap-block allocation helpers.
//
// Contents:
//   chomp, chop, split                 trimming, and splitting into fixed slots
//   newsplit, splitspace               splitting into field lists (and their throwing twins)
//   InitStrings, FreeStrings           string arrays (InitStrings with its twin)
//   InitIntArray, InitFloatArray, InitVec3fArray and their twins and Free routines
//   floatcmp, intcmp, FileExists, ishydphob, clean
//
// The twins in namespace marrowind::util do the work and throw; the C-style routines of the
// same names run them through OrExit, which turns a failure into the report and the exit.
#include "marrowind/util.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "core/fields.h"
#include "marrowind/errors.h"
#include "util/exit_on_error.h"

using marrowind::detail::OrExit;

void chomp(char* s)
{
    const std::size_t length = std::strlen(s);
    if (length > 0 && s[length - 1] == '\n') s[length - 1] = '\0';
}

void chop(char* s)
{
    const std::size_t length = std::strlen(s);
    if (length > 0) s[length - 1] = '\0';
}

int split(const char* s, char delim, Words* words)
{
    int stored = 0;
    int length = 0;
    for (const char* p = s; stored < kWordsMax; ++p) {
        const bool at_end = *p == '\0';
        if (at_end || *p == delim) {
            words->word[stored][length] = '\0';
            ++stored;
            length = 0;
            if (at_end) break;
        } else if (length < kWordCapacity - 1) {
            words->word[stored][length++] = *p;
        }
    }
    words->nwords = stored;
    return stored;
}

namespace marrowind::util {

char** newsplit(const char* s, char delim, int* count)
{
    return marrowind::detail::SplitFields(s, delim, count);
}

char** splitspace(const char* s, int* count)
{
    const auto is_blank = [](char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; };

    while (is_blank(*s)) ++s;

    // The list always keeps one entry beyond the fields stored so far.
    char** fields = static_cast<char**>(std::malloc(sizeof(char*)));
    if (fields == nullptr) throw OutOfMemory(1);
    int stored = 0;
    const char* p = s;
    for (;;) {
        const char* start = p;
        while (*p != '\0' && !is_blank(*p)) ++p;
        const std::size_t length = static_cast<std::size_t>(p - start);
        marrowind::detail::StoreField(fields, stored, start, length);
        if (*p == '\0') break;

        // A run of white space ends the field; if the string ends right after it, the next
        // pass stores the empty final field.
        while (is_blank(*p)) ++p;
        char** grown = static_cast<char**>(
            std::realloc(fields, static_cast<std::size_t>(stored + 1) * sizeof(char*)));
        if (grown == nullptr) {
            marrowind::detail::FreeFields(fields, stored);
            throw OutOfMemory(stored + 1);
        }
        fields = grown;
    }
    *count = stored;
    return fields;
}

char** InitStrings(int n, int len)
{
    char** strings = static_cast<char**>(std::malloc(static_cast<std::size_t>(n) * sizeof(char*)));
    if (strings == nullptr) throw OutOfMemory(n);
    for (int i = 0; i < n; ++i) {
        strings[i] = static_cast<char*>(std::malloc(static_cast<std::size_t>(len)));
        if (strings[i] == nullptr) {
            FreeStrings(strings, i);
            throw OutOfMemory(len);
        }
        if (len > 0) strings[i][0] = '\0';
    }
    return strings;
}

namespace {

template <typename Element>
Element** AllocateRows(int n, int m)
{
    Element** rows =
        static_cast<Element**>(std::malloc(static_cast<std::size_t>(n) * sizeof(Element*)));
    if (rows == nullptr) throw OutOfMemory(n);
    for (int i = 0; i < n; ++i) {
        rows[i] = static_cast<Element*>(std::malloc(static_cast<std::size_t>(m) * sizeof(Element)));
        if (rows[i] == nullptr) {
            for (int j = 0; j < i; ++j) std::free(rows[j]);
            std::free(rows);
            throw OutOfMemory(m);
        }
    }
    return rows;
}

}  // namespace

int** InitIntArray(int n, int m) { return AllocateRows<int>(n, m); }
float** InitFloatArray(int n, int m) { return AllocateRows<float>(n, m); }
Vec3f** InitVec3fArray(int n, int m) { return AllocateRows<Vec3f>(n, m); }

}  // namespace marrowind::util

char** newsplit(const char* s, char delim, int* count)
{
    return OrExit([=] { return marrowind::util::newsplit(s, delim, count); });
}

char** splitspace(const char* s, int* count)
{
    return OrExit([=] { return marrowind::util::splitspace(s, count); });
}

char** InitStrings(int n, int len)
{
    return OrExit([=] { return marrowind::util::InitStrings(n, len); });
}

void FreeStrings(char** strings, int n) { marrowind::detail::FreeFields(strings, n); }

int** InitIntArray(int n, int m)
{
    return OrExit([=] { return marrowind::util::InitIntArray(n, m); });
}

float** InitFloatArray(int n, int m)
{
    return OrExit([=] { return marrowind::util::InitFloatArray(n, m); });
}

Vec3f** InitVec3fArray(int n, int m)
{
    return OrExit([=] { return marrowind::util::InitVec3fArray(n, m); });
}

namespace {

template <typename Element>
void ReleaseRows(Element** rows, int n)
{
    if (rows == nullptr) return;
    for (int i = 0; i < n; ++i) std::free(rows[i]);
    std::free(rows);
}

}  // namespace

void FreeIntArray(int** rows, int n) { ReleaseRows(rows, n); }
void FreeFloatArray(float** rows, int n) { ReleaseRows(rows, n); }
void FreeVec3fArray(Vec3f** rows, int n) { ReleaseRows(rows, n); }

int floatcmp(const void* a, const void* b)
{
    // Every comparison with NaN is false, so a NaN difference falls through to 0.
    const float difference = *static_cast<const float*>(a) - *static_cast<const float*>(b);
    if (difference < 0.0f) return -1;
    if (difference > 0.0f) return 1;
    return 0;
}

int intcmp(const void* a, const void* b)
{
    // Compared rather than subtracted, so that values at the ends of the range cannot overflow.
    const int x = *static_cast<const int*>(a);
    const int y = *static_cast<const int*>(b);
    return (x > y) - (x < y);
}

int FileExists(const char* path)
{
    std::FILE* file = std::fopen(path, "r");
    if (file == nullptr) return 0;
    std::fclose(file);
    return 1;
}

int ishydphob(char residue)
{
    switch (residue) {
    case 'V': case 'I': case 'L': case 'M': case 'F': case 'W': case 'C':
        return 1;
    default:
        return 0;
    }
}

void clean()
{
    // rm -f succeeds whether or not anything matched, and a failed clean-up harms no result,
    // so the statuses are not looked at.
    static const char* const kCommands[] = {"rm -f *.corr", "rm -f *.eqv", "rm -f *.gph",
                                            "rm -f *.vectors", "rm -f *.ras"};
    for (const char* command : kCommands) {
        const int status = std::system(command);
        (void)status;
    }
}
