#include <atomic>
#include <chrono>
#include <iterator>
#include <system_error>

#ifdef _WIN32
#include <process.h>
#define KEYVALE_PROCESS_ID _getpid
#else
#include <unistd.h>
#define KEYVALE_PROCESS_ID getpid
#endif

#include "TgaBytes.h"

namespace Kvl::Test {

std::vector<std::uint8_t> readFileBytes(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The process in the name too: the suite runs as several processes at once.
TempDir::TempDir() {
  static std::atomic<unsigned> counter{0};
  const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
  path_ = std::filesystem::temp_directory_path() /
          ("keyvale-test-" + std::to_string(KEYVALE_PROCESS_ID()) + "-" + std::to_string(stamp) + "-" +
       std::to_string(counter++));
  std::filesystem::create_directories(path_);
}

TempDir::~TempDir() {
  std::error_code ignored;
  std::filesystem::permissions(path_, std::filesystem::perms::owner_all,
                               std::filesystem::perm_options::add, ignored);
  std::filesystem::remove_all(path_, ignored);
}

}  // namespace Kvl::Test
