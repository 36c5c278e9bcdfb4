// output_file.cpp: results written through a temporary file and renamed into place, and the
// guard against writing over an input.
//
// Contents: same_file_as, link_contents, followed_links, random_suffix, may_replace, sync_file,
// OutputFile, refuse_to_overwrite_inputs.
//
// A run that fails, or is killed, while it writes must not leave a file that looks like a
// result: a partial file, or an old result cut short. Writing to a temporary file in the
// target's own directory and renaming it into place gives the guarantee rename(2) gives: a
// reader, or a second run writing the same target at once, sees the old file or a whole new
// one, never a mixture.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <vector>

#include "marrowind/errors.h"
#include "marrowind/output.h"
#include "output/signal_cleanup.h"

namespace marrowind {

namespace {

// Symbolic links followed before giving up, as the kernel's own limit for one lookup.
constexpr int kMostLinks = 40;
// Names tried for the temporary before giving up; another run taking all of them is unlikely.
constexpr int kMostTries = 100;
// The longest file name most file systems take.
constexpr std::size_t kMostNameBytes = 255;

bool same_file_as(const struct stat& file, int descriptor)
{
    struct stat open_file {};
    return fstat(descriptor, &open_file) == 0 && open_file.st_dev == file.st_dev &&
           open_file.st_ino == file.st_ino;
}

// The contents of the symbolic link at path, or an empty string when it cannot be read.
std::string link_contents(const std::string& path)
{
    std::vector<char> buffer(256);
    for (;;) {
        const ssize_t n = readlink(path.c_str(), buffer.data(), buffer.size());
        if (n < 0) return std::string();
        if (static_cast<std::size_t>(n) < buffer.size()) return std::string(buffer.data(), n);
        buffer.resize(buffer.size() * 2);
    }
}

// The path of the file that path leads to once every symbolic link is followed; the last link's
// target need not exist yet, as a plain create through a dangling link makes it. An empty
// string for a chain of links too long (a loop) or unreadable.
std::string followed_links(std::string path)
{
    for (int hops = 0; hops <= kMostLinks; ++hops) {
        struct stat entry {};
        if (lstat(path.c_str(), &entry) != 0 || !S_ISLNK(entry.st_mode)) return path;
        std::string target = link_contents(path);
        if (target.empty()) return std::string();
        // A relative link is read from the directory that holds it.
        const std::size_t slash = path.rfind('/');
        if (target[0] != '/' && slash != std::string::npos)
            target = path.substr(0, slash + 1) + target;
        path = target;
    }
    errno = ELOOP;
    return std::string();
}

// Six letters and digits that differ between processes and between calls.
std::string random_suffix()
{
    static std::atomic<std::uint64_t> calls{0};
    std::uint64_t x = static_cast<std::uint64_t>(getpid()) * 0x9E3779B97F4A7C15ull ^
                      static_cast<std::uint64_t>(
                          std::chrono::steady_clock::now().time_since_epoch().count()) ^
                      (calls.fetch_add(1) << 40);
    // splitmix64's finaliser, so that nearby inputs give unrelated names.
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
    x ^= x >> 31;
    static const char kSymbols[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    std::string suffix(6, ' ');
    for (char& c : suffix) {
        c = kSymbols[x % 62];
        x /= 62;
    }
    return suffix;
}

// Whether the running user may replace `target`: it may when the file is not there yet (the
// temporary's creation judges the directory), and otherwise only when the user could open the
// file itself for writing, as open(2) judges it (effective user and groups; the superuser may
// write any file). Renaming over a file needs only the directory's permission, so without this
// a read-only file in a writable directory would be replaced where the shell's ">" refuses it.
bool may_replace(const std::string& target)
{
    return faccessat(AT_FDCWD, target.c_str(), W_OK, AT_EACCESS) == 0 || errno == ENOENT;
}

// fsync, where a file system that has nothing to sync to (it says so with EINVAL) counts as done.
bool sync_file(int descriptor)
{
    return fsync(descriptor) == 0 || errno == EINVAL || errno == ENOTSUP || errno == ENOSYS;
}

}  // namespace

OutputFile::OutputFile(const std::string& path) : path_(path)
{
    struct stat existing {};
    if (stat(path.c_str(), &existing) == 0) {
        if (same_file_as(existing, STDOUT_FILENO)) {
            stream_ = stdout;
            return;
        }
        if (same_file_as(existing, STDERR_FILENO)) {
            stream_ = stderr;
            return;
        }
        if (!S_ISREG(existing.st_mode)) {
            stream_ = std::fopen(path.c_str(), "w");
            if (stream_ == nullptr) throw OutputError::cannot_open(path_, errno);
            owns_stream_ = true;
            return;
        }
    }
    target_ = followed_links(path);
    if (target_.empty() || !may_replace(target_)) throw OutputError::cannot_open(path_, errno);
    open_temporary_for(target_);
}

OutputFile::OutputFile(std::FILE* stream, const std::string& name) : path_(name), stream_(stream)
{
}

void OutputFile::open_temporary_for(const std::string& target)
{
    const std::size_t slash = target.rfind('/');
    const std::string directory = slash == std::string::npos ? "" : target.substr(0, slash + 1);
    const std::string name = slash == std::string::npos ? target : target.substr(slash + 1);
    // ".name.XXXXXX": hidden, named after its target, within the file system's name limit.
    const std::string stem = "." + name.substr(0, kMostNameBytes - 8) + ".";

    // From its creation until it is registered, a signal must not end the process unseen.
    const detail::SignalsHeld held;
    int descriptor = -1;
    for (int tries = 0; descriptor < 0 && tries < kMostTries; ++tries) {
        temporary_ = directory + stem + random_suffix();
        // Mode 0666 lets the umask (and a default ACL) decide, exactly as for a plain create.
        descriptor = open(temporary_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (descriptor < 0 && errno != EEXIST) break;
    }
    if (descriptor < 0) {
        const int error = errno;
        temporary_.clear();
        throw OutputError::cannot_open(path_, error);
    }
    const auto abandon = [this, descriptor]() {
        close(descriptor);
        unlink(temporary_.c_str());
        temporary_.clear();
    };
    try {
        registered_ = std::make_unique<detail::RegisteredTemporary>(temporary_);
    } catch (...) {
        abandon();
        throw;
    }

    // A replaced file keeps its owner where the system allows it, and its permissions; the
    // owner goes first, since changing it clears set-user and set-group bits.
    struct stat replaced {};
    bool kept = true;
    if (stat(target.c_str(), &replaced) == 0) {
        struct stat created {};
        if (fstat(descriptor, &created) == 0 &&
            (created.st_uid != replaced.st_uid || created.st_gid != replaced.st_gid) &&
            fchown(descriptor, replaced.st_uid, replaced.st_gid) != 0) {
            // Only the superuser may give a file away: the new file is then this user's own.
        }
        kept = fchmod(descriptor, replaced.st_mode & 07777) == 0;
    }
    stream_ = kept ? fdopen(descriptor, "w") : nullptr;
    if (stream_ == nullptr) {
        const int error = errno;
        abandon();
        registered_.reset();
        throw OutputError::cannot_open(path_, error);
    }
    owns_stream_ = true;
}

OutputFile::~OutputFile() { discard(); }

void OutputFile::discard() noexcept
{
    if (owns_stream_ && stream_ != nullptr) std::fclose(stream_);
    stream_ = nullptr;
    // Removed before it is unregistered: a signal in between finds nothing left to remove.
    if (!temporary_.empty()) unlink(temporary_.c_str());
    registered_.reset();
    temporary_.clear();
}

void OutputFile::write(const char* data, std::size_t size)
{
    if (stream_ == nullptr) throw OutputError(path_, EBADF);
    if (std::fwrite(data, 1, size, stream_) != size) throw OutputError(path_, errno);
}

void OutputFile::commit()
{
    if (stream_ == nullptr) throw OutputError(path_, EBADF);
    // The error number of the first step that fails.
    int failure = 0;
    const auto step = [&failure](bool done) {
        if (!done && failure == 0) failure = errno != 0 ? errno : EIO;
    };
    if (!owns_stream_) {
        step(std::fflush(stream_) == 0);
        stream_ = nullptr;
        if (failure != 0) throw OutputError(path_, failure);
        return;
    }
    // A full disk often shows only when the buffered rest is flushed, or at the sync.
    step(std::fflush(stream_) == 0);
    if (failure == 0 && !temporary_.empty()) step(sync_file(fileno(stream_)));
    step(std::fclose(stream_) == 0);
    stream_ = nullptr;
    if (failure == 0 && !temporary_.empty())
        step(rename(temporary_.c_str(), target_.c_str()) == 0);
    if (failure != 0) {
        discard();
        throw OutputError(path_, failure);
    }
    if (temporary_.empty()) return;
    registered_.reset();
    temporary_.clear();
    // The rename itself lasts once the directory is synced; the result is in place whatever
    // this gives.
    const std::size_t slash = target_.rfind('/');
    const std::string directory = slash == std::string::npos ? "." : target_.substr(0, slash + 1);
    const int held = open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (held >= 0) {
        sync_file(held);
        close(held);
    }
}

void refuse_to_overwrite_inputs(const std::string& output, const std::vector<std::string>& inputs)
{
    struct stat written {};
    if (stat(output.c_str(), &written) != 0) return;
    if (S_ISCHR(written.st_mode) || S_ISFIFO(written.st_mode) || S_ISSOCK(written.st_mode)) return;
    for (const std::string& input : inputs) {
        struct stat source {};
        const bool found = input == "-" || input == "/dev/stdin"
                               ? fstat(STDIN_FILENO, &source) == 0
                               : stat(input.c_str(), &source) == 0;
        if (found && source.st_dev == written.st_dev && source.st_ino == written.st_ino)
            throw InputError("\nError: " + output +
                             " is an input file and will not be overwritten\n");
    }
}

}  // namespace marrowind
