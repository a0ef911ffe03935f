#pragma once
// A C stream that closes itself: the PNG and JPEG libraries read and write
// through FILE pointers.

#include <cstdio>

namespace Kvl {

class FileHandle {
public:
  FileHandle(const char* path, const char* mode)
      : file_(path != nullptr && *path != '\0' ? std::fopen(path, mode) : nullptr) {}
  ~FileHandle() {
    if (file_ != nullptr) std::fclose(file_);
  }
  FileHandle(const FileHandle&) = delete;
  FileHandle& operator=(const FileHandle&) = delete;

  explicit operator bool() const { return file_ != nullptr; }
  std::FILE* get() const { return file_; }

private:
  std::FILE* file_;
};

}  // namespace Kvl
