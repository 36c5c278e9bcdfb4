// output.h: what the program writes, for every caller: figures as the program prints them, the
// scored alignment, and output files that end up complete or exactly as they were.
//
// Contents:
//   format_score                a column score as the scored alignment shows it
//   format_dops                 the DOPS score as the program's "DOPS score: " line shows it
//   format_figure               a figure in full, as the tables write every figure
//   escape_field                text as one field of a tab-separated line, whatever it holds
//   write_scored_alignment      the scored alignment, one line per column
//   OutputFile                  a results file written whole or not at all
//   SignalCleanup               while it lives, a signal that ends the process first removes
//                               the temporary file of every OutputFile still open
//   refuse_to_overwrite_inputs  the guard against an output that names one of the inputs
//
// Nothing here prints, and nothing ends the process except a signal while a SignalCleanup
// lives. Failures are the exceptions of <marrowind/errors.h>, whose what() is the program's
// message: OutputError for a file that cannot be opened or written (with the system's error
// number where there is one), InputError for an output that names an input.
#ifndef MARROWIND_OUTPUT_H
#define MARROWIND_OUTPUT_H

#include <cstddef>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "marrowind/errors.h"

namespace marrowind {

namespace detail {
class RegisteredTemporary;  // a temporary file's path, where a signal handler finds it
}

// The score rounded to 3 decimals (score x 1000.0 taken to the nearest whole number, halves
// away from zero, divided by 1000.0) and then formatted "%5.3f": "0.063" for 0.0625, "0.124"
// for the double nearest 0.1235 (just below it, but 123.5 once multiplied), "-0.000" for
// -0.0001, "  nan" (or " -nan") for a not-a-number. Scores far outside 0..1 take more
// characters and are given in full.
std::string format_score(double score);

// The DOPS score formatted "%6.3f": "99.285", " 0.000".
std::string format_dops(double dops);

// A figure in full: the shortest decimal that reads back as the same double, laid out as
// Python's repr lays out a float. Fixed-point from 1e-4 up to (not including) 1e16, always with
// a point and at least one digit after it ("0.5", "100.0", "-0.0", "0.0001"); beyond that a
// mantissa and a signed exponent of at least two digits ("1e-05", "2.5e+16"). "nan", "inf"
// and "-inf" for the values that are no numbers.
std::string format_figure(double value);

// `text` as one field of a line of tab-separated text (a table's cell, a name in a viewer's
// file): each backslash written as "\\", each tab as "\t", each carriage return as "\r" and
// each line feed as "\n" (a backslash and a letter); every other byte as it is. So no field
// splits its line or its row, and undoing these four escapes, as many TSV readers do, gives
// the text back byte for byte: "a\tb" (with a tab) becomes the four characters a, \, t, b.
std::string escape_field(std::string_view text);

// Writes the scored alignment of `rows` (one per sequence, in order, each exactly `columns`
// bytes) with `scores` (one per column): one line per column i, in order, of format_score of
// scores[i], 11 spaces, "#", 14 spaces, byte i of every row in row order, and "\n". Rows are
// read as the scoring reads them: "." as "-" and a to z as A to Z; every other byte is
// written as it is. So a line of n rows is 32 + n bytes for a score from 0 to 1.
// Throws InputError when a row is not `columns` bytes long (before writing anything), and
// OutputError(destination, errno) when a write to `out` fails. `out` is neither flushed nor
// closed.
void write_scored_alignment(std::FILE* out, const std::vector<std::string_view>& rows,
                            const double* scores, std::size_t columns,
                            const std::string& destination);

// As above, handing the text to `sink` a block of whole lines at a time (at most 32 lines, in
// order); what `sink` throws passes to the caller.
void write_scored_alignment(const std::function<void(std::string_view)>& sink,
                            const std::vector<std::string_view>& rows, const double* scores,
                            std::size_t columns);

// A results file that a reader, or a second writer of the same path at the same moment, sees
// either as it was before or complete, never in part. Written to a temporary file beside the
// target (".NAME.XXXXXX" in its directory), which commit() renames over it. Several may be
// open at once, in any threads; each object belongs to one thread at a time.
class OutputFile {
public:
    // Opens `path` for writing, as the user gave it:
    //   - the file already open on standard output or standard error (/dev/stdout,
    //     /proc/self/fd/1, or the very file that stream was redirected to) is written through
    //     that stream, after what it already holds;
    //   - something other than a regular file (a terminal, a pipe, /dev/null) is opened and
    //     written directly;
    //   - otherwise a new temporary file is made beside the target (a symbolic link is followed
    //     to the file it names, and stays a link), with the target's permissions and owner when
    //     it replaces one (the owner where the system allows it), or those a plain create
    //     gives under the umask.
    // An existing file that the running user could not open for writing (a read-only file, one
    // of another user's) is refused, as the shell's ">" refuses it, though the directory would
    // let it be replaced; the superuser may replace any file. Throws OutputError "\nError:
    // <path> could not be opened\n" when that fails (no such directory, no permission to
    // create a file in it or to write the file, a loop of links), the target left as it was.
    explicit OutputFile(const std::string& path);

    // Writes through `stream`, an open standard stream such as stdout, named `name` in
    // messages ("standard output"); commit() only flushes it, and nothing closes it.
    OutputFile(std::FILE* stream, const std::string& name);

    // Without a successful commit(), as discard().
    ~OutputFile();

    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    // The stream to write to; null once committed or discarded.
    std::FILE* stream() const { return stream_; }

    // The path as the user gave it (or the stream's name), as messages name it.
    const std::string& path() const { return path_; }

    // The temporary file being written, or an empty string when the target is written
    // directly or through a standard stream, or once committed or discarded.
    const std::string& temporary_path() const { return temporary_; }

    // Writes `size` bytes. Throws OutputError(path(), errno) when the write fails, and when the
    // file is already committed or discarded.
    void write(const char* data, std::size_t size);

    // Flushes, syncs and closes the file and renames the temporary over the target; a stream
    // that is not its own is only flushed. Throws OutputError(path(), errno) when any step
    // fails, having removed the temporary, so that the target is left as it was.
    void commit();

    // Closes the file and removes the temporary now, leaving the target as it was. Once
    // committed, does nothing.
    void discard() noexcept;

private:
    void open_temporary_for(const std::string& target);

    std::string path_;       // as the user gave it, for messages
    std::string target_;     // the file the temporary replaces
    std::string temporary_;  // empty unless writing through a temporary
    std::FILE* stream_ = nullptr;
    bool owns_stream_ = false;
    std::unique_ptr<detail::RegisteredTemporary> registered_;
};

// While an object of this class lives, each of SIGINT, SIGTERM, SIGHUP and SIGXFSZ removes the
// temporary file of every OutputFile open at that moment, in any thread, and then ends the
// process as the signal's default action does (a shell reports status 128 + its number). A
// signal that is ignored when the object is made stays ignored: with SIGXFSZ ignored, a write
// past the file-size limit fails and is reported as OutputError instead. The object restores
// the handlers it found when it ends; objects must end in the reverse order of their making.
//
// For programs: only a program decides what a signal does to its process, so the library
// never makes one of these on its own.
class SignalCleanup {
public:
    SignalCleanup();
    ~SignalCleanup();

    SignalCleanup(const SignalCleanup&) = delete;
    SignalCleanup& operator=(const SignalCleanup&) = delete;

private:
    struct Previous;  // the dispositions found at construction
    std::unique_ptr<Previous> previous_;
};

// Throws InputError "\nError: <output> is an input file and will not be overwritten\n" when
// `output` and one of `inputs` name the same file: the same device and inode once symbolic
// links are followed. An input "-" or "/dev/stdin" is whatever is open on descriptor 0. Paths
// that name nothing (yet) match nothing, and neither does an output that is a terminal, a pipe
// or a socket, since writing one overwrites nothing that was read from it.
void refuse_to_overwrite_inputs(const std::string& output, const std::vector<std::string>& inputs);

}  // namespace marrowind

#endif
