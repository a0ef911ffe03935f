#pragma once
// A private folder for the targets that must go through real files (the
// keyed writer reads its source by path, the PNG and JPEG readers too).
// It lives in /dev/shm where there is one, so a run is not bound by the disk,
// and is removed when the fuzzer exits.

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>

namespace Kvl::Fuzz {

class Scratch {
public:
  Scratch() {
    std::error_code error;
    const std::filesystem::path shm = "/dev/shm";
    const auto base = std::filesystem::is_directory(shm, error) ? shm : std::filesystem::temp_directory_path();
    folder_ = base / ("keyvale-fuzz-" + std::to_string(::getpid()));
    std::filesystem::create_directories(folder_);
  }
  ~Scratch() {
    std::error_code ignored;
    std::filesystem::remove_all(folder_, ignored);
  }
  Scratch(const Scratch&) = delete;
  Scratch& operator=(const Scratch&) = delete;

  std::string file(const char* name) const { return (folder_ / name).string(); }

private:
  std::filesystem::path folder_;
};

// Writes the bytes, or stops the run: a target that cannot write its input
// would otherwise fuzz nothing.
inline void writeWholeFile(const std::string& path, const std::uint8_t* data, std::size_t size) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr || (size > 0 && std::fwrite(data, 1, size, file) != size) || std::fclose(file) != 0) {
    std::perror(path.c_str());
    std::abort();
  }
}

}  // namespace Kvl::Fuzz
