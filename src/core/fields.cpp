// fields.cpp: splitting a line into a field list, and releasing such lists.
//
// Contents: SplitFields, StoreField, FreeFields.
#include "core/fields.h"

#include <cstdlib>
#include <cstring>

#include "marrowind/errors.h"

namespace marrowind::detail {

char** SplitFields(const char* s, char delim, int* count)
{
    // The list grows geometrically so that a line of many fields costs linear time.
    char** fields = nullptr;
    int capacity = 0;
    int stored = 0;
    const char* start = s;
    for (const char* p = s;; ++p) {
        const bool at_end = *p == '\0';
        if (!at_end && *p != delim) continue;

        if (stored == capacity) {
            const int wanted = capacity == 0 ? 8 : 2 * capacity;
            char** grown = static_cast<char**>(
                std::realloc(fields, static_cast<std::size_t>(wanted) * sizeof(char*)));
            if (grown == nullptr) {
                FreeFields(fields, stored);
                throw OutOfMemory(wanted);
            }
            fields = grown;
            capacity = wanted;
        }
        StoreField(fields, stored, start, static_cast<std::size_t>(p - start));
        if (at_end) break;
        start = p + 1;
    }
    *count = stored;
    return fields;
}

void StoreField(char** fields, int& stored, const char* start, std::size_t length)
{
    char* field = static_cast<char*>(std::malloc(length + 1));
    if (field == nullptr) {
        FreeFields(fields, stored);
        throw OutOfMemory(static_cast<long long>(length) + 1);
    }
    std::memcpy(field, start, length);
    field[length] = '\0';
    fields[stored++] = field;
}

void FreeFields(char** fields, int n)
{
    if (fields == nullptr) return;
    for (int i = 0; i < n; ++i) std::free(fields[i]);
    std::free(fields);
}

}  // namespace marrowind::detail
