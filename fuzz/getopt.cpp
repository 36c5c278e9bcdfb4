// getopt.cpp: fuzz target for the option parser GetOpt, over option tables and command lines.
//
// Contents:
//   ArgumentWindow           an argument vector whose words sit at any index, however large
//   ParseInput               the option table and the command-line words of one input
//   CheckResult              what a parsed option must look like
//   RecoverAfterUsageError   brings the parser back to a known position after a refusal
//   LLVMFuzzerTestOneInput
//
// The input is text: lines of an option table, an empty line, then one command-line word per
// line. A table line is a digit for `single`, a digit for `argtype`, then the name ("11-n" is
// the single-letter option -n taking an integer, "00--help" the long option --help taking no
// argument).
//
// The parser is driven through its throwing twin, marrowind::util::GetOpt: the C-style GetOpt
// is the same walk, but ends the process on the first refused command line.
//
// GetOpt keeps its position (the index of the word it examines, and a pointer into a group of
// letters) in static variables that nothing resets: one process walks one argument vector. To
// run a walk per input in one process, every input's words are placed at the index where the
// parser stands, in a vector whose earlier entries are never read. After a refused command line
// the position is undefined, so the parser is walked over a known option until it stands
// still again.
#include <sys/mman.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "check.h"
#include "marrowind/errors.h"
#include "marrowind/util.h"

namespace {

constexpr std::size_t kArenaSize = 1 << 16;  // bytes of all words of one input
constexpr int kRecoveryWords = 8;            // words ahead of the position that recovery fills

// Word text lives here, never freed or moved, so that a pointer the parser kept into an earlier
// input's words still points at readable bytes.
char word_arena[kArenaSize];
char recovery_word[] = "-RR";

// A vector of 2^31 word pointers reserved as address space only: pages are touched where the
// current words stand and are given back as the position moves on.
class ArgumentWindow {
public:
    ArgumentWindow()
    {
        void* reserved = mmap(nullptr, kEntries * sizeof(char*), PROT_READ | PROT_WRITE,
                              MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
        FUZZ_CHECK(reserved != MAP_FAILED);
        words_ = static_cast<char**>(reserved);
    }

    char** argv() const { return words_; }
    char*& at(int index) { return words_[index]; }
    bool has_room(int index, int count) const
    {
        return static_cast<long long>(index) + count < static_cast<long long>(kEntries);
    }

    // Gives back the pages that lie wholly before index.
    void release_before(int index)
    {
        const std::size_t page_entries = 4096 / sizeof(char*);
        const std::size_t pages = static_cast<std::size_t>(index) / page_entries;
        if (pages > released_pages_) {
            madvise(words_ + released_pages_ * page_entries,
                    (pages - released_pages_) * page_entries * sizeof(char*), MADV_DONTNEED);
            released_pages_ = pages;
        }
    }

private:
    static constexpr std::size_t kEntries = std::size_t{1} << 31;
    char** words_;
    std::size_t released_pages_ = 0;
};

struct ParsedInput {
    std::vector<std::string> names;  // kept alive for the table's name pointers
    std::vector<OptSpec> table;
    std::vector<char*> words;        // in word_arena
};

// Returns false for an input that does not fit the arena.
bool ParseInput(const uint8_t* data, std::size_t size, ParsedInput& input)
{
    const std::string text(reinterpret_cast<const char*>(data), size);
    std::vector<std::string> lines;
    for (std::size_t at = 0;;) {
        const std::size_t end = text.find('\n', at);
        lines.push_back(text.substr(at, end == std::string::npos ? std::string::npos : end - at));
        if (end == std::string::npos) break;
        at = end + 1;
    }
    if (!text.empty() && text.back() == '\n') lines.pop_back();  // it ends the last line

    std::size_t line = 0;
    for (; line < lines.size() && !lines[line].empty(); ++line) {
        if (lines[line].size() < 2) continue;
        input.names.push_back(lines[line].substr(2));
        input.table.push_back({nullptr, lines[line][0] - '0', lines[line][1] - '0'});
    }
    for (std::size_t r = 0; r < input.table.size(); ++r) input.table[r].name = input.names[r].c_str();

    std::size_t arena_used = 0;
    for (++line; line < lines.size(); ++line) {
        const std::string& word = lines[line];
        if (arena_used + word.size() + 1 > kArenaSize) return false;
        std::memcpy(word_arena + arena_used, word.c_str(), word.size() + 1);
        input.words.push_back(word_arena + arena_used);
        arena_used += word.size() + 1;
    }
    return true;
}

void CheckResult(const ParsedInput& input, const char* name, const char* argument)
{
    const OptSpec* row = nullptr;
    for (const OptSpec& candidate : input.table)
        if (candidate.name == name) row = &candidate;
    FUZZ_CHECK(row != nullptr);
    FUZZ_CHECK((row->argtype == 0) == (argument == nullptr));
    if (row->argtype == 1) FUZZ_CHECK(OptIsInt(argument) == 1);
    if (row->argtype == 2) FUZZ_CHECK(OptIsReal(argument) == 1);
    if (row->argtype == 3) FUZZ_CHECK(std::strlen(argument) == 1);
}

// A refusal leaves the parser within a few words of where it stood, perhaps in the middle of a
// group of letters of a word it has passed. Every word it could look at next and every byte of
// the arena become the single-letter option -R with attached text, so one call consumes it and
// the parser stands between words again, at the index it reports.
int RecoverAfterUsageError(ArgumentWindow& window, int position)
{
    std::memset(word_arena, 'R', kArenaSize - 1);
    word_arena[kArenaSize - 1] = '\0';
    for (int k = 0; k < kRecoveryWords; ++k) window.at(position + k) = recovery_word;
    static char recovery_name[] = "-R";
    const OptSpec recovery_table[] = {{recovery_name, 1, 4}};
    int index = 0;
    char* name = nullptr;
    char* argument = nullptr;
    const int parsed = marrowind::util::GetOpt(position + kRecoveryWords, window.argv(),
                                               recovery_table, 1, "", &index, &name, &argument);
    FUZZ_CHECK(parsed == 1 && name == recovery_name);
    FUZZ_CHECK(index > position && index <= position + kRecoveryWords);
    return index;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static ArgumentWindow window;
    static int position = 1;  // where the parser stands: the index of the next word it reads

    ParsedInput input;
    if (!ParseInput(data, size, input)) return -1;
    const int word_count = static_cast<int>(input.words.size());
    // Reaching the end of the reserved vector takes some 2^31 words; a run that gets there
    // simply stops exercising the parser.
    if (!window.has_room(position, word_count + kRecoveryWords)) return 0;

    window.release_before(position);
    for (int k = 0; k < word_count; ++k) window.at(position + k) = input.words[k];
    const int argc = position + word_count;

    int before_call = position;
    try {
        // Each call consumes a word or a letter of one, so the walk is bounded by the input.
        for (std::size_t calls = 0;; ++calls) {
            FUZZ_CHECK(calls <= size + 1);
            int index = -1;
            char* name = nullptr;
            char* argument = nullptr;
            const int parsed = marrowind::util::GetOpt(argc, window.argv(), input.table.data(),
                                                       static_cast<int>(input.table.size()),
                                                       "usage\n", &index, &name, &argument);
            FUZZ_CHECK(index >= before_call && index <= argc);
            if (parsed == 0) {
                FUZZ_CHECK(name == nullptr && argument == nullptr);
                position = index;
                break;
            }
            FUZZ_CHECK(parsed == 1);
            CheckResult(input, name, argument);
            before_call = index;
        }
    } catch (const marrowind::UsageError& refusal) {
        FUZZ_CHECK(std::strncmp(refusal.what(), "FATAL: ", 7) == 0);
        position = RecoverAfterUsageError(window, before_call);
    }
    return 0;
}
