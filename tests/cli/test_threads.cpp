// test_threads.cpp: a run uses the CPUs its process may run on, or MARROWIND_THREADS, and the
// same bytes come out whatever the count.
#include <gtest/gtest.h>

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <fstream>
#include <string>
#include <vector>

#include "cli/harness.h"
#include "core/cpus.h"

namespace {

const std::string kMatrix = std::string(MARROWIND_DATA_DIR) + "/blosum62.mat2";

int task_count(pid_t pid)
{
    DIR* tasks = opendir(("/proc/" + std::to_string(pid) + "/task").c_str());
    if (tasks == nullptr) return 0;
    int count = 0;
    while (const dirent* entry = readdir(tasks))
        if (entry->d_name[0] != '.') ++count;
    closedir(tasks);
    return count;
}

struct ObservedRun {
    int status = -1;
    int most_threads = 0;  // while the weights and the column scores were computed
    std::string err;
};

// Runs `environment... marrowind args...` through env(1), with standard output to out_path,
// and counts the program's threads from its "Calculating weights" line to its "Writing" line:
// the scoring stages alone, after the matrix's reading thread has ended.
ObservedRun observe(const std::string& dir, const std::vector<std::string>& prefix,
                    const std::vector<std::string>& args, const std::string& out_path)
{
    int err_pipe[2];
    if (pipe(err_pipe) != 0) return {};
    std::vector<std::string> words = prefix;
    words.push_back(MARROWIND_EXE);
    words.insert(words.end(), args.begin(), args.end());
    const int out_fd = open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const pid_t child = start_process(dir, words, out_fd, err_pipe[1]);
    close(out_fd);
    close(err_pipe[1]);
    ObservedRun run;
    bool scoring = false;
    bool done = false;
    for (;;) {
        pollfd readable{err_pipe[0], POLLIN, 0};
        if (poll(&readable, 1, scoring && !done ? 0 : 100) > 0) {
            char buffer[4096];
            const ssize_t got = read(err_pipe[0], buffer, sizeof buffer);
            if (got <= 0) break;
            run.err.append(buffer, static_cast<std::size_t>(got));
            scoring = run.err.find("Calculating weights/distances....\n") != std::string::npos;
            done = run.err.find("Writing alignment....\n") != std::string::npos;
        }
        if (scoring && !done) {
            // The program's main thread counts too; the matrix thread has been joined.
            run.most_threads = std::max(run.most_threads, task_count(child));
        }
    }
    close(err_pipe[0]);
    int status = 0;
    waitpid(child, &status, 0);
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

}  // namespace

class Threads : public CliTest {};

TEST_F(Threads, CountFollowsTheAllocationAndChangesNoByte)
{
    {
        // 1500 sequences x 600 columns: each scoring stage lasts long enough to be watched.
        std::ofstream out(path("in.fa"));
        std::uint32_t state = 5;
        for (int s = 0; s < 1500; ++s) {
            out << ">s" << s << '\n';
            for (int c = 0; c < 600; ++c) {
                state = state * 1664525u + 1013904223u;
                out << "ACDEFGHIKLMNPQRSTVWY-"[(state >> 8) % 21];
            }
            out << '\n';
        }
    }
    const std::vector<std::string> args = {"-a", "in.fa", "-m", kMatrix};
    const ObservedRun plain = observe(dir_, {"env"}, args, path("plain.out"));
    ASSERT_EQ(plain.status, 0) << plain.err;
    EXPECT_EQ(plain.most_threads, std::min(marrowind::detail::usable_cpus(), 1500));

    struct Case {
        std::vector<std::string> prefix;
        int threads;
    };
    const std::vector<Case> cases = {
        {{"taskset", "-c", "0"}, 1},
        {{"env", "MARROWIND_THREADS=1"}, 1},
        {{"env", "MARROWIND_THREADS=3"}, 3},  // an explicit count is taken as it is
        {{"taskset", "-c", "0", "env", "MARROWIND_THREADS="}, 1},  // empty: the default
    };
    for (const Case& c : cases) {
        std::string name;
        for (const std::string& word : c.prefix) name += word + " ";
        SCOPED_TRACE(name);
        const ObservedRun run = observe(dir_, c.prefix, args, path("run.out"));
        ASSERT_EQ(run.status, 0) << run.err;
        EXPECT_EQ(run.most_threads, c.threads);
        EXPECT_EQ(read_file(path("run.out")), read_file(path("plain.out")));
        EXPECT_EQ(run.err, plain.err);
    }
}

TEST_F(Threads, InvalidCountIsRefusedBeforeAnyWork)
{
    make_file("in.fa", ">a\nWC\n>b\nWK\n");
    for (const char* value : {"0", "-2", "two", "2x", " 2", "2147483648", "99999999999"}) {
        const ProgramRun run = this->run({"-a", "in.fa", "-m", kMatrix}, "",
                                         std::string("export MARROWIND_THREADS='") + value + "';");
        EXPECT_EQ(run.status, 1) << value;
        EXPECT_EQ(run.out, "");
        EXPECT_EQ(run.err, std::string("\nError: MARROWIND_THREADS is \"") + value +
                               "\"; it must be a whole number of threads from 1 to 2147483647\n");
    }
}

TEST(CpuQuota, CgroupFiguresRoundUpAndMaxMeansNone)
{
    using marrowind::detail::cgroup_v2_quota_cpus;
    EXPECT_EQ(cgroup_v2_quota_cpus("max 100000"), 0);
    EXPECT_EQ(cgroup_v2_quota_cpus("100000 100000"), 1);
    EXPECT_EQ(cgroup_v2_quota_cpus("150000 100000"), 2);
    EXPECT_EQ(cgroup_v2_quota_cpus("5000 100000"), 1);
    EXPECT_EQ(cgroup_v2_quota_cpus(""), 0);
    EXPECT_EQ(marrowind::detail::quota_cpus(-1, 100000), 0);  // cgroup v1's "no limit"
    EXPECT_EQ(marrowind::detail::quota_cpus(400000, 100000), 4);
}
