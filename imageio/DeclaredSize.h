#pragma once
// How large a picture may be, and how much data its file must bring, for
// every format. A header of a few bytes can declare a picture of
// gigabytes: 18 Targa bytes declare 65535 x 65535 pixels, 16 GiB decoded.

#include <cstddef>
#include <cstdint>

#include "TgaFormat.h"

namespace Kvl {

// The pixel count of a picture, or 0 when its Pixel32 array would be larger
// than the largest object this machine can index (PTRDIFF_MAX bytes: 2 GiB
// on 32-bit builds). The three-argument form takes that limit as a number,
// so the 32-bit arithmetic can be checked on any build.
std::size_t addressablePixelCount(std::uint64_t width, std::uint64_t height);
std::uint64_t addressablePixelCount(std::uint64_t width, std::uint64_t height,
                                    std::uint64_t largestObjectBytes);

// So that such a file cannot make us allocate and zero-fill memory (or write
// an output file) for pixels it does not hold, a picture larger than
// AlwaysDecodedBytes decoded must bring at least 1/RequiredDataShare of the
// smallest encoding its format allows. Smaller pictures load however short
// the file; either way the pixels a file lacks are black.
inline constexpr std::uint64_t AlwaysDecodedBytes = std::uint64_t{16} << 20;  // 2048 x 2048
inline constexpr std::uint64_t RequiredDataShare = 16;

// How many bytes a file must hold for a picture of `pixelCount` pixels whose
// most compact encoding takes `smallestEncodingBytes` (0 for pictures up to
// AlwaysDecodedBytes).
std::uint64_t requiredDataBytes(std::uint64_t pixelCount, std::uint64_t smallestEncodingBytes);

// The fewest bytes that can encode the header's pixels: every pixel for an
// uncompressed file; for run-length, one full run packet (a count byte and
// one pixel) per 128 pixels.
std::uint64_t smallestPixelDataBytes(const TgaHeader& header);
// How many bytes of pixel data the file must hold for the header's picture
// to be read (0 for pictures up to AlwaysDecodedBytes).
std::uint64_t requiredPixelDataBytes(const TgaHeader& header);

// Two bits per 8 x 8 block of the first component: one for "no change of
// the DC value" and one for "end of block", the shortest codes a Huffman
// table can give. Progressive files can go below this only by leaving
// scans out, which no camera or editor does.
std::uint64_t smallestJpegBytes(std::uint64_t width, std::uint64_t height);

// The filtered rows (a filter byte and the packed samples each), deflated at
// deflate's best ratio of 1032 to 1.
std::uint64_t smallestPngBytes(std::uint64_t width, std::uint64_t height, unsigned bitsPerPixel);

}  // namespace Kvl
