#include "MatteRefiner.h"

#include <algorithm>

namespace Kvl {
namespace {

enum class Filter { Minimum, Box };

// (sum + count / 2) / count, the nearest whole value with halves rounded up,
// by a multiply instead of a division: exact while sum * count < 2^32, far
// beyond the 255 * 201 * 201 the widest window can reach.
class RoundedDivider {
public:
  explicit RoundedDivider(std::uint32_t count)
      : half_(count / 2), multiplier_((std::uint64_t{1} << 32) / count + 1) {}
  std::uint8_t operator()(std::uint32_t sum) const {
    return static_cast<std::uint8_t>(((sum + half_) * multiplier_) >> 32);
  }

private:
  std::uint64_t half_;
  std::uint64_t multiplier_;
};

// Horizontal filters of one row of alpha, in place. A window reaching past
// either end holds only the pixels inside the picture.
class RowFilter {
public:
  explicit RowFilter(std::size_t width) : width_(width) {}

  // The minimum over [x - radius, x + radius] for every x, three comparisons
  // a pixel whatever the radius: the row, padded with the neutral 255, is cut
  // into blocks as wide as the window; any window is the tail of one block
  // and the head of the next.
  void minimum(std::uint8_t* alpha, int radius) {
    const std::size_t r = static_cast<std::size_t>(radius), window = 2 * r + 1;
    const std::size_t padded = (width_ + 2 * r + window - 1) / window * window;
    head_.assign(padded, 255);
    tail_.resize(padded);
    std::copy_n(alpha, width_, head_.begin() + static_cast<std::ptrdiff_t>(r));
    std::copy(head_.begin(), head_.end(), tail_.begin());
    // Plain pointers: stores through a byte pointer would otherwise make the
    // compiler fetch the vectors' own pointers again at every step.
    std::uint8_t* head = head_.data();
    std::uint8_t* tail = tail_.data();
    for (std::size_t start = 0; start < padded; start += window) {
      const std::size_t end = start + window;
      for (std::size_t i = start + 1; i < end; ++i) head[i] = std::min(head[i], head[i - 1]);
      for (std::size_t i = end - 1; i-- > start;) tail[i] = std::min(tail[i], tail[i + 1]);
    }
    const std::uint8_t* ahead = head + 2 * r;
    for (std::size_t x = 0, width = width_; x < width; ++x) alpha[x] = std::min(tail[x], ahead[x]);
  }

  // The rounded mean over [x - radius, x + radius], from running sums.
  void box(std::uint8_t* alpha, int radius) {
    const std::size_t r = static_cast<std::size_t>(radius), width = width_;
    sums_.resize(width_ + 1);
    std::uint32_t* sums = sums_.data();
    sums[0] = 0;
    for (std::size_t x = 0; x < width; ++x) sums[x + 1] = sums[x] + alpha[x];
    const auto edge = [&](std::size_t x) {
      const std::size_t low = x > r ? x - r : 0, high = std::min(width, x + r + 1);
      alpha[x] = RoundedDivider(static_cast<std::uint32_t>(high - low))(sums[high] - sums[low]);
    };
    const std::size_t innerEnd = width > r ? width - r : 0;
    std::size_t x = 0;
    for (; x < std::min(r, innerEnd); ++x) edge(x);
    const RoundedDivider full(static_cast<std::uint32_t>(2 * r + 1));
    for (; x < innerEnd; ++x) alpha[x] = full(sums[x + r + 1] - sums[x - r]);
    for (; x < width; ++x) edge(x);
  }

private:
  std::size_t width_;
  std::vector<std::uint8_t> head_, tail_;
  std::vector<std::uint32_t> sums_;
};

// A vertical filter over a rolling window of rows: row n comes out once row
// n + radius has gone in (or the last row has), so it holds 2 * radius + 2
// rows and never the picture.
class VerticalStage {
public:
  using Emit = std::function<void(std::uint8_t*)>;

  VerticalStage(Filter filter, int radius, std::size_t width)
      : filter_(filter), radius_(static_cast<std::size_t>(radius)), width_(width),
        rows_(2 * radius_ + 2), ring_(rows_ * width), out_(width), sums_(filter == Filter::Box ? width : 0) {}

  void push(const std::uint8_t* row, const Emit& emit) {
    std::copy_n(row, width_, slot(pushed_));
    if (filter_ == Filter::Box) {
      std::uint32_t* sums = sums_.data();
      for (std::size_t x = 0, width = width_; x < width; ++x) sums[x] += row[x];
    }
    ++pushed_;
    if (pushed_ > radius_) emitRow(pushed_ - 1 - radius_, emit);
  }

  void finish(const Emit& emit) {
    while (emitted_ < pushed_) emitRow(emitted_, emit);
  }

private:
  std::uint8_t* slot(std::size_t row) { return ring_.data() + row % rows_ * width_; }

  void emitRow(std::size_t row, const Emit& emit) {
    const std::size_t low = row > radius_ ? row - radius_ : 0;
    const std::size_t high = std::min(pushed_ - 1, row + radius_);
    std::uint8_t* out = out_.data();
    const std::size_t width = width_;
    if (filter_ == Filter::Minimum) {
      std::copy_n(slot(low), width, out);
      for (std::size_t n = low + 1; n <= high; ++n) {
        const std::uint8_t* in = slot(n);
        for (std::size_t x = 0; x < width; ++x) out[x] = std::min(out[x], in[x]);
      }
    } else {
      std::uint32_t* sums = sums_.data();
      for (; dropped_ < low; ++dropped_) {
        const std::uint8_t* leaving = slot(dropped_);
        for (std::size_t x = 0; x < width; ++x) sums[x] -= leaving[x];
      }
      const RoundedDivider divide(static_cast<std::uint32_t>(high - low + 1));
      for (std::size_t x = 0; x < width; ++x) out[x] = divide(sums[x]);
    }
    ++emitted_;
    emit(out_.data());
  }

  Filter filter_;
  std::size_t radius_;
  std::size_t width_;
  std::size_t rows_;
  std::vector<std::uint8_t> ring_;
  std::vector<std::uint8_t> out_;
  std::vector<std::uint32_t> sums_;  // the box's window, column by column
  std::size_t pushed_ = 0;
  std::size_t emitted_ = 0;
  std::size_t dropped_ = 0;  // rows taken back out of the sums
};

struct ClippedRect {
  std::size_t left, right, top, bottom;  // [left, right) x [top, bottom)
};

std::vector<ClippedRect> clipRects(const std::vector<GarbageRect>& rects, std::uint32_t width, std::uint32_t height) {
  std::vector<ClippedRect> clipped;
  for (const GarbageRect& rect : rects) {
    const auto clampTo = [](std::int64_t value, std::uint32_t limit) {
      return static_cast<std::size_t>(std::clamp<std::int64_t>(value, 0, limit));
    };
    const ClippedRect inside{clampTo(rect.x, width), clampTo(rect.x + rect.width, width), clampTo(rect.y, height),
                             clampTo(rect.y + rect.height, height)};
    if (inside.left < inside.right && inside.top < inside.bottom) clipped.push_back(inside);
  }
  return clipped;
}

// A mask stretched over the picture by nearest sample: the mask pixel under
// each picture pixel's centre.
class StretchedMask {
public:
  StretchedMask(const MatteMask& mask, std::uint32_t width, std::uint32_t height)
      : mask_(mask), height_(height), columns_(width) {
    for (std::uint32_t x = 0; x < width; ++x) columns_[x] = nearest(x, width, mask.width);
  }

  // The mask's values under the picture's row `topRow`.
  const std::uint8_t* row(std::uint32_t topRow, std::vector<std::uint8_t>& out) const {
    const std::size_t maskRow = nearest(topRow, height_, mask_.height);
    const std::uint8_t* values = mask_.values.data() + maskRow * mask_.width;
    out.resize(columns_.size());
    for (std::size_t x = 0; x < columns_.size(); ++x) out[x] = values[columns_[x]];
    return out.data();
  }

private:
  static std::uint32_t nearest(std::uint32_t at, std::uint32_t from, std::uint32_t to) {
    return static_cast<std::uint32_t>((2 * std::uint64_t{at} + 1) * to / (2 * std::uint64_t{from}));
  }

  const MatteMask& mask_;
  std::uint32_t height_;
  std::vector<std::uint32_t> columns_;
};

std::uint8_t scaledTowardsClear(std::uint8_t alpha, std::uint8_t mask) {
  return static_cast<std::uint8_t>((alpha * (255 - mask) + 127) / 255);
}

std::uint8_t scaledTowardsSolid(std::uint8_t alpha, std::uint8_t mask) {
  return static_cast<std::uint8_t>(alpha + ((255 - alpha) * mask + 127) / 255);
}

}  // namespace

std::vector<int> featherBoxRadii(int feather) {
  std::vector<int> radii;
  for (int pass = 0; pass < 3; ++pass) {
    const int radius = (feather + 2 - pass) / 3;
    if (radius > 0) radii.push_back(radius);
  }
  return radii;
}

class MatteRefiner::Pipeline {
public:
  Pipeline(const MatteRefinement& refinement, std::uint32_t width, std::uint32_t height, RowOrder order,
           RowOutput output)
      : refinement_(refinement), width_(width), height_(height), order_(order), output_(std::move(output)),
        garbage_(clipRects(refinement.garbage, width, height)), rowFilter_(width), alpha_(width) {
    if (refinement.garbageMatte) garbageMatte_.emplace_back(*refinement.garbageMatte, width, height);
    if (refinement.holdoutMatte) holdoutMatte_.emplace_back(*refinement.holdoutMatte, width, height);
    std::size_t lag = 0;
    if (refinement.choke > 0) {
      stages_.emplace_back(Filter::Minimum, refinement.choke, width);
      lag += static_cast<std::size_t>(refinement.choke);
    }
    for (const int radius : featherBoxRadii(refinement.feather)) {
      stages_.emplace_back(Filter::Box, radius, width);
      lag += static_cast<std::size_t>(radius);
    }
    for (std::size_t stage = 0; stage < stages_.size(); ++stage) {
      emits_.push_back([this, stage](std::uint8_t* row) { afterStage(stage, row); });
    }
    colourRows_ = lag + 1;
    colours_.resize(colourRows_ * width);
  }

  void push(const Pixel32* row) {
    if (pushed_ == height_) return;
    std::copy_n(row, width_, colours_.data() + pushed_ % colourRows_ * width_);
    std::uint8_t* alpha = alpha_.data();
    for (std::size_t x = 0, width = width_; x < width; ++x) alpha[x] = alphaOf(row[x]);
    clearGarbage(alpha_.data(), topRowOf(pushed_));
    ++pushed_;
    intoStage(0, alpha_.data());
  }

  void finish() {
    for (std::size_t stage = 0; stage < stages_.size(); ++stage) stages_[stage].finish(emits_[stage]);
  }

private:
  std::uint32_t topRowOf(std::size_t index) const {
    return static_cast<std::uint32_t>(order_ == RowOrder::TopDown ? index : height_ - 1 - index);
  }

  void clearGarbage(std::uint8_t* alpha, std::uint32_t topRow) {
    for (const ClippedRect& rect : garbage_) {
      if (topRow >= rect.top && topRow < rect.bottom) std::fill(alpha + rect.left, alpha + rect.right, 0);
    }
    if (garbageMatte_.empty()) return;
    const std::uint8_t* mask = garbageMatte_.front().row(topRow, maskRow_);
    for (std::size_t x = 0, width = width_; x < width; ++x) alpha[x] = scaledTowardsClear(alpha[x], mask[x]);
  }

  // The choke's rows are shrunk across before they are shrunk down; the
  // feather's are blurred across by all three boxes before the first blurs
  // them down. Minimum and mean do not commute, so the choke is done first.
  void intoStage(std::size_t stage, std::uint8_t* row) {
    if (stage == stages_.size()) {
      putOut(row);
      return;
    }
    const bool firstBox = stage == (refinement_.choke > 0 ? 1u : 0u);
    if (stage == 0 && refinement_.choke > 0) rowFilter_.minimum(row, refinement_.choke);
    if (firstBox) {
      for (const int radius : featherBoxRadii(refinement_.feather)) rowFilter_.box(row, radius);
    }
    stages_[stage].push(row, emits_[stage]);
  }

  void afterStage(std::size_t stage, std::uint8_t* row) { intoStage(stage + 1, row); }

  void putOut(const std::uint8_t* alpha) {
    const std::uint32_t topRow = topRowOf(emitted_);
    Pixel32* row = colours_.data() + emitted_ % colourRows_ * width_;
    const std::uint8_t* mask = holdoutMatte_.empty() ? nullptr : holdoutMatte_.front().row(topRow, maskRow_);
    for (std::size_t x = 0, width = width_; x < width; ++x) {
      const std::uint8_t refined = mask ? scaledTowardsSolid(alpha[x], mask[x]) : alpha[x];
      row[x] = (row[x] & 0x00FFFFFFu) | Pixel32{refined} << 24;
    }
    ++emitted_;
    output_(row, topRow);
  }

  const MatteRefinement& refinement_;
  std::size_t width_;
  std::uint32_t height_;
  RowOrder order_;
  RowOutput output_;
  std::vector<ClippedRect> garbage_;
  std::vector<StretchedMask> garbageMatte_, holdoutMatte_;  // none or one
  RowFilter rowFilter_;
  std::vector<VerticalStage> stages_;
  std::vector<VerticalStage::Emit> emits_;
  std::size_t colourRows_ = 1;
  std::vector<Pixel32> colours_;  // the rows in the window, waiting for their alpha
  std::vector<std::uint8_t> alpha_, maskRow_;
  std::size_t pushed_ = 0;
  std::size_t emitted_ = 0;
};

MatteRefiner::MatteRefiner(const MatteRefinement& refinement, std::uint32_t width, std::uint32_t height,
                           RowOrder order, RowOutput output)
    : pipeline_(std::make_unique<Pipeline>(refinement, width, height, order, std::move(output))) {}

MatteRefiner::~MatteRefiner() = default;

void MatteRefiner::push(const Pixel32* row) { pipeline_->push(row); }

void MatteRefiner::finish() { pipeline_->finish(); }

void refineFrame(const MatteRefinement& refinement, Pixel32* pixels, std::uint32_t width, std::uint32_t height) {
  if (width == 0 || height == 0) return;
  // A row is written back only after it went in: the refiner holds copies.
  MatteRefiner refiner(refinement, width, height, RowOrder::TopDown, [=](const Pixel32* row, std::uint32_t topRow) {
    std::copy_n(row, width, pixels + std::size_t{topRow} * width);
  });
  for (std::uint32_t y = 0; y < height; ++y) refiner.push(pixels + std::size_t{y} * width);
  refiner.finish();
}

}  // namespace Kvl
