// cpus.h: how many threads a run uses by default: the CPUs this process may run on, or what
// MARROWIND_THREADS says.
//
// Contents:
//   quota_cpus            the CPUs a cgroup CPU quota allows, from its two figures
//   cgroup_v2_quota_cpus  the same from the text of a cgroup v2 cpu.max file
//   usable_cpus           the affinity mask's CPUs, capped by the cgroup quotas over the process
//   default_thread_count  MARROWIND_THREADS when it is set, else usable_cpus()
//
// On a shared node the hardware's thread count says nothing about this process's share: a
// cluster job, a container with a CPU quota or a `taskset` sees fewer CPUs, and a run that
// started a thread for every one of the node's would crowd out its neighbours.
#ifndef MARROWIND_CORE_CPUS_H
#define MARROWIND_CORE_CPUS_H

#include <string>

namespace marrowind::detail {

// ceil(quota / period), at least 1; 0 when quota is not positive (no limit) or period is not.
int quota_cpus(long long quota, long long period);

// cpu.max holds "QUOTA PERIOD", or "max PERIOD" for no limit: the CPUs allowed, 0 for none.
int cgroup_v2_quota_cpus(const std::string& cpu_max);

// The CPUs in this process's affinity mask, capped by the tightest CPU quota among the cgroups
// (v2, or v1's cpu controller) that hold it, rounded up. At least 1.
int usable_cpus();

// The threads a scoring call uses when it is not told: the value of the environment variable
// MARROWIND_THREADS when it is set and not empty, else usable_cpus(). Throws
// marrowind::InputError "\nError: MARROWIND_THREADS is \"<value>\"; it must be a whole number
// of threads from 1 to 2147483647\n" for any other value (the count is an int).
int default_thread_count();

}  // namespace marrowind::detail

#endif
