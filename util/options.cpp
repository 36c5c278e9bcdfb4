// options.cpp: a command-line option parser over a table of the options a program accepts.
//
// Contents:
//   GetOpt     walks the argument vector one option at a time (and its throwing twin, which
//              holds the position and does the work)
//   OptToDie   a program's fatal usage report: prints and ends the process
//   OptIsInt   integer test of an option argument
//   OptIsReal  real-number test of an option argument
#include <cctype>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "marrowind/errors.h"
#include "marrowind/util.h"
#include "util/exit_on_error.h"

namespace {

bool IsBlank(char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; }
bool IsDigit(char c) { return std::isdigit(static_cast<unsigned char>(c)) != 0; }
bool IsHexDigit(char c) { return std::isxdigit(static_cast<unsigned char>(c)) != 0; }

// "FATAL: ", the printf-style message, "\n": the whole report of a usage error.
std::string FatalReport(const char* format, std::va_list args)
{
    std::va_list measure;
    va_copy(measure, args);
    const int length = std::vsnprintf(nullptr, 0, format, measure);
    va_end(measure);
    std::string message(length > 0 ? static_cast<std::size_t>(length) : 0, '\0');
    if (length > 0) std::vsnprintf(&message[0], message.size() + 1, format, args);
    return "FATAL: " + message + "\n";
}

}  // namespace

namespace marrowind::util {

namespace {

[[noreturn]] void RefuseUsage(const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 1, 2)))
#endif
    ;

void RefuseUsage(const char* format, ...)
{
    std::va_list args;
    va_start(args, format);
    std::string report = FatalReport(format, args);
    va_end(args);
    throw marrowind::UsageError(report);
}

// A long option: the word (dashes included) matches a row when the row is long and its name
// starts with the word; a name of exactly the word's length is taken at once, whatever else
// matched before. Several matches without an exact one are ambiguous.
const OptSpec& FindLongOption(const OptSpec* opts, int nopts, const char* word, const char* usage)
{
    const std::size_t length = std::strlen(word);
    int matches = 0;
    const OptSpec* found = nullptr;
    bool exact = false;
    for (int r = 0; r < nopts; ++r) {
        if (opts[r].single != 0 || std::strncmp(opts[r].name, word, length) != 0) continue;
        ++matches;
        found = &opts[r];
        if (std::strlen(opts[r].name) == length) {
            exact = true;
            break;
        }
    }
    if (matches > 1 && !exact)
        RefuseUsage("Option \"%s\" is ambiguous; please be more specific.\n%s", word, usage);
    if (matches == 0) RefuseUsage("No such option \"%s\".\n%s", word, usage);
    return *found;
}

const OptSpec& FindLetterOption(const OptSpec* opts, int nopts, char letter, const char* usage)
{
    for (int r = 0; r < nopts; ++r) {
        const char* name = opts[r].name;
        if (opts[r].single == 1 && name[0] != '\0' && name[1] == letter) return opts[r];
    }
    RefuseUsage("No such option \"%c\".\n%s", letter, usage);
}

// Options without an argument (argtype 0) and those taking any text pass unchecked.
void CheckArgument(const OptSpec& option, const char* argument, const char* usage)
{
    switch (option.argtype) {
    case 1:
        if (!OptIsInt(argument))
            RefuseUsage("Option %s requires an integer argument\n%s", option.name, usage);
        break;
    case 2:
        if (!OptIsReal(argument))
            RefuseUsage("Option %s requires a numerical argument\n%s", option.name, usage);
        break;
    case 3:
        if (std::strlen(argument) != 1)
            RefuseUsage("Option %s requires a single-character argument\n%s", option.name, usage);
        break;
    default:
        break;
    }
}

}  // namespace

int GetOpt(int argc, char** argv, const OptSpec* opts, int nopts, const char* usage,
           int* optindex, char** optname, char** optarg)
{
    // The position in argv: the word being examined, and within it the next letter of a group
    // (or the value after a long option's "="); null between words. The C-style GetOpt runs
    // this function, so both walk the one position.
    static int optind = 1;
    static char* optptr = nullptr;

    const auto no_more_options = [&]() {
        *optindex = optind;
        *optname = nullptr;
        *optarg = nullptr;
        return 0;
    };
    if (optind >= argc || argv[optind][0] != '-' || std::strcmp(argv[optind], "-") == 0)
        return no_more_options();
    if (std::strcmp(argv[optind], "--") == 0) {
        ++optind;
        return no_more_options();
    }

    char* word = argv[optind];
    const OptSpec* option;
    if (optptr == nullptr && std::strncmp(word, "--", 2) == 0) {
        char* equals = std::strchr(word, '=');
        if (equals != nullptr) {
            *equals = '\0';
            optptr = equals + 1;
        }
        option = &FindLongOption(opts, nopts, word, usage);
        *optname = const_cast<char*>(option->name);
        if (option->argtype != 0) {
            if (optptr != nullptr) {
                *optarg = optptr;
                optptr = nullptr;
                optind += 1;
            } else if (optind + 1 >= argc) {
                RefuseUsage("Option %s requires an argument\n%s", option->name, usage);
            } else {
                *optarg = argv[optind + 1];
                optind += 2;
            }
        } else {
            if (optptr != nullptr)
                RefuseUsage("Option %s does not take an argument\n%s", option->name, usage);
            *optarg = nullptr;
            optind += 1;
        }
    } else {
        if (optptr == nullptr) optptr = word + 1;
        option = &FindLetterOption(opts, nopts, *optptr, usage);
        *optname = const_cast<char*>(option->name);
        const bool more_letters = optptr[1] != '\0';
        if (option->argtype != 0) {
            // The rest of the word, or else the next word, is the argument.
            if (more_letters) {
                *optarg = optptr + 1;
                optind += 1;
            } else if (optind + 1 >= argc) {
                RefuseUsage("Option %s requires an argument\n%s", option->name, usage);
            } else {
                *optarg = argv[optind + 1];
                optind += 2;
            }
            optptr = nullptr;
        } else {
            *optarg = nullptr;
            if (more_letters) {
                ++optptr;
            } else {
                optind += 1;
                optptr = nullptr;
            }
        }
    }

    CheckArgument(*option, *optarg, usage);
    *optindex = optind;
    return 1;
}

}  // namespace marrowind::util

int GetOpt(int argc, char** argv, const OptSpec* opts, int nopts, const char* usage,
           int* optindex, char** optname, char** optarg)
{
    return marrowind::detail::OrExit([=] {
        return marrowind::util::GetOpt(argc, argv, opts, nopts, usage, optindex, optname, optarg);
    });
}

void OptToDie(const char* format, ...)
{
    std::va_list args;
    va_start(args, format);
    const std::string report = FatalReport(format, args);
    va_end(args);
    marrowind::detail::ExitWith(marrowind::UsageError(report));
}

int OptIsInt(const char* text)
{
    if (text == nullptr) return 0;
    const char* p = text;
    while (IsBlank(*p)) ++p;
    if (*p == '-' || *p == '+') ++p;

    bool hexadecimal = false;
    if (p[0] == '0' && (p[1] == 'x' || p[1] == 'X') && p[2] != '\0') {
        hexadecimal = true;
        p += 2;
    }
    for (; *p != '\0'; ++p)
        if (!(hexadecimal ? IsHexDigit(*p) : IsDigit(*p))) return 0;
    return 1;
}

int OptIsReal(const char* text)
{
    if (text == nullptr) return 0;
    const char* p = text;
    while (IsBlank(*p)) ++p;
    if (*p == '-' || *p == '+') ++p;

    int digits = 0;
    bool point = false;
    bool exponent = false;
    for (; *p != '\0' && !IsBlank(*p); ++p) {
        if (IsDigit(*p)) {
            ++digits;
        } else if (*p == '.') {
            if (point || exponent) return 0;
            point = true;
        } else if (*p == 'e' || *p == 'E') {
            if (exponent) return 0;
            exponent = true;
        }
    }
    while (IsBlank(*p)) ++p;
    return *p == '\0' && digits > 0 ? 1 : 0;
}
