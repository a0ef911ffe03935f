#pragma once
// What a failed or finished save may leave behind: checks shared by the
// failing-write and path tests.

#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

namespace Kvl::Test {

// Every temporary file of the replacing writer under `folder`, however deep.
inline std::vector<std::string> partialFilesUnder(const std::filesystem::path& folder) {
  std::vector<std::string> found;
  std::error_code error;
  for (auto it = std::filesystem::recursive_directory_iterator(folder, error);
       !error && it != std::filesystem::recursive_directory_iterator(); it.increment(error)) {
    const std::string name = it->path().filename().string();
    if (name.find(".kvl-partial") != std::string::npos) found.push_back(it->path().string());
  }
  return found;
}

}  // namespace Kvl::Test
