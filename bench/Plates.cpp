#include "Plates.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numbers>

namespace Kvl::Bench {
namespace {

// The scene is laid out on a 1280 x 720 stage and scaled to the plate's size.
constexpr double StageWidth = 1280;
constexpr double StageHeight = 720;

struct Rgb {
  double red, green, blue;
};

Rgb rgbOf(Pixel32 pixel) { return {double(redOf(pixel)), double(greenOf(pixel)), double(blueOf(pixel))}; }

Rgb mix(const Rgb& a, const Rgb& b, double bShare) {
  return {a.red + (b.red - a.red) * bShare, a.green + (b.green - a.green) * bShare,
          a.blue + (b.blue - a.blue) * bShare};
}

std::uint8_t toLevel(double value) { return static_cast<std::uint8_t>(std::clamp(std::lround(value), 0L, 255L)); }

Pixel32 toPixel(const Rgb& colour, std::uint8_t alpha = 0) {
  return makePixel(toLevel(colour.red), toLevel(colour.green), toLevel(colour.blue), alpha);
}

double clamp01(double value) { return std::clamp(value, 0.0, 1.0); }

double smoothstep(double edge0, double edge1, double x) {
  const double t = clamp01((x - edge0) / (edge1 - edge0));
  return t * t * (3 - 2 * t);
}

// splitmix64: a fixed, portable sequence, unlike the standard library's
// distributions, whose output differs between implementations.
class Random {
public:
  explicit Random(std::uint64_t seed) : state_(seed) {}
  std::uint64_t next() {
    std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  double uniform() { return double(next() >> 11) * 0x1.0p-53; }  // [0, 1)
  double between(double low, double high) { return low + (high - low) * uniform(); }
  double gaussian() {  // Box-Muller
    const double u = 1.0 - uniform();
    return std::sqrt(-2.0 * std::log(u)) * std::cos(2 * std::numbers::pi * uniform());
  }

private:
  std::uint64_t state_;
};

// A layer's contribution at one pixel: its coverage and straight colour.
struct Paint {
  double alpha;
  Rgb colour;
};

struct Premultiplied {
  double red = 0, green = 0, blue = 0, alpha = 0;
};

// The foreground, premultiplied, built back to front with "over".
class Canvas {
public:
  Canvas(std::uint32_t width, std::uint32_t height)
      : width_(width), height_(height), scaleX_(width / StageWidth), scaleY_(height / StageHeight),
        pixels_(std::size_t{width} * height) {}

  std::uint32_t width() const { return width_; }
  std::uint32_t height() const { return height_; }
  double scaleX() const { return scaleX_; }
  double scaleY() const { return scaleY_; }
  // Pixel lengths per stage length, for turning stage distances into pixels.
  double scale() const { return std::min(scaleX_, scaleY_); }
  const Premultiplied& at(std::size_t index) const { return pixels_[index]; }

  // Paints `paint(stageX, stageY)` over every pixel whose centre lies in the
  // stage box, grown by two pixels for the anti-aliased rim.
  template <typename PaintAt>
  void paintStage(double left, double top, double right, double bottom, PaintAt paint) {
    paintPixels(left * scaleX_ - 2, top * scaleY_ - 2, right * scaleX_ + 2, bottom * scaleY_ + 2,
                [&](double x, double y) { return paint(x / scaleX_, y / scaleY_); });
  }

  // The same with a box and a painter in pixel units (pixel centres at .5).
  template <typename PaintAt>
  void paintPixels(double left, double top, double right, double bottom, PaintAt paint) {
    const auto x0 = static_cast<std::uint32_t>(std::clamp(std::floor(left), 0.0, double(width_)));
    const auto x1 = static_cast<std::uint32_t>(std::clamp(std::ceil(right), 0.0, double(width_)));
    const auto y0 = static_cast<std::uint32_t>(std::clamp(std::floor(top), 0.0, double(height_)));
    const auto y1 = static_cast<std::uint32_t>(std::clamp(std::ceil(bottom), 0.0, double(height_)));
    for (std::uint32_t y = y0; y < y1; ++y) {
      for (std::uint32_t x = x0; x < x1; ++x) {
        const Paint p = paint(x + 0.5, y + 0.5);
        if (p.alpha > 0) over(pixels_[std::size_t{y} * width_ + x], p);
      }
    }
  }

private:
  static void over(Premultiplied& under, const Paint& p) {
    const double a = clamp01(p.alpha);
    under.red = a * p.colour.red + (1 - a) * under.red;
    under.green = a * p.colour.green + (1 - a) * under.green;
    under.blue = a * p.colour.blue + (1 - a) * under.blue;
    under.alpha = a + (1 - a) * under.alpha;
  }

  std::uint32_t width_, height_;
  double scaleX_, scaleY_;
  std::vector<Premultiplied> pixels_;
};

// Coverage of a pixel by a shape whose signed distance (negative inside) at
// its centre is `pixels`: a one-pixel anti-aliased rim.
double coverage(double pixels) { return clamp01(0.5 - pixels); }

// Signed distance to an ellipse's outline in stage units, to first order.
double ellipseDistance(double x, double y, double cx, double cy, double rx, double ry) {
  const double dx = x - cx, dy = y - cy;
  const double f = dx * dx / (rx * rx) + dy * dy / (ry * ry);
  const double gradient = 2 * std::hypot(dx / (rx * rx), dy / (ry * ry));
  return gradient > 0 ? (f - 1) / gradient : -std::min(rx, ry);
}

double roundedBoxDistance(double x, double y, double cx, double cy, double halfWidth, double halfHeight,
                          double radius) {
  const double qx = std::abs(x - cx) - (halfWidth - radius);
  const double qy = std::abs(y - cy) - (halfHeight - radius);
  return std::hypot(std::max(qx, 0.0), std::max(qy, 0.0)) + std::min(std::max(qx, qy), 0.0) - radius;
}

void paintEllipse(Canvas& canvas, double cx, double cy, double rx, double ry, const Rgb& colour) {
  canvas.paintStage(cx - rx, cy - ry, cx + rx, cy + ry, [&](double x, double y) {
    return Paint{coverage(ellipseDistance(x, y, cx, cy, rx, ry) * canvas.scale()), colour};
  });
}

void paintRoundedBox(Canvas& canvas, double cx, double cy, double halfWidth, double halfHeight, double radius,
                     const Rgb& colour) {
  canvas.paintStage(cx - halfWidth, cy - halfHeight, cx + halfWidth, cy + halfHeight, [&](double x, double y) {
    return Paint{coverage(roundedBoxDistance(x, y, cx, cy, halfWidth, halfHeight, radius) * canvas.scale()), colour};
  });
}

// Fine hair: thin strands from the sides of the head, each one to two
// pixels wide and partly transparent, curving outwards and down.
void paintHairStrands(Canvas& canvas, double cx, double cy, double rx, double ry) {
  Random random(0x4A1Bu);
  constexpr int StrandCount = 160;
  for (int strand = 0; strand < StrandCount; ++strand) {
    const bool left = strand % 2 == 0;
    const double angle = (left ? random.between(140, 215) : random.between(-35, 40)) * std::numbers::pi / 180;
    const double outward = left ? -1 : 1;
    const double x0 = (cx + 0.97 * rx * std::cos(angle)) * canvas.scaleX();
    const double y0 = (cy + 0.97 * ry * std::sin(angle)) * canvas.scaleY();
    const double x1 = x0 + outward * random.between(15, 45) * canvas.scaleX();
    const double y1 = y0 + random.between(10, 50) * canvas.scaleY();
    const double x2 = x0 + outward * random.between(25, 90) * canvas.scaleX();
    const double y2 = y0 + random.between(50, 170) * canvas.scaleY();
    const double width = random.between(0.6, 1.6);
    const double opacity = random.between(0.4, 0.85);
    const Rgb colour{random.between(55, 100), random.between(38, 64), random.between(26, 40)};

    // The strand's distance field over its box, from short straight pieces.
    // Whole pixels, so that a box column is a pixel column.
    const double boxLeft = std::floor(std::min({x0, x1, x2}) - 3), right = std::max({x0, x1, x2}) + 3;
    const double top = std::floor(std::min({y0, y1, y2}) - 3), bottom = std::max({y0, y1, y2}) + 3;
    const auto boxWidth = static_cast<std::size_t>(std::ceil(right - boxLeft));
    const auto boxHeight = static_cast<std::size_t>(std::ceil(bottom - top));
    std::vector<double> distance(boxWidth * boxHeight, std::numeric_limits<double>::infinity());
    const double length = std::hypot(x1 - x0, y1 - y0) + std::hypot(x2 - x1, y2 - y1);
    const int pieces = std::max(2, static_cast<int>(std::ceil(length * 2)));
    auto pointAt = [&](double t, double& x, double& y) {
      x = (1 - t) * (1 - t) * x0 + 2 * (1 - t) * t * x1 + t * t * x2;
      y = (1 - t) * (1 - t) * y0 + 2 * (1 - t) * t * y1 + t * t * y2;
    };
    for (int piece = 0; piece < pieces; ++piece) {
      double ax, ay, bx, by;
      pointAt(double(piece) / pieces, ax, ay);
      pointAt(double(piece + 1) / pieces, bx, by);
      const double segmentLength2 = (bx - ax) * (bx - ax) + (by - ay) * (by - ay);
      const auto fromX = static_cast<std::size_t>(std::max(0.0, std::min(ax, bx) - 2 - boxLeft));
      const auto toX = std::min(boxWidth, static_cast<std::size_t>(std::max(ax, bx) + 3 - boxLeft));
      const auto fromY = static_cast<std::size_t>(std::max(0.0, std::min(ay, by) - 2 - top));
      const auto toY = std::min(boxHeight, static_cast<std::size_t>(std::max(ay, by) + 3 - top));
      for (std::size_t row = fromY; row < toY; ++row) {
        for (std::size_t column = fromX; column < toX; ++column) {
          const double px = boxLeft + double(column) + 0.5, py = top + double(row) + 0.5;
          const double t =
              segmentLength2 > 0 ? clamp01(((px - ax) * (bx - ax) + (py - ay) * (by - ay)) / segmentLength2) : 0;
          const double d = std::hypot(px - (ax + t * (bx - ax)), py - (ay + t * (by - ay)));
          double& kept = distance[row * boxWidth + column];
          kept = std::min(kept, d);
        }
      }
    }
    canvas.paintPixels(boxLeft, top, boxLeft + double(boxWidth), top + double(boxHeight), [&](double x, double y) {
                         const auto column = static_cast<std::size_t>(x - boxLeft);
                         const auto row = static_cast<std::size_t>(y - top);
                         const double d = distance[row * boxWidth + column];
                         return Paint{opacity * clamp01(std::min(width, width / 2 + 0.5 - d)), colour};
                       });
  }
}

// Half-transparent glass: a clear pane, more opaque towards its rim and its
// foot (alpha about 0.3 at the top to 0.6 at the bottom, 0.85 at the rim).
void paintGlass(Canvas& canvas) {
  const double cx = 1085, cy = 300, halfWidth = 95, halfHeight = 140, radius = 18;
  const Rgb tint{205, 222, 232};
  canvas.paintStage(cx - halfWidth, cy - halfHeight, cx + halfWidth, cy + halfHeight, [&](double x, double y) {
    const double inside = -roundedBoxDistance(x, y, cx, cy, halfWidth, halfHeight, radius) * canvas.scale();
    const double body = 0.3 + 0.3 * clamp01((y - (cy - halfHeight)) / (2 * halfHeight));
    const double rim = clamp01(1 - inside / 6);
    return Paint{coverage(-inside) * (body + (0.85 - body) * rim), tint};
  });
}

// A box moving sideways during the exposure: its alpha ramps over `blur`
// pixels at the left and right edges (a box filter of its shape).
void paintMovingBox(Canvas& canvas, double left, double top, double right, double bottom, double blur,
                    const Rgb& colour) {
  const double x0 = left * canvas.scaleX(), x1 = right * canvas.scaleX();
  const double y0 = top * canvas.scaleY(), y1 = bottom * canvas.scaleY();
  canvas.paintPixels(x0 - blur, y0 - 1, x1 + blur, y1 + 1, [&](double x, double y) {
    const double across = clamp01((std::min(x + blur / 2, x1) - std::max(x - blur / 2, x0)) / blur);
    const double down = clamp01(std::min(y + 0.5, y1) - std::max(y - 0.5, y0));
    return Paint{across * down, colour};
  });
}

// A shaded ball, lit from the upper left.
void paintBall(Canvas& canvas, double cx, double cy, double r, const Rgb& colour) {
  canvas.paintStage(cx - r, cy - r, cx + r, cy + r, [&](double x, double y) {
    const double lit = 1.05 - 0.3 * clamp01(std::hypot(x - (cx - r / 3), y - (cy - r / 3)) / (1.6 * r));
    return Paint{coverage(ellipseDistance(x, y, cx, cy, r, r) * canvas.scale()),
                 {colour.red * lit, colour.green * lit, colour.blue * lit}};
  });
}

// A straw hat: a wide brim and a rounded crown with a woven texture.
void paintStrawHat(Canvas& canvas, double cx, double brimY) {
  const Rgb straw{218, 188, 112};
  auto woven = [&](double x, double y) {
    const double weave = 9 * std::sin(x * 0.9) * std::sin(y * 0.7);
    return Rgb{straw.red + weave, straw.green + weave, straw.blue + weave * 0.6};
  };
  canvas.paintStage(cx - 92, brimY - 103, cx + 92, brimY + 13, [&](double x, double y) {
    return Paint{coverage(roundedBoxDistance(x, y, cx, brimY - 45, 92, 58, 40) * canvas.scale()), woven(x, y)};
  });
  canvas.paintStage(cx - 175, brimY - 34, cx + 175, brimY + 34, [&](double x, double y) {
    return Paint{coverage(ellipseDistance(x, y, cx, brimY, 175, 34) * canvas.scale()), woven(x, y)};
  });
}

// The foreground, back to front: a figure in a dark jacket with a teal
// scarf, fine hair and a straw hat; an olive bag, a yellow ball, a glass
// pane and a box blurred by its motion.
Canvas paintForeground(std::uint32_t width, std::uint32_t height) {
  Canvas canvas(width, height);
  paintRoundedBox(canvas, 560, 650, 210, 180, 90, {38, 34, 44});  // jacket, off the bottom edge
  paintRoundedBox(canvas, 560, 450, 40, 50, 10, {196, 140, 112});  // neck
  paintEllipse(canvas, 560, 330, 98, 125, {62, 42, 30});  // the hair's mass
  paintHairStrands(canvas, 560, 330, 98, 125);
  paintEllipse(canvas, 560, 338, 80, 105, {210, 155, 125});  // face
  paintEllipse(canvas, 560, 488, 125, 32, {38, 125, 118});  // teal scarf
  paintStrawHat(canvas, 560, 250);
  paintRoundedBox(canvas, 215, 600, 115, 85, 14, {112, 118, 44});  // olive bag
  paintBall(canvas, 935, 585, 78, {236, 206, 38});
  paintGlass(canvas);
  paintMovingBox(canvas, 120, 130, 310, 290, 16 * canvas.scaleX(), {205, 72, 42});
  return canvas;
}

// Each pixel's distance (in pixels, 3-4 chamfer) to the nearest pixel whose
// true alpha is 0; 0 on such pixels.
std::vector<double> distanceToBackdrop(const std::vector<Pixel32>& truth, std::uint32_t width, std::uint32_t height) {
  constexpr double Far = 1e9;
  std::vector<double> distance(truth.size());
  for (std::size_t i = 0; i < truth.size(); ++i) distance[i] = alphaOf(truth[i]) == 0 ? 0 : Far;
  auto relax = [&](std::size_t i, std::int64_t x, std::int64_t y, double step) {
    if (x < 0 || y < 0 || x >= std::int64_t{width} || y >= std::int64_t{height}) return;
    const std::size_t neighbour = static_cast<std::size_t>(y) * width + static_cast<std::size_t>(x);
    distance[i] = std::min(distance[i], distance[neighbour] + step);
  };
  for (std::int64_t y = 0; y < height; ++y) {
    for (std::int64_t x = 0; x < width; ++x) {
      const auto i = static_cast<std::size_t>(y) * width + static_cast<std::size_t>(x);
      relax(i, x - 1, y, 1), relax(i, x, y - 1, 1), relax(i, x - 1, y - 1, 4.0 / 3), relax(i, x + 1, y - 1, 4.0 / 3);
    }
  }
  for (std::int64_t y = height - 1; y >= 0; --y) {
    for (std::int64_t x = width - 1; x >= 0; --x) {
      const auto i = static_cast<std::size_t>(y) * width + static_cast<std::size_t>(x);
      relax(i, x + 1, y, 1), relax(i, x, y + 1, 1), relax(i, x + 1, y + 1, 4.0 / 3), relax(i, x - 1, y + 1, 4.0 / 3);
    }
  }
  return distance;
}

// The true matte and straight colour, as 8-bit levels: what a perfect
// keyer's output would hold.
std::vector<Pixel32> truthOf(const Canvas& canvas) {
  std::vector<Pixel32> truth(std::size_t{canvas.width()} * canvas.height());
  for (std::size_t i = 0; i < truth.size(); ++i) {
    const Premultiplied& p = canvas.at(i);
    const std::uint8_t alpha = toLevel(p.alpha * 255);
    truth[i] = alpha == 0 ? 0 : toPixel({p.red / p.alpha, p.green / p.alpha, p.blue / p.alpha}, alpha);
  }
  return truth;
}

}  // namespace

std::vector<PlateRecipe> benchmarkPlates() {
  const Pixel32 green = makePixel(45, 170, 70), lime = makePixel(150, 172, 60), blue = makePixel(30, 65, 185);
  return {
      {"green", green, ScreenChannel::Green, 0, 101},     {"green-jpeg", green, ScreenChannel::Green, 75, 102},
      {"lime", lime, ScreenChannel::Green, 0, 201},       {"lime-jpeg", lime, ScreenChannel::Green, 75, 202},
      {"blue", blue, ScreenChannel::Blue, 0, 301},        {"blue-jpeg", blue, ScreenChannel::Blue, 75, 302},
  };
}

double backdropLight(double x, double y, std::uint32_t width, std::uint32_t height) {
  const double u = x / width, v = y / height;
  const double hotX = 0.4, hotY = 0.35;
  const double farthest = std::hypot(1 - hotX, 1 - hotY);
  const double falloff = 1 - 0.55 * std::hypot(u - hotX, v - hotY) / farthest;
  const double seam = 1 - 0.06 * std::exp(-std::pow((u - 0.72) / 0.04, 2));  // a fold in the cloth
  const double floorShadow = 1 - 0.35 * smoothstep(0.80, 0.93, v);
  return falloff * seam * floorShadow;
}

std::vector<Pixel32> foregroundTruth(std::uint32_t width, std::uint32_t height) {
  return truthOf(paintForeground(width, height));
}

Plate makePlate(const PlateRecipe& recipe, std::uint32_t width, std::uint32_t height, const PlateEffects& effects) {
  Plate plate;
  plate.width = width;
  plate.height = height;
  plate.truth = truthOf(paintForeground(width, height));
  shootPlate(recipe, effects, plate);
  return plate;
}

void shootPlate(const PlateRecipe& recipe, const PlateEffects& effects, Plate& plate) {
  const std::uint32_t width = plate.width, height = plate.height;
  const std::vector<double> fromBackdrop = distanceToBackdrop(plate.truth, width, height);
  const Rgb screen = rgbOf(recipe.backdrop);
  Random noise(recipe.noiseSeed);
  plate.composite.resize(plate.truth.size());
  double sum[3] = {};
  std::size_t backdropPixels = 0;
  for (std::uint32_t y = 0; y < height; ++y) {
    for (std::uint32_t x = 0; x < width; ++x) {
      const std::size_t i = std::size_t{y} * width + x;
      const double light = backdropLight(x + 0.5, y + 0.5, width, height);
      const Rgb backdrop{screen.red * light, screen.green * light, screen.blue * light};
      const double alpha = alphaOf(plate.truth[i]) / 255.0;
      const double spill = effects.spill * clamp01(1 - (fromBackdrop[i] - 1) / effects.spillReach);
      const Rgb spilled = mix(rgbOf(plate.truth[i]), backdrop, spill);
      Rgb seen = mix(backdrop, spilled, alpha);
      seen.red += effects.noiseSigma * noise.gaussian();
      seen.green += effects.noiseSigma * noise.gaussian();
      seen.blue += effects.noiseSigma * noise.gaussian();
      plate.composite[i] = toPixel(seen, 255);
      if (alpha == 0) {
        sum[0] += redOf(plate.composite[i]);
        sum[1] += greenOf(plate.composite[i]);
        sum[2] += blueOf(plate.composite[i]);
        ++backdropPixels;
      }
    }
  }
  const double count = double(std::max<std::size_t>(backdropPixels, 1));
  plate.backdropMean = toPixel({sum[0] / count, sum[1] / count, sum[2] / count});
  // Another exposure of the same set with nothing in it: noise of its own.
  Random cleanNoise(recipe.noiseSeed ^ 0x5eedc1ea9u);
  plate.cleanPlate.resize(plate.truth.size());
  for (std::uint32_t y = 0; y < height; ++y) {
    for (std::uint32_t x = 0; x < width; ++x) {
      const double light = backdropLight(x + 0.5, y + 0.5, width, height);
      Rgb seen{screen.red * light, screen.green * light, screen.blue * light};
      seen.red += effects.noiseSigma * cleanNoise.gaussian();
      seen.green += effects.noiseSigma * cleanNoise.gaussian();
      seen.blue += effects.noiseSigma * cleanNoise.gaussian();
      plate.cleanPlate[std::size_t{y} * width + x] = toPixel(seen, 255);
    }
  }
}

std::vector<Pixel32> skyGradient(std::uint32_t width, std::uint32_t height) {
  const Rgb top{105, 165, 225}, bottom{245, 248, 252};
  std::vector<Pixel32> sky(std::size_t{width} * height);
  for (std::uint32_t y = 0; y < height; ++y) {
    const Pixel32 colour = toPixel(mix(top, bottom, height > 1 ? double(y) / (height - 1) : 0), 255);
    std::fill_n(sky.begin() + static_cast<std::ptrdiff_t>(std::size_t{y} * width), width, colour);
  }
  return sky;
}

}  // namespace Kvl::Bench
