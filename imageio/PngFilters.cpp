#include "PngFilters.h"

#include <algorithm>
#include <cstring>

namespace Kvl {
namespace {

constexpr std::size_t Bpp = PngBytesPerPixel;

// Each filter's loop reads only the unfiltered rows and has no branch, so
// that the compiler filters many bytes at once; the first pixel, whose
// left neighbours are zero, goes through the same arithmetic with zeros.

void subRow(const std::uint8_t* row, std::size_t rowBytes, std::uint8_t* out) {
  std::copy_n(row, std::min(Bpp, rowBytes), out);
  for (std::size_t i = Bpp; i < rowBytes; ++i) out[i] = static_cast<std::uint8_t>(row[i] - row[i - Bpp]);
}

void upRow(const std::uint8_t* row, const std::uint8_t* above, std::size_t rowBytes, std::uint8_t* out) {
  for (std::size_t i = 0; i < rowBytes; ++i) out[i] = static_cast<std::uint8_t>(row[i] - above[i]);
}

void averageRow(const std::uint8_t* row, const std::uint8_t* above, std::size_t rowBytes, std::uint8_t* out) {
  for (std::size_t i = 0; i < std::min(Bpp, rowBytes); ++i) out[i] = static_cast<std::uint8_t>(row[i] - (above[i] >> 1));
  for (std::size_t i = Bpp; i < rowBytes; ++i) {
    out[i] = static_cast<std::uint8_t>(row[i] - ((row[i - Bpp] + above[i]) >> 1));
  }
}

// The predictor of the Paeth filter: of left, above and upper-left, the one
// nearest to left + above - upper-left (ties in that order). In 16 bits,
// which hold every step, so that a vector holds as many lanes as it can.
inline std::uint8_t paethPredictor(std::int16_t left, std::int16_t above, std::int16_t upperLeft) {
  const auto distance = [](int value) { return static_cast<std::int16_t>(value < 0 ? -value : value); };
  const std::int16_t toLeft = distance(above - upperLeft);
  const std::int16_t toAbove = distance(left - upperLeft);
  const std::int16_t toUpperLeft = distance(left + above - 2 * upperLeft);
  const std::int16_t nearerOfAboveAndCorner = toAbove <= toUpperLeft ? above : upperLeft;
  return static_cast<std::uint8_t>(toLeft <= toAbove && toLeft <= toUpperLeft ? left : nearerOfAboveAndCorner);
}

void paethRow(const std::uint8_t* row, const std::uint8_t* above, std::size_t rowBytes, std::uint8_t* out) {
  // With left and upper-left zero the predictor is `above`.
  for (std::size_t i = 0; i < std::min(Bpp, rowBytes); ++i) out[i] = static_cast<std::uint8_t>(row[i] - above[i]);
  for (std::size_t i = Bpp; i < rowBytes; ++i) {
    out[i] = static_cast<std::uint8_t>(row[i] - paethPredictor(row[i - Bpp], above[i], above[i - Bpp]));
  }
}

}  // namespace

void filterPngRow(PngFilter filter, const std::uint8_t* row, const std::uint8_t* above, std::size_t rowBytes,
                  std::uint8_t* out) {
  switch (filter) {
    case PngFilter::None: std::copy_n(row, rowBytes, out); return;
    case PngFilter::Sub: subRow(row, rowBytes, out); return;
    case PngFilter::Up: upRow(row, above, rowBytes, out); return;
    case PngFilter::Average: averageRow(row, above, rowBytes, out); return;
    case PngFilter::Paeth: paethRow(row, above, rowBytes, out); return;
  }
}

std::uint64_t signedMagnitudeSum(const std::uint8_t* bytes, std::size_t count) {
  // 32-bit sums vectorise best; a block of 2^24 bytes of magnitude 128 at
  // most cannot overflow one.
  constexpr std::size_t Block = std::size_t{1} << 24;
  std::uint64_t total = 0;
  for (std::size_t start = 0; start < count; start += Block) {
    const std::size_t end = std::min(count, start + Block);
    std::uint32_t sum = 0;
    for (std::size_t i = start; i < end; ++i) {
      const std::uint8_t byte = bytes[i];
      sum += std::min(byte, static_cast<std::uint8_t>(-byte));  // 0xff counts 1, 0x80 counts 128
    }
    total += sum;
  }
  return total;
}

PngFilter filterPngRowAdaptively(const std::uint8_t* row, const std::uint8_t* above, std::size_t rowBytes,
                                 std::uint8_t* out, std::uint8_t* scratch) {
  PngFilter best = PngFilter::None;
  const std::uint8_t* bestBytes = row;
  std::uint64_t bestSum = signedMagnitudeSum(row, rowBytes);
  for (const PngFilter filter : {PngFilter::Sub, PngFilter::Up, PngFilter::Average, PngFilter::Paeth}) {
    std::uint8_t* candidate = scratch + (static_cast<std::size_t>(filter) - 1) * rowBytes;
    filterPngRow(filter, row, above, rowBytes, candidate);
    const std::uint64_t sum = signedMagnitudeSum(candidate, rowBytes);
    if (sum < bestSum) {
      best = filter;
      bestBytes = candidate;
      bestSum = sum;
    }
  }
  out[0] = static_cast<std::uint8_t>(best);
  std::memcpy(out + 1, bestBytes, rowBytes);
  return best;
}

}  // namespace Kvl
