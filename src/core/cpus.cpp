// cpus.cpp: the CPUs this process may run on, and the default thread count.
//
// Contents: quota_cpus, cgroup_v2_quota_cpus, read_first_line, cgroup_quota_cpus, usable_cpus,
// default_thread_count.
#include "core/cpus.h"

#include <sched.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <thread>

#include "marrowind/errors.h"

namespace marrowind::detail {

namespace {

// Affinity masks of more CPUs than this are not looked at; the count is then the hardware's.
constexpr int kMostMaskCpus = 1 << 16;

std::string read_first_line(const std::string& path)
{
    std::ifstream in(path);
    std::string line;
    std::getline(in, line);
    return line;
}

// The tightest quota of the cgroup at `path` under `mount` and of every cgroup above it: a
// quota anywhere up the tree limits everything below it. `read_quota` reads one directory's
// quota in CPUs (0 for none).
template <typename ReadQuota>
int tightest_quota(const std::string& mount, std::string path, ReadQuota read_quota)
{
    int tightest = 0;
    for (;;) {
        const int cpus = read_quota(mount + path);
        if (cpus > 0 && (tightest == 0 || cpus < tightest)) tightest = cpus;
        if (path.empty() || path == "/") return tightest;
        const std::size_t slash = path.rfind('/');
        path = slash == std::string::npos || slash == 0 ? "/" : path.substr(0, slash);
    }
}

// The CPUs that the cgroup quotas over this process allow, 0 when none limits them. The
// process's cgroups are listed in /proc/self/cgroup as "ID:CONTROLLERS:PATH" ("0::PATH" for
// the unified v2 tree).
int cgroup_quota_cpus()
{
    std::ifstream groups("/proc/self/cgroup");
    std::string line;
    int tightest = 0;
    while (std::getline(groups, line)) {
        const std::size_t first = line.find(':');
        const std::size_t second = line.find(':', first + 1);
        if (first == std::string::npos || second == std::string::npos) continue;
        const std::string controllers = line.substr(first + 1, second - first - 1);
        const std::string path = line.substr(second + 1);
        int cpus = 0;
        if (controllers.empty()) {
            cpus = tightest_quota("/sys/fs/cgroup", path, [](const std::string& dir) {
                return cgroup_v2_quota_cpus(read_first_line(dir + "/cpu.max"));
            });
        } else if (("," + controllers + ",").find(",cpu,") != std::string::npos) {
            for (const char* mount : {"/sys/fs/cgroup/cpu", "/sys/fs/cgroup/cpu,cpuacct"}) {
                cpus = tightest_quota(mount, path, [](const std::string& dir) {
                    const long long quota =
                        std::atoll(read_first_line(dir + "/cpu.cfs_quota_us").c_str());
                    const long long period =
                        std::atoll(read_first_line(dir + "/cpu.cfs_period_us").c_str());
                    return quota_cpus(quota, period);
                });
                if (cpus > 0) break;
            }
        }
        if (cpus > 0 && (tightest == 0 || cpus < tightest)) tightest = cpus;
    }
    return tightest;
}

int affinity_cpus()
{
    for (int cpus = 1024; cpus <= kMostMaskCpus; cpus *= 4) {
        const std::size_t size = CPU_ALLOC_SIZE(cpus);
        std::unique_ptr<cpu_set_t, void (*)(cpu_set_t*)> mask(
            CPU_ALLOC(cpus), [](cpu_set_t* set) { CPU_FREE(set); });
        if (!mask) break;
        CPU_ZERO_S(size, mask.get());
        if (sched_getaffinity(0, size, mask.get()) == 0) return CPU_COUNT_S(size, mask.get());
        if (errno != EINVAL) break;  // EINVAL: the kernel's mask is larger than this one
    }
    return static_cast<int>(std::thread::hardware_concurrency());
}

}  // namespace

int quota_cpus(long long quota, long long period)
{
    if (quota <= 0 || period <= 0) return 0;
    const long long cpus = (quota + period - 1) / period;
    return cpus > INT_MAX ? INT_MAX : static_cast<int>(cpus);
}

int cgroup_v2_quota_cpus(const std::string& cpu_max)
{
    std::istringstream fields(cpu_max);
    std::string quota;
    long long period = 0;
    if (!(fields >> quota >> period) || quota == "max") return 0;
    return quota_cpus(std::atoll(quota.c_str()), period);
}

int usable_cpus()
{
    int cpus = affinity_cpus();
    const int quota = cgroup_quota_cpus();
    if (quota > 0 && (cpus <= 0 || quota < cpus)) cpus = quota;
    return cpus > 0 ? cpus : 1;
}

int default_thread_count()
{
    const char* value = std::getenv("MARROWIND_THREADS");
    if (value == nullptr || *value == '\0') return usable_cpus();
    char* end = nullptr;
    errno = 0;
    const long threads = std::strtol(value, &end, 10);
    if (errno != 0 || *end != '\0' || end == value || threads < 1 || threads > INT_MAX ||
        !(*value >= '0' && *value <= '9'))
        throw InputError(std::string("\nError: MARROWIND_THREADS is \"") + value +
                         "\"; it must be a whole number of threads from 1 to " +
                         std::to_string(INT_MAX) + "\n");
    return static_cast<int>(threads);
}

}  // namespace marrowind::detail
