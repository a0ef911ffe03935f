#include "ByteSource.h"

#include <algorithm>
#include <cstring>

namespace Kvl {

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

FileByteSource::FileByteSource(const char* path) {
  if (path != nullptr && path[0] != '\0') file_ = std::fopen(path, "rb");
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
  if (file_ == nullptr || count == 0) return;
  // Skips are at most a few hundred bytes (image ID, colour map), so a long
  // is always wide enough, on 32-bit Windows too.
  std::fseek(file_, static_cast<long>(count), SEEK_CUR);
}

}  // namespace Kvl
