// split.cpp: fuzz target for split, the splitting of a line into the fixed slots of Words.
//
// Contents: LLVMFuzzerTestOneInput.
//
// The first byte is the delimiter and the rest the line. However many or long the words, the
// record must not overflow: at most 100 words are counted, each a terminated slot holding the
// first 99 bytes (at most) of its word.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

#include "check.h"
#include "marrowind/util.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0) return 0;
    const char delimiter = static_cast<char>(data[0]);
    const std::string line = std::string(reinterpret_cast<const char*>(data) + 1, size - 1).c_str();

    // On the heap, so that the sanitizer sees a write past the record's end.
    const auto words = std::make_unique<Words>();
    const int count = split(line.c_str(), delimiter, words.get());
    const long long delimiters =
        delimiter == '\0' ? 0 : std::count(line.begin(), line.end(), delimiter);
    FUZZ_CHECK(count == words->nwords);
    FUZZ_CHECK(count == std::min<long long>(delimiters + 1, kWordsMax));

    std::size_t start = 0;
    for (int k = 0; k < count; ++k) {
        std::size_t end = delimiter == '\0' ? std::string::npos : line.find(delimiter, start);
        if (end == std::string::npos) end = line.size();
        const std::string expected = line.substr(start, std::min<std::size_t>(end - start, kWordCapacity - 1));
        FUZZ_CHECK(std::memchr(words->word[k], '\0', kWordCapacity) != nullptr);
        FUZZ_CHECK(expected == words->word[k]);
        start = end + 1;
    }
    return 0;
}
