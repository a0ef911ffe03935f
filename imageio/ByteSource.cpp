#include "ByteSource.h"

#include <algorithm>
#include <cstring>

namespace Kvl {
namespace {

// fseek takes a long, which is 32 bits on Windows even in 64-bit builds, so
// long moves go in steps that fit.
constexpr std::uint64_t LargestSeekStep = std::uint64_t{1} << 30;

}  // namespace

std::size_t MemoryByteSource::read(std::uint8_t* destination, std::size_t count) {
  const std::size_t available = position_ < bytes_.size() ? bytes_.size() - position_ : 0;
  const std::size_t copied = std::min(count, available);
  if (copied > 0) std::memcpy(destination, bytes_.data() + position_, copied);
  position_ += copied;
  return copied;
}

void MemoryByteSource::skip(std::size_t count) {
  position_ = count > bytes_.size() - std::min(position_, bytes_.size()) ? bytes_.size()
                                                                         : position_ + count;
}

bool MemoryByteSource::holds(std::uint64_t count) {
  return count <= bytes_.size() - std::min(position_, bytes_.size());
}

FileByteSource::FileByteSource(const char* path) {
  if (path == nullptr || path[0] == '\0') return;
  file_ = std::fopen(path, "rb");
  if (file_ == nullptr) return;
  // On POSIX a folder opens for reading and only its first read fails; an
  // empty file merely ends. Peek one byte to tell them apart.
  const int first = std::fgetc(file_);
  if (first != EOF) {
    std::ungetc(first, file_);
  } else if (std::ferror(file_)) {
    close();
  }
}

FileByteSource::~FileByteSource() { close(); }

void FileByteSource::close() {
  if (file_ != nullptr) std::fclose(file_);
  file_ = nullptr;
}

std::size_t FileByteSource::read(std::uint8_t* destination, std::size_t count) {
  return file_ == nullptr ? 0 : std::fread(destination, 1, count, file_);
}

void FileByteSource::skip(std::size_t count) {
  if (file_ != nullptr) seekForward(count);
}

// Looks at the last of the `count` bytes and comes back: the size of the
// file is never needed, and a file past 2 GiB is no problem where long is
// 32 bits.
bool FileByteSource::holds(std::uint64_t count) {
  if (count == 0) return true;
  if (file_ == nullptr) return false;
  std::fpos_t start;
  if (std::fgetpos(file_, &start) != 0) return true;  // no positions to come back to: cannot tell
  const bool present = seekForward(count - 1) && std::fgetc(file_) != EOF;
  // fsetpos also clears the end-of-file mark that the probe may have set.
  return std::fsetpos(file_, &start) == 0 && present;
}

bool FileByteSource::seekForward(std::uint64_t count) {
  while (count > 0) {
    const std::uint64_t step = std::min(count, LargestSeekStep);
    if (std::fseek(file_, static_cast<long>(step), SEEK_CUR) != 0) return false;
    count -= step;
  }
  return true;
}

}  // namespace Kvl
