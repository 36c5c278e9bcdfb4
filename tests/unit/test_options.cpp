// test_options.cpp: the option parser (its throwing twin, and the C-style routine's exit) and
// its argument tests.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "marrowind/errors.h"
#include "marrowind/util.h"

namespace {

using Table = std::vector<OptSpec>;
using WordList = std::vector<std::string>;

const char kUsage[] = "usage: prog [options] file";

// A command line: the program name "prog", then the words, with argv pointing into storage.
struct CommandLine {
    explicit CommandLine(const WordList& words) : storage{"prog"}
    {
        storage.insert(storage.end(), words.begin(), words.end());
        for (std::string& word : storage) argv.push_back(word.data());
        argv.push_back(nullptr);
    }
    int argc() const { return static_cast<int>(storage.size()); }

    WordList storage;
    std::vector<char*> argv;
};

// GetOpt keeps its position for the life of the process, so every command line is parsed in a
// child process of its own. The trace lists each option as name[=argument]@index, then
// "end@index", or the report of the usage error; and the words after parsing, where the
// parser changed them.
std::string Trace(const Table& table, const WordList& words)
{
    int channel[2];
    if (pipe(channel) != 0) return "pipe failed";
    const pid_t child = fork();
    if (child == 0) {
        close(channel[0]);
        CommandLine line(words);
        std::vector<char*>& argv = line.argv;

        std::string trace;
        try {
            int index = -1;
            char* name = nullptr;
            char* argument = nullptr;
            while (marrowind::util::GetOpt(line.argc(), argv.data(), table.data(),
                                           static_cast<int>(table.size()), kUsage, &index, &name,
                                           &argument)) {
                trace += name;
                if (argument != nullptr) trace += std::string("=") + argument;
                trace += "@" + std::to_string(index) + " ";
            }
            trace += "end@" + std::to_string(index);
            if (name != nullptr || argument != nullptr) trace += " (pointers left set)";
        } catch (const marrowind::UsageError& e) {
            trace = e.what();
        }
        WordList after(argv.begin() + 1, argv.end() - 1);
        if (after != words) {
            trace += " |";
            for (const std::string& word : after) trace += " " + word;
        }
        const ssize_t written = write(channel[1], trace.data(), trace.size());
        _exit(written == static_cast<ssize_t>(trace.size()) ? 0 : 1);
    }
    close(channel[1]);
    std::string trace;
    char buffer[256];
    for (ssize_t got; (got = read(channel[0], buffer, sizeof buffer)) > 0;) trace.append(buffer, got);
    close(channel[0]);
    int status = 0;
    waitpid(child, &status, 0);
    return trace;
}

std::string Fatal(const std::string& message) { return "FATAL: " + message + "\n" + kUsage + "\n"; }

// A regular expression that matches exactly text.
std::string ExactText(const std::string& text)
{
    std::string pattern;
    for (char c : text) {
        if (std::strchr("\\^$.|?*+()[]{}", c) != nullptr) pattern += '\\';
        pattern += c;
    }
    return pattern;
}

}  // namespace

TEST(GetOpt, ParsesLettersLongNamesAndArgumentsAndStopsWhereOptionsEnd)
{
    const Table table{{"-n", 1, 1},     {"-a", 1, 0},      {"-b", 1, 0},     {"-c", 1, 3},
                      {"-r", 1, 2},     {"--size", 0, 4},  {"--help", 0, 0}, {"--hmm", 0, 0},
                      {"--num", 0, 1},  {"--number", 0, 1}};
    const Table number_first{{"--number", 0, 1}, {"--num", 0, 1}};
    struct Case {
        const Table& table;
        WordList words;
        std::string trace;
    };
    const Case cases[] = {
        {table, {"-n5", "file"}, "-n=5@2 end@2"},
        {table, {"-n", "5"}, "-n=5@3 end@3"},
        {table, {"-ab", "file"}, "-a@1 -b@2 end@2"},
        {table, {"-abn", "7", "-c", "x"}, "-a@1 -b@1 -n=7@3 -c=x@5 end@5"},
        {table, {"-r", " 2.5E-3 ", "--size", "any text"}, "-r= 2.5E-3 @3 --size=any text@5 end@5"},
        {table, {"--he", "--hm"}, "--help@2 --hmm@3 end@3"},
        {table, {"--num", "1", "--numb", "2"}, "--num=1@3 --number=2@5 end@5"},
        {number_first, {"--num", "1", "--numb", "2"}, "--num=1@3 --number=2@5 end@5"},
        {table, {"--size=10", "file"}, "--size=10@2 end@2 | --size file"},
        {table, {"-", "-a"}, "end@1"},
        {table, {"-a", "--", "-b"}, "-a@2 end@3"},
        {table, {"file", "-a"}, "end@1"},
        {table, {}, "end@1"},
        {table, {"--h"}, Fatal("Option \"--h\" is ambiguous; please be more specific.")},
        {table, {"--nu"}, Fatal("Option \"--nu\" is ambiguous; please be more specific.")},
        {table, {"-x"}, Fatal("No such option \"x\".")},
        {table, {"-ax"}, Fatal("No such option \"x\".")},
        {table, {"--bogus=3"}, Fatal("No such option \"--bogus\".") + " | --bogus"},
        {table, {"-nx"}, Fatal("Option -n requires an integer argument")},
        {table, {"-r", "1e2e3"}, Fatal("Option -r requires a numerical argument")},
        {table, {"-c", "xy"}, Fatal("Option -c requires a single-character argument")},
        {table, {"-c", ""}, Fatal("Option -c requires a single-character argument")},
        {table, {"-a", "-n"}, Fatal("Option -n requires an argument")},
        {table, {"--size"}, Fatal("Option --size requires an argument")},
        {table, {"--help=1"}, Fatal("Option --help does not take an argument") + " | --help"},
    };
    for (const Case& c : cases) {
        std::string command;
        for (const std::string& word : c.words) command += " [" + word + "]";
        SCOPED_TRACE(command);
        EXPECT_EQ(Trace(c.table, c.words), c.trace);
    }
}

// What a program that catches nothing sees: the report on standard error and status 1.
TEST(GetOpt, CStyleRoutineReportsEveryUsageErrorAndEndsTheProcessWithStatusOne)
{
    const Table table{{"-n", 1, 1}, {"--help", 0, 0}, {"--hmm", 0, 0}};
    const std::pair<WordList, std::string> cases[] = {
        {{"-z"}, "No such option \"z\"."},
        {{"--zz"}, "No such option \"--zz\"."},
        {{"--h"}, "Option \"--h\" is ambiguous; please be more specific."},
        {{"-n"}, "Option -n requires an argument"},
        {{"-nx"}, "Option -n requires an integer argument"},
        {{"--help=1"}, "Option --help does not take an argument"},
    };
    for (const auto& [words, message] : cases) {
        SCOPED_TRACE(words[0]);
        const auto parse_all = [&table, words = words]() {
            CommandLine line(words);
            int index = 0;
            char* name = nullptr;
            char* argument = nullptr;
            while (GetOpt(line.argc(), line.argv.data(), table.data(),
                          static_cast<int>(table.size()), kUsage, &index, &name, &argument)) {
            }
        };
        EXPECT_EXIT(parse_all(), testing::ExitedWithCode(1), "^" + ExactText(Fatal(message)) + "$");
    }
}

TEST(GetOpt, OptToDieReportsAndEndsTheProcessWithStatusOne)
{
    EXPECT_EXIT(OptToDie("No such option \"%c\".\n%s", 'q', "usage"), testing::ExitedWithCode(1),
                "^FATAL: No such option \"q\".\nusage\n$");
}

TEST(OptionArguments, IntegerAndRealTests)
{
    struct Case {
        const char* text;
        int integer;
        int real;
    };
    const Case cases[] = {
        {" 42", 1, 1},   {"-17", 1, 1},   {"+0", 1, 1},    {"0x1F", 1, 1},   {"0XfF", 1, 1},
        {"-0x1f", 1, 1}, {"", 1, 0},      {"  ", 1, 0},    {"-", 1, 0},      {"0x", 0, 1},
        {"12 ", 0, 1},   {"1.5", 0, 1},   {"4e2", 0, 1},   {"0xg", 0, 1},    {"3.14", 0, 1},
        {"-.5", 0, 1},   {"1e10", 0, 1},  {"2.5E-3", 0, 1}, {" 7 ", 0, 1},   {"e5", 0, 1},
        {"1.2.3", 0, 0}, {"1e5.0", 0, 0}, {"1e2e3", 0, 0}, {".", 0, 0},      {"12abc", 0, 1},
        {"1 2", 0, 0},   {"--1", 0, 1},   {"\xB2", 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string("[") + c.text + "]");
        EXPECT_EQ(OptIsInt(c.text), c.integer);
        EXPECT_EQ(OptIsReal(c.text), c.real);
    }
    EXPECT_EQ(OptIsInt(nullptr), 0);
    EXPECT_EQ(OptIsReal(nullptr), 0);
}
