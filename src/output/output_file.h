// output_file.h: a results file that ends up either complete or exactly as it was before.
//
// Contents:
//   OutputFile  the stream for one output path: a temporary beside the target, renamed over it
//               by commit(); standard output or standard error when the path names the file
//               already open there; the target itself when it is not a regular file
//
// A run that fails, or is killed, while it writes must not leave a file that looks like a
// result: a partial file, or an old result cut short. Writing to a temporary file in the
// target's own directory and renaming it into place gives the guarantee rename(2) gives: a
// reader, or a second run writing the same target at once, sees the old file or a whole new
// one, never a mixture.
#ifndef MARROWIND_OUTPUT_OUTPUT_FILE_H
#define MARROWIND_OUTPUT_OUTPUT_FILE_H

#include <cstdio>
#include <string>

namespace marrowind {

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
    //     it replaces one, or those a plain create would give.
    // Throws marrowind::InputError "\nError: <path> could not be opened\n" when that fails (no
    // such directory, no permission to create a file in it).
    explicit OutputFile(const std::string& path);

    // Without a successful commit(), the temporary file is closed and removed and the target
    // is left as it was.
    ~OutputFile();

    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    std::FILE* stream() const { return stream_; }

    // The temporary file being written, or an empty string when the target is written directly
    // or through a standard stream.
    const std::string& temporary_path() const { return temporary_; }

    // Flushes, syncs and closes the file and renames the temporary over the target; a standard
    // stream is only flushed. Throws marrowind::OutputError "\nError: <path> could not be
    // written\n" when any step fails, having removed the temporary.
    void commit();

private:
    void open_temporary_for(const std::string& target);
    void discard() noexcept;

    std::string path_;       // as the user gave it, for messages
    std::string target_;     // the file the temporary replaces
    std::string temporary_;  // empty unless writing through a temporary
    std::FILE* stream_ = nullptr;
    bool owns_stream_ = false;
};

}  // namespace marrowind

#endif
