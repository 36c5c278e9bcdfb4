// splitspace.cpp: fuzz target for splitspace, the splitting of a line at runs of white space.
//
// Contents: LLVMFuzzerTestOneInput.
//
// The fields must hold no white space, there must be one per run of white space after the
// leading one, plus one, and together they must hold every other byte of the line in order.
#include <cctype>
#include <cstddef>
#include <cstdint>
#include <string>

#include "check.h"
#include "marrowind/util.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string line = std::string(reinterpret_cast<const char*>(data), size).c_str();
    const auto blank = [](char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; };

    int count = 0;
    char** fields = splitspace(line.c_str(), &count);
    std::string non_blank;
    int runs = 0;
    std::size_t at = 0;
    while (at < line.size() && blank(line[at])) ++at;
    for (; at < line.size(); ++at) {
        if (!blank(line[at]))
            non_blank += line[at];
        else if (at + 1 == line.size() || !blank(line[at + 1]))
            ++runs;
    }
    FUZZ_CHECK(count == runs + 1);
    std::string joined;
    for (int k = 0; k < count; ++k) {
        for (const char* c = fields[k]; *c != '\0'; ++c) FUZZ_CHECK(!blank(*c));
        joined += fields[k];
    }
    FUZZ_CHECK(joined == non_blank);
    FreeStrings(fields, count);
    return 0;
}
