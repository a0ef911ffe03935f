#include "ReplacingFile.h"

#include <cstdio>
#include <filesystem>
#include <system_error>
#include <random>

namespace Kvl {
namespace {

bool fileExists(const std::string& path) {
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) return false;
  std::fclose(file);
  return true;
}

std::string uniqueSuffix() {
  static std::mt19937 generator{std::random_device{}()};
  return "." + std::to_string(generator() % 1000000u) + ".kvl-partial";
}

}  // namespace

ReplacingFile::ReplacingFile(std::string targetPath) : targetPath_(std::move(targetPath)) {}

ReplacingFile::~ReplacingFile() { discard(); }

bool ReplacingFile::open() {
  if (targetPath_.empty() || !targetIsReplaceable()) return false;
  for (int attempt = 0; attempt < 16 && !open_; ++attempt) {
    const std::string candidate = targetPath_ + uniqueSuffix();
    if (fileExists(candidate)) continue;
    stream_.open(candidate, std::ios::binary | std::ios::out | std::ios::trunc);
    if (!stream_.is_open()) return false;  // the folder is missing or not writable
    temporaryPath_ = candidate;
    open_ = true;
  }
  return open_;
}

// An existing target must be a file we are allowed to write: replacing a
// read-only file through its folder would defeat its protection.
bool ReplacingFile::targetIsReplaceable() const {
  // Only a plain file is ever replaced: renaming onto a device such as
  // /dev/full, or a folder, would destroy what stands there.
  std::error_code error;
  const auto status = std::filesystem::status(targetPath_, error);
  if (std::filesystem::exists(status) && !std::filesystem::is_regular_file(status)) return false;
  if (!fileExists(targetPath_)) return true;
  std::FILE* update = std::fopen(targetPath_.c_str(), "r+b");
  if (update == nullptr) return false;
  std::fclose(update);
  return true;
}

void ReplacingFile::write(const void* bytes, std::size_t count) {
  if (open_ && count > 0) {
    stream_.write(static_cast<const char*>(bytes), static_cast<std::streamsize>(count));
  }
}

void ReplacingFile::seek(std::uint64_t offset) {
  if (open_) stream_.seekp(static_cast<std::streamoff>(offset));
}

bool ReplacingFile::commit() {
  if (!open_) return false;
  stream_.flush();
  const bool written = !stream_.fail();
  stream_.close();
  if (!written || stream_.fail() || !moveIntoPlace()) {
    discard();
    return false;
  }
  open_ = false;
  temporaryPath_.clear();
  return true;
}

// POSIX rename replaces the target in one step. The Windows C runtime
// refuses to rename onto an existing file, so there the old target is moved
// aside first and only deleted once the new file stands in its place.
bool ReplacingFile::moveIntoPlace() {
  if (std::rename(temporaryPath_.c_str(), targetPath_.c_str()) == 0) return true;
  if (!fileExists(targetPath_)) return false;
  const std::string aside = targetPath_ + uniqueSuffix() + "-old";
  if (std::rename(targetPath_.c_str(), aside.c_str()) != 0) return false;
  if (std::rename(temporaryPath_.c_str(), targetPath_.c_str()) != 0) {
    std::rename(aside.c_str(), targetPath_.c_str());
    return false;
  }
  std::remove(aside.c_str());
  return true;
}

void ReplacingFile::discard() {
  if (stream_.is_open()) stream_.close();
  if (!temporaryPath_.empty()) std::remove(temporaryPath_.c_str());
  temporaryPath_.clear();
  open_ = false;
}

}  // namespace Kvl
