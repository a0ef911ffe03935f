#include "UsableCpus.h"

#include <algorithm>
#include <charconv>
#include <fstream>
#include <sstream>
#include <thread>

#if defined(__linux__)
#include <sched.h>
#endif

namespace Kvl::Cli {
namespace {

std::optional<long long> parseWhole(const std::string& text) {
  long long value = 0;
  const char* end = text.data() + text.size();
  const auto [stop, status] = std::from_chars(text.data(), end, value);
  if (status != std::errc{} || stop != end) return std::nullopt;
  return value;
}

std::optional<int> cpusForQuota(long long quota, long long period) {
  if (quota <= 0 || period <= 0) return std::nullopt;
  const long long cpus = (quota + period - 1) / period;
  return static_cast<int>(std::clamp(cpus, 1LL, 1LL << 20));
}

int machineCoreCount() { return std::max(1, static_cast<int>(std::thread::hardware_concurrency())); }

#if defined(__linux__)

std::string readText(const std::string& path) {
  std::ifstream file(path);
  std::string text;
  std::getline(file, text);
  return text;
}

std::optional<int> affinityCpuCount() {
  cpu_set_t set;
  CPU_ZERO(&set);
  if (sched_getaffinity(0, sizeof set, &set) != 0) return std::nullopt;
  const int count = CPU_COUNT(&set);
  return count > 0 ? std::optional<int>(count) : std::nullopt;
}

// This process's cgroup folder for a v1 controller, or the v2 one when
// `controller` is empty, from /proc/self/cgroup ("0::/path" for v2,
// "4:cpu,cpuacct:/path" for v1).
std::optional<std::string> cgroupPath(const std::string& controller) {
  std::ifstream file("/proc/self/cgroup");
  for (std::string line; std::getline(file, line);) {
    const std::size_t first = line.find(':');
    const std::size_t second = first == std::string::npos ? first : line.find(':', first + 1);
    if (second == std::string::npos) continue;
    const std::string controllers = line.substr(first + 1, second - first - 1);
    const std::string path = line.substr(second + 1);
    if (controller.empty() ? controllers.empty() : ("," + controllers + ",").find("," + controller + ",") !=
                                                       std::string::npos) {
      return path;
    }
  }
  return std::nullopt;
}

// The smallest quota of `path` and the cgroups above it, up to the root
// of `mount`: a limit set on a farm job's cgroup binds the steps below it.
template <typename ReadQuota>
std::optional<int> smallestQuotaAbove(const std::string& mount, std::string path, ReadQuota readQuota) {
  std::optional<int> smallest;
  while (true) {
    const std::optional<int> quota = readQuota(mount + path);
    if (quota && (!smallest || *quota < *smallest)) smallest = quota;
    const std::size_t slash = path.find_last_of('/');
    if (path.empty() || path == "/" || slash == std::string::npos) return smallest;
    path = slash == 0 ? "/" : path.substr(0, slash);
  }
}

std::optional<int> cgroupCpuCount() {
  if (const auto path = cgroupPath("")) {
    const auto v2 = smallestQuotaAbove("/sys/fs/cgroup", *path, [](const std::string& folder) {
      return cpusFromCgroupV2(readText(folder + "/cpu.max"));
    });
    if (v2) return v2;
  }
  if (const auto path = cgroupPath("cpu")) {
    return smallestQuotaAbove("/sys/fs/cgroup/cpu", *path, [](const std::string& folder) {
      return cpusFromCgroupV1(readText(folder + "/cpu.cfs_quota_us"), readText(folder + "/cpu.cfs_period_us"));
    });
  }
  return std::nullopt;
}

#endif

}  // namespace

std::optional<int> cpusFromCgroupV2(const std::string& cpuMax) {
  std::istringstream fields(cpuMax);
  std::string quota, period;
  if (!(fields >> quota >> period) || quota == "max") return std::nullopt;
  const auto quotaValue = parseWhole(quota);
  const auto periodValue = parseWhole(period);
  if (!quotaValue || !periodValue) return std::nullopt;
  return cpusForQuota(*quotaValue, *periodValue);
}

std::optional<int> cpusFromCgroupV1(const std::string& quota, const std::string& period) {
  const auto quotaValue = parseWhole(quota);
  const auto periodValue = parseWhole(period);
  if (!quotaValue || !periodValue) return std::nullopt;
  return cpusForQuota(*quotaValue, *periodValue);
}

int usableCpuCount() {
#if defined(__linux__)
  int cpus = affinityCpuCount().value_or(machineCoreCount());
  if (const auto quota = cgroupCpuCount()) cpus = std::min(cpus, *quota);
  return std::max(cpus, 1);
#else
  return machineCoreCount();
#endif
}

}  // namespace Kvl::Cli
