// harness.cpp: process running and temporary directories for the whole-program tests.
//
// Contents: run_program, read_file, write_file, CliTest.
#include "cli/harness.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

std::string read_file(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

void write_file(const std::string& path, const std::string& contents)
{
    std::ofstream out(path, std::ios::binary);
    out << contents;
}

namespace {

// Runs argv_text in dir with standard input from /dev/null, standard output to stdout_path (or
// captured when it is empty) and standard error captured.
ProgramRun run_command(const std::string& dir, std::vector<std::string> argv_text,
                       const std::string& stdout_path)
{
    const std::string out_capture = dir + "/.stdout";
    const std::string err_capture = dir + "/.stderr";
    std::vector<char*> argv;
    for (std::string& word : argv_text) argv.push_back(word.data());
    argv.push_back(nullptr);

    const pid_t child = fork();
    if (child == 0) {
        const std::string out_target = stdout_path.empty() ? out_capture : stdout_path;
        const int in_fd = open("/dev/null", O_RDONLY);
        const int out_fd = open(out_target.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int err_fd = open(err_capture.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (in_fd < 0 || out_fd < 0 || err_fd < 0 || chdir(dir.c_str()) != 0) _exit(127);
        dup2(in_fd, 0);
        dup2(out_fd, 1);
        dup2(err_fd, 2);
        execv(argv[0], argv.data());
        _exit(127);
    }
    ProgramRun result;
    int wait_status = 0;
    struct rusage usage {};
    if (child < 0 || wait4(child, &wait_status, 0, &usage) != child) return result;
    result.max_rss_kb = usage.ru_maxrss;
    if (WIFEXITED(wait_status)) result.status = WEXITSTATUS(wait_status);
    if (WIFSIGNALED(wait_status)) result.signal = WTERMSIG(wait_status);
    if (stdout_path.empty()) result.out = read_file(out_capture);
    result.err = read_file(err_capture);
    std::filesystem::remove(out_capture);
    std::filesystem::remove(err_capture);
    return result;
}

}  // namespace

ProgramRun run_program(const std::string& dir, const std::vector<std::string>& args,
                       const std::string& stdout_path, const std::string& shell_prefix)
{
    if (shell_prefix.empty()) {
        std::vector<std::string> argv_text{MARROWIND_EXE};
        argv_text.insert(argv_text.end(), args.begin(), args.end());
        return run_command(dir, argv_text, stdout_path);
    }
    // Arguments reach the program as "$@", so none of them is parsed by the shell.
    std::vector<std::string> argv_text{"/bin/sh", "-c", shell_prefix + " exec \"$0\" \"$@\"",
                                       MARROWIND_EXE};
    argv_text.insert(argv_text.end(), args.begin(), args.end());
    return run_command(dir, argv_text, stdout_path);
}

pid_t start_process(const std::string& dir, std::vector<std::string> words, int out_fd, int err_fd)
{
    std::vector<char*> argv;
    for (std::string& word : words) argv.push_back(word.data());
    argv.push_back(nullptr);
    const pid_t child = fork();
    if (child == 0) {
        for (const int signal_number : {SIGINT, SIGTERM, SIGHUP}) signal(signal_number, SIG_DFL);
        const int in_fd = open("/dev/null", O_RDONLY);
        if (in_fd < 0 || chdir(dir.c_str()) != 0) _exit(127);
        dup2(in_fd, 0);
        dup2(out_fd, 1);
        dup2(err_fd, 2);
        execvp(argv[0], argv.data());
        _exit(127);
    }
    return child;
}

ProgramRun run_script(const std::string& dir, const std::string& script,
                      const std::vector<std::string>& args)
{
    std::vector<std::string> argv_text{"/bin/sh", "-c", script, MARROWIND_EXE};
    argv_text.insert(argv_text.end(), args.begin(), args.end());
    return run_command(dir, argv_text, "");
}

void CliTest::SetUp()
{
    std::string pattern = (std::filesystem::temp_directory_path() / "marrowind-cli-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
}

void CliTest::TearDown()
{
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
}

std::string CliTest::make_file(const std::string& name, const std::string& contents) const
{
    write_file(path(name), contents);
    return path(name);
}
