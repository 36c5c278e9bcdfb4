// test_output_safety.cpp: an output file ends up complete or exactly as it was, whatever stops
// the run: a file-size limit, a full file system, a signal while writing, a second run writing
// the same file, a file the user could not write; and standard output named as the output file
// is never written over itself.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "cli/harness.h"

namespace {

const std::string kMatrix = std::string(MARROWIND_DATA_DIR) + "/blosum62.mat2";
const std::string kOld = "an earlier result that must survive\n";

// A seeded alignment of related sequences; different seeds give different scores.
void write_family(const std::string& path, int sequences, int columns, std::uint32_t seed)
{
    static const std::string residues = "ACDEFGHIKLMNPQRSTVWY-";
    std::ofstream out(path, std::ios::binary);
    const auto next = [&seed]() { return (seed = seed * 1664525u + 1013904223u) >> 8; };
    std::string ancestor(static_cast<std::size_t>(columns), 'A');
    for (char& c : ancestor) c = residues[next() % residues.size()];
    for (int s = 0; s < sequences; ++s) {
        std::string seq = ancestor;
        for (int k = 0; k < columns / 4; ++k) seq[next() % columns] = residues[next() % residues.size()];
        out << ">s" << s << '\n' << seq << '\n';
    }
}

// The names in a directory, hidden ones included.
std::set<std::string> listing(const std::string& dir)
{
    std::set<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(dir))
        names.insert(entry.path().filename().string());
    return names;
}

// Starts the program in dir with the given standard error; standard output goes to /dev/null.
pid_t start_program(const std::string& dir, const std::vector<std::string>& args, int err_fd)
{
    std::vector<std::string> words{MARROWIND_EXE};
    words.insert(words.end(), args.begin(), args.end());
    const int null_fd = open("/dev/null", O_WRONLY);
    const pid_t child = start_process(dir, words, null_fd, err_fd);
    close(null_fd);
    return child;
}

// The child's wait status; a child still running after a minute is killed, so that a run that
// ignores its signal fails the test instead of hanging it.
int wait_for(pid_t child)
{
    int status = 0;
    for (int tries = 0; tries < 6000; ++tries) {
        if (waitpid(child, &status, WNOHANG) == child) return status;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    kill(child, SIGKILL);
    waitpid(child, &status, 0);
    return status;
}

}  // namespace

class OutputSafety : public CliTest {
protected:
    void SetUp() override
    {
        CliTest::SetUp();
        // 300 sequences x 400 columns: 133 kB of output, past a 100 kB file-size limit.
        write_family(path("in.fa"), 300, 400, 1);
        make_file("keep.txt", kOld);
        before_ = listing(dir_);
    }

    // The directory holds what it held before the run: no temporary left behind.
    void expect_nothing_left_behind() const { EXPECT_EQ(listing(dir_), before_); }

    std::set<std::string> before_;
};

TEST_F(OutputSafety, FileSizeLimitLeavesTheOldFileUntouched)
{
    // The limit's signal ends the run, as it would any program; its status is 128 + SIGXFSZ.
    ProgramRun run = this->run({"-a", "in.fa", "-m", kMatrix, "-o", "keep.txt"}, "",
                               "ulimit -f 100;");
    EXPECT_EQ(run.signal, SIGXFSZ);
    EXPECT_EQ(read_file(path("keep.txt")), kOld);
    expect_nothing_left_behind();

    // With the signal ignored the write fails, and the run says so.
    run = this->run({"-a", "in.fa", "-m", kMatrix, "-o", "keep.txt"}, "",
                    "trap '' XFSZ; ulimit -f 100;");
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, "");
    const std::string failure = "Writing alignment....\n\nError: keep.txt could not be written\n";
    EXPECT_EQ(run.err.substr(run.err.size() - std::min(run.err.size(), failure.size())), failure);
    EXPECT_EQ(read_file(path("keep.txt")), kOld);
    expect_nothing_left_behind();

    // A result small enough to stay in the stream's buffer (1.4 kB) fails only when it is
    // flushed, past a limit of one block (which the progress lines stay under).
    write_family(path("small.fa"), 4, 40, 2);
    before_ = listing(dir_);
    run = this->run({"-a", "small.fa", "-m", kMatrix, "-o", "keep.txt"}, "",
                    "trap '' XFSZ; ulimit -f 1;");
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err.substr(run.err.size() - std::min(run.err.size(), failure.size())), failure);
    EXPECT_EQ(read_file(path("keep.txt")), kOld);
    expect_nothing_left_behind();
}

// A file system of 256 kB, mounted in a namespace of the test's own; skipped where the system
// allows no such mount. The large output fails while it is written, the small one when the last
// of it is flushed.
TEST_F(OutputSafety, FullFileSystemLeavesTheOldFileUntouched)
{
    write_family(path("small.fa"), 4, 30, 2);
    const std::string script =
        "mkdir small && unshare -Urm sh -c '"
        "  mount -t tmpfs -o size=256k none small || exit 77;"
        "  printf \"%s\" \"$0\" > small/keep.txt;"
        "  head -c 240000 /dev/zero > small/filler;"
        "  \"$1\" -a \"$2\" -m \"$3\" -o small/keep.txt 2> err1; echo $? > status1;"
        "  rm small/filler; head -c 262000 /dev/zero > small/filler;"
        "  \"$1\" -a small.fa -m \"$3\" -o small/keep.txt 2> err2; echo $? > status2;"
        "  cat small/keep.txt > after.txt; ls -A small > listing.txt"
        "' \"$1\" \"$0\" in.fa \"$2\"";
    const ProgramRun run = this->run_script(script, {kOld, kMatrix});
    if (run.status == 77 || run.status == 1) GTEST_SKIP() << "no tmpfs mount here: " << run.err;
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(read_file(path("status1")), "1\n");
    EXPECT_EQ(read_file(path("status2")), "1\n");
    for (const char* err : {"err1", "err2"}) {
        const std::string text = read_file(path(err));
        EXPECT_NE(text.find("\nError: small/keep.txt could not be written\n"), std::string::npos)
            << text;
        EXPECT_EQ(text.find("Done."), std::string::npos);
    }
    EXPECT_EQ(read_file(path("after.txt")), kOld);
    EXPECT_EQ(read_file(path("listing.txt")), "filler\nkeep.txt\n");
}

// The run is held inside its "Writing alignment...." line, with the temporary file made, by a
// standard error pipe that the test has filled to exactly the bytes of the lines before it.
TEST_F(OutputSafety, SignalWhileWritingLeavesTheOldFileUntouched)
{
    const std::string before_writing =
        "Reading FASTA file....\nFinishing parsing....\nUsing matrix file: \"" + kMatrix +
        "\"\nCalculating weights/distances....\n"
        "Calculating positional conservation scores....\n";
    for (const int signal_number : {SIGTERM, SIGINT, SIGHUP}) {
        SCOPED_TRACE(strsignal(signal_number));
        int pipe_fds[2];
        ASSERT_EQ(pipe(pipe_fds), 0);
        const int capacity = fcntl(pipe_fds[1], F_SETPIPE_SZ, 4096);
        ASSERT_GE(capacity, static_cast<int>(before_writing.size()));
        const std::string filler(static_cast<std::size_t>(capacity) - before_writing.size(), '.');
        ASSERT_EQ(write(pipe_fds[1], filler.data(), filler.size()),
                  static_cast<ssize_t>(filler.size()));

        const pid_t child =
            start_program(dir_, {"-a", "in.fa", "-m", kMatrix, "-o", "keep.txt"}, pipe_fds[1]);
        ASSERT_GT(child, 0);
        bool temporary_seen = false;
        for (int tries = 0; tries < 1000 && !temporary_seen; ++tries) {
            temporary_seen = listing(dir_).size() > before_.size();
            if (!temporary_seen) std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        EXPECT_TRUE(temporary_seen);
        kill(child, signal_number);
        const int status = wait_for(child);
        close(pipe_fds[0]);
        close(pipe_fds[1]);
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == signal_number) << status;
        EXPECT_EQ(read_file(path("keep.txt")), kOld);
        expect_nothing_left_behind();
    }
}

// Few sequences and many columns: little to compute and 4 MB to write, so that the two runs
// write at the same time.
TEST_F(OutputSafety, ConcurrentRunsLeaveOneWholeResult)
{
    write_family(path("other.fa"), 40, 100000, 3);
    write_family(path("in.fa"), 40, 100000, 4);
    const std::vector<std::string> first = {"-a", "in.fa", "-m", kMatrix, "-o", "out.txt"};
    const std::vector<std::string> second = {"-a", "other.fa", "-m", kMatrix, "-o", "out.txt"};
    ASSERT_EQ(this->run(first).status, 0);
    const std::string first_result = read_file(path("out.txt"));
    ASSERT_EQ(this->run(second).status, 0);
    const std::string second_result = read_file(path("out.txt"));
    ASSERT_NE(first_result, second_result);
    const std::set<std::string> files = listing(dir_);

    const int null_fd = open("/dev/null", O_WRONLY);
    for (int round = 0; round < 20; ++round) {
        const pid_t one = start_program(dir_, first, null_fd);
        const pid_t two = start_program(dir_, second, null_fd);
        EXPECT_EQ(wait_for(one), 0);
        EXPECT_EQ(wait_for(two), 0);
        const std::string result = read_file(path("out.txt"));
        EXPECT_TRUE(result == first_result || result == second_result) << "round " << round;
        EXPECT_EQ(listing(dir_), files);
    }
    close(null_fd);
}

TEST_F(OutputSafety, StandardStreamsNamedAsTheOutputAreWrittenInOrder)
{
    const ProgramRun plain = this->run({"-a", "in.fa", "-m", kMatrix});
    ASSERT_EQ(plain.status, 0);
    for (const char* name : {"/dev/stdout", "/proc/self/fd/1"}) {
        const ProgramRun run = this->run({"-a", "in.fa", "-m", kMatrix, "-o", name},
                                         path("redirected.txt"));
        EXPECT_EQ(run.status, 0) << run.err;
        EXPECT_EQ(read_file(path("redirected.txt")), plain.out) << name;
    }
    const ProgramRun to_error = this->run({"-a", "in.fa", "-m", kMatrix, "-o", "/dev/stderr"});
    EXPECT_EQ(to_error.status, 0);
    const std::size_t dops_at = plain.out.rfind("DOPS score: ");
    EXPECT_NE(to_error.err.find("Writing alignment....\n" + plain.out.substr(0, dops_at) +
                                "Calculating DOPs score....\n"),
              std::string::npos);
}

TEST_F(OutputSafety, LinksStayLinksAndPermissionsAreKept)
{
    ASSERT_EQ(chmod(path("keep.txt").c_str(), 0640), 0);
    ASSERT_EQ(symlink("keep.txt", path("link.txt").c_str()), 0);
    ProgramRun run = this->run({"-a", "in.fa", "-m", kMatrix, "-o", "link.txt"});
    ASSERT_EQ(run.status, 0) << run.err;
    struct stat entry {};
    ASSERT_EQ(lstat(path("link.txt").c_str(), &entry), 0);
    EXPECT_TRUE(S_ISLNK(entry.st_mode));
    ASSERT_EQ(stat(path("keep.txt").c_str(), &entry), 0);
    EXPECT_EQ(entry.st_mode & 07777, 0640u);
    EXPECT_NE(read_file(path("keep.txt")), kOld);

    // A new file gets what the umask leaves of read and write for everyone.
    run = this->run({"-a", "in.fa", "-m", kMatrix, "-o", "new.txt"}, "", "umask 027;");
    ASSERT_EQ(run.status, 0) << run.err;
    ASSERT_EQ(stat(path("new.txt").c_str(), &entry), 0);
    EXPECT_EQ(entry.st_mode & 07777, 0640u);
}

// A file the user could not open for writing is refused as the shell's ">" refuses it, though
// its directory would let a temporary replace it. The superuser, who may write any file, runs
// the program as "nobody" for this; the superuser's own run may replace it.
TEST_F(OutputSafety, FileTheUserCouldNotWriteIsRefused)
{
    ASSERT_EQ(chmod(dir_.c_str(), 0777), 0);
    ASSERT_EQ(chmod(path("keep.txt").c_str(), 0444), 0);
    ASSERT_EQ(symlink("keep.txt", path("link.txt").c_str()), 0);
    before_ = listing(dir_);
    const std::string unprivileged =
        "if [ \"$(id -u)\" = 0 ]; then"
        "  exec setpriv --reuid=65534 --regid=65534 --clear-groups \"$0\" \"$@\"; fi;"
        "exec \"$0\" \"$@\"";
    for (const char* name : {"keep.txt", "link.txt"}) {
        const ProgramRun run =
            this->run_script(unprivileged, {"-a", "in.fa", "-m", kMatrix, "-o", name});
        EXPECT_EQ(run.status, 1) << name;
        EXPECT_EQ(run.out, "");
        const std::string refusal = "Calculating positional conservation scores....\n\nError: " +
                                    std::string(name) + " could not be opened\n";
        EXPECT_EQ(run.err.substr(run.err.size() - std::min(run.err.size(), refusal.size())),
                  refusal);
        EXPECT_EQ(read_file(path("keep.txt")), kOld);
        expect_nothing_left_behind();
    }
    if (geteuid() != 0) return;
    const ProgramRun run = this->run({"-a", "in.fa", "-m", kMatrix, "-o", "keep.txt"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_NE(read_file(path("keep.txt")), kOld);
}

#ifndef MARROWIND_SANITIZED

// A sequence of 2^31 + 5 residues does not fit the records' 32-bit length: it is refused as
// soon as it outgrows them, never scored as a shorter one.
TEST_F(OutputSafety, SequenceLongerThanTheRecordsHoldIsRefused)
{
    const ProgramRun run = this->run_script(
        "{ printf '>long\\n'; head -c 2147483653 /dev/zero | tr '\\0' A; } |"
        " \"$0\" -a /dev/stdin -m \"$1\"",
        {kMatrix});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, "Reading FASTA file....\n\nError: /dev/stdin: sequence with index 0 has "
                       "more than 2147483647 columns, the most an alignment can hold\n");
}

#endif
