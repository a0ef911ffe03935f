#pragma once
// Where the Targa decoder takes its bytes from: a file, or memory (tests and
// fuzzing). Reads past the end deliver fewer bytes; that is not an error.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <span>

namespace Kvl {

class ByteSource {
public:
  // Copies up to `count` bytes into `destination`; returns how many it copied.
  virtual std::size_t read(std::uint8_t* destination, std::size_t count) = 0;
  // Moves forward by `count` bytes. Skipping past the end is not an error:
  // the reads that follow simply deliver nothing.
  virtual void skip(std::size_t count) = 0;
  // Whether at least `count` more bytes can be read from here, without
  // moving. A source that cannot tell answers true.
  virtual bool holds(std::uint64_t count) = 0;

protected:
  ~ByteSource() = default;
};

class MemoryByteSource final : public ByteSource {
public:
  explicit MemoryByteSource(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}
  std::size_t read(std::uint8_t* destination, std::size_t count) override;
  void skip(std::size_t count) override;
  bool holds(std::uint64_t count) override;

private:
  std::span<const std::uint8_t> bytes_;
  std::size_t position_ = 0;
};

// Reads a file through the C stream; owns the stream and closes it. A path
// that opens but cannot be read (a folder) counts as not open.
class FileByteSource final : public ByteSource {
public:
  explicit FileByteSource(const char* path);
  ~FileByteSource();
  FileByteSource(const FileByteSource&) = delete;
  FileByteSource& operator=(const FileByteSource&) = delete;

  bool isOpen() const { return file_ != nullptr; }
  void close();
  std::size_t read(std::uint8_t* destination, std::size_t count) override;
  void skip(std::size_t count) override;
  bool holds(std::uint64_t count) override;

private:
  bool seekForward(std::uint64_t count);

  std::FILE* file_ = nullptr;
};

}  // namespace Kvl
