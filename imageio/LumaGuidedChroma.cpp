#include "LumaGuidedChroma.h"

#include <algorithm>
#include <cstddef>
#include <vector>

namespace Kvl {
namespace {

// The slope of a colour line is cov / (var + this), both over the means of
// blocks, in squared luma levels: sensor noise and compression leave a
// block mean varying by a level or two, which must not tilt the line,
// while an edge varies it by tens of levels.
constexpr float LineRegularisation = 8.0f;

// A colour sample's weight on the pixels of its neighbour blocks where the
// block is two pixels across, as the usual (triangle) upsampling has it.
constexpr float NearWeight = 0.75f;
constexpr float FarWeight = 0.25f;

// Sums over blocks for a least-squares line of colour against luma, and
// the range of the colours summed.
struct LineSums {
  float n = 0, luma = 0, cb = 0, cr = 0, lumaLuma = 0, lumaCb = 0, lumaCr = 0;
  float lowCb = 255, highCb = 0, lowCr = 255, highCr = 0;
  void add(const LineSums& o) {
    n += o.n, luma += o.luma, cb += o.cb, cr += o.cr;
    lumaLuma += o.lumaLuma, lumaCb += o.lumaCb, lumaCr += o.lumaCr;
    lowCb = std::min(lowCb, o.lowCb), highCb = std::max(highCb, o.highCb);
    lowCr = std::min(lowCr, o.lowCr), highCr = std::max(highCr, o.highCr);
  }
};

// A block's colour line for one of Cb and Cr: its slope against luma, and
// the colours it may reach (those of the blocks it was fitted to).
struct ColourLine {
  float slope = 0;
  float low = 0;
  float high = 255;
};

struct BlockRow {
  std::vector<float> luma;  // the mean luma of the block's pixels
  std::vector<float> cb;
  std::vector<float> cr;
};

// One way of a pixel's blend: the block it lies in, the neighbour block on
// its side, and their weights.
struct Blend {
  std::uint32_t near;
  std::uint32_t far;
  float nearWeight;
  float farWeight;
};

Blend blendAlong(std::uint32_t position, std::uint32_t blockSize, std::uint32_t blocks) {
  const std::uint32_t block = position / blockSize;
  if (blockSize == 1) return {block, block, 1.0f, 0.0f};
  const bool firstHalf = position % 2 == 0;
  const std::uint32_t far = firstHalf ? (block == 0 ? 0 : block - 1) : std::min(block + 1, blocks - 1);
  return {block, far, NearWeight, FarWeight};
}

std::uint8_t toByte(float value) { return static_cast<std::uint8_t>(std::clamp(value, 0.0f, 255.0f) + 0.5f); }

// JFIF's YCbCr to RGB, as BGRX.
Pixel32 bgrxFromYcc(float luma, float cb, float cr) {
  const float b = luma + 1.772f * (cb - 128.0f);
  const float g = luma - 0.344136f * (cb - 128.0f) - 0.714136f * (cr - 128.0f);
  const float r = luma + 1.402f * (cr - 128.0f);
  return Pixel32{toByte(b)} | Pixel32{toByte(g)} << 8 | Pixel32{toByte(r)} << 16;
}

std::uint8_t lumaOf(Pixel32 p) { return static_cast<std::uint8_t>(p); }
std::uint8_t cbOf(Pixel32 p) { return static_cast<std::uint8_t>(p >> 8); }
std::uint8_t crOf(Pixel32 p) { return static_cast<std::uint8_t>(p >> 16); }

class Rebuilder {
public:
  Rebuilder(Pixel32* pixels, std::uint32_t width, std::uint32_t height, int blockWidth, int blockHeight)
      : pixels_(pixels),
        width_(width),
        height_(height),
        blockWidth_(static_cast<std::uint32_t>(blockWidth)),
        blockHeight_(static_cast<std::uint32_t>(blockHeight)),
        blocksWide_((width + blockWidth_ - 1) / blockWidth_),
        blocksHigh_((height + blockHeight_ - 1) / blockHeight_),
        across_(width),
        lineCb_(blocksWide_),
        lineCr_(blocksWide_) {
    for (BlockRow& row : ring_) {
      row.luma.resize(blocksWide_);
      row.cb.resize(blocksWide_);
      row.cr.resize(blocksWide_);
    }
    for (std::uint32_t x = 0; x < width_; ++x) across_[x] = blendAlong(x, blockWidth_, blocksWide_);
  }

  // Block rows are read just before the pixels they cover are overwritten:
  // the ring holds the row above, the row itself and the row below.
  void run() {
    readBlockRow(0);
    if (blocksHigh_ > 1) readBlockRow(1);
    for (std::uint32_t by = 0; by < blocksHigh_; ++by) {
      if (by + 1 < blocksHigh_ && by > 0) readBlockRow(by + 1);
      fitLines(by);
      rebuildBlockRow(by);
    }
  }

private:
  const BlockRow& blockRow(std::int64_t by) const {
    const std::int64_t clamped = std::clamp<std::int64_t>(by, 0, std::int64_t{blocksHigh_} - 1);
    return ring_[static_cast<std::size_t>(clamped % 3)];
  }

  Pixel32* pixelRow(std::uint32_t y) const { return pixels_ + std::size_t{y} * width_; }

  void readBlockRow(std::uint32_t by) {
    BlockRow& row = ring_[by % 3];
    const std::uint32_t top = by * blockHeight_;
    const std::uint32_t bottom = std::min(top + blockHeight_, height_);
    for (std::uint32_t bx = 0; bx < blocksWide_; ++bx) {
      const std::uint32_t left = bx * blockWidth_;
      const std::uint32_t right = std::min(left + blockWidth_, width_);
      unsigned lumaSum = 0;
      for (std::uint32_t y = top; y < bottom; ++y) {
        for (std::uint32_t x = left; x < right; ++x) lumaSum += lumaOf(pixelRow(y)[x]);
      }
      const Pixel32 sample = pixelRow(top)[left];
      row.luma[bx] = static_cast<float>(lumaSum) / static_cast<float>((bottom - top) * (right - left));
      row.cb[bx] = cbOf(sample);
      row.cr[bx] = crOf(sample);
    }
  }

  // The colour line of each block of row `by`, least squares over the 3x3
  // blocks around it (those inside the picture).
  void fitLines(std::uint32_t by) {
    columns_.assign(blocksWide_, LineSums{});
    const std::int64_t first = std::max<std::int64_t>(std::int64_t{by} - 1, 0);
    const std::int64_t last = std::min<std::int64_t>(std::int64_t{by} + 1, std::int64_t{blocksHigh_} - 1);
    for (std::int64_t r = first; r <= last; ++r) {
      const BlockRow& row = blockRow(r);
      for (std::uint32_t bx = 0; bx < blocksWide_; ++bx) {
        const float l = row.luma[bx];
        const float cb = row.cb[bx], cr = row.cr[bx];
        columns_[bx].add({1, l, cb, cr, l * l, l * cb, l * cr, cb, cb, cr, cr});
      }
    }
    for (std::uint32_t bx = 0; bx < blocksWide_; ++bx) {
      LineSums s;
      for (std::uint32_t c = bx == 0 ? 0 : bx - 1; c <= std::min(bx + 1, blocksWide_ - 1); ++c) s.add(columns_[c]);
      const float meanLuma = s.luma / s.n;
      const float variance = std::max(s.lumaLuma / s.n - meanLuma * meanLuma, 0.0f);
      const float covarianceCb = s.lumaCb / s.n - meanLuma * s.cb / s.n;
      const float covarianceCr = s.lumaCr / s.n - meanLuma * s.cr / s.n;
      lineCb_[bx] = {covarianceCb / (variance + LineRegularisation), s.lowCb, s.highCb};
      lineCr_[bx] = {covarianceCr / (variance + LineRegularisation), s.lowCr, s.highCr};
    }
  }

  void rebuildBlockRow(std::uint32_t by) {
    const std::uint32_t top = by * blockHeight_;
    const std::uint32_t bottom = std::min(top + blockHeight_, height_);
    for (std::uint32_t y = top; y < bottom; ++y) rebuildRow(y);
  }

  void rebuildRow(std::uint32_t y) {
    const Blend vertical = blendAlong(y, blockHeight_, blocksHigh_);
    const BlockRow& nearRow = blockRow(vertical.near);
    const BlockRow& farRow = blockRow(vertical.far);
    Pixel32* row = pixelRow(y);
    for (std::uint32_t x = 0; x < width_; ++x) {
      const Blend& across = across_[x];
      const auto blend = [&](const std::vector<float>& nearValues, const std::vector<float>& farValues) {
        return vertical.nearWeight * (across.nearWeight * nearValues[across.near] +
                                      across.farWeight * nearValues[across.far]) +
               vertical.farWeight * (across.nearWeight * farValues[across.near] +
                                     across.farWeight * farValues[across.far]);
      };
      const auto alongLine = [](float blended, const ColourLine& line, float lumaOffset) {
        return std::clamp(blended + line.slope * lumaOffset, line.low, line.high);
      };
      const float lumaOffset = static_cast<float>(lumaOf(row[x])) - blend(nearRow.luma, farRow.luma);
      const float cb = alongLine(blend(nearRow.cb, farRow.cb), lineCb_[across.near], lumaOffset);
      const float cr = alongLine(blend(nearRow.cr, farRow.cr), lineCr_[across.near], lumaOffset);
      row[x] = bgrxFromYcc(lumaOf(row[x]), cb, cr);
    }
  }

  Pixel32* pixels_;
  std::uint32_t width_, height_;
  std::uint32_t blockWidth_, blockHeight_;
  std::uint32_t blocksWide_, blocksHigh_;
  BlockRow ring_[3];
  std::vector<Blend> across_;                 // each column's, the same in every row
  std::vector<ColourLine> lineCb_, lineCr_;  // of the block row being rebuilt
  std::vector<LineSums> columns_;  // each block column's sums over the three rows
};

}  // namespace

void rebuildColourFromLuma(Pixel32* pixels, std::uint32_t width, std::uint32_t height, int blockWidth,
                           int blockHeight) {
  if (width == 0 || height == 0) return;
  Rebuilder(pixels, width, height, blockWidth, blockHeight).run();
}

}  // namespace Kvl
