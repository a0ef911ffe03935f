#include "RealPlates.h"

#include <algorithm>
#include <array>
#include <cmath>

namespace Kvl::Bench {
namespace {

using Colour = std::array<double, 3>;

// A picture of colours with a weight per pixel, for filling in.
struct WeightedPicture {
  std::uint32_t width = 0, height = 0;
  std::vector<Colour> colour;  // weighted sums
  std::vector<double> weight;
};

WeightedPicture halve(const WeightedPicture& fine) {
  WeightedPicture coarse;
  coarse.width = (fine.width + 1) / 2;
  coarse.height = (fine.height + 1) / 2;
  coarse.colour.assign(std::size_t{coarse.width} * coarse.height, Colour{});
  coarse.weight.assign(coarse.colour.size(), 0);
  for (std::uint32_t y = 0; y < fine.height; ++y) {
    for (std::uint32_t x = 0; x < fine.width; ++x) {
      const std::size_t from = std::size_t{y} * fine.width + x, to = std::size_t{y / 2} * coarse.width + x / 2;
      for (std::size_t c = 0; c < 3; ++c) coarse.colour[to][c] += fine.colour[from][c];
      coarse.weight[to] += fine.weight[from];
    }
  }
  return coarse;
}

// Bilinear sample of a filled (normalised) level at the centre of a pixel of
// the level twice its size.
Colour sampleCoarse(const std::vector<Colour>& filled, std::uint32_t width, std::uint32_t height, std::uint32_t x,
                    std::uint32_t y) {
  const double u = std::clamp((x + 0.5) / 2 - 0.5, 0.0, width - 1.0);
  const double v = std::clamp((y + 0.5) / 2 - 0.5, 0.0, height - 1.0);
  const auto x0 = static_cast<std::uint32_t>(u), y0 = static_cast<std::uint32_t>(v);
  const std::uint32_t x1 = std::min(x0 + 1, width - 1), y1 = std::min(y0 + 1, height - 1);
  const double fx = u - x0, fy = v - y0;
  Colour out{};
  for (std::size_t c = 0; c < 3; ++c) {
    const double top = filled[y0 * width + x0][c] * (1 - fx) + filled[y0 * width + x1][c] * fx;
    const double bottom = filled[y1 * width + x0][c] * (1 - fx) + filled[y1 * width + x1][c] * fx;
    out[c] = top * (1 - fy) + bottom * fy;
  }
  return out;
}

// Push-pull fill: every pixel gets its own colour where its weight is full,
// and the coarser levels' smooth estimate where it has none.
std::vector<Colour> fillIn(const WeightedPicture& picture) {
  if (picture.width <= 1 && picture.height <= 1) {
    const double w = picture.weight[0];
    return {w > 0 ? Colour{picture.colour[0][0] / w, picture.colour[0][1] / w, picture.colour[0][2] / w} : Colour{}};
  }
  const WeightedPicture coarse = halve(picture);
  const std::vector<Colour> coarseFilled = fillIn(coarse);
  std::vector<Colour> filled(picture.colour.size());
  for (std::uint32_t y = 0; y < picture.height; ++y) {
    for (std::uint32_t x = 0; x < picture.width; ++x) {
      const std::size_t i = std::size_t{y} * picture.width + x;
      const Colour below = sampleCoarse(coarseFilled, coarse.width, coarse.height, x, y);
      const double w = picture.weight[i], own = std::min(w, 1.0);
      for (std::size_t c = 0; c < 3; ++c) {
        filled[i][c] = (w > 0 ? own * picture.colour[i][c] / w : 0) + (1 - own) * below[c];
      }
    }
  }
  return filled;
}

Colour colourOf(Pixel32 pixel) { return {double(redOf(pixel)), double(greenOf(pixel)), double(blueOf(pixel))}; }

// The photograph filled in from the pixels `counts` accepts by their alpha.
template <typename Counts>
std::vector<Colour> fillFrom(const WholePicture& photo, const WholePicture& alpha, Counts counts) {
  WeightedPicture picture{photo.width, photo.height, {}, {}};
  picture.colour.resize(photo.pixels.size());
  picture.weight.resize(photo.pixels.size());
  for (std::size_t i = 0; i < photo.pixels.size(); ++i) {
    const double w = counts(redOf(alpha.pixels[i])) ? 1.0 : 0.0;
    const Colour c = colourOf(photo.pixels[i]);
    for (std::size_t k = 0; k < 3; ++k) picture.colour[i][k] = w * c[k];
    picture.weight[i] = w;
  }
  return fillIn(picture);
}

std::uint8_t toLevel(double value) { return static_cast<std::uint8_t>(std::clamp(std::lround(value), 0L, 255L)); }

double smoothstep(double edge0, double edge1, double x) {
  const double t = std::clamp((x - edge0) / (edge1 - edge0), 0.0, 1.0);
  return t * t * (3 - 2 * t);
}

struct Premultiplied {
  double red = 0, green = 0, blue = 0, alpha = 0;
};

// Bilinear sample of the premultiplied foreground at a photograph point;
// nothing outside the photograph.
Premultiplied sampleForeground(const WholePicture& foreground, double u, double v) {
  Premultiplied out;
  const double x = u - 0.5, y = v - 0.5;
  const double x0 = std::floor(x), y0 = std::floor(y);
  for (int dy = 0; dy < 2; ++dy) {
    for (int dx = 0; dx < 2; ++dx) {
      const double px = x0 + dx, py = y0 + dy;
      if (px < 0 || py < 0 || px >= foreground.width || py >= foreground.height) continue;
      const double w = (dx ? x - x0 : 1 - (x - x0)) * (dy ? y - y0 : 1 - (y - y0));
      const Pixel32 p = foreground.pixels[std::size_t(py) * foreground.width + std::size_t(px)];
      const double a = alphaOf(p) / 255.0;
      out.red += w * a * redOf(p), out.green += w * a * greenOf(p), out.blue += w * a * blueOf(p);
      out.alpha += w * a;
    }
  }
  return out;
}

}  // namespace

WholePicture estimateForeground(const WholePicture& photo, const WholePicture& alpha) {
  const std::vector<Colour> backdrop = fillFrom(photo, alpha, [](int a) { return a == 0; });
  const std::vector<Colour> solid = fillFrom(photo, alpha, [](int a) { return a >= 243; });
  WholePicture foreground{photo.width, photo.height, std::vector<Pixel32>(photo.pixels.size(), 0)};
  for (std::size_t i = 0; i < photo.pixels.size(); ++i) {
    const int level = redOf(alpha.pixels[i]);
    if (level == 0) continue;
    const Colour seen = colourOf(photo.pixels[i]);
    const double a = level / 255.0, trust = smoothstep(0.2, 0.7, a);
    Colour colour;
    for (std::size_t c = 0; c < 3; ++c) {
      const double unmixed = std::clamp((seen[c] - (1 - a) * backdrop[i][c]) / a, 0.0, 255.0);
      colour[c] = level == 255 ? seen[c] : trust * unmixed + (1 - trust) * solid[i][c];
    }
    foreground.pixels[i] = makePixel(toLevel(colour[0]), toLevel(colour[1]), toLevel(colour[2]),
                                     static_cast<std::uint8_t>(level));
  }
  return foreground;
}

Plate makeRealPlate(const RealPlateRecipe& recipe, const WholePicture& foreground, const PlateEffects& effects) {
  Plate plate;
  plate.width = RealPlateWidth;
  plate.height = RealPlateHeight;
  plate.truth.assign(std::size_t{plate.width} * plate.height, 0);
  // Supersampled when the photograph is shrunk, so that thin hair averages.
  const int samples = std::max(1, static_cast<int>(std::ceil(1 / recipe.zoom)));
  const double fromX = recipe.fromX * foreground.width, fromY = recipe.fromY * foreground.height;
  const double toX = recipe.toX * plate.width, toY = recipe.toY * plate.height;
  for (std::uint32_t y = 0; y < plate.height; ++y) {
    for (std::uint32_t x = 0; x < plate.width; ++x) {
      Premultiplied sum;
      for (int sy = 0; sy < samples; ++sy) {
        for (int sx = 0; sx < samples; ++sx) {
          const double px = x + (sx + 0.5) / samples, py = y + (sy + 0.5) / samples;
          const Premultiplied s =
              sampleForeground(foreground, fromX + (px - toX) / recipe.zoom, fromY + (py - toY) / recipe.zoom);
          sum.red += s.red, sum.green += s.green, sum.blue += s.blue, sum.alpha += s.alpha;
        }
      }
      const std::uint8_t alpha = toLevel(255 * sum.alpha / (samples * samples));
      if (alpha == 0) continue;
      plate.truth[std::size_t{y} * plate.width + x] =
          makePixel(toLevel(sum.red / sum.alpha), toLevel(sum.green / sum.alpha), toLevel(sum.blue / sum.alpha), alpha);
    }
  }
  shootPlate(recipe.plate, effects, plate);
  return plate;
}

double subjectShare(const Plate& plate) {
  double sum = 0;
  for (Pixel32 p : plate.truth) sum += alphaOf(p);
  return plate.truth.empty() ? 0 : sum / (255.0 * double(plate.truth.size()));
}

std::vector<RealPlateRecipe> realPlates() {
  const Pixel32 green = makePixel(45, 170, 70), lime = makePixel(150, 172, 60), blue = makePixel(30, 65, 185);
  const ScreenChannel g = ScreenChannel::Green, b = ScreenChannel::Blue;
  // name, backdrop, screen, JPEG, seed; photograph, zoom, from x/y, to x/y.
  // A subject the photograph cuts off at its top (the troll dolls' hair, the
  // potted plant, the bonsai) is zoomed until the photograph reaches the
  // plate's top: ending in a straight line in mid-air, it would be a hard
  // edge no real subject has.
  return {
      {{"red-hair-doll", green, g, 0, 1001}, "GT03", 0.75, 0.5, 1, 0.5, 1},
      {{"troll-dolls", blue, b, 0, 1002}, "GT04", 1.066, 0.5, 1, 0.5, 1},
      {{"plush-sheep", lime, g, 0, 1003}, "GT07", 1.05, 0.5, 1, 0.5, 1},
      {{"blonde-doll", lime, g, 75, 1004}, "GT08", 0.9, 0.5, 1, 0.5, 1},
      {{"teddy-scarf", blue, b, 0, 1005}, "GT10", 1.0, 0.5, 1, 0.5, 1},
      {{"thistle", green, g, 0, 1006}, "GT11", 0.8, 0, 0.5, 0, 0.5},
      {{"potted-plant", blue, b, 75, 1007}, "GT13", 1.0085, 0.5, 1, 0.5, 1},
      {{"white-rabbit", green, g, 75, 1008}, "GT15", 0.8, 0.5, 1, 0.45, 1},
      {{"koala", lime, g, 0, 1009}, "GT16", 1.0, 0.5, 1, 0.5, 1},
      {{"giraffe-plush", blue, b, 75, 1010}, "GT17", 1.0, 0.5, 1, 0.5, 1},
      {{"pink-dragon-close", green, g, 0, 1011}, "GT20", 1.3, 0.5, 0.45, 0.5, 0.45},
      {{"red-flowers", blue, b, 0, 1012}, "GT21", 0.9, 0.5, 1, 0.5, 1},
      {{"teddy-jumper", green, g, 75, 1013}, "GT22", 1.1, 0.5, 1, 0.5, 1},
      {{"purple-donkey", lime, g, 75, 1014}, "GT24", 0.95, 0.5, 1, 0.5, 1},
      {{"pencil-cup", green, g, 0, 1015}, "GT25", 1.25, 0.5, 1, 0.5, 1},
      {{"bonsai", lime, g, 0, 1016}, "GT26", 0.994, 0.5, 1, 0.5, 1},
      {{"wool-strands", green, g, 75, 1017}, "GT27", 1.0, 0.5, 1, 0.5, 1},
      {{"bear-jacket-small", blue, b, 0, 1018}, "GT05", 0.8, 0.5, 1, 0.55, 1},
  };
}

}  // namespace Kvl::Bench
