#include "TgaDecoder.h"

#include <algorithm>
#include <cstring>

namespace Kvl {
namespace {

constexpr std::size_t InputBufferBytes = 256 * 1024;

// A small picture needs no more buffer than its largest possible encoding
// (every pixel in a packet of its own); a large one gets InputBufferBytes.
std::size_t inputBufferBytesFor(const TgaHeader& header) {
  const std::uint64_t largestEncoding = header.pixelCount() * (header.bytesPerPixel() + 1u);
  return static_cast<std::size_t>(std::clamp<std::uint64_t>(largestEncoding, 16u, InputBufferBytes));
}

// File bytes 0, 1, 2 are blue, green, red; a fourth (the file's alpha) is
// dropped, since the key alone decides alpha.
inline Pixel32 packPixel(const std::uint8_t* bytes) {
  return Pixel32{bytes[0]} | Pixel32{bytes[1]} << 8 | Pixel32{bytes[2]} << 16;
}

}  // namespace

LoadError readTgaPreamble(ByteSource& source, TgaHeader& header) {
  std::uint8_t bytes[TgaHeaderSize] = {};
  const std::size_t got = source.read(bytes, TgaHeaderSize);
  header = parseTgaHeader(bytes, got);
  if (got < TgaMinimumHeaderBytes) return LoadError::TooShort;
  if (const LoadError error = checkTgaHeader(header); error != LoadError::None) return error;
  source.skip(header.idLength);
  // A true-colour file may still carry a colour map; its entries are not
  // pixels, so step over them.
  source.skip(header.colourMapBytes());
  return LoadError::None;
}

TgaPixelDecoder::TgaPixelDecoder(ByteSource& source, const TgaHeader& header)
    : source_(source),
      bytesPerPixel_(header.bytesPerPixel()),
      runLength_(header.runLengthEncoded()),
      buffer_(inputBufferBytesFor(header)) {}

void TgaPixelDecoder::decode(Pixel32* out, std::size_t count) {
  if (runLength_) {
    decodeRunLength(out, count);
  } else {
    decodeRaw(out, count);
  }
}

void TgaPixelDecoder::decodeRaw(Pixel32* out, std::size_t count) {
  while (count > 0) {
    if (!ensureBuffered(bytesPerPixel_)) {
      fillMissing(out, count);
      return;
    }
    const std::size_t copied = copyBufferedPixels(out, count);
    out += copied;
    count -= copied;
  }
}

void TgaPixelDecoder::decodeRunLength(Pixel32* out, std::size_t count) {
  while (count > 0) {
    if (runRemaining_ > 0) {
      const std::size_t n = std::min(count, runRemaining_);
      std::fill_n(out, n, runPixel_);
      runRemaining_ -= n;
      out += n;
      count -= n;
    } else if (rawRemaining_ > 0) {
      if (!ensureBuffered(bytesPerPixel_)) break;
      const std::size_t copied = copyBufferedPixels(out, std::min(count, rawRemaining_));
      rawRemaining_ -= copied;
      out += copied;
      count -= copied;
    } else if (!startPacket()) {
      break;
    }
  }
  fillMissing(out, count);
}

// Packs as many whole pixels as the buffer holds, up to `count`.
std::size_t TgaPixelDecoder::copyBufferedPixels(Pixel32* out, std::size_t count) {
  const std::size_t n = std::min(count, buffered() / bytesPerPixel_);
  const std::uint8_t* bytes = buffer_.data() + position_;
  for (std::size_t i = 0; i < n; ++i) out[i] = packPixel(bytes + i * bytesPerPixel_);
  position_ += n * bytesPerPixel_;
  return n;
}

// Reads one packet header, and for a run-length packet its pixel.
bool TgaPixelDecoder::startPacket() {
  if (!ensureBuffered(1)) return false;
  const std::uint8_t header = buffer_[position_++];
  const std::size_t count = (header & TgaPacketCountMask) + 1u;
  if ((header & TgaRlePacketFlag) == 0) {
    rawRemaining_ = count;
    return true;
  }
  if (!ensureBuffered(bytesPerPixel_)) return false;
  runPixel_ = packPixel(buffer_.data() + position_);
  position_ += bytesPerPixel_;
  runRemaining_ = count;
  return true;
}

// Makes at least `count` bytes available, unless the source has ended.
bool TgaPixelDecoder::ensureBuffered(std::size_t count) {
  if (buffered() >= count) return true;
  if (exhausted_) return false;
  const std::size_t kept = buffered();
  std::memmove(buffer_.data(), buffer_.data() + position_, kept);
  position_ = 0;
  end_ = kept;
  while (end_ < count && !exhausted_) {
    const std::size_t got = source_.read(buffer_.data() + end_, buffer_.size() - end_);
    if (got == 0) exhausted_ = true;
    end_ += got;
  }
  return end_ >= count;
}

void TgaPixelDecoder::fillMissing(Pixel32* out, std::size_t count) {
  if (count == 0) return;
  std::fill_n(out, count, Pixel32{0});
  truncated_ = true;
}

}  // namespace Kvl
