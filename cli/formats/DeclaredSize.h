#pragma once
// PNG and JPEG headers, like Targa ones, can declare a picture of gigabytes
// in a few bytes. The command line's readers keep the Targa reader's rule:
// a picture larger than AlwaysDecodedBytes decoded is read only when its
// file holds at least 1/RequiredDataShare of the most compact encoding its
// format allows, so a tiny file cannot make keyvale-cli allocate, decode and
// write gigabytes of pixels that are not there.

#include <cstdint>
#include <string>

namespace Kvl::Cli {

// Two bits per 8 x 8 block of the first component: one for "no change of
// the DC value" and one for "end of block", the shortest codes a Huffman
// table can give. Progressive files can go below this only by leaving
// scans out, which no camera or editor does.
std::uint64_t smallestJpegBytes(std::uint64_t width, std::uint64_t height);

// The filtered rows (a filter byte and the packed samples each), deflated at
// deflate's best ratio of 1032 to 1.
std::uint64_t smallestPngBytes(std::uint64_t width, std::uint64_t height, unsigned bitsPerPixel);

// Whether the file at `path` is long enough for a picture of `pixelCount`
// pixels whose smallest encoding is `smallestEncodingBytes` (true when the
// file cannot be measured, such as a pipe).
bool fileHoldsDataFor(const char* path, std::uint64_t pixelCount, std::uint64_t smallestEncodingBytes);

// "file holds far too little data for its declared size (W x H)"
std::string tooLittleDataReason(std::uint64_t width, std::uint64_t height);

}  // namespace Kvl::Cli
