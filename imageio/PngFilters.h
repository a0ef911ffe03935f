#pragma once
// PNG's five row filters for 8-bit RGBA rows, and the choice among them
// that PNG writers commonly make: per row, the filter whose output bytes,
// read as signed, have the smallest sum of magnitudes. Small differences
// are what deflate compresses best, and the sum is a cheap stand-in for
// compressing the row five ways. No codec header here: the bytes are
// PNG's own definition.

#include <cstddef>
#include <cstdint>

namespace Kvl {

constexpr std::size_t PngBytesPerPixel = 4;

// The filter type byte that starts every filtered row.
enum class PngFilter : std::uint8_t { None = 0, Sub = 1, Up = 2, Average = 3, Paeth = 4 };

// Filters `row` (rowBytes bytes) with `filter` into `out` (rowBytes bytes,
// no type byte). `above` is the row above, all zeros for the top row, as
// PNG defines it; bytes left of the first pixel count as zero.
void filterPngRow(PngFilter filter, const std::uint8_t* row, const std::uint8_t* above, std::size_t rowBytes,
                  std::uint8_t* out);

// The sum over `count` filtered bytes of their magnitudes read as signed
// (0x01 and 0xff both count 1): the choice's measure.
std::uint64_t signedMagnitudeSum(const std::uint8_t* bytes, std::size_t count);

// Writes the row's type byte and its bytes filtered the way that gives the
// smallest signedMagnitudeSum (the lower type on a tie) into `out`
// (1 + rowBytes bytes), using `scratch` (4 * rowBytes bytes), and answers
// the filter chosen.
PngFilter filterPngRowAdaptively(const std::uint8_t* row, const std::uint8_t* above, std::size_t rowBytes,
                                 std::uint8_t* out, std::uint8_t* scratch);

}  // namespace Kvl
