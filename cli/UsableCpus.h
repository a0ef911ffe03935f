#pragma once
// How many CPUs this process may use: on a farm node shared by several
// tasks, each task is given a few CPUs (an affinity mask, a cgroup CPU
// quota) and must keep to them, whatever the machine's core count.

#include <optional>
#include <string>

namespace Kvl::Cli {

// The CPUs this process may run on at once: the smaller of its affinity
// mask and its cgroup CPU quota (rounded up), never less than one. Where
// neither can be read, the machine's core count.
int usableCpuCount();

// A cgroup v2 cpu.max line ("200000 100000", "max 100000"): the CPUs the
// quota allows, rounded up; nothing when there is no limit or it is unreadable.
std::optional<int> cpusFromCgroupV2(const std::string& cpuMax);

// A cgroup v1 quota and period (cpu.cfs_quota_us, cpu.cfs_period_us; a
// quota of -1 is no limit), as above.
std::optional<int> cpusFromCgroupV1(const std::string& quota, const std::string& period);

}  // namespace Kvl::Cli
