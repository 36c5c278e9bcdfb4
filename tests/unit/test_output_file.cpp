// test_output_file.cpp: output files as library callers use them: the guard against writing
// over an input, targets the user could not write, the temporaries of several open files
// removed by a signal, and signal dispositions left alone unless a SignalCleanup asks for them.
//
// Contents: the guard's cases, standard input among them; unwritable targets, judged for an
// unprivileged user and for the superuser; a signal with many files open; what SignalCleanup
// installs and restores.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <grp.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "marrowind/errors.h"
#include "marrowind/output.h"

namespace {

namespace fs = std::filesystem;

class OutputFileTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        char pattern[] = "/tmp/marrowind-output-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir_ = pattern;
    }
    void TearDown() override { fs::remove_all(dir_); }

    std::string make(const std::string& name, const std::string& contents) const
    {
        const std::string path = dir_ + "/" + name;
        std::ofstream(path, std::ios::binary) << contents;
        return path;
    }

    std::set<std::string> listing() const
    {
        std::set<std::string> names;
        for (const auto& entry : fs::directory_iterator(dir_))
            names.insert(entry.path().filename().string());
        return names;
    }

    std::string dir_;
};

bool refused(const std::string& output, const std::vector<std::string>& inputs)
{
    try {
        marrowind::refuse_to_overwrite_inputs(output, inputs);
        return false;
    } catch (const marrowind::InputError& e) {
        EXPECT_EQ(std::string(e.what()),
                  "\nError: " + output + " is an input file and will not be overwritten\n");
        return true;
    }
}

// Runs check() with `path` open on descriptor 0, then puts standard input back.
template <typename Check>
void with_standard_input(const std::string& path, Check check)
{
    const int saved = dup(STDIN_FILENO);
    const int opened = open(path.c_str(), O_RDONLY);
    ASSERT_GE(opened, 0);
    dup2(opened, STDIN_FILENO);
    close(opened);
    check();
    dup2(saved, STDIN_FILENO);
    close(saved);
}

// The user id that tests run as when they must not be the superuser ("nobody" on Debian).
constexpr uid_t kUnprivileged = 65534;

// How writing `path` whole through an OutputFile ends, in a child process that runs as an
// unprivileged user when this one is the superuser (who may write any file): 0 committed, 1
// refused with the message of a file that could not be opened, 2 anything else.
int outcome_unprivileged(const std::string& path)
{
    const pid_t child = fork();
    if (child == 0) {
        if (geteuid() == 0 && (setgroups(0, nullptr) != 0 || setgid(kUnprivileged) != 0 ||
                               setuid(kUnprivileged) != 0))
            std::_Exit(3);
        try {
            marrowind::OutputFile output(path);
            output.write("new\n", 4);
            output.commit();
            std::_Exit(0);
        } catch (const marrowind::OutputError& e) {
            std::_Exit(std::string(e.what()) == "\nError: " + path + " could not be opened\n" &&
                               e.error_number() == EACCES
                           ? 1
                           : 2);
        } catch (...) {
            std::_Exit(2);
        }
    }
    int status = 0;
    if (child < 0 || waitpid(child, &status, 0) != child || !WIFEXITED(status)) return -1;
    return WEXITSTATUS(status);
}

}  // namespace

// A file the user could not open for writing is refused, though the directory would let it be
// replaced; the file and its directory are left as they were.
TEST_F(OutputFileTest, TargetsTheUserCouldNotWriteAreRefused)
{
    ASSERT_EQ(chmod(dir_.c_str(), 0777), 0);  // anyone may create files here
    const std::string read_only = make("read-only.txt", "old\n");
    ASSERT_EQ(chmod(read_only.c_str(), 0444), 0);
    ASSERT_EQ(symlink("read-only.txt", (dir_ + "/link.txt").c_str()), 0);
    const std::string writable = make("writable.txt", "old\n");
    ASSERT_EQ(chmod(writable.c_str(), 0666), 0);

    const struct {
        std::string name;
        int outcome;
        std::string left;
    } cases[] = {
        {"read-only.txt", 1, "old\n"},
        {"link.txt", 1, "old\n"},  // judged by the file the link leads to
        {"writable.txt", 0, "new\n"},
        {"new.txt", 0, "new\n"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(outcome_unprivileged(dir_ + "/" + c.name), c.outcome) << c.name;
        std::ifstream in(dir_ + "/" + c.name);
        EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), c.left) << c.name;
    }
    EXPECT_EQ(listing(), (std::set<std::string>{"link.txt", "new.txt", "read-only.txt",
                                                "writable.txt"}));

    // The superuser may replace any file, as the shell lets it; the mode stays.
    if (geteuid() != 0) return;
    marrowind::OutputFile output(read_only);
    output.write("root\n", 5);
    output.commit();
    struct stat replaced {};
    ASSERT_EQ(stat(read_only.c_str(), &replaced), 0);
    EXPECT_EQ(replaced.st_mode & 07777, 0444u);
}

TEST_F(OutputFileTest, OutputsNamingAnInputAreRefused)
{
    const std::string alignment = make("in.fa", ">a\nAC\n");
    const std::string matrix = make("m.mat2", "A\n1\n");
    ASSERT_EQ(symlink("in.fa", (dir_ + "/link.fa").c_str()), 0);
    ASSERT_EQ(link(alignment.c_str(), (dir_ + "/hard.fa").c_str()), 0);
    const std::vector<std::string> inputs = {alignment, matrix};

    const struct {
        std::string output;
        bool refused;
    } cases[] = {
        {alignment, true},
        {dir_ + "/./m.mat2", true},
        {dir_ + "/link.fa", true},   // a link to an input
        {dir_ + "/hard.fa", true},   // another name of the same file
        {dir_ + "/out.txt", false},  // nothing there yet
        {dir_ + "/no/such/dir/out.txt", false},
        {"/dev/null", false},        // a device: writing it overwrites nothing
    };
    for (const auto& c : cases) EXPECT_EQ(refused(c.output, inputs), c.refused) << c.output;
    EXPECT_FALSE(refused("/dev/null", {"/dev/null"}));

    // "-" and /dev/stdin are whatever standard input is.
    with_standard_input(alignment, [&] {
        EXPECT_TRUE(refused(alignment, {"-"}));
        EXPECT_TRUE(refused(dir_ + "/hard.fa", {"/dev/stdin"}));
        EXPECT_FALSE(refused(matrix, {"-", "/dev/stdin"}));
    });
}

// More files than one block of the handler's slots, opened before and after the cleanup: a
// signal removes every temporary, leaves every target as it was, and ends the process as the
// signal does.
TEST_F(OutputFileTest, SignalRemovesTheTemporariesOfEveryOpenOutput)
{
    const std::string kept = make("kept.txt", "an earlier result\n");
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        std::vector<std::unique_ptr<marrowind::OutputFile>> outputs;
        outputs.push_back(std::make_unique<marrowind::OutputFile>(kept));
        for (int i = 0; i < 70; ++i)
            outputs.push_back(
                std::make_unique<marrowind::OutputFile>(dir_ + "/new" + std::to_string(i)));
        // Opening files installs nothing.
        struct sigaction action {};
        sigaction(SIGTERM, nullptr, &action);
        if (action.sa_handler != SIG_DFL) std::_Exit(2);
        const marrowind::SignalCleanup cleanup;
        outputs.push_back(std::make_unique<marrowind::OutputFile>(dir_ + "/late.txt"));
        for (const auto& output : outputs) output->write("partial\n", 8);
        raise(SIGTERM);
        std::_Exit(3);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM) << status;
    EXPECT_EQ(listing(), std::set<std::string>{"kept.txt"});
    std::ifstream in(kept);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "an earlier result\n");
}

TEST(SignalCleanupTest, InstallsOnlyWhileItLivesAndLeavesIgnoredSignalsIgnored)
{
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    struct sigaction hangup_before {};
    ASSERT_EQ(sigaction(SIGHUP, &ignore, &hangup_before), 0);
    struct sigaction term_before {};
    sigaction(SIGTERM, nullptr, &term_before);

    struct sigaction now {};
    {
        const marrowind::SignalCleanup cleanup;
        sigaction(SIGTERM, nullptr, &now);
        EXPECT_NE(now.sa_handler, term_before.sa_handler);
        sigaction(SIGHUP, nullptr, &now);
        EXPECT_EQ(now.sa_handler, SIG_IGN);
    }
    sigaction(SIGTERM, nullptr, &now);
    EXPECT_EQ(now.sa_handler, term_before.sa_handler);
    sigaction(SIGHUP, &hangup_before, nullptr);
}
