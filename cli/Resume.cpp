#include "Resume.h"

#include <filesystem>
#include <map>
#include <ostream>
#include <set>
#include <system_error>

namespace Kvl::Cli {
namespace {

namespace fs = std::filesystem;

constexpr std::string_view PartialEnding = ".kvl-partial";

// "NAME.123456.kvl-partial" gives NAME; anything else gives nothing.
std::string targetOfPartial(const std::string& name) {
  if (!name.ends_with(PartialEnding)) return {};
  const std::string stem = name.substr(0, name.size() - PartialEnding.size());
  const std::size_t dot = stem.find_last_of('.');
  if (dot == std::string::npos || dot + 1 == stem.size()) return {};
  if (stem.find_first_not_of("0123456789", dot + 1) != std::string::npos) return {};
  return stem.substr(0, dot);
}

}  // namespace

std::vector<FileJob> withoutFinishedOutputs(const std::vector<FileJob>& jobs, std::ostream& out) {
  std::vector<FileJob> left;
  for (const FileJob& job : jobs) {
    // A refused output (one that is an input) stays refused: it exists, but
    // is no frame of this run's.
    std::error_code error;
    const auto exists = [&](const std::string& path) { return path.empty() || fs::exists(path, error); };
    if (job.refusal.empty() && exists(job.output) && exists(job.views.matte) && exists(job.views.status)) {
      out << job.input << ": skipped, " << job.output << " exists\n";
    } else {
      left.push_back(job);
    }
  }
  out << std::flush;
  return left;
}

std::size_t removeLeftoverPartials(const std::vector<FileJob>& jobs) {
  std::map<fs::path, std::set<std::string>> outputNamesByFolder;
  for (const FileJob& job : jobs) {
    for (const std::string* path : {&job.output, &job.views.matte, &job.views.status}) {
      if (path->empty()) continue;
      const fs::path output(*path);
      const fs::path folder = output.has_parent_path() ? output.parent_path() : fs::path(".");
      outputNamesByFolder[folder].insert(output.filename().string());
    }
  }
  std::size_t removed = 0;
  for (const auto& [folder, names] : outputNamesByFolder) {
    std::error_code error;
    for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
      const std::string name = it->path().filename().string();
      if (names.count(targetOfPartial(name)) == 0 || !it->is_regular_file(error)) continue;
      std::error_code removal;
      if (fs::remove(it->path(), removal)) ++removed;
    }
  }
  return removed;
}

}  // namespace Kvl::Cli
