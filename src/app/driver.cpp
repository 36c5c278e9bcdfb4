// driver.cpp: the command-line program: options, matrix file search, the run and its report.
//
// Contents:
//   make_options, parse_command_line  the option table and what the command line asks for
//   first_non_empty_file              the first non-empty file among the candidate paths
//   MatrixLoad                        the matrix, read on a helper thread during the alignment
//   TerminalProgress                  the live progress of the long stages on a terminal
//   prepare_heap_for                  the heap's room for the records, mapped at once
//   CommandLineRun                    the program's side of the scoring pipeline: reading,
//                                     progress lines, the output file
//   run_scoring                       one run, its DOPS line and its completion
//   RunCommandLine
//
// Every stage reports a failure by throwing one of the core's exceptions; this file alone turns
// them into a message on standard error and an exit status.
#include "app/driver.h"

#include <boost/filesystem.hpp>
#include <boost/program_options.hpp>

#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <iostream>
#include <functional>
#include <memory>
#include <new>
#include <optional>
#include <sstream>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "core/pages.h"
#include "core/records.h"
#include "input/alignment_reader.h"
#include "input/validate.h"
#include "marrowind/errors.h"
#include "marrowind/output.h"
#include "matrix/matrix.h"
#include "output/writer.h"
#include "pipeline/pipeline.h"
#include "scoring/dops.h"
#include "scoring/exact/stages.h"

namespace fs = boost::filesystem;
namespace po = boost::program_options;

namespace {

// Where an installed matrix is looked for when --matrix is not given, in this order.
const char* const kDefaultMatrixPaths[] = {
    "/usr/local/svn/source/Gildmoor/trunk/src/Marrowind/PET91mod.mat2",
    "/export/svn/source/Gildmoor/trunk/src/Marrowind/PET91mod.mat2",
};

struct RunSettings {
    std::string alignment_path;
    std::string output_path;
    int output_requested = 0;
    bool debug = false;
    std::vector<fs::path> matrix_candidates;
};

po::options_description make_options()
{
    po::options_description options("\n\nMarrowind\nAllowed options");
    options.add_options()
        ("help,h", "produce this message")
        ("aln,a", po::value<std::string>(), "<FASTA alignment file> (required)")
        ("output,o", po::value<std::string>(),
         "output file (optional) (if this is not set, output goes to stdout)")
        ("matrix,m", po::value<std::string>(),
         "matrix file (optional) (must be converted from BLAST matrix)")
        ("debug,d", "Debug mode (optional)");
    return options;
}

// Fills settings and returns -1 when the run should go on; otherwise returns the exit status
// after printing the usage text or the command-line error.
int parse_command_line(int argc, char** argv, RunSettings& settings)
{
    try {
        const po::options_description options = make_options();
        po::variables_map vm;
        po::store(po::parse_command_line(argc, argv, options, 0), vm);
        po::notify(vm);

        if (argc == 1 || vm.count("help")) {
            std::cerr << options << std::endl;
            return 0;
        }
        if (!vm.count("aln")) {
            std::cerr << "alignment file required!\n" << options << std::endl;
            return 1;
        }
        settings.alignment_path = vm["aln"].as<std::string>();
        if (vm.count("output")) {
            settings.output_path = vm["output"].as<std::string>();
            settings.output_requested = 1;
        }
        if (vm.count("matrix"))
            settings.matrix_candidates.assign(1, fs::path(vm["matrix"].as<std::string>()));
        if (vm.count("debug")) settings.debug = true;
    } catch (const std::exception& e) {
        std::cerr << "Command line error: " << e.what() << std::endl;
        return 1;
    }
    return -1;
}

// A candidate is accepted when something exists there (links followed) and it is not empty:
// a directory with entries, or a file of at least one byte. A query that fails for any reason,
// such as a parent directory that may not be searched, rejects the candidate.
bool is_non_empty_file(const fs::path& candidate)
{
    boost::system::error_code error;
    if (!fs::exists(candidate, error) || error) return false;
    const bool empty = fs::is_empty(candidate, error);
    return !error && !empty;
}

// The accepted candidate, or an empty path.
fs::path first_non_empty_file(const std::vector<fs::path>& candidates)
{
    for (const fs::path& candidate : candidates)
        if (is_non_empty_file(candidate)) return candidate;
    return fs::path();
}

// The report of a search that accepted no candidate: each candidate in the path inserter's
// quoted form, between quotes of its own.
marrowind::InputError no_matrix_file(const std::vector<fs::path>& candidates)
{
    std::ostringstream report;
    report << "Could not find a non-empty matrix file in list:";
    for (const fs::path& candidate : candidates) report << " \"" << candidate << "\"";
    report << '\n';
    return marrowind::InputError(report.str());
}

struct MatrixDeleter {
    void operator()(Matrix* matrix) const { delete matrix; }
};

// Finds, reads and rescales the matrix on a helper thread while the calling thread reads the
// alignment: both spend most of their time on first touches of fresh memory, which two cores
// take side by side. Nothing on the helper prints: a failure, and the report that a failed
// table allocation writes, wait for the moment the matrix is due, so a run reports exactly what
// it would report with the two read in turn. Where no thread can be started, the matrix is
// read then, on the calling thread.
class MatrixLoad {
public:
    explicit MatrixLoad(const std::vector<fs::path>& candidates) : candidates_(candidates)
    {
        try {
            helper_ = std::thread([this] { load(); });
        } catch (const std::system_error&) {
        } catch (const std::bad_alloc&) {
        }
    }
    ~MatrixLoad()
    {
        if (helper_.joinable()) helper_.join();
    }
    MatrixLoad(const MatrixLoad&) = delete;
    MatrixLoad& operator=(const MatrixLoad&) = delete;

    // The matrix file found, or an empty path when no candidate is acceptable.
    const fs::path& path()
    {
        finish();
        return path_;
    }

    // The matrix read from path(), or the failure of reading or rescaling it, thrown here.
    std::unique_ptr<Matrix, MatrixDeleter> take()
    {
        finish();
        std::cerr << held_report_.str() << std::flush;
        if (failure_) std::rethrow_exception(failure_);
        return std::move(matrix_);
    }

private:
    void finish()
    {
        if (helper_.joinable())
            helper_.join();
        else if (!loaded_)
            load();
    }

    void load()
    {
        loaded_ = true;
        std::ostream*& report = marrowind::detail::resize_report_stream();
        std::ostream* const own_report = report;
        report = &held_report_;
        try {
            path_ = first_non_empty_file(candidates_);
            if (path_.empty()) return;
            // The matrix's warnings wait with the rest of the report, one line each.
            matrix_.reset(ReadMatrix(path_.string().c_str(), [this](const std::string& warning) {
                held_report_ << "Warning: " << warning << '\n';
            }));
            TransformMatrix(matrix_.get(), path_.string());
        } catch (...) {
            failure_ = std::current_exception();
        }
        report = own_report;
    }

    const std::vector<fs::path>& candidates_;
    std::thread helper_;
    bool loaded_ = false;
    fs::path path_;
    std::unique_ptr<Matrix, MatrixDeleter> matrix_;
    std::exception_ptr failure_;
    std::ostringstream held_report_;
};

void progress(const char* line) { std::fputs(line, stderr); }

// A live "percent done, time left" line for the long stages, shown only when standard error is a
// terminal (a log file or a pipe gets exactly the plain progress lines) and erased when the
// stage ends, before the next progress line.
class TerminalProgress {
public:
    TerminalProgress() : enabled_(isatty(fileno(stderr)) == 1) {}
    ~TerminalProgress() { erase(); }
    TerminalProgress(const TerminalProgress&) = delete;
    TerminalProgress& operator=(const TerminalProgress&) = delete;

    // Erases the line of the stage before, and times the next one from now.
    void restart()
    {
        erase();
        last_percent_ = -1;
        start_ = Clock::now();
    }

    // The report for ScoringOptions::progress, or none when nothing is shown.
    std::function<void(double)> reporter()
    {
        if (!enabled_) return nullptr;
        return [this](double done) { show(done); };
    }

private:
    using Clock = std::chrono::steady_clock;
    static constexpr int kWidth = 40;

    void erase()
    {
        if (shown_) std::fprintf(stderr, "\r%*s\r", kWidth, "");
        shown_ = false;
    }

    void show(double done)
    {
        const int percent = static_cast<int>(done * 100.0);
        if (percent == last_percent_ || done <= 0.0) return;
        last_percent_ = percent;
        const double elapsed = std::chrono::duration<double>(Clock::now() - start_).count();
        const double left = elapsed * (1.0 - done) / done;
        std::fprintf(stderr, "\r%-*s\r  %3d%%  about %.0f s left", kWidth, "", percent, left);
        shown_ = true;
    }

    bool enabled_;
    bool shown_ = false;
    int last_percent_ = -1;
    Clock::time_point start_ = Clock::now();
};

// The alignment's records (a few small blocks per sequence) and the matrix record take heap
// memory a page at a time as they fill it, and each fresh page costs a fault. The room they
// will need is mapped at once and handed back to the heap, which (with the program's heap
// settings, see main.cpp) keeps it for them. Alignments too large for that room to come from
// the heap itself are left alone: the faults are then a small part of their run.
void prepare_heap_for(const std::string& alignment_path)
{
    constexpr std::uintmax_t kMatrixRoom = std::uintmax_t{1} << 20;
    constexpr std::uintmax_t kMostRoom = std::uintmax_t{16} << 20;
    boost::system::error_code error;
    const std::uintmax_t file_bytes = fs::file_size(alignment_path, error);
    if (error) return;
    const std::uintmax_t room = file_bytes + file_bytes / 4 + kMatrixRoom;
    if (room > kMostRoom) return;
    void* block = std::malloc(static_cast<std::size_t>(room));
    if (block == nullptr) return;
    marrowind::map_pages_now(block, static_cast<std::size_t>(room));
    std::free(block);
}

// The program's side of a run: the alignment read from its file (with the matrix read on a
// helper thread meanwhile), the progress lines, and the scored alignment written to standard
// output or to the output file.
class CommandLineRun : public marrowind::detail::FrontEnd {
public:
    explicit CommandLineRun(const RunSettings& settings) : settings_(settings) {}

    std::unique_ptr<Alignment> take_alignment() override
    {
        prepare_heap_for(settings_.alignment_path);
        matrix_load_.emplace(settings_.matrix_candidates);
        progress("Reading FASTA file....\n");
        std::unique_ptr<Alignment> alignment(
            ReadFastaOrInterleaved(settings_.alignment_path.c_str()));
        if (alignment->nseq == 0) std::cerr << "Empty alignment file!\n";
        progress("Finishing parsing....\n");
        return alignment;
    }

    const Matrix& matrix() override
    {
        matrix_path_ = matrix_load_->path();
        if (matrix_path_.empty()) throw no_matrix_file(settings_.matrix_candidates);
        std::cerr << "Using matrix file: " << matrix_path_ << std::endl;
        matrix_ = matrix_load_->take();
        return *matrix_;
    }

    void begin(marrowind::ScoringStage stage) override
    {
        using marrowind::ScoringStage;
        shown_.restart();
        if (stage == ScoringStage::kWeights) progress("Calculating weights/distances....\n");
        if (stage == ScoringStage::kColumnScores)
            progress("Calculating positional conservation scores....\n");
        if (stage == ScoringStage::kDops) progress("Calculating DOPs score....\n");
    }

    void deliver(const Alignment& alignment, const Data& data) override
    {
        shown_.restart();
        // The writer reads the records only; it takes them by pointer as the stages do.
        Alignment* const records = const_cast<Alignment*>(&alignment);
        Data* const results = const_cast<Data*>(&data);
        if (settings_.output_requested != 1) {
            std::FILE* standard_output = stdout;
            progress("Writing alignment....\n");
            WriteAlignment(&standard_output, records, results);
            return;
        }
        // Writing the results over an input would destroy it before the user notices. The
        // program reads "-" as a file of that name, not as standard input.
        const std::string alignment_file =
            settings_.alignment_path == "-" ? "./-" : settings_.alignment_path;
        marrowind::refuse_to_overwrite_inputs(settings_.output_path,
                                              {alignment_file, matrix_path_.string()});
        const marrowind::SignalCleanup cleanup;
        marrowind::OutputFile output(settings_.output_path);
        std::FILE* stream = output.stream();
        progress("Writing alignment....\n");
        WriteAlignment(&stream, records, results, settings_.output_path.c_str());
        output.commit();
    }

    std::function<void(double)> progress_reporter() { return shown_.reporter(); }

private:
    const RunSettings& settings_;
    std::optional<MatrixLoad> matrix_load_;
    fs::path matrix_path_;
    std::unique_ptr<Matrix, MatrixDeleter> matrix_;
    TerminalProgress shown_;
};

int run_scoring(const RunSettings& settings)
{
    CommandLineRun front_end(settings);
    marrowind::ScoringOptions options;
    options.progress = front_end.progress_reporter();
    marrowind::detail::ScoredAlignment run = marrowind::detail::run_pipeline(front_end, options);
    marrowind::detail::print_dops_line(run.dops);
    if (std::fflush(stdout) != 0) throw marrowind::OutputError("standard output");

    run.alignment.reset();
    run.data.reset();
    progress("Done.\n");
    return 0;
}

}  // namespace

int RunCommandLine(int argc, char** argv)
{
    RunSettings settings;
    for (const char* path : kDefaultMatrixPaths) settings.matrix_candidates.emplace_back(path);

    const int decided_status = parse_command_line(argc, argv, settings);
    if (decided_status >= 0) return decided_status;

    try {
        return run_scoring(settings);
    } catch (const marrowind::Error& e) {
        std::fputs(e.what(), stderr);
        return e.exit_status();
    } catch (const std::bad_alloc&) {
        std::fputs(marrowind::OutOfMemory(1).what(), stderr);
        return 1;
    } catch (const std::exception& e) {
        // Not a failure that any stage reports by design; still never end with a crash.
        std::fprintf(stderr, "\nError: %s\n", e.what());
        return 1;
    }
}
