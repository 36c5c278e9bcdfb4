// harness.h: runs the marrowind program for the whole-program tests.
//
// Contents:
//   ProgramRun    exit status, standard output and standard error of one run
//   run_program   runs the program with arguments in a directory
//   run_script    runs a shell script that runs the program, in a directory
//   start_process starts a command in a directory and returns without waiting
//   CliTest       fixture giving each test a temporary directory of its own, and file helpers
#ifndef MARROWIND_TESTS_CLI_HARNESS_H
#define MARROWIND_TESTS_CLI_HARNESS_H

#include <gtest/gtest.h>

#include <sys/types.h>

#include <string>
#include <vector>

struct ProgramRun {
    int status = -1;     // exit status; -1 when the program did not exit normally
    int signal = 0;      // the signal that ended it, if one did
    long max_rss_kb = 0; // its peak resident memory, in KiB
    std::string out;
    std::string err;
};

// Runs `executable args...` with the working directory `dir`. Standard output goes to
// `stdout_path` when one is given (e.g. "/dev/full"); otherwise it is captured. `shell_prefix`,
// when set, runs the program through /bin/sh after that text (e.g. "ulimit -v 100000;").
ProgramRun run_program(const std::string& dir, const std::vector<std::string>& args,
                       const std::string& stdout_path = "", const std::string& shell_prefix = "");

// Starts `words` (the first looked up in PATH) in `dir`, with standard input from /dev/null,
// standard output on out_fd and standard error on err_fd, and SIGINT, SIGTERM and SIGHUP at
// their default actions (a test run in the background may have been started with SIGINT
// ignored). Returns the child's pid without waiting for it.
pid_t start_process(const std::string& dir, std::vector<std::string> words, int out_fd, int err_fd);

// Runs the shell script `script` in `dir`, with the program's path as $0 and `args` as $1...
ProgramRun run_script(const std::string& dir, const std::string& script,
                      const std::vector<std::string>& args = {});

std::string read_file(const std::string& path);
void write_file(const std::string& path, const std::string& contents);

class CliTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Runs the marrowind program in this test's directory.
    ProgramRun run(const std::vector<std::string>& args, const std::string& stdout_path = "",
                   const std::string& shell_prefix = "") const
    {
        return run_program(dir_, args, stdout_path, shell_prefix);
    }
    ProgramRun run_script(const std::string& script, const std::vector<std::string>& args = {}) const
    {
        return ::run_script(dir_, script, args);
    }
    std::string path(const std::string& name) const { return dir_ + "/" + name; }
    // Writes a file in this test's directory and returns its path.
    std::string make_file(const std::string& name, const std::string& contents) const;

    std::string dir_;
};

#endif
