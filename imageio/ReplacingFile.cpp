#include "ReplacingFile.h"

#include <atomic>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <random>
#include <system_error>

#include "PathText.h"

namespace Kvl {
namespace {

// Most file systems take names of up to 255 bytes; the Windows C runtime
// takes paths of up to 259 characters. Counting bytes is the safe side of both.
constexpr std::size_t LongestName = 255;
constexpr std::size_t LongestPortablePath = 259;

bool fileExists(const std::string& path) {
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) return false;
  std::fclose(file);
  return true;
}

// Only a plain file is ever replaced or moved aside: renaming onto a device
// such as /dev/full, or a folder, would destroy what stands there. A path the
// library cannot even convert is left to the C runtime's own checks.
bool isPlainFileOrAbsent(const std::string& path) {
  try {
    std::error_code error;
    const auto status = std::filesystem::status(pathOf(path), error);
    return !std::filesystem::exists(status) || std::filesystem::is_regular_file(status);
  } catch (const std::exception&) {
    return true;
  }
}

std::atomic<bool> abandonedAll{false};
std::atomic<int> filesOpen{0};

std::string uniqueSuffix() {
  // One generator per thread: batch keying saves from several threads at once.
  thread_local std::mt19937 generator{std::random_device{}()};
  return "." + std::to_string(generator() % 1000000u) + ".kvl-partial";
}

// Beside the target and named after it, so a file left by a crash says what
// it was. When the name would grow too long for the file system, the
// temporary file takes a short name in the same folder instead.
std::string temporaryPathFor(const std::string& target) {
  const std::string suffix = uniqueSuffix();
  const std::size_t nameStart = target.find_last_of("/\\:") + 1;  // npos + 1 is 0
  const std::size_t nameLength = target.size() - nameStart;
  if (nameLength + suffix.size() <= LongestName &&
      target.size() + suffix.size() <= LongestPortablePath) {
    return target + suffix;
  }
  return target.substr(0, nameStart) + "kvl" + suffix;
}

}  // namespace

ReplacingFile::ReplacingFile(std::string targetPath) : targetPath_(std::move(targetPath)) {}

ReplacingFile::~ReplacingFile() { discard(); }

void ReplacingFile::abandonAll() { abandonedAll = true; }

bool ReplacingFile::abandoned() { return abandonedAll; }

int ReplacingFile::openCount() { return filesOpen; }

void ReplacingFile::setOpen(bool open) {
  if (open != open_) filesOpen += open ? 1 : -1;
  open_ = open;
}

bool ReplacingFile::open() {
  if (abandonedAll || targetPath_.empty() || !targetIsReplaceable()) return false;
  for (int attempt = 0; attempt < 16 && !open_; ++attempt) {
    const std::string candidate = temporaryPathFor(targetPath_);
    if (fileExists(candidate)) continue;
    stream_.open(candidate, std::ios::binary | std::ios::out | std::ios::trunc);
    if (!stream_.is_open()) return false;  // the folder is missing or not writable
    temporaryPath_ = candidate;
    setOpen(true);
  }
  return open_;
}

// An existing target must be a plain file we are allowed to write: replacing
// a read-only file through its folder would defeat its protection. A folder
// may open for reading, but never for update.
bool ReplacingFile::targetIsReplaceable() const {
  if (!isPlainFileOrAbsent(targetPath_)) return false;
  if (!fileExists(targetPath_)) return true;
  std::FILE* update = std::fopen(targetPath_.c_str(), "r+b");
  if (update == nullptr) return false;
  std::fclose(update);
  return true;
}

void ReplacingFile::write(const void* bytes, std::size_t count) {
  if (abandonedAll) discard();
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
  if (!written || stream_.fail() || abandonedAll || !moveIntoPlace()) {
    discard();
    return false;
  }
  temporaryPath_.clear();
  setOpen(false);
  return true;
}

// POSIX rename replaces the target in one step. The Windows C runtime
// refuses to rename onto an existing file, so there the old target is moved
// aside first and only deleted once the new file stands in its place. What
// took the target's place while we wrote (a folder, say) is never moved.
bool ReplacingFile::moveIntoPlace() {
  if (std::rename(temporaryPath_.c_str(), targetPath_.c_str()) == 0) return true;
  if (!fileExists(targetPath_) || !isPlainFileOrAbsent(targetPath_)) return false;
  const std::string aside = temporaryPathFor(targetPath_);
  if (fileExists(aside) || std::rename(targetPath_.c_str(), aside.c_str()) != 0) return false;
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
  setOpen(false);
}

}  // namespace Kvl
