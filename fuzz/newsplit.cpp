// newsplit.cpp: fuzz target for newsplit, the splitting of a line at a delimiter.
//
// Contents: LLVMFuzzerTestOneInput.
//
// The first byte is the delimiter and the rest the line. The fields must be exactly the pieces
// between delimiters: one more than there are delimiters, and joined again they give the line.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>

#include "check.h"
#include "marrowind/util.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0) return 0;
    const char delimiter = static_cast<char>(data[0]);
    const std::string line = std::string(reinterpret_cast<const char*>(data) + 1, size - 1).c_str();

    int count = 0;
    char** fields = newsplit(line.c_str(), delimiter, &count);
    const long long delimiters =
        delimiter == '\0' ? 0 : std::count(line.begin(), line.end(), delimiter);
    FUZZ_CHECK(count == delimiters + 1);
    std::string joined;
    for (int k = 0; k < count; ++k) {
        if (k > 0) joined += delimiter;
        joined += fields[k];
    }
    FUZZ_CHECK(joined == line);
    FreeStrings(fields, count);
    return 0;
}
