#pragma once
// Synthetic keying plates whose true matte and true foreground colours are
// known by construction, for measuring how well a keyer recovers them.
//
// Each plate is a foreground laid over a lit backdrop as
//   composite = alpha * F + (1 - alpha) * B
// per pixel. Only then is the composite made to look like footage: the
// backdrop's colour spills onto the foreground near its edges, sensor noise
// is added, and some plates are stored as 4:2:0 JPEG. The truth keeps the
// spill-free F, so a keyer is rewarded for removing spill, not for keeping it.
// Everything is deterministic: the same plate has the same pixels every run.

#include <cstdint>
#include <string>
#include <vector>

#include "keying/Pixel.h"

namespace Kvl::Bench {

// Which colour-difference channel the backdrop is: what a despill removes.
enum class ScreenChannel { Green, Blue };

struct PlateRecipe {
  std::string name;
  Pixel32 backdrop;  // the evenly lit backdrop's colour, before fall-off and shadow
  ScreenChannel screen;
  int jpegQuality;  // 0 for a lossless (PNG) plate
  std::uint64_t noiseSeed;
};

// The plates the benchmark keys: chroma green, lime (the demo scene: a lime
// wall with a yellow ball and a straw hat in front) and blue, each lossless
// and as JPEG.
std::vector<PlateRecipe> benchmarkPlates();

// A plate and its truth, top row first, width x height pixels each.
struct Plate {
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  std::vector<Pixel32> composite;  // what the camera saw (opaque), before any JPEG step
  std::vector<Pixel32> truth;      // the true straight foreground colour, alpha the true matte
  Pixel32 backdropMean = 0;        // mean colour of the composite where the true matte is 0
  std::vector<Pixel32> cleanPlate; // the empty set: the backdrop alone, lit alike, with noise of its own
};

// Knobs of the footage-like steps, so that checks can switch them off.
struct PlateEffects {
  double spill = 0.3;       // share of backdrop colour mixed into F at the edge itself
  double spillReach = 5.0;  // pixels from the backdrop over which spill fades out
  double noiseSigma = 3.0;  // Gaussian sensor noise, in levels
};

Plate makePlate(const PlateRecipe& recipe, std::uint32_t width, std::uint32_t height,
                const PlateEffects& effects = {});

// Films a foreground over the recipe's lit backdrop: from `plate.truth`
// (and its size) fills `plate.composite` and `plate.backdropMean`, with the
// spill and noise of `effects`. makePlate's last step, shared with the plates
// made from photographs.
void shootPlate(const PlateRecipe& recipe, const PlateEffects& effects, Plate& plate);

// The plates' foreground alone (figure with hair, hat, bag, ball, glass,
// moving box): its true straight colour, alpha the true matte, top row first.
std::vector<Pixel32> foregroundTruth(std::uint32_t width, std::uint32_t height);

// A sky-blue to white vertical gradient to key the plates over.
std::vector<Pixel32> skyGradient(std::uint32_t width, std::uint32_t height);

// The backdrop's light at (x, y) of a width x height plate, 0..1: bright
// off-centre, falling off by a third or more to every corner, and a soft
// floor shadow along the bottom.
double backdropLight(double x, double y, std::uint32_t width, std::uint32_t height);

}  // namespace Kvl::Bench
