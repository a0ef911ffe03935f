#pragma once
// The blocks of an OpenEXR file's ZIP compression, coded around libdeflate,
// which inflates and deflates several times faster than the zlib OpenEXR
// 3.1 uses; the streams are zlib streams either way, so either library
// reads what the other wrote.
//
// A block's bytes are every line of it in turn, each line every channel in
// turn (in the order of their names), each sample little-endian. Before
// deflating, ZIP sorts the bytes, the even ones ahead of the odd ones, and
// stores each byte as its difference from the one before (plus 128). A
// block deflated no smaller is stored as it is.

#include <cstddef>
#include <cstdint>
#include <vector>

struct libdeflate_compressor;
struct libdeflate_decompressor;

namespace Kvl {

// Deflate's level for the blocks written. On keyed 1920x1080 frames
// libdeflate's 2 is its fastest (its 1 inserts every byte of a long match
// and takes a third longer), as fast as zlib's 1 and packs them a quarter
// smaller, within a tenth of zlib's 6 (OpenEXR's default), which takes
// two and a half times as long.
inline constexpr int ExrZipLevel = 2;

// The bytes a block takes in the file, and where they are.
struct PackedBlock {
  const std::uint8_t* data;
  std::size_t size;
};

class ExrZipCoder {
public:
  ExrZipCoder();
  ~ExrZipCoder();
  ExrZipCoder(const ExrZipCoder&) = delete;
  ExrZipCoder& operator=(const ExrZipCoder&) = delete;

  // The block of `size` bytes at `raw` as the file holds it: deflated, or
  // `raw` itself when deflating gains nothing. Valid until the next call.
  PackedBlock pack(const std::uint8_t* raw, std::size_t size);

  // The `size` bytes of a block from the file's `packed` bytes: inflated
  // when there are fewer, else copied as stored. False when they do not
  // inflate to exactly `size` bytes.
  bool unpack(const std::uint8_t* packed, std::size_t packedSize, std::uint8_t* raw, std::size_t size);

private:
  std::vector<std::uint8_t> sorted_;
  std::vector<std::uint8_t> deflated_;
  libdeflate_compressor* compressor_ = nullptr;
  libdeflate_decompressor* decompressor_ = nullptr;
};

// The steps either side of deflate, apart for the tests: the bytes sorted
// and differenced into `out`, and back.
void sortAndDifference(const std::uint8_t* raw, std::uint8_t* out, std::size_t size);
void undifferenceAndUnsort(std::uint8_t* sorted, std::uint8_t* raw, std::size_t size);

}  // namespace Kvl
