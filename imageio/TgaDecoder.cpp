#include "TgaDecoder.h"

#include <algorithm>
#include <bit>
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

// packPixel over a run, reading each pixel as one little-endian 32-bit load
// with its fourth byte masked off: a pixel's three bytes and the byte after
// them. A 24-bit run's last pixel has no byte after it inside the run, so it
// is packed byte by byte.
template <std::size_t BytesPerPixel>
void packPixels(const std::uint8_t* bytes, Pixel32* out, std::size_t count) {
  static_assert(std::endian::native == std::endian::little);
  const std::size_t wordLoads = BytesPerPixel == 4 || count == 0 ? count : count - 1;
  for (std::size_t i = 0; i < wordLoads; ++i) {
    Pixel32 word;
    std::memcpy(&word, bytes + i * BytesPerPixel, sizeof word);
    out[i] = word & 0x00FFFFFFu;
  }
  if (wordLoads < count) out[wordLoads] = packPixel(bytes + wordLoads * BytesPerPixel);
}

// Source skips go in steps a size_t holds on every build.
constexpr std::uint64_t LargestSkipStep = std::uint64_t{1} << 30;

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

void TgaPixelDecoder::skip(std::uint64_t count) {
  if (runLength_) {
    skipRunLength(count);
  } else {
    skipRaw(count * bytesPerPixel_);
  }
}

// Moves over `bytes` bytes of pixel data. Those beyond the buffer are not
// read but skipped in the source, all but the last: reading that one tells
// whether the file reaches past them, as decoding them would have.
void TgaPixelDecoder::skipRaw(std::uint64_t bytes) {
  const auto fromBuffer = static_cast<std::size_t>(std::min<std::uint64_t>(bytes, buffered()));
  position_ += fromBuffer;
  bytes -= fromBuffer;
  if (bytes == 0) return;
  position_ = end_ = 0;
  for (std::uint64_t left = bytes - 1; left > 0 && !exhausted_;) {
    const std::uint64_t step = std::min(left, LargestSkipStep);
    source_.skip(static_cast<std::size_t>(step));
    left -= step;
  }
  if (ensureBuffered(1)) {
    ++position_;
  } else {
    truncated_ = true;
  }
}

// Runs are counted off; the pixels of raw packets are stepped over in the
// buffer, which the packet headers between them need anyway.
void TgaPixelDecoder::skipRunLength(std::uint64_t count) {
  while (count > 0) {
    count = skipWholePackets(count);
    if (count == 0) break;
    if (runRemaining_ > 0) {
      const auto n = static_cast<std::size_t>(std::min<std::uint64_t>(count, runRemaining_));
      runRemaining_ -= n;
      count -= n;
    } else if (rawRemaining_ > 0) {
      if (!ensureBuffered(bytesPerPixel_)) break;
      const std::size_t n = std::min({static_cast<std::size_t>(std::min<std::uint64_t>(count, rawRemaining_)),
                                      buffered() / bytesPerPixel_});
      position_ += n * bytesPerPixel_;
      rawRemaining_ -= n;
      count -= n;
    } else if (!startPacket()) {
      break;
    }
  }
  if (count > 0) truncated_ = true;
}

// Steps over packets that lie whole in the buffer and end within `count`
// pixels, reading nothing but their headers; returns the pixels left. The
// packet that does not fit is left to the careful path.
std::uint64_t TgaPixelDecoder::skipWholePackets(std::uint64_t count) {
  if (runRemaining_ > 0 || rawRemaining_ > 0) return count;
  const std::size_t largestPacket = 1 + (TgaPacketCountMask + 1u) * bytesPerPixel_;
  while (count > 0 && buffered() >= largestPacket) {
    const std::uint8_t header = buffer_[position_];
    const std::size_t pixels = (header & TgaPacketCountMask) + 1u;
    if (pixels > count) break;
    position_ += 1 + ((header & TgaRlePacketFlag) != 0 ? 1 : pixels) * bytesPerPixel_;
    count -= pixels;
  }
  return count;
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
  if (bytesPerPixel_ == 4) {
    packPixels<4>(bytes, out, n);
  } else {
    packPixels<3>(bytes, out, n);
  }
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
