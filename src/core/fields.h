// fields.h: field lists, the result of splitting a line: heap arrays of heap strings.
//
// Contents:
//   SplitFields  splits a line at every occurrence of a delimiter
//   StoreField   appends a heap copy of a piece of text to a field list
//   FreeFields   releases a field list
//
// A field list is a malloc'd array of char*, one per field, each pointing to its own malloc'd
// string of exactly the field's length plus the terminating NUL, with no terminating null
// entry. The matrix reader splits its lines with these, and the utility library's splitters
// and FreeStrings hand out and take back the same lists, so a list made by one may be released
// by the other.
#ifndef MARROWIND_CORE_FIELDS_H
#define MARROWIND_CORE_FIELDS_H

#include <cstddef>

namespace marrowind::detail {

// Splits s at every occurrence of delim: empty fields are kept (leading, adjacent and trailing
// delimiters each give one) and nothing is trimmed, so the count stored in *count is the number
// of delimiters plus one. Throws marrowind::OutOfMemory, with the entries requested when the
// list grows or a field's length + 1, after releasing whatever it had made.
char** SplitFields(const char* s, char delim, int* count);

// Stores a terminated heap copy of the length bytes at start as fields[stored] and counts it;
// the list must have room for it. When memory runs out, releases the list and the fields stored
// so far and throws marrowind::OutOfMemory(length + 1).
void StoreField(char** fields, int& stored, const char* start, std::size_t length);

// Frees each of the first n entries of fields, then fields itself; null pointers are skipped.
void FreeFields(char** fields, int n);

}  // namespace marrowind::detail

#endif
