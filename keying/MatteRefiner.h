#pragma once
// Refining a keyed matte after the key: garbage areas forced clear, the
// solid matte choked (shrunk), its edge feathered (softened), holdout areas
// forced solid, in that order. Only alpha changes; colours pass through.
//
// The refiner streams: rows go in one at a time and come out once their
// neighbourhood is known, so a picture of any height is refined holding a
// window of about 2 * (choke + feather) + 3 rows. Its filters are the same
// read upwards or downwards, so rows may go in from the top or from the
// bottom, whichever end the picture arrives from, with the same result.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "Pixel.h"
#include "RowOrder.h"

namespace Kvl {

inline constexpr int MaximumChoke = 100;
inline constexpr int MaximumFeather = 100;

// An area in pixels from the picture's top-left corner; it may reach out of
// the picture, and only what lies inside counts.
struct GarbageRect {
  std::int64_t x = 0;
  std::int64_t y = 0;
  std::int64_t width = 0;
  std::int64_t height = 0;
};

// A grey mask, one byte per pixel, top row first. It is stretched to the
// picture it is laid on by nearest sample.
struct MatteMask {
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  std::vector<std::uint8_t> values;
};

struct MatteRefinement {
  int choke = 0;    // the solid matte shrinks by this many pixels (a square of this radius)
  int feather = 0;  // the edge is softened over this many pixels
  std::vector<GarbageRect> garbage;
  std::shared_ptr<const MatteMask> garbageMatte;  // white clears, grey scales the alpha down
  std::shared_ptr<const MatteMask> holdoutMatte;  // white makes solid, grey scales towards solid

  bool active() const {
    return choke > 0 || feather > 0 || !garbage.empty() || garbageMatte != nullptr || holdoutMatte != nullptr;
  }
};

class MatteRefiner {
public:
  // Called with each refined row and its row counted from the top, in the
  // order the rows went in.
  using RowOutput = std::function<void(const Pixel32* row, std::uint32_t topRow)>;

  // A refiner for a width x height picture whose rows go in in `order`
  // (BottomUp: the bottom row first). May throw std::bad_alloc.
  MatteRefiner(const MatteRefinement& refinement, std::uint32_t width, std::uint32_t height, RowOrder order,
               RowOutput output);
  ~MatteRefiner();
  MatteRefiner(const MatteRefiner&) = delete;
  MatteRefiner& operator=(const MatteRefiner&) = delete;

  // The next row of width() pixels. Rows past the picture's height are ignored.
  void push(const Pixel32* row);
  // Puts out the rows still held; every row has come out once all rows went in.
  void finish();

private:
  class Pipeline;
  std::unique_ptr<Pipeline> pipeline_;
};

// Refines a whole frame in place, top row first.
void refineFrame(const MatteRefinement& refinement, Pixel32* pixels, std::uint32_t width, std::uint32_t height);

// The three box blurs whose radii add up to `feather`: the largest first.
// Three boxes are close to a Gaussian yet reach exactly `feather` pixels.
std::vector<int> featherBoxRadii(int feather);

}  // namespace Kvl
