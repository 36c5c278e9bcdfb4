// errors.h: the typed exceptions that the scoring core and the utility library raise.
//
// Contents:
//   Error         base class: the exact message text for standard error and the exit status
//   InputError    bad input from the user (unreadable file, malformed alignment or matrix)
//   MalformedAlignment  an alignment that its format's reader refuses, with the one-line reason
//   DamagedCompressedData  gzip data that is damaged, cut short or followed by other bytes
//   OutOfMemory   an allocation that could not be satisfied
//   OutputError   a results file that could not be opened, or a write, flush or close of the
//                 results that failed
//   UsageError    a command line that the option parser refuses
//
// The core never writes error messages and never ends the process. It throws one of these;
// the command-line driver (or a caller of the library) decides what to do with it. what()
// is the whole message exactly as the program prints it, line ends included.
#ifndef MARROWIND_ERRORS_H
#define MARROWIND_ERRORS_H

#include <cstddef>
#include <stdexcept>
#include <string>

namespace marrowind {

class Error : public std::runtime_error {
public:
    Error(const std::string& message, int exit_status)
        : std::runtime_error(message), exit_status_(exit_status) {}

    // The status with which the command-line program ends after printing what().
    int exit_status() const noexcept { return exit_status_; }

private:
    int exit_status_;
};

// A file that cannot be opened or read, or whose contents the program refuses.
class InputError : public Error {
public:
    explicit InputError(const std::string& message) : Error(message, 1) {}

    // "\nError: <path> could not be opened\n"
    static InputError cannot_open(const std::string& path);
    // "\nError: <path> could not be read\n"
    static InputError cannot_read(const std::string& path);
};

// An alignment that the readers of <marrowind/readers.h> refuse: a text in no known format, one
// that breaks its format's rules, one without sequences, or sequences of unequal lengths.
// reason() is one line that names the source and, where there is one, the line at fault
// ("x.sto: not a valid Stockholm alignment: line 6: ..."); what() is that line as the program
// prints an error.
class MalformedAlignment : public InputError {
public:
    explicit MalformedAlignment(const std::string& reason)
        : InputError("\nError: " + reason + "\n"), reason_(reason) {}
    const std::string& reason() const noexcept { return reason_; }

private:
    std::string reason_;
};

// gzip data that cannot be decompressed whole: damaged, cut short, or followed by anything but
// zero padding. what() is InputError::cannot_read's message for the source; the type lets a
// caller say more.
class DamagedCompressedData : public InputError {
public:
    explicit DamagedCompressedData(const std::string& source)
        : InputError(cannot_read(source).what()) {}
};

// Memory ran out while asking for `requested` elements.
class OutOfMemory : public Error {
public:
    explicit OutOfMemory(long long requested);
    long long requested() const noexcept { return requested_; }

private:
    long long requested_;
};

// Results could not be written to `destination` (a path, or "standard output"): what() is
// "\nError: <destination> could not be written\n". error_number() is the system's errno for
// the failure (ENOSPC for a full disk), or 0 when there is none; what() never includes it, so
// the program's message stays the same whatever the cause.
class OutputError : public Error {
public:
    explicit OutputError(const std::string& destination, int error_number = 0);

    // "\nError: <path> could not be opened\n": an output file that could not be created.
    static OutputError cannot_open(const std::string& path, int error_number = 0);

    const std::string& destination() const noexcept { return destination_; }
    int error_number() const noexcept { return error_number_; }

private:
    OutputError(const std::string& message, const std::string& destination, int error_number);

    std::string destination_;
    int error_number_;
};

// A command line that breaks the option table: what() is "FATAL: ", the message, the
// program's usage text and a final newline, so that a program tells its user what went wrong
// and how it is called.
class UsageError : public Error {
public:
    explicit UsageError(const std::string& message) : Error(message, 1) {}
};

}  // namespace marrowind

#endif
